#include "crawl/project_item.h"

#include "common/url.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace ormbrook;

namespace {

// Project P / folder F / record R (http://site/a/b.html), plus a second
// record directly under the root.
struct Tree {
    std::unique_ptr<ProjectItem> root = ProjectItem::NewRoot("P");
    ProjectItem* folder = AppendChild(*root, ProjectItem::NewFolder("F"));
    ProjectItem* record = AppendChild(*folder, ProjectItem::NewRecord("http://site/a/b.html"));
    ProjectItem* top = AppendChild(*root, ProjectItem::NewRecord("http://other/"));
};

struct ProjectItemTest : ::testing::Test {
    QTemporaryDir dir;
    AppSettings app{dir.filePath("s.conf").toStdString(), dir.filePath("data").toStdString()};
    void SetUp() override { ASSERT_TRUE(app.LoadSettings()); }
};

CUrl url(const char* text)
{
    CUrl u;
    EXPECT_TRUE(u.Parse(text)) << text;
    return u;
}

} // namespace

TEST_F(ProjectItemTest, NewItemsInheritEverything)
{
    Tree t;
    EXPECT_EQ(t.root->PilotType, 0);
    EXPECT_EQ(t.record->PilotType, -1);
    for (int o = 0; o < kItemOptionCount; ++o) {
        EXPECT_EQ(t.root->option(ItemOption(o)), -1) << o;
        EXPECT_EQ(t.record->option(ItemOption(o)), -1) << o;
    }
    EXPECT_EQ(t.record->downloadFilter, ExtFilterGroup{});
}

TEST_F(ProjectItemTest, PlainOptionsComeFromTheNearestItemThatSetsThem)
{
    struct Row {
        const char* name;
        std::function<void(Tree&)> set;
        ItemOption option;
        int32_t want;
    };
    const Row rows[] = {
        {"application answers when nobody sets it", [](Tree&) {}, OptGraphMax, 0},
        {"application time-out", [](Tree&) {}, OptConnectionTimeout, 60},
        {"total time-out maps to TotalTimeout", [](Tree&) {}, OptDLTotalTimeout, 0},
        {"retries map to DLRetry", [](Tree&) {}, OptDLoadRetry, 1},
        {"root value", [](Tree& t) { t.root->GraphMax = 4; }, OptGraphMax, 4},
        {"folder beats root", [](Tree& t) { t.root->GraphMax = 4; t.folder->GraphMax = 2; }, OptGraphMax, 2},
        {"own value beats all", [](Tree& t) { t.folder->GraphMax = 2; t.record->GraphMax = 0; }, OptGraphMax, 0},
        {"LocalizeLink found on the record although GraphMax is unset",
         [](Tree& t) { t.record->LocalizeLink = 1; t.root->LocalizeLink = 0; }, OptLocalizeLink, 1},
        {"MUDrawSpeed of a folder", [](Tree& t) { t.folder->MUDrawSpeed = 9; }, OptMUDrawSpeed, 9},
        {"picture width and height inherit separately: width",
         [](Tree& t) { t.folder->MinPicWidth = 100; t.root->MinPicHeight = 50; }, OptMinPicWidth, 100},
        {"picture width and height inherit separately: height",
         [](Tree& t) { t.folder->MinPicWidth = 100; t.root->MinPicHeight = 50; }, OptMinPicHeight, 50},
    };
    for (const Row& row : rows) {
        Tree t;
        row.set(t);
        EXPECT_EQ(t.record->Effective(row.option, app), row.want) << row.name;
    }
}

TEST_F(ProjectItemTest, FilterGroupsAreInheritedWhole)
{
    Tree t;
    // The application's built-in group while nobody sets the switch.
    EXPECT_EQ(t.record->EffectiveDownloadFilter(app).lists[ExtKindHtml], "htm;html;shtml");
    t.record->downloadFilter.lists[ExtKindHtml] = "ignored";
    t.record->downloadFilter.noExt = 0;
    t.folder->downloadFilter.use = 0;
    t.folder->downloadFilter.lists[ExtKindHtml] = "htm";
    ExtFilterGroup g = t.record->EffectiveDownloadFilter(app);
    EXPECT_EQ(g.use, 0);
    EXPECT_EQ(g.lists[ExtKindHtml], "htm");
    EXPECT_EQ(g.noExt, -1) << "the switch comes from the folder, not from the record";
    EXPECT_TRUE(t.record->AdmitsExtension(url("http://site/x.zip"), app)) << "filter off: lists not consulted";

    t.root->exclusionFilter.use = 1;
    t.root->exclusionFilter.noExt = 1;
    t.record->exclusionFilter.noExt = 0; // without its own switch this is not used
    EXPECT_EQ(t.record->EffectiveExclusionFilter(app).noExt, 1);
}

