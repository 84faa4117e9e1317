// The project window and the main window on the offscreen platform: drops,
// deletion with its schedules, the close refusals while a project crawls,
// the frames of other programs, the first show, and the tree's lazy file
// rows.

#include "window_fixture.h"

#include "common/messages.h"
#include "crawl/download_manager.h"
#include "crawl/project_item.h"
#include "platform/program_channel.h"
#include "windows/child_frame.h"
#include "windows/crawl_status.h"
#include "windows/main_frame.h"
#include "windows/project_session.h"
#include "windows/project_tree_model.h"
#include "windows/project_views.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <QMdiArea>
#include <QDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QSettings>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

std::unique_ptr<CChildFrame> OpenFrame(WindowFixture& f, const std::string& path)
{
    auto session = std::make_unique<ProjectSession>(*f.settings, f.mirrorLock);
    EXPECT_TRUE(session->Open(path)) << session->errorText();
    return std::make_unique<CChildFrame>(f.context, std::move(session));
}

ProjectItem* ByPath(CChildFrame& frame, const std::string& folderPath)
{
    std::vector<ProjectItem*> stack{&frame.session().document().Write().root()};
    while (!stack.empty()) {
        ProjectItem* item = stack.back();
        stack.pop_back();
        if (item->kind != ItemRecord && FolderPath(*item) == folderPath)
            return item;
        for (ProjectItem* c = item->firstChild; c; c = c->next)
            stack.push_back(c);
    }
    return nullptr;
}

// What the engine's manager posts when the job or crawl ends.
void EndCrawl(CChildFrame& frame)
{
    PostMessage(&frame.status(), MsgStatusCrawlOver);
    WaitUntil([&] { return !frame.crawling(); });
}

} // namespace

TEST(ProjectWindow, AFolderDroppedOnItsOwnSubfolderChangesNothing)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    ProjectTreeModel& model = frame->treeModel();
    ProjectItem* news = ByPath(*frame, "P/News");
    ProjectItem* sub = ByPath(*frame, "P/News/Sub");
    ASSERT_TRUE(news && sub);
    std::unique_ptr<QMimeData> dragged(model.mimeData({model.IndexOf(news)}));
    int refused = 0;
    QObject::connect(&model, &ProjectTreeModel::dropRefused, [&] { ++refused; });
    f.prompter.mirrorFiles = 0;
    EXPECT_FALSE(model.dropMimeData(dragged.get(), Qt::MoveAction, -1, 0, model.IndexOf(sub)));
    EXPECT_EQ(refused, 1) << "the drop beeps";
    EXPECT_EQ(FolderPath(*sub), "P/News/Sub");
    EXPECT_FALSE(frame->session().modified());

    // A drop that may happen asks about the files, then moves the item.
    ProjectItem* archive = ByPath(*frame, "P/NewsArchive");
    std::unique_ptr<QMimeData> subDragged(model.mimeData({model.IndexOf(sub)}));
    model.dropMimeData(subDragged.get(), Qt::MoveAction, -1, 0, model.IndexOf(archive));
    EXPECT_EQ(FolderPath(*sub), "P/NewsArchive/Sub");
    EXPECT_TRUE(frame->session().modified());
    EXPECT_EQ(f.requests.load(), 0) << "nothing to do with the files";
}

TEST(ProjectWindow, AMovedItemsFilesMoveBeforeTheItemDoes)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    ProjectTreeModel& model = frame->treeModel();
    ProjectItem* sub = ByPath(*frame, "P/News/Sub");
    ProjectItem* archive = ByPath(*frame, "P/NewsArchive");
    f.prompter.mirrorFiles = 2; // 移動
    std::unique_ptr<QMimeData> dragged(model.mimeData({model.IndexOf(sub)}));
    model.dropMimeData(dragged.get(), Qt::MoveAction, -1, 0, model.IndexOf(archive));
    EXPECT_TRUE(frame->crawling()) << "the job runs as a crawl of the project";
    EXPECT_TRUE(WaitUntil([&] { return f.requests.load() == 1; }));
    EXPECT_EQ(FolderPath(*sub), "P/News/Sub") << "the job walks the files from the old place";
    EndCrawl(*frame);
    EXPECT_EQ(FolderPath(*sub), "P/NewsArchive/Sub");
}

