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

} // namespace

TEST(SlideShowFile, ReadsTwelveFieldsAndLeavesAMalformedRecordOut)
{
    SlideEntry full = Slide("/p/a.prj", "P/F", "http://h/");
    full.title = "Top";
    full.linkDepth = 2, full.effect = 11, full.speed = 100, full.backColor = 0xFF8040, full.minWidth = 640;
    full.minHeight = 480, full.showImgTags = 0, full.interval = 86400;
    const SlideEntry folder = Slide("/p/a.prj", "P/F", "");
    const std::string folderLine = "/p/a.prj|P/F|||0|1|5|0|0|0|1|5\r\n";
    struct Row {
        const char* name;
        std::string text;
        std::vector<SlideEntry> expected;
        std::vector<int> unread = {};
    };
    const Row rows[] = {
        {"all_fields", "/p/a.prj|P/F|http://h/|Top|2|11|100|16744512|640|480|0|86400\r\n", {full}},
        {"blanks_and_missing_number", " /p/a.prj|P/F\t| | |0| 1|5|||0|1| 5 \r\n", {folder}},
        {"negative_number_is_malformed", "/p/a.prj|P/F|||-1|1|5|0|0|0|1|5\r\n" + folderLine, {folder}, {1}},
        {"too_few_fields", "/p/a.prj|P/F|||0|1|5|0|0|0|1\r\n" + folderLine, {folder}, {1}},
        {"vanished_project_skipped", "/p/gone.prj|P/F|||0|1|5|0|0|0|1|5\r\n" + folderLine, {folder}},
        {"malformed_line_left_out_the_rest_read", folderLine + "broken\r\n" + folderLine, {folder, folder}, {2}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CSSDoc doc = MakeDoc();
        doc.Parse(r.text);
        EXPECT_TRUE(doc.entries() == r.expected);
        EXPECT_EQ(doc.unreadLines(), r.unread);
    }
}

TEST(SlideShowFile, SavedAtOnceAndReadBackInOrder)
{
    ScratchDir dir;
    CSSDoc doc = MakeDoc();
    ASSERT_TRUE(doc.Load(dir.file("QRY")));
    SlideSettings page{true, 0, 7, 0xFFFFFF, 100, 80, false, 3600};
    ASSERT_TRUE(doc.SetItemSlideShow("/p/b.prj", "B", "http://h/b.html", 3, page));
    std::stringstream saved;
    saved << std::ifstream(dir.file("QRY.ssf"), std::ios::binary).rdbuf();
    EXPECT_EQ(saved.str(), "/p/b.prj|B|http://h/b.html||3|0|7|16777215|100|80|0|3600\r\n");
    doc.entries().push_back(Slide("/p/gone.prj", "G", ""));
    doc.entries().push_back(Slide("/p/a.prj", "A/C", ""));
    ASSERT_TRUE(doc.Save(dir.file("QRY")));

    CSSDoc back = MakeDoc();
    ASSERT_TRUE(back.Load(dir.file("QRY")));
    ASSERT_EQ(back.entries().size(), 2u);
    EXPECT_EQ(back.entries()[0], doc.entries()[0]);
    EXPECT_EQ(back.entries()[1], doc.entries()[2]);
    EXPECT_FALSE(back.Load(dir.path() + std::string(257 - dir.path().size(), 'x')));
}

TEST(SlideShowItems, BoundsOneEntryPerItemAndDeletionTakesTheSubtree)
{
    CSSDoc doc = MakeDoc();
    doc.SetItemSlideShow("/p/a.prj", "P/A", "", 0, {true, 1, 500, 0, 700, -1, true, 1});
    const SlideEntry& e = doc.entries()[0];
    EXPECT_EQ(std::vector<int>({e.speed, e.minWidth, e.minHeight, e.interval}), std::vector<int>({100, 640, 0, 5}));

    SlideSettings on;
    on.enabled = true;
    doc.SetItemSlideShow("/p/a.prj", "P/A", "http://h/1", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/A/B", "", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/AB", "", 0, on);
    doc.SetItemSlideShow("/p/b.prj", "P/A", "", 0, on);
    doc.SetItemSlideShow("/p/a.prj", "P/A", "", 0, on); // replaces the first
    ASSERT_EQ(doc.entries().size(), 5u);
    doc.SetItemSlideShow("/p/a.prj", "P/A", "http://h/1", 0, {}); // switched off
    EXPECT_EQ(doc.entries().size(), 4u);
    EXPECT_FALSE(doc.SetItemSlideShow("/p/a|b.prj", "P", "", 0, on));

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
    doc.entries() = {page, Slide("/p/a.prj", "P/Pics", "")};
    PictureSourceSettings settings;
    settings.pickupDir = "/m/Pickup/";
    settings.mirrorDir = "/m/";
    settings.linkMaxStored = -1;
    settings.bgColor = 0xFF, settings.drawType = 3, settings.drawSpeed = 40, settings.minPicWidth = 10;
    settings.minPicHeight = 20, settings.imgSw = 0, settings.picChgInterval = 99;

    struct Row {
        const char* name;
        int display;
        std::vector<std::string> sources; // folder|pageUrl
    };
    const Row rows[] = {
        {"list_only", 0, {"P/News|http://h/index.html", "/m/P/Pics|"}},
        {"both_pickup_first", 1, {"/m/Pickup|", "P/News|http://h/index.html", "/m/P/Pics|"}},
        {"pickup_only", 2, {"/m/Pickup|"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        settings.pickupDisplay = r.display;
        // A hand-edited root without its "/" names the same directories.
        settings.mirrorDir = r.display == 0 ? "/m" : "/m/";
        settings.pickupDir = r.display == 2 ? "/m/Pickup" : "/m/Pickup/";
        std::vector<PickupEntry> got;
        doc.BuildPictureSources(settings, [&](const PickupEntry& e) { got.push_back(e); });
        std::vector<std::string> names;
        for (const PickupEntry& e : got)
            names.push_back(e.folder + "|" + e.pageUrl);
        EXPECT_EQ(names, r.sources);
        if (r.display == 1) {
            EXPECT_EQ(std::vector<int>({got[0].bgColor, got[0].drawType, got[0].drawSpeed, got[0].maxDepth,
                          got[0].minWidth, got[0].minHeight, got[0].followImages, got[0].interval}),
                std::vector<int>({0xFF, 3, 40, -1, 10, 20, 0, 99}));
            EXPECT_EQ(std::vector<int>({got[1].bgColor, got[1].drawType, got[1].drawSpeed, got[1].maxDepth,
                          got[1].minWidth, got[1].minHeight, got[1].followImages, got[1].interval}),
                std::vector<int>({0x102030, 7, 30, 2, 64, 48, 0, 60}));
        }
    }
}
