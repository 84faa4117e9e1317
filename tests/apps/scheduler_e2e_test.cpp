// qry --scheduler as its own process: the timer list in its program folder,
// a shortened tick and an early start time so that an Interval timer is due
// at once, and a signal to end it.

#include "platform/named_lock.h"
#include "shell/timer_doc.h"
#include "shell/timer_scheduler.h"
#include "support/crawl_fixture.h"
#include "support/env_scope.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using ormbrook::CTimerDoc;
using ormbrook::TimerEntry;
using ormbrook::test::CrawlFixture;
using ormbrook::test::NginxServer;

namespace {

// The hooks that spare the tests real minutes, set for the qry they start.
class SchedulerClock {
public:
    explicit SchedulerClock(std::time_t start)
    {
        ::setenv("ORMBROOK_SCHEDULER_START", std::to_string(start).c_str(), 1);
        ::setenv("ORMBROOK_SCHEDULER_TICK_MS", "100", 1);
    }
    ~SchedulerClock()
    {
        ::unsetenv("ORMBROOK_SCHEDULER_START");
        ::unsetenv("ORMBROOK_SCHEDULER_TICK_MS");
    }
};

std::string TimerBase(const CrawlFixture& f) { return f.dataHome() + "/Ormbrook/QRY"; }

// True once `ms` have passed since `text` first appeared in the output.
std::function<bool(const std::string&)> AfterSeeing(const std::string& text, int ms)
{
    auto seen = std::make_shared<QElapsedTimer>();
    return [=](const std::string& out) {
        if (!seen->isValid() && out.find(text) != std::string::npos)
            seen->start();
        return seen->isValid() && seen->elapsed() >= ms;
    };
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A timer list of one ten-minute interval timer for the project's folder P
// (or its record url).
bool SaveIntervalTimer(CrawlFixture& f, const std::string& prj, const std::string& url = {})
{
    std::filesystem::create_directories(f.dataHome() + "/Ormbrook");
    CTimerDoc doc;
    TimerEntry entry;
    entry.file = prj;
    entry.folder = "P";
    entry.url = url;
    entry.kind = ormbrook::TimerInterval;
    entry.intervalMinutes = 10;
    doc.entries().push_back(entry);
    return doc.Save(TimerBase(f));
}

} // namespace

TEST(SchedulerEndToEnd, DueIntervalTimerCrawlsUntilASignalStopsIt)
{
    CrawlFixture f;
    f.Page("index.html", "<html><body><img src=\"pic.gif\"></body></html>");
    f.Page("pic.gif", "GIF89a");
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    ASSERT_TRUE(f.StartServer());
    const std::string prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=0\n}\nRecord\n{\n\tURL=\"@ORIGIN@/\"\n}\n");

    ASSERT_TRUE(SaveIntervalTimer(f, prj, f.origin() + "/"));

