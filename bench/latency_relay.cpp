// latency_relay: gives loopback connections the round trip of a distant server.
//
//   latency_relay [--rtt MS] [--listen ADDR] PORT=HOST:PORT...
//
// Each PORT=HOST:PORT listens on ADDR:PORT (127.0.0.1 unless told; PORT 0
// takes a free one) and forwards every accepted connection to HOST:PORT
// (a name, an address, or [v6]). Once listening it prints one line per
// listener, "listening ADDR:PORT -> HOST:PORT", and serves until SIGINT or
// SIGTERM, when it prints how many connections and bytes it carried.
//
// Timing, with R the round trip: the kernel accepts at once, but bytes the
// client sends reach the server no earlier than 1.5 R after the connect (a
// real connect costs R, then the request travels R/2); every later chunk, in
// either direction, arrives R/2 after the relay read it, and so does a
// half-close. Only bytes are carried, so TLS and HTTP/2 pass unchanged.
// Bandwidth is left to the kernel (see tc in the network benchmark).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Nanos = int64_t;

Nanos Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

// A read is this large at most; a direction stops reading from its source
// while more than kHighWater bytes wait to be delivered, and reads again
// below kLowWater, so a slow receiver holds back its sender as TCP would.
constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kHighWater = 4 * 1024 * 1024;
constexpr size_t kLowWater = 1024 * 1024;

struct Chunk {
    Nanos due;
    std::string bytes;  // empty with fin: the sender's half-close
    bool fin = false;
};

// One direction of a relayed connection.
struct Pipe {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    size_t offset = 0;  // bytes of the head chunk already written
    size_t queued = 0;
    bool reading = true;      // EPOLLIN wanted on `from`
    bool writeBlocked = false;  // EPOLLOUT wanted on `to`
    bool finDelivered = false;
    uint64_t carried = 0;
};

struct Conn {
    uint64_t id = 0;
    int client = -1;
    int server = -1;
    bool connected = false;  // the connect to the server has completed
    Nanos accepted = 0;
    // What each socket is registered for; a socket that wants nothing is
    // taken out of epoll, which would otherwise keep reporting its hang-up.
    uint32_t clientEvents = 0;
    uint32_t serverEvents = 0;
    Pipe up;    // client -> server
    Pipe down;  // server -> client
};

struct Listener {
    int fd = -1;
    std::string shown;
    std::vector<sockaddr_storage> targets;
    std::vector<socklen_t> targetLens;
};

// Epoll and timer keys: the low two bits say which socket, the rest which
// connection or listener.
enum Side : uint64_t { kClient = 0, kServer = 1, kListener = 2, kTimer = 3 };
uint64_t Key(uint64_t id, Side side) { return (id << 2) | side; }

class Relay {
public:
    explicit Relay(Nanos rtt) : rtt_(rtt) {}

    bool Init()
    {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (epoll_ < 0 || timer_ < 0)
            return Fail("epoll/timerfd");
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = Key(0, kTimer);
        return epoll_ctl(epoll_, EPOLL_CTL_ADD, timer_, &ev) == 0 || Fail("epoll_ctl");
    }

    bool AddListener(const std::string& listenAddr, const std::string& forward)
    {
        const size_t eq = forward.find('=');
        if (eq == std::string::npos)
            return Usage("expected PORT=HOST:PORT, got " + forward);
        const std::string port = forward.substr(0, eq);
        std::string host = forward.substr(eq + 1);
        const size_t colon = host.rfind(':');
        if (colon == std::string::npos || colon == 0)
            return Usage("expected HOST:PORT after =, got " + host);
        std::string targetPort = host.substr(colon + 1);
        host.resize(colon);
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);

        Listener l;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (int rc = getaddrinfo(host.c_str(), targetPort.c_str(), &hints, &found); rc != 0) {
            std::fprintf(stderr, "latency_relay: %s: %s\n", host.c_str(), gai_strerror(rc));
            return false;
        }
        for (addrinfo* a = found; a; a = a->ai_next) {
            sockaddr_storage ss{};
            std::memcpy(&ss, a->ai_addr, a->ai_addrlen);
            l.targets.push_back(ss);
            l.targetLens.push_back(a->ai_addrlen);
        }
        freeaddrinfo(found);

        hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
        if (int rc = getaddrinfo(listenAddr.c_str(), port.c_str(), &hints, &found); rc != 0) {
            std::fprintf(stderr, "latency_relay: %s:%s: %s\n", listenAddr.c_str(), port.c_str(), gai_strerror(rc));
            return false;
        }
        l.fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int one = 1;
        if (l.fd < 0 || setsockopt(l.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
            bind(l.fd, found->ai_addr, found->ai_addrlen) != 0 || listen(l.fd, 4096) != 0) {
            freeaddrinfo(found);
            return Fail(("listen on " + listenAddr + ":" + port).c_str());
        }
        freeaddrinfo(found);

        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(l.fd, reinterpret_cast<sockaddr*>(&bound), &len);
        l.shown = Show(bound) + " -> " + forward.substr(eq + 1);

        const uint64_t id = listeners_.size();
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = Key(id, kListener);
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, l.fd, &ev) != 0)
            return Fail("epoll_ctl");
        listeners_.push_back(std::move(l));
        return true;
    }

    void Announce() const
    {
        for (const Listener& l : listeners_)
            std::printf("listening %s\n", l.shown.c_str());
        std::fflush(stdout);
    }

    void Run()
    {
        std::vector<epoll_event> events(256);
        while (!g_stop) {
            const int n = epoll_wait(epoll_, events.data(), int(events.size()), -1);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                Fail("epoll_wait");
                return;
            }
            for (int i = 0; i < n; ++i)
                Dispatch(events[i]);
            RunDue();
        }
        std::fprintf(stderr, "latency_relay: %llu connections, %llu bytes up, %llu bytes down\n",
                     (unsigned long long)accepted_, (unsigned long long)bytesUp_, (unsigned long long)bytesDown_);
    }

