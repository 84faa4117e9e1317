#pragma once
// One HTTP exchange: connect (or take an idle connection from the crawl's
// pool), send the request, read the status line, the head and the body, and
// hand the body out in chunks. Event-driven; never blocks.
//
// Two forms of the exchange run behind the same states and notifications:
// HTTP/1.0 as this program has always spoken it (one request per
// connection, the body ends at the close), and HTTP/1.1 on a persistent
// connection (the body ends by its length or its chunked coding, and the
// connection goes back to the pool for the next request). An https
// connection whose server chose h2 becomes an HTTP/2 session in the pool,
// and the transfers to that server each take a stream of it: the stream's
// bytes read like an HTTP/1.1 answer whose body ends at the close. The
// download object above does not know which one carries its request.

#include "engine/body_framing.h"
#include "engine/conn_mgr.h"
#include "engine/conn_pool.h"
#include "engine/content_decoder.h"
#include "engine/h2_session.h"
#include "engine/http_header.h"
#include "engine/response_head.h"

#include <memory>
#include <optional>
#include <string>

namespace ormbrook {

class CConnPool;
class CHttpTransfer;

class TransferListener {
public:
    virtual ~TransferListener() = default;
    virtual void OnTransferEvent(CHttpTransfer* transfer, int code) = 0;
};

// How a transfer talks to its server.
struct ExchangeForm {
    bool http10 = true;          // the HTTP/1.0 exchange, byte for byte
    CConnPool* pool = nullptr;   // HTTP/1.1: where idle connections wait (null: none is kept)
    std::string poolKey;         // CConnPool::Key of the connection
};

class CHttpTransfer : public ConnectListener, public WSSocketListener, private H2Waiter {
public:
    enum class State : int {
        Begin,       // entry: take an idle connection or start connecting
        Connecting,  // waiting for the connection
        Sending,     // entry: send the request
        AwaitStatus, // reading the status line
        ReadHead,    // reading the header block
        ReadBody,    // handing out body chunks
        SkipBody,    // HTTP/1.1: reading past a body nobody wants, to keep the connection
        AwaitClose,  // everything wanted is in; waiting for the server's close
        Close,       // entry: close (or keep) the connection and report the end; deaf from then on
    };
    enum Event : int {
        EvNeutral = 0,
        EvConnected = 1,
        EvData = 2,
        EvPeerClosed = 3,
        EvConnectFailed = 5,
        EvAbort = 6,
        EvH2Settled = 7, // the connection waited for has come or failed
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

    // The body is received in chunks of this size.
    static constexpr size_t kBodyChunk = 64 * 1024;
    // HTTP/1.1: an unwanted body (a 404's page, a 302's) is read past when
    // no longer than this, so that its connection serves the next request;
    // a longer one costs less as a new connection.
    static constexpr int64_t kMaxSkippedBody = 256 * 1024;

    explicit CHttpTransfer(TransferListener* owner);
    ~CHttpTransfer() override;
    CHttpTransfer(const CHttpTransfer&) = delete;
    CHttpTransfer& operator=(const CHttpTransfer&) = delete;