    // Started ten minutes ago: the interval is due in this minute, at
    // every tick, so the timer fires again each time the crawl has ended.
    SchedulerClock clock(std::time(nullptr) - 600);
    auto run = f.RunAndInterruptWhen({"--scheduler"}, {},
                                     [](const std::string& out) { return Count(out, "[P] detected=") >= 2; });
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(f.MirrorFiles(), (std::set<std::string>{"P/127.0.0.1/index.html", "P/127.0.0.1/pic.gif"}));
    EXPECT_NE(run.out.find("[P] timer crawl: P/" + f.origin() + "/"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[P] Complete " + f.origin() + "/pic.gif"), std::string::npos) << run.out;
    EXPECT_GE(f.CountRequests("GET / "), 1) << run.out;
}

TEST(SchedulerEndToEnd, NothingFiresAndTheSignalEndsTheRun)
{
    struct Case {
        const char* intent;
        bool writeTimer;
        std::map<std::string, std::string> settings;
    } cases[] = {
        {"TimerValid 0 fires nothing", true, {{"TimerValid", "0"}}},
        {"a missing timer list is created empty", false, {}},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        f.Page("index.html", "top");
        if (!NginxServer::Available())
            GTEST_SKIP() << "nginx not installed";
        ASSERT_TRUE(f.StartServer());
        const std::string prj = f.Project("P", "Record\n{\n\tURL=\"@ORIGIN@/\"\n}\n");
        if (c.writeTimer) {
            ASSERT_TRUE(SaveIntervalTimer(f, prj));
        }
        SchedulerClock clock(std::time(nullptr) - 600);
        // Ten ticks go by before the signal.
        auto run = f.RunAndInterruptWhen({"--scheduler"}, c.settings, AfterSeeing("qry: scheduler running", 1000));
        EXPECT_EQ(run.exitCode, 3) << c.intent << run.err;
        EXPECT_TRUE(f.Requests().empty()) << c.intent;
        EXPECT_EQ(run.out.find("timer crawl"), std::string::npos) << c.intent << run.out;
        EXPECT_TRUE(std::filesystem::exists(TimerBase(f) + ".tmf")) << c.intent;
    }
}

// The user service runs what its ExecStart says; while another program (the
// desktop program) holds the timers it leaves them, and takes them over
// once that program has let go.
TEST(SchedulerEndToEnd, TheServicesCommandLeavesTheTimersToTheDesktopProgramUntilItEnds)
{
    std::ifstream unit(std::string(ORMBROOK_BINARY_DIR) + "/apps/ormbrook-scheduler.service");
    ASSERT_TRUE(unit);
    std::string line, execStart;
    bool stopIsSuccess = false;
    while (std::getline(unit, line)) {
        if (line.rfind("ExecStart=", 0) == 0)
            execStart = line.substr(10);
        stopIsSuccess |= line == "SuccessExitStatus=3";
    }
    EXPECT_TRUE(stopIsSuccess) << "a stop by SIGTERM ends with 3";
    std::istringstream words(execStart);
    std::string program;
    words >> program;
    EXPECT_EQ(program.substr(program.rfind('/')), "/qry") << execStart;
    EXPECT_EQ(program[0], '/') << "systemd wants an absolute path";
    std::vector<std::string> args;
    for (std::string w; words >> w;)
        args.push_back(w);
    ASSERT_EQ(args, std::vector<std::string>{"--scheduler"});

    CrawlFixture f;
    f.Page("index.html", "top");
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    ASSERT_TRUE(f.StartServer());
    const std::string prj = f.Project("P", "Record\n{\n\tURL=\"@ORIGIN@/\"\n}\n");
    ASSERT_TRUE(SaveIntervalTimer(f, prj));

    // The lock in the runtime folder that qry is given.
    const std::string runtime = f.dataHome().substr(0, f.dataHome().rfind('/')) + "/run";
    ::mkdir(runtime.c_str(), 0700);
    ormbrook::test::EnvScope env("XDG_RUNTIME_DIR", runtime);
    auto desktop = std::make_unique<ormbrook::NamedLock>(ormbrook::kTimerLockName);
    ASSERT_TRUE(desktop->TryAcquire());
    SchedulerClock clock(std::time(nullptr) - 600);
    auto leftFor = AfterSeeing("they are left to it", 1000);
    size_t requestsWhileLeft = 0;
    auto run = f.RunAndInterruptWhen(args, {}, [&](const std::string& out) {
        if (desktop && leftFor(out)) {
            requestsWhileLeft = f.Requests().size();
            desktop.reset(); // the desktop program ends
        }
        return Count(out, "[P] detected=") >= 1;
    });
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(requestsWhileLeft, 0u) << run.out;
    const size_t left = run.out.find("qry: the timers are run by another program (the desktop program");
    const size_t taken = run.out.find("qry: the timers are run here");
    EXPECT_NE(left, std::string::npos) << run.out;
    EXPECT_NE(taken, std::string::npos) << run.out;
    EXPECT_LT(left, taken) << run.out;
    EXPECT_LT(taken, run.out.find("[P] timer crawl")) << run.out;
}