TEST(ProjectWindow, DeletingAFolderTakesItsSubtreesSchedulesOnceItsFilesAreGone)
{
    WindowFixture f;
    const std::string path = f.WriteProject("P", kTwoFolders);
    for (const char* folder : {"P/News", "P/News/Sub", "P/NewsArchive"}) {
        TimerEntry t;
        t.file = path;
        t.folder = folder;
        f.timers.entries().push_back(t);
        SlideEntry s;
        s.file = path;
        s.folder = folder;
        f.slides.entries().push_back(s);
    }
    auto frame = OpenFrame(f, path);
    frame->SelectItem(ByPath(*frame, "P/News"));
    f.prompter.okCancel = false;
    frame->RunCommand(CmdDelete);
    EXPECT_EQ(f.prompter.asked.back(), QStringLiteral("保存されているデータも削除しますか？"));
    EXPECT_NE(ByPath(*frame, "P/News"), nullptr) << "Cancel deletes nothing";

    f.prompter.okCancel = true;
    frame->RunCommand(CmdDelete);
    EXPECT_TRUE(frame->crawling());
    EXPECT_NE(ByPath(*frame, "P/News"), nullptr) << "the item stays while its files are deleted";
    EndCrawl(*frame);
    EXPECT_EQ(ByPath(*frame, "P/News"), nullptr);
    EXPECT_EQ(ByPath(*frame, "P/News/Sub"), nullptr);
    ASSERT_EQ(f.timers.entries().size(), 1u);
    EXPECT_EQ(f.timers.entries()[0].folder, "P/NewsArchive") << "the sibling whose name extends keeps its timer";
    ASSERT_EQ(f.slides.entries().size(), 1u);
    EXPECT_EQ(f.slides.entries()[0].folder, "P/NewsArchive");
    EXPECT_TRUE(frame->session().modified());
}

TEST(ProjectWindow, CloseIsRefusedWhileTheProjectCrawls)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    ASSERT_TRUE(frame->RunCommand(CmdCrawl));
    EXPECT_TRUE(frame->crawling());
    EXPECT_FALSE(frame->RunCommand(CmdCrawl)) << "one crawl at a time";
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(f.prompter.told.back(),
              QStringLiteral("現在巡回を実行中です。\n巡回を終了させてからドキュメントを閉じて下さい。"));
    EndCrawl(*frame);
    EXPECT_TRUE(frame->close());
}

// Failures with a reason of their own reach the user: a refused certificate
// in its slot's row instead of a bare "Failed", a full disk in the row under
// the slots and in a message that says the next crawl resumes.
TEST(ProjectWindow, ACertificateFailureAndAFullDiskShowTheirReasons)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    ASSERT_TRUE(frame->RunCommand(CmdCrawl));
    auto refused = std::make_unique<SlotDoneRecord>(int16_t(2), false);
    refused->reason = "certificate: unable to get local issuer certificate";
    PostMessage(&frame->status(), MsgStatusSlotDone, 0, std::move(refused));
    PostMessage(&frame->status(), MsgStatusSlotDone, 0, std::make_unique<SlotDoneRecord>(int16_t(3), false));
    const std::string full = "cannot write /m/P/site/a.html: No space left on device";
    PostMessage(&frame->status(), MsgStatusStoppedByError, 0, std::make_unique<TextRecord>(full));
    ASSERT_TRUE(WaitUntil([&] { return !frame->status().model().stopReason().empty(); }));
    EXPECT_EQ(frame->status().model().row(2).bytes, "certificate: unable to get local issuer certificate");
    EXPECT_EQ(frame->status().model().row(3).bytes, "Failed");
    EXPECT_EQ(frame->status().model().stopReason(), full);
    ASSERT_FALSE(f.prompter.told.isEmpty());
    EXPECT_TRUE(f.prompter.told.back().contains(QString::fromStdString(full))) << f.prompter.told.back().toStdString();
    EndCrawl(*frame);
}

TEST(ProjectWindow, TheStatusViewShowsASlotForEachDownloadAtATime)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    auto* view = frame->findChild<CDLStatView*>();
    ASSERT_NE(view, nullptr);
    const int fiveHigh = view->minimumHeight();
    ASSERT_TRUE(frame->RunCommand(CmdCrawl));
    PostMessage(&frame->status(), MsgStatusManager, 0, std::make_unique<ManagerRecord>(QPointer<QObject>(), 16));
    ASSERT_TRUE(WaitUntil([&] { return frame->status().model().slotRows() == 16; }));
    PostMessage(&frame->status(), MsgStatusContacting, 0, std::make_unique<SlotUrlRecord>(int16_t(15), "http://site/16"));
    ASSERT_TRUE(WaitUntil([&] { return frame->status().model().row(15).url == "http://site/16"; }));
    EXPECT_TRUE(WaitUntil([&] { return view->minimumHeight() == view->ContentHeight(); }))
        << "taller than the 240 pixels kept: the view scrolls";
    EXPECT_GT(view->minimumHeight(), fiveHigh);
    EndCrawl(*frame);
}

