#pragma once
// Runs the desktop program inside the test's own process on a private X
// server: the windows are real X windows whose pixels the server gives
// back, and the test reaches the program's objects directly.

#include "support/nginx_server.h"
#include "support/scratch_dir.h"
#include "support/xvfb_display.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

namespace ormbrook {
class DesktopProgram;
class CMainFrame;
class CChildFrame;
}

namespace ormbrook::test {

class ScriptedPrompter;

// The environment of the process: called before the QApplication exists.
// Starts Xvfb and points DISPLAY, the Qt platform and the XDG folders at
// private places. False (with the reason) when Xvfb can't start.
bool PrepareDesktopProcess(XvfbDisplay& display, const ScratchDir& scratch, std::string* error, int width = 1280,
                           int height = 900);

// Waits, handling events, until `done` holds or `ms` pass.
bool WaitFor(const std::function<bool()>& done, int ms);

// The demo site served by nginx and the demo project pointing at it.
struct DemoSite {
    NginxServer server;
    std::string project; // the project file
    bool Start(const ScratchDir& scratch, std::string* error);
};

// The pixels of a widget as the X server shows them.
QImage GrabWidget(const XvfbDisplay& display, const QWidget& widget);

} // namespace ormbrook::test
