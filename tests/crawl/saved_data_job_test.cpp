// Saved-data jobs over a mirror written by the test: which files a record's
// walk reaches, where copies and moves put them, and that a move cut short at
// any point loses nothing and can be finished by running it again.

#include "crawl/saved_data_job.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "support/fault_file_calls.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace ormbrook;
using ormbrook::test::ScratchDir;
using Files = std::map<std::string, std::string>;  // relative path -> bytes

namespace {

namespace fs = std::filesystem;

// index -> a -> b -> c by anchors; index and f.html frame each other (no
// depth), a.html shows a picture.
const Files kSite = {
    {"index.html", "<html><frame src=\"f.html\"><a href=\"a.html\">a</a></html>"},
    {"f.html", "<html><frame src=\"index.html\"></html>"},
    {"a.html", "<html><a href=\"b.html\">b</a><a href=\"index.html\">up</a><img src=\"p.gif\"></html>"},
    {"p.gif", "GIF89a"},
    {"b.html", "<html><a href=\"c.html\">c</a></html>"},
    {"c.html", "<html>c</html>"},
};

Files ReadTree(const std::string& directory, bool skipWorkFiles)
{
    Files files;
    if (!fs::exists(directory))
        return files;
    for (const auto& e : fs::recursive_directory_iterator(directory)) {
        if (!e.is_regular_file())
            continue;
        const std::string relative = fs::relative(e.path(), directory).string();
        if (skipWorkFiles && relative.find('/') == std::string::npos)
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[relative] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

std::vector<std::string> EmptyDirectories(const std::string& directory)
{
    std::vector<std::string> empty;
    for (const auto& e : fs::recursive_directory_iterator(directory))
        if (e.is_directory() && fs::is_empty(e.path()))
            empty.push_back(e.path().string());
    return empty;
}

struct JobTest : ::testing::Test {
    ScratchDir dir;
    AppSettings app{dir.file("s.conf"), dir.file("data")};
    QMutex lock;
    std::unique_ptr<ProjectItem> root = ProjectItem::NewRoot("P");
    ProjectItem* folder = AppendChild(*root, ProjectItem::NewFolder("F"));
    ProjectItem* record = AppendChild(*folder, ProjectItem::NewRecord("http://site/index.html"));
    ProjectItem* other = AppendChild(*folder, ProjectItem::NewRecord("http://other/"));
    CMirror mirror{dir.file("m"), "P"};
    std::map<uint32_t, int> reports;

    std::string Dest() const { return dir.file("out/"); }
    std::string FolderDir() const { return mirror.FolderDirectory("P/F"); }

    void Write(const std::string& url, const std::string& bytes)
    {
        auto path = mirror.LocalPath(url, "P/F");
        ASSERT_TRUE(path);
        fs::create_directories(fs::path(*path).parent_path());
        std::ofstream(*path, std::ios::binary) << bytes;
    }
    void WriteSite()
    {
        for (const auto& [name, bytes] : kSite)
            Write("http://site/" + name, bytes);
        Write("http://other/index.html", "other");
        // As in a real project, the work lists keep the project directory.
        std::ofstream(mirror.ProjectDirectory() + "P.uq") << "queue";
    }

    std::unique_ptr<SavedDataOperation> NewJob()
    {
        return std::make_unique<SavedDataOperation>(
            SavedDataContext{root.get(), &app, &mirror, "P", &lock},
            [this](uint32_t message, const std::string&) { ++reports[message]; });
    }

    // Runs both passes; false when the fault hook cut a step short.
    static bool RunToEnd(SavedDataOperation& job)
    {
        while (job.VisitStep() == SavedDataOperation::Step::More) {
        }
        for (;;) {
            switch (job.ActStep()) {
            case SavedDataOperation::Step::More:
                continue;
            case SavedDataOperation::Step::Interrupted:
                return false;
            case SavedDataOperation::Step::PassOver:
                job.End();
                return true;
            }
        }
    }
};

Files SiteFiles(std::initializer_list<const char*> names, const char* prefix = "site/")
{
    Files out;
    for (const char* n : names)
        out[std::string(prefix) + n] = kSite.at(n);
    return out;
}

} // namespace

TEST_F(JobTest, RecordWalkTakesOnlyWhatItsDepthReaches)
{
    struct Case {
        const char* intent;
        int kind;
        int graphMax;
        Files left;    // below the folder directory afterwards
        Files copied;  // below the destination afterwards
    } cases[] = {
        {"depth 0 deletes the start page and its frame, though they frame each other", SavedDataDelete, 0,
         SiteFiles({"a.html", "p.gif", "b.html", "c.html"}), {}},
        {"depth 1 deletes the linked page and its picture too", SavedDataDelete, 1,
         SiteFiles({"b.html", "c.html"}), {}},
        {"copy at depth 2 leaves the mirror alone and stops before c", SavedDataCopy, 2, {},
         SiteFiles({"index.html", "f.html", "a.html", "p.gif", "b.html"})},
        {"move at depth 9 takes the whole site and leaves the other host", SavedDataMove, 9, {},
         SiteFiles({"index.html", "f.html", "a.html", "p.gif", "b.html", "c.html"})},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir.file("m"));
        fs::remove_all(Dest());
        WriteSite();
        record->GraphMax = c.graphMax;
        Files left = c.kind == SavedDataCopy ? ReadTree(FolderDir(), false) : c.left;
        left["other/index.html"] = "other";
        auto job = NewJob();
        ASSERT_EQ(job->Begin(c.kind, *record, Dest()), "") << c.intent;
        ASSERT_TRUE(RunToEnd(*job)) << c.intent;
        EXPECT_EQ(ReadTree(FolderDir(), false), left) << c.intent;
        EXPECT_EQ(ReadTree(Dest(), false), c.copied) << c.intent;
    }
}

TEST_F(JobTest, EmptiedDirectoriesGoButSharedOnesStay)
{
    Write("http://site/deep/er/x.html", "x");
    Write("http://site/keep.html", "keep");
    ProjectItem* deep = AppendChild(*folder, ProjectItem::NewRecord("http://site/deep/er/x.html"));
    auto job = NewJob();
    ASSERT_EQ(job->Begin(SavedDataDelete, *deep, {}), "");
    ASSERT_TRUE(RunToEnd(*job));
    EXPECT_FALSE(fs::exists(FolderDir() + "site/deep"));
    EXPECT_TRUE(fs::exists(FolderDir() + "site/keep.html"));
    EXPECT_EQ(reports[MsgStatusVisited], 2) << "one visit and one removal";
    // The work lists and the note are gone, the project directory is not.
    EXPECT_EQ(ReadTree(mirror.ProjectDirectory(), false).count("P.det"), 0u);
    EXPECT_EQ(ReadTree(mirror.ProjectDirectory(), false).count("P.sdj"), 0u);
}

TEST_F(JobTest, FolderJobsSkipTheProjectWorkFiles)
{
    WriteSite();
    auto job = NewJob();
    ASSERT_EQ(job->Begin(SavedDataMove, *root, Dest()), "");
    ASSERT_TRUE(RunToEnd(*job));
    EXPECT_TRUE(fs::exists(mirror.ProjectDirectory() + "P.uq"));
    EXPECT_EQ(ReadTree(Dest(), false).size(), kSite.size() + 1);
    EXPECT_TRUE(fs::exists(Dest() + "F/site/a.html"));
    EXPECT_TRUE(EmptyDirectories(dir.file("m")).empty());
}

TEST_F(JobTest, DestinationsThatWouldWalkTheirOwnOutputAreRefused)
{
    struct Case {
        const char* intent;
        int kind;
        std::string destination;
        bool refused;
    } cases[] = {
        {"the folder directory itself", SavedDataCopy, FolderDir(), true},
        {"below the folder directory", SavedDataMove, FolderDir() + "site/new", true},
        {"below it through a dot-dot", SavedDataCopy, FolderDir() + "x/../y", true},
        {"a sibling whose name starts the same", SavedDataCopy, dir.file("m/P/F2"), false},
        {"the project directory above it", SavedDataCopy, mirror.ProjectDirectory(), false},
        {"a relative path", SavedDataCopy, "out", true},
        {"no destination", SavedDataMove, "", true},
        {"delete needs none", SavedDataDelete, "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SavedDataOperation::Refusal(mirror, *record, c.kind, c.destination).empty(), !c.refused)
            << c.intent;
}

TEST_F(JobTest, AnotherJobDoesNotResumeAStoppedOne)
{
    WriteSite();
    record->GraphMax = 9;
    auto job = NewJob();
    job->faultHook = [](SavedDataFault) { return true; };
    ASSERT_EQ(job->Begin(SavedDataMove, *record, Dest()), "");
    EXPECT_FALSE(RunToEnd(*job));
    job.reset();
    // A copy elsewhere starts afresh from the record's saved pages.
    auto copy = NewJob();
    ASSERT_EQ(copy->Begin(SavedDataCopy, *record, dir.file("copy")), "");
    ASSERT_TRUE(RunToEnd(*copy));
    EXPECT_EQ(ReadTree(dir.file("copy"), false).size(), kSite.size());
    EXPECT_TRUE(ReadTree(Dest(), false).empty());
}

// A move cut short at a random point, again and again, until a run gets
// through: after every cut each file is at its old place or its new one
// with its bytes, and at the end everything is at the destination.
TEST_F(JobTest, InterruptedMovesNeverLoseAFile)
{
    struct Case {
        const char* intent;
        bool folderItem;
        bool forceCopy;
    } cases[] = {
        {"record, moved by rename", false, false},
        {"record, moved by copy and unlink", false, true},
        {"folder, moved by rename", true, false},
        {"folder, moved by copy and unlink", true, true},
    };
    for (const auto& c : cases) {
        for (unsigned seed = 1; seed <= 25; ++seed) {
            fs::remove_all(dir.file("m"));
            fs::remove_all(Dest());
            WriteSite();
            record->GraphMax = 9;
            ProjectItem& item = c.folderItem ? *folder : *record;
            const Files before = ReadTree(FolderDir(), false);
            const Files moving = c.folderItem ? before : SiteFiles({"index.html", "f.html", "a.html", "p.gif",
                                                                    "b.html", "c.html"});
            std::mt19937 random(seed);
            bool done = false;
            for (int run = 0; run < 200 && !done; ++run) {
                auto job = NewJob();
                job->forceCopy = c.forceCopy;
                job->faultHook = [&](SavedDataFault) { return random() % 5 == 0; };
                ASSERT_EQ(job->Begin(SavedDataMove, item, Dest()), "");
                done = RunToEnd(*job);
                const Files source = ReadTree(FolderDir(), false);
                const Files target = ReadTree(Dest(), false);
                for (const auto& [name, bytes] : before) {
                    const bool atSource = source.count(name) && source.at(name) == bytes;
                    const bool atTarget = target.count(name) && target.at(name) == bytes;
                    ASSERT_TRUE(atSource || atTarget) << c.intent << " seed " << seed << ": lost " << name;
                }
            }
            ASSERT_TRUE(done) << c.intent << " seed " << seed;
            EXPECT_EQ(ReadTree(Dest(), false), moving) << c.intent << " seed " << seed;
            const Files left = ReadTree(FolderDir(), false);
            for (const auto& [name, bytes] : moving)
                EXPECT_EQ(left.count(name), 0u) << c.intent << " seed " << seed << ": still at source " << name;
            EXPECT_TRUE(EmptyDirectories(dir.file("m")).empty()) << c.intent << " seed " << seed;
            EXPECT_FALSE(fs::exists(mirror.ProjectDirectory() + "P.del")) << c.intent << " seed " << seed;
        }
    }
}

// A copied or moved file is the same copy of the server's file: it keeps the
// server's date (and entity tag), which the next crawl from it asks about.
TEST_F(JobTest, CopiedAndMovedFilesKeepTheServersDate)
{
    const struct {
        const char* intent;
        int kind;
        bool forceCopy;
    } cases[] = {
        {"copy", SavedDataCopy, false},
        {"move by rename", SavedDataMove, false},
        {"move by copy", SavedDataMove, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.intent);
        fs::remove_all(dir.file("m"));
        fs::remove_all(Dest());
        WriteSite();
        const std::string page = *mirror.LocalPath("http://site/index.html", "P/F");
        DateStoredFile(page, 1000000000, "\"e-1\"");
        const bool tagged = StoredEtag(page) == "\"e-1\"";
        auto job = NewJob();
        job->forceCopy = c.forceCopy;
        ASSERT_EQ(job->Begin(c.kind, *record, Dest()), "");
        ASSERT_TRUE(RunToEnd(*job));
        const std::string copied = Dest() + "site/index.html";
        struct stat info {};
        ASSERT_EQ(::stat(copied.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, 1000000000);
        if (tagged) {
            EXPECT_EQ(StoredEtag(copied), "\"e-1\"");
        }
    }
}

// A destination that can take no more stops a copy or move after the file
// it could not write, which stays where it was; run again with room, the
// job finishes.
TEST_F(JobTest, AFullDestinationStopsTheJobWhichFinishesWithRoom)
{
    for (int kind : {SavedDataCopy, SavedDataMove}) {
        SCOPED_TRACE(kind == SavedDataCopy ? "copy" : "move");
        fs::remove_all(dir.file("m"));
        fs::remove_all(Dest());
        WriteSite();
        record->GraphMax = 9;
        const Files before = ReadTree(FolderDir(), false);
        {
            ormbrook::test::FaultFileCalls files;
            int copied = 0;
            const std::string destination = Dest();
            files.onWrite = [&](const std::string& path, size_t) -> std::optional<int> {
                if (path.rfind(destination, 0) == 0 && copied++ >= 2)
                    return ENOSPC;
                return std::nullopt;
            };
            ScopedFileCalls use(files);
            auto job = NewJob();
            job->forceCopy = true;
            ASSERT_EQ(job->Begin(kind, *record, Dest()), "");
            EXPECT_FALSE(RunToEnd(*job));
            EXPECT_EQ(job->storageFailure().find("cannot write " + Dest()), 0u) << job->storageFailure();
        }
        for (const auto& [name, bytes] : before) {
            const Files source = ReadTree(FolderDir(), false);
            const Files target = ReadTree(Dest(), false);
            EXPECT_TRUE((source.count(name) && source.at(name) == bytes) || (target.count(name) && target.at(name) == bytes))
                << "lost " << name;
        }
        auto again = NewJob();
        again->forceCopy = true;
        ASSERT_EQ(again->Begin(kind, *record, Dest()), "");
        ASSERT_TRUE(RunToEnd(*again));
        EXPECT_EQ(ReadTree(Dest(), false),
                  SiteFiles({"index.html", "f.html", "a.html", "p.gif", "b.html", "c.html"}));
    }
}
