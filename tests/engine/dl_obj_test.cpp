#include "common/messages.h"
#include "engine/conn_pool.h"
#include "engine/dl_obj.h"
#include "engine/download_records.h"
#include "support/event_loop.h"
#include "support/fault_file_calls.h"
#include "support/compress.h"
#include "support/fake_resolver.h"
#include "support/fault_sys_calls.h"
#include "support/nginx_server.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <functional>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

struct Msg {
    uint32_t message = 0;
    int slot = -1;
    int64_t a = 0; // length or result
    int64_t b = 0; // bytes so far
    std::string text = {};
    bool operator==(const Msg&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Msg& m)
{
    return os << "{" << m.message - WM_USER << " slot " << m.slot << " " << m.a << " " << m.b << " '" << m.text << "'}";
}

class Recorder : public MessageTarget {
public:
    std::vector<Msg> msgs;

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        Msg m{message, -1};
        if (auto* r = dynamic_cast<SlotUrlRecord*>(record.get()))
            m.slot = r->slot, m.text = r->url;
        else if (auto* r = dynamic_cast<SlotLengthRecord*>(record.get()))
            m.slot = r->slot, m.a = r->contentLength;
        else if (auto* r = dynamic_cast<SlotProgressRecord*>(record.get()))
            m.slot = r->slot, m.a = r->contentLength, m.b = r->bytes;
        else if (auto* r = dynamic_cast<SlotResultRecord*>(record.get()))
            m.slot = r->slot, m.a = r->result;
        else if (auto* r = dynamic_cast<SlotRecord*>(record.get()))
            m.slot = r->slot;
        msgs.push_back(m);
    }
};

struct Timeouts {
    int total = 20, connection = 20, reply = 20, header = 20, data = 20, close = 20;
};

struct Outcome {
    int result = 0;
    bool fileExists = false;
    std::string file;
    std::optional<std::string> kept;
};

class DLObjTest : public ::testing::Test {
protected:
    std::string Url(uint16_t port, const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }

    // Runs one page job to its outcome; the temporary file is read before
    // the slot is released.
    Outcome RunPage(const std::string& url, const Timeouts& t = {}, int waitMs = 8000)
    {
        item.url = url;
        obj = DLObj::Create();
        EXPECT_TRUE(obj->Prepare(&item, &status, &manager, 2, dir));
        obj->SetTimeouts(t.total, t.connection, t.reply, t.header, t.data, t.close);
        obj->StartPage(DLObj::KindGet);
        Outcome o;
        EXPECT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }, waitMs));
        if (manager.msgs.empty())
            return o;
        o.result = int(manager.msgs.back().a);
        QFile f(QString::fromStdString(obj->tempPath()));
        o.fileExists = f.exists();
        if (f.open(QIODevice::ReadOnly))
            o.file = f.readAll().toStdString();
        o.kept = obj->TakeKeptBody();
        RunFor(20); // lets late status messages arrive
        return o;
    }

    EventWindowScope window;
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString() + "/";
    Recorder status, manager;
    QueueEntry item;
    std::unique_ptr<DLObj> obj;
};

std::string Head(const std::string& statusLine, const std::string& fields = "")
{
    return statusLine + "\r\n" + fields + "\r\n";
}

} // namespace

