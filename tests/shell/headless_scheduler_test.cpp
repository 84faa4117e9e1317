// The headless launcher driven by scheduler ticks at chosen times, crawling
// from nginx on this process's own engine thread.

#include "shell/headless_scheduler.h"

#include "shell/headless_session.h"
#include "support/crawl_fixture.h"
#include "support/event_loop.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

using namespace ormbrook;
using ormbrook::test::CrawlFixture;
using ormbrook::test::NginxServer;
using Files = std::set<std::string>;

namespace {

// Wednesday 4 March 2026, 09:05:30 local time.
std::time_t ChosenTime()
{
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// Timers at 09:05 unless said otherwise. `project` names a project of the
// fixture ("P", "Q"); "P@" is P's file spelled another way; anything else
// is used as the path.
struct Timer {
    std::string project;
    std::string folder;
    std::string url; // "@ORIGIN@" stands for the server
    int16_t kind = TimerDaily;
    int16_t minute = 5;
    bool selected = false;
};

std::string Prj(const std::string& records) { return "ProjectDefault\n{\n\tGraphMax=0\n}\n" + records; }

std::string Record(const std::string& url, const std::string& options = {})
{
    return "Record\n{\n\tURL=\"" + url + "\"\n" + options + "}\n";
}

std::string ReadAll(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    return text;
}

std::string Replace(std::string text, const std::string& marker, const std::string& by)
{
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + by.size()))
        text.replace(at, marker.size(), by);
    return text;
}

