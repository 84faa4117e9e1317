// https downloads of one slot against nginx with TLS: certificates made by a
// throw-away authority, a proxy's tunnel, the handshake under the
// connection time-out, and the system-call faults under TLS.

#include "common/messages.h"
#include "engine/conn_mgr.h"
#include "engine/dl_obj.h"
#include "engine/download_records.h"
#include "support/event_loop.h"
#include "support/fake_resolver.h"
#include "support/fault_sys_calls.h"
#include "support/nginx_server.h"
#include "support/script_server.h"
#include "support/test_authority.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

class Recorder : public MessageTarget {
public:
    std::vector<uint32_t> messages;
    int result = 0;

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        messages.push_back(message);
        if (auto* r = dynamic_cast<SlotResultRecord*>(record.get()))
            result = r->result;
    }
};

// A page larger than one TLS record, so that records wait inside TLS while
// the head buffer takes its 1001 bytes.
std::string BigBody()
{
    std::string body;
    for (int i = 0; body.size() < 100000; ++i)
        body += "line " + std::to_string(i) + " of a page that spans many TLS records\n";
    return body;
}

// A TLS server for one connection that answers without a length, sends
// part of a body and ends with or without close_notify.
class CutTlsServer {
public:
    CutTlsServer(const IssuedCertificate& certificate, bool closeNotify)
    {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(ctx_, certificate.certificate.c_str());
        SSL_CTX_use_PrivateKey_file(ctx_, certificate.key.c_str(), SSL_FILETYPE_PEM);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, closeNotify] {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                std::string request;
                char buffer[1024];
                int n = 0;
                while (request.find("\r\n\r\n") == std::string::npos && (n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
                    request.append(buffer, size_t(n));
                const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>twenty bytes..";
                SSL_write(ssl, answer.data(), int(answer.size()));
                if (closeNotify)
                    SSL_shutdown(ssl);
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            SSL_free(ssl);
        });
    }
    ~CutTlsServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        SSL_CTX_free(ctx_);
    }
    int port() const { return port_; }

private:
    SSL_CTX* ctx_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

struct Job {
    int result = 0;
    std::string file;
    std::string failure;
    bool connectedReported = false;
};

class TlsTransferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!TestAuthority::Available() || !NginxServer::Available())
            return;
        authority = new TestAuthority;
        other = new TestAuthority;
        if (!authority->ok() || !other->ok())
            return;
        good = authority->Issue("good", {"127.0.0.1", "localhost"});
        wrongName = authority->Issue("wrong-name", {"other.example"});
        expired = authority->Issue("expired", {"127.0.0.1"}, true);
        selfSigned = authority->Issue("self-signed", {"127.0.0.1"}, false, true);
        unknown = other->Issue("unknown", {"127.0.0.1"});
        idn = authority->Issue("idn", {"xn--r8jz45g.xn--zckzah"});
        commonNameOnly = authority->Issue("cn-only", {"localhost"}, false, false, true);
    }
    static void TearDownTestSuite()
    {
        delete authority;
        delete other;
        authority = other = nullptr;
    }

    void SetUp() override
    {
        if (!authority || !authority->ok() || good.certificate.empty())
            GTEST_SKIP() << "openssl or nginx missing";
        std::ofstream(site.path().toStdString() + "/page.html") << "<html>hello over TLS</html>";
        std::ofstream(site.path().toStdString() + "/big.html") << BigBody();
        context = std::make_unique<CTlsContext>(authority->caFile());
    }

    bool Serve(NginxServer& server, const IssuedCertificate& certificate)
    {
        NginxServer::Options options;
        options.root = site.path().toStdString();
        options.tlsCertificate = certificate.certificate;
        options.tlsKey = certificate.key;
        return server.Start(options);
    }

    Job Fetch(const std::string& url, bool acceptUnverified = false, int connectionTimeout = 20,
              const std::string& proxy = {}, int proxyPort = 0)
    {
        QueueEntry item;
        item.url = url;
        Recorder status, manager;
        auto obj = DLObj::Create();
        EXPECT_TRUE(obj->Prepare(&item, &status, &manager, 1, dir));
        obj->SetTimeouts(20, connectionTimeout, 20, 20, 20, 20);
        obj->SetTlsContext(context.get());
        obj->SetAcceptUnverified(acceptUnverified);
        obj->SetProxy(!proxy.empty(), proxy, uint16_t(proxyPort));
        obj->StartPage(DLObj::KindGet);
        Job job;
        EXPECT_TRUE(RunUntil([&] { return manager.result != 0; }, 15000));
        job.result = manager.result;
        job.failure = obj->failureText();
        QFile f(QString::fromStdString(obj->tempPath()));
        if (f.open(QIODevice::ReadOnly))
            job.file = f.readAll().toStdString();
        RunFor(20);
        for (uint32_t m : status.messages)
            job.connectedReported |= m == MsgStatusConnected;
        obj->Release();
        return job;
    }

    static inline TestAuthority* authority = nullptr;
    static inline TestAuthority* other = nullptr;
    static inline IssuedCertificate good, wrongName, expired, selfSigned, unknown, idn, commonNameOnly;

    EventWindowScope window;
    QTemporaryDir site;
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString() + "/";
    std::unique_ptr<CTlsContext> context;
};

} // namespace

