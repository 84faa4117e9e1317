#pragma once
// The project tree as an item model: the project's items, and under an
// expanded URL item the files the mirror holds for it. Those are listed on
// a worker thread when the item is expanded and handed to the view in
// batches as it scrolls (canFetchMore/fetchMore), so an item with tens of
// thousands of files opens at once; collapsing the item lets them go.

#include "windows/artwork.h"
#include "windows/commands.h"
#include "windows/stored_files.h"

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <unordered_map>

namespace ormbrook {

class ProjectItem;
class ProjectSession;

class ProjectTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr int kFetchBatch = 500;
    static constexpr const char* kMimeType = "application/x-ormbrook-item";

    // marks answers the overlay marks of an item (timers and slide show are
    // the program's lists, not the project's).
    ProjectTreeModel(ProjectSession& session, std::function<unsigned(const ProjectItem&)> marks,
                     QObject* parent = nullptr);
    ~ProjectTreeModel() override;

    // Builds every row afresh from the project (after a move, a load, or
    // when the lists behind the marks changed).
    void Rebuild();
    // While the project crawls the tree takes no edits or drops.
    void SetEditable(bool editable);

    QModelIndex IndexOf(const ProjectItem* item) const;
    ProjectItem* ItemAt(const QModelIndex& index) const;
    // The URL item an index stands for: the item itself, or the record whose
    // file the index shows.
    ProjectItem* RecordAt(const QModelIndex& index) const;
    NodeKind KindAt(const QModelIndex& index) const;
    // The stored file an index shows, or nothing.
    const StoredFile* FileAt(const QModelIndex& index) const;

    // Edits made by the commands, told to the views.
    void ItemAdded(ProjectItem* item);
    void RemoveItem(ProjectItem* item);
    void ItemChanged(const ProjectItem* item);
    void RootTitleChanged();

    // The record's files when they are listed already; else nothing, and a
    // listing starts that ends in filesListed.
    StoredFileList FilesOf(ProjectItem* record);
    // The view collapsed an item: a record's file rows go.
    void Collapsed(const QModelIndex& index);
    // The mirror changed under the listed records (a crawl stored files, a
    // saved-data job moved them): each is listed again and its rows, when
    // they differ, replaced as the new listing comes (filesReplacing first).
    void RefreshFiles();
    // Files listed and not yet shown under the record (for the benchmark and
    // the tests).
    bool Listing(const ProjectItem* record) const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // The item a drag carries, when it is one of this model's.
    ProjectItem* DraggedItem(const QMimeData* data) const;

Q_SIGNALS:
    void filesListed(ProjectItem* record);
    // The record's file rows are about to be replaced by a fresh listing.
    void filesReplacing(ProjectItem* record);
    void itemRenamed(ProjectItem* item);
    // A valid drop: the view asks what to do with the item's files.
    void dropRequested(ProjectItem* item, ProjectItem* target);
    // A drop that may not happen (the view beeps).
    void dropRefused();

private:
    struct Node;
    struct ListingSink;
    Node* NodeAt(const QModelIndex& index) const;
    QModelIndex IndexOfNode(const Node* node) const;
    void BuildChildren(Node& node);
    void StartListing(Node& record);
    void ListingDone(ProjectItem* record, uint64_t generation, StoredFileList files);
    bool Contains(const ProjectItem* item) const;

    ProjectSession& session_;
    std::function<unsigned(const ProjectItem&)> marks_;
    std::unique_ptr<Node> root_;
    std::unordered_map<const ProjectItem*, Node*> nodes_;
    // Listings are kept while their record is expanded or selected.
    std::unordered_map<const ProjectItem*, StoredFileList> listed_;
    std::shared_ptr<ListingSink> listing_;
    uint64_t generation_ = 0;
    bool editable_ = true;
};

} // namespace ormbrook
