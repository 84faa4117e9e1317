#include "common/messages.h"

#include <gtest/gtest.h>

using namespace ormbrook;

// Message numbers travel between threads and programs: they must keep their values.
TEST(Messages, KeepTheirNumbers)
{
    EXPECT_EQ(MsgEngineQuit, 0x41Fu);
    EXPECT_EQ(MsgStatusVisited, 1047u);
    EXPECT_EQ(MsgStatusCrawlOver, 1052u);
    EXPECT_EQ(MsgDialupNotify, 0x40Au);
}
