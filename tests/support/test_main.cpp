#include <QCoreApplication>
#ifdef ORMBROOK_TEST_GUI
#include <QApplication>
#endif
#include <gtest/gtest.h>

// Every test program gets an application object, so that event loops, timers
// and posted events work the way they do in the real programs. The areas
// that draw (fonts, widgets) get a QApplication on the offscreen platform.
int main(int argc, char** argv)
{
#ifdef ORMBROOK_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