// Start URLs the crawl could not take are named in the row under the
// slots once it is over (the last one, and how many more), all of them in
// the status view's tool tip, and they count as failed.
TEST(ProjectWindow, StartUrlsThatCannotBeCrawledAreNamedUnderTheSlots)
{
    WindowFixture f;
    auto frame = OpenFrame(f, f.WriteProject("P", kTwoFolders));
    ASSERT_TRUE(frame->RunCommand(CmdCrawl));
    const std::string notes[] = {
        "cannot crawl \"htp://x/\": the scheme is not http or https (item P/News/htp://x/)",
        "cannot crawl \"http://exa mple.com/\": the host name is not valid (item P/http://exa mple.com/)"};
    for (const std::string& note : notes) {
        PostMessage(&frame->status(), MsgStatusCannotCrawl, 0, std::make_unique<TextRecord>(note));
        PostMessage(&frame->status(), MsgStatusFailed);
    }
    PostMessage(&frame->status(), MsgStatusCurrentUrl, 0, std::make_unique<TextRecord>("http://site/news/"));
    ASSERT_TRUE(WaitUntil([&] { return frame->status().model().notes().size() == 2; }));
    const StatusViewModel& model = frame->status().model();
    EXPECT_EQ(CDLStatView::ItemRowText(model, true), "http://site/news/") << "while it crawls, the URL at hand";
    EndCrawl(*frame);
    EXPECT_EQ(CDLStatView::ItemRowText(model, false), QString::fromStdString(notes[1]) + " (+1)");
    EXPECT_EQ(model.counters().failed, 2);
    ASSERT_TRUE(WaitUntil([&] { return !frame->statView().toolTip().isEmpty(); }));
    EXPECT_EQ(frame->statView().toolTip(), QString::fromStdString(notes[0] + "\n" + notes[1]));
}

TEST(MainWindow, ExitIsRefusedWhileAProjectCrawls)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(f.WriteProject("P", kTwoFolders)));
    ASSERT_NE(child, nullptr);
    int closed = 0;
    QObject::connect(&frame, &CMainFrame::closed, [&] { ++closed; });
    frame.RunCommand(CmdCrawl);
    ASSERT_TRUE(child->crawling());
    EXPECT_FALSE(frame.Action(CmdCrawl)->isEnabled());
    EXPECT_FALSE(frame.Action(CmdNewFolder)->isEnabled());
    frame.RunCommand(CmdAppExit);
    EXPECT_EQ(f.prompter.told.back(),
              QStringLiteral("現在巡回を実行中です。\n巡回を終了させてからアプリケーションを終了して下さい。"));
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(frame.Children().size(), 1);
    EndCrawl(*child);
    EXPECT_TRUE(frame.Action(CmdCrawl)->isEnabled());
    frame.RunCommand(CmdAppExit);
    EXPECT_EQ(closed, 1);
}

