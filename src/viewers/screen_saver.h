#pragma once
// qryss, the screen saver: a full-screen window above everything that shows
// the pictures the main program distributes. It finds the main program (and
// starts it when it is not running), announces itself, and tells it when it
// ends. A key or the left or middle button ends it, the right button asks
// for the picture panel, moving the mouse does nothing.
//
// It also runs as an XScreenSaver display mode (drawing into the window that
// XSCREENSAVER_WINDOW or -window-id names, or on the root window with
// -root), ending on SIGTERM as XScreenSaver ends its modes; and as a preview
// inside a window whose id "p" gives.

#include <string>

namespace ormbrook {

int RunScreenSaver(int argc, char** argv);

// "TileWallpaper" in the settings file's group "Desktop": 0 unless set.
int ReadTileWallpaper();

} // namespace ormbrook
