#include "pictures/pickup_queue.h"

#include "pictures/jpeg_decode.h"
#include "shell/slide_show_list.h"
#include "support/jpeg_maker.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

using namespace ormbrook;
using namespace ormbrook::test;
namespace fs = std::filesystem;

namespace {

// The queue file's behaviour as the pickup queue uses it, in memory.
struct MemoryStore : PickupStore {
    std::vector<std::string> records;
    int32_t Open(const std::string&) override { return kPickupQueueVersion; }
    bool PushBack(std::string_view r) override { return records.emplace_back(r), true; }
    std::optional<std::string> PopBack() override
    {
        if (records.empty())
            return std::nullopt;
        std::string r = records.back();
        records.pop_back();
        return r;
    }
    bool IsEmpty() override { return records.empty(); }
    void Reset() override { records.clear(); }
    bool ReadOldForm(const std::string&, const std::function<void(std::string_view)>&) override { return false; }
};

// Local paths are scratch files; pages have scripted links.
struct FakeMirror : MirrorPages {
    std::string root;
    std::map<std::string, std::vector<PageLink>> pages;
    std::string Local(const std::string& url, const std::string& folder) const
    {
        return root + folder + "/" + url.substr(url.find("//") + 2);
    }
    std::optional<std::string> LocalPath(const std::string& url, const std::string& folder) override
    {
        return Local(url, folder);
    }
    std::vector<PageLink> CollectLinks(const std::string&, const std::string& pageUrl) override
    {
        return pages[pageUrl];
    }
};

struct Receivers : PictureReceiverQuery {
    bool running = true;
    bool AnyReceiverRunning() override { return running; }
};

void MakeFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

void MakeJpegFile(const std::string& path, int w, int h)
{
    const auto jpeg = EncodeJpeg({w, h, JpegColours::Rgb}, PatternPixels(w, h, 3));
    MakeFile(path, std::string(jpeg.begin(), jpeg.end()));
}

struct QueueFixture {
    ScratchDir dir;
    FakeMirror mirror;
    MemoryStore* store;
    CPickupQueue queue;

    QueueFixture() : store(new MemoryStore), queue(std::unique_ptr<PickupStore>(store), mirror)
    {
        mirror.root = dir.path();
    }
    // Paths of every picture NextPicture gives, relative to the scratch folder.
    std::vector<std::string> Drain()
    {
        std::vector<std::string> out;
        while (auto e = queue.NextPicture())
            out.push_back(e->path.substr(dir.path().size()));
        return out;
    }
};

PickupEntry Source(int maxDepth, int follow, int minSize = 0)
{
    PickupEntry e;
    e.bgColor = 0x123456;
    e.drawType = 4;
    e.drawSpeed = 20;
    e.maxDepth = maxDepth;
    e.minWidth = e.minHeight = minSize;
    e.followImages = follow;
    e.interval = 30;
    return e;
}

} // namespace

TEST(PickupFolders, WalkTakesJpgFilesLargeEnoughAndSubfoldersDepthFirst)
{
    QueueFixture f;
    const std::string pics = f.dir.file("pics");
    MakeJpegFile(pics + "/a.JPG", 8, 8);
    MakeJpegFile(pics + "/b.jpeg", 8, 8); // only ".jpg" counts
    MakeJpegFile(pics + "/c.jpg", 4, 8);  // too narrow
    MakeFile(pics + "/broken.jpg", "not a picture");
    MakeJpegFile(pics + "/sub/d.jpg", 6, 6);
    MakeJpegFile(pics + "/sub/deeper/e.jpg", 9, 9);
    fs::create_directory_symlink(pics, pics + "/sub/loop"); // must not be walked
    PickupEntry gone = Source(0, 0);
    gone.path = pics + "/gone.jpg";
    f.queue.AddEntry(gone);
    f.store->records.push_back("damaged record");

    std::string messages;
    SetJpegMessageSink([&](std::string_view m) { messages += m; });
    PickupEntry folder = Source(0, 1, 5);
    folder.folder = pics;
    f.queue.AddEntry(folder);
    const auto first = f.queue.NextPicture();
    ASSERT_TRUE(first);
    PickupEntry expected = Source(0, 1, 5);
    expected.path = pics + "/sub/deeper/e.jpg";
    EXPECT_EQ(*first, expected);
    EXPECT_EQ(f.Drain(), (std::vector<std::string>{"pics/sub/d.jpg", "pics/a.JPG"}));
    SetJpegMessageSink({});
    EXPECT_EQ(messages, "");
    EXPECT_TRUE(f.queue.IsQueueEmpty());
}

