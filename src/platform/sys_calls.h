#pragma once
// The socket layer's only way to the kernel. Tests put their own table in
// place to make calls fail, block or come back short exactly where a real
// network would, without faking anything above this line.

#include <netinet/in.h>
#include <sys/types.h>

namespace ormbrook {

// Every call returns its result, or -errno on failure.
class SysCalls {
public:
    virtual ~SysCalls() = default;

    virtual int Socket();                                     // non-blocking IPv4 TCP socket
    virtual int Connect(int fd, const sockaddr_in& address);
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
