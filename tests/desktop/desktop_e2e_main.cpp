#include "desktop/desktop_harness.h"

#include "windows/desktop_program.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <string>

namespace ormbrook::test {
// Set by main: the private X server, or nothing when it could not start.
XvfbDisplay* gDisplay = nullptr;
ScratchDir* gScratch = nullptr;
}

// The X server and the environment come first: the QApplication connects
// to the display when it is made.
int main(int argc, char** argv)
{
    using namespace ormbrook::test;
    static ScratchDir scratch;
    static XvfbDisplay display;
    std::string error;
    gScratch = &scratch;
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::string(argv[i]) == "--gtest_list_tests";
    if (!listing && PrepareDesktopProcess(display, scratch, &error))
        gDisplay = &display;
    else
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ormbrook::LoadQtTranslations(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
