#include "platform/stop_signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <gtest/gtest.h>

using namespace ormbrook;

// A signal must reach the event loop as a plain call, once per signal, and
// must not end the process.
TEST(StopSignals, InterruptAndTerminateArriveOnTheEventLoop)
{
    std::vector<int> seen;
    StopSignals signals([&seen](int signal) { seen.push_back(signal); });
    ASSERT_TRUE(signals.ok());
    ::raise(SIGINT);
    ::raise(SIGTERM);
    QElapsedTimer timer;
    timer.start();
    while (seen.size() < 2 && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(seen, (std::vector<int>{SIGINT, SIGTERM}));
}
