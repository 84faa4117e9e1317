#include "pictures/pickup_queue.h"

#include "pictures/jpeg_decode.h"
#include "shell/slide_show_list.h"
#include "support/jpeg_maker.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

using namespace ormbrook;
using namespace ormbrook::test;
namespace fs = std::filesystem;

namespace {

// The queue file's behaviour as the pickup queue uses it, in memory.
struct MemoryStore : PickupStore {
    std::vector<std::string> records;
    std::vector<int32_t> signatures{kPickupQueueVersion}; // answered by successive Opens
    std::vector<std::string> oldRecords;
    size_t opens = 0;

    int32_t Open(const std::string& path) override
    {
        std::ofstream(path, std::ios::app).flush(); // the store creates its file
        const int32_t s = signatures[std::min(opens, signatures.size() - 1)];
        ++opens;
        return s;
    }
    bool PushBack(std::string_view r) override
    {
        records.emplace_back(r);
        return true;
    }
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
    bool ReadOldForm(const std::string& path, const std::function<void(std::string_view)>& each) override
    {
        if (!fs::exists(path))
            return false;
        for (const std::string& r : oldRecords)
            each(r);
        return true;
    }
};

// A mirror whose local paths are scratch files and whose pages have scripted links.
struct FakeMirror : MirrorPages {
    std::string root;
    std::map<std::string, std::vector<PageLink>> pages;

    std::string Local(const std::string& url, const std::string& folder) const
    {
        std::string tail = url.substr(url.find("//") + 2);
        if (tail.ends_with('/'))
            tail += "index.html";
        return root + folder + "/" + tail;
    }
    std::optional<std::string> LocalPath(const std::string& url, const std::string& folder) override
    {
        return Local(url, folder);
    }
    std::vector<PageLink> CollectLinks(const std::string&, const std::string& pageUrl) override
    {
        auto it = pages.find(pageUrl);
        return it == pages.end() ? std::vector<PageLink>{} : it->second;
    }
};

struct Receivers : PictureReceiverQuery {
    bool running = true;
    bool AnyReceiverRunning() override { return running; }
};

void MakeJpegFile(const std::string& path, int w, int h)
{
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, EncodeJpeg({w, h, JpegColours::Rgb}, PatternPixels(w, h, 3)));
}

void MakeFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

struct QueueFixture {
    ScratchDir dir;
    MemoryStore* store = nullptr;
    FakeMirror mirror;
    std::unique_ptr<CPickupQueue> queue;

    QueueFixture()
    {
        auto s = std::make_unique<MemoryStore>();
        store = s.get();
        mirror.root = dir.file("mirror/");
        queue = std::make_unique<CPickupQueue>(std::move(s), mirror);
        queue->OpenPickupQueue(dir.file("WP.lst"));
    }

    std::vector<std::string> DrainPaths()
    {
        std::vector<std::string> out;
        while (auto e = queue->NextPicture())
            out.push_back(e->path.substr(dir.path().size()));
        return out;
    }
};

PickupEntry Source(int maxDepth, int follow, int minW = 0, int minH = 0)
{
    PickupEntry e;
    e.bgColor = 0x123456;
    e.drawType = 4;
    e.drawSpeed = 20;
    e.maxDepth = maxDepth;
    e.minWidth = minW;
    e.minHeight = minH;
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
    MakeJpegFile(pics + "/b.jpeg", 8, 8);       // only ".jpg" counts
    MakeJpegFile(pics + "/c.jpg", 4, 8);        // too narrow
    MakeFile(pics + "/broken.jpg", "not a picture");
    MakeFile(pics + "/notes.txt", "x");
    MakeJpegFile(pics + "/sub/d.jpg", 6, 6);
    MakeJpegFile(pics + "/sub/deeper/e.jpg", 9, 9);
    fs::create_directory_symlink(pics, pics + "/sub/loop"); // must not be walked

    std::string messages;
    SetJpegMessageSink([&](std::string_view m) { messages += m; });
    PickupEntry folder = Source(0, 1, 5, 5);
    folder.folder = pics;
    f.queue->AddEntry(folder);
    EXPECT_EQ(f.DrainPaths(), (std::vector<std::string>{"pics/sub/deeper/e.jpg", "pics/sub/d.jpg", "pics/a.JPG"}));
    SetJpegMessageSink({});
    EXPECT_EQ(messages, "");
    EXPECT_TRUE(f.queue->IsQueueEmpty());
}

TEST(PickupFolders, FoundPictureKeepsTheDisplayFieldsOfItsSource)
{
    QueueFixture f;
    MakeJpegFile(f.dir.file("p/x.jpg"), 3, 2);
    PickupEntry folder = Source(3, 1);
    folder.folder = f.dir.file("p");
    f.queue->AddEntry(folder);
    const auto got = f.queue->NextPicture();
    ASSERT_TRUE(got);
    PickupEntry expected = Source(3, 1);
    expected.path = f.dir.file("p/x.jpg");
    EXPECT_EQ(*got, expected);
}

