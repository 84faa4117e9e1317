#pragma once
// Every command of the desktop program, made once from one table and shared
// by the menus, the toolbar and the tray; whether a command may run now is
// one function of the program's state, so a test can drive it as a table.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ormbrook {

enum CommandId : int {
    CmdFileNew = 57600,
    CmdFileOpen = 57601,
    CmdFileClose = 57602,
    CmdFileSave = 57603,
    CmdFileSaveAs = 57604,
    CmdAppExit = 57665,
    CmdSettings = 32790,
    CmdNewFolder = 32787,
    CmdNewUrl = 32788,
    CmdUrlFromBrowser = 32817,
    CmdDelete = 32789,
    CmdItemProperties = 32797,
    CmdDeleteSaved = 32793,
    CmdMoveSaved = 32794,
    CmdCopySaved = 32795,
    CmdCrawl = 32780,
    CmdSelectedCrawl = 32784,
    CmdStop = 32781,
    CmdResetCrawl = 32815,
    CmdTimerValid = 32792,
    CmdFailedUrls = 32830,
    CmdTimerList = 32798,
    CmdShowInBrowser = 32804,
    CmdSlideShowList = 32809,
    CmdSlideShowReset = 32814,
    CmdWallpaperChanger = 32808,
    CmdSlideWindow = 32810,
    CmdPickupOrdinary = 32818,
    CmdPickupBoth = 32819,
    CmdPickupOnly = 32820,
    CmdShowWindow = 32806,
    CmdAbout = 57664,
    CmdHelp = 57670,       // F1
    CmdContextHelp = 57666, // Shift+F1
    CmdNextPane = 57680,
    CmdPrevPane = 57681,
};

// What the toolbar draws for a command (see Artwork).
enum class CommandIcon : uint8_t {
    None, New, Open, Save, NewFolder, NewUrl, UrlFromBrowser, Delete, Properties, Crawl, SelectedCrawl,
    Stop, ResetCrawl, TimerOn, DeleteSaved, MoveSaved, CopySaved, ShowInBrowser, Wallpaper, SlideWindow,
    ShowWindow, SlideReset, Settings, About, ContextHelp,
};

struct CommandInfo {
    CommandId id;
    std::string_view menuText;   // with "&" for the mnemonic and "\t" before the shortcut text
    std::string_view prompt;     // the status-bar text; empty when the command has none
    std::string_view tooltip;
    std::string_view shortcut;   // QKeySequence text, empty for none
    CommandIcon icon;
    bool checkable;
};

std::span<const CommandInfo> CommandTable();

const CommandInfo* FindCommand(CommandId id);

// The node of a project tree that is selected.
enum class NodeKind : uint8_t {
    None,    // no project window is active
    Record,  // a URL item
    Folder,
    Root,
    File,    // a stored file under a record
};

// Everything the enabling rules and the check marks depend on.
struct CommandState {
    bool projectOpen = false;
    NodeKind node = NodeKind::None;
    bool crawling = false;         // the active project crawls (or runs a saved-data job)
    bool saverRunning = false;
    bool slideWindowRunning = false;
    bool desktopMode = false;      // the wallpaper changer is on
    bool desktopStopping = false;  // switched off, not yet confirmed
    bool timerValid = true;
    int pickupDisplay = 1;
    bool windowVisible = false;
};

bool CommandEnabled(CommandId id, const CommandState& state);
// Nothing for a command without a check mark.
std::optional<bool> CommandChecked(CommandId id, const CommandState& state);

// The toolbar in its order; 0 stands for a separator.
extern const std::array<int, 29> kToolbarOrder;

// The tray's popup menu has texts of its own for the commands it shares.
struct TrayMenuItem {
    CommandId id;
    std::string_view text;
};
extern const std::array<TrayMenuItem, 6> kTrayMenu;

} // namespace ormbrook
