#pragma once
// Host-name lookup behind a small interface, so that tests can answer with
// the addresses they need.

#include "platform/sys_calls.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QHostInfo;

namespace ormbrook {

struct LookupAnswer {
    int error = 0;                        // Winsock-style, 0 on success
    std::vector<SocketAddress> addresses; // IPv6 and IPv4, port 0, in the resolver's order
};

// What the system resolver's reply means here: every IPv4 and IPv6
// address, in order; a name with none fails with WsaNoData.
LookupAnswer AnswerFromHostInfo(const QHostInfo& info);

class HostResolver {
public:
    using Done = std::function<void(int task, const LookupAnswer& answer)>;

    virtual ~HostResolver() = default;

    // Starts resolving `name`; `done` runs later on `context`'s thread unless
    // the task is aborted first. Returns a task id > 0, or 0 when the lookup
    // could not be started.
    virtual int Start(const std::string& name, QObject* context, Done done) = 0;
    virtual void Abort(int task) = 0;

    static HostResolver& Current();
};

// The system resolver, run by Qt on its own pool.
class SystemHostResolver : public HostResolver {
public:
    int Start(const std::string& name, QObject* context, Done done) override;
    void Abort(int task) override;
};

class ScopedHostResolver {
public:
    explicit ScopedHostResolver(HostResolver& resolver);
    ~ScopedHostResolver();
    ScopedHostResolver(const ScopedHostResolver&) = delete;
    ScopedHostResolver& operator=(const ScopedHostResolver&) = delete;

private:
    HostResolver* previous_;
};

} // namespace ormbrook
