// End-to-end crawls that look at the connections themselves: qry as its own
// process against nginx, with nginx's log telling which request came on
// which connection.

#include "support/crawl_fixture.h"
#include "support/compress.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using ormbrook::test::CrawlFixture;
using ormbrook::test::NginxServer;
using ormbrook::test::Prefixed;
using ormbrook::test::Record;
using ormbrook::test::ScriptServer;
using Files = std::set<std::string>;
namespace test = ormbrook::test;

namespace {

struct Logged {
    int connection = 0;
    int number = 0;        // the request's number on its connection
    std::string framing;   // "chunked" or "-"
    std::string coding;    // "gzip" or "-"
    std::string protocol;  // "h2", or "-" for HTTP/1.x
    std::string request;   // "$status $request"
};

std::vector<Logged> Connections(const CrawlFixture& f)
{
    std::vector<Logged> lines;
    std::istringstream in(f.server().ConnectionLog());
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Logged l;
        words >> l.connection >> l.number >> l.framing >> l.coding;
        // $http2 is empty over HTTP/1.x: two spaces, then the status.
        words.get();
        if (words.peek() == ' ')
            l.protocol = "-";
        else
            words >> l.protocol;
        std::getline(words >> std::ws, l.request);
        lines.push_back(l);
    }
    return lines;
}

std::string Prj(const std::string& defaults, const std::string& records)
{
    return "ProjectDefault\n{\n" + defaults + "}\n" + records;
}

// A top page linking `pages` pages, each with a picture.
Files MakeSite(CrawlFixture& f, int pages)
{
    std::string top = "<html><body>";
    Files files{"index.html"};
    for (int i = 0; i < pages; ++i) {
        const std::string n = std::to_string(i);
        top += "<a href=\"p" + n + ".html\">" + n + "</a>";
        f.Page("p" + n + ".html", "<html><body><img src=\"i" + n + ".gif\">page " + n + "</body></html>");
        f.Page("i" + n + ".gif", "GIF89a" + n);
        files.insert("p" + n + ".html");
        files.insert("i" + n + ".gif");
    }
    f.Page("index.html", top + "</body></html>");
    return files;
}

} // namespace

// The crawl's requests share kept connections: never more of them than
// downloads at a time, a server's limit of requests per connection (its
// "Connection: close") is honoured, and a second crawl's conditional
// requests, answered 304, go the same way.
TEST(NetworkEndToEnd, RequestsShareKeptConnections)
{
    CrawlFixture f;
    const Files files = MakeSite(f, 12);
    NginxServer::Options server;
    server.keepaliveTimeout = "10";
    server.extraHttpConfig = "  keepalive_requests 4;\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=2\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.counters, "detected=25 retries=0 visited=25 failed=0 html=13 modified=13");
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", files));

    std::map<int, int> perConnection;
    for (const Logged& l : Connections(f)) {
        EXPECT_TRUE(l.request.ends_with(" HTTP/1.1")) << l.request;
        perConnection[l.connection] = std::max(perConnection[l.connection], l.number);
    }
    EXPECT_EQ(Connections(f).size(), 25u);
    int longest = 0;
    for (const auto& [connection, requests] : perConnection)
        longest = std::max(longest, requests);
    EXPECT_EQ(longest, 4) << "as many requests on a connection as the server takes";
    EXPECT_LE(perConnection.size(), 5u + 25u / 4) << f.server().ConnectionLog();

    const size_t before = Connections(f).size();
    auto second = f.Run({"--crawl", prj});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const auto all = Connections(f);
    std::set<int> connections;
    for (size_t i = before; i < all.size(); ++i) {
        EXPECT_TRUE(all[i].request.starts_with("304 ")) << all[i].request;
        connections.insert(all[i].connection);
    }
    EXPECT_LT(connections.size(), all.size() - before) << "answers without a body keep their connection";
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", files));
}

