// The command table and the enabling rules, as one table of states.

#include "windows/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace ormbrook;

namespace {

struct Row {
    const char* intent;
    CommandState state;
    std::set<int> enabled; // of the commands below
};

// The commands whose enabling depends on the state.
const CommandId kRuled[] = {CmdCrawl,       CmdSelectedCrawl, CmdResetCrawl, CmdStop,       CmdNewFolder,
                            CmdNewUrl,      CmdUrlFromBrowser, CmdDelete,    CmdDeleteSaved, CmdMoveSaved,
                            CmdCopySaved,   CmdItemProperties, CmdShowInBrowser, CmdFileSave, CmdFileClose,
                            CmdSlideShowReset};

CommandState S(NodeKind node, bool crawling = false, bool saver = false, bool slide = false, bool desktop = false)
{
    CommandState s;
    s.projectOpen = true;
    s.node = node;
    s.crawling = crawling;
    s.saverRunning = saver;
    s.slideWindowRunning = slide;
    s.desktopMode = desktop;
    return s;
}

// Without a viewer the slide show can be reset.
const std::set<int> kCrawlIdle = {CmdCrawl, CmdSelectedCrawl, CmdResetCrawl, CmdFileSave, CmdFileClose,
                                  CmdSlideShowReset};
const std::set<int> kCrawlIdleViewing = {CmdCrawl, CmdSelectedCrawl, CmdResetCrawl, CmdFileSave, CmdFileClose};
std::set<int> With(std::set<int> base, std::initializer_list<int> more)
{
    base.insert(more.begin(), more.end());
    return base;
}

} // namespace

TEST(Commands, EnablingFollowsNodeKindCrawlingAndViewers)
{
    const Row rows[] = {
        {"no project: nothing of a project", CommandState{}, {CmdSlideShowReset}},
        {"root, idle", S(NodeKind::Root),
         With(kCrawlIdle, {CmdNewFolder, CmdNewUrl, CmdUrlFromBrowser, CmdDeleteSaved, CmdMoveSaved, CmdCopySaved,
                           CmdItemProperties})},
        {"folder, idle", S(NodeKind::Folder),
         With(kCrawlIdle, {CmdNewFolder, CmdNewUrl, CmdUrlFromBrowser, CmdDelete, CmdDeleteSaved, CmdMoveSaved,
                           CmdCopySaved, CmdItemProperties})},
        {"record, idle", S(NodeKind::Record),
         With(kCrawlIdle, {CmdDelete, CmdDeleteSaved, CmdMoveSaved, CmdCopySaved, CmdItemProperties,
                           CmdShowInBrowser})},
        {"stored file, idle", S(NodeKind::File), With(kCrawlIdle, {CmdShowInBrowser})},
        {"no selection, idle", S(NodeKind::None), kCrawlIdle},
        {"folder while crawling: only stop and close", S(NodeKind::Folder, true),
         {CmdStop, CmdFileClose, CmdSlideShowReset}},
        {"record while crawling", S(NodeKind::Record, true), {CmdStop, CmdFileClose, CmdSlideShowReset}},
        {"folder with the screen saver running", S(NodeKind::Folder, false, true),
         With(kCrawlIdleViewing, {CmdItemProperties})},
        {"folder with the slide window running", S(NodeKind::Folder, false, false, true),
         With(kCrawlIdleViewing, {CmdItemProperties})},
        {"record with the wallpaper changer on", S(NodeKind::Record, false, false, false, true),
         With(kCrawlIdleViewing, {CmdItemProperties, CmdShowInBrowser})},
    };
    for (const Row& row : rows) {
        std::set<int> enabled;
        for (CommandId id : kRuled)
            if (CommandEnabled(id, row.state))
                enabled.insert(id);
        EXPECT_EQ(enabled, row.enabled) << row.intent;
    }
}

TEST(Commands, CheckMarksFollowTheirState)
{
    CommandState s;
    s.timerValid = false;
    s.pickupDisplay = 2;
    s.slideWindowRunning = true;
    EXPECT_EQ(CommandChecked(CmdTimerValid, s), false);
    EXPECT_EQ(CommandChecked(CmdPickupOnly, s), true);
    EXPECT_EQ(CommandChecked(CmdPickupBoth, s), false);
    EXPECT_EQ(CommandChecked(CmdSlideWindow, s), true);
    EXPECT_EQ(CommandChecked(CmdWallpaperChanger, s), false);
    EXPECT_EQ(CommandChecked(CmdCrawl, s), std::nullopt);
    s.desktopStopping = true;
    EXPECT_FALSE(CommandEnabled(CmdWallpaperChanger, s)) << "switching on again before the stop is confirmed";
}

TEST(Commands, TableHoldsEveryCommandOnceWithItsTexts)
{
    std::set<int> ids;
    for (const CommandInfo& info : CommandTable())
        EXPECT_TRUE(ids.insert(info.id).second) << info.id;
    for (int id : kToolbarOrder)
        if (id)
            EXPECT_NE(FindCommand(static_cast<CommandId>(id)), nullptr) << id;
    EXPECT_EQ(FindCommand(CmdCrawl)->menuText, "巡回実行");
    EXPECT_EQ(FindCommand(CmdCrawl)->prompt, "巡回を開始します");
    EXPECT_EQ(FindCommand(CmdCrawl)->tooltip, "巡回");
    EXPECT_EQ(FindCommand(CmdDelete)->menuText, "削除(&D)Ctrl+D");
    EXPECT_EQ(FindCommand(CmdFileNew)->menuText, "新規作成(&N)\tCtrl+N");
    EXPECT_EQ(FindCommand(CmdResetCrawl)->prompt, "巡回状態をリセットします。");
    EXPECT_EQ(kTrayMenu[1].text, "巡回タイマー ON");
    // Five groups of the toolbar, separated.
    int separators = 0;
    for (int id : kToolbarOrder)
        separators += id == 0;
    EXPECT_EQ(separators, 5);
}
