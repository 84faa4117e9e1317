#include "engine/http_transfer.h"

#include "engine/conn_pool.h"
#include "platform/ws_error.h"

#include <QtGlobal>

#include <charconv>
#include <cstring>

namespace ormbrook {

namespace {
constexpr int kAborted = 1;
constexpr int kComplete = 2;
constexpr int kFailed = 3;

#ifdef ORMBROOK_TRACE_STATES
const char* StateName(CHttpTransfer::State s)
{
    static const char* const names[] = {"Begin",    "Connecting", "Sending",  "AwaitStatus", "ReadHead",
                                        "ReadBody", "SkipBody",   "AwaitClose", "Close"};
    return names[int(s)];
}
#endif

// "HTTP/1.1 404 Not Found" -> "404 Not Found": the code and the server's
// words for it, as far as they are printable, and not too many of them.
std::string StatusText(std::string_view line, int code)
{
    std::string text = std::to_string(code);
    const size_t space = line.find(' ');
    const size_t words = space == std::string_view::npos ? space : line.find(' ', space + 1);
    if (words == std::string_view::npos)
        return text;
    text += ' ';
    constexpr size_t kMostWords = 60;
    for (const char c : line.substr(words + 1, kMostWords)) {
        if (c == '\r' || c == '\n')
            break;
        text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || static_cast<unsigned char>(c) >= 0x80) ? '?' : c;
    }
    while (text.back() == ' ')
        text.pop_back();
    return text;
}

// "timeout=5, max=100" -> 5000
int KeepAliveMs(std::string_view block)
{
    const std::optional<std::string_view> value = FieldValue(block, "KEEP-ALIVE");
    if (!value)
        return 0;
    const size_t at = value->find("timeout=");
    if (at == std::string_view::npos)
        return 0;
    int seconds = 0;
    const char* first = value->data() + at + 8;
    if (std::from_chars(first, value->data() + value->size(), seconds).ec != std::errc() || seconds <= 0)
        return 0;
    return seconds > CConnPool::kMaxIdleMs / 1000 ? CConnPool::kMaxIdleMs : seconds * 1000;
}

std::optional<int64_t> DeclaredLength(std::string_view block)
{
    const std::optional<std::string_view> value = FieldValue(block, "CONTENT-LENGTH");
    if (!value || value->empty())
        return std::nullopt;
    int64_t length = 0;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), length);
    if (ec != std::errc() || end != value->data() + value->size() || length < 0)
        return std::nullopt;
    return length;
}
} // namespace

CHttpTransfer::CHttpTransfer(TransferListener* owner) : owner_(owner) {}

CHttpTransfer::~CHttpTransfer()
{
    // No report from a transfer being destroyed.
    notify_ = false;
    if (connMgr_.state() != CConnMgr::State::Idle)
        connMgr_.Cancel(false);
    if (socket_)
        socket_->SetListener(nullptr, 0);
    if (h2_ && stream_)
        h2_->Close(stream_);
    if (waitingH2_)
        form_.pool->Unwait(this);
    ConnectSettled();
}

bool CHttpTransfer::Get(const std::string& host, uint16_t port, const std::string& requestUri,
                        const std::string& hostField)
{
    return Start(ModeGet, host, port, requestUri, hostField);
}

bool CHttpTransfer::Head(const std::string& host, uint16_t port, const std::string& requestUri)
{
    return Start(ModeHead, host, port, requestUri, {});
}

