#pragma once
// How the desktop's background is set, per desktop: the GNOME family
// (GNOME, Budgie, Unity, Cinnamon, MATE) through their settings keys, Xfce
// through xfconf, KDE Plasma through its shell's scripting over D-Bus, and
// any other X11 session through the root window's background pixmap (with
// the _XROOTPMAP_ID and ESETROOT_PMAP_ID properties that compositors and
// terminals read). Each back end remembers what the desktop showed before,
// so that switching the changer off puts it back.
//
// The desktops' own tools are run through a CommandRunner, which tests
// replace with a script: no test sets the background of a real desktop.

#include <QImage>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ormbrook {

struct CommandResult {
    bool ran = false;  // the program started and ended
    int exitCode = -1;
    std::string out;   // standard output
};

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual CommandResult Run(const std::string& program, const std::vector<std::string>& args) = 0;
};

// Runs the program and waits for it (at most a few seconds).
class ProcessRunner : public CommandRunner {
public:
    CommandResult Run(const std::string& program, const std::vector<std::string>& args) override;
};

class WallpaperBackend {
public:
    virtual ~WallpaperBackend() = default;
    virtual std::string name() const = 0;
    // Remembers what the desktop shows now. False when it cannot be read
    // (then Restore has nothing to put back).
    virtual bool Save() = 0;
    // Shows the picture. `frame`: a composed frame of the screen's size,
    // stretched over the screen; otherwise a wallpaper in the user's own
    // placement. `image` is the picture when the caller has it at hand.
    virtual bool Show(const std::string& file, const QImage& image, bool frame) = 0;
    // Puts back what Save remembered.
    virtual bool Restore() = 0;
    // The user chose a new wallpaper while the changer ran: that is what is
    // put back.
    virtual void ReplaceSaved(const std::string& file) = 0;
};

// One of the desktops whose settings keys hold the background.
struct GSettingsDesktop {
    std::string name;
    std::string schema;
    std::vector<std::string> uriKeys;  // keys holding a file URI
    std::string pathKey;               // a key holding a plain path (MATE)
    std::string optionsKey;            // the placement
};

const GSettingsDesktop& GnomeDesktop();
const GSettingsDesktop& CinnamonDesktop();
const GSettingsDesktop& MateDesktop();

std::unique_ptr<WallpaperBackend> MakeGSettingsBackend(const GSettingsDesktop& desktop, CommandRunner& runner);
std::unique_ptr<WallpaperBackend> MakeXfconfBackend(CommandRunner& runner);
std::unique_ptr<WallpaperBackend> MakePlasmaBackend(CommandRunner& runner);
// Talks to the X server named by DISPLAY itself.
std::unique_ptr<WallpaperBackend> MakeX11RootBackend();

// The back end for this session: by XDG_CURRENT_DESKTOP (a ":"-separated
// list), if its tool answers; else the X11 root window on X11; else none.
// `forced` (ORMBROOK_WALLPAPER_BACKEND: gnome, cinnamon, mate, xfce, plasma,
// x11, none) decides instead when it is set.
std::unique_ptr<WallpaperBackend> ChooseWallpaperBackend(const std::string& currentDesktop, bool x11,
                                                         CommandRunner& runner, const std::string& forced = {});

// "file:///..." with the path's bytes escaped as URIs want them.
std::string FileUri(const std::string& path);

} // namespace ormbrook