// Every way a page transfer ends, with the bytes it leaves in the temporary
// file. Time-outs of one second stand for "the server went quiet".
TEST_F(DLObjTest, EndsEachWayWithItsResultAndFile)
{
    const std::string bigHead = "HTTP/1.0 200 OK\r\nX-Filler: " + std::string(1200, 'x') + "\r\n\r\nbody";
    const std::string hugeHead = "HTTP/1.0 200 OK\r\n" + std::string(70 * 1024, 'x');
    struct Row {
        const char* intent;
        Script script;
        Timeouts timeouts;
        int result;
        std::string file;
        bool fileExists = true;
    } rows[] = {
        {"a body with its length on a connection the server keeps open completes at the close",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 5\r\n") + "hello"), Pause(300), Close()}, {}, 2, "hello"},
        {"the same with no close is aborted by the data time-out",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 5\r\n") + "hello"), KeepOpen(8000)},
         {20, 20, 20, 20, 1, 20}, 1, "hello"},
        {"a 302's body is not read; complete at the close",
         {ReadHead(), Send(Head("HTTP/1.0 302 Found", "Location: /elsewhere\r\n") + "moved body"), Pause(100), Close()}, {}, 2, ""},
        {"a 301's body lands in the file",
         {ReadHead(), Send(Head("HTTP/1.0 301 Moved", "Location: /x\r\n") + "moved body"), Close()}, {}, 2, "moved body"},
        {"a head over 1001 bytes is read like any other",
         {ReadHead(), Send(bigHead), Close()}, {20, 20, 20, 1, 20, 20}, 2, "body"},
        {"a head over 64 KB fails at once, before any time-out",
         {ReadHead(), Send(hugeHead), KeepOpen(8000)}, {20, 20, 20, 20, 20, 20}, 3, "", false},
        {"a zero length is no length: read until the close",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 0\r\n")), Pause(100), Send("tail"), Close()}, {}, 2, "tail"},
        {"a body without a length ends normally at the close",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK")), SendSlowly(std::string(3000, 'b'), 700, 10), Close()}, {}, 2,
         std::string(3000, 'b')},
        {"a body without a length cut by a reset: failed, however much came",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK") + std::string(2000, 'r')), Pause(100), Reset()}, {}, 3,
         std::string(2000, 'r')},
        {"a body cut off before its length is truncated: failed",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 100\r\n") + "only ten b"), Close()}, {}, 3, "only ten b"},
        {"a 304 is complete at once, without waiting for the close",
         {ReadHead(), Send(Head("HTTP/1.0 304 Not Modified")), KeepOpen(8000)}, {}, 2, "", false},
        {"a 404 fails", {ReadHead(), Send(Head("HTTP/1.0 404 Not Found") + "gone"), KeepOpen(8000)}, {}, 3, "", false},
        {"a malformed status line fails", {ReadHead(), Send("HTPP/1.0 200 OK\r\n\r\nx"), KeepOpen(8000)}, {}, 3, "", false},
        {"a close before the head is complete fails",
         {ReadHead(), Send("HTTP/1.0 200 OK\r\nContent-Le"), Close()}, {}, 3, "", false},
        {"a server that never answers is aborted by the reply time-out", {ReadHead(), KeepOpen(8000)},
         {20, 20, 1, 20, 20, 20}, 1, "", false},
        {"the total time-out ends a slow body",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK")), SendSlowly(std::string(500, 'c'), 1, 20), Close()},
         {1, 20, 20, 20, 20, 20}, 1, "", true},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(r.script);
        manager.msgs.clear();
        const Outcome o = RunPage(Url(server.port(), "/page.html"), r.timeouts);
        EXPECT_EQ(o.result, r.result);
        EXPECT_EQ(o.fileExists, r.fileExists);
        if (std::string(r.intent).find("total") == std::string::npos)
            EXPECT_EQ(o.file, r.file);
        else
            EXPECT_LT(o.file.size(), 500u);
        EXPECT_EQ(manager.msgs.size(), 1u) << "one outcome per job";
        if (o.kept)
            EXPECT_EQ(*o.kept, o.file) << "the copy in memory is the file";
        else
            EXPECT_TRUE(o.file.empty()) << "a body that was written is kept";
        obj->Release();
        EXPECT_FALSE(QFile::exists(QString::fromStdString(obj->tempPath()))) << "the slot removes its file";
        EXPECT_TRUE(obj->free());
    }
}

TEST_F(DLObjTest, KeepsOnlyBodiesWithinTheLimitInMemory)
{
    for (size_t size : {DLObj::kKeptBodyLimit, DLObj::kKeptBodyLimit + 1}) {
        SCOPED_TRACE(size);
        const std::string body(size, 'k');
        ScriptServer server({ReadHead(), Send(Head("HTTP/1.0 200 OK") + body), Close()});
        manager.msgs.clear();
        const Outcome o = RunPage(Url(server.port(), "/big.html"));
        EXPECT_EQ(o.result, 2);
        EXPECT_EQ(o.file.size(), size);
        EXPECT_EQ(o.kept.has_value(), size <= DLObj::kKeptBodyLimit);
        EXPECT_FALSE(obj->TakeKeptBody()) << "taken once";
        obj->Release();
    }
}

// A temporary file that can't be written whole (the disk is full, a quota)
// fails the job whatever the network did, and leaves no file behind.
TEST_F(DLObjTest, ATemporaryFileThatCannotBeWrittenWholeFailsTheJob)
{
    const std::string body(200000, 'w');
    struct Row {
        const char* intent;
        std::function<void(FaultFileCalls&)> fault;
        int err;
    } rows[] = {
        {"the first write fails", [](FaultFileCalls& f) { f.FailWrite(0); }, ENOSPC},
        {"the disk fills in the middle of the body", [](FaultFileCalls& f) { f.FailAfterBytes(70000); }, ENOSPC},
        {"a write goes in half, then the quota is reached", [](FaultFileCalls& f) { f.FailWrite(1, EDQUOT, true); },
         EDQUOT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        ScriptServer server({ReadHead(), Send(Head("HTTP/1.0 200 OK") + body), Close()});
        FaultFileCalls files;
        row.fault(files);
        ScopedFileCalls use(files);
        manager.msgs.clear();
        const Outcome o = RunPage(Url(server.port(), "/full.html"));
        EXPECT_EQ(o.result, 3);
        EXPECT_EQ(obj->writeError(), row.err);
        EXPECT_FALSE(o.kept.has_value());
        EXPECT_EQ(manager.msgs.size(), 1u) << "one outcome";
        const std::string temp = obj->tempPath();
        obj->Release();
        EXPECT_FALSE(QFile::exists(QString::fromStdString(temp)));
    }
}

TEST_F(DLObjTest, ConnectionFailuresFail)
{
    {
        SCOPED_TRACE("a refused connection fails");
        const Outcome o = RunPage(Url(ScriptServer::UnusedPort(), "/"));
        EXPECT_EQ(o.result, 3);
        obj->Release();
    }
    {
        SCOPED_TRACE("a connection not made within the connection time-out is given up (aborted)");
        FaultSysCalls sys;
        sys.StallConnect(Ipv4("10.0.0.9"));
        ScopedSysCalls use(sys);
        manager.msgs.clear();
        Timeouts t;
        t.connection = 1;
        const Outcome o = RunPage("http://10.0.0.9/", t);
        EXPECT_EQ(o.result, 1);
        obj->Release();
    }
}

TEST_F(DLObjTest, ReportsEachStepToTheStatusViewAndTheManager)
{
    ScriptServer server(Script{ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 5\r\n") + "hello"), Close()});
    const std::string url = Url(server.port(), "/a.html");
    const Outcome o = RunPage(url);
    ASSERT_EQ(o.result, 2);
    EXPECT_EQ(status.msgs, (std::vector<Msg>{{MsgStatusContacting, 2, 0, 0, url},
                                             {MsgStatusConnected, 2},
                                             {MsgStatusHeadRead, 2, 5},
                                             {MsgStatusProgress, 2, 5, 5}}));
    EXPECT_EQ(manager.msgs, (std::vector<Msg>{{MsgManagerPageDone, 2, 2}}));
    obj->Release();
}

TEST_F(DLObjTest, CancelAbortsTheRunningJob)
{
    ScriptServer server(Script{ReadHead(), KeepOpen(8000)});
    item.url = Url(server.port(), "/");
    obj = DLObj::Create();
    ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 0, dir));
    obj->StartPage(DLObj::KindGet);
    ASSERT_TRUE(server.WaitForConnections(1, 3000));
    RunFor(50);
    obj->Cancel();
    ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }));
    EXPECT_EQ(manager.msgs, (std::vector<Msg>{{MsgManagerPageDone, 0, 1}}));
    obj->Release();
}

// The bytes that reach the server, for each way a request is built.
TEST_F(DLObjTest, SendsTheExactRequest)
{
    struct Row {
        const char* intent;
        std::string url;       // %P is replaced by the server's port
        std::string robotsUrl; // the item's own robots.txt URL, %P likewise
        bool robots;
        bool proxy;
        std::string request;
        bool http11 = false;
    } rows[] = {
        {"a page GET", "http://127.0.0.1:%P/dir/page.html?q=1", "", false, false,
         "GET /dir/page.html?q=1 HTTP/1.0\r\nACCEPT:*/*\r\nHOST:127.0.0.1\r\n\r\n"},
        {"a robots.txt GET carries no field but HOST", "http://127.0.0.1:%P/dir/page.html",
         "http://127.0.0.1:%P/robots.txt", true, false, "GET /robots.txt HTTP/1.0\r\nHOST:127.0.0.1\r\n\r\n"},
        {"through a proxy the request line carries the whole URL, query included",
         "http://example.test/a/b.cgi?x=1&y=2", "", false, true,
         "GET http://example.test/a/b.cgi?x=1&y=2 HTTP/1.0\r\nACCEPT:*/*\r\nHOST:example.test\r\n\r\n"},
        {"without its own robots URL a slot asks the page's own server, port included", "http://example.test:8080/p",
         "", true, true, "GET http://example.test:8080/robots.txt HTTP/1.0\r\nHOST:example.test\r\n\r\n"},
        {"HTTP/1.1 names the port beside the host when it is not 80", "http://127.0.0.1:%P/dir/page.html?q=1", "",
         false, false,
         "GET /dir/page.html?q=1 HTTP/1.1\r\nACCEPT:*/*\r\nACCEPT-ENCODING:gzip, deflate, br\r\nHOST:127.0.0.1:%P\r\n\r\n",
         true},
        {"an HTTP/1.1 robots.txt GET", "http://127.0.0.1:%P/p", "", true, false,
         "GET /robots.txt HTTP/1.1\r\nACCEPT-ENCODING:gzip, deflate, br\r\nHOST:127.0.0.1:%P\r\n\r\n", true},
        {"HTTP/1.1 through a proxy; port 80 is not named", "http://example.test:80/a?x=1", "", false, true,
         "GET http://example.test:80/a?x=1 HTTP/1.1\r\nACCEPT:*/*\r\nACCEPT-ENCODING:gzip, deflate, br\r\n"
         "HOST:example.test\r\n\r\n",
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(Script{ReadHead(), Send(Head("HTTP/1.0 200 OK") + "x"), Close()});
        auto fill = [&](std::string s) {
            for (size_t at; (at = s.find("%P")) != std::string::npos;)
                s.replace(at, 2, std::to_string(server.port()));
            return s;
        };
        item = QueueEntry{};
        item.url = fill(r.url);
        item.robotsUrl = fill(r.robotsUrl);
        manager.msgs.clear();
        obj = DLObj::Create();
        ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 1, dir));
        obj->SetProxy(r.proxy, "127.0.0.1", server.port());
        obj->SetExchange(!r.http11, nullptr);
        if (r.robots)
            obj->StartRobots(DLObj::KindGet);
        else
            obj->StartPage(DLObj::KindGet);
        ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }));
        EXPECT_EQ(manager.msgs.back().message, r.robots ? MsgManagerRobotsDone : MsgManagerPageDone);
        EXPECT_EQ(manager.msgs.back().a, 2);
        ASSERT_TRUE(server.WaitForScriptEnd(0, 3000));
        EXPECT_EQ(server.Received(0), fill(r.request));
        obj->Release();
    }
}

