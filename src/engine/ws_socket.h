#pragma once
// One non-blocking TCP socket with a send queue. Its listener hears of five
// things: connect finished, a connection to accept, data to read, a queued
// send finished, and the connection closed.

#include "engine/ws_registry.h"

#include <netinet/in.h>

#include <memory>
#include <optional>
#include <vector>

namespace ormbrook {

enum SocketEventCode : int {
    SocketConnected = 0, // connect finished (error says how)
    SocketAccept = 1,    // connection to accept (listening sockets only)
    SocketRead = 2,      // data to read
    SocketSent = 3,      // a queued send finished (error says how)
    SocketClosed = 4,    // connection closed
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

    // Opens the socket and registers it; 0 or the error.
    int Create();
    // Starts connecting (creating the socket first if needed). 0 when made at
    // once; WsaWouldBlock while in progress, finished later by SocketConnected.
    int Connect(const sockaddr_in& address);
    // Sends everything, or queues what could not go yet (WsaWouldBlock);
    // never overtakes data already queued. `data` must live until its
    // SocketSent report, and is that report's tag.
    int Send(const char* data, size_t length);
    // Reads what is there; `length` in: room, out: count (0 at end of stream).
    int Receive(char* data, size_t& length);
    int Close();
    void SetListener(WSSocketListener* listener, int tag);

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
};

} // namespace ormbrook