bool CHttpTransfer::Start(Mode mode, const std::string& host, uint16_t port, const std::string& requestUri,
                          const std::string& hostField)
{
    result_ = kFailed;
    host_ = host;
    port_ = port;
    requestUri_ = requestUri;
    mode_ = mode;
    head_.Clear();
    bodyCount_ = 0;
    status_ = StatusLine{};
    contentLength_ = 0;
    delivered_ = 0;
    lastError_ = 0;
    closeError_ = 0;
    failureText_.clear();
    failedStatus_.clear();
    reused_ = retried_ = retrying_ = interim_ = discard_ = keepAlive_ = kept_ = answerSeen_ = false;
    idleMs_ = 0;
    skipped_ = 0;
    wireDecoded_ = 0;
    if (h2_ && stream_)
        h2_->Close(stream_);
    h2_.reset();
    stream_ = 0;
    h2Retries_ = 0;
    usedH2_ = false;
    if (waitingH2_)
        form_.pool->Unwait(this);
    waitingH2_ = false;
    ConnectSettled();
    decoder_.Start({});
    header_.SetRequestLine(mode == ModeGet ? RequestMethod::Get : RequestMethod::Head, requestUri_,
                           form_.http10 ? RequestVersion::Http10 : RequestVersion::Http11);
    // HTTP/1.1 wants the field in every request; HTTP/1.0 has always sent it
    // with GET only.
    if (mode == ModeGet || !form_.http10)
        header_.SetField(HeaderHost, hostField.empty() ? host_ : hostField);
    if (!form_.http10)
        header_.SetField(HeaderAcceptEncoding, ContentDecoder::kAccepted);
    header_.BuildRequest(request_);
    notify_ = true;
    SetState(State::Begin);
    Feed(EvNeutral);
    return true;
}

void CHttpTransfer::SetTls(const TlsTarget* target)
{
    if (target)
        tls_ = *target;
    else
        tls_.reset();
}

void CHttpTransfer::Abort(bool notify)
{
    notify_ = notify;
    Feed(EvAbort);
}

size_t CHttpTransfer::Read(char* buffer, size_t max)
{
    const size_t n = std::min(max, bodyCount_);
    if (n == 0)
        return 0;
    std::memcpy(buffer, body_.get(), n);
    if (n < bodyCount_)
        std::memmove(body_.get(), body_.get() + n, bodyCount_ - n);
    bodyCount_ -= n;
    delivered_ += int64_t(n);
    return n;
}

void CHttpTransfer::OnConnectDone(int, int result)
{
    if (result == CConnMgr::ResultConnected)
        Feed(EvConnected);
    else if (result == CConnMgr::ResultFailed)
        Feed(EvConnectFailed);
}

void CHttpTransfer::OnSocketEvent(int, int code, int error, const char*)
{
    if (code == SocketRead) {
        Feed(EvData);
    } else if (code == SocketClosed) {
        closeError_ = error;
        if (error != 0)
            lastError_ = error;
        Feed(EvPeerClosed);
    }
}

void CHttpTransfer::SetState(State next)
{
#ifdef ORMBROOK_TRACE_STATES
    qDebug("CHttpTransfer %p: %s -> %s", static_cast<void*>(this), StateName(state_), StateName(next));
#endif
    state_ = next;
}

void CHttpTransfer::Notify(int code)
{
    lastEvent_ = code;
    if (notify_ && owner_)
        owner_->OnTransferEvent(this, code);
}

void CHttpTransfer::Feed(int event)
{
    for (;;) {
        const State before = state_;
        switch (state_) {
        case State::Begin: RunBegin(event); break;
        case State::Connecting: RunConnecting(event); break;
        case State::Sending: RunSending(event); break;
        case State::AwaitStatus: RunAwaitStatus(event); break;
        case State::ReadHead: RunReadHead(event); break;
        case State::ReadBody: RunReadBody(event); break;
        case State::SkipBody: RunSkipBody(event); break;
        case State::AwaitClose: RunAwaitClose(event); break;
        case State::Close: RunClose(event); break;
        }
        if (state_ == before)
            return;
        event = EvNeutral;
    }
}

void CHttpTransfer::Otherwise(int event)
{
    if (event == EvAbort) {
        result_ = kAborted;
        SetState(State::Close);
    } else if (event == EvConnectFailed) {
        result_ = kFailed;
        SetState(State::Close);
    }
}

