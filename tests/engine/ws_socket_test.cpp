#include "engine/ws_event_window.h"
#include "engine/ws_socket.h"
#include "platform/fatal_error.h"
#include "platform/ws_error.h"
#include "support/event_loop.h"
#include "support/fault_sys_calls.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

struct Event {
    int code;
    int error;
    const char* tag;
    bool operator==(const Event&) const = default;
};

struct Listener : WSSocketListener {
    CWSSocket* socket = nullptr;
    bool reads = true;
    std::vector<Event> events;
    std::string data;
    void OnSocketEvent(int, int code, int error, const char* tag) override
    {
        events.push_back({code, error, tag});
        if (code == SocketRead && reads) {
            char buf[7]; // small on purpose: several reads per arrival
            size_t n = sizeof buf;
            if (socket->Receive(buf, n) == 0)
                data.append(buf, n);
        }
    }
    bool Has(int code) const
    {
        for (const Event& e : events)
            if (e.code == code)
                return true;
        return false;
    }
};

sockaddr_in Address(const char* dotted, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = Ipv4(dotted);
    return a;
}

class SocketTest : public ::testing::Test {
protected:
    void ConnectTo(uint16_t port)
    {
        listener.socket = &socket;
        socket.SetListener(&listener, 0);
        const int r = socket.Connect(Address("127.0.0.1", port));
        ASSERT_TRUE(r == 0 || r == WsaWouldBlock) << r;
        ASSERT_TRUE(RunUntil([&] { return listener.Has(SocketConnected); }));
        ASSERT_EQ(listener.events.front(), (Event{SocketConnected, 0, nullptr}));
        listener.events.clear();
    }

    EventWindowScope window;
    FaultSysCalls sys;
    ScopedSysCalls useSys{sys};
    Listener listener;
    CWSSocket socket;
};

} // namespace

TEST_F(SocketTest, ConnectErrorReachesTheListenerAndNothingMoreIsAskedFor)
{
    struct Row {
        const char* intent;
        int err;
        int wsa;
    } rows[] = {
        {"refused", ECONNREFUSED, WsaRefused},
        {"timed out", ETIMEDOUT, WsaTimedOut},
        {"network unreachable", ENETUNREACH, WsaNetUnreachable},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        // The server writes and closes at once: a socket still watched would
        // report both.
        ScriptServer server(Script{Send("unwanted"), Close()});
        FaultSysCalls rowSys;
        ScopedSysCalls use(rowSys);
        rowSys.FailConnect(Ipv4("10.9.9.9"), r.err);
        Listener l;
        CWSSocket s;
        s.SetListener(&l, 0);
        EXPECT_EQ(s.Connect(Address("10.9.9.9", server.port())), WsaWouldBlock);
        ASSERT_TRUE(RunUntil([&] { return !l.events.empty(); }));
        EXPECT_EQ(WSEventWindow::Current()->WatchedEvents(s.handle()), -1);
        RunFor(100);
        EXPECT_EQ(l.events, std::vector<Event>{(Event{SocketConnected, r.wsa, nullptr})});
        EXPECT_EQ(s.state(), CWSSocket::NotConnected);
    }
}

TEST_F(SocketTest, ReportsDataAndTheCloseOnce)
{
    struct Row {
        const char* intent;
        Script script;
        bool reads;
        std::string data;
        int closeError;
    } rows[] = {
        {"a reading listener gets every byte, then the close", {Send("hello, world"), Close()}, true, "hello, world", 0},
        {"a listener that stops reading still hears the close", {Send("not read"), Close()}, false, "", 0},
        {"data written slowly arrives whole", {SendSlowly("abcdefghijklmnop", 3, 5), Close()}, true, "abcdefghijklmnop", 0},
        {"data that fills the last read exactly is followed by the close", {Send("fourteen bytes"), Close()}, true,
         "fourteen bytes", 0},
        {"a close with nothing sent", {Close()}, true, "", 0},
        {"a reset is a close carrying its error", {Pause(50), Reset()}, true, "", WsaConnReset},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(r.script);
        Listener l;
        l.reads = r.reads;
        l.socket = &socket;
        socket.SetListener(&l, 0);
        socket.Connect(Address("127.0.0.1", server.port()));
        ASSERT_TRUE(RunUntil([&] { return l.Has(SocketClosed); }));
        RunFor(50);
        EXPECT_EQ(l.data, r.data);
        int closes = 0;
        for (const Event& e : l.events)
            closes += e.code == SocketClosed;
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(l.events.back(), (Event{SocketClosed, r.closeError, nullptr}));
        socket.Close();
    }
}