// Chunked answers are stored as the document they carry; a server that
// closes the connections it kept while they idle is asked again on new
// ones, and that costs no retry.
TEST(NetworkEndToEnd, ChunkedBodiesAndConnectionsClosedWhileIdle)
{
    CrawlFixture f;
    // sub_filter rewrites the pages as they go out: nginx can't know their
    // length, so it sends them chunked.
    f.Page("index.html", "<html><body><a href=\"chunked/a.html\">a</a><a href=\"slow.html\">s</a>"
                         "<a href=\"c0.html\">0</a></body></html>");
    f.Page("chunked/a.html", "<html><body>" + std::string(20000, 'x') + "MARK</body></html>");
    f.Page("c0.html", "<html><body>zero</body></html>");
    // Long enough at the rate below that the others idle past the time-out.
    f.Page("slow.html", "<html><body><a href=\"c1.html\">1</a><a href=\"c2.html\">2</a>" + std::string(30000, ' ')
                            + "</body></html>");
    f.Page("c1.html", "<html><body>one</body></html>");
    f.Page("c2.html", "<html><body>two</body></html>");
    NginxServer::Options server;
    server.keepaliveTimeout = "1";
    server.extraServerConfig = "    location /chunked/ { sub_filter MARK done; }\n"
                               "    location = /slow.html { limit_rate 10k; }\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=2\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.counters, "detected=6 retries=0 visited=6 failed=0 html=6 modified=6");
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "chunked/a.html", "slow.html", "c0.html",
                                                          "c1.html", "c2.html"}));
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/chunked/a.html"), "<html><body>" + std::string(20000, 'x') + "done</body></html>");
    bool chunked = false;
    std::set<int> early, late;
    for (const Logged& l : Connections(f)) {
        const bool after = l.request.find("/c1.html") != std::string::npos || l.request.find("/c2.html") != std::string::npos;
        (after ? late : early).insert(l.connection);
        if (l.request.find("/chunked/a.html") != std::string::npos)
            chunked = l.framing == "chunked";
    }
    EXPECT_TRUE(chunked) << f.server().ConnectionLog();
    for (const Logged& l : Connections(f))
        if (l.request.find("/slow.html") != std::string::npos)
            early.erase(l.connection); // it idled least long
    for (int c : late)
        EXPECT_EQ(early.count(c), 0u) << "the connections that idled were closed meanwhile\n" << f.server().ConnectionLog();
}

