#include "common/messages.h"
#include "engine/conn_mgr.h"
#include "engine/ws_event_window.h"
#include "engine/ws_thread.h"
#include "support/event_loop.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace ormbrook;
using namespace ormbrook::test;

TEST(EngineThread, StartsAndStopsCleanlyManyTimes)
{
    CWSInit init;
    ASSERT_EQ(init.startUpError(), 0);
    for (int i = 0; i < 1000; ++i) {
        CWSThread thread(init);
        ASSERT_TRUE(thread.Start()) << "round " << i;
        EXPECT_NE(WSEventWindow::Current(), nullptr);
        thread.Post(MsgEngineQuit);
        thread.Wait();
        ASSERT_EQ(WSEventWindow::Current(), nullptr) << "round " << i;
    }
}

TEST(EngineThread, DoesNotStartWithoutItsEventWindow)
{
    EventWindowScope someoneElses;
    ASSERT_TRUE(someoneElses.ok());
    CWSInit init;
    CWSThread thread(init);
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.isRunning());
}

namespace {
struct Job : MessageRecord, ConnectListener {
    uint16_t port = 0;
    std::atomic<int>* result = nullptr;
    CWSSocket socket;
    CConnMgr mgr{this, 0};
    void OnConnectDone(int, int r) override { result->store(r); }
};
} // namespace

// The socket layer works where it is meant to run: lookup answers and socket
// events are delivered on the engine thread.
TEST(EngineThread, ConnectsOnItsOwnThread)
{
    ScriptServer server(Script{KeepOpen(3000)});
    std::atomic<int> result{0};
    std::unique_ptr<Job> keep;
    CWSInit init;
    CWSThread thread(init);
    thread.SetHandler([&](uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) {
        if (message == MsgManagerStop) {
            keep.reset(); // sockets end on the thread that owns them
            return;
        }
        keep.reset(static_cast<Job*>(record.release()));
        keep->mgr.Start("localhost", keep->port, &keep->socket, nullptr, 0);
    });
    ASSERT_TRUE(thread.Start());
    auto job = std::make_unique<Job>();
    job->port = server.port();
    job->result = &result;
    thread.Post(MsgEngineCreateManager, 0, std::move(job));
    ASSERT_TRUE(RunUntil([&] { return result.load() != 0; }, 10000));
    EXPECT_EQ(result.load(), CConnMgr::ResultConnected);
    thread.Post(MsgManagerStop);
    thread.Post(MsgEngineQuit);
    thread.Wait();
    EXPECT_EQ(keep, nullptr);
}