private:
    static bool Fail(const char* what)
    {
        std::fprintf(stderr, "latency_relay: %s: %s\n", what, std::strerror(errno));
        return false;
    }

    static bool Usage(const std::string& what)
    {
        std::fprintf(stderr, "latency_relay: %s\nusage: latency_relay [--rtt MS] [--listen ADDR] PORT=HOST:PORT...\n",
                     what.c_str());
        return false;
    }

    static std::string Show(const sockaddr_storage& ss)
    {
        char host[INET6_ADDRSTRLEN] = "?";
        unsigned port = 0;
        if (ss.ss_family == AF_INET) {
            auto* in = reinterpret_cast<const sockaddr_in*>(&ss);
            inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
            port = ntohs(in->sin_port);
            return std::string(host) + ":" + std::to_string(port);
        }
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
        inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
        return "[" + std::string(host) + "]:" + std::to_string(port);
    }

    void Dispatch(const epoll_event& ev)
    {
        const uint64_t key = ev.data.u64;
        const auto side = Side(key & 3);
        const uint64_t id = key >> 2;
        if (side == kTimer) {
            uint64_t expirations;
            while (read(timer_, &expirations, sizeof expirations) > 0) {
            }
            armedFor_ = 0;
            return;
        }
        if (side == kListener) {
            Accept(listeners_[id]);
            return;
        }
        auto it = conns_.find(id);
        if (it == conns_.end())
            return;  // closed earlier in this batch
        Conn& c = *it->second;
        const int fd = side == kClient ? c.client : c.server;
        Pipe& reads = side == kClient ? c.up : c.down;
        Pipe& writes = side == kClient ? c.down : c.up;

        if (side == kServer && !c.connected && (ev.events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                errno = err;
                Fail("connect to the server");
                Close(id, true);
                return;
            }
            c.connected = true;
            Flush(id, c.up);
            if (!conns_.count(id))
                return;
        }
        if ((ev.events & EPOLLERR) && (side == kClient || c.connected)) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                Close(id, true);
                return;
            }
        }
        if (ev.events & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
            if (reads.reading && !Read(c, reads)) {
                Close(id, true);
                return;
            }
        }
        if ((ev.events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) && writes.writeBlocked) {
            writes.writeBlocked = false;
            Flush(id, writes);
            if (!conns_.count(id))
                return;
        }
        if (conns_.count(id))
            UpdateInterest(c);
    }

    void Accept(Listener& l)
    {
        for (;;) {
            const int fd = accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                    Fail("accept");
                return;
            }
            auto c = std::make_unique<Conn>();
            c->id = nextId_++;
            c->client = fd;
            c->accepted = Now();
            const sockaddr_storage& target = l.targets.front();
            c->server = socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c->server < 0) {
                Fail("socket");
                close(fd);
                continue;
            }
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            setsockopt(c->server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (connect(c->server, reinterpret_cast<const sockaddr*>(&target), l.targetLens.front()) == 0) {
                c->connected = true;
            } else if (errno != EINPROGRESS) {
                Fail("connect to the server");
                close(fd);
                close(c->server);
                continue;
            }
            c->up.from = c->client;
            c->up.to = c->server;
            c->down.from = c->server;
            c->down.to = c->client;
            ++accepted_;
            UpdateInterest(*c);
            conns_.emplace(c->id, std::move(c));
        }
    }

    // When what the relay reads now is delivered.
    Nanos DueFor(const Conn& c, const Pipe& p, Nanos now) const
    {
        if (&p == &c.up && now < c.accepted + rtt_)
            now = c.accepted + rtt_;
        return now + rtt_ / 2;
    }

    // Reads what is there (one read; level-triggered epoll calls again);
    // false when the connection is to be torn down.
    bool Read(Conn& c, Pipe& p)
    {
        char buffer[kReadSize];
        const ssize_t n = read(p.from, buffer, sizeof buffer);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        const Nanos due = DueFor(c, p, Now());
        const bool wasEmpty = p.queue.empty();
        if (n == 0) {
            p.queue.push_back({due, {}, true});
            p.reading = false;
        } else {
            p.queue.push_back({due, std::string(buffer, size_t(n)), false});
            p.queued += size_t(n);
            if (p.queued > kHighWater)
                p.reading = false;
        }
        if (wasEmpty)
            Schedule(due, Key(c.id, &p == &c.up ? kServer : kClient));
        return true;
    }

    // Writes every chunk that is due; tears the connection down on a write
    // error and once both directions have delivered their half-close.
    void Flush(uint64_t id, Pipe& p)
    {
        Conn& c = *conns_.at(id);
        if (&p == &c.up && !c.connected)
            return;
        const Nanos now = Now();
        while (!p.queue.empty() && !p.writeBlocked) {
            Chunk& head = p.queue.front();
            if (head.due > now) {
                Schedule(head.due, Key(id, &p == &c.up ? kServer : kClient));
                break;
            }
            if (head.fin) {
                shutdown(p.to, SHUT_WR);
                p.finDelivered = true;
                p.queue.pop_front();
                continue;
            }
            const ssize_t n = send(p.to, head.bytes.data() + p.offset, head.bytes.size() - p.offset, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    p.writeBlocked = true;
                    break;
                }
                Close(id, true);
                return;
            }
            p.offset += size_t(n);
            p.carried += uint64_t(n);
            (&p == &c.up ? bytesUp_ : bytesDown_) += uint64_t(n);
            if (p.offset == head.bytes.size()) {
                p.queued -= head.bytes.size();
                p.offset = 0;
                p.queue.pop_front();
            }
        }
        if (!p.reading && !p.finDelivered && p.queued < kLowWater && (p.queue.empty() || !p.queue.back().fin))
            p.reading = true;
        if (c.up.finDelivered && c.down.finDelivered) {
            Close(id, false);
            return;
        }
        UpdateInterest(c);
    }

    void UpdateInterest(Conn& c)
    {
        auto set = [&](int fd, Side side, uint32_t& registered, uint32_t wanted) {
            if (wanted == registered)
                return;
            epoll_event ev{};
            ev.events = wanted;
            ev.data.u64 = Key(c.id, side);
            const int op = registered == 0 ? EPOLL_CTL_ADD : wanted == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
            epoll_ctl(epoll_, op, fd, &ev);
            registered = wanted;
        };
        auto mask = [](bool in, bool out) { return (in ? uint32_t(EPOLLIN) : 0u) | (out ? uint32_t(EPOLLOUT) : 0u); };
        set(c.client, kClient, c.clientEvents, mask(c.up.reading, c.down.writeBlocked));
        set(c.server, kServer, c.serverEvents, mask(c.down.reading, c.up.writeBlocked || !c.connected));
    }

    // Closes both sockets; an abort resets the peers rather than letting
    // them read a clean end the other side never sent.
    void Close(uint64_t id, bool abort)
    {
        auto it = conns_.find(id);
        if (it == conns_.end())
            return;
        Conn& c = *it->second;
        for (int fd : {c.client, c.server}) {
            if (abort) {
                linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            close(fd);
        }
        conns_.erase(it);
    }

    void Schedule(Nanos due, uint64_t pipeKey)
    {
        timers_.push({due, pipeKey});
        Arm();
    }

    void Arm()
    {
        if (timers_.empty())
            return;
        const Nanos next = timers_.top().first;
        if (armedFor_ != 0 && armedFor_ <= next)
            return;
        itimerspec wakeUp{};
        wakeUp.it_value.tv_sec = next / 1'000'000'000;
        wakeUp.it_value.tv_nsec = next % 1'000'000'000;
        if (wakeUp.it_value.tv_sec == 0 && wakeUp.it_value.tv_nsec == 0)
            wakeUp.it_value.tv_nsec = 1;  // zero would disarm
        timerfd_settime(timer_, TFD_TIMER_ABSTIME, &wakeUp, nullptr);
        armedFor_ = next;
    }

    void RunDue()
    {
        const Nanos now = Now();
        while (!timers_.empty() && timers_.top().first <= now) {
            const uint64_t key = timers_.top().second;
            timers_.pop();
            auto it = conns_.find(key >> 2);
            if (it == conns_.end())
                continue;
            Conn& c = *it->second;
            Flush(c.id, Side(key & 3) == kServer ? c.up : c.down);
        }
        armedFor_ = 0;
        Arm();
    }

    const Nanos rtt_;
    int epoll_ = -1;
    int timer_ = -1;
    Nanos armedFor_ = 0;
    uint64_t nextId_ = 1;
    uint64_t accepted_ = 0, bytesUp_ = 0, bytesDown_ = 0;
    std::vector<Listener> listeners_;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> conns_;
    using Timer = std::pair<Nanos, uint64_t>;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
};

}  // namespace