std::string CHttpTransfer::failureCause() const
{
    if (!failureText().empty())
        return failureText();
    if (!failedStatus_.empty())
        return failedStatus_;
    const int err = lastError_ != 0 ? lastError_ : connMgr_.lastError();
    if (CH2Session::IsH2Error(err))
        return CH2Session::ErrorText(err);
    if (err != 0 && err != WsaWouldBlock)
        return WsaErrorText(err);
    return status_.statusCode == 0 ? "no answer" : "the answer broke off";
}

void CHttpTransfer::Fail(std::string text)
{
    if (!text.empty())
        failureText_ = std::move(text);
    result_ = kFailed;
    SetState(State::Close);
}

bool CHttpTransfer::ReceiveHead()
{
    if (head_.full())
        return true;
    size_t n = head_.spaceLeft();
    const int err = ReceiveSome(head_.space(), n);
    if (err == 0) {
        head_.Commit(n);
        answerSeen_ = answerSeen_ || n > 0;
        return true;
    }
    if (err == WsaWouldBlock)
        return true;
    lastError_ = err;
    return false;
}

bool CHttpTransfer::ReceiveBody()
{
    if (form_.http10 || !decoding()) {
        if (bodyCount_ == kBodyChunk)
            return true;
        size_t n = kBodyChunk - bodyCount_;
        const int err = ReceiveSome(body_.get() + bodyCount_, n);
        if (err == 0) {
            if (form_.http10)
                bodyCount_ += n;
            else
                bodyCount_ += Frame(body_.get() + bodyCount_, n);
            return true;
        }
        if (err == WsaWouldBlock)
            return true;
        lastError_ = err;
        return false;
    }
    size_t n = kBodyChunk;
    const int err = ReceiveSome(wire_.get(), n);
    if (err == 0) {
        TakeBody(wire_.get(), Frame(wire_.get(), n));
        return true;
    }
    if (err == WsaWouldBlock)
        return true;
    lastError_ = err;
    return false;
}

void CHttpTransfer::ConnectSettled()
{
    if (!connectCounted_)
        return;
    connectCounted_ = false;
    countedPool_->EndConnect(countedKey_);
}

void CHttpTransfer::OnH2Settled()
{
    waitingH2_ = false;
    Feed(EvH2Settled);
}

void CHttpTransfer::ShareOrConnect()
{
    if (TakeStream()) {
        reused_ = true;
        SetState(State::Sending);
        if (retrying_)
            retrying_ = false;
        else
            Notify(NoteConnected);
    } else if (form_.pool && form_.pool->Connecting(form_.poolKey)) {
        waitingH2_ = true;
        form_.pool->Wait(form_.poolKey, this);
    } else {
        Connect();
    }
}

void CHttpTransfer::Connect()
{
    if (!socket_)
        socket_ = std::make_unique<CWSSocket>();
    // Others to a server that spoke HTTP/2 wait for this connection.
    if (!connectCounted_ && !form_.http10 && form_.pool && tls_ && form_.pool->SpeaksH2(form_.poolKey)) {
        connectCounted_ = true;
        countedPool_ = form_.pool;
        countedKey_ = form_.poolKey;
        countedPool_->BeginConnect(countedKey_);
    }
    connMgr_.Start(host_.c_str(), port_, socket_.get(), this, 0, tls_ ? &*tls_ : nullptr);
}

int CHttpTransfer::ReceiveSome(char* data, size_t& length)
{
    if (h2_)
        return h2_->Receive(stream_, data, length);
    return socket_->Receive(data, length);
}

bool CHttpTransfer::MayRetry() const
{
    if (h2_)
        return closeError_ != 0 && !answerSeen_ && h2Retries_ < kMaxH2Retries;
    return !form_.http10 && reused_ && !retried_ && !answerSeen_;
}

bool CHttpTransfer::TakeStream()
{
    if (form_.http10 || !form_.pool || !tls_)
        return false;
    h2_ = form_.pool->FindH2(form_.poolKey);
    usedH2_ = usedH2_ || h2_ != nullptr;
    return h2_ != nullptr;
}