TEST(MainWindow, ACrawlNobodyWatchesEndsWithANotification)
{
    const struct {
        const char* name;
        bool timer;
        bool windowShown;
        bool setting;
        bool notified;
    } rows[] = {
        {"a timer crawl with the window hidden", true, false, true, true},
        {"a timer crawl in sight", true, true, true, true},
        {"the user's crawl with the window hidden", false, false, true, true},
        {"the user's crawl in sight", false, true, true, false},
        {"the setting off", true, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WindowFixture f;
        SettingsValues v = f.settings->values();
        v.NotifyCrawlEnd = row.setting ? 1 : 0;
        f.settings->SaveSettings(v);
        QStringList notices;
        f.context.notify = [&](const QString& title, const QString& text) { notices << title + "|" + text; };
        CMainFrame frame(f.context);
        if (row.windowShown)
            frame.show();
        const std::string path = f.WriteProject("P", kTwoFolders);
        CChildFrame* child = nullptr;
        if (row.timer) {
            TimerEntry entry;
            entry.file = path;
            entry.folder = "P/News";
            entry.url = "http://site/news/";
            frame.LaunchTimerCrawl(entry);
            ASSERT_EQ(frame.Children().size(), 1);
            child = frame.Children()[0];
        } else {
            child = frame.OpenDocument(QString::fromStdString(path));
            ASSERT_NE(child, nullptr);
            frame.RunCommand(CmdCrawl);
        }
        ASSERT_TRUE(child->crawling());
        PostMessage(&child->status(), MsgStatusVisited, 1);
        EndCrawl(*child);
        frame.hide(); // a frame is closed hidden, as the program closes it
        if (!row.notified) {
            EXPECT_TRUE(notices.empty()) << notices.join(" ").toStdString();
            continue;
        }
        const QString item = row.timer ? QStringLiteral("P/News/http://site/news/\n") : QString();
        EXPECT_EQ(notices, QStringList{QStringLiteral("P の巡回が終わりました|") + item
                                       + "detected=0 retries=0 visited=1 failed=0 html=0 modified=0"});
    }
}

TEST(MainWindow, FramesOfOtherProgramsOpenAProjectAndClose)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    const std::string path = f.WriteProject("P", kTwoFolders);
    EXPECT_EQ(frame.OnProgramFrame({MsgOpenDocument, 0, 0, path}), 1u);
    EXPECT_TRUE(WaitUntil([&] { return frame.Children().size() == 1; }));
    frame.OnProgramFrame({MsgOpenDocument, 0, 0, path});
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(frame.Children().size(), 1) << "an open project is brought forward, not opened twice";
    int closed = 0;
    QObject::connect(&frame, &CMainFrame::closed, [&] { ++closed; });
    frame.OnProgramFrame({MsgClose, 0, 0, {}});
    EXPECT_TRUE(WaitUntil([&] { return closed == 1; }));
}

TEST(MainWindow, TheFirstShowUsesTheSavedShowState)
{
    WindowFixture f;
    {
        QSettings store(QString::fromStdString(f.context.settingsPath), QSettings::IniFormat);
        store.setValue("Settings/WindowPos", "2:3:-1:-1:-1:-1:10:20:810:620");
    }
    CMainFrame frame(f.context);
    EXPECT_FALSE(frame.isVisible()) << "the program starts in the tray";
    frame.ToggleWindow();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(frame.isMaximized());
    EXPECT_TRUE(frame.Action(CmdShowWindow)->isChecked());
    frame.ToggleWindow();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.Action(CmdShowWindow)->isChecked());
    frame.ToggleWindow();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.isMaximized()) << "later shows are normal";
    frame.showMinimized();
    EXPECT_TRUE(frame.Action(CmdShowWindow)->isChecked()) << "a minimised window is still shown";
    frame.ToggleWindow();
    EXPECT_FALSE(frame.isVisible()) << "and the command hides it";
}

// A left click on the tray icon shows or hides the window; the right
// button's menu is the tray's own.
TEST(MainWindow, ALeftClickOnTheTrayIconShowsAndHidesTheWindow)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    frame.ShowTrayIcon(false, false);
    ASSERT_NE(frame.tray(), nullptr);
    EXPECT_FALSE(frame.isVisible());
    Q_EMIT frame.tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(frame.isVisible());
    Q_EMIT frame.tray()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(frame.isVisible());
    Q_EMIT frame.tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(frame.isVisible());
}

TEST(MainWindow, ViewersRunningTurnTheTreeCommandsOff)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(f.WriteProject("P", kTwoFolders)));
    child->SelectItem(ByPath(*child, "P/News"));
    EXPECT_TRUE(frame.Action(CmdNewFolder)->isEnabled());
    f.pictures.Set(false, true, false);
    EXPECT_FALSE(frame.Action(CmdNewFolder)->isEnabled());
    EXPECT_TRUE(frame.Action(CmdSlideWindow)->isChecked());
    f.pictures.Set(false, false, false);
    EXPECT_TRUE(frame.Action(CmdNewFolder)->isEnabled());
}

