#pragma once
// The socket layer's only way to the kernel. Tests put their own table in
// place to make calls fail, block or come back short exactly where a real
// network would, without faking anything above this line.

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ormbrook {

// An IPv4 or an IPv6 socket address.
struct SocketAddress {
    union {
        sockaddr any;
        sockaddr_in v4;
        sockaddr_in6 v6;
    };

    SocketAddress();
    // Network byte order, as resolvers give it.
    static SocketAddress V4(uint32_t address);
    static SocketAddress V6(const in6_addr& address);
    // A dotted-decimal IPv4 address (in every form inet_addr takes) or an
    // IPv6 address (without brackets); nothing for a name.
    static std::optional<SocketAddress> FromLiteral(const std::string& text);

    int family() const { return any.sa_family; }
    void SetPort(uint16_t port); // host byte order
    socklen_t length() const { return family() == AF_INET6 ? sizeof v6 : sizeof v4; }
    // "127.0.0.1" or "::1"
    std::string Text() const;
};

// Every call returns its result, or -errno on failure.
class SysCalls {
public:
    virtual ~SysCalls() = default;

    virtual int Socket(int family);                           // non-blocking TCP socket of AF_INET or AF_INET6
    virtual int Connect(int fd, const sockaddr_in& address);
    virtual int Connect6(int fd, const sockaddr_in6& address);
    // errno of a finished connect, 0 when made. errorSeen: the readiness
    // that told of the end carried an error or hang-up; without one the
    // connect was made, and the kernel need not be asked.
    virtual int ConnectResult(int fd, bool errorSeen);
    virtual ssize_t Send(int fd, const void* data, size_t length);
    virtual ssize_t Recv(int fd, void* data, size_t length);
    virtual int Close(int fd);

    // The table in force (the kernel's unless a ScopedSysCalls says otherwise).
    static SysCalls& Current();

private:
    friend class ScopedSysCalls;
    static SysCalls* current_;
};

// Puts `calls` in force for its lifetime. Only for tests; not thread-safe
// against a running engine thread.
class ScopedSysCalls {
public:
    explicit ScopedSysCalls(SysCalls& calls);
    ~ScopedSysCalls();
    ScopedSysCalls(const ScopedSysCalls&) = delete;
    ScopedSysCalls& operator=(const ScopedSysCalls&) = delete;

private:
    SysCalls* previous_;
};

} // namespace ormbrook
