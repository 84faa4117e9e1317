#include "engine/ws_socket.h"

#include "engine/ws_event_window.h"
#include "platform/sys_calls.h"
#include "platform/ws_error.h"

#include <QMetaObject>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/ioctl.h>

namespace ormbrook {

CWSSocket::CWSSocket() = default;

CWSSocket::~CWSSocket() { Close(); }

int CWSSocket::Create(int family)
{
    const int fd = SysCalls::Current().Socket(family);
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
    SocketAddress a;
    a.v4 = address;
    return Connect(a);
}

void CWSSocket::TakeOver(CWSSocket& other)
{
    Close();
    if (other.handle_ < 0 || other.ssl_)
        return;
    SocketRegistry::Instance().Unregister(other.handle_, WSKindSocket);
    handle_ = other.handle_;
    other.handle_ = -1;
    SocketRegistry::Instance().Register(handle_, WSKindSocket, this);
    lastError_ = other.lastError_;
    state_ = other.state_;
    connectPending_ = other.connectPending_;
    readArmed_ = other.readArmed_;
    closeReported_ = other.closeReported_;
    unreadAfterClose_ = other.unreadAfterClose_;
    queue_.swap(other.queue_);
    other.queue_.clear();
    other.state_ = NotConnected;
    other.connectPending_ = other.readArmed_ = other.closeReported_ = false;
    other.unreadAfterClose_.reset();
    other.alive_ = std::make_shared<int>(0);
    UpdateInterest();
}

int CWSSocket::Connect(const SocketAddress& address)
{
    if (handle_ < 0) {
        if (const int err = Create(address.family()))
            return err;
    }
    WSEventWindow* window = WSEventWindow::Current();
    if (!window) {
        lastError_ = WsaNetDown;
        return lastError_;
    }
    connectPending_ = true;
    UpdateInterest();
    const int r = address.family() == AF_INET6 ? SysCalls::Current().Connect6(handle_, address.v6)
                                               : SysCalls::Current().Connect(handle_, address.v4);
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
        const ssize_t r = WriteSome(next, left);
        if (r < 0) {
            lastError_ = int(-r);
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

ssize_t CWSSocket::WriteSome(const char* data, size_t length)
{
    if (!ssl_) {
        const ssize_t r = SysCalls::Current().Send(handle_, data, length);
        return r < 0 ? -ssize_t(WsaFromErrno(int(-r))) : r;
    }
    if (tls_ != Tls::Open)
        return -ssize_t(WsaNotConnected);
    size_t written = 0;
    errno = 0;
    const int r = SSL_write_ex(ssl_, data, length, &written);
    if (r == 1)
        return ssize_t(written);
    const int e = SSL_get_error(ssl_, r);
    ERR_clear_error();
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ)
        return -ssize_t(WsaWouldBlock);
    if (e == SSL_ERROR_SYSCALL && errno != 0)
        return -ssize_t(WsaFromErrno(errno));
    return -ssize_t(WsaTlsFailed);
}

int CWSSocket::TlsReceive(char* data, size_t& length)
{
    // Records are read until the room is filled or the socket has no more:
    // one report takes in what one wake-up brought.
    size_t got = 0;
    int error = 0;
    while (got < length && !tlsEof_) {
        size_t n = 0;
        errno = 0;
        const int r = SSL_read_ex(ssl_, data + got, length - got, &n);
        if (r == 1) {
            got += n;
            continue;
        }
        const int e = SSL_get_error(ssl_, r);
        const bool cutShort = e == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
        ERR_clear_error();
        if (e == SSL_ERROR_ZERO_RETURN) {
            tlsEof_ = true;
        } else if (cutShort) {
            // Closed without close_notify: the end of the data cannot be
            // told from a cut, as with a reset of a plain connection.
            if (got == 0)
                error = WsaConnReset;
        } else if (e == SSL_ERROR_WANT_READ) {
            if (got == 0)
                error = WsaWouldBlock;
        } else if (e == SSL_ERROR_WANT_WRITE) {
            tlsReadWantsWrite_ = true;
            if (got == 0)
                error = WsaWouldBlock;
        } else if (got == 0) {
            error = e == SSL_ERROR_SYSCALL && errno != 0 ? WsaFromErrno(errno) : WsaTlsFailed;
        }
        break;
    }
    length = error ? 0 : got;
    return error;
}

int CWSSocket::Receive(char* data, size_t& length)
{
    if (ssl_) {
        if (tls_ != Tls::Open) {
            length = 0;
            lastError_ = WsaNotConnected;
            return lastError_;
        }
        lastError_ = TlsReceive(data, length);
        if (!readArmed_ && state_ == Connected && !closeReported_)
            readArmed_ = true;
        UpdateInterest();
        if (readArmed_ && (SSL_pending(ssl_) > 0 || tlsEof_))
            ReportReadSoon();
        return lastError_;
    }
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
    CTlsContext::FreeConnection(ssl_, tls_ == Tls::Open);
    ssl_ = nullptr;
    tls_ = Tls::Off;
    tlsWant_ = 0;
    tlsReadWantsWrite_ = tlsEof_ = readSoon_ = false;
    tlsContext_ = nullptr;
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
    if (tls_ == Tls::Handshaking)
        return tlsWant_;
    if (tls_ == Tls::Failed)
        return 0;
    const bool wantWrite = !queue_.empty() || tlsReadWantsWrite_;
    return (readArmed_ ? uint32_t(EPOLLIN) : 0u) | uint32_t(EPOLLRDHUP) | (wantWrite ? uint32_t(EPOLLOUT) : 0u);
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
            const ssize_t r = WriteSome(head.next, head.left);
            if (r < 0) {
                error = int(-r);
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

bool CWSSocket::NothingLeftAfterClose()
{
    if (ssl_) {
        // Plain bytes may wait inside TLS, and the bytes still on the socket
        // may be no data at all (the close_notify alert): only a read tells.
        return SSL_pending(ssl_) == 0 && (tlsEof_ || BytesAvailable() == 0);
    }
    // Asked of the kernel once; what is read since is counted off.
    if (!unreadAfterClose_)
        unreadAfterClose_ = BytesAvailable();
    return *unreadAfterClose_ == 0;
}

void CWSSocket::ReportReadSoon()
{
    WSEventWindow* window = WSEventWindow::Current();
    if (readSoon_ || !window)
        return;
    readSoon_ = true;
    std::weak_ptr<int> alive = alive_;
    QMetaObject::invokeMethod(
        window,
        [this, alive] {
            if (alive.expired())
                return;
            readSoon_ = false;
            OnSocketReady(EPOLLIN);
        },
        Qt::QueuedConnection);
}

bool CWSSocket::negotiatedH2() const
{
    if (!ssl_ || tls_ != Tls::Open)
        return false;
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl_, &protocol, &length);
    return length == 2 && protocol[0] == 'h' && protocol[1] == '2';
}

int CWSSocket::StartTls(const TlsTarget& target)
{
    if (handle_ < 0 || state_ != Connected || ssl_) {
        lastError_ = WsaNotConnected;
        return lastError_;
    }
    tlsFailure_.clear();
    tlsContext_ = target.context ? target.context : CTlsContext::Default();
    ssl_ = tlsContext_ ? tlsContext_->NewConnection(handle_, target) : nullptr;
    if (!ssl_) {
        tls_ = Tls::Failed;
        tlsFailure_ = "TLS: no secure connection could be set up";
        lastError_ = WsaTlsUnavailable;
        UpdateInterest();
        return lastError_;
    }
    tlsVerify_ = target.verify;
    tls_ = Tls::Handshaking;
    lastError_ = HandshakeStep();
    return lastError_;
}

int CWSSocket::HandshakeStep()
{
    ERR_clear_error();
    errno = 0;
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) {
        tls_ = Tls::Open;
        tlsWant_ = 0;
        if (tlsContext_)
            tlsContext_->CountHandshake(ssl_);
        UpdateInterest();
        lastError_ = 0;
        return 0;
    }
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        tlsWant_ = e == SSL_ERROR_WANT_READ ? EPOLLIN : EPOLLOUT;
        ERR_clear_error();
        UpdateInterest();
        lastError_ = WsaWouldBlock;
        return lastError_;
    }
    const int savedErrno = errno;
    bool certificate = false;
    tlsFailure_ = CTlsContext::FailureText(ssl_, tlsVerify_, e, &certificate);
    tls_ = Tls::Failed;
    tlsWant_ = 0;
    UpdateInterest();
    if (certificate)
        lastError_ = WsaTlsCertificate;
    else if (e == SSL_ERROR_SYSCALL && savedErrno != 0)
        lastError_ = WsaFromErrno(savedErrno);
    else
        lastError_ = WsaTlsFailed;
    return lastError_;
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
    if (tls_ == Tls::Handshaking) {
        if (!(events & (tlsWant_ | EPOLLERR | EPOLLHUP)))
            return;
        const int error = HandshakeStep();
        if (error != WsaWouldBlock)
            Report(SocketSecured, error);
        return;
    }
    if (tls_ == Tls::Failed)
        return;
    if (tlsReadWantsWrite_ && (events & EPOLLOUT)) {
        // The read that waited for the socket to be writable may go on.
        tlsReadWantsWrite_ = false;
        UpdateInterest();
        events |= EPOLLIN;
    }
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
    const bool peerClosed = (events & (EPOLLRDHUP | EPOLLHUP)) || tlsEof_;
    auto nothingLeft = [&] { return NothingLeftAfterClose(); };
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
        // Over TLS a close without close_notify may have cut the data: it
        // is reported as a reset, not as the end.
        Report(SocketClosed, ssl_ && !tlsEof_ ? WsaConnReset : 0);
    }
}

} // namespace ormbrook