void CHttpTransfer::Retry()
{
    if (h2_) {
        // The stream was refused, reset or left out by a GOAWAY before its
        // answer began: the request goes again on a new connection (another
        // session of the server may be just as near its own end).
        ++h2Retries_;
        if (stream_)
            h2_->Close(stream_);
        stream_ = 0;
        h2_.reset();
        closeError_ = 0;
        lastError_ = 0;
        head_.Clear();
        retrying_ = true;
        reused_ = false;
        SetState(State::Connecting);
        // The other requests the session left out go again too: they share
        // one new connection rather than making one each.
        ShareOrConnect();
        return;
    }
    retried_ = true;
    reused_ = false;
    retrying_ = true;
    closeError_ = 0;
    lastError_ = 0;
    head_.Clear();
    socket_->SetListener(nullptr, 0);
    socket_->Close();
    SetState(State::Connecting);
    Connect();
}

void CHttpTransfer::RunBegin(int event)
{
    if (event != EvNeutral) {
        result_ = kFailed;
        SetState(State::Close);
        return;
    }
    head_.Clear();
    bodyCount_ = 0;
    delivered_ = 0;
    if (TakeStream()) {
        reused_ = true;
        SetState(State::Sending);
        Notify(NoteConnected);
        return;
    }
    if (!form_.http10 && form_.pool && tls_ && form_.pool->SpeaksH2(form_.poolKey)
        && form_.pool->Connecting(form_.poolKey)) {
        // Another transfer is making a connection to this server, which
        // spoke HTTP/2: a stream of it costs no handshake.
        waitingH2_ = true;
        form_.pool->Wait(form_.poolKey, this);
        SetState(State::Connecting);
        return;
    }
    if (!form_.http10 && form_.pool) {
        if (std::unique_ptr<CWSSocket> idle = form_.pool->TakeIdle(form_.poolKey)) {
            socket_ = std::move(idle);
            socket_->SetListener(this, 0);
            reused_ = true;
            SetState(State::Sending);
            Notify(NoteConnected);
            return;
        }
    }
    SetState(State::Connecting);
    Connect();
}

void CHttpTransfer::RunConnecting(int event)
{
    switch (event) {
    case EvH2Settled:
        ShareOrConnect();
        break;
    case EvConnected:
        if (!form_.http10 && socket_ && socket_->negotiatedH2()) {
            // The server chose HTTP/2: the connection becomes a session that
            // the other transfers to this server take streams of.
            h2_ = CH2Session::Create(std::move(socket_));
            if (!h2_) {
                Fail("HTTP/2: no session could be set up");
                return;
            }
            usedH2_ = true;
            if (form_.pool)
                form_.pool->PutH2(form_.poolKey, h2_);
        }
        SetState(State::Sending); // the waiters are told once this transfer's own request is out
        if (retrying_)
            retrying_ = false;
        else
            Notify(NoteConnected);
        break;
    case EvConnectFailed:
        result_ = kFailed;
        SetState(State::Close);
        ConnectSettled();
        break;
    case EvAbort:
        if (waitingH2_) {
            waitingH2_ = false;
            form_.pool->Unwait(this);
        } else {
            connMgr_.Cancel(false);
        }
        result_ = kAborted;
        SetState(State::Close);
        ConnectSettled();
        break;
    default:
        break;
    }
}

void CHttpTransfer::RunSending(int event)
{
    if (event == EvNeutral && h2_) {
        stream_ = h2_->Open(request_, this, 0);
        ConnectSettled();
        if (stream_ != 0) {
            SetState(State::AwaitStatus);
            return;
        }
        // The session went away or filled up meanwhile.
        closeError_ = WsaH2ConnectionLost;
        if (MayRetry()) {
            Retry();
        } else {
            lastError_ = WsaH2ConnectionLost;
            result_ = kFailed;
            SetState(State::Close);
        }
        return;
    }
    if (event == EvNeutral) {
        ConnectSettled();
        const int err = socket_->Send(request_.data(), request_.size());
        if (err == 0 || err == WsaWouldBlock) {
            SetState(State::AwaitStatus);
        } else if (MayRetry()) {
            Retry();
        } else {
            lastError_ = err;
            result_ = kFailed;
            SetState(State::Close);
        }
        return;
    }
    Otherwise(event);
}