TEST_F(DLObjTest, RobotsThenPageOnTheSameJob)
{
    ScriptServer server(std::vector<Script>{
        {ReadHead(), Send(Head("HTTP/1.0 200 OK") + "User-agent: *\r\n"), Close()},
        {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 4\r\n") + "page"), Close()},
    });
    item.url = Url(server.port(), "/p.html");
    item.robotsUrl = Url(server.port(), "/robots.txt");
    obj = DLObj::Create();
    ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 4, dir));
    obj->StartRobots(DLObj::KindGet);
    ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }));
    EXPECT_EQ(manager.msgs.back(), (Msg{MsgManagerRobotsDone, 4, 2}));
    obj->StartPage(DLObj::KindGet);
    ASSERT_TRUE(RunUntil([&] { return manager.msgs.size() == 2; }));
    EXPECT_EQ(manager.msgs.back(), (Msg{MsgManagerPageDone, 4, 2}));
    QFile f(QString::fromStdString(obj->tempPath()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "page") << "the page's head empties what the robots fetch left";
    obj->Release();
}

TEST_F(DLObjTest, TemporaryFileIsNamedAfterTheSlot)
{
    item.url = "http://example.test/";
    obj = DLObj::Create();
    ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 3, "/data/mirror/"));
    EXPECT_EQ(obj->tempPath(), "/data/mirror/tmp3.dat");
    obj->Release();
}

