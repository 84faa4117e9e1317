// A download manager running a saved-data job: one entry per message, a
// stop between two entries keeps the work lists, and the same job asked of
// a new manager finishes what the stopped one left.

#include "common/messages.h"
#include "crawl/crawl_project.h"
#include "crawl/project_item.h"
#include "crawl/saved_data_job.h"
#include "crawl/settings.h"
#include "crawl/download_manager.h"
#include "support/event_loop.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace ormbrook;
using ormbrook::test::ScratchDir;

namespace {

namespace fs = std::filesystem;

// Counts the status messages; after stopAfter entries done it asks the
// manager to stop, as the frame's stop command does.
class RecordingView : public MessageTarget {
public:
    int done = 0;
    int stopAfter = -1;
    bool over = false;
    QPointer<QObject> manager;

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord>) override
    {
        if (message == MsgStatusVisited && ++done == stopAfter)
            PostMessage(manager, MsgManagerStop);
        if (message == MsgStatusCrawlOver)
            over = true;
    }
};

} // namespace

TEST(SavedDataManager, AStoppedMoveResumesInTheNextManager)
{
    test::EventWindowScope events;
    ASSERT_TRUE(events.ok());
    ScratchDir dir;
    AppSettings app{dir.file("s.conf"), dir.file("data")};
    QMutex lock;
    std::unique_ptr<ProjectItem> root = ProjectItem::NewRoot("P");
    ProjectItem* folder = AppendChild(*root, ProjectItem::NewFolder("F"));
    CrawlProject project(dir.file("m"), "P");
    project.root = root.get();
    project.mirrorLock = &lock;
    ASSERT_EQ(project.OpenQueues(nullptr), CrawlProject::OpenResult::Ok);
    const std::string source = project.mirror.FolderDirectory("P/F");
    const std::vector<std::string> names = {"h/a.html", "h/d/b.html", "h/d/e/c.gif", "g/x.html"};
    for (const auto& name : names) {
        fs::create_directories(fs::path(source + name).parent_path());
        std::ofstream(source + name) << name;
    }

    struct Run {
        const char* intent;
        int stopAfter;
        bool listsKept;
    } runs[] = {
        {"stopped in the middle of the moves, the lists stay", 7, true},
        {"the same job again runs to its end and deletes them", -1, false},
    };
    for (const auto& r : runs) {
        RecordingView view;
        view.stopAfter = r.stopAfter;
        CrawlRequestRecord request;
        request.statusWindow = &view;
        request.project = &project;
        request.settings = &app;
        auto* manager = new DLManager(request);
        view.manager = manager;
        auto job = std::make_unique<SavedDataJobRecord>();
        job->kind = SavedDataMove;
        job->item = folder;
        job->destination = dir.file("out");
        PostMessage(QPointer<QObject>(manager), MsgManagerSavedDataJob, 0, std::move(job));
        ASSERT_TRUE(test::RunUntil([&] { return view.over; })) << r.intent;
        test::RunFor(20);
        EXPECT_EQ(fs::exists(project.mirror.ProjectDirectory() + "P.del"), r.listsKept) << r.intent;
        for (const auto& name : names)
            EXPECT_TRUE(fs::exists(source + name) || fs::exists(dir.file("out/") + name)) << r.intent << name;
    }
    for (const auto& name : names)
        EXPECT_TRUE(fs::exists(dir.file("out/") + name)) << name;
    EXPECT_FALSE(fs::exists(source));
}