bool CHttpTransfer::TryStatusLine()
{
    if (!head_.TakeStatusLine()) {
        if (const char* reason = head_.TooLong(false))
            Fail(reason);
        return false;
    }
    if (!ParseStatusLine(head_.statusLine(), status_)) {
        Fail();
        return false;
    }
    const int code = status_.statusCode;
    if (!form_.http10 && code >= 100 && code < 200) {
        // An interim answer (100 Continue, 103 Early Hints): its head is read
        // past, and the real answer follows.
        interim_ = true;
        SetState(State::ReadHead);
        return true;
    }
    Notify(NoteStatusLine);
    if (code == 304) {
        result_ = kComplete;
        if (form_.http10) {
            SetState(State::Close);
        } else {
            discard_ = true;
            SetState(State::ReadHead);
        }
    } else if (code == 301 || code == 302 || code <= 300) {
        SetState(State::ReadHead);
    } else {
        result_ = kFailed;
        failedStatus_ = StatusText(head_.statusLine(), code);
        if (form_.http10) {
            SetState(State::Close);
        } else {
            discard_ = true;
            SetState(State::ReadHead);
        }
    }
    return true;
}

void CHttpTransfer::RunAwaitStatus(int event)
{
    switch (event) {
    case EvNeutral:
        // After an interim head, the real status line may be buffered already.
        if (!head_.buffered().empty())
            TryStatusLine();
        return;
    case EvData:
        if (!ReceiveHead()) {
            if (MayRetry())
                Retry();
            else
                Fail();
            return;
        }
        TryStatusLine();
        return;
    case EvPeerClosed:
    case EvConnectFailed:
        if (event == EvPeerClosed && MayRetry()) {
            Retry();
            return;
        }
        result_ = kFailed;
        SetState(State::Close);
        return;
    default:
        Otherwise(event);
    }
}

void CHttpTransfer::DecideFraming()
{
    const std::string_view block = head_.headerBlock();
    const int code = status_.statusCode;
    if (h2_) {
        // The stream's end is the body's; the connection is the session's.
        const bool none = mode_ == ModeHead || code == 204 || code == 304 || (code >= 100 && code < 200);
        framing_.Reset(none ? BodyFraming::Kind::None : BodyFraming::Kind::Close);
        keepAlive_ = false;
        idleMs_ = 0;
        return;
    }
    if (mode_ == ModeHead || code == 204 || code == 304 || (code >= 100 && code < 200))
        framing_.Reset(BodyFraming::Kind::None);
    else if (FieldHasToken(block, "TRANSFER-ENCODING", "chunked", true))
        framing_.Reset(BodyFraming::Kind::Chunked);
    else if (FieldValue(block, "TRANSFER-ENCODING"))
        framing_.Reset(BodyFraming::Kind::Close);
    else if (const std::optional<int64_t> length = DeclaredLength(block))
        framing_.Reset(BodyFraming::Kind::Length, *length);
    else
        framing_.Reset(BodyFraming::Kind::Close);
    const bool http11 = status_.major > 1 || (status_.major == 1 && status_.minor >= 1);
    keepAlive_ = framing_.kind() != BodyFraming::Kind::Close
        && (http11 ? !FieldHasToken(block, "CONNECTION", "close") : FieldHasToken(block, "CONNECTION", "keep-alive"));
    idleMs_ = KeepAliveMs(block);
}

size_t CHttpTransfer::Frame(char* data, size_t count)
{
    size_t used = 0;
    const size_t body = framing_.Decode(data, count, used);
    // Bytes beyond the end of the answer were never asked for: the
    // connection can't carry another request.
    if (framing_.status() != BodyFraming::Status::More && used < count)
        keepAlive_ = false;
    if (framing_.status() == BodyFraming::Status::Error)
        keepAlive_ = false;
    return body;
}

