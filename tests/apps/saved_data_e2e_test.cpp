// qry --delete-saved / --copy-saved / --move-saved against a mirror made by
// a real crawl of a site served by nginx: each test crawls first, then runs
// the verb and checks every file of the mirror and of the destination.

#include "support/crawl_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using ormbrook::test::CrawlFixture;
using ormbrook::test::Prefixed;
using ormbrook::test::Record;
using ormbrook::test::NginxServer;
using Files = std::set<std::string>;

namespace {

namespace fs = std::filesystem;

void MakeSite(CrawlFixture& f)
{
    f.Page("index.html", "<html><body background=\"bg.gif\"><a href=\"a.html\">A</a>"
                         "<img src=\"pic.jpg\"><frame src=\"frame.html\"></body></html>");
    f.Page("frame.html", "<html><body><a href=\"index.html\">top</a><frame src=\"index.html\"></body></html>");
    f.Page("a.html", "<html><body><a href=\"a2.html\">a2</a><a href=\"index.html\">top</a>"
                     "<img src=\"a.gif\"></body></html>");
    f.Page("a2.html", "<html><body><a href=\"a.html\">back</a></body></html>");
    f.Page("a.gif", "GIF89a");
    f.Page("bg.gif", "GIF89a-bg");
    f.Page("pic.jpg", "\xff\xd8\xff\xe0 not really a picture");
    f.Page("sub/b.html", "<html><body><a href=\"c.html\">c</a></body></html>");
    f.Page("sub/c.html", "<html><body>c</body></html>");
}


Files TreeFiles(const std::string& root)
{
    Files files;
    if (fs::exists(root))
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                files.insert(fs::relative(e.path(), root).string());
    return files;
}

Files EmptyDirectories(const std::string& root)
{
    Files empty;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory() && fs::is_empty(e.path()))
            empty.insert(e.path().string());
    return empty;
}

#define REQUIRE_SERVER(f)                                                                                             \
    if (!NginxServer::Available())                                                                                    \
        GTEST_SKIP() << "nginx not installed";                                                                       \
    ASSERT_TRUE((f).StartServer())

} // namespace

TEST(SavedDataEndToEnd, DeletingARecordKeepsWhatOtherRecordsSaved)
{
    struct Case {
        const char* intent;
        std::string records;
        std::string item;  // after "P/" and the origin
        Files left;
    } cases[] = {
        {"the host directory stays while another record's file is in it",
         Record("@ORIGIN@/sub/b.html") + Record("@ORIGIN@/a.html"), "/sub/b.html",
         {"a.html", "a.gif"}},
        {"pages that link and frame each other are walked within the record's own depth",
         Record("@ORIGIN@/") + Record("@ORIGIN@/a.html", "\tGraphMax=1\n"), "/",
         {"a.html", "a2.html", "a.gif"}},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        MakeSite(f);
        REQUIRE_SERVER(f);
        auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=0\n}\n" + c.records);
        ASSERT_EQ(f.Run({"--crawl", prj}).exitCode, 0) << c.intent;
        auto run = f.Run({"--delete-saved", "P/" + f.origin() + c.item, prj, "--yes"});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(run.err.find("stopped"), std::string::npos) << c.intent << ": " << run.err;
        EXPECT_NE(run.counters, "") << c.intent;
        EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", c.left)) << c.intent;
        EXPECT_TRUE(EmptyDirectories(f.mirrorRoot()).empty()) << c.intent;
        EXPECT_FALSE(fs::exists(f.mirrorRoot() + "P/P.det")) << c.intent;
        EXPECT_FALSE(fs::exists(f.mirrorRoot() + "P/P.del")) << c.intent;
    }
}

TEST(SavedDataEndToEnd, CopyAndMoveOfAFolderKeepHostAndUrlDirectories)
{
    struct Case {
        const char* intent;
        const char* verb;
        bool sourceStays;
    } cases[] = {
        {"copy reproduces the folder below the destination", "--copy-saved", true},
        {"move takes it there and leaves no empty directory behind", "--move-saved", false},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        MakeSite(f);
        REQUIRE_SERVER(f);
        auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n\tPilotArea=UpperDir\n}\n"
                                  "Folder=\"News\"\n{\n" + Record("@ORIGIN@/sub/b.html") + "}\n");
        ASSERT_EQ(f.Run({"--crawl", prj}).exitCode, 0) << c.intent;
        const Files saved = f.MirrorFiles();
        const Files expected = Prefixed("127.0.0.1/sub/", {"b.html", "c.html"});
        ASSERT_EQ(saved, Prefixed("P/News/", expected)) << c.intent;
        std::map<std::string, std::string> bytes;
        for (const auto& name : expected)
            bytes[name] = f.MirrorFile("P/News/" + name);
        const std::string destination = f.mirrorRoot() + "../out";
        auto run = f.Run({c.verb, "P/News", destination, prj});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(run.err.find("stopped"), std::string::npos) << c.intent << ": " << run.err;
        EXPECT_EQ(TreeFiles(destination), expected) << c.intent;
        EXPECT_EQ(f.MirrorFiles(), c.sourceStays ? saved : Files{}) << c.intent;
        EXPECT_TRUE(EmptyDirectories(f.mirrorRoot()).empty()) << c.intent;
        for (const auto& name : expected)
            EXPECT_EQ(f.MirrorFile("../out/" + name), bytes[name]) << c.intent << name;
    }
}

TEST(SavedDataEndToEnd, RefusalsTouchNothing)
{
    CrawlFixture f;
    MakeSite(f);
    REQUIRE_SERVER(f);
    auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=0\n}\n" + Record("@ORIGIN@/a.html"));
    ASSERT_EQ(f.Run({"--crawl", prj}).exitCode, 0);
    const Files saved = f.MirrorFiles();
    const std::string item = "P/" + f.origin() + "/a.html";
    struct Case {
        const char* intent;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"delete off a terminal needs --yes", {"--delete-saved", item, prj}, "--yes"},
        {"a destination inside the item's folder directory", {"--copy-saved", item, f.mirrorRoot() + "P/x", prj},
         "inside the item's own folder directory"},
        {"a move into the folder directory itself", {"--move-saved", "P", f.mirrorRoot() + "P", prj},
         "inside the item's own folder directory"},
        {"an item the project doesn't have", {"--delete-saved", "P/nothing", prj, "--yes"}, "no item"},
    };
    for (const auto& c : cases) {
        auto run = f.Run(c.args);
        EXPECT_EQ(run.exitCode, 2) << c.intent;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.intent << ": " << run.err;
        EXPECT_EQ(f.MirrorFiles(), saved) << c.intent;
    }
    // Work lists that can't be opened: the job doesn't begin, and says why.
    fs::create_directories(f.mirrorRoot() + "P/P.det");
    auto blocked = f.Run({"--move-saved", item, f.mirrorRoot() + "../out", prj});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find("P.det"), std::string::npos) << blocked.err;
    EXPECT_EQ(f.MirrorFiles(), saved);
}
