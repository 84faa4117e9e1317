#pragma once
// Turns a host name and a port into a connected CWSSocket: resolves the name
// (unless it is a dotted-decimal address) and tries the addresses in turn
// while they turn out unreachable or time out.

#include "engine/ws_lookup.h"
#include "engine/ws_socket.h"

#include <string>

namespace ormbrook {

class ConnectListener {
public:
    virtual ~ConnectListener() = default;
    // result: 1 cancelled, 2 connected, 3 failed.
    virtual void OnConnectDone(int tag, int result) = 0;
};

class CConnMgr : public WSLookupListener, public WSSocketListener {
public:
    enum class State : int {
        Idle,         // no connection being made; every event ignored
        Start,        // entry: literal address or start the lookup
        AwaitLookup,  // waiting for the lookup's answer
        Connect,      // entry: start connecting to `address`
        AwaitConnect, // waiting for connect finished
        Finish,       // entry: hand the socket over and tell the owner
    };
    enum Event : int {
        EvNeutral = 0,
        EvLookupDone = 1,
        EvConnectDone = 2,
        EvCancel = 3,
    };
    enum Result : int {
        ResultCancelled = 1,
        ResultConnected = 2,
        ResultFailed = 3,
    };

    CConnMgr(ConnectListener* owner, int ownerTag) : owner_(owner), ownerTag_(ownerTag) {}
    CConnMgr(const CConnMgr&) = delete;
    CConnMgr& operator=(const CConnMgr&) = delete;

    // Refused unless idle. Once the outcome is known, `socket`'s events go to
    // `socketListener` with `socketListenerTag`.
    bool Start(const char* host, uint16_t port, CWSSocket* socket, WSSocketListener* socketListener,
               int socketListenerTag);
    void Cancel(bool notify);

    State state() const { return state_; }
    int result() const { return result_; }
    int lastError() const { return lastError_; }
    bool literal() const { return literal_; }
    const CWSLookup& lookup() const { return lookup_; }

    void OnLookupDone(int tag, int error) override;
    void OnSocketEvent(int tag, int code, int error, const char* sendTag) override;

private:

    void Feed(int event);
    void SetState(State next);
    void RunIdle(int event);
    void RunStart(int event);
    void RunAwaitLookup(int event);
    void RunConnect(int event);
    void RunAwaitConnect(int event);
    void RunFinish(int event);

    ConnectListener* owner_;
    int ownerTag_;
    std::string host_;
    uint16_t port_ = 0;
    CWSSocket* socket_ = nullptr;
    WSSocketListener* socketListener_ = nullptr;
    int socketListenerTag_ = 0;
    CWSLookup lookup_;
    sockaddr_in address_{};
    bool literal_ = false;
    int lastError_ = 0;
    bool notify_ = true;
    int result_ = ResultFailed;
    State state_ = State::Idle;
};

inline constexpr const char* kNoAddressAfterLookupText =
    "Can't access address following lookup in CConnMgr::AwaitLookup";

} // namespace ormbrook
