// The project window's splitter rules and the saved window placement.

#include "windows/window_layout.h"

#include <gtest/gtest.h>

using namespace ormbrook;

TEST(WindowLayout, SplitterRules)
{
    const SplitSizes created = InitialSplit(900, 600);
    EXPECT_EQ(created.topHeight, 400) << "two thirds";
    EXPECT_EQ(created.leftWidth, 450) << "half";

    struct Case {
        const char* intent;
        int width, height;
        int top, left;
    } cases[] = {
        {"a tall window keeps 240 pixels for the status view", 800, 700, 460, 400},
        {"291 pixels: 51 left above, still resized", 800, 291, 51, 400},
        {"290 pixels: 50 is not above 50, the rows stay", 800, 290, 123, 400},
        {"280 pixels: the top row is not resized", 640, 280, 123, 320},
    };
    for (const Case& c : cases) {
        const SplitSizes before{123, 77, 10, 10};
        const SplitSizes after = ResizeSplit(c.width, c.height, before);
        EXPECT_EQ(after.topHeight, c.top) << c.intent;
        EXPECT_EQ(after.leftWidth, c.left) << c.intent;
    }
}

TEST(WindowLayout, WindowPosRoundTripsAndRefusesDamage)
{
    WindowPlacement p;
    p.flags = kPlacementRestoreToMaximized;
    p.showCommand = kShowMaximized;
    p.left = 10;
    p.top = 20;
    p.right = 810;
    p.bottom = 620;
    const std::string text = FormatWindowPos(p);
    EXPECT_EQ(text, "2:3:-1:-1:-1:-1:10:20:810:620");
    const auto back = ParseWindowPos(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->showCommand, kShowMaximized);
    EXPECT_EQ(back->right, 810);
    for (const char* bad : {"", "1:2:3", "0:1:-1:-1:-1:-1:10:20:810:620:9", "0:1:-1:-1:-1:-1:10:20:5:620", "x"})
        EXPECT_FALSE(ParseWindowPos(bad)) << bad;
}

TEST(WindowLayout, FirstPlacesKeepClearOfTheSlideWindowAndShowTheCounters)
{
    struct MainCase {
        const char* intent;
        ScreenRect available;
        int width, height;
        ScreenRect place;
    } mains[] = {
        {"1280x900: moved right of the slide window's fifth, narrower", {0, 0, 1280, 900}, 1100, 700, {264, 100, 1016, 700}},
        {"800x600: too little room beside it, centred", {0, 0, 800, 600}, 700, 500, {50, 50, 700, 500}},
        {"a small window is clear of it already", {0, 0, 1280, 900}, 400, 300, {440, 300, 400, 300}},
        {"larger than the screen: held to it", {0, 40, 800, 560}, 1000, 700, {0, 40, 800, 560}},
    };
    for (const MainCase& c : mains)
        EXPECT_EQ(FirstMainWindowPlace(c.available, c.width, c.height), c.place) << c.intent;

    struct ChildCase {
        const char* intent;
        int areaWidth, areaHeight, openWindows;
        ScreenRect place;
    } children[] = {
        {"the first fills the area", 900, 600, 0, {0, 0, 900, 600}},
        {"the second is stepped", 900, 600, 1, {24, 24, 876, 576}},
        {"never below what shows the counters", 660, 430, 3, {20, 10, 640, 420}},
        {"a tiny area is filled", 500, 300, 2, {0, 0, 500, 300}},
    };
    for (const ChildCase& c : children)
        EXPECT_EQ(NewProjectWindowPlace(c.areaWidth, c.areaHeight, c.openWindows), c.place) << c.intent;
}
