#include "platform/file_calls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ormbrook {

namespace {

FileCalls& KernelCalls()
{
    static FileCalls kernel;
    return kernel;
}

template <typename T> T OrErrno(T r)
{
    return r < 0 ? static_cast<T>(-errno) : r;
}

} // namespace

FileCalls* FileCalls::current_ = nullptr;

FileCalls& FileCalls::Current() { return current_ ? *current_ : KernelCalls(); }

ssize_t FileCalls::Write(int fd, const void* data, size_t length)
{
    ssize_t r;
    do {
        r = ::write(fd, data, length);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

ssize_t FileCalls::PWrite(int fd, const void* data, size_t length, off_t offset)
{
    ssize_t r;
    do {
        r = ::pwrite(fd, data, length, offset);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

int FileCalls::Truncate(int fd, off_t length)
{
    int r;
    do {
        r = ::ftruncate(fd, length);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

int FileCalls::Reserve(int fd, off_t offset, off_t length)
{
    int r;
    do {
        r = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, length);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

int FileCalls::Close(int fd)
{
    // Not retried after EINTR: the descriptor is gone either way.
    return ::close(fd) == 0 ? 0 : -errno;
}

ScopedFileCalls::ScopedFileCalls(FileCalls& calls) : previous_(FileCalls::current_) { FileCalls::current_ = &calls; }

ScopedFileCalls::~ScopedFileCalls() { FileCalls::current_ = previous_; }

int WriteFully(int fd, const void* data, size_t length)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = FileCalls::Current().Write(fd, p, length);
        if (n < 0)
            return static_cast<int>(-n);
        if (n == 0)
            return ENOSPC;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

int PWriteFully(int fd, const void* data, size_t length, off_t offset)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = FileCalls::Current().PWrite(fd, p, length, offset);
        if (n < 0)
            return static_cast<int>(-n);
        if (n == 0)
            return ENOSPC;
        p += n;
        offset += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

bool IsStorageFailure(int err)
{
    return err == ENOSPC || err == EDQUOT || err == EROFS || err == EIO;
}

std::string WriteFailureText(const std::string& path, int err)
{
    return "cannot write " + path + ": " + std::strerror(err);
}

} // namespace ormbrook
