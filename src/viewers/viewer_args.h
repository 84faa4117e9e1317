#pragma once
// The command lines of the viewer programs. Both take the screen-saver
// arguments of the desktop system they came from: none, "c" or "s" open the
// viewer, "p" and a decimal window id open a preview inside that window,
// anything else ends the program; the first argument may start with "-" or
// "/" and case does not matter. The screen saver also runs as an
// XScreenSaver display mode: it draws into the window that
// XSCREENSAVER_WINDOW or "-window-id ID" names, or on the root window with
// "-root".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

struct ViewerArgs {
    enum Mode {
        Open,      // the viewer's own window
        Preview,   // a child of `window`, with its client size
        Embedded,  // XScreenSaver: draw into `window`
        Root,      // XScreenSaver: draw on the root window
        Quit,
    };
    Mode mode = Quit;
    uint64_t window = 0;
};

// args: the arguments after the program's name. xscreensaverWindow: the
// value of XSCREENSAVER_WINDOW, for the screen saver only (nothing for the
// slide window, which does not know those modes).
ViewerArgs ParseViewerArgs(const std::vector<std::string>& args, bool screenSaver,
                           const std::optional<std::string>& xscreensaverWindow = std::nullopt);

// The usage texts that --help prints, the first argument alone; the manual
// pages qrysw.1 and qryss.1 beside this file tell the same arguments.
extern const char kSlideWindowUsage[];
extern const char kScreenSaverUsage[];
// Whether the command line asks for the usage text (before any display is
// opened, so that it works without one).
bool AsksForHelp(int argc, char** argv);

// A window id as XScreenSaver writes it: decimal, or hexadecimal after "0x".
std::optional<uint64_t> ParseWindowId(const std::string& text);

} // namespace ormbrook