TEST_F(DLObjTest, ReleaseFreesAttachedEntriesButNotTheItem)
{
    item.url = "http://example.test/";
    obj = DLObj::Create();
    ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 0, dir));
    ASSERT_TRUE(obj->Attach(new QueueEntry{}));
    ASSERT_TRUE(obj->Attach(new QueueEntry{}));
    EXPECT_EQ(obj->attached().size(), 3u);
    EXPECT_EQ(obj->attached().front(), &item);
    obj->Release(); // the two attached entries are freed here (asan checks it)
    EXPECT_TRUE(obj->attached().empty());
    item.url = "still ours";
}

TEST_F(DLObjTest, TimeoutsAreKeptInMilliseconds)
{
    obj = DLObj::Create();
    obj->SetTimeouts(60, 10, 20, 30, 40, 0);
    const int expected[] = {10000, 20000, 30000, 40000, 0, 60000};
    for (int timer = 1; timer <= 6; ++timer)
        EXPECT_EQ(obj->timeout(timer), expected[timer - 1]) << "timer " << timer;
}

// Would-block answers and short reads and writes from the kernel, seeded:
// the same bytes must reach the file and the job must end the same way.
TEST_F(DLObjTest, FlakyKernelChangesNothingObservable)
{
    struct Row {
        const char* intent;
        unsigned seed;
        int percentWouldBlock;
        size_t maxSend;
        size_t maxRecv;
    } rows[] = {
        {"reads come back short", 11, 0, 0, 97},
        {"a quarter of the calls would block", 12, 25, 0, 0},
        {"both, and the request goes out a few bytes at a time", 13, 40, 4, 300},
    };
    const std::string body = FillPattern(0, 100000);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(Script{ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 100000\r\n")),
                                   SendSlowly(body, 30000, 5), Close()});
        FaultSysCalls sys;
        sys.SetFlaky(r.seed, r.percentWouldBlock, r.maxSend, r.maxRecv);
        ScopedSysCalls use(sys);
        manager.msgs.clear();
        status.msgs.clear();
        const Outcome o = RunPage(Url(server.port(), "/flaky.bin"));
        EXPECT_EQ(o.result, 2);
        EXPECT_TRUE(o.file == body) << "file of " << o.file.size() << " bytes differs";
        ASSERT_FALSE(status.msgs.empty());
        EXPECT_EQ(status.msgs.back(), (Msg{MsgStatusProgress, 2, 100000, 100000}));
        obj->Release();
    }
}

