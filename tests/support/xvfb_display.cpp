#include "support/xvfb_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace ormbrook::test {

namespace {

// Xlib's default handler ends the process on any protocol error, for instance
// when a window goes away while it is being looked at.
int IgnoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

std::string WindowTitle(Display* dpy, Window window)
{
    Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success
        && data && count > 0)
        title.assign(reinterpret_cast<char*>(data), count);
    if (data)
        XFree(data);
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(dpy, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

bool Search(Display* dpy, Window window, const std::string& title, Window& found, int depth)
{
    XWindowAttributes attributes {};
    if (XGetWindowAttributes(dpy, window, &attributes) && attributes.map_state == IsViewable
        && WindowTitle(dpy, window) == title) {
        found = window;
        return true;
    }
    if (depth > 3)
        return false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, window, &root, &parent, &children, &count))
        return false;
    bool hit = false;
    for (unsigned int i = count; i-- > 0 && !hit;)
        hit = Search(dpy, children[i], title, found, depth + 1);
    if (children)
        XFree(children);
    return hit;
}

} // namespace

XvfbDisplay::~XvfbDisplay()
{
    Stop();
}

bool XvfbDisplay::Start(int width, int height)
{
    Stop();
    width_ = width;
    height_ = height;
    int fds[2];
    if (::pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t pid = ::fork();
    if (pid < 0) {
        error_ = "fork failed";
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        // Xvfb picks a free display and writes its number to the pipe.
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                 "-noreset", "+extension", "RANDR", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    std::string number;
    pollfd p {fds[0], POLLIN, 0};
    for (int waited = 0; waited < 10000;) {
        const int n = ::poll(&p, 1, 100);
        waited += 100;
        if (n > 0) {
            char c = 0;
            const ssize_t got = ::read(fds[0], &c, 1);
            if (got <= 0)
                break;
            if (c == '\n')
                break;
            number.push_back(c);
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
    }
    ::close(fds[0]);
    if (number.empty()) {
        error_ = pid_ < 0 ? "Xvfb is not installed or ended at once" : "Xvfb did not report a display";
        Stop();
        return false;
    }
    display_ = ":" + number;
    return true;
}

void XvfbDisplay::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(20000);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    pid_ = -1;
    display_.clear();
}

QProcessEnvironment XvfbDisplay::Environment(const QProcessEnvironment& base) const
{
    QProcessEnvironment env = base;
    env.insert("DISPLAY", QString::fromStdString(display_));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    // The programs under test must not reach the machine's session bus.
    env.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    return env;
}

QImage XvfbDisplay::Grab(int x, int y, int width, int height) const
{
    if (display_.empty() || width <= 0 || height <= 0)
        return {};
    Display* dpy = XOpenDisplay(display_.c_str());
    if (!dpy)
        return {};
    XSetErrorHandler(IgnoreXErrors);
    QImage out;
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image) {
        out = QImage(width, height, QImage::Format_RGB32);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col) {
                const unsigned long pixel = XGetPixel(image, col, row);
                out.setPixel(col, row, qRgb(static_cast<int>((pixel >> 16) & 0xFF),
                                            static_cast<int>((pixel >> 8) & 0xFF),
                                            static_cast<int>(pixel & 0xFF)));
            }
        XDestroyImage(image);
    }
    XCloseDisplay(dpy);
    return out;
}

QImage XvfbDisplay::GrabScreen() const
{
    return Grab(0, 0, width_, height_);
}

bool XvfbDisplay::FindWindow(const std::string& title, int& x, int& y, int& width, int& height) const
{
    if (display_.empty())
        return false;
    Display* dpy = XOpenDisplay(display_.c_str());
    if (!dpy)
        return false;
    XSetErrorHandler(IgnoreXErrors);
    Window found = 0;
    bool ok = Search(dpy, DefaultRootWindow(dpy), title, found, 0);
    if (ok) {
        XWindowAttributes attributes {};
        Window child = 0;
        ok = XGetWindowAttributes(dpy, found, &attributes)
            && XTranslateCoordinates(dpy, found, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
        width = attributes.width;
        height = attributes.height;
    }
    XCloseDisplay(dpy);
    return ok;
}

bool XvfbDisplay::PressKey() const
{
    if (display_.empty())
        return false;
    Display* dpy = XOpenDisplay(display_.c_str());
    if (!dpy)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    bool ok = XTestQueryExtension(dpy, &event, &error, &major, &minor);
    if (ok) {
        const KeyCode space = XKeysymToKeycode(dpy, XK_space);
        ok = space != 0 && XTestFakeKeyEvent(dpy, space, True, CurrentTime)
            && XTestFakeKeyEvent(dpy, space, False, CurrentTime);
        XSync(dpy, False);
    }
    XCloseDisplay(dpy);
    return ok;
}

bool XvfbDisplay::SendInput(const std::string& title, Input input) const
{
    if (display_.empty())
        return false;
    Display* dpy = XOpenDisplay(display_.c_str());
    if (!dpy)
        return false;
    XSetErrorHandler(IgnoreXErrors);
    Window found = 0;
    const bool ok = Search(dpy, DefaultRootWindow(dpy), title, found, 0);
    if (ok) {
        auto send = [&](int type, long mask, unsigned detail) {
            XEvent event {};
            event.type = type;
            if (type == KeyPress || type == KeyRelease) {
                XKeyEvent& k = event.xkey;
                k.display = dpy;
                k.window = found;
                k.root = DefaultRootWindow(dpy);
                k.time = CurrentTime;
                k.x = k.y = 10;
                k.x_root = k.y_root = 10;
                k.same_screen = True;
                k.keycode = detail;
            } else if (type == ButtonPress || type == ButtonRelease) {
                XButtonEvent& b = event.xbutton;
                b.display = dpy;
                b.window = found;
                b.root = DefaultRootWindow(dpy);
                b.time = CurrentTime;
                b.x = b.y = 10;
                b.x_root = b.y_root = 10;
                b.same_screen = True;
                b.button = detail;
                b.state = type == ButtonRelease ? (detail == 1 ? Button1Mask : Button3Mask) : 0;
            } else {
                XMotionEvent& m = event.xmotion;
                m.display = dpy;
                m.window = found;
                m.root = DefaultRootWindow(dpy);
                m.time = CurrentTime;
                m.x = m.y = int(detail);
                m.x_root = m.y_root = int(detail);
                m.same_screen = True;
            }
            XSendEvent(dpy, found, True, mask, &event);
        };
        switch (input) {
        case Input::Key: {
            const unsigned code = XKeysymToKeycode(dpy, XStringToKeysym("space"));
            send(KeyPress, KeyPressMask, code);
            send(KeyRelease, KeyReleaseMask, code);
            break;
        }
        case Input::Motion:
            for (unsigned at = 20; at < 200; at += 30)
                send(MotionNotify, PointerMotionMask, at);
            break;
        case Input::LeftButton:
        case Input::RightButton: {
            const unsigned button = input == Input::LeftButton ? 1 : 3;
            send(ButtonPress, ButtonPressMask, button);
            send(ButtonRelease, ButtonReleaseMask, button);
            break;
        }
        }
        XSync(dpy, False);
    }
    XCloseDisplay(dpy);
    return ok;
}

bool MostlyColour(const QImage& image, QRgb colour, int tolerance, double share)
{
    if (image.isNull() || image.width() == 0 || image.height() == 0)
        return false;
    long hits = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance && std::abs(qGreen(p) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                ++hits;
        }
    return hits >= static_cast<long>(share * image.width() * image.height());
}

} // namespace ormbrook::test
