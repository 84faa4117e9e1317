#pragma once
// One asynchronous host-name lookup and the addresses (IPv6 and IPv4) it
// found.

#include "engine/ws_registry.h"

#include <netinet/in.h>

#include <string>
#include <vector>

namespace ormbrook {

class WSLookupListener {
public:
    virtual ~WSLookupListener() = default;
    virtual void OnLookupDone(int tag, int error) = 0;
};

class CWSLookup : public WSEventTarget {
public:
    enum State : int {
        IdleOrFailed = 0,
        InProgress = 1,
        Done = 2,
    };

    // Errors of Start and Cancel that are not Winsock's.
    static constexpr int kAlreadyRunning = 1;
    static constexpr int kNotRunning = 2;

    CWSLookup() = default;
    ~CWSLookup() override;
    CWSLookup(const CWSLookup&) = delete;
    CWSLookup& operator=(const CWSLookup&) = delete;

    // The name to resolve; the caller keeps it alive while a lookup runs.
    void SetName(const char* name) { name_ = name; }

    int Start(WSLookupListener* listener, int tag);
    int Cancel();
    // Hand out the addresses in the order found, port 0; false when none is left.
    bool FirstAddress(SocketAddress& address);
    bool NextAddress(SocketAddress& address);
    const std::vector<SocketAddress>& addresses() const { return addresses_; }

    State state() const { return state_; }
    int lastError() const { return lastError_; }
    int taskHandle() const { return taskHandle_; }

    void OnLookupAnswer(const LookupAnswer& answer) override;

private:
    const char* name_ = nullptr;
    std::vector<SocketAddress> addresses_;
    WSLookupListener* listener_ = nullptr;
    int listenerTag_ = 0;
    int taskHandle_ = 0;
    State state_ = IdleOrFailed;
    int lastError_ = 0;
    size_t nextAddress_ = 0;
};

} // namespace ormbrook
