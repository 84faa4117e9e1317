#include "platform/named_lock.h"

#include "platform/runtime_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ormbrook {

NamedLock::NamedLock(std::string name) : name_(std::move(name)) {}

NamedLock::~NamedLock()
{
    Release();
}

std::string NamedLock::PathOf(const std::string& name)
{
    const std::string folder = RuntimeFolder();
    if (folder.empty())
        return {};
    return folder + name + ".lock";
}

bool NamedLock::TryAcquire()
{
    if (fd_ >= 0)
        return true;
    const std::string path = PathOf(name_);
    if (path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool NamedLock::Acquire(int timeoutMs)
{
    for (int waited = 0;; waited += 10) {
        if (TryAcquire())
            return true;
        if (waited >= timeoutMs || PathOf(name_).empty())
            return false;
        ::usleep(10 * 1000);
    }
}

void NamedLock::Release()
{
    if (fd_ < 0)
        return;
    // The file stays: removing it would race with a program that has just
    // opened it and is about to lock it.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

bool NamedLock::IsTaken(const std::string& name)
{
    NamedLock probe(name);
    if (probe.TryAcquire())
        return false;
    // Not taken, but unusable: nobody can hold it either.
    return !PathOf(name).empty();
}

} // namespace ormbrook
