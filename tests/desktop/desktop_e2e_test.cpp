// The desktop program end to end on a private X server: it opens the demo
// project, crawls the demo site through its "巡回実行" command, shows the
// stored files in its tree and ends; a second qry hands its file over; the
// program started on its own shows its window where there is no tray and
// ends on the close message of another program.

#include "desktop/desktop_harness.h"
#include "windows/scripted_prompter.h"

#include "common/messages.h"
#include "pictures/picture_sinks.h"
#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "shell/timer_scheduler.h"
#include "windows/child_frame.h"
#include "windows/crawl_status.h"
#include "windows/desktop_program.h"
#include "windows/main_frame.h"
#include "windows/project_session.h"
#include "windows/project_tree_model.h"
#include "windows/project_views.h"
#include "windows/small_dialogs.h"

#include <QAction>
#include <QStatusBar>
#include <QDir>
#include <QProcess>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace ormbrook::test {
extern XvfbDisplay* gDisplay;
extern ScratchDir* gScratch;
}

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

const std::string kQry = std::string(ORMBROOK_BINARY_DIR) + "/apps/qry";

#define REQUIRE_DISPLAY_AND_SERVER()                                                                                 \
    if (!gDisplay)                                                                                                    \
        GTEST_SKIP() << "Xvfb is not available";                                                                     \
    if (!NginxServer::Available())                                                                                    \
    GTEST_SKIP() << "nginx is not installed"

// qry --crawl on the same project into a mirror of its own: the figures the
// window must reach.
std::string CommandLineCounters(const std::string& project, const std::string& mirror)
{
    QProcess qry;
    qry.start(QString::fromStdString(kQry), {"--crawl", QString::fromStdString(project), "--set",
                                             QString::fromStdString("MirrorDir=" + mirror)});
    qry.waitForFinished(60000);
    const QStringList lines = QString::fromUtf8(qry.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? std::string() : lines.back().toStdString();
}

QModelIndex FirstRecord(ProjectTreeModel& model, const QModelIndex& parent)
{
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex index = model.index(r, 0, parent);
        if (model.KindAt(index) == NodeKind::Record)
            return index;
        const QModelIndex below = FirstRecord(model, index);
        if (below.isValid())
            return below;
    }
    return {};
}

// "WP.lst" as an earlier version left it, empty: the header without the
// signature, whose two sentinels point at each other.
std::string OldEmptyPictureList()
{
    std::string file;
    for (uint32_t v : {40u, 40u, 8u, 16u, 8u, 16u, 24u, 32u, 24u, 32u})
        for (int i = 0; i < 4; ++i)
            file.push_back(char(v >> (8 * i)));
    return file;
}

} // namespace

