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
