// End-to-end crawls of https sites: qry as its own process against nginx
// with TLS, trusting a throw-away authority through SSL_CERT_FILE.

#include "support/crawl_fixture.h"
#include "support/script_server.h"
#include "support/test_authority.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using ormbrook::test::CrawlFixture;
using ormbrook::test::IssuedCertificate;
using ormbrook::test::KeepOpen;
using ormbrook::test::NginxServer;
using ormbrook::test::Prefixed;
using ormbrook::test::ReadHead;
using ormbrook::test::Record;
using ormbrook::test::ScriptServer;
using ormbrook::test::TestAuthority;
using ormbrook::test::TinyProxy;
using Files = std::set<std::string>;

namespace {

// Requests nginx logged whose "$status $request" line starts so.
int Logged(const CrawlFixture& f, const std::string& start)
{
    int count = 0;
    for (const std::string& line : f.Requests())
        count += line.starts_with(start);
    return count;
}

std::string Prj(const std::string& defaults, const std::string& records)
{
    return "ProjectDefault\n{\n" + defaults + "}\n" + records;
}

void MakeSite(CrawlFixture& f)
{
    f.Page("index.html", "<html><head><title>Secure top</title></head><body background=\"bg.gif\">\n"
                         "<a href=\"a.html\">A</a> <a href=\"sub/b.html\">B</a> <img src=\"pic.jpg\">\n"
                         "<a href=\"private/p.html\">private</a>\n</body></html>\n");
    f.Page("a.html", "<html><body><a href=\"index.html\">top</a><img src=\"a.gif\"></body></html>");
    f.Page("a.gif", "GIF89a");
    f.Page("bg.gif", "GIF89a-bg");
    f.Page("pic.jpg", "\xff\xd8\xff\xe0 not really a picture");
    f.Page("sub/b.html", "<html><body><a href=\"../a.html\">a</a></body></html>");
    f.Page("private/p.html", "<html><body>private</body></html>");
    f.Page("robots.txt", "User-agent: *\r\nDisallow: /private\r\n");
}

class HttpsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!TestAuthority::Available() || !NginxServer::Available())
            return;
        authority = new TestAuthority;
        if (!authority->ok())
            return;
        good = authority->Issue("good", {"127.0.0.1", "localhost"});
        wrongName = authority->Issue("wrong-name", {"other.example"});
        expired = authority->Issue("expired", {"127.0.0.1", "localhost"}, true);
        selfSigned = authority->Issue("self-signed", {"127.0.0.1", "localhost"}, false, true);
    }
    static void TearDownTestSuite()
    {
        delete authority;
        authority = nullptr;
    }
    void SetUp() override
    {
        if (!authority || good.certificate.empty())
            GTEST_SKIP() << "openssl or nginx missing";
        f.SetEnvironment("SSL_CERT_FILE", authority->caFile());
        f.SetEnvironment("SSL_CERT_DIR", "/nonexistent");
        MakeSite(f);
    }

    static inline TestAuthority* authority = nullptr;
    static inline IssuedCertificate good, wrongName, expired, selfSigned;
    CrawlFixture f;
};

} // namespace

TEST_F(HttpsEndToEnd, AnHttpsSiteIsCrawledLocalisedAndItsRobotsTxtHonoured)
{
    ASSERT_TRUE(f.StartTlsServer(good.certificate, good.key)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
    // One connection per request: each pays its handshake.
    auto run = f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}, {"UseHttp10", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Stored where the same http URLs would be: the host's folder.
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "a.html", "a.gif", "bg.gif", "pic.jpg",
                                                          "sub/b.html", "robots.txt"}))
        << run.out;
    EXPECT_EQ(Logged(f, "200 GET /robots.txt HTTP/1.0"), 1) << "robots.txt from the site's own scheme and port";
    EXPECT_EQ(Logged(f, "200 GET /private"), 0);
    const std::string top = f.MirrorFile("P/127.0.0.1/index.html");
    EXPECT_NE(top.find("href=\"a.html\""), std::string::npos) << top;
    EXPECT_NE(top.find("background=\"bg.gif\""), std::string::npos) << top;
    EXPECT_NE(top.find("href=\"" + f.origin() + "/private/p.html\""), std::string::npos)
        << "a link not fetched stays online, over https" << top;
    EXPECT_NE(run.counters.find(" failed=1 "), std::string::npos) << "the refused page" << run.counters;

    // Seven connections to one server: the first pays the full handshake.
    std::istringstream log(f.server().TlsLog());
    int lines = 0, resumed = 0;
    for (std::string line; std::getline(log, line); ++lines)
        resumed += line.starts_with("r ");
    EXPECT_EQ(lines, 7);
    EXPECT_EQ(resumed, lines - 1) << f.server().TlsLog();
}