// Whatever the kernel does to the sends (short writes, would-block), the
// bytes leave in the order given and each send is reported once, in order.
TEST_F(SocketTest, SendNeverOvertakesQueuedData)
{
    struct Row {
        const char* intent;
        unsigned seed;
        int percentWouldBlock;
        size_t maxSend;
    } rows[] = {
        {"short writes", 1, 0, 5},
        {"would-block a third of the time", 2, 33, 0},
        {"both at once", 3, 50, 3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(Script{KeepOpen(5000)});
        FaultSysCalls rowSys;
        ScopedSysCalls use(rowSys);
        // The first send would block, so everything after it must queue.
        rowSys.onSend = [](int, size_t, int call) -> std::optional<ssize_t> {
            if (call == 0)
                return -EAGAIN;
            return std::nullopt;
        };
        rowSys.SetFlaky(r.seed, r.percentWouldBlock, r.maxSend);
        Listener l;
        l.socket = &socket;
        socket.SetListener(&l, 0);
        socket.Connect(Address("127.0.0.1", server.port()));
        ASSERT_TRUE(RunUntil([&] { return l.Has(SocketConnected); }));

        std::vector<std::string> parts;
        for (int i = 0; i < 6; ++i)
            parts.push_back(FillPattern(size_t(i) * 1000, 200 + size_t(i) * 300));
        std::string all;
        for (size_t i = 0; i < parts.size(); ++i) {
            const int callsBefore = rowSys.sendCalls;
            EXPECT_EQ(socket.Send(parts[i].data(), parts[i].size()), WsaWouldBlock);
            if (i > 0) {
                EXPECT_EQ(rowSys.sendCalls, callsBefore) << "a send behind queued data waits its turn";
            }
            all += parts[i];
        }
        ASSERT_TRUE(RunUntil([&] { return socket.queuedSends() == 0; }));
        std::vector<const char*> order;
        for (const Event& e : l.events)
            if (e.code == SocketSent) {
                EXPECT_EQ(e.error, 0);
                order.push_back(e.tag);
            }
        ASSERT_EQ(order.size(), parts.size());
        for (size_t i = 0; i < parts.size(); ++i)
            EXPECT_EQ(order[i], parts[i].data());
        socket.Close();
        ASSERT_TRUE(server.WaitForScriptEnd(0, 3000));
        EXPECT_EQ(server.Received(0), all);
    }
}

TEST_F(SocketTest, SendFailingWhileDrainingReportsThatEntryAndGoesOn)
{
    ScriptServer server(Script{KeepOpen(5000)});
    ConnectTo(server.port());
    const std::string a = "aaaaa", b = "bbbbbb", c = "ccccccc";
    bool failedB = false;
    sys.onSend = [&](int, size_t length, int call) -> std::optional<ssize_t> {
        if (call == 0)
            return -EAGAIN;
        if (length == b.size() && !failedB) {
            failedB = true;
            return -ECONNRESET;
        }
        return std::nullopt;
    };
    EXPECT_EQ(socket.Send(a.data(), a.size()), WsaWouldBlock);
    EXPECT_EQ(socket.Send(b.data(), b.size()), WsaWouldBlock);
    EXPECT_EQ(socket.Send(c.data(), c.size()), WsaWouldBlock);
    ASSERT_TRUE(RunUntil([&] { return socket.queuedSends() == 0; }));
    EXPECT_EQ(listener.events, (std::vector<Event>{{SocketSent, 0, a.data()},
                                                   {SocketSent, WsaConnReset, b.data()},
                                                   {SocketSent, 0, c.data()}}));
    socket.Close();
    ASSERT_TRUE(server.WaitForScriptEnd(0, 3000));
    EXPECT_EQ(server.Received(0), a + c);
}

TEST_F(SocketTest, ImmediateSendErrorQueuesNothing)
{
    ScriptServer server(Script{KeepOpen(2000)});
    ConnectTo(server.port());
    sys.onSend = [](int, size_t, int) -> std::optional<ssize_t> { return -EPIPE; };
    const std::string a = "abc";
    EXPECT_EQ(socket.Send(a.data(), a.size()), WsaShutDown);
    EXPECT_EQ(socket.queuedSends(), 0u);
}

TEST(SocketRegistry, InconsistencyIsFatalWithItsMessage)
{
    struct Row {
        const char* intent;
        void (*act)();
        const char* text;
    } rows[] = {
        {"registering a pair twice",
         [] {
             SocketRegistry::Instance().Register(5, WSKindSocket, nullptr);
             SocketRegistry::Instance().Register(5, WSKindSocket, nullptr);
         },
         "ソケットの登録に失敗しました。"},
        {"unregistering an absent pair", [] { SocketRegistry::Instance().Unregister(6, WSKindLookup); },
         "ソケットの開放に失敗しました。"},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        EXPECT_EXIT(r.act(), ::testing::ExitedWithCode(1), std::string("Winsock Classes Fatal Error: ") + r.text);
    }
}

TEST(SocketRegistry, SameHandleOfEachKindIsTwoEntries)
{
    std::vector<std::string> reports;
    FatalHandler previous = SetFatalHandler([&](std::string_view, std::string_view text) { reports.emplace_back(text); });
    SocketRegistry& reg = SocketRegistry::Instance();
    WSEventTarget a, b;
    EXPECT_TRUE(reg.Register(9, WSKindSocket, &a));
    EXPECT_TRUE(reg.Register(9, WSKindLookup, &b));
    EXPECT_EQ(reg.Find(9, WSKindSocket), &a);
    EXPECT_EQ(reg.Find(9, WSKindLookup), &b);
    EXPECT_TRUE(reg.Unregister(9, WSKindSocket));
    EXPECT_EQ(reg.Find(9, WSKindSocket), nullptr);
    EXPECT_FALSE(reg.Unregister(9, WSKindSocket));
    EXPECT_EQ(reports, std::vector<std::string>{"ソケットの開放に失敗しました。"});
    reg.Clear();
    SetFatalHandler(previous);
}
