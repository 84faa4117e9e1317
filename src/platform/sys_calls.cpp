#include "platform/sys_calls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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

SocketAddress::SocketAddress() { std::memset(static_cast<void*>(this), 0, sizeof *this); }

SocketAddress SocketAddress::V4(uint32_t address)
{
    SocketAddress a;
    a.v4.sin_family = AF_INET;
    a.v4.sin_addr.s_addr = address;
    return a;
}

SocketAddress SocketAddress::V6(const in6_addr& address)
{
    SocketAddress a;
    a.v6.sin6_family = AF_INET6;
    a.v6.sin6_addr = address;
    return a;
}

std::optional<SocketAddress> SocketAddress::FromLiteral(const std::string& text)
{
    const in_addr_t v4 = ::inet_addr(text.c_str());
    if (v4 != INADDR_NONE)
        return V4(v4);
    in6_addr v6;
    if (text.find(':') != std::string::npos && ::inet_pton(AF_INET6, text.c_str(), &v6) == 1)
        return V6(v6);
    return std::nullopt;
}

void SocketAddress::SetPort(uint16_t port)
{
    if (family() == AF_INET6)
        v6.sin6_port = htons(port);
    else
        v4.sin_port = htons(port);
}

std::string SocketAddress::Text() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET6)
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return text;
}

int SysCalls::Socket(int family) { return OrErrno(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)); }

int SysCalls::Connect6(int fd, const sockaddr_in6& address)
{
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (r < 0 && errno == EINTR);
    return OrErrno(r);
}

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