// The program folder of the sessions the tests make, away from the user's.
class DataHome {
public:
    DataHome()
    {
        if (const char* old = std::getenv("XDG_DATA_HOME"))
            old_ = old;
        ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    }
    ~DataHome()
    {
        if (old_)
            ::setenv("XDG_DATA_HOME", old_->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

private:
    test::ScratchDir dir_;
    std::optional<std::string> old_;
};

} // namespace

TEST(HeadlessScheduler, DueTimersCrawlTheirItemsOneCrawlPerProject)
{
    struct Case {
        const char* intent;
        std::vector<Timer> timers;
        bool timerValid;
        int started;
        Files files;
        std::vector<std::string> outputHas; // "@ORIGIN@" stands for the server
    } cases[] = {
        {"a URL timer crawls its own item",
         {{"P", "P", "@ORIGIN@/"}},
         true, 1, {"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif"},
         {"[P] timer crawl: P/@ORIGIN@/", "[P] Complete @ORIGIN@/", "[P] detected="}},
        {"a folder timer crawls the items below the folder",
         {{"P", "P/F", ""}},
         true, 1, {"P/F/127.0.0.1/sub/b.html", "P/F/127.0.0.1/sub/c.html"}, {"[P] timer crawl: P/F"}},
        {"a timer of another minute starts nothing", {{"P", "P", "@ORIGIN@/", TimerDaily, 6}}, true, 0, {}, {}},
        {"weekly and monthly timers of this minute fire",
         {{"P", "P", "@ORIGIN@/", TimerWeekly}, {"Q", "Q/F", "", TimerMonthly}},
         true, 2, {"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif", "Q/F/127.0.0.1/sub/b.html", "Q/F/127.0.0.1/sub/c.html"}, {}},
        {"a second timer of a crawling project is dropped",
         {{"P", "P", "@ORIGIN@/"}, {"P", "P/F", ""}},
         true, 1, {"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif"},
         {"[P] timer dropped, the project is crawling: P/F"}},
        {"the same project under another spelling is dropped too",
         {{"P", "P", "@ORIGIN@/"}, {"P@", "P/F", ""}},
         true, 1, {"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif"}, {"timer dropped"}},
        {"two projects crawl side by side",
         {{"P", "P", "@ORIGIN@/"}, {"Q", "Q", "@ORIGIN@/"}},
         true, 2,
         {"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif", "Q/127.0.0.1/index.html", "Q/127.0.0.1/pic.gif"},
         {"[P] detected=", "[Q] detected="}},
        {"TimerValid 0 starts nothing", {{"P", "P", "@ORIGIN@/"}}, false, 0, {}, {}},
        {"selected mode crawls only the marked items",
         {{"P", "P", "", TimerDaily, 5, true}},
         true, 1, {"P/F/127.0.0.1/sub/c.html"}, {"[P] timer crawl (selected): P"}},
        {"an item that is gone starts nothing", {{"P", "P/Gone", ""}}, true, 0, {}, {}},
        {"a project that can't be opened starts nothing", {{"/nonexistent/X.prj", "X", ""}}, true, 0, {}, {}},
    };
    DataHome data;

    for (const auto& c : cases) {
        CrawlFixture f;
        f.Page("index.html", "<html><body><a href=\"a.html\">a</a><img src=\"pic.gif\"></body></html>");
        f.Page("a.html", "a");
        f.Page("pic.gif", "GIF89a");
        f.Page("sub/b.html", "<a href=\"c.html\">c</a>");
        f.Page("sub/c.html", "c");
        if (!NginxServer::Available())
            GTEST_SKIP() << "nginx not installed";
        ASSERT_TRUE(f.StartServer());
        const std::string folder = "Folder=\"F\"\n{\n" + Record("@ORIGIN@/sub/b.html")
            + Record("@ORIGIN@/sub/c.html", "\tPilotType=Selected\n") + "}\n";
        std::map<std::string, std::string> files{
            {"P", f.Project("P", Prj(Record("@ORIGIN@/") + folder))},
            {"Q", f.Project("Q", Prj(Record("@ORIGIN@/") + folder))},
        };
        const std::string& p = files["P"];
        files["P@"] = p.substr(0, p.rfind('/')) + "/./P.prj";

        HeadlessSession session;
        ASSERT_TRUE(session.settings().SetByName("MirrorDir", f.mirrorRoot()));
        ASSERT_TRUE(session.StartEngine());
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        HeadlessCrawlLauncher launcher(session, out);
        CTimerDoc doc([](const std::string&) { return true; });
        for (const Timer& t : c.timers) {
            TimerEntry e;
            e.file = files.count(t.project) ? files[t.project] : t.project;
            e.folder = t.folder;
            e.url = Replace(t.url, "@ORIGIN@", f.origin());
            e.kind = t.kind;
            e.day = 4;
            e.weekday = 2;
            e.hour = 9;
            e.minute = t.minute;
            e.selected = t.selected;
            doc.entries().push_back(e);
        }
        CTimerScheduler scheduler(doc, launcher, [&c] { return c.timerValid; });
        scheduler.OnSchedulerTick(ChosenTime());
        EXPECT_EQ(launcher.startedCount(), c.started) << c.intent;
        EXPECT_TRUE(test::RunUntil([&] { return launcher.runningCount() == 0; }, 60000)) << c.intent;
        EXPECT_EQ(f.MirrorFiles(), c.files) << c.intent;
        const std::string output = ReadAll(out);
        std::fclose(out);
        for (const std::string& has : c.outputHas)
            EXPECT_NE(output.find(Replace(has, "@ORIGIN@", f.origin())), std::string::npos)
                << c.intent << ": no \"" << has << "\" in\n" << output;
    }
}

TEST(HeadlessScheduler, StoppedCrawlsEndAndLaterTimersStartNothing)
{
    DataHome data;
    CrawlFixture f;
    std::string index;
    for (int i = 0; i < 40; ++i) {
        index += "<a href=\"p" + std::to_string(i) + ".html\">x</a>";
        f.Page("p" + std::to_string(i) + ".html", "page");
    }
    f.Page("index.html", index);
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    ASSERT_TRUE(f.StartServer());
    const std::string prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n}\n" + Record("@ORIGIN@/"));

    HeadlessSession session;
    ASSERT_TRUE(session.settings().SetByName("MirrorDir", f.mirrorRoot()));
    ASSERT_TRUE(session.StartEngine());
    std::FILE* out = std::tmpfile();
    HeadlessCrawlLauncher launcher(session, out);
    TimerEntry entry;
    entry.file = prj;
    entry.folder = "P";
    launcher.LaunchTimerCrawl(entry);
    launcher.StopAll();
    EXPECT_TRUE(test::RunUntil([&] { return launcher.runningCount() == 0; }, 60000));
    // The stop left work behind: fewer pages than the site has.
    EXPECT_LT(f.MirrorFiles().size(), 41u);
    launcher.LaunchTimerCrawl(entry);
    EXPECT_EQ(launcher.startedCount(), 1);
    EXPECT_EQ(launcher.runningCount(), 0);
    std::fclose(out);
}
