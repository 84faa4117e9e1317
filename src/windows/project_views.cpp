#include "windows/project_views.h"

#include "windows/artwork.h"
#include "crawl/saved_data_job.h"
#include "windows/crawl_status.h"
#include "windows/project_tree_model.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

namespace ormbrook {

// ---- CLinkView -------------------------------------------------------------

CLinkView::CLinkView(ProjectTreeModel& model, QWidget* parent) : QTreeView(parent), model_(model)
{
    setModel(&model_);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setAnimated(false);
    connect(this, &QTreeView::collapsed, &model_, &ProjectTreeModel::Collapsed);
    // A hidden view only remembers an expansion; the listing starts anyway.
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (model_.canFetchMore(index))
            model_.fetchMore(index);
    });
}

void CLinkView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    Q_EMIT contextMenuAt(event->globalPos());
}

void CLinkView::startDrag(Qt::DropActions)
{
    const QModelIndex index = currentIndex();
    QMimeData* data = model_.mimeData({index});
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(model_.data(index, Qt::DecorationRole).value<QIcon>().pixmap(16, 16));
    // The item moves only through the tree's own drop; nothing is removed here.
    drag->exec(Qt::MoveAction);
}

void CLinkView::dragMoveEvent(QDragMoveEvent* event)
{
    QTreeView::dragMoveEvent(event);
    // A drop anywhere on the tree is taken, so that one that may not happen
    // is answered with a beep rather than silence.
    if (model_.DraggedItem(event->mimeData()))
        event->accept();
}

void CLinkView::dropEvent(QDropEvent* event)
{
    ProjectItem* item = model_.DraggedItem(event->mimeData());
    if (!item) {
        event->ignore();
        return;
    }
    const QModelIndex target = indexAt(event->position().toPoint());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    if (!model_.dropMimeData(event->mimeData(), Qt::MoveAction, -1, 0, target))
        return;
}

// ---- CPageView -------------------------------------------------------------

void FileListModel::SetFiles(StoredFileList files)
{
    beginResetModel();
    files_ = std::move(files);
    shown_ = 0;
    endResetModel();
    if (files_)
        fetchMore({});
}

const StoredFile* FileListModel::FileAt(const QModelIndex& index) const
{
    if (!index.isValid() || !files_ || index.row() >= shown_)
        return nullptr;
    return &(*files_)[static_cast<size_t>(index.row())];
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    const StoredFile* file = FileAt(index);
    if (!file)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(file->url);
    case Qt::DecorationRole:
        return artwork::FileIcon(file->complete());
    case Qt::ToolTipRole:
        return QString::fromStdString(file->path);
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("URL");
    return {};
}

bool FileListModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && files_ && static_cast<size_t>(shown_) < files_->size();
}

void FileListModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const int last = static_cast<int>(std::min(files_->size(), static_cast<size_t>(shown_ + kFetchBatch)));
    beginInsertRows({}, shown_, last - 1);
    shown_ = last;
    endInsertRows();
}

CPageView::CPageView(QWidget* parent) : QTreeView(parent), model_(this)
{
    setModel(&model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    // The tiled background shows through the rows.
    QPalette p = palette();
    p.setBrush(QPalette::Base, QBrush(artwork::ListBackgroundTile()));
    setPalette(p);
    viewport()->setAutoFillBackground(true);
    connect(&model_, &QAbstractItemModel::rowsInserted, this, &CPageView::FitColumn);
    connect(&model_, &QAbstractItemModel::modelReset, this, &CPageView::FitColumn);
}

void CPageView::ShowFiles(StoredFileList files)
{
    if (files == model_.files())
        return;
    // The file the user picked stays picked when the list is listed again.
    const StoredFile* current = model_.FileAt(currentIndex());
    const std::string picked = current ? current->url : std::string();
    model_.SetFiles(std::move(files));
    FitColumn();
    if (picked.empty())
        return;
    for (int r = 0; r < model_.rowCount(); ++r)
        if (const StoredFile* file = model_.FileAt(model_.index(r, 0)); file && file->url == picked) {
            setCurrentIndex(model_.index(r, 0));
            break;
        }
}

void CPageView::FitColumn()
{
    // As wide as the view, or as the widest entry shown.
    const int content = model_.rowCount() > 0 ? sizeHintForColumn(0) : 0;
    setColumnWidth(0, std::max(viewport()->width(), content));
}

void CPageView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    FitColumn();
}

void CPageView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    Q_EMIT contextMenuAt(event->globalPos());
}

// ---- CDLStatView -----------------------------------------------------------

