#include "viewers/viewer_args.h"

#include <cctype>
#include <string>

namespace ormbrook {

namespace {

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

const char kSlideWindowUsage[] =
    "Usage: qrysw [s | c | p ID]\n"
    "The Ormbrook slide window: a small always-on-top window that shows the\n"
    "slide show of the pictures qry hands it.\n"
    "\n"
    "  s, c      open the slide window (as with no argument)\n"
    "  p ID      show the slide show inside the window ID (decimal)\n"
    "  --help\n"
    "\n"
    "The first argument may start with \"-\" or \"/\" and case does not matter;\n"
    "any other argument ends the program.\n";

const char kScreenSaverUsage[] =
    "Usage: qryss [s | c | p ID | -root | -window-id ID]\n"
    "The Ormbrook screen saver: it covers the screen and shows the slide show\n"
    "until a key or a mouse button ends it.\n"
    "\n"
    "  s, c           open the screen saver (as with no argument)\n"
    "  p ID           show a preview inside the window ID (decimal)\n"
    "  -window-id ID  XScreenSaver: draw into the window ID (decimal, or 0x...),\n"
    "                 as XSCREENSAVER_WINDOW says\n"
    "  -root          XScreenSaver: draw on the root window\n"
    "  --help\n"
    "\n"
    "The first argument may start with \"-\" or \"/\" and case does not matter;\n"
    "any other argument ends the program.\n";

bool AsksForHelp(int argc, char** argv)
{
    return argc == 2 && std::string(argv[1]) == "--help";
}

std::optional<uint64_t> ParseWindowId(const std::string& text)
{
    size_t at = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        at = 2;
        base = 16;
    }
    if (at >= text.size())
        return std::nullopt;
    uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = char(std::tolower(static_cast<unsigned char>(text[at])));
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        if (value > (UINT64_MAX - uint64_t(digit)) / uint64_t(base))
            return std::nullopt;
        value = value * uint64_t(base) + uint64_t(digit);
    }
    return value;
}

ViewerArgs ParseViewerArgs(const std::vector<std::string>& args, bool screenSaver,
                           const std::optional<std::string>& xscreensaverWindow)
{
    ViewerArgs out;
    if (screenSaver) {
        // XScreenSaver's window comes first: it sets the variable and may
        // pass "-root" besides.
        if (xscreensaverWindow) {
            if (auto id = ParseWindowId(*xscreensaverWindow); id && *id != 0)
                return {ViewerArgs::Embedded, *id};
        }
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "-window-id" || args[i] == "--window-id") {
                if (i + 1 < args.size())
                    if (auto id = ParseWindowId(args[i + 1]); id && *id != 0)
                        return {ViewerArgs::Embedded, *id};
                return out;
            }
        }
        if (args.size() == 1 && (args[0] == "-root" || args[0] == "--root"))
            return {ViewerArgs::Root, 0};
    }
    if (args.empty())
        return {ViewerArgs::Open, 0};
    std::string first = args[0];
    if (!first.empty() && (first[0] == '-' || first[0] == '/'))
        first.erase(0, 1);
    first = Lowered(first);
    if (first == "c" || first == "s")
        return {ViewerArgs::Open, 0};
    if (first == "p" && args.size() >= 2) {
        // The window id is decimal, as the control panel passes it.
        const std::string& number = args[1];
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
            return out;
        if (auto id = ParseWindowId(number); id && *id != 0)
            return {ViewerArgs::Preview, *id};
    }
    return out;
}

} // namespace ormbrook
