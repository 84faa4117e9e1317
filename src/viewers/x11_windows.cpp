#include "viewers/x11_windows.h"

#include <QGuiApplication>
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

} // namespace ormbrook
