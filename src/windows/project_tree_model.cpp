#include "windows/project_tree_model.h"

#include "crawl/project_item.h"
#include "windows/project_session.h"
#include "windows/tree_edits.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <QMutex>
#include <QThreadPool>

namespace ormbrook {

namespace {

bool SameFiles(const StoredFileList& a, const StoredFileList& b)
{
    if (a == b)
        return true;
    if (!a || !b || a->size() != b->size())
        return false;
    for (size_t i = 0; i < a->size(); ++i)
        if ((*a)[i].url != (*b)[i].url || (*a)[i].path != (*b)[i].path)
            return false;
    return true;
}

} // namespace

struct ProjectTreeModel::Node {
    enum Type { ItemNode, FileNode };
    Type type = ItemNode;
    ProjectItem* item = nullptr; // the item; for a file row, its record
    Node* parent = nullptr;
    int row = 0;
    std::vector<std::unique_ptr<Node>> children; // child items, or a record's file rows shown so far
    // A record's files while it is expanded.
    StoredFileList files;
    bool wantFiles = false;
    uint64_t generation = 0;
    size_t fileIndex = 0;
};

// What a listing on a worker thread reports back to. The model clears it
// when it goes; the worker posts only while holding the lock, so it never
// posts to a model that is being destroyed.
struct ProjectTreeModel::ListingSink {
    QMutex lock;
    ProjectTreeModel* model = nullptr;
};

ProjectTreeModel::ProjectTreeModel(ProjectSession& session, std::function<unsigned(const ProjectItem&)> marks,
                                   QObject* parent)
    : QAbstractItemModel(parent), session_(session), marks_(std::move(marks)), listing_(std::make_shared<ListingSink>())
{
    listing_->model = this;
    Rebuild();
}

ProjectTreeModel::~ProjectTreeModel()
{
    QMutexLocker lock(&listing_->lock);
    listing_->model = nullptr;
}

void ProjectTreeModel::Rebuild()
{
    beginResetModel();
    ++generation_;
    nodes_.clear();
    listed_.clear();
    root_ = std::make_unique<Node>();
    auto top = std::make_unique<Node>();
    top->item = &session_.document().Write().root();
    top->parent = root_.get();
    nodes_[top->item] = top.get();
    BuildChildren(*top);
    root_->children.push_back(std::move(top));
    endResetModel();
}

void ProjectTreeModel::BuildChildren(Node& node)
{
    node.children.clear();
    if (node.item->kind == ItemRecord)
        return;
    int row = 0;
    for (ProjectItem* child = node.item->firstChild; child; child = child->next) {
        auto n = std::make_unique<Node>();
        n->item = child;
        n->parent = &node;
        n->row = row++;
        nodes_[child] = n.get();
        BuildChildren(*n);
        node.children.push_back(std::move(n));
    }
}

void ProjectTreeModel::SetEditable(bool editable)
{
    if (editable_ == editable)
        return;
    editable_ = editable;
    if (!root_->children.empty())
        Q_EMIT dataChanged(IndexOfNode(root_->children.front().get()), IndexOfNode(root_->children.front().get()));
    Q_EMIT layoutChanged();
}

ProjectTreeModel::Node* ProjectTreeModel::NodeAt(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex ProjectTreeModel::IndexOfNode(const Node* node) const
{
    if (!node || node == root_.get())
        return {};
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

QModelIndex ProjectTreeModel::IndexOf(const ProjectItem* item) const
{
    auto it = nodes_.find(item);
    return it == nodes_.end() ? QModelIndex() : IndexOfNode(it->second);
}

bool ProjectTreeModel::Contains(const ProjectItem* item) const
{
    return nodes_.count(item) != 0;
}

ProjectItem* ProjectTreeModel::ItemAt(const QModelIndex& index) const
{
    Node* node = index.isValid() ? NodeAt(index) : nullptr;
    return node && node->type == Node::ItemNode ? node->item : nullptr;
}

ProjectItem* ProjectTreeModel::RecordAt(const QModelIndex& index) const
{
    Node* node = index.isValid() ? NodeAt(index) : nullptr;
    if (!node || node->item->kind != ItemRecord)
        return nullptr;
    return node->item;
}

NodeKind ProjectTreeModel::KindAt(const QModelIndex& index) const
{
    Node* node = index.isValid() ? NodeAt(index) : nullptr;
    if (!node)
        return NodeKind::None;
    if (node->type == Node::FileNode)
        return NodeKind::File;
    switch (node->item->kind) {
    case ItemRecord:
        return NodeKind::Record;
    case ItemFolder:
        return NodeKind::Folder;
    case ItemRoot:
        return NodeKind::Root;
    }
    return NodeKind::None;
}

const StoredFile* ProjectTreeModel::FileAt(const QModelIndex& index) const
{
    Node* node = index.isValid() ? NodeAt(index) : nullptr;
    if (!node || node->type != Node::FileNode || !node->parent->files)
        return nullptr;
    return &(*node->parent->files)[node->fileIndex];
}

void ProjectTreeModel::ItemAdded(ProjectItem* item)
{
    auto it = nodes_.find(item->parent);
    if (it == nodes_.end())
        return Rebuild();
    Node* parent = it->second;
    const int row = static_cast<int>(parent->children.size());
    beginInsertRows(IndexOfNode(parent), row, row);
    auto n = std::make_unique<Node>();
    n->item = item;
    n->parent = parent;
    n->row = row;
    nodes_[item] = n.get();
    BuildChildren(*n);
    parent->children.push_back(std::move(n));
    endInsertRows();
}

void ProjectTreeModel::RemoveItem(ProjectItem* item)
{
    auto it = nodes_.find(item);
    if (it == nodes_.end() || !it->second->parent || it->second->parent == root_.get())
        return;
    Node* node = it->second;
    Node* parent = node->parent;
    beginRemoveRows(IndexOfNode(parent), node->row, node->row);
    // Forget every node below, then the node itself.
    std::vector<Node*> stack{node};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->type == Node::ItemNode) {
            nodes_.erase(n->item);
            listed_.erase(n->item);
        }
        for (auto& c : n->children)
            if (c->type == Node::ItemNode)
                stack.push_back(c.get());
    }
    parent->children.erase(parent->children.begin() + node->row);
    for (size_t i = 0; i < parent->children.size(); ++i)
        parent->children[i]->row = static_cast<int>(i);
    endRemoveRows();
}

void ProjectTreeModel::ItemChanged(const ProjectItem* item)
{
    const QModelIndex index = IndexOf(item);
    if (index.isValid())
        Q_EMIT dataChanged(index, index);
}

void ProjectTreeModel::RootTitleChanged()
{
    if (!root_->children.empty())
        ItemChanged(root_->children.front()->item);
}

StoredFileList ProjectTreeModel::FilesOf(ProjectItem* record)
{
    auto it = listed_.find(record);
    if (it != listed_.end())
        return it->second;
    auto node = nodes_.find(record);
    if (node != nodes_.end())
        StartListing(*node->second);
    return nullptr;
}

bool ProjectTreeModel::Listing(const ProjectItem* record) const
{
    auto it = nodes_.find(record);
    if (it == nodes_.end())
        return false;
    const Node* node = it->second;
    return node->wantFiles && (!node->files || node->children.size() < node->files->size());
}

void ProjectTreeModel::StartListing(Node& record)
{
    record.generation = ++generation_;
    std::optional<StoredFilesPlace> place =
        StoredFilesPlaceOf(session_.Mirror(), *record.item, session_.settings());
    if (!place) {
        ListingDone(record.item, record.generation, std::make_shared<std::vector<StoredFile>>());
        return;
    }
    std::shared_ptr<ProjectTreeModel::ListingSink> sink = listing_;
    ProjectItem* item = record.item;
    const uint64_t generation = record.generation;
    QThreadPool::globalInstance()->start([sink, item, generation, place = *place] {
        StoredFileList files = std::make_shared<const std::vector<StoredFile>>(ListStoredFiles(place));
        QMutexLocker lock(&sink->lock);
        if (ProjectTreeModel* model = sink->model)
            QMetaObject::invokeMethod(
                model, [model, item, generation, files] { model->ListingDone(item, generation, files); },
                Qt::QueuedConnection);
    });
}

void ProjectTreeModel::ListingDone(ProjectItem* record, uint64_t generation, StoredFileList files)
{
    auto it = nodes_.find(record);
    if (it == nodes_.end() || it->second->generation != generation)
        return; // collapsed, removed or rebuilt meanwhile
    Node* node = it->second;
    auto before = listed_.find(record);
    if (before != listed_.end() && SameFiles(before->second, files))
        return; // a refresh that found the mirror as it was
    listed_[record] = files;
    const QModelIndex index = IndexOfNode(node);
    if (node->wantFiles && node->files) {
        // A refresh: the rows shown go, the new ones come in batches again.
        Q_EMIT filesReplacing(record);
        if (!node->children.empty()) {
            beginRemoveRows(index, 0, static_cast<int>(node->children.size()) - 1);
            node->children.clear();
            endRemoveRows();
        }
        node->files.reset();
    }
    if (node->wantFiles) {
        node->files = files;
        // The expand button follows: nothing below, or something now.
        Q_EMIT dataChanged(index, index);
        if (!files->empty())
            fetchMore(index);
    }
    Q_EMIT filesListed(record);
}

void ProjectTreeModel::RefreshFiles()
{
    std::vector<Node*> records;
    for (const auto& [item, node] : nodes_)
        if (item->kind == ItemRecord && (node->wantFiles || listed_.count(item)))
            records.push_back(node);
    for (Node* record : records)
        StartListing(*record);
}

void ProjectTreeModel::Collapsed(const QModelIndex& index)
{
    Node* node = NodeAt(index);
    if (!index.isValid() || node->type != Node::ItemNode || node->item->kind != ItemRecord)
        return;
    if (!node->children.empty()) {
        beginRemoveRows(index, 0, static_cast<int>(node->children.size()) - 1);
        node->children.clear();
        endRemoveRows();
    }
    node->files.reset();
    node->wantFiles = false;
    node->generation = ++generation_;
    listed_.erase(node->item);
}

QModelIndex ProjectTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    Node* node = NodeAt(parent);
    if (column != 0 || row < 0 || static_cast<size_t>(row) >= node->children.size())
        return {};
    return createIndex(row, 0, node->children[static_cast<size_t>(row)].get());
}

