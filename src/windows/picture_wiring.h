#pragma once
// The picture side as the desktop program makes it: its sources are the
// slide-show list with the settings of the moment, and "WP.lst" is opened
// with the questions of an old version.

#include "pictures/desktop_wallpaper.h"
#include "pictures/picture_side.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

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

// The picture side's messages ("Can't open" a picture), one box at a time:
// a page walk that meets many unreadable pictures waits at each until the
// user has closed its box, instead of stacking one box inside another.
class PictureMessages : public QObject {
public:
    explicit PictureMessages(Prompter& prompter);
    // Any thread. Off this object's thread it returns once the box is
    // closed, or at Stop.
    void Tell(std::string_view text);
    // The program ends: waiting callers go on, later messages go nowhere.
    void Stop();

private:
    void ShowNext();

    Prompter& prompter_;
    std::mutex mutex_;
    std::condition_variable closed_;
    std::deque<std::pair<uint64_t, std::string>> waiting_;
    uint64_t queued_ = 0;
    uint64_t closedUpTo_ = 0;
    bool showing_ = false;
    bool stopped_ = false;
};

} // namespace ormbrook
