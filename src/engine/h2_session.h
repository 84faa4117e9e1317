#pragma once
// HTTP/2 on one secured connection whose server chose h2 by ALPN, through
// libnghttp2 on the engine's own non-blocking socket. The downloads of one
// server share the connection, one stream each, up to the server's
// SETTINGS_MAX_CONCURRENT_STREAMS.
//
// A stream looks to its listener like a socket of its own: the request goes
// in as the HTTP/1.1 request the transfer builds anyway (request line and
// fields, turned into HTTP/2's pseudo-fields), and the answer comes back as
// bytes of an HTTP/1.1 answer: a status line "HTTP/2.0 200 OK", the fields
// as the server sent them (names in its lower case), an empty line, then
// the body, which ends where the stream ends. Read reports come once per
// Receive while bytes wait; the close comes after the last byte, with
// error 0 for a stream the server ended, WsaH2Reset + its code for one it
// reset (refused ones and those a GOAWAY left out among them), and
// WsaH2ConnectionLost when the connection went first.
//
// Flow control: every stream may take kStreamWindow bytes and the
// connection kConnectionWindow before the listener reads, so that one large
// file does not hold back the others; what the listener reads opens the
// windows again.

#include "engine/ws_socket.h"

#include <QElapsedTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct nghttp2_session;

namespace ormbrook {

constexpr int WsaH2Reset = 13100;          // + the HTTP/2 error code of the stream's reset
constexpr int WsaH2ConnectionLost = 13150; // the connection ended while the stream was open

class CH2Session : public WSSocketListener, public std::enable_shared_from_this<CH2Session> {
public:
    static constexpr int32_t kStreamWindow = 2 * 1024 * 1024;
    static constexpr int32_t kConnectionWindow = 16 * 1024 * 1024;
    // A head the server sends is kept up to this long; the transfer fails
    // one past its own limit with its reason.
    static constexpr size_t kMaxHead = 128 * 1024;

    // Over a connected socket whose handshake chose h2; null socket: a
    // session fed by Input alone, its output dropped (the fuzz harness).
    // Null when nghttp2 could not make a session.
    static std::shared_ptr<CH2Session> Create(std::unique_ptr<CWSSocket> socket);
    ~CH2Session() override;
    CH2Session(const CH2Session&) = delete;
    CH2Session& operator=(const CH2Session&) = delete;

    // Whether a new stream may be opened now.
    bool CanOpen() const;
    // Neither open now nor later: the session can go once it has no streams.
    bool retired() const;
    size_t streams() const { return streams_.size(); }
    // Milliseconds since the last stream closed (0 while one is open).
    int64_t idleMs() const;

    // Opens a stream for `request` (a GET or HEAD as an HTTP/1.1 request
    // head: request line, fields, empty line). Its bytes go to listener
    // with tag. The stream's id, or 0 when none could be opened.
    int32_t Open(const std::string& request, WSSocketListener* listener, int tag);
    // Like CWSSocket::Receive: WsaWouldBlock while nothing waits, 0 with
    // length 0 after the last byte.
    int Receive(int32_t id, char* data, size_t& length);
    // The listener is done with the stream: one still open is reset
    // (CANCEL), and nothing more is reported.
    void Close(int32_t id);

    // Server bytes, as read from the socket. False once the session failed.
    bool Input(const uint8_t* data, size_t length);

    // "HTTP/2: stream reset (REFUSED_STREAM)", "HTTP/2: connection lost".
    static std::string ErrorText(int error);
    static bool IsH2Error(int error) { return error >= WsaH2Reset && error <= WsaH2ConnectionLost; }

    void OnSocketEvent(int tag, int code, int error, const char* sendTag) override;

private:
    struct Stream {
        WSSocketListener* listener = nullptr;
        int tag = 0;
        std::string in;          // the answer's bytes not read yet (from inRead)
        size_t inRead = 0;
        size_t headUnread = 0;   // the first bytes of `in` from inRead that are heads, not DATA
        std::string head;        // the head being received
        int status = 0;
        bool finalHead = false;  // the final (non-1xx) head came; later heads are trailers
        bool closed = false;     // nghttp2 closed the stream
        int error = 0;
        bool armed = true;       // a read report may be made
        bool closeReported = false;
    };

    explicit CH2Session(std::unique_ptr<CWSSocket> socket);
    bool Begin();
    // Hands what nghttp2 wants sent to the socket.
    void Flush();
    // Reports to the listeners what waits for them.
    void Deliver();
    void DeliverSoon();
    // The connection is gone (error: the socket's): every open stream ends.
    void Fail(int error);
    Stream* Find(int32_t id);
    void Consume(int32_t id, size_t length);

    friend struct H2Callbacks; // nghttp2's callbacks, in the source file

    std::unique_ptr<CWSSocket> socket_;
    nghttp2_session* session_ = nullptr;
    std::map<int32_t, Stream> streams_;
    std::string out_;        // bytes handed to the socket, kept until it has sent them
    bool sending_ = false;
    bool failed_ = false;
    bool delivering_ = false;
    bool deliverPosted_ = false;
    QElapsedTimer idleSince_;
};

} // namespace ormbrook