TEST_F(HttpsEndToEnd, ASiteThatMovedToHttpsIsFollowedIntoTheSameMirror)
{
    ASSERT_TRUE(f.StartTlsServer(good.certificate, good.key, true,
                                 "    if ($scheme = http) { return 301 https://127.0.0.1:@PORT@$request_uri; }\n"))
        << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@PLAIN@/a.html")));
    auto run = f.Run({"--crawl", prj}, {{"UseHttp10", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The page at its new address is the same page (depth 0), its links one level deeper.
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"a.html", "a.gif", "index.html", "bg.gif", "pic.jpg"}))
        << run.out;
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/a.html").find("Requested object is moved"), std::string::npos)
        << "the page itself is stored, not a redirect page";
    EXPECT_EQ(Logged(f, "301 GET /a.html HTTP/1.0"), 1);
    EXPECT_EQ(Logged(f, "200 GET /a.html HTTP/1.0"), 1);
}

TEST_F(HttpsEndToEnd, ACertificateThatDoesNotVerifyStoresNothingUnlessTheSettingAllowsIt)
{
    struct Row {
        const char* intent;
        const IssuedCertificate* certificate;
        const char* host;
        const char* reason;
    } rows[] = {
        {"a wrong host name", &wrongName, "localhost", "certificate: hostname mismatch"},
        {"an expired certificate", &expired, "127.0.0.1", "certificate: certificate has expired"},
        {"an unknown authority", &selfSigned, "127.0.0.1", "certificate: self-signed certificate"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        CrawlFixture g;
        g.SetEnvironment("SSL_CERT_FILE", authority->caFile());
        g.SetEnvironment("SSL_CERT_DIR", "/nonexistent");
        MakeSite(g);
        ASSERT_TRUE(g.StartTlsServer(row.certificate->certificate, row.certificate->key)) << g.server().lastError();
        const std::string url = "https://" + std::string(row.host) + ":" + std::to_string(g.port()) + "/a.html";
        auto prj = g.Project("P", Prj("\tGraphMax=0\n\tDLoadRetry=0\n", Record(url)));
        auto refused = g.Run({"--crawl", prj});
        EXPECT_EQ(refused.exitCode, 0) << refused.err;
        EXPECT_NE(refused.out.find("Failed " + url + " (" + row.reason + ")\n"), std::string::npos) << refused.out;
        EXPECT_NE(refused.counters.find("visited=0 failed=1"), std::string::npos) << refused.counters;
        EXPECT_EQ(g.MirrorFiles(), Files{});
        EXPECT_EQ(g.Requests().size(), 0u) << "nothing was asked of a server that was refused";

        auto accepted = g.Run({"--crawl", prj}, {{"AcceptUnverifiedCerts", "1"}});
        EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
        EXPECT_EQ(g.MirrorFiles(), Prefixed("P/" + std::string(row.host) + "/", {"a.html", "a.gif"}));
    }
}

TEST_F(HttpsEndToEnd, ThroughAForwardProxyTheSiteComesThroughATunnel)
{
    if (!TinyProxy::Available())
        GTEST_SKIP() << "tinyproxy missing";
    ASSERT_TRUE(f.StartTlsServer(good.certificate, good.key)) << f.server().lastError();
    TinyProxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=0\n", Record("@ORIGIN@/a.html")));
    auto run = f.Run({"--crawl", prj}, {{"ProxyOn", "1"}, {"ProxyName", "127.0.0.1"},
                                        {"ProxyPort", std::to_string(proxy.port())}, {"UseHttp10", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"a.html", "a.gif"})) << run.out;
    const std::string log = proxy.Log();
    size_t tunnels = 0;
    for (size_t at = log.find("CONNECT 127.0.0.1:"); at != std::string::npos; at = log.find("CONNECT 127.0.0.1:", at + 1))
        ++tunnels;
    EXPECT_EQ(tunnels, 2u) << log;
    EXPECT_EQ(Logged(f, "200 GET /a.html HTTP/1.0"), 1) << "the server's own request, inside the tunnel";
}

TEST_F(HttpsEndToEnd, OverHttp11OneTunnelThroughTheProxyCarriesEveryRequest)
{
    if (!TinyProxy::Available())
        GTEST_SKIP() << "tinyproxy missing";
    NginxServer::Options server;
    server.tlsCertificate = good.certificate;
    server.tlsKey = good.key;
    server.keepaliveTimeout = "10";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    TinyProxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=0\n", Record("@ORIGIN@/a.html")));
    auto run = f.Run({"--crawl", prj},
                     {{"ProxyOn", "1"}, {"ProxyName", "127.0.0.1"}, {"ProxyPort", std::to_string(proxy.port())}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"a.html", "a.gif"})) << run.out;
    const std::string log = proxy.Log();
    size_t tunnels = 0;
    for (size_t at = log.find("CONNECT 127.0.0.1:"); at != std::string::npos; at = log.find("CONNECT 127.0.0.1:", at + 1))
        ++tunnels;
    EXPECT_EQ(tunnels, 1u) << log;
    EXPECT_EQ(Logged(f, "200 GET /a.html HTTP/1.1"), 1);
    EXPECT_EQ(Logged(f, "200 GET /a.gif HTTP/1.1"), 1);
}

