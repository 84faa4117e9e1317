#pragma once
// The per-user runtime folder: where the programs' lock files and the local
// sockets by which they find each other live. $XDG_RUNTIME_DIR/ormbrook/,
// or /tmp/ormbrook-<uid>/ where the session has no runtime directory.

#include <string>

namespace ormbrook {

// The folder with a final "/", created (mode 0700) when missing. Empty when
// it can't be made, or when the fallback under /tmp exists but belongs to
// another user or is open to others (someone could then answer for our
// programs).
std::string RuntimeFolder();

} // namespace ormbrook
