#pragma once
// The connection manager's pool for one crawl: connections whose exchange
// ended cleanly wait here, idle, for the next request to the same place
// (scheme, host, port and proxy make the key), until the server's
// Keep-Alive time-out or kDefaultIdleMs. A server that closes an idle
// connection, or sends anything on it, has it dropped at once. HTTP/2
// sessions are kept here too, shared by the transfers to their server,
// until they have been without a stream for their idle time.

#include "engine/h2_session.h"
#include "engine/ws_socket.h"
#include "platform/message_target.h"

#include <QElapsedTimer>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ormbrook {

// A transfer waiting for a connection another one is making to a server
// that spoke HTTP/2 before: told once that connection has come or failed.
class H2Waiter {
public:
    virtual ~H2Waiter() = default;
    virtual void OnH2Settled() = 0;
};

class CConnPool : public MessageTarget, private WSSocketListener {
    Q_OBJECT
public:
    static constexpr int kDefaultIdleMs = 5000;
    // A server's own time-out is taken up to this long.
    static constexpr int kMaxIdleMs = 60000;
    // Idle connections kept at most, across all keys (the oldest goes first).
    static constexpr size_t kMaxIdle = 32;

    CConnPool();
    ~CConnPool() override;

    // "http host:port", "https host:port", with " via proxy:port" when the
    // connection is made to a proxy.
    static std::string Key(bool secure, const std::string& host, uint16_t port, const std::string& proxy = {});

    // The connection to key that idled least long, or null. The caller
    // becomes its listener.
    std::unique_ptr<CWSSocket> TakeIdle(const std::string& key);
    // Keeps a connection whose exchange has ended cleanly. idleMs <= 0:
    // kDefaultIdleMs.
    void PutIdle(const std::string& key, std::unique_ptr<CWSSocket> socket, int idleMs);

    // An HTTP/2 session to key that takes another stream now, or null.
    std::shared_ptr<CH2Session> FindH2(const std::string& key);
    void PutH2(const std::string& key, std::shared_ptr<CH2Session> session);
    size_t h2Count() const { return sessions_.size(); }
    // Whether a connection to key has become an HTTP/2 session before.
    bool SpeaksH2(const std::string& key) const { return h2Keys_.contains(key); }
    // Connections being made to such a key: a new download waits for one
    // (Wait) rather than making another, and takes a stream of it.
    void BeginConnect(const std::string& key) { ++connecting_[key]; }
    // The connection came (after PutH2 when it speaks HTTP/2) or failed:
    // the key's waiters are told.
    void EndConnect(const std::string& key);
    bool Connecting(const std::string& key) const { return connecting_.contains(key); }
    void Wait(const std::string& key, H2Waiter* waiter) { waiters_.emplace_back(key, waiter); }
    void Unwait(H2Waiter* waiter);
    // HTTP/2 sessions made over the pool's life.
    uint64_t h2Sessions() const { return h2Made_; }

    size_t idleCount() const { return idle_.size(); }
    size_t idleCount(const std::string& key) const;
    // Connections taken again from the pool, over the pool's life.
    uint64_t reuses() const { return reuses_; }

protected:
    void OnTimer(int id) override;

private:
    struct Idle {
        std::string key;
        std::unique_ptr<CWSSocket> socket;
        int64_t expires; // on clock_
        int tag;
    };

    void OnSocketEvent(int tag, int code, int error, const char* sendTag) override;
    void Drop(size_t index);
    void Rearm();

    // Drops the sessions that are done: retired and without streams, or
    // idle past their time.
    void SweepSessions();

    std::vector<Idle> idle_;
    std::vector<std::pair<std::string, std::shared_ptr<CH2Session>>> sessions_;
    uint64_t h2Made_ = 0;
    std::set<std::string> h2Keys_;
    std::map<std::string, int> connecting_;
    std::vector<std::pair<std::string, H2Waiter*>> waiters_;
    // Dropped sockets are destroyed outside their own reports.
    std::vector<std::unique_ptr<CWSSocket>> dropped_;
    QElapsedTimer clock_;
    int nextTag_ = 1;
    uint64_t reuses_ = 0;
};

} // namespace ormbrook
