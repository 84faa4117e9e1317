#pragma once
// Starting the desktop program with the session: a desktop entry in the
// user's autostart folder ($XDG_CONFIG_HOME/autostart, or ~/.config/autostart),
// which every freedesktop session reads at login.

#include <string>

namespace ormbrook {

// $XDG_CONFIG_HOME/autostart/ormbrook.desktop (~/.config when unset).
std::string AutostartEntryPath();

// Whether the entry is there.
bool AutostartOn();

// Writes the entry, which starts `program` (the desktop program: in the
// tray, without its splash), or removes it. False, with the reason, when
// the folder or the file cannot be written or removed.
bool SetAutostart(bool on, const std::string& program, std::string* reason = nullptr);

} // namespace ormbrook