    // The form of the next request (HTTP/1.0 until told otherwise).
    void SetExchange(const ExchangeForm& form) { form_ = form; }
    // Start a request; the outcome comes by notification. The HOST field of
    // a GET names `hostField`, or `host` when that is empty (a proxy is
    // connected to, while the field names the origin).
    bool Get(const std::string& host, uint16_t port, const std::string& requestUri,
             const std::string& hostField = {});
    bool Head(const std::string& host, uint16_t port, const std::string& requestUri);
    // The next request goes over TLS as the target says (null: plain).
    void SetTls(const TlsTarget* target);
    // Why the transfer failed, when that has a text of its own
    // ("certificate: ...", "TLS: ...", "proxy: ...", "response head longer
    // than 64 KB", ...); else empty.
    const std::string& failureText() const { return failureText_.empty() ? connMgr_.failureText() : failureText_; }
    // Why the transfer failed, in every case: the text above, else the
    // answer or the error ("404 Not Found", "connection refused").
    std::string failureCause() const;
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
    // The body bytes that came over the wire and were handed on: what its
    // Content-Length counts (delivered() counts the document, which a
    // compressed body makes longer).
    int64_t progress() const { return decoder_.identity() ? delivered_ : wireDecoded_; }
    int result() const { return result_; }
    int mode() const { return mode_; }
    int lastError() const { return lastError_; }
    int lastEvent() const { return lastEvent_; }
    State state() const { return state_; }
    // Whether the request went out on a connection an earlier one had used,
    // and whether the connection was kept for a later one.
    bool reusedConnection() const { return reused_; }
    bool keptConnection() const { return kept_; }
    // Whether the answer came over HTTP/2.
    bool http2() const { return usedH2_; }
    // A stream refused or reset before any byte of its answer came, or cut
    // off by a GOAWAY, is sent again on another connection, unseen by the
    // owner, this many times at most.
    static constexpr int kMaxH2Retries = 5;

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
    void Fail(std::string text = {});
    void Connect();
    // To a server that spoke HTTP/2: a stream of an open session, else a
    // wait for the connection another transfer is making, else Connect.
    void ShareOrConnect();
    // HTTP/1.1: a connection taken from the pool that the server closed
    // while it idled (nothing of the answer came) is replaced once by a new
    // one, unseen by the owner.
    bool MayRetry() const;
    void Retry();
    // HTTP/2: a stream of the pool's session for the key, if one has room.
    bool TakeStream();
    int ReceiveSome(char* data, size_t& length);
    void OnH2Settled() override;
    // The connection this transfer counted as being made is made or lost.
    void ConnectSettled();
    // HTTP/1.1: where the body ends, and whether the connection outlives it.
    void DecideFraming();
    // Runs the framing over `count` new wire bytes at data (in place);
    // returns how many body bytes are left there.
    size_t Frame(char* data, size_t count);
    // Takes `count` body bytes that came over the wire: into the body buffer
    // as they are, or through the decoder of their coding.
    void TakeBody(const char* data, size_t count);
    bool decoding() const { return !form_.http10 && !decoder_.identity(); }
    // The body has ended by its framing: the transfer is complete (or has
    // the result set before), and the connection goes back to the pool.
    void EndOfMessage();
    bool TryStatusLine();

    void RunBegin(int event);
    void RunConnecting(int event);
    void RunSending(int event);
    void RunAwaitStatus(int event);
    void RunReadHead(int event);
    void RunReadBody(int event);
    void RunSkipBody(int event);
    void RunAwaitClose(int event);
    void RunClose(int event);

    TransferListener* owner_;
    CHttpHeader header_;
    std::unique_ptr<CWSSocket> socket_;
    CConnMgr connMgr_{this, 0};
    std::optional<TlsTarget> tls_;
    ExchangeForm form_;
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
    std::string failureText_;
    std::string failedStatus_; // "404 Not Found": the answer that failed the transfer
    // HTTP/1.1
    BodyFraming framing_;
    ContentDecoder decoder_;
    std::unique_ptr<char[]> wire_; // coded body bytes on their way through the decoder
    int64_t wireDecoded_ = 0;
    bool reused_ = false;      // the connection came from the pool
    bool retried_ = false;     // the one retry on a new connection was made
    bool retrying_ = false;    // connecting again, unseen by the owner
    bool interim_ = false;     // reading past a 1xx head
    bool discard_ = false;     // the result is known; the rest of the answer is only read past
    bool keepAlive_ = false;   // the server keeps the connection after this answer
    bool kept_ = false;        // the connection went back to the pool
    bool answerSeen_ = false;  // a byte of the answer came
    int idleMs_ = 0;           // the server's Keep-Alive time-out
    // HTTP/2
    std::shared_ptr<CH2Session> h2_;
    int32_t stream_ = 0;
    int h2Retries_ = 0;
    bool usedH2_ = false;
    bool waitingH2_ = false;     // for another transfer's connection to the server
    bool connectCounted_ = false; // the pool counts this transfer's connection as being made
    CConnPool* countedPool_ = nullptr;
    std::string countedKey_;
    int64_t skipped_ = 0;
    // Before a request the transfer is deaf, as after one.
    State state_ = State::Close;
};

} // namespace ormbrook
