#include <QApplication>
#include <gtest/gtest.h>

// Widgets need a QApplication; CTest runs this program on the offscreen
// platform.
int main(int argc, char** argv)
{
    // Test discovery runs this program without CTest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
