// What the tree's commands do to a project: adding, renaming, where a drop
// may land, and which schedules go with a deleted item.

#include "crawl/project_item.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "windows/tree_edits.h"

#include <gtest/gtest.h>

using namespace ormbrook;

namespace {

struct Tree {
    std::unique_ptr<ProjectItem> root = ProjectItem::NewRoot("P");
    ProjectItem* news = AppendChild(*root, ProjectItem::NewFolder("News"));
    ProjectItem* sub = AppendChild(*news, ProjectItem::NewFolder("Sub"));
    ProjectItem* deep = AppendChild(*sub, ProjectItem::NewRecord("http://site/deep/"));
    ProjectItem* record = AppendChild(*news, ProjectItem::NewRecord("http://site/news/"));
    ProjectItem* archive = AppendChild(*root, ProjectItem::NewFolder("NewsArchive"));
    ProjectItem* old = AppendChild(*archive, ProjectItem::NewRecord("http://site/old/"));
};

} // namespace

TEST(TreeEdits, WhereADropMayLand)
{
    Tree t;
    struct Case {
        const char* intent;
        ProjectItem* item;
        ProjectItem* target;
        bool allowed;
    } cases[] = {
        {"a folder on its own subfolder", t.news, t.sub, false},
        {"a folder on itself", t.news, t.news, false},
        {"a folder on its present parent", t.news, t.root.get(), false},
        {"anything on a URL item", t.sub, t.record, false},
        {"the root anywhere", t.root.get(), t.archive, false},
        {"a folder on a sibling folder", t.sub, t.archive, true},
        {"a record up to the root", t.deep, t.root.get(), true},
        {"a record into another folder", t.old, t.news, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CanDrop(*c.item, *c.target), c.allowed) << c.intent;
}

TEST(TreeEdits, RenameRules)
{
    Tree t;
    struct Case {
        const char* intent;
        ProjectItem* item;
        const char* text;
        bool changed;
        const char* after;
    } cases[] = {
        {"the root keeps its name", t.root.get(), "Q", false, "P"},
        {"a folder takes the text", t.archive, "Old news", true, "Old news"},
        {"a folder keeps a name with a slash", t.archive, "a/b", false, "Old news"},
        {"a URL item takes a URL, canonical", t.record, "http://site/a/../b.html", true, "http://site/b.html"},
        {"a URL item refuses what is not a URL", t.record, "not a url", false, "http://site/b.html"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RenameItem(*c.item, c.text), c.changed) << c.intent;
        EXPECT_EQ(c.item->kind == ItemRecord ? c.item->url : c.item->title, c.after) << c.intent;
    }
}

TEST(TreeEdits, NewItemsGoLastUnderTheFolder)
{
    Tree t;
    ProjectItem* folder = AddChildItem(*t.news, NewItemKind::Folder, "Later");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->previous, t.record);
    ProjectItem* url = AddChildItem(*t.news, NewItemKind::Url, "http://example.com/x/../");
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->url, "http://example.com/");
    EXPECT_EQ(AddChildItem(*t.news, NewItemKind::Url, "mailto:x@y"), nullptr);
    EXPECT_EQ(AddChildItem(*t.record, NewItemKind::Folder, "F"), nullptr) << "a URL item holds no items";
    EXPECT_EQ(AddChildItem(*t.news, NewItemKind::Folder, ""), nullptr);
}

TEST(TreeEdits, DeletedFolderTakesItsSubtreeSchedulesAndNoSiblings)
{
    Tree t;
    CTimerDoc timers([](const std::string&) { return true; });
    CSSDoc slides([](const std::string&) { return true; });
    const std::string file = "/p/P.prj";
    const std::pair<std::string, std::string> items[] = {
        {"P/News", ""},        {"P/News", "http://site/news/"}, {"P/News/Sub", ""},
        {"P/News/Sub", "http://site/deep/"}, {"P/NewsArchive", ""}, {"P/NewsArchive", "http://site/old/"},
    };
    for (const auto& [folder, url] : items) {
        TimerEntry timer;
        timer.file = file;
        timer.folder = folder;
        timer.url = url;
        timer.kind = TimerDaily;
        timers.entries().push_back(timer);
        SlideEntry slide;
        slide.file = file;
        slide.folder = folder;
        slide.url = url;
        slides.entries().push_back(slide);
    }
    TimerEntry other;
    other.file = "/p/Other.prj";
    other.folder = "P/News";
    timers.entries().push_back(other);

    RemoveItemSchedules(timers, slides, file, *t.news);
    std::vector<std::string> left;
    for (const TimerEntry& e : timers.entries())
        left.push_back(e.file + "|" + e.folder + "|" + e.url);
    EXPECT_EQ(left, (std::vector<std::string>{"/p/P.prj|P/NewsArchive|", "/p/P.prj|P/NewsArchive|http://site/old/",
                                              "/p/Other.prj|P/News|"}));
    ASSERT_EQ(slides.entries().size(), 2u);
    EXPECT_EQ(slides.entries()[0].folder, "P/NewsArchive");

    RemoveItemSchedules(timers, slides, file, *t.old);
    EXPECT_EQ(timers.entries().size(), 2u) << "a URL item takes only its own";
}