void CHttpTransfer::TakeBody(const char* data, size_t count)
{
    if (!decoding()) {
        if (data != body_.get() + bodyCount_)
            std::memmove(body_.get() + bodyCount_, data, count);
        bodyCount_ += count;
        return;
    }
    // The document is handed out as it is decoded, a buffer at a time: a
    // small coded body may stand for a large one.
    while ((count > 0 || decoder_.hasPending()) && state_ == State::ReadBody) {
        const size_t before = count;
        const size_t out = decoder_.Decode(data, count, body_.get() + bodyCount_, kBodyChunk - bodyCount_);
        wireDecoded_ += int64_t(before - count);
        bodyCount_ += out;
        if (decoder_.status() == ContentDecoder::Status::Error) {
            bodyCount_ = 0;
            Fail("the compressed body does not decode");
            return;
        }
        if (bodyCount_ == kBodyChunk)
            Deliver();
        else if (out == 0 && before == count)
            break;
    }
}

void CHttpTransfer::EndOfMessage()
{
    if (keepAlive_ && form_.pool && socket_ && socket_->queuedSends() == 0 && closeError_ == 0) {
        socket_->SetListener(nullptr, 0);
        form_.pool->PutIdle(form_.poolKey, std::move(socket_), idleMs_);
        kept_ = true;
    }
    SetState(State::Close);
}

void CHttpTransfer::RunReadHead(int event)
{
    if (event == EvPeerClosed || event == EvConnectFailed) {
        // What the status line decided stands; only the connection is lost.
        if (!discard_)
            result_ = kFailed;
        SetState(State::Close);
        return;
    }
    if (event == EvAbort) {
        Otherwise(event);
        return;
    }
    if (event == EvData && !ReceiveHead()) {
        if (!discard_)
            result_ = kFailed;
        SetState(State::Close);
        return;
    }
    if ((event != EvData && event != EvNeutral) || head_.buffered().empty())
        return;
    if (!head_.SplitHead()) {
        if (const char* reason = head_.TooLong(true)) {
            if (discard_)
                SetState(State::Close);
            else
                Fail(reason);
        }
        return;
    }
    if (interim_) {
        interim_ = false;
        SetState(State::AwaitStatus);
        return;
    }
    contentLength_ = ContentLength(head_.headerBlock());
    header_.ParseHeaders(head_.headerBlock()); // a malformed field leaves the rest usable
    if (!form_.http10)
        DecideFraming();
    if (!discard_)
        Notify(NoteHead);
    if (state_ != State::ReadHead)
        return; // aborted meanwhile
    if (form_.http10) {
        if (mode_ == ModeHead || status_.statusCode == 302) {
            SetState(State::AwaitClose);
            return;
        }
    } else if (discard_ || mode_ == ModeHead || status_.statusCode == 302) {
        if (!discard_)
            result_ = kComplete;
        discard_ = true;
        const int64_t left = framing_.remaining();
        if (framing_.kind() == BodyFraming::Kind::Close || left > kMaxSkippedBody
            || (framing_.kind() == BodyFraming::Kind::Length && left < 0)) {
            SetState(State::Close);
            return;
        }
        if (!body_)
            body_ = std::make_unique_for_overwrite<char[]>(kBodyChunk);
        bodyCount_ = 0;
        skipped_ = int64_t(Frame(body_.get(), head_.Take(body_.get(), kBodyChunk)));
        SetState(State::SkipBody);
        return;
    }
    // The body continues from what the head buffer holds beyond the head.
    if (!body_)
        body_ = std::make_unique_for_overwrite<char[]>(kBodyChunk);
    bodyCount_ = 0;
    if (form_.http10) {
        bodyCount_ = head_.Take(body_.get(), kBodyChunk);
        SetState(State::ReadBody);
        return;
    }
    if (!decoder_.Start(FieldValue(head_.headerBlock(), "CONTENT-ENCODING").value_or(std::string_view()))) {
        Fail("the body's content coding is not one asked for");
        return;
    }
    if (decoding() && !wire_)
        wire_ = std::make_unique_for_overwrite<char[]>(kBodyChunk);
    SetState(State::ReadBody);
    char* const into = decoding() ? wire_.get() : body_.get();
    TakeBody(into, Frame(into, head_.Take(into, kBodyChunk)));
}

