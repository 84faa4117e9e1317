#include "platform/runtime_folder.h"

#include <cerrno>
#include <cstdlib>
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

} // namespace

std::string RuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && runtime[0] == '/') {
        folder = runtime;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        folder += "/ormbrook";
    } else {
        folder = "/tmp/ormbrook-" + std::to_string(::getuid());
    }
    if (!PrivateFolder(folder))
        return {};
    return folder + "/";
}

} // namespace ormbrook
