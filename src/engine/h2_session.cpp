#include "engine/h2_session.h"

#include "platform/ws_error.h"

#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <vector>

namespace ormbrook {

namespace {
// HTTP/2 answers carry no reason phrase; the usual one stands in, so that a
// failure reads "404 Not Found" whichever version carried it.
const char* Reason(int code)
{
    switch (code) {
    case 100: return "Continue";
    case 103: return "Early Hints";
    case 200: return "OK";
    case 201: return "Created";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
    }
}

bool SameName(std::string_view a, std::string_view lower)
{
    if (a.size() != lower.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

nghttp2_nv Field(const std::string& name, const std::string& value)
{
    return nghttp2_nv{reinterpret_cast<uint8_t*>(const_cast<char*>(name.data())),
                      reinterpret_cast<uint8_t*>(const_cast<char*>(value.data())), name.size(), value.size(),
                      NGHTTP2_NV_FLAG_NONE};
}
} // namespace

struct H2Callbacks {
    static CH2Session& Self(void* user) { return *static_cast<CH2Session*>(user); }

    static int OnBeginHeaders(nghttp2_session*, const nghttp2_frame* frame, void* user)
    {
        if (CH2Session::Stream* s = Self(user).Find(frame->hd.stream_id)) {
            s->head.clear();
            s->status = 0;
        }
        return 0;
    }

    static int OnHeader(nghttp2_session*, const nghttp2_frame* frame, const uint8_t* name, size_t namelen,
                        const uint8_t* value, size_t valuelen, uint8_t, void* user)
    {
        CH2Session::Stream* s = Self(user).Find(frame->hd.stream_id);
        if (!s || frame->hd.type != NGHTTP2_HEADERS)
            return 0;
        const std::string_view n(reinterpret_cast<const char*>(name), namelen);
        const std::string_view v(reinterpret_cast<const char*>(value), valuelen);
        if (n == ":status") {
            int code = 0;
            for (const char c : v)
                code = c >= '0' && c <= '9' && code < 1000 ? code * 10 + (c - '0') : 1000;
            s->status = code;
            return 0;
        }
        if (!n.empty() && n.front() == ':')
            return 0;
        if (s->head.size() + namelen + valuelen + 4 > CH2Session::kMaxHead) {
            s->head.resize(CH2Session::kMaxHead, 'x'); // past every limit of the reader
            return 0;
        }
        s->head.append(n).append(": ").append(v).append("\r\n");
        return 0;
    }

    static int OnFrameRecv(nghttp2_session*, const nghttp2_frame* frame, void* user)
    {
        if (frame->hd.type != NGHTTP2_HEADERS)
            return 0;
        CH2Session::Stream* s = Self(user).Find(frame->hd.stream_id);
        if (!s || s->finalHead || s->status == 0) {
            if (s)
                s->head.clear(); // trailers, or a head without a status: nothing for the reader
            return 0;
        }
        // The head in HTTP/1.1's form, followed by the body as it comes.
        std::string line = "HTTP/2.0 " + std::to_string(s->status);
        if (const char* reason = Reason(s->status); *reason)
            line.append(1, ' ').append(reason);
        line.append("\r\n");
        const size_t before = s->in.size();
        s->in.append(line).append(s->head).append("\r\n");
        s->headUnread += s->in.size() - before;
        s->head.clear();
        if (s->status >= 200)
            s->finalHead = true;
        return 0;
    }

    static int OnDataChunk(nghttp2_session*, uint8_t, int32_t id, const uint8_t* data, size_t len, void* user)
    {
        CH2Session& self = Self(user);
        CH2Session::Stream* s = self.Find(id);
        if (!s || !s->listener) {
            self.Consume(id, len);
            return 0;
        }
        s->in.append(reinterpret_cast<const char*>(data), len);
        return 0;
    }

    static int OnStreamClose(nghttp2_session*, int32_t id, uint32_t code, void* user)
    {
        if (CH2Session::Stream* s = Self(user).Find(id)) {
            s->closed = true;
            s->error = code == NGHTTP2_NO_ERROR && s->finalHead ? 0 : WsaH2Reset + int(std::min<uint32_t>(code, 49));
        }
        return 0;
    }
};

std::shared_ptr<CH2Session> CH2Session::Create(std::unique_ptr<CWSSocket> socket)
{
    std::shared_ptr<CH2Session> session(new CH2Session(std::move(socket)));
    if (!session->Begin())
        return nullptr;
    return session;
}

CH2Session::CH2Session(std::unique_ptr<CWSSocket> socket) : socket_(std::move(socket))
{
    idleSince_.start();
    // Many small frames share the connection (a request's HEADERS behind a
    // WINDOW_UPDATE): none may wait for the peer's delayed acknowledgement.
    if (socket_ && socket_->handle() >= 0) {
        const int one = 1;
        ::setsockopt(socket_->handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
}

CH2Session::~CH2Session()
{
    if (socket_) {
        socket_->SetListener(nullptr, 0);
        socket_->Close();
    }
    if (session_)
        nghttp2_session_del(session_);
}

bool CH2Session::Begin()
{
    nghttp2_session_callbacks* callbacks = nullptr;
    if (nghttp2_session_callbacks_new(&callbacks) != 0)
        return false;
    nghttp2_session_callbacks_set_on_begin_headers_callback(callbacks, H2Callbacks::OnBeginHeaders);
    nghttp2_session_callbacks_set_on_header_callback(callbacks, H2Callbacks::OnHeader);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, H2Callbacks::OnFrameRecv);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, H2Callbacks::OnDataChunk);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, H2Callbacks::OnStreamClose);
    nghttp2_option* option = nullptr;
    if (nghttp2_option_new(&option) != 0) {
        nghttp2_session_callbacks_del(callbacks);
        return false;
    }
    // Windows open as the listeners read, not as the bytes arrive.
    nghttp2_option_set_no_auto_window_update(option, 1);
    const int made = nghttp2_session_client_new2(&session_, callbacks, this, option);
    nghttp2_option_del(option);
    nghttp2_session_callbacks_del(callbacks);
    if (made != 0) {
        session_ = nullptr;
        return false;
    }
    const nghttp2_settings_entry settings[] = {
        {NGHTTP2_SETTINGS_ENABLE_PUSH, 0},
        {NGHTTP2_SETTINGS_INITIAL_WINDOW_SIZE, uint32_t(kStreamWindow)},
        {NGHTTP2_SETTINGS_MAX_HEADER_LIST_SIZE, uint32_t(kMaxHead)},
    };
    if (nghttp2_submit_settings(session_, NGHTTP2_FLAG_NONE, settings, std::size(settings)) != 0
        || nghttp2_session_set_local_window_size(session_, NGHTTP2_FLAG_NONE, 0, kConnectionWindow) != 0)
        return false;
    if (socket_)
        socket_->SetListener(this, 0);
    Flush();
    return true;
}

bool CH2Session::CanOpen() const
{
    if (retired())
        return false;
    const uint32_t most = nghttp2_session_get_remote_settings(session_, NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS);
    return streams_.size() < most;
}

bool CH2Session::retired() const
{
    return failed_ || !session_ || (socket_ && socket_->handle() < 0)
        || nghttp2_session_check_request_allowed(session_) == 0;
}

int64_t CH2Session::idleMs() const
{
    return streams_.empty() ? idleSince_.elapsed() : 0;
}

CH2Session::Stream* CH2Session::Find(int32_t id)
{
    const auto it = streams_.find(id);
    return it == streams_.end() ? nullptr : &it->second;
}

int32_t CH2Session::Open(const std::string& request, WSSocketListener* listener, int tag)
{
    if (!CanOpen())
        return 0;
    // "GET /path HTTP/1.1" and its fields become HTTP/2's fields.
    std::string_view text(request);
    const size_t lineEnd = text.find("\r\n");
    if (lineEnd == std::string_view::npos)
        return 0;
    const std::string_view line = text.substr(0, lineEnd);
    const size_t sp1 = line.find(' ');
    const size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 <= sp1)
        return 0;
    std::vector<std::string> strings;
    strings.reserve(32);
    std::string method(line.substr(0, sp1)), path(line.substr(sp1 + 1, sp2 - sp1 - 1)), authority;
    std::vector<std::pair<std::string, std::string>> fields;
    for (size_t at = lineEnd + 2; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view field = text.substr(at, end - at);
        at = end + 2;
        if (field.empty())
            break;
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = Trim(field.substr(0, colon));
        const std::string_view value = Trim(field.substr(colon + 1));
        if (SameName(name, "host")) {
            authority = value;
            continue;
        }
        // Fields of the connection, not of the request, are not HTTP/2's.
        if (SameName(name, "connection") || SameName(name, "keep-alive") || SameName(name, "proxy-connection")
            || SameName(name, "transfer-encoding") || SameName(name, "upgrade") || SameName(name, "te"))
            continue;
        fields.emplace_back(Lower(name), std::string(value));
    }
    const std::string kMethod = ":method", kScheme = ":scheme", kHttps = "https", kAuthority = ":authority",
                      kPath = ":path";
    std::vector<nghttp2_nv> nva;
    nva.reserve(fields.size() + 4);
    nva.push_back(Field(kMethod, method));
    nva.push_back(Field(kScheme, kHttps));
    if (!authority.empty())
        nva.push_back(Field(kAuthority, authority));
    nva.push_back(Field(kPath, path));
    for (const auto& [name, value] : fields)
        nva.push_back(Field(name, value));
    const int32_t id = nghttp2_submit_request(session_, nullptr, nva.data(), nva.size(), nullptr, nullptr);
    if (id <= 0)
        return 0;
    Stream& s = streams_[id];
    s.listener = listener;
    s.tag = tag;
    Flush();
    return failed_ ? 0 : id;
}

void CH2Session::Consume(int32_t id, size_t length)
{
    if (length == 0 || !session_)
        return;
    nghttp2_session_consume_connection(session_, length);
    if (nghttp2_session_find_stream(session_, id))
        nghttp2_session_consume_stream(session_, id, length);
}

int CH2Session::Receive(int32_t id, char* data, size_t& length)
{
    Stream* s = Find(id);
    if (!s) {
        length = 0;
        return WsaNotConnected;
    }
    s->armed = true;
    const size_t waiting = s->in.size() - s->inRead;
    if (waiting == 0) {
        length = 0;
        return s->closed ? 0 : WsaWouldBlock;
    }
    const size_t n = std::min(length, waiting);
    std::copy_n(s->in.data() + s->inRead, n, data);
    s->inRead += n;
    if (s->inRead == s->in.size()) {
        s->in.clear();
        s->inRead = 0;
    } else if (s->inRead > 256 * 1024 && s->inRead * 2 > s->in.size()) {
        s->in.erase(0, s->inRead);
        s->inRead = 0;
    }
    length = n;
    const size_t fromHead = std::min(n, s->headUnread);
    s->headUnread -= fromHead;
    Consume(id, n - fromHead);
    if (!s->closed)
        Flush(); // window updates
    if (!delivering_)
        DeliverSoon();
    return 0;
}

void CH2Session::Close(int32_t id)
{
    const auto it = streams_.find(id);
    if (it == streams_.end())
        return;
    const Stream& s = it->second;
    Consume(id, s.in.size() - s.inRead - s.headUnread);
    const bool open = !s.closed;
    streams_.erase(it);
    if (streams_.empty())
        idleSince_.restart();
    if (open && session_ && !failed_) {
        nghttp2_submit_rst_stream(session_, NGHTTP2_FLAG_NONE, id, NGHTTP2_CANCEL);
        Flush();
    }
}

bool CH2Session::Input(const uint8_t* data, size_t length)
{
    if (failed_ || !session_)
        return false;
    const std::shared_ptr<CH2Session> keep = shared_from_this();
    const ssize_t used = nghttp2_session_mem_recv(session_, data, length);
    if (used < 0) {
        Fail(WsaH2ConnectionLost);
        return false;
    }
    Flush();
    Deliver();
    return !failed_;
}

void CH2Session::Flush()
{
    if (!session_ || failed_ || sending_)
        return;
    for (;;) {
        out_.clear();
        while (out_.size() < 64 * 1024) {
            const uint8_t* bytes = nullptr;
            const ssize_t n = nghttp2_session_mem_send(session_, &bytes);
            if (n < 0) {
                Fail(WsaH2ConnectionLost);
                return;
            }
            if (n == 0)
                break;
            out_.append(reinterpret_cast<const char*>(bytes), size_t(n));
        }
        if (out_.empty())
            break;
        if (!socket_)
            continue; // fed by hand: the output goes nowhere
        const int err = socket_->Send(out_.data(), out_.size());
        if (err == WsaWouldBlock) {
            sending_ = true; // out_ stays as it is until the socket has sent it
            return;
        }
        if (err != 0) {
            Fail(err);
            return;
        }
    }
    // A session that has nothing more to say or hear (after GOAWAY, its
    // last stream done) ends its connection.
    if (nghttp2_session_want_read(session_) == 0 && nghttp2_session_want_write(session_) == 0)
        Fail(WsaH2ConnectionLost);
}

void CH2Session::DeliverSoon()
{
    if (deliverPosted_)
        return;
    deliverPosted_ = true;
    std::weak_ptr<CH2Session> weak = weak_from_this();
    QTimer::singleShot(0, [weak] {
        if (const std::shared_ptr<CH2Session> self = weak.lock()) {
            self->deliverPosted_ = false;
            self->Deliver();
        }
    });
}

void CH2Session::Deliver()
{
    if (delivering_)
        return;
    const std::shared_ptr<CH2Session> keep = shared_from_this();
    delivering_ = true;
    std::vector<int32_t> ids;
    for (bool again = true; again;) {
        again = false;
        ids.clear();
        for (const auto& [id, s] : streams_)
            ids.push_back(id);
        for (const int32_t id : ids) {
            Stream* s = Find(id);
            if (!s || !s->listener)
                continue;
            if (s->inRead < s->in.size()) {
                if (s->armed) {
                    s->armed = false;
                    again = true;
                    s->listener->OnSocketEvent(s->tag, SocketRead, 0, nullptr);
                }
            } else if (s->closed && !s->closeReported) {
                s->closeReported = true;
                again = true;
                s->listener->OnSocketEvent(s->tag, SocketClosed, s->error, nullptr);
            }
        }
    }
    delivering_ = false;
}

void CH2Session::Fail(int error)
{
    if (failed_)
        return;
    failed_ = true;
    for (auto& [id, s] : streams_) {
        if (!s.closed) {
            s.closed = true;
            s.error = WsaH2ConnectionLost;
        }
    }
    (void)error;
    if (socket_) {
        socket_->SetListener(nullptr, 0);
        socket_->Close();
    }
    if (!delivering_)
        DeliverSoon();
}

void CH2Session::OnSocketEvent(int, int code, int error, const char*)
{
    const std::shared_ptr<CH2Session> keep = shared_from_this();
    if (code == SocketSent) {
        sending_ = false;
        if (error != 0) {
            Fail(error);
            return;
        }
        Flush();
        return;
    }
    if (code == SocketClosed) {
        Fail(error);
        Deliver();
        return;
    }
    if (code != SocketRead)
        return;
    uint8_t buffer[16 * 1024];
    for (int rounds = 0; rounds < 64 && !failed_; ++rounds) {
        size_t n = sizeof buffer;
        const int err = socket_->Receive(reinterpret_cast<char*>(buffer), n);
        if (err == WsaWouldBlock)
            break;
        if (err != 0 || n == 0) {
            if (err != 0)
                Fail(err);
            break; // the close is reported on its own
        }
        if (!Input(buffer, n))
            break;
    }
    Deliver();
}

std::string CH2Session::ErrorText(int error)
{
    if (error == WsaH2ConnectionLost)
        return "HTTP/2: connection lost";
    return std::string("HTTP/2: stream reset (") + nghttp2_http2_strerror(uint32_t(error - WsaH2Reset)) + ")";
}

} // namespace ormbrook
