#include "viewers/x11_windows.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <QWidget>
#include <QWindow>

#include <X11/Xlib.h>

namespace ormbrook {

namespace {

Display* XDisplay()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

bool OnX11()
{
    return XDisplay() != nullptr;
}

std::optional<QSize> ForeignWindowSize(uint64_t window)
{
    Display* display = XDisplay();
    if (!display || window == 0)
        return std::nullopt;
    // A window id from the command line may name nothing.
    XErrorHandler old = XSetErrorHandler(IgnoreErrors);
    XWindowAttributes attributes {};
    const Status ok = XGetWindowAttributes(display, Window(window), &attributes);
    XSync(display, False);
    XSetErrorHandler(old);
    if (!ok)
        return std::nullopt;
    return QSize(attributes.width, attributes.height);
}

uint64_t RootWindowId()
{
    Display* display = XDisplay();
    return display ? uint64_t(DefaultRootWindow(display)) : 0;
}

bool EmbedInto(QWidget& widget, uint64_t window)
{
    const std::optional<QSize> size = ForeignWindowSize(window);
    if (!size)
        return false;
    QWindow* parent = QWindow::fromWinId(WId(window));
    if (!parent)
        return false;
    widget.setAttribute(Qt::WA_NativeWindow);
    widget.winId();
    widget.windowHandle()->setParent(parent);
    widget.setGeometry(0, 0, size->width(), size->height());
    return true;
}

SaverOnTop::SaverOnTop(QWidget& window) : window_(window)
{
    Display* display = XDisplay();
    if (!display)
        return;
    watch_ = XOpenDisplay(DisplayString(display));
    if (watch_) {
        XSelectInput(watch_, DefaultRootWindow(watch_), SubstructureNotifyMask);
        XFlush(watch_);
        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(watch_), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadEvents(); });
    }
    grabTimer_.start(100, this);
}

SaverOnTop::~SaverOnTop()
{
    Release();
}

void SaverOnTop::Release()
{
    grabTimer_.stop();
    if (grabbed_ && window_.windowHandle()) {
        window_.windowHandle()->setKeyboardGrabEnabled(false);
        window_.windowHandle()->setMouseGrabEnabled(false);
    }
    grabbed_ = false;
    notifier_.reset();
    if (watch_) {
        XCloseDisplay(watch_);
        watch_ = nullptr;
    }
}

void SaverOnTop::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != grabTimer_.timerId())
        return QObject::timerEvent(event);
    QWindow* handle = window_.windowHandle();
    // A grab needs the window on screen; a menu of another client may hold
    // the keyboard for a moment.
    if (!handle || !window_.isVisible() || !handle->setKeyboardGrabEnabled(true))
        return;
    if (!handle->setMouseGrabEnabled(true)) {
        handle->setKeyboardGrabEnabled(false);
        return;
    }
    grabbed_ = true;
    grabTimer_.stop();
}

void SaverOnTop::ReadEvents()
{
    bool restacked = false;
    while (watch_ && XPending(watch_) > 0) {
        XEvent event;
        XNextEvent(watch_, &event);
        if (event.type == MapNotify || event.type == ConfigureNotify)
            restacked = true;
    }
    if (restacked && window_.isVisible() && !OnTop())
        window_.raise();
}

bool SaverOnTop::OnTop()
{
    // The saver's top-level window (a window manager's frame, if any) must
    // be the last child of the root, the one drawn over all others.
    XErrorHandler old = XSetErrorHandler(IgnoreErrors);
    Window window = Window(window_.winId());
    const Window root = DefaultRootWindow(watch_);
    Window top = window;
    for (;;) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(watch_, top, &rootReturn, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        top = parent;
    }
    bool last = true;
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(watch_, root, &rootReturn, &parent, &children, &count) && count > 0) {
        // Windows that are not mapped above it hide nothing.
        for (unsigned i = count; i-- > 0;) {
            if (children[i] == top)
                break;
            XWindowAttributes a {};
            if (XGetWindowAttributes(watch_, children[i], &a) && a.map_state == IsViewable) {
                last = false;
                break;
            }
        }
    }
    if (children)
        XFree(children);
    XSetErrorHandler(old);
    return last;
}

} // namespace ormbrook
