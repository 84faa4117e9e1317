#include "shell/timer_doc.h"

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

TimerEntry Entry(std::string file, std::string folder, std::string url, int16_t kind)
{
    TimerEntry e;
    e.file = std::move(file);
    e.folder = std::move(folder);
    e.url = std::move(url);
    e.kind = kind;
    return e;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

namespace ormbrook {
void PrintTo(const TimerEntry& e, std::ostream* os)
{
    *os << e.file << "|" << e.folder << "|" << e.url << "|" << e.title << "| kind " << e.kind << " day " << e.day
        << " wd " << e.weekday << " " << e.hour << ":" << e.minute << " lead " << e.intervalLead << " iv "
        << e.intervalMinutes << " sel " << int(e.selected);
}
} // namespace ormbrook

TEST(TimerFile, ReadsRecordsByTheFieldRules)
{
    struct Row {
        const char* name;
        const char* text;
        size_t count;
        TimerEntry first; // checked when count > 0
    };
    auto e = [](int16_t kind, int16_t day, int16_t wd, int16_t h, int16_t m, int16_t lead, int16_t iv, uint8_t sel,
                 const char* url = "", const char* title = "") {
        TimerEntry t = Entry("/p/a.prj", "A/B", url, kind);
        t.title = title;
        t.day = day;
        t.weekday = wd;
        t.hour = h;
        t.minute = m;
        t.intervalLead = lead;
        t.intervalMinutes = iv;
        t.selected = sel;
        return t;
    };
    const Row rows[] = {
        {"daily_example", "/p/a.prj|A/B|||Daily|07:30|Default\r\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"monthly_selected", "/p/a.prj|A/B|http://h/|T|Monthly|05:07:09|Selected\r\n", 1,
            e(1, 5, 0, 7, 9, 0, 0, 1, "http://h/", "T")},
        {"weekly_wednesday", "/p/a.prj|A/B|||Weekly|Wed:09:05|Default\r\n", 1, e(2, 0, 2, 9, 5, 0, 0, 0)},
        {"weekly_sunday_is_six", "/p/a.prj|A/B|||Weekly|Sun:00:00|Default\r\n", 1, e(2, 0, 6, 0, 0, 0, 0, 0)},
        {"interval_keeps_lead", "/p/a.prj|A/B|||Interval|3:120|Default\r\n", 1, e(4, 0, 0, 0, 0, 3, 120, 0)},
        {"misspelt_mode_is_default", "/p/a.prj|A/B|||Daily|07:30|Defalut\r\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"empty_mode_is_default", "/p/a.prj|A/B|||Daily|07:30|\r\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"mode_case_matters", "/p/a.prj|A/B|||Daily|07:30|selected\r\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"blanks_before_fields", "  /p/a.prj| \tA/B| | |  Daily | 07 : 30 |  Selected  \r\n", 1,
            e(3, 0, 0, 7, 30, 0, 0, 1)},
        {"tab_ends_text_field", "/p/a.prj\t |A/B|||Daily|07:30|Default\r\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"no_digits_reads_zero", "/p/a.prj|A/B|||Daily|:30|Default\r\n", 1, e(3, 0, 0, 0, 30, 0, 0, 0)},
        {"bare_lf_line_end", "/p/a.prj|A/B|||Daily|07:30|Default\n", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"last_line_without_end", "/p/a.prj|A/B|||Daily|07:30|Default", 1, e(3, 0, 0, 7, 30, 0, 0, 0)},
        {"huge_number_held", "/p/a.prj|A/B|||Interval|0:99999999999999999999|Default\r\n", 1,
            e(4, 0, 0, 0, 0, 0, 32767, 0)},
        {"kind_case_matters", "/p/a.prj|A/B|||daily|07:30|Default\r\n", 0, {}},
        {"unknown_kind_refused", "/p/a.prj|A/B|||Yearly|07:30|Default\r\n", 0, {}},
        {"weekday_too_long", "/p/a.prj|A/B|||Weekly|Wedn:09:05|Default\r\n", 0, {}},
        {"weekday_unknown", "/p/a.prj|A/B|||Weekly|Xyz:09:05|Default\r\n", 0, {}},
        {"weekday_missing", "/p/a.prj|A/B|||Weekly|09:05|Default\r\n", 0, {}},
        {"spec_separator_missing", "/p/a.prj|A/B|||Monthly|05-07:09|Default\r\n", 0, {}},
        {"line_ends_early", "/p/a.prj|A/B|\r\n", 0, {}},
        {"text_after_mode", "/p/a.prj|A/B|||Daily|07:30|Default x\r\n", 0, {}},
        {"field_after_mode", "/p/a.prj|A/B|||Daily|07:30|Default|\r\n", 0, {}},
        {"lone_cr", "/p/a.prj|A/B|||Daily|07:30|Default\r", 0, {}},
        {"url_over_limit", ("/p/a.prj|A/B|http://h/" + std::string(250, 'x') + "||Daily|07:30|Default\r\n").c_str(),
            0, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTimerDoc doc = MakeDoc();
        doc.Parse(r.text);
        ASSERT_EQ(doc.entries().size(), r.count);
        if (r.count) {
            EXPECT_EQ(doc.entries()[0], r.first);
        }
    }
}

TEST(TimerFile, MalformedRecordEndsTheReadingVanishedProjectIsSkipped)
{
    const std::string text = "/p/a.prj|A|||Daily|01:00|Default\r\n"
                             "/p/gone.prj|A|||Daily|02:00|Default\r\n"
                             "/p/b.prj|B|||Daily|03:00|Default\r\n"
                             "/p/c.prj|C|||Sometimes|04:00|Default\r\n"
                             "/p/d.prj|D|||Daily|05:00|Default\r\n";
    CTimerDoc doc = MakeDoc();
    doc.Parse(text);
    ASSERT_EQ(doc.entries().size(), 2u);
    EXPECT_EQ(doc.entries()[0].file, "/p/a.prj");
    EXPECT_EQ(doc.entries()[1].file, "/p/b.prj");
}

TEST(TimerFile, WritesEachKindInItsOwnForm)
{
    CTimerDoc doc = MakeDoc();
    TimerEntry m = Entry("F", "D", "", TimerMonthly);
    m.day = 3, m.hour = 4, m.minute = 5;
    TimerEntry w = Entry("F", "D", "http://h/x.html", TimerWeekly);
    w.weekday = 6, w.hour = 23, w.minute = 0, w.selected = 1, w.title = "Title";
    TimerEntry d = Entry("F", "D", "", TimerDaily);
    d.hour = 7, d.minute = 30;
    TimerEntry i = Entry("F", "D", "", TimerInterval);
    i.intervalMinutes = 1440;
    doc.entries() = {m, w, d, i};
    EXPECT_EQ(doc.Serialize(),
        "F|D|||Monthly|03:04:05|Default\r\n"
        "F|D|http://h/x.html|Title|Weekly|Sun:23:00|Selected\r\n"
        "F|D|||Daily|07:30|Default\r\n"
        "F|D|||Interval|0:1440|Default\r\n");
}

TEST(TimerFile, WriteAndReadBackGivesTheSameTimers)
{
    CTimerDoc doc = MakeDoc();
    TimerEntry a = Entry("/p/a.prj", "A", "http://h/", TimerWeekly);
    a.weekday = 2, a.hour = 9, a.minute = 5, a.title = "Top page";
    TimerEntry b = Entry("/p/gone.prj", "B", "", TimerDaily);
    b.hour = 1;
    TimerEntry c = Entry("/p/c.prj", "C/D", "", TimerInterval);
    c.intervalLead = 2, c.intervalMinutes = 30, c.selected = 1;
    TimerEntry d = Entry("/p/d.prj", "E", "", TimerMonthly);
    d.day = 31, d.hour = 23, d.minute = 59;
    doc.entries() = {a, b, c, d};

    CTimerDoc back = MakeDoc();
    back.Parse(doc.Serialize());
    EXPECT_EQ(back.entries(), (std::vector<TimerEntry>{a, c, d}));
}

TEST(TimerFile, EntryThatCannotBeReadBackIsLeftOutNotTheRest)
{
    CTimerDoc doc = MakeDoc();
    TimerEntry bad = Entry("/p/a|b.prj", "A", "", TimerDaily);
    TimerEntry good = Entry("/p/c.prj", "C", "", TimerDaily);
    doc.entries() = {bad, good};
    CTimerDoc back = MakeDoc();
    back.Parse(doc.Serialize());
    EXPECT_EQ(back.entries(), std::vector<TimerEntry>{good});
}

TEST(TimerFile, LoadCreatesMissingFileAndSaveRoundTrips)
{
    ScratchDir dir;
    const std::string base = dir.file("QRY");
    CTimerDoc doc = MakeDoc();
    ASSERT_TRUE(doc.Load(base));
    EXPECT_TRUE(doc.entries().empty());
    EXPECT_EQ(ReadAll(base + ".tmf"), "");

    TimerSettings page;
    page.enabled = true;
    page.kind = TimerDaily;
    page.hour = 7;
    page.minute = 30;
    ASSERT_TRUE(doc.SetItemTimer("/p/a.prj", "A", "", page)); // saves at once
    EXPECT_EQ(ReadAll(base + ".tmf"), "/p/a.prj|A|||Daily|07:30|Default\r\n");

    CTimerDoc again = MakeDoc();
    ASSERT_TRUE(again.Load(base));
    ASSERT_EQ(again.entries().size(), 1u);
    EXPECT_EQ(again.Serialize(), doc.Serialize()); // unused fields of a kind are not stored
}

TEST(TimerFile, OverlongListPathIsNeitherReadNorWritten)
{
    ScratchDir dir;
    const std::string base = dir.path() + std::string(253 - dir.path().size(), 'x');
    ASSERT_EQ(base.size(), 253u);
    CTimerDoc doc = MakeDoc();
    EXPECT_FALSE(doc.Load(base));
    EXPECT_FALSE(doc.Save(base));
    const std::string fits = base.substr(0, 252);
    EXPECT_TRUE(doc.Load(fits));
    EXPECT_TRUE(doc.Save(fits));
}

TEST(TimerItems, SetItemTimerBoundsReplacesAndRemoves)
{
    struct Row {
        const char* name;
        TimerSettings page;
        int16_t day, hour, minute, interval;
    };
    const Row rows[] = {
        {"interval_5_stored_as_10", {true, TimerInterval, 1, 0, 0, 0, 5}, 1, 0, 0, 10},
        {"interval_over_a_day", {true, TimerInterval, 1, 0, 0, 0, 5000}, 1, 0, 0, 1440},
        {"day_0_stored_as_1", {true, TimerMonthly, 0, 0, 3, 4, 10}, 1, 3, 4, 10},
        {"day_32_hour_24_minute_60", {true, TimerMonthly, 32, 0, 24, 60, 10}, 31, 23, 59, 10},
        {"negative_values", {true, TimerDaily, -5, 0, -1, -1, -1}, 1, 0, 0, 10},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTimerDoc doc = MakeDoc();
        ASSERT_TRUE(doc.SetItemTimer("/p/a.prj", "A", "http://h/", r.page));
        ASSERT_EQ(doc.entries().size(), 1u);
        const TimerEntry& e = doc.entries()[0];
        EXPECT_EQ(e.day, r.day);
        EXPECT_EQ(e.hour, r.hour);
        EXPECT_EQ(e.minute, r.minute);
        EXPECT_EQ(e.intervalMinutes, r.interval);
        EXPECT_EQ(e.intervalLead, 0);
        EXPECT_EQ(e.title, "");
    }

    CTimerDoc doc = MakeDoc();
    TimerSettings on{true, TimerDaily, 1, 0, 6, 0, 10, false};
    doc.SetItemTimer("/p/a.prj", "A", "", on);
    doc.SetItemTimer("/p/a.prj", "A", "http://h/", on);
    on.hour = 8;
    doc.SetItemTimer("/p/a.prj", "A", "", on);
    ASSERT_EQ(doc.entries().size(), 2u);
    EXPECT_EQ(doc.entries()[0].url, "http://h/");
    EXPECT_EQ(doc.entries()[1].hour, 8); // replaced entries move to the end
    ASSERT_NE(doc.FindItem("/p/a.prj", "A", ""), nullptr);

    TimerSettings off = on;
    off.enabled = false;
    doc.SetItemTimer("/p/a.prj", "A", "", off);
    ASSERT_EQ(doc.entries().size(), 1u);
    EXPECT_EQ(doc.FindItem("/p/a.prj", "A", ""), nullptr);

    // A project path with a field separator would break every record after it.
    EXPECT_FALSE(doc.SetItemTimer("/p/a|b.prj", "A", "", on));
    EXPECT_FALSE(doc.SetItemTimer("/p/a.prj", "A", "http://h/" + std::string(300, 'x'), on));
    EXPECT_EQ(doc.entries().size(), 1u);
}

TEST(TimerItems, DeletingAnItemRemovesItsSubtreeOnly)
{
    struct Row {
        const char* name;
        std::string folder, url;
        std::vector<std::string> remaining; // folder|url of what is left
    };
    const Row rows[] = {
        {"folder_and_below", "P/A", "", {"P|", "P/AB|", "P/AB|http://h/2"}},
        {"url_item_only", "P/A", "http://h/1", {"P|", "P/A|", "P/A/C|", "P/AB|", "P/AB|http://h/2"}},
        {"root_takes_all", "P", "", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTimerDoc doc = MakeDoc();
        doc.entries() = {Entry("/p/a.prj", "P", "", TimerDaily), Entry("/p/a.prj", "P/A", "", TimerDaily),
            Entry("/p/a.prj", "P/A", "http://h/1", TimerDaily), Entry("/p/a.prj", "P/A/C", "", TimerDaily),
            Entry("/p/a.prj", "P/AB", "", TimerDaily), Entry("/p/a.prj", "P/AB", "http://h/2", TimerDaily),
            Entry("/p/other.prj", "P/A", "", TimerDaily)};
        doc.RemoveItemEntries("/p/a.prj", r.folder, r.url);
        std::vector<std::string> left;
        for (const TimerEntry& e : doc.entries())
            if (e.file == "/p/a.prj")
                left.push_back(e.folder + "|" + e.url);
        EXPECT_EQ(left, r.remaining);
        EXPECT_EQ(doc.entries().back().file, "/p/other.prj");
    }
}