TEST_F(ProjectItemTest, ExtensionAdmission)
{
    struct Row {
        const char* name;
        ExtFilterGroup download;
        ExtFilterGroup exclusion;
        const char* url;
        bool admitted;
    };
    auto group = [](int use, int noExt, std::string html, std::string image = "") {
        ExtFilterGroup g;
        g.use = use;
        g.noExt = noExt;
        g.lists[ExtKindHtml] = std::move(html);
        g.lists[ExtKindImage] = std::move(image);
        return g;
    };
    const Row rows[] = {
        {"both filters off", group(0, 0, ""), group(0, 0, ""), "http://s/a.exe", true},
        {"listed extension", group(1, 0, "htm;html"), group(0, 0, ""), "http://s/a.HTML", true},
        {"extension in another list", group(1, 0, "htm", "jpg"), group(0, 0, ""), "http://s/p.jpg", true},
        {"unlisted extension", group(1, 0, "htm;html"), group(0, 0, ""), "http://s/a.exe", false},
        {"no extension, not admitted", group(1, 0, "htm"), group(0, 0, ""), "http://s/dir/", false},
        {"no extension, admitted", group(1, 1, "htm"), group(0, 0, ""), "http://s/dir/", true},
        {"excluded extension", group(0, 0, ""), group(1, 0, "exe"), "http://s/a.exe", false},
        {"exclusion covers no extension", group(0, 0, ""), group(1, 1, ""), "http://s/", false},
        {"admitted then excluded", group(1, 0, "htm"), group(1, 0, "htm"), "http://s/a.htm", false},
        {"exclusion list off", group(0, 0, ""), group(0, 1, "exe"), "http://s/a.exe", true},
    };
    for (const Row& row : rows) {
        Tree t;
        t.root->downloadFilter = row.download;
        t.root->exclusionFilter = row.exclusion;
        EXPECT_EQ(t.record->AdmitsExtension(url(row.url), app), row.admitted) << row.name;
    }
}

TEST_F(ProjectItemTest, RangeAdmission)
{
    struct Row {
        const char* start;
        const char* link;
        int32_t area;
        bool admitted;
    };
    const Row rows[] = {
        {"http://site/", "http://Site/x", 0, false},
        {"http://site/", "http://Site/x", 1, false},
        {"http://site/", "http://Site/x", 2, true},
        {"http://site/a/b.html", "http://site/a/c/d.html", 0, true},
        {"http://site/a/b.html", "http://site/e.html", 0, false},
        {"http://site/a/b.html", "http://site/a/c/d.html", 1, true},
        {"http://site/a/b.html", "http://site/e.html", 1, true},
        {"http://site/a/b.html", "http://site/ab.html", 0, true}, // a plain prefix test
        {"http://site/a/b.html", "http://other/a/b.html", 1, false},
        {"http://site/a/b.html", "http://site/e.html", 7, false}, // other values act as 0
        // http and https of one host are one site, ports aside
        {"http://site/a/b.html", "https://site/a/c.html", 0, true},
        {"https://site:8443/a/", "http://site:8080/a/c.html", 0, true},
        {"http://site/a/b.html", "https://site/e.html", 0, false},
        {"http://site/a/b.html", "https://site/e.html", 1, true},
        {"https://site/a/b.html", "https://site:444/a/c.html", 0, false}, // one scheme: the port counts
        {"http://site/a/", "https://Site/a/c.html", 0, false},
        {"http://site/a/", "file://site/a/c.html", 0, false},
    };
    for (const Row& row : rows) {
        Tree t;
        t.record->PilotArea = row.area;
        EXPECT_EQ(t.record->AdmitsRange(url(row.start), url(row.link), app), row.admitted)
            << row.start << " -> " << row.link << " area " << row.area;
    }
}

// What a page needs comes from anywhere on its record's site, and from
// other sites with RequisitesOffSite, whatever the range.
TEST_F(ProjectItemTest, RequisiteAdmission)
{
    struct Row {
        const char* link;
        int32_t area;
        int32_t offSite; // on the folder, inherited by the record
        bool admitted;
    };
    const Row rows[] = {
        {"http://site/static/s.css", 0, -1, true},
        {"https://site:8443/static/s.css", 0, -1, true},
        {"http://cdn/s.css", 0, -1, false},
        {"http://cdn/s.css", 1, 0, false},
        {"http://cdn/s.css", 0, 1, true},
        {"http://cdn/s.css", 2, 0, true},
        {"file://site/s.css", 0, -1, false},
    };
    for (const Row& row : rows) {
        Tree t;
        t.record->PilotArea = row.area;
        t.folder->RequisitesOffSite = row.offSite;
        EXPECT_EQ(t.record->AdmitsRequisite(url("http://site/docs/index.html"), url(row.link), app), row.admitted)
            << row.link << " area " << row.area << " off-site " << row.offSite;
    }
}

