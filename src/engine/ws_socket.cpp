#include "engine/ws_socket.h"

#include "engine/ws_event_window.h"
#include "platform/sys_calls.h"
#include "platform/ws_error.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/ioctl.h>

namespace ormbrook {

CWSSocket::CWSSocket() = default;

CWSSocket::~CWSSocket() { Close(); }

int CWSSocket::Create()
{
    const int fd = SysCalls::Current().Socket();
    if (fd < 0) {
        lastError_ = WsaFromErrno(-fd);
        return lastError_;
    }
    if (!SocketRegistry::Instance().Register(fd, WSKindSocket, this)) {
        SysCalls::Current().Close(fd);
        lastError_ = WsaNoBuffers;
        return lastError_;
    }
    handle_ = fd;
    state_ = NotConnected;
    connectPending_ = readArmed_ = closeReported_ = false;
    unreadAfterClose_.reset();
    lastError_ = 0;
    return 0;
}

int CWSSocket::Connect(const sockaddr_in& address)
{
    if (handle_ < 0) {
        if (const int err = Create())
            return err;
    }
    WSEventWindow* window = WSEventWindow::Current();
    if (!window) {
        lastError_ = WsaNetDown;
        return lastError_;
    }
    connectPending_ = true;
    UpdateInterest();
    const int r = SysCalls::Current().Connect(handle_, address);
    if (r == 0) {
        // Made at once; the connect-finished report still follows.
        state_ = Connected;
        lastError_ = 0;
        return 0;
    }
    lastError_ = WsaFromErrno(-r);
    if (lastError_ == WsaWouldBlock) {
        state_ = Connecting;
    } else {
        connectPending_ = false;
        window->Unwatch(handle_);
    }
    return lastError_;
}

int CWSSocket::Send(const char* data, size_t length)
{
    if (!queue_.empty()) {
        queue_.push_back(PendingSend{data, data, length});
        lastError_ = WsaWouldBlock;
        return lastError_;
    }
    const char* next = data;
    size_t left = length;
    while (left > 0) {
        const ssize_t r = SysCalls::Current().Send(handle_, next, left);
        if (r < 0) {
            lastError_ = WsaFromErrno(int(-r));
            if (lastError_ == WsaWouldBlock) {
                queue_.push_back(PendingSend{data, next, left});
                UpdateInterest();
            }
            return lastError_;
        }
        next += r;
        left -= size_t(r);
    }
    lastError_ = 0;
    return 0;
}

int CWSSocket::Receive(char* data, size_t& length)
{
    const ssize_t r = SysCalls::Current().Recv(handle_, data, length);
    // Reading asks for the next data-to-read report, as in the model this
    // layer keeps: one report per read, not one per wake-up. The epoll set
    // usually still holds the read interest (see OnSocketReady), so this
    // costs no system call.
    if (!readArmed_ && state_ == Connected && !closeReported_) {
        readArmed_ = true;
        UpdateInterest();
    }
    if (r < 0) {
        length = 0;
        lastError_ = WsaFromErrno(int(-r));
        return lastError_;
    }
    length = size_t(r);
    if (unreadAfterClose_)
        *unreadAfterClose_ -= std::min(*unreadAfterClose_, length);
    lastError_ = 0;
    return 0;
}

int CWSSocket::Close()
{
    if (handle_ < 0)
        return 0;
    const int fd = handle_;
    if (WSEventWindow* window = WSEventWindow::Current())
        window->ForgetClosing(fd);
    SocketRegistry::Instance().Unregister(fd, WSKindSocket);
    queue_.clear();
    handle_ = -1;
    state_ = NotConnected;
    connectPending_ = readArmed_ = closeReported_ = false;
    unreadAfterClose_.reset();
    // The object may be reused for a new connection; reports still on the
    // stack for the old one must see it as gone.
    alive_ = std::make_shared<int>(0);
    const int r = SysCalls::Current().Close(fd);
    lastError_ = r < 0 ? WsaFromErrno(-r) : 0;
    return lastError_;
}

void CWSSocket::SetListener(WSSocketListener* listener, int tag)
{
    listener_ = listener;
    listenerTag_ = tag;
}

uint32_t CWSSocket::Interest() const
{
    if (connectPending_)
        return EPOLLOUT;
    if (state_ != Connected || closeReported_)
        return 0;
    return (readArmed_ ? uint32_t(EPOLLIN) : 0u) | uint32_t(EPOLLRDHUP) | (queue_.empty() ? 0u : uint32_t(EPOLLOUT));
}

void CWSSocket::UpdateInterest()
{
    WSEventWindow* window = WSEventWindow::Current();
    if (!window || handle_ < 0)
        return;
    const uint32_t want = Interest();
    if (want == 0)
        window->Unwatch(handle_);
    else if (window->WatchedEvents(handle_) != int64_t(want))
        window->Watch(handle_, want);
}

bool CWSSocket::Report(int code, int error, const char* sendTag)
{
    std::weak_ptr<int> alive = alive_;
    if (listener_)
        listener_->OnSocketEvent(listenerTag_, code, error, sendTag);
    return !alive.expired();
}

size_t CWSSocket::BytesAvailable() const
{
    int n = 0;
    if (::ioctl(handle_, FIONREAD, &n) < 0)
        return 0;
    return size_t(n);
}

bool CWSSocket::Drain()
{
    while (!queue_.empty()) {
        PendingSend& head = queue_.front();
        int error = 0;
        while (head.left > 0) {
            const ssize_t r = SysCalls::Current().Send(handle_, head.next, head.left);
            if (r < 0) {
                error = WsaFromErrno(int(-r));
                break;
            }
            head.next += r;
            head.left -= size_t(r);
        }
        if (error == WsaWouldBlock) {
            lastError_ = error;
            return true; // the next ready-to-write goes on
        }
        const char* tag = head.tag;
        queue_.erase(queue_.begin());
        lastError_ = error;
        if (!Report(SocketSent, error, tag))
            return false;
    }
    return true;
}

void CWSSocket::OnSocketReady(uint32_t events)
{
    if (connectPending_) {
        if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            return;
        connectPending_ = false;
        const int error =
            WsaFromErrno(SysCalls::Current().ConnectResult(handle_, events & (EPOLLERR | EPOLLHUP)));
        lastError_ = error;
        if (error == 0) {
            state_ = Connected;
            readArmed_ = true;
        } else {
            state_ = NotConnected; // connect failed: nothing more is asked for
        }
        UpdateInterest();
        Report(SocketConnected, error);
        return;
    }
    if (state_ != Connected)
        return;
    if (closeReported_) {
        // Listeners close the socket when told of the close, which takes it
        // out of the epoll set; one that keeps it open hears no more of it.
        UpdateInterest();
        return;
    }
    // A read report leaves the read interest in the epoll set, since the
    // listener nearly always reads at once and so asks for the next one.
    // Only when readiness comes while no report is wanted is it taken out.
    if ((events & EPOLLIN) && !readArmed_)
        UpdateInterest();

    if ((events & EPOLLOUT) && !queue_.empty()) {
        if (!Drain())
            return;
        UpdateInterest();
    }
    if (events & EPOLLERR) {
        closeReported_ = true;
        const int error = WsaFromErrno(SysCalls::Current().ConnectResult(handle_, true));
        UpdateInterest();
        Report(SocketClosed, error == 0 ? WsaConnReset : error);
        return;
    }
    const bool peerClosed = events & (EPOLLRDHUP | EPOLLHUP);
    // After a close, is anything left? Asked of the kernel once.
    auto nothingLeft = [&] {
        if (!unreadAfterClose_)
            unreadAfterClose_ = BytesAvailable();
        return *unreadAfterClose_ == 0;
    };
    if (readArmed_ && (events & EPOLLIN) && !(peerClosed && nothingLeft())) {
        readArmed_ = false;
        Report(SocketRead, 0);
        return;
    }
    // The close is reported once nothing is left to read, or at once when the
    // listener has stopped reading: it must not wait for a close that unread
    // data holds back.
    if (peerClosed && (!readArmed_ || nothingLeft())) {
        closeReported_ = true;
        Report(SocketClosed, 0);
    }
}

} // namespace ormbrook
