#include "common/messages.h"
#include "engine/status_view_model.h"

#include <gtest/gtest.h>

using namespace ormbrook;

TEST(StatusViewModel, SlotRowFollowsOneDownload)
{
    StatusViewModel model;
    model.Contacting(2, "http://site/a.html");
    EXPECT_EQ(model.row(2).bytes, "Contacting");
    model.Connected(2);
    EXPECT_EQ(model.row(2).bytes, "Connected");
    model.HeadRead(2, 200);
    EXPECT_EQ(model.row(2).size, "200");
    EXPECT_EQ(model.row(2).percent, "0");
    model.Progress(2, 200, 50);
    EXPECT_EQ(model.row(2).bytes, "50");
    EXPECT_EQ(model.row(2).percent, "25");
    EXPECT_EQ(model.row(2).bar, 25);
    model.SlotDone(2, true);
    EXPECT_EQ(model.row(2).bytes, "Complete");
    EXPECT_EQ(model.row(2).url, "http://site/a.html");
}

TEST(StatusViewModel, AFailureWithAReasonShowsTheReason)
{
    StatusViewModel model;
    const std::pair<std::string, std::string> rows[] = {
        {"", "Failed"},
        {"certificate: hostname mismatch", "certificate: hostname mismatch"},
        // A server's or a proxy's words never reach a terminal as controls.
        {"proxy: \x1b[31mred\a\r\xc2\x9b" "2J ok \xc3\xa9", "proxy: ?[31mred???2J ok \xc3\xa9"},
    };
    for (const auto& [reason, shown] : rows) {
        model.Contacting(3, "https://site/");
        model.SlotDone(3, false, reason);
        EXPECT_EQ(model.row(3).bytes, shown);
    }
    model.SlotDone(3, true, "ignored on success");
    EXPECT_EQ(model.row(3).bytes, "Complete");
}

TEST(StatusViewModel, UnknownLengthShowsUnknownAndNoPercent)
{
    StatusViewModel model;
    model.HeadRead(0, -1);
    EXPECT_EQ(model.row(0).size, "Unknown");
    EXPECT_EQ(model.row(0).percent, "Unknown");
    model.Progress(0, -1, 4096);
    EXPECT_EQ(model.row(0).bytes, "4096");
    EXPECT_EQ(model.row(0).percent, "Unknown");
}

TEST(StatusViewModel, LargeBodiesDoNotOverflowThePercentage)
{
    StatusViewModel model;
    model.HeadRead(1, 2000000000);
    model.Progress(1, 2000000000, 1000000000);
    EXPECT_EQ(model.row(1).percent, "50");
}

TEST(StatusViewModel, SlotsOutsideTheTableAreIgnored)
{
    StatusViewModel model;
    model.Contacting(5, "x");
    model.Contacting(-1, "x");
    model.SlotDone(99, true);
    for (int i = 0; i < model.rows(); ++i)
        EXPECT_EQ(model.row(i).url, "");
}

// A crawl of 16 downloads at a time has 16 slot rows; the item row follows
// them, and the number is held to 1..16.
TEST(StatusViewModel, HasOneRowPerSlotOfTheCrawl)
{
    const struct {
        int asked, slots;
    } rows[] = {{5, 5}, {16, 16}, {1, 1}, {0, 1}, {40, 16}};
    for (const auto& r : rows) {
        StatusViewModel model;
        model.SetSlotCount(r.asked);
        EXPECT_EQ(model.slotRows(), r.slots) << r.asked;
        EXPECT_EQ(model.itemRow(), r.slots);
        model.Contacting(r.slots - 1, "last");
        model.Contacting(r.slots, "beyond");
        model.SetCurrentUrl("item");
        EXPECT_EQ(model.row(r.slots - 1).url, "last");
        EXPECT_EQ(model.row(model.itemRow()).url, "item");
    }
}

TEST(StatusViewModel, CountersAndTheirLine)
{
    StatusViewModel model;
    model.CountDetected();
    model.CountDetected();
    model.CountRetry();
    model.CountVisited();
    model.CountFailed();
    model.CountHtmlDetected();
    model.CountHtmlDetected();
    model.CountHtmlModified();
    EXPECT_EQ(model.counters().localizePercent, 50);
    EXPECT_EQ(model.CounterLine(), "detected=2 retries=1 visited=1 failed=1 html=2 modified=1");
    model.Clear();
    EXPECT_EQ(model.CounterLine(), "detected=0 retries=0 visited=0 failed=0 html=0 modified=0");
    EXPECT_EQ(model.row(0).size, "0");

    // A counter message brings its wParam's counts, or one without a count.
    for (auto [wParam, counts] : {std::pair<uintptr_t, int>{0, 1}, {1, 1}, {64, 64}, {uintptr_t(1) << 40, 1}})
        EXPECT_EQ(StatusViewModel::CountOf(wParam), counts) << wParam;
    EXPECT_TRUE(model.CountMessage(MsgStatusDetected, 64));
    EXPECT_TRUE(model.CountMessage(MsgStatusHtmlDetected, 4));
    EXPECT_TRUE(model.CountMessage(MsgStatusHtmlModified, 3));
    EXPECT_FALSE(model.CountMessage(MsgStatusSlotDone, 3));
    EXPECT_EQ(model.counters().localizePercent, 75);
    EXPECT_EQ(model.CounterLine(), "detected=64 retries=0 visited=0 failed=0 html=4 modified=3");
}
