#include "engine/conn_mgr.h"

#include "platform/fatal_error.h"
#include "platform/ws_error.h"

#include <QtGlobal>

#include <arpa/inet.h>

namespace ormbrook {

namespace {
#ifdef ORMBROOK_TRACE_STATES
const char* StateName(CConnMgr::State s)
{
    static const char* const names[] = {"Idle", "Start", "AwaitLookup", "Connect", "AwaitConnect", "Finish"};
    return names[int(s)];
}
#endif
} // namespace

bool CConnMgr::Start(const char* host, uint16_t port, CWSSocket* socket, WSSocketListener* socketListener,
                     int socketListenerTag)
{
    if (state_ != State::Idle)
        return false;
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

void CConnMgr::OnSocketEvent(int, int code, int error, const char*)
{
    lastError_ = error;
    if (code == SocketConnected)
        Feed(EvConnectDone);
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
    const in_addr_t literal = ::inet_addr(host_.c_str());
    if (literal != INADDR_NONE) {
        literal_ = true;
        address_ = sockaddr_in{};
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = literal;
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
        SetState(State::Connect);
    } else if (event == EvCancel) {
        lookup_.Cancel();
        result_ = ResultCancelled;
        SetState(State::Finish);
    }
}

void CConnMgr::RunConnect(int event)
{
    if (event != EvNeutral)
        return;
    address_.sin_port = htons(port_);
    const int err = socket_->Connect(address_);
    if (err != 0 && err != WsaWouldBlock) {
        lastError_ = err;
        socket_->Close();
        result_ = ResultFailed;
        SetState(State::Finish);
        return;
    }
    SetState(State::AwaitConnect);
}

void CConnMgr::RunAwaitConnect(int event)
{
    if (event == EvConnectDone) {
        if (lastError_ == 0) {
            result_ = ResultConnected;
        } else if (lastError_ == WsaNetUnreachable || lastError_ == WsaTimedOut) {
            socket_->Close();
            if (!literal_ && lookup_.NextAddress(address_)) {
                SetState(State::Connect);
                return;
            }
            result_ = ResultFailed;
        } else {
            socket_->Close();
            result_ = ResultFailed;
        }
        SetState(State::Finish);
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
    host_.clear();
    socket_->SetListener(socketListener_, socketListenerTag_);
    // Idle before the owner hears of it, so that the owner may start again
    // from its handler.
    SetState(State::Idle);
    if (notify_ && owner_)
        owner_->OnConnectDone(ownerTag_, result_);
}

} // namespace ormbrook
