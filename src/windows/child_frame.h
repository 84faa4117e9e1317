#pragma once
// CChildFrame: the window of one open project. A splitter of two rows - the
// tree and the file list side by side above, the status view below - and
// the commands that act on the project.

#include "windows/commands.h"
#include "windows/desktop_context.h"
#include "windows/window_layout.h"

#include <QBasicTimer>
#include <QPointer>
#include <QWidget>

#include <memory>

class QSplitter;

namespace ormbrook {

class CDLStatView;
class CLinkView;
class CPageView;
class CrawlStatus;
class FailedUrlsDialog;
class ProjectItem;
class ProjectSession;
class ProjectTreeModel;
struct TimerEntry;

class CChildFrame : public QWidget {
    Q_OBJECT
public:
    // Takes the opened (or new) project.
    CChildFrame(DesktopContext& context, std::unique_ptr<ProjectSession> session, QWidget* parent = nullptr);
    ~CChildFrame() override;
    // "失敗した URL", while it is open.
    FailedUrlsDialog* failedUrlsDialog() const;

    ProjectSession& session() { return *session_; }
    CrawlStatus& status() { return *status_; }
    ProjectTreeModel& treeModel() { return *model_; }
    CLinkView& linkView() { return *linkView_; }
    CPageView& pageView() { return *pageView_; }
    CDLStatView& statView() { return *statView_; }
    QSplitter& rows() { return *rows_; }
    QSplitter& columns() { return *columns_; }

    bool crawling() const;
    NodeKind selectedKind() const;
    ProjectItem* selectedItem() const;
    void SelectItem(const ProjectItem* item);

    // The commands of the active project window; false when the command is
    // not this window's or may not run now.
    bool RunCommand(CommandId id);
    // A due timer of this project (dropped while it crawls).
    bool TimerCrawl(const TimerEntry& entry);
    // Saves when modified and asked to; false when the user cancelled.
    bool QuerySave();
    // The question of the program's exit, asked of every project before any
    // closes: true when this one may close, and its close then asks nothing.
    bool AskBeforeClose();
    void ForgetCloseAnswer() { saveAnswered_ = false; }
    // Saves to the project's file, or asks for one; false on cancel or failure.
    bool Save(bool askName);
    // The lists behind the tree's marks changed (hint 1).
    void Refresh();
    void UpdateTitle();

Q_SIGNALS:
    // The selection or the crawl moved: the commands' enabling changes.
    void commandStateChanged();
    // A prompt for the status bar (a row of the status view).
    void modifiedChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void SelectionChanged();
    void ShowFilesOf(ProjectItem* record);
    void MarkModified();
    void AddItem(bool folder, std::optional<std::string> text = std::nullopt);
    void DeleteItem();
    void SavedData(int kind);
    void ShowSelectedInBrowser();
    void ShowFileInBrowser();
    void OpenInBrowser(const std::string& path);
    void DropItem(ProjectItem* item, ProjectItem* target);
    void MoveItemNow(ProjectItem* item, ProjectItem* target);
    void ItemProperties();
    void ShowFailedUrls();
    void TreeMenu(const QPoint& globalPos);
    void PageMenu(const QPoint& globalPos);
    void ApplySplit(const SplitSizes& sizes);
    SplitSizes CurrentSplit() const;
    unsigned MarksOf(const ProjectItem& item) const;
    void Tell(const QString& text, QMessageBox::Icon icon = QMessageBox::Warning);
    bool RefusedWhileCrawling();

    DesktopContext& context_;
    std::unique_ptr<ProjectSession> session_;
    std::unique_ptr<CrawlStatus> status_;
    std::unique_ptr<ProjectTreeModel> model_;
    QSplitter* rows_ = nullptr;
    QSplitter* columns_ = nullptr;
    CLinkView* linkView_ = nullptr;
    CPageView* pageView_ = nullptr;
    CDLStatView* statView_ = nullptr;
    bool splitDone_ = false;
    bool saveAnswered_ = false;
    static constexpr int kFilesRefreshMs = 1000;
    QBasicTimer filesRefresh_;
    QPointer<FailedUrlsDialog> failedUrls_;
    std::string countersAtRefresh_;
    struct Reselect {
        ProjectItem* record = nullptr;
        std::string url;
    } reselect_;
    ProjectItem* shownRecord_ = nullptr;
};

// The texts of the project window's refusals.
extern const char kCloseRefusedWhileCrawling[];
extern const char kEditRefusedWhileCrawling[];

} // namespace ormbrook
