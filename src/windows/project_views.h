#pragma once
// The three views of a project window: the project tree (CLinkView), the
// list of a URL item's stored files (CPageView) and the crawl's status
// (CDLStatView). They draw and forward input; what a command does is the
// project window's and the plain classes'.

#include "windows/stored_files.h"

#include <array>
#include <utility>

#include <QAbstractListModel>
#include <QTreeView>
#include <QWidget>

namespace ormbrook {

class CrawlStatus;
class StatusViewModel;
class ProjectTreeModel;
class ProjectItem;

class CLinkView : public QTreeView {
    Q_OBJECT
public:
    CLinkView(ProjectTreeModel& model, QWidget* parent = nullptr);
    ProjectTreeModel& treeModel() const { return model_; }

Q_SIGNALS:
    void contextMenuAt(const QPoint& globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    ProjectTreeModel& model_;
};

// The file list's rows: a record's stored files, handed to the view in
// batches as it scrolls.
class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kFetchBatch = 1000;
    using QAbstractListModel::QAbstractListModel;

    void SetFiles(StoredFileList files);
    const StoredFile* FileAt(const QModelIndex& index) const;
    const StoredFileList& files() const { return files_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    StoredFileList files_;
    int shown_ = 0;
};

class CPageView : public QTreeView {
    Q_OBJECT
public:
    explicit CPageView(QWidget* parent = nullptr);
    FileListModel& listModel() { return model_; }
    // Hint 2: the whole list is replaced.
    void ShowFiles(StoredFileList files);

Q_SIGNALS:
    void contextMenuAt(const QPoint& globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitColumn();
    FileListModel model_;
};

class CDLStatView : public QWidget {
    Q_OBJECT
public:
    CDLStatView(const CrawlStatus& status, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // What the row under the slots says: the URL at hand, why the crawl
    // stopped, or the start URLs it could not take (the last one, and how
    // many more the tool tip lists).
    static QString ItemRowText(const StatusViewModel& model, bool crawling);
    // The counters' two lines of four cells (label, number; empty cells
    // have no label): a crawl's, or a saved-data job's (SavedDataKind).
    using CounterCell = std::pair<QString, QString>;
    static std::array<CounterCell, 8> CounterCells(const StatusViewModel& model, int savedDataJob);

    // The height the rows and the counters take.
    int ContentHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FitRows();

    const CrawlStatus& status_;
    int fittedRows_ = 0;
};

} // namespace ormbrook
