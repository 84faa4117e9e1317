#include "crawl/settings.h"
#include "pictures/mirror_pages.h"
#include "pictures/queue_file_pickup_store.h"
#include "shell/slide_show_list.h"
#include "support/jpeg_maker.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace ormbrook;
using namespace ormbrook::test;
namespace fs = std::filesystem;

namespace {

void Put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(char(v >> (8 * i)));
}

// A queue file of the old form (40-byte header, no signature) holding records
// in order, as an earlier version left "WP.lst".
std::string OldFormFile(const std::vector<std::string>& records)
{
    std::vector<uint32_t> offsets;
    uint32_t at = 40;
    for (const std::string& r : records) {
        offsets.push_back(at);
        at += 12 + uint32_t(r.size());
    }
    const uint32_t head = 8, tail = 16;
    std::string file;
    Put32(file, 40);
    Put32(file, 40);
    Put32(file, head);
    Put32(file, offsets.empty() ? tail : offsets.front());
    Put32(file, offsets.empty() ? head : offsets.back());
    Put32(file, tail);
    Put32(file, 24);
    Put32(file, 32);
    Put32(file, 24);
    Put32(file, 32);
    for (size_t i = 0; i < records.size(); ++i) {
        Put32(file, i == 0 ? head : offsets[i - 1]);
        Put32(file, i + 1 == records.size() ? tail : offsets[i + 1]);
        Put32(file, uint32_t(records[i].size()));
        file += records[i];
    }
    return file;
}

std::string Record(const PickupEntry& e)
{
    const auto bytes = EncodePickupRecord(e);
    return std::string(bytes.begin(), bytes.end());
}

PickupEntry FileEntry(const std::string& path)
{
    PickupEntry e;
    e.interval = 5;
    e.path = path;
    return e;
}

} // namespace

TEST(PickupQueueFile, QueuedPicturesSurviveARestart)
{
    ScratchDir dir;
    CrawlMirrorPages mirror(dir.path());
    const std::string path = dir.file("WP.lst");
    {
        CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
        ASSERT_EQ(queue.OpenPickupQueue(path), kPickupQueueVersion);
        EXPECT_TRUE(queue.IsQueueEmpty());
        queue.AddEntry(FileEntry("/a.jpg"));
        queue.AddEntry(FileEntry("/b.jpg"));
    }
    CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
    ASSERT_EQ(queue.OpenPickupQueue(path), kPickupQueueVersion);
    EXPECT_EQ(queue.TakeEntry(), FileEntry("/b.jpg"));
    queue.ClearQueue();
    EXPECT_TRUE(queue.IsQueueEmpty());
    EXPECT_EQ(fs::file_size(path), 44u);
}

TEST(PickupQueueFile, OldFileIsConvertedWithItsRecordsInOrder)
{
    ScratchDir dir;
    CrawlMirrorPages mirror(dir.path());
    const std::string path = dir.file("WP.lst");
    const std::string old = OldFormFile({Record(FileEntry("/1.jpg")), Record(FileEntry("/2.jpg"))});
    std::ofstream(path, std::ios::binary) << old;

    CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
    const int32_t version = queue.OpenPickupQueue(path);
    ASSERT_NE(version, kPickupQueueVersion);
    std::vector<int> counts;
    ASSERT_TRUE(queue.ConvertPickupQueue(path, version, [&](int n) { counts.push_back(n); }));
    EXPECT_EQ(counts, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(fs::exists(path + "." + std::to_string(version)));
    EXPECT_EQ(queue.TakeEntry(), FileEntry("/2.jpg"));
    EXPECT_EQ(queue.TakeEntry(), FileEntry("/1.jpg"));
    EXPECT_FALSE(queue.TakeEntry());

    CPickupQueue reopened(std::make_unique<QueueFilePickupStore>(), mirror);
    EXPECT_EQ(reopened.OpenPickupQueue(path), kPickupQueueVersion);
}

TEST(PickupQueueFile, PageWalkReadsTheStoredPageOfTheMirror)
{
    ScratchDir dir;
    const std::string root = dir.file("Mirror/");
    CrawlMirrorPages mirror(root);
    CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
    ASSERT_EQ(queue.OpenPickupQueue(dir.file("WP.lst")), kPickupQueueVersion);

    const std::string page = root + "P/site/a/index.html";
    fs::create_directories(fs::path(page).parent_path());
    std::ofstream(page) << "<html><body><a href=\"next.html\">n</a><img src=\"pic.jpg\"><img src=\"/b.jpg\"></body></html>";
    const std::vector<uint8_t> jpeg = EncodeJpeg({4, 4, JpegColours::Rgb}, PatternPixels(4, 4, 3));
    WriteFile(root + "P/site/a/pic.jpg", jpeg);
    fs::create_directories(root + "P/site");
    WriteFile(root + "P/site/b.jpg", jpeg);

    PickupEntry source;
    source.maxDepth = 0;
    source.followImages = 1;
    source.folder = "P";
    source.pageUrl = "http://site/a/";
    queue.AddEntry(source);
    const auto first = queue.NextPicture();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path, root + "P/site/a/pic.jpg");
    const auto second = queue.NextPicture();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->path, root + "P/site/b.jpg");
    EXPECT_FALSE(queue.NextPicture());
}

TEST(PickupSettings, FreshUserAnswersTheBuiltInValues)
{
    ScratchDir dir;
    AppSettings settings(dir.file("settings.ini"), dir.file("program"));
    ASSERT_TRUE(settings.LoadSettings());
    const PageWalkSettings walk = PageWalkSettingsFrom(settings);
    EXPECT_EQ(walk.extHtml, "htm;html;shtml");
    EXPECT_EQ(walk.uvExtHtml, "");
    const PictureSourceSettings sources = PictureSourceSettingsFrom(settings);
    EXPECT_EQ(sources.pickupDisplay, 1);
    EXPECT_EQ(sources.pickupDir, sources.mirrorDir + "Pickup/");
    EXPECT_EQ(sources.linkMaxStored, -1);
    EXPECT_EQ(sources.drawType, 1);
    EXPECT_EQ(sources.drawSpeed, 5);
    EXPECT_EQ(sources.imgSw, 1);
    EXPECT_EQ(sources.picChgInterval, 5);
}