namespace {
// nginx's connection log: "$connection $connection_requests ... $http2 $status $request".
struct H2Logged {
    int connection = 0;
    int number = 0;
    bool h2 = false;
    std::string request; // "$status $request"
};

std::vector<H2Logged> H2Log(const CrawlFixture& f)
{
    std::vector<H2Logged> lines;
    std::istringstream in(f.server().ConnectionLog());
    for (std::string line; std::getline(in, line);) {
        H2Logged l;
        std::istringstream words(line);
        std::string framing, coding;
        words >> l.connection >> l.number >> framing >> coding;
        const std::string rest = line.substr(size_t(words.tellg()) + 1);
        l.h2 = rest.starts_with("h2 ");
        l.request = rest.substr(l.h2 ? 3 : 1);
        lines.push_back(l);
    }
    return lines;
}

std::string Noise(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    return bytes;
}
} // namespace

// A server that offers h2 by ALPN is crawled over HTTP/2, every download a
// stream of one connection: the files stored byte for byte (one larger
// than a stream's window among them), robots.txt honoured, a missing page
// failed with its answer, and the second crawl's conditional requests
// answered 304. HTTP/1.0 offers nothing and gets HTTP/1.1's answers.
TEST_F(HttpsEndToEnd, Http2ThroughAlpnCarriesTheCrawlOnOneConnection)
{
    const std::string big = Noise(5 * 1024 * 1024 + 17, 7);
    f.Page("big.bin", big);
    f.Page("a.html", "<html><body><a href=\"index.html\">top</a><img src=\"a.gif\"><a href=\"big.bin\">b</a>"
                     "<a href=\"gone.html\">gone</a></body></html>");
    NginxServer::Options server;
    server.tlsCertificate = good.certificate;
    server.tlsKey = good.key;
    server.keepaliveTimeout = "10";
    server.http2 = true;
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=2\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Files stored = {"index.html", "a.html", "a.gif", "bg.gif", "pic.jpg", "sub/b.html", "robots.txt", "big.bin"};
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", stored)) << run.out;
    EXPECT_TRUE(f.MirrorFile("P/127.0.0.1/big.bin") == big) << "stored byte for byte";
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/pic.jpg"), "\xff\xd8\xff\xe0 not really a picture");
    EXPECT_NE(run.out.find("Failed " + f.origin() + "/gone.html (404 Not Found)\n"), std::string::npos) << run.out;
    std::set<int> connections;
    for (const H2Logged& l : H2Log(f)) {
        EXPECT_TRUE(l.h2) << l.request;
        EXPECT_TRUE(l.request.ends_with(" HTTP/2.0")) << l.request;
        EXPECT_EQ(l.request.find("/private"), std::string::npos) << l.request;
        connections.insert(l.connection);
    }
    EXPECT_EQ(H2Log(f).size(), 9u) << f.server().ConnectionLog();
    EXPECT_EQ(connections.size(), 1u) << f.server().ConnectionLog();

    const size_t mark = H2Log(f).size();
    auto second = f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const auto all = H2Log(f);
    for (size_t i = mark; i < all.size(); ++i) {
        if (all[i].request.find("robots.txt") == std::string::npos && all[i].request.find("gone") == std::string::npos) {
            EXPECT_TRUE(all[i].request.starts_with("304 ")) << all[i].request;
        }
    }
    EXPECT_TRUE(f.MirrorFile("P/127.0.0.1/big.bin") == big);

    const size_t before10 = H2Log(f).size();
    auto http10 = f.Run({"--crawl", prj}, {{"UseHttp10", "1"}});
    EXPECT_EQ(http10.exitCode, 0) << http10.err;
    const auto after = H2Log(f);
    ASSERT_GT(after.size(), before10);
    for (size_t i = before10; i < after.size(); ++i) {
        EXPECT_FALSE(after[i].h2) << after[i].request;
        EXPECT_TRUE(after[i].request.ends_with(" HTTP/1.0")) << after[i].request;
    }
}