// HTTP/1.1: where each kind of answer ends, and whether its connection is
// kept for the next request.
TEST_F(DLObjTest, Http11EndsEachAnswerByItsFramingAndKeepsWhatItCan)
{
    const std::string chunked = "4;ext=1\r\nchun\r\n6\r\nked bo\r\n2\r\ndy\r\n0\r\nX-Trailer: dropped\r\n\r\n";
    struct Row {
        const char* intent;
        Script script;
        int result;
        std::string file;
        bool kept;
    } rows[] = {
        {"a length ends the body without waiting for the close",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Content-Length: 5\r\n") + "hello"), KeepOpen(8000)}, 2, "hello", true},
        {"a chunked body is decoded, its extensions and trailer dropped",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n")), SendSlowly(chunked, 7, 5),
          KeepOpen(8000)},
         2, "chunked body", true},
        {"a chunked body cut by the close fails",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n") + "5\r\nhal"), Close()}, 3, "hal",
         false},
        {"a broken chunk size fails", {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n") + "zz\r\n"),
          KeepOpen(8000)}, 3, "", false},
        {"no length: the body ends at the close, which keeps nothing",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK") + "until the end"), Close()}, 2, "until the end", false},
        {"Connection: close is honoured",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Content-Length: 2\r\nConnection: close\r\n") + "ok"), KeepOpen(8000)},
         2, "ok", false},
        {"an HTTP/1.0 server closes after its answer unless it says keep-alive",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 2\r\n") + "ok"), KeepOpen(8000)}, 2, "ok", false},
        {"an HTTP/1.0 server that says keep-alive keeps it",
         {ReadHead(), Send(Head("HTTP/1.0 200 OK", "Content-Length: 2\r\nConnection: keep-alive\r\n") + "ok"),
          KeepOpen(8000)},
         2, "ok", true},
        {"a 404's page is read past: failed, and the connection kept",
         {ReadHead(), Send(Head("HTTP/1.1 404 Not Found", "Content-Length: 9\r\n") + "not found"), KeepOpen(8000)}, 3, "",
         true},
        {"a 304 has no body", {ReadHead(), Send(Head("HTTP/1.1 304 Not Modified", "ETag: \"x\"\r\n")), KeepOpen(8000)}, 2,
         "", true},
        {"a 302's body is read past",
         {ReadHead(), Send(Head("HTTP/1.1 302 Found", "Location: /b\r\nContent-Length: 5\r\n") + "moved"), KeepOpen(8000)},
         2, "", true},
        {"an interim 100 goes before the answer",
         {ReadHead(), Send(Head("HTTP/1.1 100 Continue") + Head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok"),
          KeepOpen(8000)},
         2, "ok", true},
        {"bytes beyond the answer: the connection is not trusted again",
         {ReadHead(), Send(Head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "okjunk"), KeepOpen(8000)}, 2, "ok", false},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(r.script);
        CConnPool pool;
        manager.msgs.clear();
        item.url = Url(server.port(), "/p.html");
        obj = DLObj::Create();
        ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 1, dir));
        obj->SetExchange(false, &pool);
        obj->StartPage(DLObj::KindGet);
        ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }, 5000));
        EXPECT_EQ(manager.msgs.back().a, r.result);
        QFile f(QString::fromStdString(obj->tempPath()));
        std::string file;
        if (f.open(QIODevice::ReadOnly))
            file = f.readAll().toStdString();
        EXPECT_EQ(file, r.file);
        EXPECT_EQ(pool.idleCount(), r.kept ? 1u : 0u);
        obj->Release();
    }
}

