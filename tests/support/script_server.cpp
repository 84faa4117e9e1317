#include "support/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace ormbrook::test {

using Clock = std::chrono::steady_clock;

std::string FillPattern(size_t offset, size_t count)
{
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i)
        s[i] = char('A' + (offset + i) % 251 % 58);
    return s;
}

ScriptServer::ScriptServer(Script script, int lifetimeMs) : ScriptServer(std::vector<Script>{std::move(script)}, lifetimeMs) {}

ScriptServer::ScriptServer(std::vector<Script> scripts, int lifetimeMs)
    : scripts_(std::move(scripts)), deadline_(Clock::now() + std::chrono::milliseconds(lifetimeMs))
{
    if (scripts_.empty())
        scripts_.push_back({});
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 64);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() { Stop(); }

void ScriptServer::Stop()
{
    stop_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads)
        t.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

bool ScriptServer::Expired() const { return stop_ || Clock::now() >= deadline_; }

size_t ScriptServer::Connections() const
{
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::string ScriptServer::Received(size_t i) const
{
    std::lock_guard lock(mutex_);
    return i < received_.size() ? received_[i] : std::string();
}

bool ScriptServer::WaitForConnections(size_t n, int ms) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return received_.size() >= n; });
}

bool ScriptServer::WaitForScriptEnd(size_t i, int ms) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return i < finished_.size() && finished_[i]; });
}

uint16_t ScriptServer::UnusedPort()
{
    // Bound but never listening: the port stays ours and refuses connections.
    static const uint16_t port = [] {
        static int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }();
    return port;
}

void ScriptServer::AcceptLoop()
{
    while (!Expired()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(mutex_);
        const size_t index = received_.size();
        received_.emplace_back();
        finished_.push_back(false);
        connections_.emplace_back([this, index, fd] { RunScript(index, fd); });
        changed_.notify_all();
    }
}

namespace {
// Waits up to `ms` (bounded by `expired`) for input; appends it. Returns
// false once the peer has closed or the connection failed.
bool ReadSome(int fd, std::string& into, int ms)
{
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, std::max(0, ms));
    if (r <= 0)
        return true;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
        into.append(buf, size_t(n));
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}
} // namespace

void ScriptServer::RunScript(size_t index, int fd)
{
    const Script& script = scripts_[std::min(index, scripts_.size() - 1)];
    bool peerOpen = true;
    auto record = [&](int ms) {
        std::string got;
        peerOpen = ReadSome(fd, got, ms) && peerOpen;
        if (!got.empty()) {
            std::lock_guard lock(mutex_);
            received_[index] += got;
        }
    };
    auto sendAll = [&](const char* data, size_t len) {
        while (len > 0 && !Expired()) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    continue;
                return false;
            }
            data += n;
            len -= size_t(n);
        }
        return len == 0;
    };
    auto wait = [&](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!Expired() && Clock::now() < until) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
            if (peerOpen)
                record(std::min(left, 20));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 20)));
        }
    };

    bool closed = false;
    size_t headEnd = 0; // where the request heads read so far end
    for (const Step& step : script) {
        if (Expired() || closed)
            break;
        switch (step.kind) {
        case Step::ReadHead:
            // The n-th ReadHead of a script waits for the n-th request head
            // (a persistent connection carries several).
            while (!Expired() && peerOpen) {
                {
                    std::lock_guard lock(mutex_);
                    const std::string& r = received_[index];
                    size_t at = headEnd;
                    const size_t crlf = r.find("\r\n\r\n", at);
                    const size_t lf = r.find("\n\n", at);
                    if (crlf != std::string::npos || lf != std::string::npos) {
                        headEnd = std::min(crlf == std::string::npos ? r.size() : crlf + 4,
                                           lf == std::string::npos ? r.size() : lf + 2);
                        break;
                    }
                }
                record(20);
            }
            break;
        case Step::Send:
            sendAll(step.bytes.data(), step.bytes.size());
            break;
        case Step::SendFill: {
            const size_t block = 251 * 256; // whole cycles, so every block is the same
            const std::string data = FillPattern(0, block);
            size_t left = step.count;
            while (left > 0 && !Expired()) {
                const size_t n = std::min(left, block);
                if (!sendAll(data.data(), n))
                    break;
                left -= n;
            }
            break;
        }
        case Step::Pause:
            wait(step.ms);
            break;
        case Step::SendSlowly:
            for (size_t at = 0; at < step.bytes.size() && !Expired(); at += std::max<size_t>(step.count, 1)) {
                sendAll(step.bytes.data() + at, std::min(std::max<size_t>(step.count, 1), step.bytes.size() - at));
                wait(step.ms);
            }
            break;
        case Step::KeepOpen: {
            const auto until = Clock::now() + std::chrono::milliseconds(step.ms);
            while (!Expired() && peerOpen && Clock::now() < until)
                record(20);
            break;
        }
        case Step::Close:
            closed = true;
            break;
        case Step::Reset: {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
            fd = -1;
            closed = true;
            break;
        }
        }
    }
    if (fd >= 0) {
        // Orderly close: FIN first, then take what is still coming until the
        // peer closes too, so that unread input never turns the close into a
        // reset.
        ::shutdown(fd, SHUT_WR);
        const auto until = Clock::now() + std::chrono::milliseconds(2000);
        while (peerOpen && !Expired() && Clock::now() < until)
            record(20);
        ::close(fd);
    }
    std::lock_guard lock(mutex_);
    finished_[index] = true;
    changed_.notify_all();
}

} // namespace ormbrook::test
