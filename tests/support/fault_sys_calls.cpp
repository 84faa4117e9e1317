#include "support/fault_sys_calls.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ormbrook::test {

uint32_t Ipv4(const char* dotted) { return ::inet_addr(dotted); }

void FaultSysCalls::SetFlaky(unsigned seed, int percentWouldBlock, size_t maxSend, size_t maxRecv)
{
    maxRecv_ = maxRecv;
    random_.seed(seed);
    percentWouldBlock_ = percentWouldBlock;
    maxSend_ = maxSend;
}

bool FaultSysCalls::Flake()
{
    return percentWouldBlock_ > 0 && int(random_() % 100) < percentWouldBlock_;
}

FaultSysCalls::~FaultSysCalls()
{
    if (pipe_[0] >= 0) {
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
}

// The read end of a pipe whose write end stays open: never writable, never
// hung up, so a connect waiting on it never finishes.
int FaultSysCalls::NeverReady()
{
    if (pipe_[0] < 0 && ::pipe2(pipe_, O_CLOEXEC) < 0)
        return -1;
    return pipe_[0];
}

int FaultSysCalls::Socket(int family)
{
    const int fd = SysCalls::Socket(family);
    if (fd >= 0)
        opened.push_back(fd);
    return fd;
}

int FaultSysCalls::Connect(int fd, const sockaddr_in& address)
{
    connectedTo.push_back(address.sin_addr.s_addr);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    connectedLog.push_back(text);
    if (std::find(stalled_.begin(), stalled_.end(), address.sin_addr.s_addr) != stalled_.end()) {
        const int quiet = NeverReady();
        if (quiet < 0 || ::dup2(quiet, fd) < 0)
            return -EIO;
        return -EINPROGRESS;
    }
    sockaddr_in local = address;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto fault = connectFaults_.find(address.sin_addr.s_addr);
    if (fault == connectFaults_.end())
        return SysCalls::Connect(fd, local);
    // The connection really starts (so that readiness comes), and its
    // outcome is the fault.
    const int r = SysCalls::Connect(fd, local);
    if (r != 0 && r != -EINPROGRESS)
        return r;
    pendingFault_[fd] = fault->second;
    return -EINPROGRESS;
}

int FaultSysCalls::Connect6(int fd, const sockaddr_in6& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text);
    connectedTo6.push_back(text);
    connectedLog.push_back(text);
    if (std::find(stalled6_.begin(), stalled6_.end(), text) != stalled6_.end()) {
        const int quiet = NeverReady();
        if (quiet < 0 || ::dup2(quiet, fd) < 0)
            return -EIO;
        return -EINPROGRESS;
    }
    sockaddr_in6 local = address;
    local.sin6_addr = in6addr_loopback;
    auto fault = connectFaults6_.find(text);
    if (fault == connectFaults6_.end())
        return SysCalls::Connect6(fd, local);
    const int r = SysCalls::Connect6(fd, local);
    if (r != 0 && r != -EINPROGRESS)
        return r;
    pendingFault_[fd] = fault->second;
    return -EINPROGRESS;
}

int FaultSysCalls::ConnectResult(int fd, bool errorSeen)
{
    auto it = pendingFault_.find(fd);
    if (it != pendingFault_.end()) {
        const int err = it->second;
        pendingFault_.erase(it);
        return err;
    }
    return SysCalls::ConnectResult(fd, errorSeen);
}

ssize_t FaultSysCalls::Send(int fd, const void* data, size_t length)
{
    const int call = sendCalls++;
    if (onSend) {
        if (std::optional<ssize_t> r = onSend(fd, length, call)) {
            if (*r <= 0)
                return *r;
            length = std::min(length, size_t(*r));
        }
    }
    if (Flake())
        return -EAGAIN;
    if (maxSend_ > 0)
        length = std::min(length, maxSend_);
    return SysCalls::Send(fd, data, length);
}

ssize_t FaultSysCalls::Recv(int fd, void* data, size_t length)
{
    if (Flake())
        return -EAGAIN;
    if (maxRecv_ > 0)
        length = std::min(length, maxRecv_);
    return SysCalls::Recv(fd, data, length);
}

int FaultSysCalls::Close(int fd)
{
    closed.push_back(fd);
    pendingFault_.erase(fd);
    return SysCalls::Close(fd);
}

} // namespace ormbrook::test
