#include "shell/timer_scheduler.h"

#include "support/env_scope.h"

#include <gtest/gtest.h>

using namespace ormbrook;

namespace {

struct RecordingLauncher : CrawlLauncher {
    std::vector<TimerEntry> launched;
    void LaunchTimerCrawl(const TimerEntry& e) override { launched.push_back(e); }
};

// A local time; 2026-12-09 is a Wednesday.
std::time_t Local(int year, int month, int day, int hour, int minute, int second = 0)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TimerEntry Timer(int16_t kind, int16_t day, int16_t weekday, int16_t hour, int16_t minute, int16_t interval = 0)
{
    TimerEntry e;
    e.file = "/p/a.prj";
    e.folder = "P";
    e.kind = kind;
    e.day = day;
    e.weekday = weekday;
    e.hour = hour;
    e.minute = minute;
    e.intervalMinutes = interval;
    return e;
}

} // namespace

TEST(Scheduler, EntryIsDueOnlyInItsMinute)
{
    const std::time_t start = Local(2026, 12, 1, 0, 0);
    struct Row {
        const char* name;
        TimerEntry entry;
        std::time_t now;
        bool due;
    };
    const Row rows[] = {
        {"weekly_wed_at_start_of_minute", Timer(TimerWeekly, 0, 2, 9, 5), Local(2026, 12, 9, 9, 5, 0), true},
        {"weekly_wed_at_end_of_minute", Timer(TimerWeekly, 0, 2, 9, 5), Local(2026, 12, 9, 9, 5, 59), true},
        {"weekly_wed_next_minute", Timer(TimerWeekly, 0, 2, 9, 5), Local(2026, 12, 9, 9, 6, 0), false},
        {"weekly_wed_on_thursday", Timer(TimerWeekly, 0, 2, 9, 5), Local(2026, 12, 10, 9, 5), false},
        {"weekly_sunday_is_six", Timer(TimerWeekly, 0, 6, 9, 5), Local(2026, 12, 13, 9, 5), true},
        {"monthly_on_its_day", Timer(TimerMonthly, 15, 0, 23, 59), Local(2026, 12, 15, 23, 59), true},
        {"monthly_next_day", Timer(TimerMonthly, 15, 0, 23, 59), Local(2026, 12, 16, 23, 59), false},
        {"daily_any_day", Timer(TimerDaily, 0, 0, 7, 30), Local(2026, 12, 20, 7, 30, 30), true},
        {"interval_before_first_period", Timer(TimerInterval, 0, 0, 0, 0, 10), start + 599, false},
        {"interval_first_period", Timer(TimerInterval, 0, 0, 0, 0, 10), start + 600, true},
        {"interval_first_period_last_second", Timer(TimerInterval, 0, 0, 0, 0, 10), start + 659, true},
        {"interval_past_first_period", Timer(TimerInterval, 0, 0, 0, 0, 10), start + 660, false},
        {"interval_second_period", Timer(TimerInterval, 0, 0, 0, 0, 10), start + 1230, true},
        {"interval_zero_never", Timer(TimerInterval, 0, 0, 0, 0, 0), start + 600, false},
        {"interval_clock_behind_start", Timer(TimerInterval, 0, 0, 0, 0, 10), start - 600, false},
        {"unknown_kind_never", Timer(9, 9, 2, 9, 5), Local(2026, 12, 9, 9, 5), false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(CTimerScheduler::IsDue(r.entry, r.now, start), r.due);
    }
}

TEST(Scheduler, TickFiresEveryDueEntryInListOrderOnlyWhenTimersAreOn)
{
    CTimerDoc doc([](const std::string&) { return true; });
    TimerEntry a = Timer(TimerDaily, 0, 0, 9, 5);
    a.url = "http://h/a";
    TimerEntry b = Timer(TimerDaily, 0, 0, 9, 6);
    TimerEntry c = Timer(TimerWeekly, 0, 2, 9, 5);
    c.selected = 1;
    doc.entries() = {a, b, c};

    bool valid = false;
    RecordingLauncher launcher;
    CTimerScheduler scheduler(doc, launcher, [&] { return valid; });
    scheduler.StartScheduler(Local(2026, 12, 9, 8, 0));

    EXPECT_EQ(scheduler.OnSchedulerTick(Local(2026, 12, 9, 9, 5, 12)), 0);
    EXPECT_TRUE(launcher.launched.empty());

    valid = true;
    EXPECT_EQ(scheduler.OnSchedulerTick(Local(2026, 12, 9, 9, 5, 12)), 2);
    EXPECT_EQ(launcher.launched, (std::vector<TimerEntry>{a, c}));
    scheduler.StopScheduler();
}

TEST(Scheduler, OneProgramRunsTheTimersAndTheOtherTakesThemOverWhenItEnds)
{
    ormbrook::test::RuntimeScope runtime; // the lock files in a scratch folder
    std::vector<std::string> said;
    auto first = std::make_unique<TimerTurn>([&](bool mine) { said.push_back(mine ? "1 mine" : "1 left"); });
    TimerTurn second([&](bool mine) { said.push_back(mine ? "2 mine" : "2 left"); });
    EXPECT_TRUE(first->Hold());
    EXPECT_FALSE(second.Hold());
    EXPECT_FALSE(second.Hold()) << "said once";
    EXPECT_TRUE(first->Hold());
    first.reset();
    EXPECT_TRUE(second.Hold());
    EXPECT_EQ(said, (std::vector<std::string>{"1 mine", "2 left", "2 mine"}));
}
