#include "shell/timer_doc.h"
#include "shell/record_line_reader.h"

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace ormbrook;
using ormbrook::test::ScratchDir;

namespace {

// Project files whose path mentions "gone" have vanished.
CTimerDoc MakeDoc()
{
    return CTimerDoc([](const std::string& p) { return p.find("gone") == std::string::npos; });
}

TimerEntry Timer(int16_t kind, int16_t day, int16_t wd, int16_t h, int16_t m, int16_t lead, int16_t iv, uint8_t sel,
    std::string file = "/p/a.prj", std::string url = "")
{
    TimerEntry t;
    t.file = std::move(file);
    t.folder = "A/B";
    t.url = std::move(url);
    t.kind = kind;
    t.day = day, t.weekday = wd, t.hour = h, t.minute = m;
    t.intervalLead = lead, t.intervalMinutes = iv, t.selected = sel;
    return t;
}

std::string ReadAll(const std::string& path)
{
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

} // namespace

TEST(TimerFile, ReadsRecordsByTheFieldRules)
{
    struct Row {
        const char* name;
        std::string text;
        std::vector<TimerEntry> expected;
        std::vector<int> unread = {};
    };
    const TimerEntry daily = Timer(TimerDaily, 0, 0, 7, 30, 0, 0, 0);
    const Row rows[] = {
        {"daily_example", "/p/a.prj|A/B|||Daily|07:30|Default\r\n", {daily}},
        {"monthly_selected", "/p/a.prj|A/B|http://h/||Monthly|05:07:09|Selected\r\n",
            {Timer(TimerMonthly, 5, 0, 7, 9, 0, 0, 1, "/p/a.prj", "http://h/")}},
        {"weekly_wednesday", "/p/a.prj|A/B|||Weekly|Wed:09:05|Default\r\n", {Timer(TimerWeekly, 0, 2, 9, 5, 0, 0, 0)}},
        {"interval_keeps_lead", "/p/a.prj|A/B|||Interval|3:120|Default\r\n", {Timer(TimerInterval, 0, 0, 0, 0, 3, 120, 0)}},
        {"misspelt_or_empty_mode_is_default",
            "/p/a.prj|A/B|||Daily|07:30|Defalut\r\n/p/a.prj|A/B|||Daily|07:30|\r\n/p/a.prj|A/B|||Daily|07:30|selected\r\n",
            {daily, daily, daily}},
        {"blanks_before_fields_tab_ends_text", " /p/a.prj\t | \tA/B| | | Daily | 07 : 30 |  Default  \r\n", {daily}},
        {"no_digits_reads_zero", "/p/a.prj|A/B|||Daily|:30|Default\r\n", {Timer(TimerDaily, 0, 0, 0, 30, 0, 0, 0)}},
        {"bare_lf_and_missing_last_end", "/p/a.prj|A/B|||Daily|07:30|Default\n/p/a.prj|A/B|||Daily|07:30|Default",
            {daily, daily}},
        {"malformed_fourth_line_left_out_the_rest_read",
            "/p/a.prj|A/B|||Daily|07:30|Default\r\n/p/gone.prj|A/B|||Daily|07:30|Default\r\n"
            "/p/a.prj|A/B|||Daily|07:30|Default\r\n/p/a.prj|A/B|||Sometimes|07:30|Default\r\n"
            "/p/a.prj|A/B|||Daily|07:30|Default\r\n",
            {daily, daily, daily}, {4}},
        {"kind_case_matters", "/p/a.prj|A/B|||daily|07:30|Default\r\n", {}, {1}},
        {"weekday_too_long", "/p/a.prj|A/B|||Weekly|Wedn:09:05|Default\r\n", {}, {1}},
        {"when_separator_missing", "/p/a.prj|A/B|||Monthly|05-07:09|Default\r\n", {}, {1}},
        {"line_ends_early", "/p/a.prj|A/B|\r\n", {}, {1}},
        {"text_after_mode", "/p/a.prj|A/B|||Daily|07:30|Default x\r\n", {}, {1}},
        {"url_over_limit", "/p/a.prj|A/B|http://h/" + std::string(250, 'x') + "||Daily|07:30|Default\r\n", {}, {1}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTimerDoc doc = MakeDoc();
        doc.Parse(r.text);
        EXPECT_TRUE(doc.entries() == r.expected);
        EXPECT_EQ(doc.unreadLines(), r.unread);
    }
    EXPECT_EQ(UnreadLinesText("/x/QRY.tmf", {4}), "line 4 of /x/QRY.tmf can't be read and was left out");
}

TEST(TimerFile, WritesEachKindInItsFormAndReadsItBack)
{
    CTimerDoc doc = MakeDoc();
    TimerEntry weekly = Timer(TimerWeekly, 0, 6, 23, 0, 0, 0, 1, "/p/a.prj", "http://h/x.html");
    weekly.title = "Title";
    doc.entries() = {Timer(TimerMonthly, 3, 0, 4, 5, 0, 0, 0), weekly, Timer(TimerDaily, 0, 0, 7, 30, 0, 0, 0, "/p/gone.prj"),
        Timer(TimerInterval, 0, 0, 0, 0, 2, 1440, 0), Timer(TimerDaily, 0, 0, 1, 2, 0, 0, 0, "/p/a|b.prj")};
    EXPECT_EQ(doc.Serialize(),
        "/p/a.prj|A/B|||Monthly|03:04:05|Default\r\n"
        "/p/a.prj|A/B|http://h/x.html|Title|Weekly|Sun:23:00|Selected\r\n"
        "/p/gone.prj|A/B|||Daily|07:30|Default\r\n"
        "/p/a.prj|A/B|||Interval|2:1440|Default\r\n"); // a path with "|" would break the records after it

    CTimerDoc back = MakeDoc();
    back.Parse(doc.Serialize());
    std::vector<TimerEntry> expected = doc.entries();
    expected.erase(expected.begin() + 4);
    expected.erase(expected.begin() + 2);
    EXPECT_TRUE(back.entries() == expected);
}

TEST(TimerFile, LoadCreatesTheFileAndAnAddedTimerIsSavedAtOnce)
{
    ScratchDir dir;
    CTimerDoc doc = MakeDoc();
    ASSERT_TRUE(doc.Load(dir.file("QRY")));
    EXPECT_EQ(ReadAll(dir.file("QRY.tmf")), "");
    ASSERT_TRUE(doc.SetItemTimer("/p/a.prj", "A", "", {true, TimerDaily, 1, 0, 7, 30, 10, false}));
    EXPECT_EQ(ReadAll(dir.file("QRY.tmf")), "/p/a.prj|A|||Daily|07:30|Default\r\n");

    const std::string tooLong = dir.path() + std::string(253 - dir.path().size(), 'x');
    EXPECT_FALSE(doc.Load(tooLong));
    EXPECT_FALSE(doc.Save(tooLong));
    EXPECT_TRUE(doc.Save(tooLong.substr(0, 252)));
}

TEST(TimerItems, SetItemTimerBoundsTheValues)
{
    struct Row {
        const char* name;
        TimerSettings page;
        int16_t day, hour, minute, interval;
    };
    const Row rows[] = {
        {"interval_5_stored_as_10", {true, TimerInterval, 1, 0, 0, 0, 5}, 1, 0, 0, 10},
        {"day_0_stored_as_1", {true, TimerMonthly, 0, 0, 3, 4, 10}, 1, 3, 4, 10},
        {"values_above_bounds", {true, TimerMonthly, 32, 0, 24, 60, 5000}, 31, 23, 59, 1440},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTimerDoc doc = MakeDoc();
        ASSERT_TRUE(doc.SetItemTimer("/p/a.prj", "A", "http://h/", r.page));
        ASSERT_EQ(doc.entries().size(), 1u);
        const TimerEntry& e = doc.entries()[0];
        EXPECT_EQ(std::vector<int>({e.day, e.hour, e.minute, e.intervalMinutes}),
            std::vector<int>({r.day, r.hour, r.minute, r.interval}));
    }
}

TEST(TimerItems, OneEntryPerItemAndDeletionTakesTheSubtree)
{
    CTimerDoc doc = MakeDoc();
    const TimerSettings on{true, TimerDaily, 1, 0, 6, 0, 10, false};
    for (const char* folder : {"P", "P/A", "P/A/C", "P/AB"})
        doc.SetItemTimer("/p/a.prj", folder, "", on);
    doc.SetItemTimer("/p/a.prj", "P/A", "http://h/1", on);
    doc.SetItemTimer("/p/b.prj", "P/A", "", on);
    doc.SetItemTimer("/p/a.prj", "P", "", {true, TimerDaily, 1, 0, 8, 0, 10, false}); // replaces, moves to the end
    ASSERT_EQ(doc.entries().size(), 6u);
    EXPECT_EQ(doc.entries().back().hour, 8);
    doc.SetItemTimer("/p/a.prj", "P/AB", "", {});  // switched off
    EXPECT_EQ(doc.FindItem("/p/a.prj", "P/AB", ""), nullptr);
    EXPECT_FALSE(doc.SetItemTimer("/p/a\r\nb.prj", "P", "", on));

    doc.RemoveItemEntries("/p/a.prj", "P/A", "http://h/1");
    EXPECT_EQ(doc.entries().size(), 4u);
    doc.RemoveItemEntries("/p/a.prj", "P/A", "");
    std::vector<std::string> left;
    for (const TimerEntry& e : doc.entries())
        left.push_back(e.file + ":" + e.folder);
    EXPECT_EQ(left, (std::vector<std::string>{"/p/b.prj:P/A", "/p/a.prj:P"}));
}