// Requests of one crawl to one server share a connection; one the server
// closed while it idled is replaced, unseen, by a new one.
TEST_F(DLObjTest, Http11ReusesIdleConnectionsAndRetriesOneClosedMeanwhile)
{
    const std::string ok = Head("HTTP/1.1 200 OK", "Content-Length: 2\r\n") + "ok";
    struct Row {
        const char* intent;
        std::vector<Script> scripts;
        bool closedWhileIdle;
        size_t connections;
        int secondResult;
    } rows[] = {
        {"the second request goes out on the first one's connection",
         {{ReadHead(), Send(ok), ReadHead(), Send(ok), KeepOpen(8000)}}, false, 1, 2},
        {"a server that closed the idle connection: the pool notices, the next request connects anew",
         {{ReadHead(), Send(ok), Close()}, {ReadHead(), Send(ok), KeepOpen(8000)}}, true, 2, 2},
        {"a server that closes instead of answering a reused connection: one retry on a new one",
         {{ReadHead(), Send(ok), ReadHead(), Close()}, {ReadHead(), Send(ok), KeepOpen(8000)}}, false, 2, 2},
        {"a new connection that is closed at once is not retried",
         {{ReadHead(), Send(ok), ReadHead(), Close()}, {ReadHead(), Close()}}, false, 2, 3},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(r.scripts);
        CConnPool pool;
        std::vector<int> results;
        for (int job = 0; job < 2; ++job) {
            manager.msgs.clear();
            item.url = Url(server.port(), "/p" + std::to_string(job) + ".html");
            obj = DLObj::Create();
            ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 0, dir));
            obj->SetExchange(false, &pool);
            obj->StartPage(DLObj::KindGet);
            ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }, 5000));
            results.push_back(int(manager.msgs.back().a));
            obj->Release();
            if (job == 0 && r.closedWhileIdle) {
                ASSERT_TRUE(RunUntil([&] { return pool.idleCount() == 0; }, 3000));
            }
        }
        EXPECT_EQ(results, (std::vector<int>{2, r.secondResult}));
        EXPECT_EQ(server.Connections(), r.connections);
        const std::string both = server.Received(0) + server.Received(1);
        EXPECT_NE(both.find("GET /p1.html HTTP/1.1\r\n"), std::string::npos) << both;
    }
}

