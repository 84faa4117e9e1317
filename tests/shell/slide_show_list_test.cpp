#include "shell/slide_show_list.h"

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace ormbrook;
using ormbrook::test::ScratchDir;

namespace {

CSSDoc MakeDoc()
{
    return CSSDoc([](const std::string& p) { return p.find("gone") == std::string::npos; });
}

SlideEntry Slide(std::string file, std::string folder, std::string url)
{
    SlideEntry s;
    s.file = std::move(file);
    s.folder = std::move(folder);
    s.url = std::move(url);
    return s;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(SlideShowFile, ReadsRecordsByTheFieldRules)
{
    SlideEntry full = Slide("/p/a.prj", "P/F", "http://h/");
    full.title = "Top";
    full.linkDepth = 2, full.effect = 11, full.speed = 100, full.backColor = 0xFF8040, full.minWidth = 640;
    full.minHeight = 480, full.showImgTags = 0, full.interval = 86400;
    SlideEntry folder = Slide("/p/a.prj", "P/F", "");
    folder.linkDepth = 0, folder.effect = 1, folder.speed = 5, folder.showImgTags = 1, folder.interval = 5;

    struct Row {
        const char* name;
        std::string text;
        std::vector<SlideEntry> expected;
    };
    const Row rows[] = {
        {"all_fields", "/p/a.prj|P/F|http://h/|Top|2|11|100|16744512|640|480|0|86400\r\n", {full}},
        {"folder_item", "/p/a.prj|P/F|||0|1|5|0|0|0|1|5\r\n", {folder}},
        {"blanks_everywhere", "  /p/a.prj |P/F\t| | | 0 | 1 |5 |0|0|0|1| 5  \r\n", {}},
        {"missing_number_reads_zero", "/p/a.prj|P/F|||0|1|5|||0|1|5\r\n", {folder}},
        {"negative_number_is_malformed", "/p/a.prj|P/F|||-1|1|5|0|0|0|1|5\r\n", {}},
        {"too_few_fields", "/p/a.prj|P/F|||0|1|5|0|0|0|1\r\n/p/a.prj|P/F|||0|1|5|0|0|0|1|5\r\n", {}},
        {"too_many_fields", "/p/a.prj|P/F|||0|1|5|0|0|0|1|5|9\r\n", {}},
        {"folder_over_limit", "/p/a.prj|" + std::string(1024, 'f') + "|||0|1|5|0|0|0|1|5\r\n", {}},
        {"vanished_project_skipped",
            "/p/gone.prj|P/F|||0|1|5|0|0|0|1|5\r\n/p/a.prj|P/F|||0|1|5|0|0|0|1|5\r\n", {folder}},
        {"malformed_keeps_earlier",
            "/p/a.prj|P/F|||0|1|5|0|0|0|1|5\r\nbroken\r\n/p/a.prj|P/F|http://h/|Top|2|11|100|16744512|640|480|0|86400\r\n",
            {folder}},
    };
    SlideEntry blanks = folder;
    blanks.file = "/p/a.prj ";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CSSDoc doc = MakeDoc();
        doc.Parse(r.text);
        if (std::string(r.name) == "blanks_everywhere") {
            // Leading blanks go; a trailing blank belongs to the text.
            EXPECT_EQ(doc.entries(), std::vector<SlideEntry>{blanks});
        } else {
            EXPECT_EQ(doc.entries(), r.expected);
        }
    }
}

TEST(SlideShowFile, WriteAndReadBackGivesTheSameEntriesInOrder)
{
    CSSDoc doc = MakeDoc();
    SlideEntry a = Slide("/p/b.prj", "B", "http://h/b.html");
    a.linkDepth = 3, a.effect = 0, a.backColor = 0x00FFFFFF, a.title = "Title with spaces";
    SlideEntry gone = Slide("/p/gone.prj", "G", "");
    SlideEntry c = Slide("/p/a.prj", "A/C", "");
    c.interval = 3600, c.minWidth = 100, c.minHeight = 80;
    doc.entries() = {a, gone, c};
    const std::string text = doc.Serialize();
    EXPECT_EQ(text.substr(0, text.find("\r\n") + 2), "/p/b.prj|B|http://h/b.html|Title with spaces|3|0|5|16777215|0|0|1|5\r\n");

    CSSDoc back = MakeDoc();
    back.Parse(text);
    EXPECT_EQ(back.entries(), (std::vector<SlideEntry>{a, c}));
}

TEST(SlideShowFile, LoadCreatesMissingFileSaveAndPathLimit)
{
    ScratchDir dir;
    CSSDoc doc = MakeDoc();
    ASSERT_TRUE(doc.Load(dir.file("QRY")));
    EXPECT_EQ(ReadAll(dir.file("QRY.ssf")), "");

    SlideSettings page;
    page.enabled = true;
    ASSERT_TRUE(doc.SetItemSlideShow("/p/a.prj", "P", "", 1, page)); // saved at once
    EXPECT_EQ(ReadAll(dir.file("QRY.ssf")), "/p/a.prj|P|||1|1|5|0|0|0|1|5\r\n");

    const std::string tooLong = dir.path() + std::string(257 - dir.path().size(), 'x');
    EXPECT_FALSE(doc.Load(tooLong));
    EXPECT_FALSE(doc.Save(tooLong));
    EXPECT_TRUE(doc.Save(tooLong.substr(0, 256)));
}

TEST(SlideShowItems, SetItemSlideShowBoundsTheDisplayValues)
{
    struct Row {
        const char* name;
        SlideSettings page;
        int32_t speed, minWidth, minHeight, interval;
    };
    const Row rows[] = {
        {"speed_500_is_100", {true, 1, 500, 0, 0, 0, true, 5}, 100, 0, 0, 5},
        {"interval_1_is_5", {true, 1, 5, 0, 0, 0, true, 1}, 5, 0, 0, 5},
        {"sizes_above_bounds", {true, 1, 5, 0, 641, 481, true, 86401}, 5, 640, 480, 86400},
        {"negatives_to_lower_bounds", {true, 1, -1, 0, -1, -1, true, -1}, 0, 0, 0, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CSSDoc doc = MakeDoc();
        ASSERT_TRUE(doc.SetItemSlideShow("/p/a.prj", "P", "http://h/", 4, r.page));
        ASSERT_EQ(doc.entries().size(), 1u);
        const SlideEntry& e = doc.entries()[0];
        EXPECT_EQ(e.speed, r.speed);
        EXPECT_EQ(e.minWidth, r.minWidth);
        EXPECT_EQ(e.minHeight, r.minHeight);
        EXPECT_EQ(e.interval, r.interval);
        EXPECT_EQ(e.linkDepth, 4);
        EXPECT_EQ(e.title, "");
    }
}

TEST(SlideShowItems, OneEntryPerItemAndDeletionTakesTheSubtree)
{
    CSSDoc doc = MakeDoc();
    SlideSettings on;
    on.enabled = true;
    doc.SetItemSlideShow("/p/a.prj", "P/A", "", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/A", "http://h/1", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/A/B", "", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/AB", "", 0, on);
    doc.SetItemSlideShow("/p/b.prj", "P/A", "", 0, on);
    on.speed = 9;
    doc.SetItemSlideShow("/p/a.prj", "P/A", "", 0, on);
    ASSERT_EQ(doc.entries().size(), 5u);
    EXPECT_EQ(doc.entries().back().speed, 9);

    SlideSettings off;
    doc.SetItemSlideShow("/p/a.prj", "P/A", "http://h/1", 0, off);
    EXPECT_EQ(doc.entries().size(), 4u);
    EXPECT_FALSE(doc.SetItemSlideShow("/p/a\nb.prj", "P", "", 0, on));

    doc.RemoveItemEntries("/p/a.prj", "P/A", "");
    std::vector<std::string> left;
    for (const SlideEntry& s : doc.entries())
        left.push_back(s.file + ":" + s.folder);
    EXPECT_EQ(left, (std::vector<std::string>{"/p/a.prj:P/AB", "/p/b.prj:P/A"}));
}

TEST(SlideShowSources, PickupDisplayChoosesAndOrdersTheSources)
{
    CSSDoc doc = MakeDoc();
    SlideEntry page = Slide("/p/a.prj", "P/News", "http://h/index.html");
    page.linkDepth = 2, page.effect = 7, page.speed = 30, page.backColor = 0x102030, page.minWidth = 64;
    page.minHeight = 48, page.showImgTags = 0, page.interval = 60;
    SlideEntry folder = Slide("/p/a.prj", "P/Pics", "");
    doc.entries() = {page, folder};

    PictureSourceSettings settings;
    settings.pickupDir = "/m/Mirror/Pickup/";
    settings.mirrorDir = "/m/Mirror/";
    settings.linkMaxStored = -1;
    settings.bgColor = 0x0000FF, settings.drawType = 3, settings.drawSpeed = 40, settings.minPicWidth = 10;
    settings.minPicHeight = 20, settings.imgSw = 0, settings.picChgInterval = 99;

    struct Row {
        const char* name;
        int display;
        std::vector<std::string> sources; // folder|pageUrl
    };
    const Row rows[] = {
        {"list_only", 0, {"P/News|http://h/index.html", "/m/Mirror/P/Pics|"}},
        {"both_pickup_first", 1, {"/m/Mirror/Pickup|", "P/News|http://h/index.html", "/m/Mirror/P/Pics|"}},
        {"pickup_only", 2, {"/m/Mirror/Pickup|"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        settings.pickupDisplay = r.display;
        std::vector<PickupEntry> got;
        doc.BuildPictureSources(settings, [&](const PickupEntry& e) { got.push_back(e); });
        std::vector<std::string> names;
        for (const PickupEntry& e : got)
            names.push_back(e.folder + "|" + e.pageUrl);
        EXPECT_EQ(names, r.sources);
    }

    settings.pickupDisplay = 1;
    std::vector<PickupEntry> got;
    doc.BuildPictureSources(settings, [&](const PickupEntry& e) { got.push_back(e); });
    ASSERT_EQ(got.size(), 3u);
    PickupEntry pickup;
    pickup.bgColor = 0x0000FF, pickup.drawType = 3, pickup.drawSpeed = 40, pickup.maxDepth = -1;
    pickup.minWidth = 10, pickup.minHeight = 20, pickup.followImages = 0, pickup.interval = 99;
    pickup.folder = "/m/Mirror/Pickup";
    EXPECT_EQ(got[0], pickup);
    PickupEntry fromPage;
    fromPage.bgColor = 0x102030, fromPage.drawType = 7, fromPage.drawSpeed = 30, fromPage.maxDepth = 2;
    fromPage.minWidth = 64, fromPage.minHeight = 48, fromPage.followImages = 0, fromPage.interval = 60;
    fromPage.folder = "P/News", fromPage.pageUrl = "http://h/index.html";
    EXPECT_EQ(got[1], fromPage);
}
