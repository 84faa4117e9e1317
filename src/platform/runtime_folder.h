#pragma once
// The per-user runtime folder: where the programs' lock files and the local
// sockets by which they find each other live. $XDG_RUNTIME_DIR/ormbrook/,
// or /tmp/ormbrook-<uid>/ where the session has no runtime directory, or,
// when another user holds that name, ormbrook-runtime/ in the user's cache
// folder.

#include <string>

namespace ormbrook {

// The folder with a final "/", created (mode 0700) when missing. Empty when
// none can be made private to this user (someone could then answer for our
// programs).
std::string RuntimeFolder();

// The choice RuntimeFolder makes, from its environment: the folder (empty
// when none will do) and, when the one under /tmp was refused, what the
// user is told about it.
struct RuntimeFolderChoice {
    std::string folder;
    std::string notice;
};
RuntimeFolderChoice ChooseRuntimeFolder(const char* runtimeDir, const std::string& tmpBase, const char* cacheHome,
                                        const char* home);

} // namespace ormbrook
