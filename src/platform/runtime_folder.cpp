#include "platform/runtime_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ormbrook {

namespace {

// Makes `path` (without a final "/") as a private folder of this user, or
// checks that an existing one is.
bool PrivateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (info.st_uid != ::getuid())
        return false;
    if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string WithoutFinalSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

RuntimeFolderChoice ChooseRuntimeFolder(const char* runtimeDir, const std::string& tmpBase, const char* cacheHome,
                                        const char* home)
{
    RuntimeFolderChoice choice;
    if (runtimeDir && runtimeDir[0] == '/') {
        const std::string folder = WithoutFinalSlashes(runtimeDir) + "/ormbrook";
        if (PrivateFolder(folder))
            choice.folder = folder + "/";
        return choice;
    }
    const std::string shared = tmpBase + "/ormbrook-" + std::to_string(::getuid());
    if (PrivateFolder(shared)) {
        choice.folder = shared + "/";
        return choice;
    }
    // Someone else made that name first (a folder of theirs, or a link):
    // the programs meet in the user's own cache folder instead, which
    // nobody else can write to.
    std::string cache;
    if (cacheHome && cacheHome[0] == '/')
        cache = WithoutFinalSlashes(cacheHome);
    else if (home && home[0] == '/')
        cache = WithoutFinalSlashes(home) + "/.cache";
    const std::string own = cache + "/ormbrook-runtime";
    if (!cache.empty() && (::mkdir(cache.c_str(), 0700) == 0 || errno == EEXIST) && PrivateFolder(own))
        choice.folder = own + "/";
    choice.notice = shared + " is not this user's private folder (someone else made it, or it is a link); "
        + (choice.folder.empty() ? std::string("no other private folder could be made, so nothing can run")
                                 : "using " + own + " instead");
    return choice;
}

std::string RuntimeFolder()
{
    const RuntimeFolderChoice choice =
        ChooseRuntimeFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
    if (!choice.notice.empty()) {
        // Said once a process: every lock and socket asks again.
        static std::once_flag told;
        std::call_once(told, [&] { std::fprintf(stderr, "ormbrook: %s\n", choice.notice.c_str()); });
    }
    return choice.folder;
}

} // namespace ormbrook
