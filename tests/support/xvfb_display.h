#pragma once
// A private X server for one test: Xvfb on a display number it picks itself,
// so tests of windows never meet the desktop of the machine they run on.
// Pixels are read back from the server, which shows what a user would see.

#include <QImage>
#include <QProcessEnvironment>

#include <string>
#include <sys/types.h>

namespace ormbrook::test {

class XvfbDisplay {
public:
    XvfbDisplay() = default;
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // Starts the server with one screen of that size (24-bit). False, with
    // the reason in error(), when Xvfb is missing or does not come up.
    bool Start(int width = 1024, int height = 768);
    void Stop();

    // ":N".
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }
    // The environment of a program that should show its windows here: DISPLAY
    // set, Qt's xcb platform, and no session bus of the machine.
    QProcessEnvironment Environment(const QProcessEnvironment& base = QProcessEnvironment::systemEnvironment()) const;

    // The screen's pixels in that rectangle (the root window, so every
    // mapped window shows), or a null image when the server can't be read.
    QImage Grab(int x, int y, int width, int height) const;
    QImage GrabScreen() const;

    // Top-level windows whose title (WM_NAME or _NET_WM_NAME) is `title`.
    // Returns the first one's geometry in root coordinates; false when none
    // is mapped.
    bool FindWindow(const std::string& title, int& x, int& y, int& width, int& height) const;

    // Sends the window of that title a key press (space), a pointer motion,
    // or a press and release of the left or right button, as the X server
    // would deliver them. False when no such window is mapped.
    enum class Input { Key, Motion, LeftButton, RightButton };
    bool SendInput(const std::string& title, Input input) const;
    // A key pressed and released on the server's own keyboard (XTEST): it
    // goes where the server sends keys, to a grab or the focus, unlike
    // SendInput's events, which name their window.
    bool PressKey() const;

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
    int width_ = 0;
    int height_ = 0;
};

// True when most pixels of `image` are within `tolerance` of `colour` in each
// channel (compression and scaling blur the edges of solid areas).
bool MostlyColour(const QImage& image, QRgb colour, int tolerance = 12, double share = 0.9);

} // namespace ormbrook::test
