#pragma once
// Turns a host name and a port into a connected CWSSocket: resolves the name
// (unless it is a dotted-decimal address) and tries the addresses in turn
// while they turn out unreachable or time out. For an https URL the
// connection is then secured with TLS, after asking the proxy, when there
// is one, to open a tunnel to the server (CONNECT): "connected" means ready
// for the request in every case.

#include "engine/ws_lookup.h"
#include "engine/response_head.h"
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
        Tunnel,       // entry: ask the proxy for a tunnel to the server
        AwaitTunnel,  // reading the proxy's answer
        Secure,       // entry: start the TLS handshake
        AwaitSecure,  // waiting for the handshake's end
        Finish,       // entry: hand the socket over and tell the owner
    };
    enum Event : int {
        EvNeutral = 0,
        EvLookupDone = 1,
        EvConnectDone = 2,
        EvCancel = 3,
        EvTunnelData = 4,
        EvTunnelClosed = 5,
        EvSecured = 6,
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
    // tls: secure the connection as it says (null: a plain connection).
    bool Start(const char* host, uint16_t port, CWSSocket* socket, WSSocketListener* socketListener,
               int socketListenerTag, const TlsTarget* tls = nullptr);
    void Cancel(bool notify);

    State state() const { return state_; }
    int result() const { return result_; }
    int lastError() const { return lastError_; }
    bool literal() const { return literal_; }
    const CWSLookup& lookup() const { return lookup_; }
    // Why the last connection failed, when the failure has a text of its
    // own ("certificate: ...", "TLS: ...", "proxy: ..."); else empty.
    const std::string& failureText() const { return failureText_; }
    // The request that asks a proxy for a tunnel to "host:port".
    static std::string TunnelRequest(const std::string& target);

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
    void RunTunnel(int event);
    void RunAwaitTunnel(int event);
    void RunSecure(int event);
    void RunAwaitSecure(int event);
    void RunFinish(int event);
    // The connection failed for good: the socket is closed.
    void Fail(std::string text = {});

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
    bool secure_ = false;
    TlsTarget tls_;
    std::string tunnelRequest_;
    ResponseHead tunnelReply_;
    bool tunnelStatusRead_ = false;
    std::string failureText_;
};

inline constexpr const char* kNoAddressAfterLookupText =
    "Can't access address following lookup in CConnMgr::AwaitLookup";

} // namespace ormbrook