TEST_F(TlsTransferTest, FetchesOverTlsAndResumesTheSessionOnLaterConnections)
{
    NginxServer server;
    ASSERT_TRUE(Serve(server, good)) << server.lastError();
    const std::string body = BigBody();
    for (int i = 0; i < 5; ++i) {
        const Job job = Fetch(server.origin() + "/big.html");
        EXPECT_EQ(job.result, 2) << job.failure;
        EXPECT_EQ(job.file, body) << "fetch " << i;
        EXPECT_TRUE(job.failure.empty());
    }
    EXPECT_EQ(context->handshakes(), 5u);
    EXPECT_GE(context->resumed(), 4u) << "one full handshake, then resumptions";
    // The server agrees: the same request over TLS, resumed after the first.
    std::istringstream log(server.TlsLog());
    int lines = 0, resumed = 0;
    for (std::string line; std::getline(log, line); ++lines) {
        EXPECT_NE(line.find("GET /big.html HTTP/1.0"), std::string::npos) << line;
        resumed += line.starts_with("r ");
    }
    EXPECT_EQ(lines, 5);
    EXPECT_GE(resumed, 4);
}

TEST_F(TlsTransferTest, RecordsSurviveWouldBlockAndShortReadsAndWrites)
{
    NginxServer server;
    ASSERT_TRUE(Serve(server, good)) << server.lastError();
    const std::string body = BigBody();
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        FaultSysCalls sys;
        sys.SetFlaky(seed, 30, 7, 333);
        ScopedSysCalls use(sys);
        const Job job = Fetch(server.origin() + "/big.html");
        EXPECT_EQ(job.result, 2) << job.failure;
        EXPECT_EQ(job.file, body);
    }
}