TEST(PickupFiles, VanishedFileAndMissingFolderAreDropped)
{
    QueueFixture f;
    MakeJpegFile(f.dir.file("here.jpg"), 4, 4);
    PickupEntry here = Source(0, 0);
    here.path = f.dir.file("here.jpg");
    PickupEntry gone = Source(0, 0);
    gone.path = f.dir.file("gone.jpg");
    PickupEntry noFolder = Source(0, 0);
    noFolder.folder = f.dir.file("nowhere");
    f.queue->AddEntry(here);
    f.queue->AddEntry(gone);
    f.queue->AddEntry(noFolder);
    f.store->records.insert(f.store->records.end(), "damaged record"); // dropped when taken
    EXPECT_EQ(f.DrainPaths(), std::vector<std::string>{"here.jpg"});
}

TEST(PickupPages, LinksAreFollowedByKindLevelAndFlag)
{
    struct Row {
        const char* name;
        int maxDepth;
        int follow;
        std::vector<std::string> shown;
    };
    const Row rows[] = {
        {"all_kinds_first_link_first", 1, 1,
            {"mirror/P/h/p1.jpg", "mirror/P/h/i.jpg", "mirror/P/h/f.jpg", "mirror/P/h/bg.jpg"}},
        {"link_one_level_too_deep", 0, 1, {"mirror/P/h/i.jpg", "mirror/P/h/f.jpg", "mirror/P/h/bg.jpg"}},
        {"img_links_need_the_flag", 1, 0, {"mirror/P/h/bg.jpg"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        for (const char* pic : {"p1.jpg", "i.jpg", "f.jpg", "bg.jpg"})
            MakeJpegFile(f.mirror.Local(std::string("http://h/") + pic, "P"), 4, 4);
        for (const char* page : {"index.html", "p1.html", "f.html"})
            MakeFile(f.mirror.Local(std::string("http://h/") + page, "P"), "<html>");
        f.mirror.pages["http://h/index.html"] = {{PageLinkKind::AHref, "http://h/p1.html"},
            {PageLinkKind::ImgSrc, "http://h/i.jpg"}, {PageLinkKind::FrameSrc, "http://h/f.html"},
            {PageLinkKind::BodyBackground, "http://h/bg.jpg"}, {PageLinkKind::Other, "http://h/o.jpg"}};
        f.mirror.pages["http://h/p1.html"] = {{PageLinkKind::ImgSrc, "http://h/p1.jpg"}};
        f.mirror.pages["http://h/f.html"] = {{PageLinkKind::ImgSrc, "http://h/f.jpg"}};

        PickupEntry page = Source(r.maxDepth, r.follow);
        page.folder = "P";
        page.pageUrl = "http://h/index.html";
        f.queue->AddEntry(page);
        EXPECT_EQ(f.DrainPaths(), r.shown);
    }
}

TEST(PickupPages, OnlyHtmlExtensionsAreReadAsPages)
{
    struct Row {
        const char* name;
        std::string pageUrl;
        PageWalkSettings settings;
        bool walked;
    };
    const Row rows[] = {
        {"html_by_default", "http://h/a.html", {}, true},
        {"upper_case_extension", "http://h/a.HTM", {}, true},
        {"no_extension_passes", "http://h/dir/", {}, true},
        {"text_file_skipped", "http://h/a.txt", {}, false},
        {"excluded_extension", "http://h/a.shtml", {"htm;html;shtml", "SHTML"}, false},
        {"own_html_list", "http://h/a.php", {"php", ""}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        f.queue->SetPageWalkSettings(r.settings);
        MakeFile(f.mirror.Local(r.pageUrl, "P"), "<html>");
        MakeJpegFile(f.mirror.Local("http://h/pic.jpg", "P"), 4, 4);
        f.mirror.pages[r.pageUrl] = {{PageLinkKind::ImgSrc, "http://h/pic.jpg"}};
        PickupEntry page = Source(0, 1);
        page.folder = "P";
        page.pageUrl = r.pageUrl;
        f.queue->AddEntry(page);
        EXPECT_EQ(f.queue->NextPicture().has_value(), r.walked);
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
    f.queue->AddEntry(page);
    EXPECT_FALSE(f.queue->NextPicture());
    EXPECT_TRUE(f.queue->IsQueueEmpty());
}

TEST(PickupHistory, PreviousAndTheLimitOfTwenty)
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
    EXPECT_FALSE(f.queue->PreviousPicture());
    f.queue->AddToHistory(shown(1));
    EXPECT_FALSE(f.queue->PreviousPicture());
    EXPECT_EQ(f.queue->history().count(), 1u);

    f.queue->AddToHistory(shown(2));
    const auto prev = f.queue->PreviousPicture();
    ASSERT_TRUE(prev);
    EXPECT_EQ(*prev, shown(1));
    EXPECT_EQ(f.queue->history().count(), 0u);
    // The newer one went back into the queue as a plain file entry.
    const auto next = f.queue->NextPicture();
    ASSERT_TRUE(next);
    PickupEntry back = Source(2, 1);
    back.path = shown(2).path;
    EXPECT_EQ(*next, back);

    for (int i = 1; i <= 25; ++i)
        f.queue->AddToHistory(shown(i));
    ASSERT_EQ(f.queue->history().count(), 20u);
    EXPECT_EQ(f.queue->history().entries().front().path, shown(6).path);
    EXPECT_EQ(f.queue->history().entries().back().path, shown(25).path);

    f.queue->AddEntry(shown(1));
    f.queue->ClearPictures();
    EXPECT_EQ(f.queue->history().count(), 0u);
    EXPECT_TRUE(f.queue->IsQueueEmpty());
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
        {"pickup_only", 2, true, {"Mirror/Pickup/new.jpg"}},
        {"list_only", 0, true, {"Mirror/P/B/b.jpg", "Mirror/P/A/a.jpg"}},
        {"both_pickup_last", 1, true, {"Mirror/P/B/b.jpg", "Mirror/P/A/a.jpg", "Mirror/Pickup/new.jpg"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        fs::create_directories(f.dir.file("Mirror/Pickup"));
        if (r.pickupHasPicture)
            MakeJpegFile(f.dir.file("Mirror/Pickup/new.jpg"), 4, 4);
        MakeJpegFile(f.dir.file("Mirror/P/A/a.jpg"), 4, 4);
        MakeJpegFile(f.dir.file("Mirror/P/B/b.jpg"), 4, 4);
        CSSDoc list([](const std::string&) { return true; });
        SlideSettings on;
        on.enabled = true;
        list.SetItemSlideShow("/p/p.prj", "P/A", "", 0, on);
        list.SetItemSlideShow("/p/p.prj", "P/B", "", 0, on);
        PictureSourceSettings settings;
        settings.pickupDisplay = r.display;
        settings.pickupDir = f.dir.file("Mirror/Pickup/");
        settings.mirrorDir = f.dir.file("Mirror/");

        PickupEntry stale = Source(0, 0);
        stale.path = f.dir.file("Mirror/P/A/a.jpg");
        f.queue->AddEntry(stale); // cleared by the refill
        f.queue->RefillQueue([&](const auto& add) { list.BuildPictureSources(settings, add); });
        EXPECT_EQ(f.DrainPaths(), r.shown);
        EXPECT_TRUE(f.queue->IsQueueEmpty());
    }
}

TEST(PickupOffer, NewDownloadIsQueuedOnlyWhenShownAndLargeEnough)
{
    struct Row {
        const char* name;
        bool receiver;
        int width, height;
        bool queued;
    };
    const Row rows[] = {
        {"queued", true, 10, 10, true},
        {"nobody_to_show_it", false, 10, 10, false},
        {"too_narrow", true, 9, 10, false},
        {"too_low", true, 10, 9, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QueueFixture f;
        Receivers receivers;
        receivers.running = r.receiver;
        NewPictureOffer offer;
        offer.localPath = f.dir.file("m/new.jpg");
        offer.minWidth = 10;
        offer.minHeight = 10;
        offer.bgColor = 7;
        offer.interval = 9;
        MakeJpegFile(offer.localPath, r.width, r.height);
        EXPECT_EQ(f.queue->OfferNewPicture(offer, receivers), r.queued);
        const auto e = f.queue->TakeEntry();
        ASSERT_EQ(e.has_value(), r.queued);
        if (e) {
            EXPECT_EQ(e->caption, "New Picture");
            EXPECT_EQ(e->path, offer.localPath);
            EXPECT_EQ(e->maxDepth, 0);
            EXPECT_EQ(e->bgColor, 7);
            EXPECT_EQ(e->interval, 9);
        }
    }
}

TEST(PickupOpen, OldVersionIsKeptAsACopyAndItsRecordsCarriedOver)
{
    ScratchDir dir;
    auto owned = std::make_unique<MemoryStore>();
    MemoryStore* store = owned.get();
    store->signatures = {10049, kPickupQueueVersion};
    PickupEntry a = Source(1, 1);
    a.path = "/x/a.jpg";
    PickupEntry b = Source(2, 0);
    b.folder = "/x";
    store->oldRecords = {std::string(reinterpret_cast<const char*>(EncodePickupRecord(a).data()), EncodePickupRecord(a).size()),
        "unreadable", std::string(reinterpret_cast<const char*>(EncodePickupRecord(b).data()), EncodePickupRecord(b).size())};
    FakeMirror mirror;
    CPickupQueue queue(std::move(owned), mirror);
    const std::string path = dir.file("WP.lst");
    MakeFile(path, "old bytes");

    ASSERT_EQ(queue.OpenPickupQueue(path), 10049);
    std::vector<int> counts;
    ASSERT_TRUE(queue.ConvertPickupQueue(path, 10049, [&](int n) { counts.push_back(n); }));
    EXPECT_EQ(counts, (std::vector<int>{0, 1, 2}));
    std::ifstream copy(path + ".10049");
    std::string copied((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
    EXPECT_EQ(copied, "old bytes");
    EXPECT_EQ(queue.TakeEntry(), b);
    EXPECT_EQ(queue.TakeEntry(), a);
    EXPECT_FALSE(queue.TakeEntry());
}
