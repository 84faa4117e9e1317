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

#include <memory>
#include <string>
#include <vector>

namespace ormbrook {

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
    // Dropped sockets are destroyed outside their own reports.
    std::vector<std::unique_ptr<CWSSocket>> dropped_;
    QElapsedTimer clock_;
    int nextTag_ = 1;
    uint64_t reuses_ = 0;
};

} // namespace ormbrook
