#include "engine/conn_pool.h"

#include "platform/ws_error.h"

#include <algorithm>

namespace ormbrook {

namespace {
constexpr int kExpiryTimer = 1;
constexpr int kSessionSweepMs = 1000;
} // namespace

CConnPool::CConnPool()
{
    setObjectName(QStringLiteral("ConnPool"));
    clock_.start();
}

CConnPool::~CConnPool()
{
    for (Idle& i : idle_)
        i.socket->SetListener(nullptr, 0);
}

std::string CConnPool::Key(bool secure, const std::string& host, uint16_t port, const std::string& proxy)
{
    std::string key = secure ? "https " : "http ";
    key.append(host).append(1, ':').append(std::to_string(port));
    if (!proxy.empty())
        key.append(" via ").append(proxy);
    return key;
}

size_t CConnPool::idleCount(const std::string& key) const
{
    return size_t(std::count_if(idle_.begin(), idle_.end(), [&](const Idle& i) { return i.key == key; }));
}

std::unique_ptr<CWSSocket> CConnPool::TakeIdle(const std::string& key)
{
    dropped_.clear();
    const int64_t now = clock_.elapsed();
    for (size_t i = idle_.size(); i-- > 0;) {
        if (idle_[i].key != key)
            continue;
        if (idle_[i].expires <= now || idle_[i].socket->handle() < 0) {
            Drop(i);
            continue;
        }
        std::unique_ptr<CWSSocket> socket = std::move(idle_[i].socket);
        idle_.erase(idle_.begin() + std::ptrdiff_t(i));
        socket->SetListener(nullptr, 0);
        ++reuses_;
        Rearm();
        return socket;
    }
    return nullptr;
}

void CConnPool::PutIdle(const std::string& key, std::unique_ptr<CWSSocket> socket, int idleMs)
{
    dropped_.clear();
    if (!socket || socket->handle() < 0 || socket->state() != CWSSocket::Connected)
        return;
    if (idle_.size() >= kMaxIdle)
        Drop(0);
    const int ms = idleMs > 0 ? std::min(idleMs, kMaxIdleMs) : kDefaultIdleMs;
    const int tag = nextTag_++;
    socket->SetListener(this, tag);
    idle_.push_back(Idle{key, std::move(socket), clock_.elapsed() + ms, tag});
    Rearm();
}

void CConnPool::OnSocketEvent(int tag, int code, int, const char*)
{
    const auto it = std::find_if(idle_.begin(), idle_.end(), [&](const Idle& i) { return i.tag == tag; });
    if (it == idle_.end())
        return;
    if (code == SocketRead) {
        // Nothing is owed on an idle connection. TLS may still bring records
        // that carry no data (session tickets): those read as would-block.
        char byte;
        size_t n = 1;
        if (it->socket->Receive(&byte, n) == WsaWouldBlock)
            return;
    } else if (code != SocketClosed) {
        return;
    }
    Drop(size_t(it - idle_.begin()));
    Rearm();
}

std::shared_ptr<CH2Session> CConnPool::FindH2(const std::string& key)
{
    SweepSessions();
    for (const auto& [k, session] : sessions_)
        if (k == key && session->CanOpen())
            return session;
    return nullptr;
}

void CConnPool::PutH2(const std::string& key, std::shared_ptr<CH2Session> session)
{
    SweepSessions();
    sessions_.emplace_back(key, std::move(session));
    h2Keys_.insert(key);
    ++h2Made_;
    Rearm();
}

void CConnPool::EndConnect(const std::string& key)
{
    const auto it = connecting_.find(key);
    if (it != connecting_.end() && --it->second <= 0)
        connecting_.erase(it);
    std::vector<H2Waiter*> told;
    std::erase_if(waiters_, [&](const auto& w) {
        if (w.first != key)
            return false;
        told.push_back(w.second);
        return true;
    });
    // Each takes a stream, waits again for another connection, or makes one.
    for (H2Waiter* waiter : told)
        waiter->OnH2Settled();
}

void CConnPool::Unwait(H2Waiter* waiter)
{
    std::erase_if(waiters_, [&](const auto& w) { return w.second == waiter; });
}

void CConnPool::SweepSessions()
{
    // Only the pool's reference goes here: a session still in use by a
    // transfer (or inside its own report) lives on until that ends.
    std::erase_if(sessions_, [](const auto& entry) {
        const CH2Session& s = *entry.second;
        return s.streams() == 0 && (s.retired() || s.idleMs() >= kDefaultIdleMs);
    });
}

void CConnPool::Drop(size_t index)
{
    std::unique_ptr<CWSSocket> socket = std::move(idle_[index].socket);
    idle_.erase(idle_.begin() + std::ptrdiff_t(index));
    socket->SetListener(nullptr, 0);
    socket->Close();
    dropped_.push_back(std::move(socket));
}

void CConnPool::Rearm()
{
    if (idle_.empty() && sessions_.empty()) {
        KillTimer(kExpiryTimer);
        return;
    }
    int64_t first = clock_.elapsed() + kSessionSweepMs;
    for (const Idle& i : idle_)
        first = std::min(first, i.expires);
    SetTimer(kExpiryTimer, int(std::max<int64_t>(first - clock_.elapsed(), 1)));
}

void CConnPool::OnTimer(int id)
{
    if (id != kExpiryTimer)
        return;
    KillTimer(kExpiryTimer);
    dropped_.clear();
    const int64_t now = clock_.elapsed();
    for (size_t i = idle_.size(); i-- > 0;)
        if (idle_[i].expires <= now)
            Drop(i);
    SweepSessions();
    Rearm();
}

} // namespace ormbrook
