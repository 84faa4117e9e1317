#include "shell/timer_scheduler.h"

#include <QTimerEvent>

namespace ormbrook {

const char kTimerLockName[] = "Ormbrook Timers";

TimerTurn::TimerTurn(std::function<void(bool)> changed, std::string lockName)
    : lock_(std::move(lockName)), changed_(std::move(changed))
{
}

bool TimerTurn::Hold()
{
    const bool mine = lock_.TryAcquire();
    if (said_ != int(mine)) {
        said_ = int(mine);
        if (changed_)
            changed_(mine);
    }
    return mine;
}

CTimerScheduler::CTimerScheduler(CTimerDoc& doc, CrawlLauncher& launcher, std::function<bool()> timerValid)
    : doc_(doc), launcher_(launcher), timerValid_(std::move(timerValid))
{
}

void CTimerScheduler::StartScheduler(std::time_t now, int tickMs)
{
    start_ = now;
    tick_.start(tickMs, this);
}

void CTimerScheduler::StopScheduler() { tick_.stop(); }

void CTimerScheduler::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == tick_.timerId())
        OnSchedulerTick(std::time(nullptr));
    else
        QObject::timerEvent(event);
}

bool CTimerScheduler::IsDue(const TimerEntry& e, std::time_t now, std::time_t start)
{
    std::tm local{};
    if (!localtime_r(&now, &local))
        return false;
    const int weekday = (local.tm_wday + 6) % 7; // the list counts from Monday
    switch (e.kind) {
    case TimerMonthly:
        return e.day == local.tm_mday && e.hour == local.tm_hour && e.minute == local.tm_min;
    case TimerWeekly:
        return e.weekday == weekday && e.hour == local.tm_hour && e.minute == local.tm_min;
    case TimerDaily:
        return e.hour == local.tm_hour && e.minute == local.tm_min;
    case TimerInterval: {
        // A hand-edited interval of 0 would divide by zero, and a clock set
        // back before the start would make every tick due.
        if (e.intervalMinutes <= 0 || now < start)
            return false;
        const std::time_t period = std::time_t(e.intervalMinutes) * 60;
        return (now - start) % period < 60;
    }
    default:
        return false;
    }
}

int CTimerScheduler::OnSchedulerTick(std::time_t now)
{
    if (timerValid_ && !timerValid_())
        return 0;
    // Collect first: a launcher may open a project whose load edits the list.
    std::vector<TimerEntry> due;
    for (const TimerEntry& e : doc_.entries())
        if (IsDue(e, now, start_))
            due.push_back(e);
    for (const TimerEntry& e : due)
        FireTimer(e);
    return int(due.size());
}

void CTimerScheduler::FireTimer(const TimerEntry& entry) { launcher_.LaunchTimerCrawl(entry); }

} // namespace ormbrook
