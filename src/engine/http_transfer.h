#pragma once
// One HTTP/1.0 exchange over one connection: connect, send the request, read
// the status line, the head and the body, and hand the body out in chunks.
// Event-driven; never blocks.

#include "engine/conn_mgr.h"
#include "engine/http_header.h"
#include "engine/response_head.h"

#include <memory>
#include <optional>
#include <string>

namespace ormbrook {

class CHttpTransfer;

class TransferListener {
public:
    virtual ~TransferListener() = default;
    virtual void OnTransferEvent(CHttpTransfer* transfer, int code) = 0;
};

class CHttpTransfer : public ConnectListener, public WSSocketListener {
public:
    enum class State : int {
        Begin,       // entry: start connecting
        Connecting,  // waiting for the connection
        Sending,     // entry: send the request
        AwaitStatus, // reading the status line
        ReadHead,    // reading the header block
        ReadBody,    // handing out body chunks
        AwaitClose,  // everything wanted is in; waiting for the server's close
        Close,       // entry: close and report the end; deaf from then on
    };
    enum Event : int {
        EvNeutral = 0,
        EvConnected = 1,
        EvData = 2,
        EvPeerClosed = 3,
        EvConnectFailed = 5,
        EvAbort = 6,
    };
    enum Notification : int {
        NoteConnected = 1,
        NoteStatusLine = 2,
        NoteHead = 3,
        NoteData = 4,
        NoteFinished = 5,
    };
    enum Mode : int {
        ModeGet = 0,
        ModeHead = 1,
        ModeNotStarted = 7,
    };

    // The body is received in chunks of this size. The head keeps its own
    // 1001-byte buffer, whose size is the limit of a response head.
    static constexpr size_t kBodyChunk = 64 * 1024;

    explicit CHttpTransfer(TransferListener* owner);
    ~CHttpTransfer() override;
    CHttpTransfer(const CHttpTransfer&) = delete;
    CHttpTransfer& operator=(const CHttpTransfer&) = delete;

    // Start a request; the outcome comes by notification. The HOST field of
    // a GET names `hostField`, or `host` when that is empty (a proxy is
    // connected to, while the field names the origin).
    bool Get(const std::string& host, uint16_t port, const std::string& requestUri,
             const std::string& hostField = {});
    bool Head(const std::string& host, uint16_t port, const std::string& requestUri);
    // The next request goes over TLS as the target says (null: plain). The
    // request itself is the same HTTP/1.0 request.
    void SetTls(const TlsTarget* target);
    // Why the connection failed, when that has a text of its own
    // ("certificate: ...", "TLS: ...", "proxy: ..."); else empty.
    const std::string& failureText() const { return connMgr_.failureText(); }
    void Abort(bool notify);
    // Moves up to `max` buffered body bytes to `buffer`; returns the count.
    size_t Read(char* buffer, size_t max);
    // The body buffer (kBodyChunk bytes) passes from a finished transfer to
    // the next one, so that a slot does not allocate one per download.
    std::unique_ptr<char[]> TakeBodyBuffer() { bodyCount_ = 0; return std::move(body_); }
    void GiveBodyBuffer(std::unique_ptr<char[]> buffer)
    {
        if (!body_)
            body_ = std::move(buffer);
    }

    CHttpHeader& header() { return header_; }
    const CHttpHeader& header() const { return header_; }
    const std::string& request() const { return request_; }
    std::string_view statusLine() const { return head_.statusLine(); }
    std::string_view headerBlock() const { return head_.headerBlock(); }
    int statusCode() const { return status_.statusCode; }
    int versionMajor() const { return status_.major; }
    int versionMinor() const { return status_.minor; }
    int64_t contentLength() const { return contentLength_; }
    int64_t delivered() const { return delivered_; }
    int result() const { return result_; }
    int mode() const { return mode_; }
    int lastError() const { return lastError_; }
    int lastEvent() const { return lastEvent_; }
    State state() const { return state_; }

    void OnConnectDone(int tag, int result) override;
    void OnSocketEvent(int tag, int code, int error, const char* sendTag) override;

private:
    bool Start(Mode mode, const std::string& host, uint16_t port, const std::string& requestUri,
               const std::string& hostField);
    void Feed(int event);
    void SetState(State next);
    void Notify(int code);
    // Both return false when a receive error failed the step.
    bool ReceiveHead();
    bool ReceiveBody();
    void Deliver();
    // The common ending of events no state handles: abort (1) and failure (3).
    void Otherwise(int event);

    void RunBegin(int event);
    void RunConnecting(int event);
    void RunSending(int event);
    void RunAwaitStatus(int event);
    void RunReadHead(int event);
    void RunReadBody(int event);
    void RunAwaitClose(int event);
    void RunClose(int event);

    TransferListener* owner_;
    CHttpHeader header_;
    CWSSocket socket_;
    CConnMgr connMgr_{this, 0};
    std::optional<TlsTarget> tls_;
    std::string host_;
    uint16_t port_ = 0;
    std::string requestUri_;
    std::string request_;
    int mode_ = ModeNotStarted;
    ResponseHead head_;
    std::unique_ptr<char[]> body_;
    size_t bodyCount_ = 0;
    StatusLine status_;
    int64_t contentLength_ = 0;
    int64_t delivered_ = 0;
    int lastError_ = 0;
    int closeError_ = 0; // the error the peer's close came with (a reset), 0 for an orderly close
    int result_ = 3;
    bool notify_ = true;
    int lastEvent_ = 0;
    // Before a request the transfer is deaf, as after one.
    State state_ = State::Close;
};

} // namespace ormbrook
