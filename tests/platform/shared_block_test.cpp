#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "platform/shared_block.h"

#include "support/env_scope.h"
#include "support/event_loop.h"

#include <gtest/gtest.h>

#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ormbrook;
using namespace ormbrook::test;

TEST(SharedBlock, ExactSizePrivateToTheUserAndGoneWhenTheMakerCloses)
{
    RuntimeScope scope;
    const std::string prefix = SharedBlock::ObjectPrefix("Ormbrook Memory Mapped File");
    EXPECT_NE(prefix.find("." + std::to_string(::getuid()) + "."), std::string::npos);
    EXPECT_EQ(prefix.find('/', 1), std::string::npos);

    SharedBlock maker;
    ASSERT_TRUE(maker.Create("Ormbrook Memory Mapped File", 1106));
    std::memset(maker.data(), 0x5A, maker.size());
    const std::string object = maker.objectName();
    EXPECT_EQ(object.size(), prefix.size() + 17) << object;
    const int fd = ::shm_open(object.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    ::close(fd);
    EXPECT_EQ(info.st_size, 1106);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    SharedBlock reader;
    ASSERT_TRUE(reader.OpenForReading("Ormbrook Memory Mapped File"));
    EXPECT_EQ(reader.size(), 1106u);
    EXPECT_EQ(reader.data(), nullptr); // no writing through a reader
    EXPECT_EQ(reader.constData()[1105], 0x5A);

    maker.Close();
    SharedBlock late;
    EXPECT_FALSE(late.OpenForReading("Ormbrook Memory Mapped File"));
    // The reader's mapping stays good after the name has gone.
    EXPECT_EQ(reader.constData()[0], 0x5A);
}

// Nobody can take a block's name first: each has a random part. And a
// reader refuses a block that others could write.
TEST(SharedBlock, NamesCannotBeTakenFirstAndReadersRefuseBlocksOthersCouldWrite)
{
    RuntimeScope scope;
    const std::string prefix = SharedBlock::ObjectPrefix("Ormbrook Memory Mapped File");
    // A meddler's block at the name without the random part.
    const int squat = ::shm_open(prefix.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(squat, 0);
    ::close(squat);
    SharedBlock first, second;
    ASSERT_TRUE(first.Create("Ormbrook Memory Mapped File", 10));
    const std::string firstName = first.objectName();
    first.Close();
    ASSERT_TRUE(second.Create("Ormbrook Memory Mapped File", 10));
    EXPECT_NE(second.objectName(), firstName);
    ::shm_unlink(prefix.c_str());

    SharedBlock reader;
    EXPECT_TRUE(reader.OpenForReading("Ormbrook Memory Mapped File"));
    EXPECT_EQ(reader.size(), 10u);
    const int fd = ::shm_open(second.objectName().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, 0660), 0);
    ::close(fd);
    EXPECT_FALSE(reader.OpenForReading("Ormbrook Memory Mapped File"));
    EXPECT_FALSE(second.Create("Ormbrook Memory Mapped File", 0));
}

TEST(SharedBlock, AnotherRuntimeFolderIsAnotherBlockByItsFnv1aTag)
{
    // The published test values of FNV-1a, 64 bits.
    EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    std::string first;
    {
        RuntimeScope scope;
        first = SharedBlock::ObjectPrefix("Ormbrook Memory Mapped File");
    }
    RuntimeScope scope;
    EXPECT_NE(SharedBlock::ObjectPrefix("Ormbrook Memory Mapped File"), first);
}

TEST(ChannelClient, AHeldConnectionTellsWhenTheAnsweringWindowGoes)
{
    RuntimeScope scope;
    // The answering window lives on a thread of its own, as in another program.
    QThread thread;
    thread.start();
    auto* server = new ChannelServer([](const ChannelFrame& frame) { return frame.lParam + 1; });
    server->moveToThread(&thread);
    bool listening = false;
    QMetaObject::invokeMethod(server, [&] { listening = server->Listen("Ormbrook Slide Window"); },
                              Qt::BlockingQueuedConnection);
    ASSERT_TRUE(listening);

    HeldReply held = SendFrameAndHold("Ormbrook Slide Window", {0, 3, 41, {}}, 3000);
    ASSERT_EQ(held.reply, std::optional<uint32_t>(42));
    ASSERT_GE(held.fd, 0);
    ConnectionWatch watch(held.fd);
    bool closed = false;
    QObject::connect(&watch, &ConnectionWatch::closed, [&] { closed = true; });
    RunFor(100);
    EXPECT_FALSE(closed);

    QMetaObject::invokeMethod(server, [&] { server->Close(); }, Qt::BlockingQueuedConnection);
    EXPECT_TRUE(RunUntil([&] { return closed; }, 3000));
    QMetaObject::invokeMethod(server, [&] { delete server; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();

    EXPECT_EQ(SendFrameAndHold("Ormbrook Slide Window", {0, 3, 41, {}}, 200).fd, -1);
}

TEST(NamedLock, AcquireWaitsForAShortHolder)
{
    RuntimeScope scope;
    NamedLock holder("Ormbrook Pickup Queue");
    ASSERT_TRUE(holder.TryAcquire());
    NamedLock waiter("Ormbrook Pickup Queue");
    EXPECT_FALSE(waiter.Acquire(30));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        holder.Release();
    });
    EXPECT_TRUE(waiter.Acquire(2000));
    release.join();
}
