#pragma once
// A system-call table for tests: failures are made where the kernel would
// make them. Every connect goes to 127.0.0.1 (an IPv6 one to ::1) at the port
// asked for, so a test may name any address without anything leaving the
// machine; the address asked for is what the log shows and what faults are
// keyed by.
//
//   FaultSysCalls sys;
//   sys.FailConnect(Ipv4("10.0.0.1"), ETIMEDOUT); // that connect finishes with a time-out
//   ScopedSysCalls use(sys);

#include "platform/sys_calls.h"

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace ormbrook::test {

// Network-order address of a dotted-decimal text.
uint32_t Ipv4(const char* dotted);

class FaultSysCalls : public SysCalls {
public:
    ~FaultSysCalls() override;

    // A connect to `address` starts normally and finishes with `err`.
    void FailConnect(uint32_t address, int err) { connectFaults_[address] = err; }
    // A connect to `address` starts and never finishes (as when the far end
    // drops every packet).
    void StallConnect(uint32_t address) { stalled_.push_back(address); }
    // The same for IPv6 addresses, named by their text ("2001:db8::1").
    void FailConnect6(const std::string& address, int err) { connectFaults6_[address] = err; }
    void StallConnect6(const std::string& address) { stalled6_.push_back(address); }
    // Called before each send; a value is returned instead of sending
    // (a count for a short write is still sent for real, up to that count).
    std::function<std::optional<ssize_t>(int fd, size_t length, int call)> onSend;
    // Seeded knobs: a share (0..100) of sends and receives come back
    // would-block, sends write at most `maxSend` bytes and receives read at
    // most `maxRecv` (0: no limit).
    void SetFlaky(unsigned seed, int percentWouldBlock, size_t maxSend, size_t maxRecv = 0);

    int Socket(int family) override;
    int Connect(int fd, const sockaddr_in& address) override;
    int Connect6(int fd, const sockaddr_in6& address) override;
    int ConnectResult(int fd, bool errorSeen) override;
    ssize_t Send(int fd, const void* data, size_t length) override;
    ssize_t Recv(int fd, void* data, size_t length) override;
    int Close(int fd) override;

    // In call order: sockets opened, closed, and the addresses connected to.
    std::vector<int> opened;
    std::vector<int> closed;
    std::vector<uint32_t> connectedTo;
    std::vector<std::string> connectedTo6;
    // Both families in call order, as text.
    std::vector<std::string> connectedLog;
    int sendCalls = 0;

private:
    bool Flake();
    int NeverReady();

    std::map<uint32_t, int> connectFaults_;
    std::map<int, int> pendingFault_; // fd -> error its connect finishes with
    std::vector<uint32_t> stalled_;
    std::map<std::string, int> connectFaults6_;
    std::vector<std::string> stalled6_;
    int pipe_[2] = {-1, -1};
    std::mt19937 random_;
    int percentWouldBlock_ = 0;
    size_t maxSend_ = 0;
    size_t maxRecv_ = 0;
};

} // namespace ormbrook::test
