#pragma once
// One non-blocking TCP socket with a send queue. Its listener hears of five
// things: connect finished, a connection to accept, data to read, a queued
// send finished, and the connection closed; and, on a socket that was
// secured with TLS, the end of the handshake. On a secured socket Send and
// Receive carry the plain bytes and TLS does the rest underneath.

#include "engine/tls_context.h"
#include "engine/ws_registry.h"
#include "platform/sys_calls.h"

#include <netinet/in.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

enum SocketEventCode : int {
    SocketConnected = 0, // connect finished (error says how)
    SocketAccept = 1,    // connection to accept (listening sockets only)
    SocketRead = 2,      // data to read
    SocketSent = 3,      // a queued send finished (error says how)
    SocketClosed = 4,    // connection closed
    SocketSecured = 5,   // the TLS handshake finished (error says how)
};

class WSSocketListener {
public:
    virtual ~WSSocketListener() = default;
    // `sendTag` is the tag of the finished send for SocketSent, else null.
    virtual void OnSocketEvent(int tag, int code, int error, const char* sendTag) = 0;
};

class CWSSocket : public WSEventTarget {
public:
    enum State : int {
        NotConnected = 0,
        Connecting = 1,
        Connected = 2,
    };

    CWSSocket();
    ~CWSSocket() override;
    CWSSocket(const CWSSocket&) = delete;
    CWSSocket& operator=(const CWSSocket&) = delete;

    // Opens the socket (AF_INET or AF_INET6) and registers it; 0 or the error.
    int Create(int family = AF_INET);
    // Starts connecting (creating the socket of the address's family first
    // if needed). 0 when made at once; WsaWouldBlock while in progress,
    // finished later by SocketConnected.
    int Connect(const SocketAddress& address);
    int Connect(const sockaddr_in& address);
    // Takes over the connection of `other` (closing its own first), which
    // is left closed: the winner of two attempts becomes the socket its
    // owner knows.
    void TakeOver(CWSSocket& other);
    // Sends everything, or queues what could not go yet (WsaWouldBlock);
    // never overtakes data already queued. `data` must live until its
    // SocketSent report, and is that report's tag.
    int Send(const char* data, size_t length);
    // Reads what is there; `length` in: room, out: count (0 at end of stream).
    int Receive(char* data, size_t& length);
    int Close();
    void SetListener(WSSocketListener* listener, int tag);

    // Starts TLS on the connected socket. 0 when the handshake is done at
    // once, WsaWouldBlock while it runs (SocketSecured tells its end), else
    // the error, with the reason in tlsFailure().
    int StartTls(const TlsTarget& target);
    bool secured() const { return tls_ == Tls::Open; }
    // Whether the server chose h2 by ALPN in the handshake.
    bool negotiatedH2() const;
    // "certificate: ..." or "TLS: ..." after a failed handshake; else empty.
    const std::string& tlsFailure() const { return tlsFailure_; }

    int handle() const { return handle_; }
    int lastError() const { return lastError_; }
    State state() const { return state_; }
    size_t queuedSends() const { return queue_.size(); }

    void OnSocketReady(uint32_t events) override;

private:
    struct PendingSend {
        const char* tag;
        const char* next;
        size_t left;
    };

    uint32_t Interest() const;
    void UpdateInterest();
    // Returns false when the socket was closed or destroyed by a listener.
    bool Report(int code, int error, const char* sendTag = nullptr);
    bool Drain();
    size_t BytesAvailable() const;
    // Writes what it can: the count, or minus the error.
    ssize_t WriteSome(const char* data, size_t length);
    int TlsReceive(char* data, size_t& length);
    int HandshakeStep();
    // Plain bytes that TLS has already taken off the socket wait where epoll
    // can't see them: their read report is made by the loop, soon.
    void ReportReadSoon();
    bool NothingLeftAfterClose();

    enum class Tls : uint8_t {
        Off,         // a plain socket
        Handshaking, // waiting for tlsWant_
        Open,        // Send and Receive go through TLS
        Failed,      // the handshake failed; nothing more is asked for
    };

    int handle_ = -1;
    int lastError_ = 0;
    State state_ = NotConnected;
    WSSocketListener* listener_ = nullptr;
    int listenerTag_ = 0;
    std::vector<PendingSend> queue_; // rarely more than one; empty costs no allocation
    // How readiness becomes events: connect finished is reported once; data
    // to read once per Receive; the close once.
    bool connectPending_ = false;
    bool readArmed_ = false;
    bool closeReported_ = false;
    // Once the peer has closed no more data comes: what was left to read
    // then, less what was read since, is known without asking again.
    std::optional<size_t> unreadAfterClose_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    SSL* ssl_ = nullptr;
    Tls tls_ = Tls::Off;
    uint32_t tlsWant_ = 0;          // what the handshake waits for
    bool tlsVerify_ = true;
    bool tlsReadWantsWrite_ = false; // a read needs the socket writable first
    bool tlsEof_ = false;            // the peer's close_notify (or its close) was read
    bool readSoon_ = false;          // a read report is on its way through the loop
    CTlsContext* tlsContext_ = nullptr;
    std::string tlsFailure_;
};

} // namespace ormbrook
