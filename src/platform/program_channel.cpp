#include "platform/program_channel.h"

#include "platform/runtime_folder.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace ormbrook {

namespace {

void PutWord(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t WordAt(const char* p)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return value;
}

int64_t NowMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, int64_t deadline)
{
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0)
            return false;
        pollfd p {fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// A connected, non-blocking client socket, or -1.
int Connect(const std::string& title)
{
    const std::string path = ChannelPath(title);
    sockaddr_un address {};
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    // A local connect completes at once or fails at once; EAGAIN means the
    // listener's backlog is full, which counts as not reachable.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const std::string& bytes, int64_t deadline)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

} // namespace

std::string EncodeFrame(const ChannelFrame& frame)
{
    std::string out;
    const bool carriesText = (frame.message & kFrameCarriesText) != 0;
    out.reserve(kFrameBytes + (carriesText ? frame.text.size() : 0));
    PutWord(out, frame.message);
    PutWord(out, frame.wParam);
    PutWord(out, carriesText ? static_cast<uint32_t>(frame.text.size()) : frame.lParam);
    if (carriesText)
        out += frame.text;
    return out;
}

void FrameReader::Feed(const char* data, size_t size)
{
    if (broken_)
        return;
    // What was read is dropped before the buffer grows, so a peer that
    // streams frames forever holds at most one frame here.
    if (offset_ > 0) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(data, size);
}

std::optional<ChannelFrame> FrameReader::Next()
{
    if (broken_ || buffer_.size() - offset_ < kFrameBytes)
        return std::nullopt;
    const char* p = buffer_.data() + offset_;
    ChannelFrame frame;
    frame.message = WordAt(p);
    frame.wParam = WordAt(p + 4);
    frame.lParam = WordAt(p + 8);
    size_t length = kFrameBytes;
    if (frame.message & kFrameCarriesText) {
        if (frame.lParam > kMaxFrameText) {
            broken_ = true;
            buffer_.clear();
            offset_ = 0;
            return std::nullopt;
        }
        if (buffer_.size() - offset_ < kFrameBytes + frame.lParam)
            return std::nullopt;
        frame.text.assign(p + kFrameBytes, frame.lParam);
        length += frame.lParam;
    }
    offset_ += length;
    return frame;
}

std::string ChannelPath(const std::string& title)
{
    const std::string folder = RuntimeFolder();
    if (folder.empty() || title.empty() || title.find('/') != std::string::npos)
        return {};
    return folder + title;
}

ChannelServer::ChannelServer(Handler handler, QObject* parent) : QObject(parent), handler_(std::move(handler)) {}

ChannelServer::~ChannelServer()
{
    Close();
}

bool ChannelServer::listening() const
{
    return server_ && server_->isListening();
}

bool ChannelServer::Listen(const std::string& title)
{
    Close();
    const std::string path = ChannelPath(title);
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path))
        return false;
    // A socket file without a listener is what a program that ended left.
    if (ChannelExists(title))
        return false;
    QLocalServer::removeServer(QString::fromStdString(path));
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(QString::fromStdString(path))) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &ChannelServer::Accept);
    return true;
}

void ChannelServer::Close()
{
    if (!server_)
        return;
    server_->close();
    delete server_;
    server_ = nullptr;
}

void ChannelServer::Accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto reader = std::make_shared<FrameReader>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] { Read(socket, *reader); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A poster may have written and gone before the connection was
        // taken; what it wrote is already buffered and no signal follows.
        if (socket->bytesAvailable() > 0)
            Read(socket, *reader);
    }
}

void ChannelServer::Read(QLocalSocket* socket, FrameReader& reader)
{
    const QByteArray bytes = socket->readAll();
    reader.Feed(bytes.constData(), static_cast<size_t>(bytes.size()));
    while (auto frame = reader.Next()) {
        const uint32_t reply = handler_ ? handler_(*frame) : 0;
        std::string out;
        PutWord(out, reply);
        if (socket->state() == QLocalSocket::ConnectedState)
            socket->write(out.data(), static_cast<qint64>(out.size()));
    }
    if (reader.broken())
        socket->abort();
}

bool ChannelExists(const std::string& title)
{
    const int fd = Connect(title);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool PostFrame(const std::string& title, const ChannelFrame& frame, int timeoutMs)
{
    const int fd = Connect(title);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, EncodeFrame(frame), NowMs() + timeoutMs);
    ::close(fd);
    return ok;
}

namespace {

// Writes the frame and reads the one-number reply on a connected socket.
std::optional<uint32_t> Exchange(int fd, const ChannelFrame& frame, int64_t deadline)
{
    if (!WriteAll(fd, EncodeFrame(frame), deadline))
        return std::nullopt;
    char bytes[kReplyBytes];
    size_t got = 0;
    while (got < kReplyBytes) {
        const ssize_t n = ::recv(fd, bytes + got, kReplyBytes - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLIN, deadline))
            continue;
        break;
    }
    if (got != kReplyBytes)
        return std::nullopt;
    return WordAt(bytes);
}

} // namespace

std::optional<uint32_t> SendFrame(const std::string& title, const ChannelFrame& frame, int timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    const int fd = Connect(title);
    if (fd < 0)
        return std::nullopt;
    const std::optional<uint32_t> reply = Exchange(fd, frame, deadline);
    ::close(fd);
    return reply;
}

HeldReply SendFrameAndHold(const std::string& title, const ChannelFrame& frame, int timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    HeldReply held;
    const int fd = Connect(title);
    if (fd < 0)
        return held;
    held.reply = Exchange(fd, frame, deadline);
    if (held.reply)
        held.fd = fd;
    else
        ::close(fd);
    return held;
}

ConnectionWatch::ConnectionWatch(int fd, QObject* parent) : QObject(parent), fd_(fd)
{
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ConnectionWatch::Check);
}

ConnectionWatch::~ConnectionWatch()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void ConnectionWatch::Check()
{
    // Nothing more is expected on a held connection: bytes are dropped, and
    // end-of-file or an error means the window is gone.
    char buffer[256];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break;
    }
    notifier_->setEnabled(false);
    Q_EMIT closed();
}

} // namespace ormbrook
