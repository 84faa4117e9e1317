#pragma once
// The arithmetic of window layout: how a project window's splitters divide
// it, and the saved placement of the main window ("WindowPos").

#include <optional>
#include <string>

namespace ormbrook {

// Heights of the splitter's two rows and widths of the top row's columns.
struct SplitSizes {
    int topHeight = 0;
    int bottomHeight = 0;
    int leftWidth = 0;
    int rightWidth = 0;
};

// The status view keeps this many pixels on resize when the window is tall
// enough for it.
constexpr int kStatusViewHeight = 240;

// On creation: the top row takes two thirds of the client height, the left
// column half of the width.
SplitSizes InitialSplit(int clientWidth, int clientHeight);
// On every resize: the left column is half the width again; the top row is
// the height minus 240 only when that leaves more than 50 pixels, else the
// rows keep `current`'s division.
SplitSizes ResizeSplit(int clientWidth, int clientHeight, const SplitSizes& current);

// A rectangle in screen pixels.
struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// The main window's first place when none is saved: centred on the screen's
// free area but clear of the slide window, which takes the top-left fifth
// of the screen and stays on top (to its right, narrower if need be, but
// not below 640 pixels wide; where even that does not fit, centred).
ScreenRect FirstMainWindowPlace(const ScreenRect& available, int width, int height);

// A new project window inside the main window's area: the whole area, a
// later one stepped down and to the right; never smaller than what shows
// its status view's counters where the area allows.
ScreenRect NewProjectWindowPlace(int areaWidth, int areaHeight, int openWindows);

// The main window's placement as it is saved: placement flags, show command,
// minimised x and y, maximised x and y, and the normal rectangle.
struct WindowPlacement {
    int flags = 0;
    int showCommand = 1;
    int minX = -1, minY = -1;
    int maxX = -1, maxY = -1;
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Show commands and flags as the placement stores them.
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kPlacementRestoreToMaximized = 2;

// "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i".
std::string FormatWindowPos(const WindowPlacement& placement);
// Nothing when the text does not hold exactly ten integers.
std::optional<WindowPlacement> ParseWindowPos(const std::string& text);

} // namespace ormbrook