QModelIndex ProjectTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    return IndexOfNode(NodeAt(child)->parent);
}

int ProjectTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(NodeAt(parent)->children.size());
}

int ProjectTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool ProjectTreeModel::hasChildren(const QModelIndex& parent) const
{
    Node* node = NodeAt(parent);
    if (node->type == Node::FileNode)
        return false;
    if (parent.isValid() && node->item->kind == ItemRecord)
        return !node->files || !node->files->empty();
    return !node->children.empty();
}

QVariant ProjectTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    Node* node = NodeAt(index);
    if (node->type == Node::FileNode) {
        const StoredFile& file = (*node->parent->files)[node->fileIndex];
        switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(file.url);
        case Qt::DecorationRole:
            return artwork::TreeItemIcon(TreeIcon::File, MarkNone);
        case Qt::ToolTipRole:
            return QString::fromStdString(file.path);
        default:
            return {};
        }
    }
    const ProjectItem& item = *node->item;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromStdString(item.kind == ItemRecord ? item.url : item.title);
    case Qt::DecorationRole: {
        const TreeIcon icon = item.kind == ItemRoot     ? TreeIcon::Root
                              : item.kind == ItemFolder ? TreeIcon::Folder
                                                        : TreeIcon::Record;
        return artwork::TreeItemIcon(icon, marks_ ? marks_(item) : MarkNone);
    }
    case Qt::ToolTipRole:
        // A crawl writes record titles on its own thread; they are read
        // once it is over.
        if (item.kind == ItemRecord && editable_ && !item.title.empty())
            return QString::fromStdString(item.title);
        return {};
    default:
        return {};
    }
}

