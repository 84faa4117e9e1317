#include "engine/conn_mgr.h"

#include "engine/http_header.h"
#include "platform/fatal_error.h"
#include "platform/ws_error.h"

#include <QTimer>
#include <QtGlobal>

#include <arpa/inet.h>

namespace ormbrook {

namespace {
#ifdef ORMBROOK_TRACE_STATES
const char* StateName(CConnMgr::State s)
{
    static const char* const names[] = {"Idle",   "Start",       "AwaitLookup", "Connect", "AwaitConnect",
                                        "Tunnel", "AwaitTunnel", "Secure",      "AwaitSecure", "Finish"};
    return names[int(s)];
}
#endif
} // namespace

CConnMgr::CConnMgr(ConnectListener* owner, int ownerTag) : owner_(owner), ownerTag_(ownerTag) {}

CConnMgr::~CConnMgr() = default;

std::string CConnMgr::TunnelRequest(const std::string& target)
{
    return "CONNECT " + target + " HTTP/1.0\r\nHOST:" + target + "\r\n\r\n";
}

bool CConnMgr::Start(const char* host, uint16_t port, CWSSocket* socket, WSSocketListener* socketListener,
                     int socketListenerTag, const TlsTarget* tls)
{
    if (state_ != State::Idle)
        return false;
    secure_ = tls != nullptr;
    if (tls)
        tls_ = *tls;
    failureText_.clear();
    host_ = host ? host : "";
    port_ = port;
    socket_ = socket;
    socketListener_ = socketListener;
    socketListenerTag_ = socketListenerTag;
    notify_ = true;
    socket_->SetListener(this, 0);
    if (socket_->handle() >= 0)
        socket_->Close();
    SetState(State::Start);
    Feed(EvNeutral);
    return true;
}

void CConnMgr::Cancel(bool notify)
{
    notify_ = notify;
    Feed(EvCancel);
}

void CConnMgr::OnLookupDone(int, int error)
{
    lastError_ = error;
    Feed(EvLookupDone);
}

void CConnMgr::OnSocketEvent(int tag, int code, int error, const char*)
{
    if (tag == 1) {
        if (code == SocketConnected) {
            secondError_ = error;
            Feed(EvSecondDone);
        }
        return;
    }
    switch (code) {
    case SocketConnected:
        lastError_ = error;
        Feed(EvConnectDone);
        break;
    case SocketRead:
        Feed(EvTunnelData);
        break;
    case SocketClosed:
        lastError_ = error;
        Feed(EvTunnelClosed);
        break;
    case SocketSecured:
        lastError_ = error;
        Feed(EvSecured);
        break;
    default:
        break;
    }
}

void CConnMgr::SetState(State next)
{
#ifdef ORMBROOK_TRACE_STATES
    qDebug("CConnMgr %p: %s -> %s", static_cast<void*>(this), StateName(state_), StateName(next));
#endif
    state_ = next;
}

void CConnMgr::Feed(int event)
{
    for (;;) {
        const State before = state_;
        switch (state_) {
        case State::Idle: RunIdle(event); break;
        case State::Start: RunStart(event); break;
        case State::AwaitLookup: RunAwaitLookup(event); break;
        case State::Connect: RunConnect(event); break;
        case State::AwaitConnect: RunAwaitConnect(event); break;
        case State::Tunnel: RunTunnel(event); break;
        case State::AwaitTunnel: RunAwaitTunnel(event); break;
        case State::Secure: RunSecure(event); break;
        case State::AwaitSecure: RunAwaitSecure(event); break;
        case State::Finish:
            // The owner's handler runs last and may end this object.
            RunFinish(event);
            return;
        }
        if (state_ == before)
            return;
        event = EvNeutral;
    }
}

void CConnMgr::RunIdle(int) {}

void CConnMgr::RunStart(int event)
{
    if (event != EvNeutral)
        return;
    candidates_.clear();
    tried_.clear();
    current_ = 0;
    firstFailed_ = false;
    // A URL always has a host: only a proxy can be named by nothing.
    if (host_.empty()) {
        Fail("proxy: no proxy name is set (ProxyName)");
        return;
    }
    if (const std::optional<SocketAddress> literal = SocketAddress::FromLiteral(host_)) {
        literal_ = true;
        candidates_.push_back(*literal);
        tried_.push_back(false);
        SetState(State::Connect);
        return;
    }
    literal_ = false;
    lookup_.SetName(host_.c_str());
    if (const int err = lookup_.Start(this, 0)) {
        lastError_ = err;
        result_ = ResultFailed;
        SetState(State::Finish);
        return;
    }
    SetState(State::AwaitLookup);
}

void CConnMgr::RunAwaitLookup(int event)
{
    if (event == EvLookupDone) {
        if (lastError_ != 0) {
            result_ = ResultFailed;
            SetState(State::Finish);
            return;
        }
        if (!lookup_.FirstAddress(address_)) {
            ReportFatal(kWinsockFatalTitle, kNoAddressAfterLookupText);
            // Only a test's handler comes back here.
            result_ = ResultFailed;
            SetState(State::Finish);
            return;
        }
        candidates_ = lookup_.addresses();
        tried_.assign(candidates_.size(), false);
        current_ = 0;
        SetState(State::Connect);
    } else if (event == EvCancel) {
        lookup_.Cancel();
        result_ = ResultCancelled;
        SetState(State::Finish);
    }
}

int CConnMgr::Untried(int family, bool sameFamily) const
{
    for (size_t i = 0; i < candidates_.size(); ++i)
        if (!tried_[i] && (family == AF_UNSPEC || (candidates_[i].family() == family) == sameFamily))
            return int(i);
    return -1;
}

void CConnMgr::RunConnect(int event)
{
    if (event != EvNeutral)
        return;
    tried_[size_t(current_)] = true;
    address_ = candidates_[size_t(current_)];
    address_.SetPort(port_);
    const int err = socket_->Connect(address_);
    if (err != 0 && err != WsaWouldBlock) {
        lastError_ = err;
        socket_->Close();
        MoveOn();
        return;
    }
    SetState(State::AwaitConnect);
    // Only the first attempt of a name with both families gives the other
    // one a head start; later ones wait for their own outcome.
    if (!second_ && Untried(address_.family(), false) >= 0) {
        if (!headStart_) {
            headStart_ = std::make_unique<QTimer>();
            headStart_->setSingleShot(true);
            QObject::connect(headStart_.get(), &QTimer::timeout, [this] { Feed(EvHeadStart); });
        }
        headStart_->start(kHeadStartMs);
    }
}

void CConnMgr::MoveOn()
{
    // Within a family only an unreachable or silent address hands over to
    // the next (a refusal is the server's answer); across families any
    // failure does, since the other may well be the one that works.
    const int failedFamily = address_.family();
    int next = -1;
    if (!literal_) {
        if (lastError_ == WsaNetUnreachable || lastError_ == WsaTimedOut)
            next = Untried(AF_UNSPEC, true);
        if (next < 0)
            next = Untried(failedFamily, false);
    }
    if (next < 0) {
        result_ = ResultFailed;
        SetState(State::Finish);
        return;
    }
    current_ = next;
    SetState(State::Connect);
}

void CConnMgr::StartSecond()
{
    const int other = Untried(address_.family(), false);
    if (other < 0)
        return;
    tried_[size_t(other)] = true;
    SocketAddress address = candidates_[size_t(other)];
    address.SetPort(port_);
    second_ = std::make_unique<CWSSocket>();
    second_->SetListener(this, 1);
    const int err = second_->Connect(address);
    if (err != 0 && err != WsaWouldBlock)
        DropSecond();
}

void CConnMgr::DropSecond()
{
    if (second_) {
        second_->SetListener(nullptr, 0);
        second_->Close();
        second_.reset();
    }
}

void CConnMgr::Connected()
{
    if (headStart_)
        headStart_->stop();
    DropSecond();
    if (secure_) {
        SetState(tls_.tunnel.empty() ? State::Secure : State::Tunnel);
        return;
    }
    result_ = ResultConnected;
    SetState(State::Finish);
}

void CConnMgr::RunAwaitConnect(int event)
{
    switch (event) {
    case EvConnectDone:
        if (lastError_ == 0) {
            Connected();
            return;
        }
        socket_->Close();
        if (second_) {
            firstFailed_ = true; // the other attempt may still win
            return;
        }
        if (headStart_)
            headStart_->stop();
        MoveOn();
        return;
    case EvHeadStart:
        if (!second_ && !firstFailed_)
            StartSecond();
        return;
    case EvSecondDone:
        if (secondError_ == 0) {
            socket_->TakeOver(*second_);
            Connected();
            return;
        }
        DropSecond();
        if (firstFailed_) {
            lastError_ = secondError_;
            MoveOn();
        }
        return;
    case EvCancel:
        if (headStart_)
            headStart_->stop();
        DropSecond();
        socket_->Close();
        result_ = ResultCancelled;
        SetState(State::Finish);
        return;
    default:
        return;
    }
}

void CConnMgr::Fail(std::string text)
{
    socket_->Close();
    failureText_ = std::move(text);
    result_ = ResultFailed;
    SetState(State::Finish);
}

void CConnMgr::RunTunnel(int event)
{
    if (event != EvNeutral)
        return;
    tunnelRequest_ = TunnelRequest(tls_.tunnel);
    tunnelReply_.Clear();
    tunnelStatusRead_ = false;
    const int err = socket_->Send(tunnelRequest_.data(), tunnelRequest_.size());
    if (err != 0 && err != WsaWouldBlock) {
        lastError_ = err;
        Fail();
        return;
    }
    SetState(State::AwaitTunnel);
}

void CConnMgr::RunAwaitTunnel(int event)
{
    switch (event) {
    case EvTunnelData: {
        if (!tunnelReply_.full()) {
            size_t n = tunnelReply_.spaceLeft();
            const int err = socket_->Receive(tunnelReply_.space(), n);
            if (err != 0 && err != WsaWouldBlock) {
                lastError_ = err;
                Fail();
                return;
            }
            tunnelReply_.Commit(n);
        }
        if (!tunnelStatusRead_) {
            if (!tunnelReply_.TakeStatusLine()) {
                if (tunnelReply_.full())
                    Fail("proxy: no answer to CONNECT");
                return;
            }
            StatusLine status;
            std::string_view line = tunnelReply_.statusLine();
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!ParseStatusLine(line, status) || status.statusCode < 200 || status.statusCode > 299) {
                Fail("proxy: " + std::string(line.empty() ? std::string_view("no answer to CONNECT") : line));
                return;
            }
            tunnelStatusRead_ = true;
        }
        // The tunnel is open once the proxy's head has ended (proxies
        // mostly send no header line at all); nothing follows it before the
        // handshake starts.
        const std::string_view rest = tunnelReply_.buffered();
        const bool bare = rest.starts_with("\r\n") || rest.starts_with("\n");
        if (!bare && !tunnelReply_.SplitHead()) {
            if (tunnelReply_.full())
                Fail("proxy: answer to CONNECT too long");
            return;
        }
        SetState(State::Secure);
        return;
    }
    case EvTunnelClosed:
        Fail("proxy: closed the connection instead of opening a tunnel");
        return;
    case EvCancel:
        socket_->Close();
        result_ = ResultCancelled;
        SetState(State::Finish);
        return;
    default:
        return;
    }
}

void CConnMgr::RunSecure(int event)
{
    if (event != EvNeutral)
        return;
    const int err = socket_->StartTls(tls_);
    if (err == 0) {
        result_ = ResultConnected;
        SetState(State::Finish);
    } else if (err == WsaWouldBlock) {
        SetState(State::AwaitSecure);
    } else {
        lastError_ = err;
        Fail(socket_->tlsFailure());
    }
}

void CConnMgr::RunAwaitSecure(int event)
{
    if (event == EvSecured) {
        if (lastError_ == 0) {
            result_ = ResultConnected;
            SetState(State::Finish);
        } else {
            Fail(socket_->tlsFailure());
        }
    } else if (event == EvCancel) {
        socket_->Close();
        result_ = ResultCancelled;
        SetState(State::Finish);
    }
}

void CConnMgr::RunFinish(int event)
{
    if (event != EvNeutral)
        return;
    if (headStart_)
        headStart_->stop();
    DropSecond();
    host_.clear();
    socket_->SetListener(socketListener_, socketListenerTag_);
    // Idle before the owner hears of it, so that the owner may start again
    // from its handler.
    SetState(State::Idle);
    if (notify_ && owner_)
        owner_->OnConnectDone(ownerTag_, result_);
}

} // namespace ormbrook
