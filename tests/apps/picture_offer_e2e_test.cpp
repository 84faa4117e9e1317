// A crawl run from the command line hands the pictures it stores to a
// running desktop program, with the display options of the item that
// fetched them; without one (and so without a receiver) it offers nothing
// and leaves nothing waiting in "WP.lst".

#include "common/messages.h"
#include "pictures/pickup_entry.h"
#include "pictures/picture_sinks.h"
#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "support/crawl_fixture.h"
#include "support/env_scope.h"
#include "support/jpeg_maker.h"

#include <QThread>
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

using namespace ormbrook;
using namespace ormbrook::test;

TEST(PictureOfferEndToEnd, AHeadlessCrawlOffersItsPicturesToTheDesktopProgramOnly)
{
    CrawlFixture f;
    JpegParams big;
    big.width = 40;
    big.height = 30;
    JpegParams small;
    small.width = 10;
    small.height = 10;
    const std::vector<uint8_t> bigBytes = EncodeJpeg(big, PatternPixels(40, 30, 3));
    const std::vector<uint8_t> smallBytes = EncodeJpeg(small, PatternPixels(10, 10, 3));
    f.Page("index.html", "<html><body><img src=\"big.jpg\"><img src=\"small.jpg\"></body></html>");
    f.Page("big.jpg", std::string(bigBytes.begin(), bigBytes.end()));
    f.Page("small.jpg", std::string(smallBytes.begin(), smallBytes.end()));
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    ASSERT_TRUE(f.StartServer());
    auto prj = f.Project("P", "ProjectDefault\n{\n}\n"
                              + Record("@ORIGIN@/", "\tBGColor={10,20,30}\n\tMUDrawSpeed=7\n\tMinPicSize={20,20}\n"));
    auto run = f.Run({"--crawl", prj});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(f.dataHome() + "/Ormbrook/WP.lst")) << "nothing waits without a receiver";

    // The desktop program's window, in the runtime folder qry runs with.
    EnvScope runtime("XDG_RUNTIME_DIR", f.dataHome().substr(0, f.dataHome().rfind('/')) + "/run");
    NamedLock queueLock(kPickupQueueLockName);
    ASSERT_TRUE(queueLock.TryAcquire());
    QThread thread;
    thread.start();
    std::vector<ChannelFrame> frames;
    std::mutex framesMutex;
    auto* window = new ChannelServer([&](const ChannelFrame& frame) {
        std::lock_guard lock(framesMutex);
        frames.push_back(frame);
        return 0u;
    });
    window->moveToThread(&thread);
    bool listening = false;
    QMetaObject::invokeMethod(window, [&] { listening = window->Listen(kMainProgramTitle); },
                              Qt::BlockingQueuedConnection);
    ASSERT_TRUE(listening);
    run = f.Run({"--crawl", prj, "--set", "RenewalType=1"});
    QMetaObject::invokeMethod(window, [&] { delete window; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    ASSERT_EQ(run.exitCode, 0) << run.err;

    ASSERT_EQ(frames.size(), 1u) << "the small picture is below the item's minimum size";
    EXPECT_EQ(frames[0].message, MsgOfferPicture | kFrameCarriesText);
    auto entry = DecodePickupRecord(frames[0].text);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->caption, "New Picture");
    EXPECT_EQ(entry->path, f.mirrorRoot() + "P/127.0.0.1/big.jpg");
    EXPECT_EQ(entry->bgColor, 0x1E140A);
    EXPECT_EQ(entry->drawSpeed, 7);
    EXPECT_EQ(entry->minWidth, 20);
    EXPECT_EQ(entry->interval, 5);
}
