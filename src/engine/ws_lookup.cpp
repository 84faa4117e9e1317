#include "engine/ws_lookup.h"

#include "engine/ws_event_window.h"
#include "platform/ws_error.h"

namespace ormbrook {

CWSLookup::~CWSLookup()
{
    if (state_ == InProgress)
        Cancel();
}

int CWSLookup::Start(WSLookupListener* listener, int tag)
{
    if (state_ == InProgress)
        return kAlreadyRunning;
    listener_ = listener;
    listenerTag_ = tag;
    addresses_.clear();
    nextAddress_ = 0;
    WSEventWindow* window = WSEventWindow::Current();
    const int task = window && name_ ? HostResolver::Current().Start(
                                           name_, window,
                                           [](int task, const LookupAnswer& answer) {
                                               if (WSEventWindow* w = WSEventWindow::Current())
                                                   w->DeliverLookupAnswer(task, answer);
                                           })
                                     : 0;
    if (task == 0) {
        state_ = IdleOrFailed;
        lastError_ = window ? WsaNoRecovery : WsaNetDown;
        return lastError_;
    }
    taskHandle_ = task;
    if (!SocketRegistry::Instance().Register(task, WSKindLookup, this)) {
        HostResolver::Current().Abort(task);
        state_ = IdleOrFailed;
        lastError_ = WsaNoBuffers;
        return lastError_;
    }
    state_ = InProgress;
    lastError_ = 0;
    return 0;
}

int CWSLookup::Cancel()
{
    if (state_ != InProgress)
        return kNotRunning;
    state_ = IdleOrFailed;
    SocketRegistry::Instance().Unregister(taskHandle_, WSKindLookup);
    // An answer already on its way finds no registry entry and is dropped.
    HostResolver::Current().Abort(taskHandle_);
    return 0;
}

bool CWSLookup::FirstAddress(SocketAddress& address)
{
    nextAddress_ = 0;
    return NextAddress(address);
}

bool CWSLookup::NextAddress(SocketAddress& address)
{
    if (state_ != Done || nextAddress_ >= addresses_.size())
        return false;
    address = addresses_[nextAddress_++];
    address.SetPort(0);
    return true;
}

void CWSLookup::OnLookupAnswer(const LookupAnswer& answer)
{
    SocketRegistry::Instance().Unregister(taskHandle_, WSKindLookup);
    lastError_ = answer.error;
    state_ = answer.error == 0 ? Done : IdleOrFailed;
    addresses_ = answer.addresses;
    nextAddress_ = 0;
    WSLookupListener* listener = listener_;
    listener_ = nullptr;
    if (listener)
        listener->OnLookupDone(listenerTag_, answer.error);
}

} // namespace ormbrook