TEST_F(ProjectItemTest, ForbiddenCoversTheSubtreeAndCannotBeUndoneBelow)
{
    Tree t;
    t.record->PilotType = PilotSelected;
    t.folder->PilotType = PilotForbidden;
    EXPECT_EQ(t.record->EffectivePilotType(), PilotForbidden);
    // Under a Forbidden folder, whether a change is taken depends on the
    // item's own value, not on the new one.
    const struct {
        int32_t own;
        int32_t next;
        bool taken;
    } changes[] = {
        {PilotSelected, PilotForbidden, false}, {PilotSelected, PilotNormal, false}, {PilotSelected, -1, false},
        {-1, PilotForbidden, false},            {PilotForbidden, PilotNormal, true},
        {PilotForbidden, PilotSelected, true},
    };
    for (const auto& c : changes) {
        t.record->PilotType = c.own;
        EXPECT_EQ(t.record->SetPilotType(c.next), c.taken) << c.own << " -> " << c.next;
        EXPECT_EQ(t.record->PilotType, c.taken ? c.next : c.own) << "a refused change leaves the value";
        EXPECT_EQ(t.record->EffectivePilotType(), PilotForbidden);
    }
    EXPECT_TRUE(t.folder->SetPilotType(PilotSelected));
    EXPECT_EQ(t.top->EffectivePilotType(), PilotNormal);
    EXPECT_TRUE(t.top->SetPilotType(PilotSelected));
    EXPECT_EQ(t.top->EffectivePilotType(), PilotSelected);

    t.folder->PilotType = PilotForbidden;
    t.record->PilotType = -1;
    auto prefixes = ForbiddenPrefixes(*t.root);
    ASSERT_EQ(prefixes, std::vector<std::string>{"http://site/a/b.html"});
    EXPECT_TRUE(IsForbiddenUrl(prefixes, "http://site/a/b.html?x"));
    EXPECT_FALSE(IsForbiddenUrl(prefixes, "http://site/a/"));
}

TEST_F(ProjectItemTest, TreeEditingKeepsSiblingOrder)
{
    Tree t;
    ProjectItem* second = AppendChild(*t.folder, ProjectItem::NewRecord("http://site/2"));
    ProjectItem* third = AppendChild(*t.folder, ProjectItem::NewRecord("http://site/3"));
    auto urls = [](const ProjectItem& parent) {
        std::vector<std::string> out;
        for (const ProjectItem* c = parent.firstChild; c; c = c->next) {
            out.push_back(c->url.empty() ? c->title : c->url);
            if (c->next) {
                EXPECT_EQ(c->next->previous, c);
            }
        }
        return out;
    };
    EXPECT_EQ(urls(*t.folder), (std::vector<std::string>{"http://site/a/b.html", "http://site/2", "http://site/3"}));
    ASSERT_TRUE(MoveTo(*second, *t.root));
    EXPECT_EQ(urls(*t.folder), (std::vector<std::string>{"http://site/a/b.html", "http://site/3"}));
    EXPECT_EQ(urls(*t.root), (std::vector<std::string>{"F", "http://other/", "http://site/2"}));
    EXPECT_EQ(second->parent, t.root.get());
    EXPECT_FALSE(MoveTo(*t.folder, *t.folder)) << "not into itself";
    ProjectItem* sub = AppendChild(*t.folder, ProjectItem::NewFolder("S"));
    EXPECT_FALSE(MoveTo(*t.folder, *sub)) << "not into its own subtree";
    EXPECT_FALSE(MoveTo(*third, *t.top)) << "records hold no children";
    DestroySubtree(t.record);
    EXPECT_EQ(urls(*t.folder), (std::vector<std::string>{"http://site/3", "S"}));
    DestroySubtree(sub);
    DestroySubtree(third);
    EXPECT_EQ(t.folder->firstChild, nullptr);
}

TEST_F(ProjectItemTest, FolderPathsAndFindingRecords)
{
    Tree t;
    ProjectItem* sub = AppendChild(*t.folder, ProjectItem::NewFolder("S"));
    ProjectItem* deep = AppendChild(*sub, ProjectItem::NewRecord("http://deep/"));
    ProjectItem* ff = AppendChild(*t.root, ProjectItem::NewFolder("FF"));
    ProjectItem* inFF = AppendChild(*ff, ProjectItem::NewRecord("http://site/a/b.html"));
    EXPECT_EQ(FolderPath(*t.record), "P/F");
    EXPECT_EQ(FolderPath(*t.folder), "P/F");
    EXPECT_EQ(FolderPath(*t.root), "P");
    EXPECT_EQ(FolderPath(*t.top), "P");
    EXPECT_EQ(FolderPath(*deep), "P/F/S");

    struct Row {
        const char* path;
        const char* url;
        ProjectItem* want;
    };
    const Row rows[] = {
        {"P/F", "http://site/a/b.html", t.record},
        {"P", "http://other/", t.top},
        {"P/F/S", "http://deep/", deep},
        {"P/FF", "http://site/a/b.html", inFF}, // "P/F" is a leading part of "P/FF" too
        {"P", "http://site/a/b.html", nullptr},
        {"P/F", "http://deep/", nullptr},
        {"Q/F", "http://site/a/b.html", nullptr},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FindRecord(*t.root, row.path, row.url), row.want) << row.path << " " << row.url;
    ASSERT_TRUE(MoveTo(*deep, *t.root));
    EXPECT_EQ(FindRecord(*t.root, "P/F/S", "http://deep/"), nullptr) << "moved since";
}