// A compressed body is stored as the document it codes, its progress
// counted in the bytes that came (what Content-Length counts); one that
// does not decode fails, so that the old copy stays.
TEST_F(DLObjTest, CompressedBodiesAreStoredDecoded)
{
    std::string document;
    for (int i = 0; document.size() < 150000; ++i)
        document += "<p>line " + std::to_string(i) + " of a page that compresses well</p>\n";
    const std::string gz = Compressed(Coding::Gzip, document);
    std::string corrupt = gz;
    for (size_t i = 12; i < 40; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x5a);
    auto withLength = [](const std::string& coding, const std::string& body) {
        return Head("HTTP/1.1 200 OK", "Content-Encoding: " + coding + "\r\nContent-Length: " + std::to_string(body.size())
                                           + "\r\n")
            + body;
    };
    auto chunked = [](const std::string& coding, const std::string& body) {
        std::string out = Head("HTTP/1.1 200 OK", "Content-Encoding: " + coding + "\r\nTransfer-Encoding: chunked\r\n");
        for (size_t at = 0; at < body.size(); at += 1000) {
            const std::string piece = body.substr(at, 1000);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            out += size + piece + "\r\n";
        }
        return out + "0\r\n\r\n";
    };
    struct Row {
        const char* intent;
        std::string answer;
        int result;
        bool whole;            // the file is the document
        int64_t wire;          // the last progress: bytes that came (0: not checked)
    } rows[] = {
        {"gzip with its length", withLength("gzip", gz), 2, true, int64_t(gz.size())},
        {"gzip in chunks", chunked("gzip", gz), 2, true, int64_t(gz.size())},
        {"deflate in the zlib format", withLength("deflate", Compressed(Coding::Deflate, document)), 2, true, 0},
        {"deflate without its wrapper, as some servers send it",
         withLength("deflate", Compressed(Coding::RawDeflate, document)), 2, true, 0},
        {"br", chunked("br", Compressed(Coding::Brotli, document)), 2, true, 0},
        {"a coding in capitals", withLength("GZIP", gz), 2, true, 0},
        {"a body that is not gzip fails", withLength("gzip", corrupt), 3, false, 0},
        {"a gzip body cut short fails", withLength("gzip", gz.substr(0, gz.size() / 2)), 3, false, 0},
        {"bytes after the end of the coded stream fail", withLength("gzip", gz + "junk"), 3, false, 0},
        {"a coding not asked for fails", withLength("compress", gz), 3, false, 0},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(Script{ReadHead(), Send(r.answer), KeepOpen(8000)});
        manager.msgs.clear();
        status.msgs.clear();
        item.url = Url(server.port(), "/c.html");
        obj = DLObj::Create();
        ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 1, dir));
        obj->SetExchange(false, nullptr);
        obj->StartPage(DLObj::KindGet);
        ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }, 5000));
        EXPECT_EQ(manager.msgs.back().a, r.result);
        QFile f(QString::fromStdString(obj->tempPath()));
        std::string file;
        if (f.open(QIODevice::ReadOnly))
            file = f.readAll().toStdString();
        EXPECT_EQ(file == document, r.whole) << file.size() << " bytes";
        if (r.result == 3) {
            EXPECT_FALSE(obj->failureText().empty());
        }
        if (r.wire) {
            RunFor(20);
            ASSERT_FALSE(status.msgs.empty());
            EXPECT_EQ(status.msgs.back().b, r.wire);
        }
        obj->Release();
    }
}

// A name whose only address is IPv6 is fetched from it; one with both
// families reaches the server on whichever it listens on.
TEST_F(DLObjTest, NamesWithIpv6AddressesAreFetchedFromThem)
{
    QTemporaryDir site;
    QFile page(site.path() + "/p.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("six");
    page.close();
    NginxServer nginx;
    NginxServer::Options options;
    options.root = site.path().toStdString();
    options.ipv6Only = true;
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx missing";
    ASSERT_TRUE(nginx.Start(options)) << nginx.lastError();
    FakeResolver resolver;
    ScopedHostResolver use(resolver);
    resolver.SetAnswer("six.test", LookupAnswer{0, {*SocketAddress::FromLiteral("::1")}});
    resolver.SetAnswer("both.test", LookupAnswer{0, {*SocketAddress::FromLiteral("127.0.0.1"),
                                                     *SocketAddress::FromLiteral("::1")}});
    for (const char* host : {"six.test", "both.test"}) {
        SCOPED_TRACE(host);
        manager.msgs.clear();
        for (const bool http10 : {true, false}) {
            manager.msgs.clear();
            item.url = "http://" + std::string(host) + ":" + std::to_string(nginx.port()) + "/p.html";
            obj = DLObj::Create();
            ASSERT_TRUE(obj->Prepare(&item, &status, &manager, 0, dir));
            obj->SetExchange(http10, nullptr);
            obj->StartPage(DLObj::KindGet);
            ASSERT_TRUE(RunUntil([&] { return !manager.msgs.empty(); }, 5000));
            EXPECT_EQ(manager.msgs.back().a, 2);
            QFile f(QString::fromStdString(obj->tempPath()));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll().toStdString(), "six");
            obj->Release();
        }
    }
}