namespace {

const char* const kColumnTitles[] = {"URL", "サイズ", "バイト", "%", "進捗"};

QString Text(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace

QString CDLStatView::ItemRowText(const StatusViewModel& model, bool crawling)
{
    if (!model.stopReason().empty())
        return Text(model.stopReason());
    const std::vector<std::string>& notes = model.notes();
    if (notes.empty() || (crawling && !model.row(model.itemRow()).url.empty()))
        return Text(model.row(model.itemRow()).url);
    QString text = Text(notes.back());
    if (notes.size() > 1)
        text += QStringLiteral(" (+%1)").arg(notes.size() - 1);
    return text;
}

std::array<CDLStatView::CounterCell, 8> CDLStatView::CounterCells(const StatusViewModel& model, int savedDataJob)
{
    const StatusCounters& n = model.counters();
    auto cell = [](const char* label, const QString& value) { return CounterCell{QString::fromUtf8(label), value}; };
    // A saved-data job counts what it found to deal with (URLs, or the
    // directories of a folder), and counts each once when it looks at it and
    // once when it has dealt with it, the second pass after the first.
    if (savedDataJob >= 0) {
        const char* done = savedDataJob == SavedDataDelete ? "削除" : savedDataJob == SavedDataCopy ? "コピー" : "移動";
        return {cell("対象", QString::number(n.detected)),
                cell(done, QString::number(std::max(0, n.visited - n.detected))),
                cell("失敗", QString::number(n.failed)), CounterCell{}, CounterCell{}, CounterCell{}, CounterCell{},
                CounterCell{}};
    }
    return {cell("検出", QString::number(n.detected)),
            cell("リトライ", QString::number(n.retries)),
            cell("取得", QString::number(n.visited)),
            cell("失敗", QString::number(n.failed)),
            cell("HTML", QString::number(n.htmlDetected)),
            cell("書換え", QString::number(n.htmlModified)),
            cell("リンク変換", QString::number(n.localizePercent) + QStringLiteral(" %")),
            CounterCell{}};
}

CDLStatView::CDLStatView(const CrawlStatus& status, QWidget* parent) : QWidget(parent), status_(status)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    FitRows();
    connect(&status_, &CrawlStatus::changed, this, [this] {
        FitRows();
        update();
        // Every start URL the crawl could not take, where the item row has
        // room for one.
        QStringList notes;
        for (const std::string& note : status_.model().notes())
            notes << QString::fromStdString(note);
        setToolTip(notes.join(QLatin1Char('\n')));
    });
    connect(&status_, &CrawlStatus::crawlingChanged, this, qOverload<>(&QWidget::update));
}

int CDLStatView::ContentHeight() const
{
    // As paintEvent lays it out: margin, the title row, the rows, the two
    // lines of counters.
    const int rowH = fontMetrics().height() + 8;
    return 6 + rowH * (status_.model().rows() + 1) + 4 + 2 * (rowH - 4) + 6;
}

void CDLStatView::FitRows()
{
    // Five slots fit the 240 pixels the window keeps for the view; more
    // make it taller, and the scroll area around it scrolls.
    const int rows = status_.model().rows();
    if (rows == fittedRows_)
        return;
    fittedRows_ = rows;
    setMinimumHeight(rows > StatusViewModel::kDefaultSlots + 1 ? ContentHeight() : 60);
    updateGeometry();
}

QSize CDLStatView::sizeHint() const
{
    return {600, 240};
}

QSize CDLStatView::minimumSizeHint() const
{
    return {200, 60};
}

void CDLStatView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.window());
    const QFontMetrics fm = fontMetrics();
    const int rowH = fm.height() + 8;
    const int margin = 6;
    const int w = width() - 2 * margin;

    // Fixed columns at the right; the URL takes what is left.
    const int numW = std::max(fm.horizontalAdvance(QStringLiteral("Contacting")),
                              fm.horizontalAdvance(QStringLiteral("00000000"))) + 12;
    const int pctW = fm.horizontalAdvance(QStringLiteral("Unknown")) + 12;
    const int barW = std::clamp(w / 6, 60, 160);
    const int urlW = std::max(80, w - 2 * numW - pctW - barW);
    const int xs[] = {margin, margin + urlW, margin + urlW + numW, margin + urlW + 2 * numW,
                      margin + urlW + 2 * numW + pctW, margin + urlW + 2 * numW + pctW + barW};

    const StatusViewModel& model = status_.model();
    int y = margin;
    QRect table(margin, y, xs[5] - margin, rowH * (model.rows() + 1));
    p.fillRect(table, pal.base());
    p.fillRect(QRect(margin, y, table.width(), rowH), pal.button());
    p.setPen(pal.color(QPalette::ButtonText));
    for (int c = 0; c < 5; ++c)
        p.drawText(QRect(xs[c] + 4, y, xs[c + 1] - xs[c] - 8, rowH),
                   Qt::AlignVCenter | (c == 0 ? Qt::AlignLeft : Qt::AlignRight), QString::fromUtf8(kColumnTitles[c]));
    y += rowH;

    const QColor grid = pal.color(QPalette::Mid);
    for (int r = 0; r < model.rows(); ++r) {
        const StatusRow& row = model.row(r);
        const QRect rr(margin, y, table.width(), rowH);
        if (r == model.itemRow())
            p.fillRect(rr, pal.alternateBase());
        p.setPen(pal.color(QPalette::Text));
        // Under the slots, the URL at hand; after a crawl stopped by a full
        // disk, why it stopped; once the crawl is over, the start URLs it
        // could not take.
        const int urlWidth = r < model.slotRows() ? xs[1] - xs[0] - 8 : table.width() - 8;
        QString text = Text(row.url);
        if (r == model.itemRow())
            text = ItemRowText(model, status_.crawling());
        const QString url = fm.elidedText(text, Qt::ElideMiddle, urlWidth);
        p.drawText(QRect(xs[0] + 4, y, urlWidth, rowH), Qt::AlignVCenter | Qt::AlignLeft, url);
        if (r < model.slotRows()) {
            p.drawText(QRect(xs[1], y, xs[2] - xs[1] - 4, rowH), Qt::AlignVCenter | Qt::AlignRight, Text(row.size));
            p.drawText(QRect(xs[2], y, xs[3] - xs[2] - 4, rowH), Qt::AlignVCenter | Qt::AlignRight,
                       fm.elidedText(Text(row.bytes), Qt::ElideRight, xs[2] - xs[1] - 8));
            p.drawText(QRect(xs[3], y, xs[4] - xs[3] - 4, rowH), Qt::AlignVCenter | Qt::AlignRight,
                       Text(row.percent));
            const QRect bar(xs[4] + 4, y + 4, xs[5] - xs[4] - 8, rowH - 8);
            p.fillRect(bar, pal.color(QPalette::Window));
            if (row.bar > 0) {
                QRect fill = bar;
                fill.setWidth(bar.width() * row.bar / 100);
                const QColor done = row.bytes != "Complete" ? QColor(0xd6, 0x3b, 0x2f) : QColor(0x3d, 0xa3, 0x4e);
                p.fillRect(fill, row.bar >= 100 ? done : QColor(0x2f, 0x80, 0xc8));
            }
            p.setPen(grid);
            p.drawRect(bar.adjusted(0, 0, -1, -1));
        }
        p.setPen(grid);
        p.drawLine(margin, y + rowH - 1, margin + table.width() - 1, y + rowH - 1);
        y += rowH;
    }
    p.setPen(grid);
    p.setBrush(Qt::NoBrush);
    p.drawRect(table.adjusted(0, 0, -1, -1));
    for (int c = 1; c < 5; ++c)
        p.drawLine(xs[c], table.top(), xs[c], table.top() + rowH * (model.slotRows() + 1) - 1);

    // The counters, two lines of four cells under the table. Each number is
    // drawn on its own: shaped together with the Japanese label, a digit
    // may be taken from another face.
    const std::array<CounterCell, 8> all = CounterCells(model, status_.countedJob());
    const CounterCell* cells[2] = {&all[0], &all[4]};
    const int cellW = std::max(120, std::min(200, w / 5));
    y += 4;
    p.setPen(pal.color(QPalette::WindowText));
    const int lastCellX = margin + 2 + 3 * cellW;
    for (const CounterCell* line : cells) {
        int x = margin + 2;
        for (int c = 0; c < 4; ++c) {
            const auto& [text, value] = line[c];
            if (!text.isEmpty()) {
                p.drawText(QRect(x, y, cellW, rowH), Qt::AlignVCenter | Qt::AlignLeft, text);
                const int valueX = x + fm.horizontalAdvance(text) + 8;
                p.drawText(QRect(valueX, y, cellW - (valueX - x), rowH), Qt::AlignVCenter | Qt::AlignLeft, value);
            }
            x += cellW;
        }
        y += rowH - 4;
    }
    if (status_.crawling()) {
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(QColor(0x2f, 0x80, 0xc8));
        // In the empty fourth cell of the second line, clear of every number.
        p.drawText(QRect(lastCellX, y - (rowH - 4), cellW, rowH), Qt::AlignVCenter | Qt::AlignLeft,
                   QStringLiteral("巡回中"));
    }
}

} // namespace ormbrook