int main(int argc, char** argv)
{
    double rttMs = 60;
    std::string listenAddr = "127.0.0.1";
    std::vector<std::string> forwards;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--rtt" || arg == "--listen") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--listen") {
                listenAddr = value;
                continue;
            }
            char* end = nullptr;
            rttMs = std::strtod(value.c_str(), &end);
            if (*end != '\0' || rttMs < 0) {
                std::fprintf(stderr, "latency_relay: bad --rtt %s\n", value.c_str());
                return 2;
            }
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: latency_relay [--rtt MS] [--listen ADDR] PORT=HOST:PORT...\n");
            return 2;
        } else {
            forwards.push_back(arg);
        }
    }
    if (forwards.empty()) {
        std::fprintf(stderr, "usage: latency_relay [--rtt MS] [--listen ADDR] PORT=HOST:PORT...\n");
        return 2;
    }

    // Two sockets a connection: a crawl with many at once needs room.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    struct sigaction stop{};
    stop.sa_handler = OnStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Relay relay(static_cast<Nanos>(rttMs * 1e6));
    if (!relay.Init())
        return 1;
    for (const std::string& forward : forwards)
        if (!relay.AddListener(listenAddr, forward))
            return 1;
    relay.Announce();
    relay.Run();
    return 0;
}