bool ProjectTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    ProjectItem* item = ItemAt(index);
    if (role != Qt::EditRole || !item || !editable_)
        return false;
    if (!RenameItem(*item, value.toString().toStdString()))
        return false;
    Q_EMIT dataChanged(index, index);
    Q_EMIT itemRenamed(item);
    return true;
}

Qt::ItemFlags ProjectTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    Node* node = NodeAt(index);
    if (node->type == Node::FileNode || !editable_)
        return f;
    if (node->item->kind != ItemRoot)
        f |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    if (node->item->kind != ItemRecord)
        f |= Qt::ItemIsDropEnabled;
    return f;
}

bool ProjectTreeModel::canFetchMore(const QModelIndex& parent) const
{
    Node* node = NodeAt(parent);
    if (!parent.isValid() || node->type != Node::ItemNode || node->item->kind != ItemRecord)
        return false;
    if (!node->wantFiles)
        return true;
    return node->files && node->children.size() < node->files->size();
}

void ProjectTreeModel::fetchMore(const QModelIndex& parent)
{
    Node* node = NodeAt(parent);
    if (!parent.isValid() || node->type != Node::ItemNode || node->item->kind != ItemRecord)
        return;
    if (!node->wantFiles) {
        node->wantFiles = true;
        auto it = listed_.find(node->item);
        if (it == listed_.end()) {
            StartListing(*node);
            return;
        }
        node->files = it->second;
        node->generation = ++generation_;
    }
    if (!node->files)
        return;
    const size_t first = node->children.size();
    const size_t last = std::min(node->files->size(), first + kFetchBatch);
    if (last <= first)
        return;
    beginInsertRows(parent, static_cast<int>(first), static_cast<int>(last) - 1);
    node->children.reserve(node->files->size());
    for (size_t i = first; i < last; ++i) {
        auto n = std::make_unique<Node>();
        n->type = Node::FileNode;
        n->item = node->item;
        n->parent = node;
        n->row = static_cast<int>(i);
        n->fileIndex = i;
        node->children.push_back(std::move(n));
    }
    endInsertRows();
}