// Heads as long as today's servers send are read; one longer than the
// limit fails its download at once, with the reason.
TEST(NetworkEndToEnd, LongHeadsAreReadAndTooLongOnesFailWithTheirReason)
{
    CrawlFixture f;
    f.Page("index.html", "<html><body><a href=\"long.html\">l</a><a href=\"huge.html\">h</a></body></html>");
    f.Page("long.html", "<html><body>long head</body></html>");
    f.Page("huge.html", "<html><body>huge head</body></html>");
    // nginx takes a value of up to 4 KB a line; heads of 30 KB and 100 KB.
    auto headers = [](int lines) {
        std::string config;
        for (int i = 0; i < lines; ++i)
            config += "add_header X-Policy-" + std::to_string(i) + " \"" + std::string(3000, 'p') + "\";";
        return config;
    };
    NginxServer::Options server;
    server.keepaliveTimeout = "10";
    server.extraServerConfig = "    location = /long.html { " + headers(10) + " }\n" + "    location = /huge.html { " +
                               headers(34) + " }\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"TotalTimeout", "60"}, {"CtlRcvTimeout", "60"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "long.html"}));
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/long.html"), "<html><body>long head</body></html>");
    EXPECT_NE(run.out.find("Failed " + f.origin() + "/huge.html (response head longer than 64 KB)\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.counters.find(" failed=1 "), std::string::npos) << run.counters;
}

// The bytes of the request, in each form of the exchange: HTTP/1.0 exactly
// as this program has always sent it, one request per connection; HTTP/1.1
// with the port beside the host.
TEST(NetworkEndToEnd, EachFormOfTheExchangeSendsItsOwnBytes)
{
    struct Row {
        const char* intent;
        std::map<std::string, std::string> settings;
        std::string request; // %P: the server's port
    } rows[] = {
        {"UseHttp10: today's request", {{"UseHttp10", "1"}},
         "GET /a.html HTTP/1.0\r\nACCEPT:*/*\r\nHOST:127.0.0.1\r\nUSER-AGENT:Ormbrook/1.005.0\r\n\r\n"},
        {"by default, HTTP/1.1", {},
         "GET /a.html HTTP/1.1\r\nACCEPT:*/*\r\nACCEPT-ENCODING:gzip, deflate, br\r\nHOST:127.0.0.1:%P\r\n"
         "USER-AGENT:Ormbrook/1.005.0\r\n\r\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.intent);
        ScriptServer server(test::Script{test::ReadHead(),
                                         test::Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nplain"),
                                         test::Close()});
        CrawlFixture f;
        auto prj = f.Project("P", Prj("\tGraphMax=0\n", Record("http://127.0.0.1:" + std::to_string(server.port())
                                                                + "/a.html")));
        auto run = f.Run({"--crawl", prj}, r.settings);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::string expected = r.request;
        if (const size_t at = expected.find("%P"); at != std::string::npos)
            expected.replace(at, 2, std::to_string(server.port()));
        ASSERT_TRUE(server.WaitForScriptEnd(0, 3000));
        EXPECT_EQ(server.Received(0), expected);
        EXPECT_EQ(f.MirrorFiles(), Files{"P/127.0.0.1/a.html"});
    }
}

// MaxDownloads: that many downloads at a time, each on its own connection
// over HTTP/1.1.
TEST(NetworkEndToEnd, MaxDownloadsIsHowManyConnectionsACrawlHolds)
{
    CrawlFixture f;
    std::string top = "<html><body>";
    Files files{"index.html"};
    for (int i = 0; i < 20; ++i) {
        const std::string name = "slow" + std::to_string(i) + ".txt";
        top += "<a href=\"" + name + "\">" + name + "</a>";
        f.Page(name, std::string(12000, 's'));
        files.insert(name);
    }
    f.Page("index.html", top + "</body></html>");
    NginxServer::Options server;
    server.keepaliveTimeout = "10";
    server.extraServerConfig = "    location ~ ^/slow { limit_rate 8k; }\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"MaxDownloads", "16"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", files));
    std::set<int> connections;
    for (const Logged& l : Connections(f))
        connections.insert(l.connection);
    EXPECT_EQ(connections.size(), 16u) << f.server().ConnectionLog();
}

// Compressed answers (nginx's gzip, and a br file) are stored as the
// documents themselves; the entity tag nginx gives a compressed answer goes
// back as it was sent, and is answered 304. A compressed body that does not
// decode fails, and the copy from before stays.
TEST(NetworkEndToEnd, CompressedBodiesAreStoredDecodedAndABrokenOneKeepsTheOldCopy)
{
    CrawlFixture f;
    std::string page = "<html><body>";
    for (int i = 0; i < 2000; ++i)
        page += "<p>paragraph " + std::to_string(i) + "</p>\n";
    f.Page("index.html", page + "<a href=\"br.html\">br</a><a href=\"gz.html\">gz</a><a href=\"s.css\">s</a></body></html>");
    const std::string brPage = "<html><body>br " + std::string(5000, 'b') + "</body></html>";
    const std::string gzPage = "<html><body>first version</body></html>";
    f.Page("br.html", test::Compressed(test::Coding::Brotli, brPage));
    f.Page("gz.html", test::Compressed(test::Coding::Gzip, gzPage));
    f.Page("s.css", "body { color: black; }\n" + std::string(3000, ' '));
    NginxServer::Options server;
    server.keepaliveTimeout = "10";
    server.extraHttpConfig = "  gzip on;\n  gzip_types text/css;\n  gzip_min_length 0;\n";
    server.extraServerConfig = "    location = /br.html { gzip off; add_header Content-Encoding br; }\n"
                               "    location = /gz.html { gzip off; add_header Content-Encoding gzip; }\n";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    auto prj = f.Project("P", Prj("\tGraphMax=1\n\tRenewalType=ModifiedFile\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string top = f.MirrorFile("P/127.0.0.1/index.html");
    EXPECT_NE(top.find("<p>paragraph 1999</p>"), std::string::npos) << top.substr(0, 200);
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/br.html"), brPage);
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/gz.html"), gzPage);
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/s.css"), "body { color: black; }\n" + std::string(3000, ' '));
    int gzipped = 0;
    for (const Logged& l : Connections(f))
        gzipped += l.coding == "gzip" && l.request.find("/gz.html") == std::string::npos;
    EXPECT_EQ(gzipped, 2) << "nginx compressed the page and the style sheet\n" << f.server().ConnectionLog();

    // Unchanged: every answer is 304, the compressed ones by their (weak) entity tags too.
    size_t mark = Connections(f).size();
    auto second = f.Run({"--crawl", prj});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    auto all = Connections(f);
    for (size_t i = mark; i < all.size(); ++i)
        EXPECT_TRUE(all[i].request.starts_with("304 ")) << all[i].request;

    // A newer gz.html that is no gzip: its download fails, the first version stays.
    std::string broken = test::Compressed(test::Coding::Gzip, "<html><body>second version, never seen</body></html>");
    for (size_t i = 12; i < broken.size() - 8; ++i)
        broken[i] = char(broken[i] ^ 0x5a);
    f.Page("gz.html", broken, true);
    auto third = f.Run({"--crawl", prj});
    EXPECT_EQ(third.exitCode, 0) << third.err;
    EXPECT_NE(third.out.find("Failed " + f.origin() + "/gz.html (the compressed body does not decode)\n"),
              std::string::npos)
        << third.out;
    EXPECT_EQ(f.MirrorFile("P/127.0.0.1/gz.html"), gzPage);
}

// A server on IPv6 alone, named by its bracketed literal: crawled into a
// folder of that name, its links (however the address is written)
// compared and localised like those of any host.
TEST(NetworkEndToEnd, AnIpv6OnlyServerIsCrawledByItsBracketedLiteral)
{
    CrawlFixture f;
    NginxServer::Options server;
    server.ipv6Only = true;
    server.keepaliveTimeout = "10";
    ASSERT_TRUE(f.StartServer(server)) << f.server().lastError();
    const std::string port = std::to_string(f.port());
    f.Page("index.html", "<html><body><a href=\"a.html\">a</a><a href=\"http://[0:0::1]:" + port +
                             "/sub/b.html\">b</a><img src=\"/i.gif\"></body></html>");
    f.Page("a.html", "<html><body><a href=\"index.html\">top</a></body></html>");
    f.Page("sub/b.html", "<html><body><a href=\"../a.html\">a</a></body></html>");
    f.Page("i.gif", "GIF89a");
    auto prj = f.Project("P", Prj("\tGraphMax=2\n", Record("http://[::1]:" + port + "/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // As for any host: a.html's link to index.html is a URL of its own.
    EXPECT_EQ(run.counters, "detected=7 retries=0 visited=7 failed=0 html=4 modified=4");
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/[::1]/", {"index.html", "a.html", "sub/b.html", "i.gif"}));
    EXPECT_EQ(f.MirrorFile("P/[::1]/index.html"),
              "<html><body><a href=\"a.html\">a</a><a href=\"sub/b.html\">b</a><img src=\"i.gif\"></body></html>");
    EXPECT_EQ(f.MirrorFile("P/[::1]/sub/b.html"), "<html><body><a href=\"../a.html\">a</a></body></html>");
}
