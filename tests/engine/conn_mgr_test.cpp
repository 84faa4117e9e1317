#include "engine/conn_mgr.h"
#include "engine/ws_event_window.h"
#include "platform/fatal_error.h"
#include "platform/ws_error.h"
#include "support/event_loop.h"
#include "support/fake_resolver.h"
#include "support/fault_sys_calls.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>
#include <cerrno>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

struct Owner : ConnectListener {
    std::vector<int> results;
    void OnConnectDone(int, int result) override { results.push_back(result); }
};

struct Events : WSSocketListener {
    std::vector<int> codes;
    void OnSocketEvent(int, int code, int, const char*) override { codes.push_back(code); }
};

class ConnMgrTest : public ::testing::Test {
protected:
    EventWindowScope window;
    FaultSysCalls sys;
    ScopedSysCalls useSys{sys};
    FakeResolver resolver;
    ScopedHostResolver useResolver{resolver};
    ScriptServer server{Script{KeepOpen(3000)}, 10000};
    Owner owner;
    Events events;
    CWSSocket socket;
    CConnMgr mgr{&owner, 7};
};

} // namespace

TEST_F(ConnMgrTest, TriesAddressesAsTheirFailuresCallFor)
{
    struct Row {
        const char* intent;
        const char* host;
        std::vector<const char*> addresses; // what the lookup answers
        std::vector<std::pair<const char*, int>> faults;
        int result;
        std::vector<const char*> tried;
        bool looksUp;
    } rows[] = {
        {"a dotted-decimal host skips the lookup and fails at once when it times out", "10.1.2.3", {},
         {{"10.1.2.3", ETIMEDOUT}}, CConnMgr::ResultFailed, {"10.1.2.3"}, false},
        {"a dotted-decimal host that answers connects", "127.0.0.1", {}, {}, CConnMgr::ResultConnected, {"127.0.0.1"}, false},
        {"the first two addresses time out, the third connects", "three.test", {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         {{"10.0.0.1", ETIMEDOUT}, {"10.0.0.2", ETIMEDOUT}}, CConnMgr::ResultConnected,
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, true},
        {"an unreachable network moves on like a time-out", "two.test", {"10.0.0.1", "10.0.0.2"},
         {{"10.0.0.1", ENETUNREACH}}, CConnMgr::ResultConnected, {"10.0.0.1", "10.0.0.2"}, true},
        {"a refusal is final: the next address is not tried", "two.test", {"10.0.0.1", "10.0.0.2"},
         {{"10.0.0.1", ECONNREFUSED}}, CConnMgr::ResultFailed, {"10.0.0.1"}, true},
        {"every address timing out fails", "two.test", {"10.0.0.1", "10.0.0.2"},
         {{"10.0.0.1", ETIMEDOUT}, {"10.0.0.2", ETIMEDOUT}}, CConnMgr::ResultFailed, {"10.0.0.1", "10.0.0.2"}, true},
        {"an unknown name fails without connecting", "nowhere.test", {}, {}, CConnMgr::ResultFailed, {}, true},
        {"an IPv6 address that refuses hands over to the IPv4 one", "both.test", {"2001:db8::1", "10.0.0.1"},
         {{"2001:db8::1", ECONNREFUSED}}, CConnMgr::ResultConnected, {"2001:db8::1", "10.0.0.1"}, true},
        {"a silent IPv6 address: IPv4 connects after its head start", "both.test", {"2001:db8::1", "10.0.0.1"},
         {{"2001:db8::1", -1}}, CConnMgr::ResultConnected, {"2001:db8::1", "10.0.0.1"}, true},
        {"IPv4 first when the resolver says so; both refusing fail", "both.test", {"10.0.0.1", "2001:db8::2"},
         {{"10.0.0.1", ECONNREFUSED}, {"2001:db8::2", ECONNREFUSED}}, CConnMgr::ResultFailed,
         {"10.0.0.1", "2001:db8::2"}, true},
        {"a bracketless IPv6 literal skips the lookup", "2001:db8::3", {}, {{"2001:db8::3", ETIMEDOUT}},
         CConnMgr::ResultFailed, {"2001:db8::3"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        FaultSysCalls rowSys;
        ScopedSysCalls use(rowSys);
        FakeResolver rowResolver;
        ScopedHostResolver useR(rowResolver);
        if (!r.addresses.empty()) {
            LookupAnswer a;
            for (const char* s : r.addresses)
                a.addresses.push_back(*SocketAddress::FromLiteral(s));
            rowResolver.SetAnswer(r.host, a);
        }
        for (const auto& [addr, err] : r.faults) {
            const bool v6 = std::string(addr).find(':') != std::string::npos;
            if (err < 0)
                v6 ? rowSys.StallConnect6(addr) : rowSys.StallConnect(Ipv4(addr));
            else
                v6 ? rowSys.FailConnect6(addr, err) : rowSys.FailConnect(Ipv4(addr), err);
        }
        owner.results.clear();

        ASSERT_TRUE(mgr.Start(r.host, server.port(), &socket, &events, 3));
        ASSERT_TRUE(RunUntil([&] { return !owner.results.empty(); }));
        EXPECT_EQ(owner.results, std::vector<int>{r.result});
        EXPECT_EQ(mgr.state(), CConnMgr::State::Idle);
        EXPECT_EQ(rowResolver.asked.size(), r.looksUp ? 1u : 0u);
        std::vector<std::string> expected;
        for (const char* s : r.tried)
            expected.push_back(s);
        EXPECT_EQ(rowSys.connectedLog, expected);
        // One socket per attempt, each closed before the next is opened.
        EXPECT_EQ(rowSys.opened.size(), r.tried.size());
        const size_t closedExpected = r.tried.size() - (r.result == CConnMgr::ResultConnected ? 1 : 0);
        ASSERT_EQ(rowSys.closed.size(), closedExpected);
        for (size_t i = 0; i < closedExpected; ++i)
            EXPECT_EQ(rowSys.closed[i], rowSys.opened[i]);
        EXPECT_EQ(socket.state(), r.result == CConnMgr::ResultConnected ? CWSSocket::Connected : CWSSocket::NotConnected);
        socket.Close();
    }
}

TEST_F(ConnMgrTest, HandsTheConnectedSocketToItsListener)
{
    ScriptServer talker(Script{Send("hello"), KeepOpen(2000)});
    ASSERT_TRUE(mgr.Start("127.0.0.1", talker.port(), &socket, &events, 3));
    ASSERT_TRUE(RunUntil([&] { return !events.codes.empty(); }));
    EXPECT_EQ(owner.results, std::vector<int>{CConnMgr::ResultConnected});
    EXPECT_EQ(events.codes.front(), SocketRead) << "after the outcome, the socket's events go to the given listener";
}

TEST_F(ConnMgrTest, CancelReportsOneAndStopsTheWork)
{
    struct Row {
        const char* intent;
        const char* host;
        bool notify;
        std::vector<int> results;
    } rows[] = {
        {"cancel during the lookup", "slow.test", true, {CConnMgr::ResultCancelled}},
        {"cancel during the connect", "127.0.0.1", true, {CConnMgr::ResultCancelled}},
        {"cancel without the report", "slow.test", false, {}},
    };
    resolver.delayMs = 60000;
    LookupAnswer a;
    a.addresses.push_back(SocketAddress::V4(Ipv4("127.0.0.1")));
    resolver.SetAnswer("slow.test", a);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        owner.results.clear();
        resolver.aborted.clear();
        ASSERT_TRUE(mgr.Start(r.host, server.port(), &socket, &events, 3));
        mgr.Cancel(r.notify);
        EXPECT_EQ(owner.results, r.results);
        EXPECT_EQ(mgr.state(), CConnMgr::State::Idle);
        EXPECT_EQ(socket.handle(), -1);
        EXPECT_EQ(SocketRegistry::Instance().Size(), 0u) << "no task or socket is left registered";
        if (std::string(r.host) == "slow.test") {
            EXPECT_EQ(resolver.aborted.size(), 1u) << "the lookup task is cancelled";
        }
        RunFor(50);
        EXPECT_EQ(owner.results, r.results) << "nothing more is reported later";
    }
}

TEST_F(ConnMgrTest, CancelWhileIdleDoesNothing)
{
    mgr.Cancel(true);
    EXPECT_TRUE(owner.results.empty());
    EXPECT_EQ(mgr.state(), CConnMgr::State::Idle);
    EXPECT_TRUE(sys.opened.empty());
}

TEST_F(ConnMgrTest, StartIsRefusedWhileBusy)
{
    resolver.delayMs = 60000;
    ASSERT_TRUE(mgr.Start("slow.test", 80, &socket, &events, 3));
    EXPECT_FALSE(mgr.Start("other.test", 80, &socket, &events, 3));
    mgr.Cancel(false);
}

// Only a proxy switched on with no name leaves nothing to connect to.
TEST_F(ConnMgrTest, NoHostFailsWithItsReason)
{
    ASSERT_TRUE(mgr.Start("", 8080, &socket, &events, 3));
    ASSERT_TRUE(RunUntil([&] { return !owner.results.empty(); }));
    EXPECT_EQ(owner.results, std::vector<int>{CConnMgr::ResultFailed});
    EXPECT_EQ(mgr.failureText(), "proxy: no proxy name is set (ProxyName)");
}

// A lookup that reports success without an address is a fault the program
// does not go on from; here the fatal report is caught instead.
TEST_F(ConnMgrTest, SuccessfulLookupWithoutAddressIsFatal)
{
    std::vector<std::string> reports;
    FatalHandler previous = SetFatalHandler([&](std::string_view title, std::string_view text) {
        reports.push_back(std::string(title) + "|" + std::string(text));
    });
    resolver.SetAnswer("empty.test", LookupAnswer{});
    ASSERT_TRUE(mgr.Start("empty.test", 80, &socket, &events, 3));
    ASSERT_TRUE(RunUntil([&] { return !owner.results.empty(); }));
    SetFatalHandler(previous);
    EXPECT_EQ(reports, std::vector<std::string>{
                           "Winsock Classes Fatal Error|Can't access address following lookup in CConnMgr::AwaitLookup"});
}

TEST(SystemResolver, KeepsEveryAddressInOrderAndFailsWithoutAny)
{
    struct Row {
        const char* intent;
        QHostInfo::HostInfoError error;
        std::vector<const char*> addresses;
        int wsa;
        std::vector<const char*> kept;
    } rows[] = {
        {"IPv6 and IPv4 addresses in the resolver's order", QHostInfo::NoError,
         {"::1", "127.0.0.9", "fe80::1", "10.0.0.1"}, 0, {"::1", "127.0.0.9", "fe80::1", "10.0.0.1"}},
        {"a name with only IPv6 addresses keeps them", QHostInfo::NoError, {"::1"}, 0, {"::1"}},
        {"a name without addresses fails cleanly", QHostInfo::NoError, {}, WsaNoData, {}},
        {"an unknown name", QHostInfo::HostNotFound, {}, WsaHostNotFound, {}},
        {"a resolver failure", QHostInfo::UnknownError, {}, WsaNoRecovery, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        QHostInfo info;
        info.setError(r.error);
        QList<QHostAddress> list;
        for (const char* a : r.addresses)
            list.append(QHostAddress(QString::fromLatin1(a)));
        info.setAddresses(list);
        const LookupAnswer answer = AnswerFromHostInfo(info);
        EXPECT_EQ(answer.error, r.wsa);
        std::vector<std::string> kept, expected;
        for (const SocketAddress& a : answer.addresses)
            kept.push_back(a.Text());
        for (const char* a : r.kept)
            expected.push_back(a);
        EXPECT_EQ(kept, expected);
    }
}

TEST(SystemResolver, LocalhostConnectsThroughTheSystemResolver)
{
    EventWindowScope window;
    ScriptServer server(Script{KeepOpen(2000)});
    Owner owner;
    Events events;
    CWSSocket socket;
    CConnMgr mgr(&owner, 1);
    ASSERT_TRUE(mgr.Start("localhost", server.port(), &socket, &events, 0));
    ASSERT_TRUE(RunUntil([&] { return !owner.results.empty(); }, 10000));
    EXPECT_FALSE(mgr.literal());
    EXPECT_EQ(owner.results, std::vector<int>{CConnMgr::ResultConnected});
    EXPECT_TRUE(server.WaitForConnections(1, 2000));
}