void CHttpTransfer::Deliver()
{
    Notify(NoteData);
    if (state_ != State::ReadBody)
        return;
    if (form_.http10) {
        if (contentLength_ != 0 && delivered_ >= contentLength_)
            SetState(State::AwaitClose);
        return;
    }
}

void CHttpTransfer::RunReadBody(int event)
{
    auto afterDelivery = [this] {
        if (form_.http10 || state_ != State::ReadBody)
            return;
        if (framing_.status() == BodyFraming::Status::Done) {
            if (decoding() && decoder_.status() != ContentDecoder::Status::Done) {
                Fail("the compressed body is cut short");
                return;
            }
            result_ = kComplete;
            EndOfMessage();
        } else if (framing_.status() == BodyFraming::Status::Error) {
            Fail("broken chunked body");
        }
    };
    switch (event) {
    case EvNeutral:
        if (state_ != State::ReadBody)
            return;
        if (bodyCount_ > 0)
            Deliver();
        afterDelivery();
        return;
    case EvData:
        if (!ReceiveBody()) {
            result_ = kFailed;
            SetState(State::Close);
            return;
        }
        if (state_ != State::ReadBody)
            return;
        if (bodyCount_ > 0)
            Deliver();
        afterDelivery();
        return;
    case EvPeerClosed:
        if (bodyCount_ > 0)
            Notify(NoteData);
        if (state_ != State::ReadBody)
            return;
        if (form_.http10) {
            // A close before the announced length is a cut-off body, not a
            // complete one: it must not be stored over a good copy. Nor is a
            // body that ends with a reset, whatever its length said: only an
            // orderly close ends a body that has no length.
            result_ = closeError_ != 0 || (contentLength_ != 0 && delivered_ < contentLength_) ? kFailed : kComplete;
        } else {
            // Only a body that ends at the close may end there, and only in order.
            result_ = closeError_ == 0 && framing_.kind() == BodyFraming::Kind::Close ? kComplete : kFailed;
            if (result_ == kComplete && decoding() && decoder_.status() != ContentDecoder::Status::Done) {
                failureText_ = "the compressed body is cut short";
                result_ = kFailed;
            }
        }
        SetState(State::Close);
        return;
    default:
        Otherwise(event);
    }
}

void CHttpTransfer::RunSkipBody(int event)
{
    switch (event) {
    case EvNeutral:
    case EvData:
        if (event == EvData) {
            if (!ReceiveBody()) {
                SetState(State::Close);
                return;
            }
            skipped_ += int64_t(bodyCount_);
            bodyCount_ = 0;
        }
        if (framing_.status() == BodyFraming::Status::Done)
            EndOfMessage();
        else if (framing_.status() == BodyFraming::Status::Error || skipped_ > kMaxSkippedBody)
            SetState(State::Close);
        return;
    case EvPeerClosed:
        SetState(State::Close);
        return;
    default:
        Otherwise(event);
    }
}

void CHttpTransfer::RunAwaitClose(int event)
{
    if (event == EvPeerClosed) {
        result_ = kComplete;
        SetState(State::Close);
        return;
    }
    Otherwise(event);
}

void CHttpTransfer::RunClose(int event)
{
    if (event != EvNeutral)
        return;
    if (socket_)
        socket_->Close();
    if (h2_) {
        if (stream_)
            h2_->Close(stream_); // reset when the server has not ended it
        stream_ = 0;
        h2_.reset();
    }
    ConnectSettled();
    Notify(NoteFinished);
}

} // namespace ormbrook