TEST(PickupPages, LinksAreFollowedByKindLevelFlagAndExtension)
{
    struct Row {
        const char* name;
        int maxDepth, follow;
        PageWalkSettings walk;
        std::vector<std::string> shown;
    };
    const Row rows[] = {
        {"all_kinds_first_link_first", 1, 1, {}, {"P/h/p1.jpg", "P/h/i.jpg", "P/h/f.jpg", "P/h/bg.jpg"}},
        {"link_one_level_too_deep", 0, 1, {}, {"P/h/i.jpg", "P/h/f.jpg", "P/h/bg.jpg"}},
        {"img_links_need_the_flag", 1, 0, {}, {"P/h/bg.jpg"}},
        {"page_extension_excluded", 1, 1, {"htm;html;shtml", "HTML"}, {"P/h/i.jpg", "P/h/bg.jpg"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        f.queue.SetPageWalkSettings(r.walk);
        for (const char* pic : {"p1.jpg", "i.jpg", "f.jpg", "bg.jpg"})
            MakeJpegFile(f.mirror.Local(std::string("http://h/") + pic, "P"), 4, 4);
        for (const char* page : {"index.htm", "p1.html", "f.html"})
            MakeFile(f.mirror.Local(std::string("http://h/") + page, "P"), "<html>");
        f.mirror.pages["http://h/index.htm"] = {{PageLinkKind::AHref, "http://h/p1.html"},
            {PageLinkKind::ImgSrc, "http://h/i.jpg"}, {PageLinkKind::FrameSrc, "http://h/f.html"},
            {PageLinkKind::BodyBackground, "http://h/bg.jpg"}, {PageLinkKind::Other, "http://h/o.jpg"}};
        f.mirror.pages["http://h/p1.html"] = {{PageLinkKind::ImgSrc, "http://h/p1.jpg"}};
        f.mirror.pages["http://h/f.html"] = {{PageLinkKind::ImgSrc, "http://h/f.jpg"}};
        PickupEntry page = Source(r.maxDepth, r.follow);
        page.folder = "P";
        page.pageUrl = "http://h/index.htm";
        f.queue.AddEntry(page);
        EXPECT_EQ(f.Drain(), r.shown);
    }
}

TEST(PickupPages, PagesFramingEachOtherDoNotHangTheSearch)
{
    QueueFixture f;
    MakeFile(f.mirror.Local("http://h/a.html", "P"), "<html>");
    MakeFile(f.mirror.Local("http://h/b.html", "P"), "<html>");
    f.mirror.pages["http://h/a.html"] = {{PageLinkKind::FrameSrc, "http://h/b.html"}};
    f.mirror.pages["http://h/b.html"] = {{PageLinkKind::FrameSrc, "http://h/a.html"}};
    PickupEntry page = Source(5, 1);
    page.folder = "P";
    page.pageUrl = "http://h/a.html";
    f.queue.AddEntry(page);
    EXPECT_FALSE(f.queue.NextPicture());
}

TEST(PickupHistory, PreviousGivesTheOlderAndRequeuesTheNewer)
{
    QueueFixture f;
    auto shown = [&](int i) {
        PickupEntry e = Source(2, 1);
        e.caption = "New Picture";
        e.folder = "F";
        e.path = f.dir.file("p" + std::to_string(i) + ".jpg");
        MakeJpegFile(e.path, 2, 2);
        return e;
    };
    f.queue.AddToHistory(shown(1));
    EXPECT_FALSE(f.queue.PreviousPicture());
    f.queue.AddToHistory(shown(2));
    EXPECT_EQ(f.queue.PreviousPicture(), shown(1));
    EXPECT_EQ(f.queue.history().count(), 0u);
    PickupEntry back = Source(2, 1); // a plain file entry: texts other than the path cleared
    back.path = shown(2).path;
    EXPECT_EQ(f.queue.NextPicture(), back);

    for (int i = 1; i <= 25; ++i)
        f.queue.AddToHistory(shown(i));
    ASSERT_EQ(f.queue.history().count(), 20u);
    EXPECT_EQ(f.queue.history().entries().front().path, shown(6).path);
    f.queue.AddEntry(shown(1));
    f.queue.ClearPictures();
    EXPECT_EQ(f.queue.history().count(), 0u);
    EXPECT_TRUE(f.queue.IsQueueEmpty());
}

TEST(PickupRefill, SourcesComeFromTheSlideShowListLastEntryFirst)
{
    struct Row {
        const char* name;
        int display;
        bool pickupHasPicture;
        std::vector<std::string> shown;
    };
    const Row rows[] = {
        {"pickup_only_and_empty", 2, false, {}},
        {"list_only", 0, true, {"M/P/B/b.jpg", "M/P/A/a.jpg"}},
        {"both_pickup_last", 1, true, {"M/P/B/b.jpg", "M/P/A/a.jpg", "M/Pickup/new.jpg"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        fs::create_directories(f.dir.file("M/Pickup"));
        if (r.pickupHasPicture)
            MakeJpegFile(f.dir.file("M/Pickup/new.jpg"), 4, 4);
        MakeJpegFile(f.dir.file("M/P/A/a.jpg"), 4, 4);
        MakeJpegFile(f.dir.file("M/P/B/b.jpg"), 4, 4);
        CSSDoc list([](const std::string&) { return true; });
        SlideSettings on;
        on.enabled = true;
        list.SetItemSlideShow("/p.prj", "P/A", "", 0, on);
        list.SetItemSlideShow("/p.prj", "P/B", "", 0, on);
        PictureSourceSettings settings;
        settings.pickupDisplay = r.display;
        settings.pickupDir = f.dir.file("M/Pickup/");
        settings.mirrorDir = f.dir.file("M/");
        PickupEntry stale = Source(0, 0);
        stale.path = f.dir.file("M/P/A/a.jpg");
        f.queue.AddEntry(stale); // cleared by the refill
        f.queue.RefillQueue([&](const auto& add) { list.BuildPictureSources(settings, add); });
        EXPECT_EQ(f.Drain(), r.shown);
    }
}

TEST(PickupOffer, NewDownloadIsQueuedOnlyWhenShownAndLargeEnough)
{
    // receiver running, height, queued
    for (auto [running, height, queued] : {std::tuple{true, 10, true}, {false, 10, false}, {true, 9, false}}) {
        QueueFixture f;
        Receivers receivers;
        receivers.running = running;
        NewPictureOffer offer;
        offer.localPath = f.dir.file("m/new.jpg");
        offer.minWidth = offer.minHeight = 10;
        MakeJpegFile(offer.localPath, 10, height);
        EXPECT_EQ(f.queue.OfferNewPicture(offer, receivers), queued);
        const auto e = f.queue.TakeEntry();
        EXPECT_EQ(e.has_value() ? e->caption + "|" + e->path : "", queued ? "New Picture|" + offer.localPath : "");
    }
}
