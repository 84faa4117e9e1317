#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "platform/runtime_folder.h"

#include "support/env_scope.h"
#include "support/event_loop.h"
#include "support/scratch_dir.h"


#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <thread>

using namespace ormbrook;
using namespace ormbrook::test;


TEST(RuntimeFolder, IsPrivateAndUnderTheSessionsRuntimeDirectory)
{
    RuntimeScope scope;
    const std::string folder = RuntimeFolder();
    EXPECT_EQ(folder, scope.path() + "ormbrook/");
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Without a session's runtime directory the programs meet under /tmp; a
// name there that another user took first is refused, and the user's own
// cache folder serves instead, with a word about it.
TEST(RuntimeFolder, ANameUnderTmpTakenFirstIsRefusedForTheCacheFolder)
{
    ScratchDir scratch;
    const std::string tmp = scratch.file("tmp"), home = scratch.file("home");
    ASSERT_EQ(::mkdir(tmp.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
    const std::string squatted = tmp + "/ormbrook-" + std::to_string(::getuid());
    const RuntimeFolderChoice free = ChooseRuntimeFolder(nullptr, tmp, nullptr, home.c_str());
    EXPECT_EQ(free.folder, squatted + "/");
    EXPECT_EQ(free.notice, "");
    ASSERT_EQ(::rmdir(squatted.c_str()), 0);
    ASSERT_EQ(::symlink(home.c_str(), squatted.c_str()), 0) << "a link planted at the name";
    const RuntimeFolderChoice refused = ChooseRuntimeFolder(nullptr, tmp, nullptr, home.c_str());
    EXPECT_EQ(refused.folder, home + "/.cache/ormbrook-runtime/");
    EXPECT_NE(refused.notice.find("using " + home + "/.cache/ormbrook-runtime instead"), std::string::npos)
        << refused.notice;
}

TEST(NamedLock, OneHolderAtATimeAndGoneWithItsHolder)
{
    RuntimeScope scope;
    EXPECT_FALSE(NamedLock::IsTaken("Ormbrook Download Engine"));
    {
        NamedLock first("Ormbrook Download Engine");
        ASSERT_TRUE(first.TryAcquire());
        NamedLock second("Ormbrook Download Engine");
        EXPECT_FALSE(second.TryAcquire());
        EXPECT_TRUE(NamedLock::IsTaken("Ormbrook Download Engine"));
        // Another name is another lock.
        NamedLock other("Ormbrook Screen Saver");
        EXPECT_TRUE(other.TryAcquire());
    }
    EXPECT_FALSE(NamedLock::IsTaken("Ormbrook Download Engine"));
    NamedLock again("Ormbrook Download Engine");
    EXPECT_TRUE(again.TryAcquire());
}

TEST(FrameReader, CutsAStreamIntoFramesWhateverTheChunks)
{
    const std::vector<ChannelFrame> frames = {
        {0, 3, 1234, {}},
        {0x0401, 0, 99, {}},
        {kFrameCarriesText | 0x10, 0, 0, "/home/u/My Project.prj"},
        {kFrameCarriesText | 0x10, 0, 0, ""},
        {0x0404, 0xFFFFFFFFu, 0x80000000u, {}},
    };
    std::string stream;
    for (const auto& frame : frames)
        stream += EncodeFrame(frame);
    for (size_t chunk : {size_t(1), size_t(5), size_t(12), stream.size()}) {
        FrameReader reader;
        std::vector<ChannelFrame> seen;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
            while (auto frame = reader.Next())
                seen.push_back(*frame);
        }
        ASSERT_EQ(seen.size(), frames.size()) << "chunk " << chunk;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(seen[i].message, frames[i].message);
            EXPECT_EQ(seen[i].wParam, frames[i].wParam);
            EXPECT_EQ(seen[i].text, frames[i].text);
            if (!(frames[i].message & kFrameCarriesText))
                EXPECT_EQ(seen[i].lParam, frames[i].lParam);
        }
        EXPECT_FALSE(reader.broken());
    }
}

TEST(FrameReader, ATextLongerThanTheLimitBreaksTheStream)
{
    std::string bytes = EncodeFrame({kFrameCarriesText, 0, 0, {}});
    bytes[8] = '\x01';
    bytes[9] = '\x00';
    bytes[10] = '\x01'; // 65537 bytes announced
    FrameReader reader;
    reader.Feed(bytes.data(), bytes.size());
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.broken());
    const std::string more = EncodeFrame({1, 2, 3, {}});
    reader.Feed(more.data(), more.size());
    EXPECT_FALSE(reader.Next());
}

TEST(ChannelServer, AnswersSentFramesAndReceivesPostedOnes)
{
    RuntimeScope scope;
    std::vector<ChannelFrame> received;
    ChannelServer server([&](const ChannelFrame& frame) {
        received.push_back(frame);
        return frame.wParam + 1;
    });
    EXPECT_FALSE(ChannelExists("Ormbrook Slide Window"));
    ASSERT_TRUE(server.Listen("Ormbrook Slide Window"));
    EXPECT_TRUE(ChannelExists("Ormbrook Slide Window"));

    // A sender waits for the answer; the server's loop must run meanwhile.
    auto reply = std::async(std::launch::async, [] {
        return SendFrame("Ormbrook Slide Window", {0, 3, 4242, {}}, 3000);
    });
    ASSERT_TRUE(RunUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(reply.get(), std::optional<uint32_t>(4));

    EXPECT_TRUE(PostFrame("Ormbrook Slide Window", {0x0404, 0, 77, {}}));
    EXPECT_TRUE(PostFrame("Ormbrook Slide Window", {kFrameCarriesText | 0x20, 0, 0, "a/b.prj"}));
    ASSERT_TRUE(RunUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received[0].lParam, 4242u);
    EXPECT_EQ(received[1].lParam, 77u);
    EXPECT_EQ(received[2].text, "a/b.prj");
}

TEST(ChannelServer, OneTitleOneListenerAndAStaleSocketIsTakenOver)
{
    RuntimeScope scope;
    ChannelServer first([](const ChannelFrame&) { return 0u; });
    ASSERT_TRUE(first.Listen("Ormbrook Download Engine"));
    ChannelServer second([](const ChannelFrame&) { return 0u; });
    EXPECT_FALSE(second.Listen("Ormbrook Download Engine"));
    EXPECT_TRUE(first.listening());

    // A program that crashed leaves its socket file; nobody answers there.
    first.Close();
    const std::string path = ChannelPath("Ormbrook Download Engine");
    FILE* stale = std::fopen(path.c_str(), "w");
    ASSERT_NE(stale, nullptr);
    std::fclose(stale);
    EXPECT_FALSE(ChannelExists("Ormbrook Download Engine"));
    EXPECT_TRUE(second.Listen("Ormbrook Download Engine"));
    EXPECT_TRUE(ChannelExists("Ormbrook Download Engine"));
}

TEST(ChannelClient, NoListenerMeansNothingDeliveredAndASilentOneTimesOut)
{
    RuntimeScope scope;
    EXPECT_FALSE(PostFrame("Ormbrook Screen Saver", {1, 0, 0, {}}));
    EXPECT_FALSE(SendFrame("Ormbrook Screen Saver", {1, 0, 0, {}}, 200));
    EXPECT_FALSE(ChannelExists("a/b"));

    // A listener whose thread never runs its loop: the sender gives up.
    ChannelServer server([](const ChannelFrame&) { return 1u; });
    ASSERT_TRUE(server.Listen("Ormbrook Screen Saver"));
    EXPECT_FALSE(SendFrame("Ormbrook Screen Saver", {1, 0, 0, {}}, 200));
}
