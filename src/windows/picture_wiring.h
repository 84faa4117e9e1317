#pragma once
// The picture side as the desktop program makes it: its sources are the
// slide-show list with the settings of the moment, and "WP.lst" is opened
// with the questions of an old version.

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

// Opens "WP.lst". An old version is converted when the user agrees, with a
// running count on screen. False: the program cannot go on.
bool OpenPickupQueue(PictureSide& side, Prompter& prompter);

} // namespace ormbrook
