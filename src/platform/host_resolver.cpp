#include "platform/host_resolver.h"

#include "platform/ws_error.h"

#include <QHostInfo>

#include <cstring>
#include <memory>

#include <arpa/inet.h>

namespace ormbrook {

namespace {
HostResolver* g_current = nullptr;

} // namespace

LookupAnswer AnswerFromHostInfo(const QHostInfo& info)
{
    LookupAnswer answer;
    switch (info.error()) {
    case QHostInfo::NoError:
        break;
    case QHostInfo::HostNotFound:
        answer.error = WsaHostNotFound;
        return answer;
    default:
        answer.error = WsaNoRecovery;
        return answer;
    }
    for (const QHostAddress& a : info.addresses()) {
        bool isV4 = false;
        const quint32 v4 = a.toIPv4Address(&isV4);
        if (isV4) {
            answer.addresses.push_back(SocketAddress::V4(htonl(v4)));
        } else if (a.protocol() == QAbstractSocket::IPv6Protocol) {
            const Q_IPV6ADDR bytes = a.toIPv6Address();
            in6_addr v6;
            std::memcpy(&v6, bytes.c, sizeof v6);
            answer.addresses.push_back(SocketAddress::V6(v6));
        }
    }
    if (answer.addresses.empty())
        answer.error = WsaNoData;
    return answer;
}

HostResolver& HostResolver::Current()
{
    static SystemHostResolver system;
    return g_current ? *g_current : system;
}

int SystemHostResolver::Start(const std::string& name, QObject* context, Done done)
{
    // The answer names its task by the id lookupHost returned; the id inside
    // the reply is not the same on every path through Qt.
    auto task = std::make_shared<int>(0);
    const int id = QHostInfo::lookupHost(QString::fromStdString(name), context,
                                         [task, done = std::move(done)](const QHostInfo& info) {
                                             done(*task, AnswerFromHostInfo(info));
                                         });
    *task = id;
    return id > 0 ? id : 0;
}

void SystemHostResolver::Abort(int task) { QHostInfo::abortHostLookup(task); }

ScopedHostResolver::ScopedHostResolver(HostResolver& resolver) : previous_(g_current) { g_current = &resolver; }

ScopedHostResolver::~ScopedHostResolver() { g_current = previous_; }

} // namespace ormbrook