TEST(ProjectTree, AURLItemsFilesAreListedLazilyAndGoWhenItCollapses)
{
    WindowFixture f;
    const std::string path = f.WriteProject("P", "ProjectDefault\n{\n}\nRecord\n{\n\tURL=\"http://site/\"\n}\n");
    const std::string dir = f.scratch.file("mirror/P/site/");
    QDir().mkpath(QString::fromStdString(dir + "sub"));
    const int count = 1200;
    for (int i = 0; i < count; ++i)
        std::ofstream(dir + (i % 2 ? "sub/" : "") + "page" + std::to_string(i) + ".html") << "x";
    std::ofstream(dir + "page[3fq=1").flush(); // an empty file: not complete; a query in its name
    auto frame = OpenFrame(f, path);
    ProjectTreeModel& model = frame->treeModel();
    const QModelIndex record = model.index(0, 0, model.index(0, 0));
    ASSERT_EQ(model.KindAt(record), NodeKind::Record);
    EXPECT_TRUE(model.hasChildren(record)) << "the expand button is there before any listing";
    EXPECT_EQ(model.rowCount(record), 0);

    frame->linkView().expand(record);
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount(record) > 0; }));
    EXPECT_EQ(model.rowCount(record), ProjectTreeModel::kFetchBatch) << "the first batch only";
    EXPECT_TRUE(model.canFetchMore(record));
    while (model.canFetchMore(record))
        model.fetchMore(record);
    EXPECT_EQ(model.rowCount(record), count + 1);
    EXPECT_EQ(model.index(0, 0, record).data().toString(), QStringLiteral("http://site/page0.html"));
    bool sawQuery = false;
    for (int r = 0; r < model.rowCount(record); ++r) {
        const StoredFile* file = model.FileAt(model.index(r, 0, record));
        if (file->url == "http://site/page?q=1") {
            sawQuery = true;
            EXPECT_FALSE(file->complete());
        }
    }
    EXPECT_TRUE(sawQuery);

    frame->linkView().setCurrentIndex(record);
    EXPECT_TRUE(WaitUntil([&] { return frame->pageView().model()->rowCount() > 0; }));
    frame->linkView().collapse(record);
    EXPECT_EQ(model.rowCount(record), 0);
    EXPECT_TRUE(model.hasChildren(record));
}

// "閉じる" from the menu ends the project: its MDI frame goes, and opening
// the file again makes a new window instead of showing an empty frame.
TEST(MainWindow, TheCloseCommandClosesTheProjectsFrame)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    const QString path = QString::fromStdString(f.WriteProject("P", kTwoFolders));
    ASSERT_NE(frame.OpenDocument(path), nullptr);
    auto* mdi = frame.findChild<QMdiArea*>();
    ASSERT_EQ(mdi->subWindowList().size(), 1);
    frame.Action(CmdFileClose)->trigger();
    EXPECT_TRUE(WaitUntil([&] { return mdi->subWindowList().isEmpty(); }));
    EXPECT_TRUE(frame.Children().isEmpty());
    ASSERT_NE(frame.OpenDocument(path), nullptr);
    EXPECT_EQ(mdi->subWindowList().size(), 1);
    EXPECT_EQ(frame.Children().size(), 1);
}

// At exit every modified project is asked first: a Cancel on the second
// leaves both open, and an exit that goes ahead asks each one once.
TEST(MainWindow, ExitAsksEveryProjectBeforeAnyCloses)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    for (const char* name : {"P", "Q"}) {
        CChildFrame* child = frame.OpenDocument(QString::fromStdString(f.WriteProject(name, kTwoFolders)));
        ASSERT_NE(child, nullptr);
        child->session().SetModified(true);
    }
    int closed = 0;
    QObject::connect(&frame, &CMainFrame::closed, [&] { ++closed; });
    f.prompter.yesNoCancelAnswers = {QMessageBox::No, QMessageBox::Cancel};
    frame.Action(CmdAppExit)->trigger();
    EXPECT_EQ(f.prompter.asked.size(), 2);
    EXPECT_EQ(frame.Children().size(), 2) << "a Cancel keeps every project open";
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(f.pictures.exitsPrepared, 0) << "a Cancel leaves the viewers as they were";

    f.prompter.asked.clear();
    f.prompter.yesNoCancelAnswers = {QMessageBox::No, QMessageBox::No};
    frame.Action(CmdAppExit)->trigger();
    EXPECT_TRUE(WaitUntil([&] { return closed == 1; }));
    EXPECT_EQ(f.prompter.asked.size(), 2) << f.prompter.asked.join(" / ").toStdString();
}