QStringList ProjectTreeModel::mimeTypes() const
{
    return {QString::fromLatin1(kMimeType)};
}

QMimeData* ProjectTreeModel::mimeData(const QModelIndexList& indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    ProjectItem* item = ItemAt(indexes.front());
    if (!item || item->kind == ItemRoot)
        return nullptr;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint64>(QCoreApplication::applicationPid()) << reinterpret_cast<quintptr>(this)
        << reinterpret_cast<quintptr>(item);
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kMimeType), bytes);
    return data;
}

ProjectItem* ProjectTreeModel::DraggedItem(const QMimeData* data) const
{
    if (!data || !data->hasFormat(QString::fromLatin1(kMimeType)))
        return nullptr;
    QDataStream in(data->data(QString::fromLatin1(kMimeType)));
    qint64 pid = 0;
    quintptr model = 0, item = 0;
    in >> pid >> model >> item;
    // Only an item of this very tree: the pointer is checked against the
    // items the model knows before it is used.
    if (in.status() != QDataStream::Ok || pid != QCoreApplication::applicationPid()
        || model != reinterpret_cast<quintptr>(this))
        return nullptr;
    auto* candidate = reinterpret_cast<const ProjectItem*>(item);
    auto it = nodes_.find(candidate);
    return it == nodes_.end() ? nullptr : it->second->item;
}

bool ProjectTreeModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                       const QModelIndex& parent) const
{
    ProjectItem* item = DraggedItem(data);
    ProjectItem* target = ItemAt(parent);
    return editable_ && item && target && CanDrop(*item, *target);
}

bool ProjectTreeModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                    const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent)) {
        Q_EMIT dropRefused();
        return false;
    }
    Q_EMIT dropRequested(DraggedItem(data), ItemAt(parent));
    // The move happens once the user has chosen what becomes of the files.
    return false;
}

} // namespace ormbrook
