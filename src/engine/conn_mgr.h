#pragma once
// Turns a host name and a port into a connected CWSSocket: resolves the name
// (unless it is an IPv4 or IPv6 address) to all its addresses and tries them
// in the resolver's order while they turn out unreachable or time out. When
// the name has addresses of both families, the first of the other family
// gets a short head start (happy eyeballs, in the simple form of RFC 8305):
// if the first attempt has not finished within kHeadStartMs, the other one
// starts beside it and whichever connects first is kept; an attempt of one
// family that fails in any way hands over to the other. For an https URL the
// connection is then secured with TLS, after asking the proxy, when there
// is one, to open a tunnel to the server (CONNECT): "connected" means ready
// for the request in every case.

#include "engine/ws_lookup.h"
#include "engine/response_head.h"
#include "engine/ws_socket.h"

#include <memory>
#include <string>
#include <vector>

class QTimer;

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
        EvHeadStart = 7,     // the first attempt had its head start
        EvSecondDone = 8,    // the attempt of the other family finished
    };
    static constexpr int kHeadStartMs = 250;
    enum Result : int {
        ResultCancelled = 1,
        ResultConnected = 2,
        ResultFailed = 3,
    };

    CConnMgr(ConnectListener* owner, int ownerTag);
    ~CConnMgr() override;
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
    // The attempt at candidates_[current_] failed with lastError_: the next
    // address to try, or the end.
    void MoveOn();
    // An address not tried yet, of the family (AF_UNSPEC: any) or not of it.
    int Untried(int family, bool sameFamily) const;
    void StartSecond();
    void DropSecond();
    void Connected();

    ConnectListener* owner_;
    int ownerTag_;
    std::string host_;
    uint16_t port_ = 0;
    CWSSocket* socket_ = nullptr;
    WSSocketListener* socketListener_ = nullptr;
    int socketListenerTag_ = 0;
    CWSLookup lookup_;
    SocketAddress address_;
    std::vector<SocketAddress> candidates_;
    std::vector<bool> tried_;
    int current_ = 0;
    std::unique_ptr<CWSSocket> second_;  // the other family's attempt
    int secondError_ = 0;
    bool firstFailed_ = false;
    std::unique_ptr<QTimer> headStart_;
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
