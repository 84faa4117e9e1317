#pragma once
// The picture side as the desktop program makes it: its sources are the
// slide-show list with the settings of the moment, and "WP.lst" is opened
// with the questions of an old version.

#include "pictures/desktop_wallpaper.h"
#include "pictures/picture_side.h"

#include <functional>
#include <memory>
#include <string>

namespace ormbrook {

class AppSettings;
class CSSDoc;
class Prompter;

std::unique_ptr<PictureSide> MakePictureSide(const AppSettings& settings, CSSDoc& slides,
                                             const std::string& slideWindowProgram,
                                             std::function<void()> runPanel, DesktopReceiver* desktop);

// The wallpaper changer's desktop, with the back end of this session (or the
// one named, or none on the offscreen platform).
std::unique_ptr<DesktopWallpaper> MakeDesktopWallpaper(const std::string& backendName,
                                                       std::unique_ptr<CommandRunner>& runner);

// The folder the panel's "Copy" chose last, in the settings file (its own
// group), so that it is offered again after a restart.
std::string LoadPanelCopyFolder(const std::string& settingsPath);
void SavePanelCopyFolder(const std::string& settingsPath, const std::string& folder);

// Opens "WP.lst". An old version is converted when the user agrees, with a
// running count on screen. False: the program cannot go on.
bool OpenPickupQueue(PictureSide& side, Prompter& prompter);

} // namespace ormbrook
