#pragma once
// The few things the viewers ask of the X server directly: the size of a
// window they do not own (a preview frame, XScreenSaver's window) and the
// root window. Everything else goes through Qt.

#include <QSize>

#include <cstdint>
#include <optional>

class QWidget;

namespace ormbrook {

// True when the application runs on X11.
bool OnX11();
std::optional<QSize> ForeignWindowSize(uint64_t window);
uint64_t RootWindowId();

// Makes `widget` a child of the foreign window, filling it. False when the
// window does not exist or this is no X11 session.
bool EmbedInto(QWidget& widget, uint64_t window);

} // namespace ormbrook
