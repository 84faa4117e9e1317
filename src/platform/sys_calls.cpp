#include "platform/sys_calls.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace ormbrook {

namespace {
SysCalls& KernelCalls()
{
    static SysCalls kernel;
    return kernel;
}

template <typename T>
T OrErrno(T r)
{
    return r < 0 ? static_cast<T>(-errno) : r;
}
} // namespace

SysCalls* SysCalls::current_ = nullptr;

SysCalls& SysCalls::Current() { return current_ ? *current_ : KernelCalls(); }

int SysCalls::Socket() { return OrErrno(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)); }

int SysCalls::Connect(int fd, const sockaddr_in& address)
{
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

int SysCalls::ConnectResult(int fd, bool errorSeen)
{
    if (!errorSeen)
        return 0;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        return errno;
    return err;
}

ssize_t SysCalls::Send(int fd, const void* data, size_t length)
{
    ssize_t r;
    do {
        // A peer that has gone must come back as an error, not as SIGPIPE.
        r = ::send(fd, data, length, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

ssize_t SysCalls::Recv(int fd, void* data, size_t length)
{
    ssize_t r;
    do {
        r = ::recv(fd, data, length, 0);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

int SysCalls::Close(int fd) { return ::close(fd) < 0 ? -errno : 0; }

ScopedSysCalls::ScopedSysCalls(SysCalls& calls) : previous_(SysCalls::current_) { SysCalls::current_ = &calls; }

ScopedSysCalls::~ScopedSysCalls() { SysCalls::current_ = previous_; }

} // namespace ormbrook