// A server that ends its connections with GOAWAY after three requests
// (nginx's keepalive_requests): the streams it left out go again on new
// connections, one for all of them rather than one each, and the crawl
// gets everything without a retry or a failure.
TEST_F(HttpsEndToEnd, Http2GoawayMidCrawlSendsTheRestOnNewConnections)
{
    std::string top = "<html><body>";
    Files files{"index.html"};
    for (int i = 0; i < 30; ++i) {
        const std::string n = std::to_string(i);
        top += "<a href=\"p" + n + ".html\">" + n + "</a>";
        f.Page("p" + n + ".html", "<html><body>page " + n + std::string(3000, char('a' + i % 26)) + "</body></html>");
        files.insert("p" + n + ".html");
    }
    f.Page("index.html", top + "</body></html>");
    NginxServer::Options server;
    server.tlsCertificate = good.certificate;
    server.tlsKey = good.key;
    server.keepaliveTimeout = "10";
    server.http2 = true;
    server.extraHttpConfig = "  keepalive_requests 3;\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"MaxDownloads", "8"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.counters, "detected=31 retries=0 visited=31 failed=0 html=31 modified=31") << run.out;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", files));
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(f.MirrorFile("P/127.0.0.1/p" + std::to_string(i) + ".html")
                    == "<html><body>page " + std::to_string(i) + std::string(3000, char('a' + i % 26)) + "</body></html>");
    std::map<int, int> perConnection;
    for (const H2Logged& l : H2Log(f)) {
        EXPECT_TRUE(l.h2) << l.request;
        if (l.request.starts_with("200 "))
            ++perConnection[l.connection];
    }
    EXPECT_GE(perConnection.size(), 11u) << f.server().ConnectionLog();
    EXPECT_LE(perConnection.size(), 12u) << f.server().ConnectionLog();
    for (const auto& [connection, requests] : perConnection)
        EXPECT_LE(requests, 3) << f.server().ConnectionLog();
}

// An answer that never comes (nginx waits on an upstream that takes the
// request and says nothing): the reply time-out ends that stream alone, and
// the other streams of the same connection carry the rest of the crawl, a
// slow one that is still coming then among them.
TEST_F(HttpsEndToEnd, Http2ATimeOutEndsOneStreamAndTheOthersGoOn)
{
    ScriptServer silent({ReadHead(), KeepOpen(15000)});
    f.Page("index.html", "<html><body><a href=\"a.html\">a</a><a href=\"stall.html\">s</a>"
                         "<a href=\"b.html\">b</a><a href=\"big.bin\">c</a></body></html>");
    for (const char* name : {"a", "b"})
        f.Page(std::string(name) + ".html", std::string("<html><body>") + name + "</body></html>");
    const std::string big = Noise(200 * 1024, 3);
    f.Page("big.bin", big);
    NginxServer::Options server;
    server.tlsCertificate = good.certificate;
    server.tlsKey = good.key;
    server.keepaliveTimeout = "10";
    server.http2 = true;
    server.extraServerConfig = "location = /stall.html { proxy_pass http://127.0.0.1:" + std::to_string(silent.port()) + "; }\n"
                               "location = /big.bin { limit_rate 100k; }\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"ReplyRcvTimeout", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Failed " + f.origin() + "/stall.html (time-out: reply)\n"), std::string::npos) << run.out;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "a.html", "b.html", "big.bin"}));
    EXPECT_TRUE(f.MirrorFile("P/127.0.0.1/big.bin") == big);
    std::set<int> connections;
    int served = 0;
    for (const H2Logged& l : H2Log(f)) {
        EXPECT_TRUE(l.h2) << l.request;
        served += l.request.starts_with("200 ");
        connections.insert(l.connection);
    }
    EXPECT_EQ(served, 4) << f.server().ConnectionLog();
    EXPECT_EQ(connections.size(), 1u) << f.server().ConnectionLog();
}
