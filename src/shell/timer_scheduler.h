#pragma once
// The scheduler: once a minute it looks at the clock and starts the crawl of
// every timer that is due. Starting a crawl is the job of whoever owns the
// project windows (the main window, or the headless scheduler of the command
// line), reached through CrawlLauncher.

#include "platform/named_lock.h"
#include "shell/timer_doc.h"

#include <QBasicTimer>
#include <QObject>

#include <ctime>
#include <functional>

namespace ormbrook {

class CrawlLauncher {
public:
    virtual ~CrawlLauncher() = default;
    // Opens the entry's project as File Open does (a project already open is
    // brought forward) and asks it to crawl the entry's item, in selected mode
    // when entry.selected is 1. A project that is crawling drops the request;
    // a project that can't be opened ends the matter.
    virtual void LaunchTimerCrawl(const TimerEntry& entry) = 0;
};

constexpr int kSchedulerTickMs = 60000;

// One program of a user runs the crawl timers, so that no timer crawls
// twice: the desktop program or qry --scheduler (the user service),
// whichever holds the lock of this name. The other leaves the timers alone
// and takes them over once the holder has ended.
extern const char kTimerLockName[];

class TimerTurn {
public:
    // `changed` is told whenever this program gets the timers (true) or
    // finds them run by another (false), the first time included.
    explicit TimerTurn(std::function<void(bool mine)> changed, std::string lockName = kTimerLockName);
    // Takes the lock when it is free. True while the timers are this
    // program's to run.
    bool Hold();

private:
    NamedLock lock_;
    std::function<void(bool)> changed_;
    int said_ = -1;
};

class CTimerScheduler : public QObject {
public:
    // timerValid answers the master switch at each tick.
    CTimerScheduler(CTimerDoc& doc, CrawlLauncher& launcher, std::function<bool()> timerValid);

    // Remembers the start time (for Interval timers) and starts the minute
    // tick; a shorter tick is for tests that can't wait for real minutes.
    void StartScheduler(std::time_t now, int tickMs = kSchedulerTickMs);
    void StopScheduler();

    // One look at the clock: fires every due entry, in list order. Returns the
    // number of entries fired.
    int OnSchedulerTick(std::time_t now);

    // Hands a copy of the entry to the launcher, so the list may change while
    // the crawl is being set up.
    void FireTimer(const TimerEntry& entry);

    // Whether the entry is due in the minute of 'now' (local time), for a
    // scheduler started at 'start'.
    static bool IsDue(const TimerEntry& entry, std::time_t now, std::time_t start);

    std::time_t startTime() const { return start_; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    CTimerDoc& doc_;
    CrawlLauncher& launcher_;
    std::function<bool()> timerValid_;
    std::time_t start_ = 0;
    QBasicTimer tick_;
};

} // namespace ormbrook
