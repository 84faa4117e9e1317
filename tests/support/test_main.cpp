#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test program gets a QCoreApplication, so that event loops, timers and
// posted events work the way they do in the real programs.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
