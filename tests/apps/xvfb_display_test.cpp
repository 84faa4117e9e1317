#include "support/xvfb_display.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace ormbrook::test;

// The private X server the window tests stand on: it comes up on a display
// of its own, shows a black screen, finds a mapped window by its title and
// reads back what that window painted.
TEST(XvfbDisplay, ShowsWhatAProgramPaintsOnItsOwnDisplay)
{
    XvfbDisplay x;
    if (!x.Start(320, 240))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    EXPECT_NE(x.display(), "");
    EXPECT_TRUE(MostlyColour(x.GrabScreen(), qRgb(0, 0, 0)));
    int wx = 0, wy = 0, ww = 0, wh = 0;
    EXPECT_FALSE(x.FindWindow("Nobody", wx, wy, ww, wh));

    // xsetroot paints the root window: the grab must show the colour.
    QProcess paint;
    paint.setProcessEnvironment(x.Environment());
    paint.start("xsetroot", {"-solid", "#ff8000"});
    if (!paint.waitForFinished(5000) || paint.exitCode() != 0)
        GTEST_SKIP() << "xsetroot is not installed";
    EXPECT_TRUE(MostlyColour(x.Grab(10, 10, 50, 50), qRgb(0xff, 0x80, 0x00)));
}
