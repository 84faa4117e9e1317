#include "pictures/mirror_pages.h"
#include "pictures/queue_file_pickup_store.h"
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

// "WP.lst" as an earlier version left it: the 40-byte header without
// signature (head sentinel at 8, tail at 16), records in order.
std::string OldFormFile(const std::vector<std::string>& records)
{
    std::vector<uint32_t> at{40};
    for (const std::string& r : records)
        at.push_back(at.back() + 12 + uint32_t(r.size()));
    std::string file;
    for (uint32_t v : {40u, 40u, 8u, at.front(), at[records.size() - 1], 16u, 24u, 32u, 24u, 32u})
        Put32(file, v);
    for (size_t i = 0; i < records.size(); ++i) {
        Put32(file, i == 0 ? 8 : at[i - 1]);
        Put32(file, i + 1 == records.size() ? 16 : at[i + 1]);
        Put32(file, uint32_t(records[i].size()));
        file += records[i];
    }
    return file;
}

PickupEntry FileEntry(const std::string& path)
{
    PickupEntry e;
    e.path = path;
    return e;
}

std::string Record(const std::string& path)
{
    const auto bytes = EncodePickupRecord(FileEntry(path));
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(PickupQueueFile, OldFileIsKeptAsACopyAndItsRecordsCarriedOverInOrder)
{
    ScratchDir dir;
    CrawlMirrorPages mirror(dir.path());
    const std::string path = dir.file("WP.lst");
    std::ofstream(path, std::ios::binary) << OldFormFile({Record("/1.jpg"), "unreadable", Record("/2.jpg")});

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
}

TEST(PickupQueueFile, PageWalkReadsTheStoredPageOfTheMirror)
{
    ScratchDir dir;
    const std::string root = dir.file("Mirror/");
    CrawlMirrorPages mirror(root);
    CPickupQueue queue(std::make_unique<QueueFilePickupStore>(), mirror);
    ASSERT_EQ(queue.OpenPickupQueue(dir.file("WP.lst")), kPickupQueueVersion);
    fs::create_directories(root + "P/site/a");
    std::ofstream(root + "P/site/a/index.html") << "<a href=\"next.html\">n</a><img src=\"pic.jpg\"><img src=\"/b.jpg\">";
    const auto jpeg = EncodeJpeg({4, 4, JpegColours::Rgb}, PatternPixels(4, 4, 3));
    WriteFile(root + "P/site/a/pic.jpg", jpeg);
    WriteFile(root + "P/site/b.jpg", jpeg);

    PickupEntry source;
    source.followImages = 1;
    source.folder = "P";
    source.pageUrl = "http://site/a/";
    queue.AddEntry(source);
    EXPECT_EQ(queue.NextPicture().value_or(source).path, root + "P/site/a/pic.jpg");
    EXPECT_EQ(queue.NextPicture().value_or(source).path, root + "P/site/b.jpg");
    EXPECT_FALSE(queue.NextPicture());
}
