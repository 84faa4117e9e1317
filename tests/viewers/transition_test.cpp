// The strip order of every effect, the random draw, and the pacing: each
// step lasts drawSpeed whatever its copies took, and an abort stops before
// the next step.

#include "viewers/transition.h"

#include <gtest/gtest.h>

#include <string>

using namespace ormbrook;

namespace {

// "0|5 2|3 4|1": the steps, strips of one step joined by "|".
std::string Steps(int effect, int w, int h)
{
    std::string out;
    for (const auto& step : EffectSteps(effect, w, h)) {
        if (!out.empty())
            out += ' ';
        for (size_t i = 0; i < step.size(); ++i) {
            if (i)
                out += '|';
            out += std::to_string(step[i].index);
        }
    }
    return out;
}

struct FakeClock : TransitionClock {
    int64_t now = 0;
    int64_t slept = 0;
    int64_t NowUs() override { return now; }
    void SleepUntilUs(int64_t deadline) override
    {
        if (deadline > now) {
            slept += deadline - now;
            now = deadline;
        }
    }
    uint64_t MilliClock() override { return 0; }
};

struct CountingTarget : TransitionTarget {
    FakeClock* clock = nullptr;
    int64_t copyUs = 0;
    std::vector<QRect> copies;
    std::atomic<bool>* abortAfter3 = nullptr;
    void CopyRect(const QRect& r) override
    {
        copies.push_back(r);
        if (clock)
            clock->now += copyUs;
        if (abortAfter3 && copies.size() == 3)
            *abortAfter3 = true;
    }
};

} // namespace

TEST(Transition, StripOrdersOfEveryEffect)
{
    struct Row {
        const char* name;
        int effect;
        int size;
        const char* steps;
    } rows[] = {
        {"CrossH W=5", DrawCrossH, 5, "0|5 2|3 4|1"},
        {"CrossH W=4", DrawCrossH, 4, "0|3 2|1"},
        {"RasterH W=4", DrawRasterH, 4, "0 1 2 3"},
        {"RasterOpenH W=4", DrawRasterOpenH, 4, "2|2 1|3 0|4"},
        {"RasterOpenH W=5", DrawRasterOpenH, 5, "2|3 1|4 0|5"},
        {"RasterCloseH W=4", DrawRasterCloseH, 4, "0|4 1|3 2|2"},
        {"RasterCloseH W=5", DrawRasterCloseH, 5, "0|5 1|4 2|3"},
        {"WiperH W=5", DrawWiperH, 5, "0 2 4 5 3 1"},
        {"WiperH W=4", DrawWiperH, 4, "0 2 3 1"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Steps(r.effect, r.size, 99), r.steps) << r.name;
        // The same effect on rows walks the height exactly as the columns walk the width.
        const auto columns = EffectSteps(r.effect, r.size, 99);
        const auto rowsOfV = EffectSteps(r.effect + 1, 99, r.size);
        ASSERT_EQ(columns.size(), rowsOfV.size()) << r.name;
        for (size_t i = 0; i < columns.size(); ++i)
            for (size_t j = 0; j < columns[i].size(); ++j) {
                EXPECT_TRUE(columns[i][j].column);
                EXPECT_FALSE(rowsOfV[i][j].column);
                EXPECT_EQ(columns[i][j].index, rowsOfV[i][j].index) << r.name;
            }
    }
    EXPECT_TRUE(EffectSteps(DrawNoEffect, 5, 5).empty());
}

TEST(Transition, StepCountsAt640)
{
    struct Row {
        int effect;
        size_t steps;
    } rows[] = {{DrawRasterH, 640}, {DrawRasterOpenH, 321}, {DrawCrossH, 320}, {DrawWiperH, 640},
                {DrawRasterCloseH, 321}, {DrawRasterV, 480}, {DrawWiperV, 480}};
    for (const Row& r : rows)
        EXPECT_EQ(EffectSteps(r.effect, 640, 480).size(), r.steps) << r.effect;
}

TEST(Transition, TheRandomDrawAndTheFallback)
{
    for (uint64_t clock = 0; clock < 20; ++clock) {
        const int drawn = ResolveDrawType(DrawRandom, clock);
        EXPECT_GE(drawn, DrawCrossH);
        EXPECT_LE(drawn, DrawWiperH); // 11, WiperV, never comes at random
    }
    EXPECT_EQ(ResolveDrawType(DrawRandom, 10), DrawRasterH); // drew 1
    EXPECT_EQ(ResolveDrawType(DrawRandom, 3), DrawCrossV + 1);
    EXPECT_EQ(ResolveDrawType(12, 0), DrawRasterH);
    EXPECT_EQ(ResolveDrawType(-1, 0), DrawRasterH);
    EXPECT_EQ(ResolveDrawType(DrawWiperV, 0), DrawWiperV);
    EXPECT_EQ(ResolveDrawType(DrawNoEffect, 0), DrawNoEffect);
}

TEST(Transition, PacingSubtractsTheCopyTimeAndNoPauseFollowsTheLastStep)
{
    std::atomic<bool> abort {false};
    struct Case {
        const char* intent;
        int drawSpeed;
        int64_t copyUs;
        int64_t expectedUs; // for 4 steps of RasterH W=4
    } cases[] = {
        {"quick copies wait out the step", 5, 1000, 3 * 5000 + 1000},
        {"slow copies do not add to the delay", 5, 7000, 4 * 7000},
        {"no delay runs as fast as the copies", 0, 300, 4 * 300},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        CountingTarget target;
        target.clock = &clock;
        target.copyUs = c.copyUs;
        RunTransition(target, DrawRasterH, 4, 3, c.drawSpeed, abort, clock);
        EXPECT_EQ(clock.now, c.expectedUs) << c.intent;
        ASSERT_EQ(target.copies.size(), 4u);
        EXPECT_EQ(target.copies[2], QRect(2, 0, 1, 3));
    }

    // Strips outside the area copy nothing; NoEffect copies all at once.
    FakeClock clock;
    CountingTarget open;
    RunTransition(open, DrawRasterOpenH, 4, 3, 1, abort, clock);
    EXPECT_EQ(open.copies.size(), 5u); // (2,2) (1,3) (0,-)
    CountingTarget all;
    RunTransition(all, DrawNoEffect, 4, 3, 5, abort, clock);
    ASSERT_EQ(all.copies.size(), 1u);
    EXPECT_EQ(all.copies[0], QRect(0, 0, 4, 3));
}

TEST(Transition, AnAbortStopsBeforeTheNextStep)
{
    std::atomic<bool> abort {false};
    FakeClock clock;
    CountingTarget target;
    target.abortAfter3 = &abort;
    RunTransition(target, DrawRasterV, 10, 10, 5, abort, clock);
    EXPECT_EQ(target.copies.size(), 3u);
    abort = true;
    CountingTarget none;
    RunTransition(none, DrawNoEffect, 10, 10, 5, abort, clock);
    EXPECT_TRUE(none.copies.empty());
}