TEST_F(TlsTransferTest, ACertificateThatDoesNotVerifyFailsWithItsReasonUnlessAccepted)
{
    struct Row {
        const char* intent;
        const IssuedCertificate* certificate;
        const char* host;
        const char* failure;
    } rows[] = {
        {"a certificate for another host name", &wrongName, "localhost", "certificate: hostname mismatch"},
        {"a name only in the subject's CN, as browsers refuse", &commonNameOnly, "localhost",
         "certificate: hostname mismatch"},
        {"a certificate for a name, not the address", &wrongName, "127.0.0.1", "certificate: IP address mismatch"},
        {"an expired certificate", &expired, "127.0.0.1", "certificate: certificate has expired"},
        {"a self-signed certificate", &selfSigned, "127.0.0.1", "certificate: self-signed certificate"},
        {"a certificate of an authority not trusted", &unknown, "127.0.0.1",
         "certificate: unable to get local issuer certificate"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        NginxServer server;
        ASSERT_TRUE(Serve(server, *row.certificate)) << server.lastError();
        const std::string url = "https://" + std::string(row.host) + ":" + std::to_string(server.port()) + "/page.html";
        const Job refused = Fetch(url);
        EXPECT_EQ(refused.result, 3);
        EXPECT_EQ(refused.failure, row.failure);
        EXPECT_FALSE(refused.connectedReported) << "a refused server is never connected";
        EXPECT_EQ(server.AccessLog(), "") << "no request reaches a server that was refused";
        const Job accepted = Fetch(url, true);
        EXPECT_EQ(accepted.result, 2) << accepted.failure;
        EXPECT_EQ(accepted.file, "<html>hello over TLS</html>");
        // The server's name goes with the hello (SNI); an address does not.
        const std::string name = row.host == std::string("localhost") ? "localhost" : "-";
        EXPECT_NE(server.TlsLog().find(" " + name + " GET /page.html HTTP/1.0"), std::string::npos) << server.TlsLog();
    }
}

// A host in Unicode goes into TLS by its ASCII form: the server name of the
// hello and the name the certificate is checked against. The test's
// resolver knows only that form.
TEST_F(TlsTransferTest, AHostInUnicodeIsNamedAndCheckedByItsAsciiForm)
{
    const std::string ascii = "xn--r8jz45g.xn--zckzah";
    FakeResolver resolver;
    resolver.SetAnswer(ascii, LookupAnswer{0, {*SocketAddress::FromLiteral("127.0.0.1")}});
    ScopedHostResolver use(resolver);
    NginxServer server;
    ASSERT_TRUE(Serve(server, idn)) << server.lastError();
    const Job job = Fetch("https://例え.テスト:" + std::to_string(server.port()) + "/page.html");
    EXPECT_EQ(job.result, 2) << job.failure;
    EXPECT_EQ(job.file, "<html>hello over TLS</html>");
    EXPECT_NE(server.TlsLog().find(" " + ascii + " GET /page.html HTTP/1.0"), std::string::npos) << server.TlsLog();
}

// A body without a length ends at the close only when TLS says it ended:
// a socket shut without close_notify may have cut it.
TEST_F(TlsTransferTest, ABodyWithoutALengthIsCompleteOnlyWithCloseNotify)
{
    for (const bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "close_notify" : "no close_notify");
        CutTlsServer server(good, closeNotify);
        const Job job = Fetch("https://localhost:" + std::to_string(server.port()) + "/page.html");
        EXPECT_EQ(job.result, closeNotify ? 2 : 3) << "failed as a reset of a plain connection is: " << job.failure;
        if (closeNotify) {
            EXPECT_EQ(job.file, "<html>twenty bytes..");
        }
    }
}

TEST_F(TlsTransferTest, TheConnectionTimeOutCoversTheHandshake)
{
    // A server that takes the connection and never answers the hello.
    ScriptServer silent(Script{KeepOpen(10000)});
    const Job job = Fetch("https://127.0.0.1:" + std::to_string(silent.port()) + "/", false, 1);
    EXPECT_EQ(job.result, 1) << "aborted by the connection time-out";
    EXPECT_FALSE(job.connectedReported);
}

TEST_F(TlsTransferTest, NotTlsAtAllFailsWithATlsReason)
{
    ScriptServer plain(Script{Send("HTTP/1.0 400 Bad Request\r\n\r\nplain http here"), Close()});
    const Job job = Fetch("https://127.0.0.1:" + std::to_string(plain.port()) + "/");
    EXPECT_EQ(job.result, 3);
    EXPECT_TRUE(job.failure.starts_with("TLS: ")) << job.failure;
}

TEST_F(TlsTransferTest, ThroughAProxyTheRequestGoesInATunnel)
{
    if (!TinyProxy::Available())
        GTEST_SKIP() << "tinyproxy missing";
    NginxServer server;
    ASSERT_TRUE(Serve(server, good)) << server.lastError();
    TinyProxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.lastError();
    const Job job = Fetch(server.origin() + "/page.html?a=1", false, 20, "127.0.0.1", proxy.port());
    EXPECT_EQ(job.result, 2) << job.failure;
    EXPECT_EQ(job.file, "<html>hello over TLS</html>");
    EXPECT_NE(proxy.Log().find("CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.0"),
              std::string::npos)
        << proxy.Log();
    // Inside the tunnel the server gets the request it would get directly.
    EXPECT_EQ(server.AccessLog(), "200 GET /page.html?a=1 HTTP/1.0\n");

    TinyProxy strict;
    ASSERT_TRUE(strict.Start({1})) << strict.lastError();
    const Job refused = Fetch(server.origin() + "/page.html", false, 20, "127.0.0.1", strict.port());
    EXPECT_EQ(refused.result, 3);
    EXPECT_EQ(refused.failure, "proxy: HTTP/1.0 403 Access violation");
}

TEST(ConnMgrTunnel, AsksForTheServerAndItsPort)
{
    EXPECT_EQ(CConnMgr::TunnelRequest("www.example:443"), "CONNECT www.example:443 HTTP/1.0\r\nHOST:www.example:443\r\n\r\n");
}