TEST(DesktopEndToEnd, CrawlsTheDemoProjectThroughItsCommandAndEnds)
{
    REQUIRE_DISPLAY_AND_SERVER();
    ScratchDir work;
    DemoSite site;
    std::string error;
    ASSERT_TRUE(site.Start(work, &error)) << error;
    const std::string expected = CommandLineCounters(site.project, work.file("cli-mirror/"));
    ASSERT_NE(expected.find("visited="), std::string::npos) << expected;

    DesktopProgram program;
    DesktopProgram::Options options;
    options.project = site.project;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    ASSERT_TRUE(WaitFor([&] { return frame.isVisible(); }, 30000)) << "no tray on Xvfb: the window shows at start";
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(WaitFor([&] { return gDisplay->FindWindow(kMainWindowTitle, x, y, w, h); }, 30000));

    CChildFrame* child = frame.ActiveChild();
    ASSERT_NE(child, nullptr);
    // The user opens the record before its first crawl: nothing is stored yet.
    ProjectTreeModel& model = child->treeModel();
    const QModelIndex record = FirstRecord(model, model.index(0, 0));
    ASSERT_TRUE(record.isValid());
    child->linkView().expand(record);
    child->linkView().setCurrentIndex(record);
    ASSERT_TRUE(WaitFor([&] { return !model.Listing(model.RecordAt(record)); }, 30000));
    EXPECT_EQ(model.rowCount(record), 0);
    frame.Action(CmdCrawl)->trigger();
    EXPECT_TRUE(child->crawling()) << prompter.told.join('\n').toStdString();
    EXPECT_FALSE(frame.Action(CmdCrawl)->isEnabled());
    EXPECT_TRUE(frame.Action(CmdStop)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !child->crawling(); }, 60000));
    EXPECT_EQ(child->status().model().CounterLine(), expected);

    // The views followed the crawl: the stored files are under the record
    // and in the file list, without reopening anything.
    ASSERT_TRUE(WaitFor([&] { return model.rowCount(record) > 0; }, 30000));
    QStringList files;
    for (int r = 0; r < model.rowCount(record); ++r)
        files << model.index(r, 0, record).data().toString();
    EXPECT_TRUE(files.contains(QString::fromStdString(site.server.origin() + "/index.html"))) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains(QString::fromStdString(site.server.origin() + "/pictures/dot.jpg")));
    EXPECT_TRUE(WaitFor([&] { return child->pageView().model()->rowCount() == files.size(); }, 30000));

    // The demo's broken link is in "失敗した URL", with why, ready to copy.
    frame.Action(CmdFailedUrls)->trigger();
    FailedUrlsDialog* failures = child->failedUrlsDialog();
    ASSERT_NE(failures, nullptr);
    EXPECT_TRUE(WaitFor([&] { return failures->isVisible(); }, 5000));
    ASSERT_GT(failures->list()->topLevelItemCount(), 0);
    const QString missing = QString::fromStdString(site.server.origin() + "/nowhere.html");
    EXPECT_EQ(failures->list()->topLevelItem(0)->text(0), missing);
    EXPECT_EQ(failures->list()->topLevelItem(0)->text(1), "404 Not Found");
    EXPECT_TRUE(failures->CopyText().contains(missing + "\t404 Not Found\n")) << failures->CopyText().toStdString();
    failures->close();

    // The status view is drawn: its area is not one flat colour.
    WaitFor([] { return false; }, 300);
    const QImage pixels = GrabWidget(*gDisplay, child->pageView());
    ASSERT_FALSE(pixels.isNull());
    EXPECT_FALSE(MostlyColour(pixels, pixels.pixel(pixels.width() - 2, pixels.height() - 2), 2, 0.999));

    // Saved under another name, the project takes its mirror along.
    const std::string mirror = program.settings().values().MirrorDir;
    prompter.saveAs = QString::fromStdString(work.file("Later.prj"));
    frame.Action(CmdFileSaveAs)->trigger();
    EXPECT_EQ(child->session().title(), "Later");
    EXPECT_FALSE(std::filesystem::exists(mirror + "Demo")) << "nothing left under the old name";
    ASSERT_TRUE(WaitFor([&] {
        const StoredFile* first = model.FileAt(model.index(0, 0, record));
        return first && first->path.rfind(mirror + "Later/", 0) == 0 && first->complete();
    }, 30000)) << "the tree lists the files at their new place";

    // Deleting the saved data empties the views again.
    child->linkView().setCurrentIndex(record);
    frame.Action(CmdDeleteSaved)->trigger();
    ASSERT_TRUE(WaitFor([&] { return !child->crawling() && model.rowCount(record) == 0; }, 30000));
    EXPECT_TRUE(WaitFor([&] { return child->pageView().model()->rowCount() == 0; }, 30000));
    // Its counters say what it did, not what a crawl does.
    const auto cells = CDLStatView::CounterCells(child->status().model(), child->status().countedJob());
    EXPECT_EQ(cells[0].first, "対象");
    EXPECT_EQ(cells[1].first, "削除");
    EXPECT_GE(cells[1].second.toInt(), files.size()) << "every stored file, the tree's and the others";
    EXPECT_LE(cells[1].second.toInt(), cells[0].second.toInt());
    EXPECT_TRUE(cells[4].first.isEmpty()) << "no HTML counters";

    bool closed = false;
    QObject::connect(&frame, &CMainFrame::closed, [&] { closed = true; });
    frame.RunCommand(CmdAppExit);
    EXPECT_TRUE(WaitFor([&] { return closed; }, 30000));
    program.Finish();
    EXPECT_FALSE(gDisplay->FindWindow(kMainWindowTitle, x, y, w, h));
}

TEST(DesktopEndToEnd, ASecondStartHandsItsFileToTheRunningProgram)
{
    REQUIRE_DISPLAY_AND_SERVER();
    ScratchDir work;
    DemoSite site;
    std::string error;
    ASSERT_TRUE(site.Start(work, &error)) << error;
    DesktopProgram program;
    DesktopProgram::Options options;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    EXPECT_EQ(frame.Children().size(), 0);
    frame.hide(); // in the tray, as on a desktop with one

    QProcess second;
    second.setProcessEnvironment(gDisplay->Environment());
    second.start(QString::fromStdString(kQry), {QString::fromStdString(site.project)});
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitFor([&] { return frame.Children().size() == 1; }, 30000));
    EXPECT_EQ(frame.Children().front()->session().title(), "Demo");
    EXPECT_TRUE(WaitFor([&] { return frame.isVisible(); }, 30000)) << "the window shows with the project";
    frame.SystemClose();
    program.Finish();
}

