#include "engine/http_transfer.h"

#include "platform/ws_error.h"

#include <QtGlobal>

#include <cstring>

namespace ormbrook {

namespace {
constexpr int kAborted = 1;
constexpr int kComplete = 2;
constexpr int kFailed = 3;

#ifdef ORMBROOK_TRACE_STATES
const char* StateName(CHttpTransfer::State s)
{
    static const char* const names[] = {"Begin",    "Connecting", "Sending",    "AwaitStatus",
                                        "ReadHead", "ReadBody",   "AwaitClose", "Close"};
    return names[int(s)];
}
#endif
} // namespace

CHttpTransfer::CHttpTransfer(TransferListener* owner) : owner_(owner) {}

CHttpTransfer::~CHttpTransfer()
{
    // No report from a transfer being destroyed.
    notify_ = false;
    if (connMgr_.state() != CConnMgr::State::Idle)
        connMgr_.Cancel(false);
    socket_.SetListener(nullptr, 0);
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
    header_.SetRequestLine(mode == ModeGet ? RequestMethod::Get : RequestMethod::Head, requestUri_);
    if (mode == ModeGet)
        header_.SetField(HeaderHost, hostField.empty() ? host_ : hostField);
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

bool CHttpTransfer::ReceiveHead()
{
    if (head_.full())
        return true;
    size_t n = head_.spaceLeft();
    const int err = socket_.Receive(head_.space(), n);
    if (err == 0) {
        head_.Commit(n);
        return true;
    }
    if (err == WsaWouldBlock)
        return true;
    lastError_ = err;
    return false;
}

bool CHttpTransfer::ReceiveBody()
{
    if (bodyCount_ == kBodyChunk)
        return true;
    size_t n = kBodyChunk - bodyCount_;
    const int err = socket_.Receive(body_.get() + bodyCount_, n);
    if (err == 0) {
        bodyCount_ += n;
        return true;
    }
    if (err == WsaWouldBlock)
        return true;
    lastError_ = err;
    return false;
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
    SetState(State::Connecting);
    connMgr_.Start(host_.c_str(), port_, &socket_, this, 0, tls_ ? &*tls_ : nullptr);
}

void CHttpTransfer::RunConnecting(int event)
{
    switch (event) {
    case EvConnected:
        Notify(NoteConnected);
        SetState(State::Sending);
        break;
    case EvConnectFailed:
        result_ = kFailed;
        SetState(State::Close);
        break;
    case EvAbort:
        connMgr_.Cancel(false);
        result_ = kAborted;
        SetState(State::Close);
        break;
    default:
        break;
    }
}

void CHttpTransfer::RunSending(int event)
{
    if (event == EvNeutral) {
        const int err = socket_.Send(request_.data(), request_.size());
        if (err == 0 || err == WsaWouldBlock) {
            SetState(State::AwaitStatus);
        } else {
            lastError_ = err;
            result_ = kFailed;
            SetState(State::Close);
        }
        return;
    }
    Otherwise(event);
}

void CHttpTransfer::RunAwaitStatus(int event)
{
    switch (event) {
    case EvData: {
        if (!ReceiveHead()) {
            result_ = kFailed;
            SetState(State::Close);
            return;
        }
        if (!head_.TakeStatusLine())
            return;
        if (!ParseStatusLine(head_.statusLine(), status_)) {
            result_ = kFailed;
            SetState(State::Close);
            return;
        }
        Notify(NoteStatusLine);
        const int code = status_.statusCode;
        if (code == 304) {
            result_ = kComplete;
            SetState(State::Close);
        } else if (code == 301 || code == 302 || code <= 300) {
            SetState(State::ReadHead);
        } else {
            result_ = kFailed;
            SetState(State::Close);
        }
        return;
    }
    case EvPeerClosed:
    case EvConnectFailed:
        result_ = kFailed;
        SetState(State::Close);
        return;
    default:
        Otherwise(event);
    }
}

void CHttpTransfer::RunReadHead(int event)
{
    if (event == EvPeerClosed || event == EvConnectFailed) {
        result_ = kFailed;
        SetState(State::Close);
        return;
    }
    if (event == EvAbort) {
        Otherwise(event);
        return;
    }
    if (event == EvData && !ReceiveHead()) {
        result_ = kFailed;
        SetState(State::Close);
        return;
    }
    if ((event != EvData && event != EvNeutral) || head_.buffered().empty() || !head_.SplitHead())
        return;
    contentLength_ = ContentLength(head_.headerBlock());
    header_.ParseHeaders(head_.headerBlock()); // a malformed field leaves the rest usable
    Notify(NoteHead);
    if (mode_ == ModeHead || status_.statusCode == 302) {
        SetState(State::AwaitClose);
        return;
    }
    // The body continues from what the head buffer holds beyond the head.
    if (!body_)
        body_ = std::make_unique_for_overwrite<char[]>(kBodyChunk);
    bodyCount_ = head_.Take(body_.get(), kBodyChunk);
    SetState(State::ReadBody);
}

void CHttpTransfer::Deliver()
{
    Notify(NoteData);
    if (contentLength_ != 0 && delivered_ >= contentLength_)
        SetState(State::AwaitClose);
}

void CHttpTransfer::RunReadBody(int event)
{
    switch (event) {
    case EvNeutral:
        if (bodyCount_ > 0)
            Deliver();
        return;
    case EvData:
        if (!ReceiveBody()) {
            result_ = kFailed;
            SetState(State::Close);
            return;
        }
        if (bodyCount_ > 0)
            Deliver();
        return;
    case EvPeerClosed:
        if (bodyCount_ > 0)
            Notify(NoteData);
        // A close before the announced length is a cut-off body, not a
        // complete one: it must not be stored over a good copy. Nor is a
        // body that ends with a reset, whatever its length said: only an
        // orderly close ends a body that has no length.
        result_ = closeError_ != 0 || (contentLength_ != 0 && delivered_ < contentLength_) ? kFailed : kComplete;
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
    socket_.Close();
    Notify(NoteFinished);
}

} // namespace ormbrook