// The title a crawl finds for a record reaches the record's timer and
// slide-show entries, made to fit their files (a "|" would end the field),
// and the lists are saved with it.
TEST(ProjectWindow, AFoundTitleFillsTheTimerAndSlideShowEntries)
{
    WindowFixture f;
    const std::string path = f.WriteProject("P", kTwoFolders);
    TimerEntry t;
    t.file = path;
    t.folder = "P/News";
    t.url = "http://site/news/";
    t.kind = TimerDaily;
    f.timers.entries().push_back(t);
    SlideEntry s;
    s.file = path;
    s.folder = t.folder;
    s.url = t.url;
    f.slides.entries().push_back(s);
    auto frame = OpenFrame(f, path);
    ASSERT_TRUE(frame->RunCommand(CmdCrawl));
    auto title = std::make_unique<TitleRecord>();
    title->folderPath = t.folder;
    title->recordUrl = t.url;
    title->title = "News | Site\r\n" + std::string(300, 'x');
    PostMessage(&frame->status(), MsgStatusTitle, 0, std::move(title));
    ASSERT_TRUE(WaitUntil([&] { return !f.timers.entries()[0].title.empty(); }));
    const std::string expected = ("News   Site  " + std::string(300, 'x')).substr(0, 255);
    EXPECT_EQ(f.timers.entries()[0].title, expected);
    EXPECT_EQ(f.slides.entries()[0].title, expected);
    CTimerDoc reread([](const std::string&) { return true; });
    ASSERT_TRUE(reread.Load(f.context.listBase));
    ASSERT_EQ(reread.entries().size(), 1u);
    EXPECT_EQ(reread.entries()[0].title, expected);
    EndCrawl(*frame);
}

// A crawl that starts while a dialog of its project is open (a due timer
// runs inside the dialog's loop) is not changed under its feet: the
// dialog's OK is refused with a word; and a crawl reads the settings as
// they were when it started, whatever the settings sheet stores meanwhile.
TEST(ProjectWindow, WhatACrawlReadsDoesNotChangeWhileItRuns)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    CChildFrame* child = frame.OpenDocument(QString::fromStdString(f.WriteProject("P", kTwoFolders)));
    ASSERT_NE(child, nullptr);
    ProjectItem* folder = ByPath(*child, "P/News");
    child->SelectItem(folder);
    InNextModal([&](QWidget* dialog) {
        QLineEdit* name = nullptr;
        for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
            if (edit->text() == "News")
                name = edit;
        ASSERT_NE(name, nullptr);
        name->setText("Renamed");
        ASSERT_TRUE(child->RunCommand(CmdCrawl)) << "the timer's crawl";
        static_cast<QDialog*>(dialog)->accept();
    });
    frame.Action(CmdItemProperties)->trigger();
    EXPECT_EQ(folder->title, "News");
    ASSERT_FALSE(f.prompter.told.isEmpty());
    EXPECT_EQ(f.prompter.told.back(), QString::fromUtf8(kEditRefusedWhileCrawling));

    ASSERT_TRUE(WaitUntil([&] { return f.requests == 1; }));
    const AppSettings* crawlSettings = nullptr;
    {
        std::lock_guard hold(f.requestLock);
        auto* request = dynamic_cast<CrawlRequestRecord*>(f.lastRequest.get());
        ASSERT_NE(request, nullptr);
        crawlSettings = request->settings;
    }
    ASSERT_NE(crawlSettings, f.settings.get());
    const int retries = crawlSettings->values().DLRetry;
    SettingsValues changed = f.settings->values();
    changed.DLRetry = retries + 1;
    f.settings->SaveSettings(changed);
    EXPECT_EQ(crawlSettings->values().DLRetry, retries);
    EndCrawl(*child);
}

namespace {

// Where QDesktopServices would hand a URL to the desktop: the test keeps it.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

// "ヘルプ" opens the user's guide as a local file (here the one of the
// source tree; installed, share/doc/ormbrook/README.md beside bin/).
TEST(MainWindow, HelpOpensTheGuide)
{
    WindowFixture f;
    CMainFrame frame(f.context);
    OpenedUrls urls;
    QDesktopServices::setUrlHandler("file", &urls, "open");
    frame.Action(CmdHelp)->trigger();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(urls.opened.size(), 1) << f.prompter.told.join('\n').toStdString();
    EXPECT_TRUE(urls.opened[0].toLocalFile().endsWith("README.md"));
    EXPECT_TRUE(QFileInfo::exists(urls.opened[0].toLocalFile()));
}

#include "project_window_test.moc"
