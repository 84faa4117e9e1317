#include "desktop/desktop_harness.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ormbrook::test {

bool PrepareDesktopProcess(XvfbDisplay& display, const ScratchDir& scratch, std::string* error, int width, int height)
{
    if (!display.Start(width, height)) {
        *error = display.error();
        return false;
    }
    ::setenv("DISPLAY", display.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "disabled:", 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const std::string dir = scratch.file(name);
        QDir().mkpath(QString::fromStdString(dir));
        QFile::setPermissions(QString::fromStdString(dir), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ::setenv(name, dir.c_str(), 1);
    }
    ::setenv("ORMBROOK_NO_SPLASH", "1", 1);
    // The wallpaper changer works on the private X server's root window,
    // never on the desktop of the machine the tests run on.
    ::setenv("ORMBROOK_WALLPAPER_BACKEND", "x11", 1);
    return true;
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

bool DemoSite::Start(const ScratchDir& scratch, std::string* error)
{
    NginxServer::Options options;
    options.root = std::string(ORMBROOK_SOURCE_DIR) + "/examples/demo-site";
    options.extraServerConfig = "location = /old-news.html { return 302 /news.html; }";
    if (!server.Start(options)) {
        *error = server.lastError();
        return false;
    }
    std::ifstream in(std::string(ORMBROOK_SOURCE_DIR) + "/examples/Demo.prj", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string prj = text.str();
    for (size_t at; (at = prj.find("@ORIGIN@")) != std::string::npos;)
        prj.replace(at, 8, server.origin());
    project = scratch.file("Demo.prj");
    std::ofstream(project, std::ios::binary) << prj;
    return true;
}

QImage GrabWidget(const XvfbDisplay& display, const QWidget& widget)
{
    const QPoint origin = widget.mapToGlobal(QPoint(0, 0));
    return display.Grab(origin.x(), origin.y(), widget.width(), widget.height());
}

} // namespace ormbrook::test
