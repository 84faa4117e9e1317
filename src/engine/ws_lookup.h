#pragma once
// One asynchronous host-name lookup and the IPv4 addresses it found.

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
    bool FirstAddress(sockaddr_in& address);
    bool NextAddress(sockaddr_in& address);

    State state() const { return state_; }
    int lastError() const { return lastError_; }
    int taskHandle() const { return taskHandle_; }

    void OnLookupAnswer(const LookupAnswer& answer) override;

private:
    const char* name_ = nullptr;
    std::vector<uint32_t> addresses_;
    WSLookupListener* listener_ = nullptr;
    int listenerTag_ = 0;
    int taskHandle_ = 0;
    State state_ = IdleOrFailed;
    int lastError_ = 0;
    size_t nextAddress_ = 0;
};

} // namespace ormbrook
