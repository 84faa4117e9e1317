#pragma once
// qry --scheduler: the crawl timers run without windows, for a session
// without a desktop or a user service. Each due timer opens its project,
// crawls its item the way `qry --crawl FILE --item PATH` would, and closes
// the project when that crawl ends. The run lasts until SIGINT or SIGTERM,
// which stops the running crawls resumably and ends with ExitStopped.
//
// Two environment variables exist for the end-to-end tests, so that they
// need not wait for real minutes:
//   ORMBROOK_SCHEDULER_TICK_MS  milliseconds between looks at the clock
//                               (default one minute)
//   ORMBROOK_SCHEDULER_START    the start time Interval timers count from,
//                               in seconds since the epoch (default now)

#include "shell/command_line.h"
#include "shell/timer_scheduler.h"

#include <QObject>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ormbrook {

class DialupManager;
class HeadlessSession;
class AlwaysConnectedService;

// Starts timer crawls on the session's engine thread and prints their
// progress, each line prefixed by the project's name. Several projects may
// crawl at once; one project crawls once at a time.
class HeadlessCrawlLauncher : public QObject, public CrawlLauncher {
public:
    // The session's engine must be running.
    HeadlessCrawlLauncher(HeadlessSession& session, std::FILE* out, QObject* parent = nullptr);
    ~HeadlessCrawlLauncher() override;

    void LaunchTimerCrawl(const TimerEntry& entry) override;

    // Stops every running crawl so that its next run resumes it; timers
    // that fire afterwards start nothing.
    void StopAll();

    bool IsCrawling(const std::string& projectFile) const;
    int runningCount() const { return static_cast<int>(running_.size()); }
    // Crawls started since construction (dropped timers don't count).
    int startedCount() const { return started_; }

    // Runs after a crawl has ended and its project was closed.
    std::function<void()> onCrawlClosed;

    // The item path of the entry, as --item names it.
    static std::string ItemPath(const TimerEntry& entry);

private:
    struct RunningCrawl;
    void CrawlOver(const std::string& key);

    HeadlessSession& session_;
    std::FILE* out_;
    std::unique_ptr<AlwaysConnectedService> dialService_;
    std::unique_ptr<DialupManager> dialup_;
    std::map<std::string, std::unique_ptr<RunningCrawl>> running_;
    bool stopping_ = false;
    int started_ = 0;
};

// Needs a QCoreApplication.
int RunHeadlessScheduler(const CommandLine& line);

} // namespace ormbrook
