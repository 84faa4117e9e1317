// A crawl run from the command line keeps the pictures it stores for the
// next desktop session: they wait in the program folder's "WP.lst" with the
// display options of the item that fetched them.

#include "pictures/mirror_pages.h"
#include "pictures/pickup_queue.h"
#include "pictures/queue_file_pickup_store.h"
#include "support/crawl_fixture.h"
#include "support/jpeg_maker.h"

#include <gtest/gtest.h>

using namespace ormbrook;
using namespace ormbrook::test;

TEST(PictureOfferEndToEnd, AHeadlessCrawlQueuesItsPicturesWithTheItemsOptions)
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

    CrawlMirrorPages mirror(f.mirrorRoot());
    CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
    ASSERT_EQ(queue.OpenPickupQueue(f.dataHome() + "/Ormbrook/WP.lst"), kPickupQueueVersion);
    auto entry = queue.TakeEntry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->caption, "New Picture");
    EXPECT_EQ(entry->path, f.mirrorRoot() + "P/127.0.0.1/big.jpg");
    EXPECT_EQ(entry->bgColor, 0x1E140A);
    EXPECT_EQ(entry->drawSpeed, 7);
    EXPECT_EQ(entry->minWidth, 20);
    EXPECT_EQ(entry->interval, 5);
    // The small one is below the item's minimum size.
    EXPECT_FALSE(queue.TakeEntry());
}
