#pragma once
// The few things the viewers ask of the X server directly: the size of a
// window they do not own (a preview frame, XScreenSaver's window) and the
// root window. Everything else goes through Qt.

#include <QBasicTimer>
#include <QObject>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>

class QSocketNotifier;
class QWidget;
struct _XDisplay;

namespace ormbrook {

// True when the application runs on X11.
bool OnX11();
std::optional<QSize> ForeignWindowSize(uint64_t window);
uint64_t RootWindowId();

// Makes `widget` a child of the foreign window, filling it. False when the
// window does not exist or this is no X11 session.
bool EmbedInto(QWidget& widget, uint64_t window);

// What keeps a full-screen saver in front, as screen savers and lockers do:
// any window mapped or raised above it puts it back on top, and it holds
// the keyboard and the pointer (taken once it is on screen, tried again
// while another client holds them) until it is released or destroyed.
// Nothing on a session that is not X11.
class SaverOnTop : public QObject {
public:
    explicit SaverOnTop(QWidget& window);
    ~SaverOnTop() override;
    void Release();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void ReadEvents();
    bool OnTop();

    QWidget& window_;
    ::_XDisplay* watch_ = nullptr; // a connection of its own for the root's events
    std::unique_ptr<QSocketNotifier> notifier_;
    QBasicTimer grabTimer_;
    bool grabbed_ = false;
};

} // namespace ormbrook