// While the user service holds the timers the desktop program leaves them
// and says so; once it has let go, the program runs them again.
TEST(DesktopEndToEnd, TheTimersAreLeftToTheServiceWhileItRuns)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    ScratchDir work;
    auto service = std::make_unique<NamedLock>(kTimerLockName);
    ASSERT_TRUE(service->TryAcquire());
    DesktopProgram program;
    DesktopProgram::Options options;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    QDir().mkpath(QString::fromStdString(options.programFolder));
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    EXPECT_EQ(frame.statusBar()->currentMessage(), QString::fromUtf8(kTimersLeftToService));
    EXPECT_EQ(program.scheduler()->OnSchedulerTick(std::time(nullptr)), 0);
    service.reset();
    program.scheduler()->OnSchedulerTick(std::time(nullptr));
    EXPECT_EQ(frame.statusBar()->currentMessage(), QStringLiteral("レディ"));
    EXPECT_TRUE(NamedLock::IsTaken(kTimerLockName)) << "the program holds the timers now";
    frame.hide();
    frame.SystemClose();
    program.Finish();
    EXPECT_FALSE(NamedLock::IsTaken(kTimerLockName)) << "and lets them go when it ends";
}

TEST(DesktopEndToEnd, TheProgramShowsItsWindowWithoutATrayAndEndsOnTheCloseMessage)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    QProcess qry;
    qry.setProcessEnvironment(gDisplay->Environment());
    qry.start(QString::fromStdString(kQry), {});
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(WaitFor([&] { return gDisplay->FindWindow(kMainWindowTitle, x, y, w, h); }, 30000))
        << qry.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitFor([&] { return ChannelExists(kMainWindowTitle); }, 30000));
    EXPECT_TRUE(PostFrame(kMainWindowTitle, {MsgClose, 0, 0, {}}));
    ASSERT_TRUE(WaitFor([&] { return qry.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(qry.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(qry.exitCode(), 0);
}

// A start that ends early leaves the user's files as they were: the timer
// list and the slide-show list are only saved when they were read, and a
// picture list that can't be opened (its lock held by a crawl) is no old
// version to convert away.
TEST(DesktopEndToEnd, AStartThatFailsLeavesTheListsAsTheyWere)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    enum Case { ProjectGone, ConversionRefused, PictureListLocked };
    for (Case c : {ProjectGone, ConversionRefused, PictureListLocked}) {
        SCOPED_TRACE(c);
        ScratchDir work;
        const std::string data = work.file("data");
        QDir().mkpath(QString::fromStdString(data));
        const std::map<std::string, std::string> files{
            {data + "/QRY.tmf", "/p/P.prj|P|||Daily|07:30|Default\r\n"},
            {data + "/QRY.ssf", "/p/P.prj|P|||0|1|100|0|0|0|1|5\r\n"},
            {data + "/WP.lst", c == ConversionRefused ? OldEmptyPictureList() : std::string()}};
        for (const auto& [path, bytes] : files)
            if (!bytes.empty())
                std::ofstream(path, std::ios::binary) << bytes;
        NamedLock queueLock(kPickupQueueLockName);
        if (c == PictureListLocked)
            ASSERT_TRUE(queueLock.TryAcquire());

        DesktopProgram program;
        DesktopProgram::Options options;
        options.project = c == ProjectGone ? work.file("moved-away.prj") : std::string();
        options.splash = false;
        options.settingsPath = work.file("settings.conf");
        options.programFolder = data;
        ScriptedPrompter prompter;
        prompter.yesNo = false;
        EXPECT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Failed);
        program.Finish();
        EXPECT_EQ(prompter.asked.size(), c == ConversionRefused ? 1 : 0) << prompter.asked.join('\n').toStdString();
        EXPECT_EQ(prompter.told.size(), c == ConversionRefused ? 0 : 1) << "the user is told why";
        for (const auto& [path, bytes] : files) {
            std::ifstream in(path, std::ios::binary);
            const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!bytes.empty())
                EXPECT_EQ(now, bytes) << path;
        }
    }
}
