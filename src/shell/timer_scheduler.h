#pragma once
// The scheduler: once a minute it looks at the clock and starts the crawl of
// every timer that is due. Starting a crawl is the job of whoever owns the
// project windows (the main window, or the headless scheduler of the command
// line), reached through CrawlLauncher.

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
