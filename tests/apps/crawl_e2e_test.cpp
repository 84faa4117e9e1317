// End-to-end crawls: qry as its own process against nginx serving a
// generated site. Each test checks the files of the mirror (all of them: no
// file that was not expected) and, where it matters, what nginx was asked.

#include "support/crawl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <thread>

using ormbrook::test::CrawlFixture;
using ormbrook::test::Prefixed;
using ormbrook::test::Record;
using ormbrook::test::NginxServer;
using Files = std::set<std::string>;

namespace {

const char kTop[] = "<html><head><title>Top page</title></head><body background=\"bg.gif\">\n"
                    "<a href=\"a.html\">A</a> <a href=\"dir\">Dir</a> <a href=\"sub/b.html\">B</a>\n"
                    "<img src=\"pic.jpg\"> <frame src=\"frame.html\">\n"
                    "<a href=\"missing.html\">gone</a> <a href=\"doc.txt\">text</a>\n"
                    "</body></html>\n";

// A site of a few levels: top -> a, dir/, sub/b -> deeper pages.
void MakeSite(CrawlFixture& f)
{
    f.Page("index.html", kTop);
    f.Page("a.html", "<html><body><a href=\"a2.html\">a2</a><img src=\"a.gif\"></body></html>");
    f.Page("a2.html", "<html><body>a2</body></html>");
    f.Page("a.gif", "GIF89a");
    f.Page("bg.gif", "GIF89a-bg");
    f.Page("pic.jpg", "\xff\xd8\xff\xe0 not really a picture");
    f.Page("frame.html", "<html><body><a href=\"index.html\">top</a></body></html>");
    f.Page("doc.txt", "text");
    f.Page("dir/index.html", "<html><body><a href=\"../index.html\">up</a><a href=\"d.html\">d</a></body></html>");
    f.Page("dir/d.html", "<html><body>d</body></html>");
    f.Page("sub/b.html", "<html><body><a href=\"../a.html\">a</a><a href=\"c.html\">c</a></body></html>");
    f.Page("sub/c.html", "<html><body>c</body></html>");
}

std::string Prj(const std::string& defaults, const std::string& records)
{
    return "ProjectDefault\n{\n" + defaults + "}\n" + records;
}


#define REQUIRE_SERVER(f, ...)                                                                                        \
    if (!NginxServer::Available())                                                                                    \
        GTEST_SKIP() << "nginx not installed";                                                                       \
    ASSERT_TRUE((f).StartServer(__VA_ARGS__))

} // namespace

TEST(CrawlEndToEnd, LinkDepthDecidesWhatIsFetched)
{
    struct Case {
        const char* intent;
        int graphMax;
        Files files;
    } cases[] = {
        {"depth 0: the start page with its pictures, frames and background", 0,
         {"index.html", "bg.gif", "pic.jpg", "frame.html"}},
        {"depth 1: the pages it links to and their pictures", 1,
         {"index.html", "bg.gif", "pic.jpg", "frame.html", "a.html", "a.gif", "dir/index.html", "sub/b.html",
          "doc.txt"}},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        MakeSite(f);
        REQUIRE_SERVER(f);
        auto prj = f.Project("P", Prj("\tGraphMax=" + std::to_string(c.graphMax) + "\n", Record("@ORIGIN@/")));
        auto run = f.Run({"--crawl", prj});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", c.files)) << c.intent;
    }
}

TEST(CrawlEndToEnd, CrawlRangesAndExtensionFilters)
{
    struct Case {
        const char* intent;
        std::string options;
        std::string start;
        Files files;
    } cases[] = {
        {"range 0 stays in the start directory", "", "/sub/b.html", {"sub/b.html", "sub/c.html"}},
        {"range 1 may climb to other directories", "\tPilotArea=UpperDir\n", "/sub/b.html",
         {"sub/b.html", "sub/c.html", "a.html", "a.gif"}},
        {"a download filter without txt drops the text file", "\tUseExtFilter=1\n\tDLNoExt=1\n\tExtHtml=\"html\"\n",
         "/", {"index.html", "a.html", "dir/index.html", "sub/b.html", "frame.html"}},
        {"an exclusion filter drops pictures", "\tUseUVExtFilter=1\n\tUVExtImage=\"gif;jpg\"\n", "/",
         {"index.html", "a.html", "dir/index.html", "sub/b.html", "frame.html", "doc.txt"}},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        MakeSite(f);
        REQUIRE_SERVER(f);
        auto prj = f.Project("P", Prj("\tGraphMax=1\n" + c.options, Record("@ORIGIN@" + c.start)));
        auto run = f.Run({"--crawl", prj});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", c.files)) << c.intent;
    }
}

// "localhost" and "127.0.0.1" are two hosts to the crawler, one server to
// the test.
TEST(CrawlEndToEnd, OtherSitesOnlyInTheWidestRange)
{
    struct Case {
        const char* intent;
        std::string options;
        bool otherSiteFetched;
    } cases[] = {
        {"range 0", "", false},
        {"range 1", "\tPilotArea=UpperDir\n", false},
        {"range 2", "\tPilotArea=OtherSite\n", true},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        REQUIRE_SERVER(f);
        f.Page("index.html", "<a href=\"http://localhost:" + std::to_string(f.port()) + "/x.html\">x</a>");
        f.Page("x.html", "x");
        auto prj = f.Project("P", Prj("\tGraphMax=1\n" + c.options, Record("@ORIGIN@/")));
        auto run = f.Run({"--crawl", prj});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(f.MirrorFiles().count("P/localhost/x.html") == 1, c.otherSiteFetched) << c.intent;
    }
}

TEST(CrawlEndToEnd, ForbiddenAndSelectedItems)
{
    CrawlFixture f;
    MakeSite(f);
    REQUIRE_SERVER(f);
    auto prj = f.Project("P", Prj("\tGraphMax=0\n", Record("@ORIGIN@/a.html", "\tPilotType=Selected\n")
                                                        + Record("@ORIGIN@/sub/b.html")
                                                        + Record("@ORIGIN@/dir/", "\tPilotType=Forbidden\n")));
    auto selected = f.Run({"--crawl", prj, "--selected"});
    EXPECT_EQ(selected.exitCode, 0) << selected.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"a.html", "a.gif"}));
    auto all = f.Run({"--crawl", prj});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"a.html", "a.gif", "sub/b.html"}));
    EXPECT_EQ(f.CountRequests("GET /dir/"), 0);
}

TEST(CrawlEndToEnd, OneItemAndItsSubtree)
{
    CrawlFixture f;
    MakeSite(f);
    REQUIRE_SERVER(f);
    auto prj = f.Project("P", Prj("\tGraphMax=0\n", "Folder=\"News\"\n{\n" + Record("@ORIGIN@/a.html") + "}\n"
                                                        + Record("@ORIGIN@/sub/b.html")));
    auto record = f.Run({"--crawl", prj, "--item", "P/News/" + f.origin() + "/a.html"});
    EXPECT_EQ(record.exitCode, 0) << record.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/News/127.0.0.1/", {"a.html", "a.gif"}));
    auto folder = f.Run({"--crawl", prj, "--item", "P"});
    EXPECT_EQ(folder.exitCode, 0) << folder.err;
    EXPECT_TRUE(f.MirrorFiles().count("P/127.0.0.1/sub/b.html"));
    EXPECT_EQ(f.Run({"--crawl", prj, "--item", "P/Nowhere"}).exitCode, 2);
}

TEST(CrawlEndToEnd, RedirectsAndLocalisedLinks)
{
    CrawlFixture f;
    MakeSite(f);
    f.Page("moved/index.html", "");
    REQUIRE_SERVER(f, false,
                   "    location = /old.html { return 302 /a.html; }\n"
                   "    location = /oldpic.jpg { return 302 /pic.jpg; }\n");
    f.Page("index.html", std::string(kTop) + "<a href=\"old.html\">old</a><img src=\"oldpic.jpg\">");
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const Files files = f.MirrorFiles();
    // nginx's own 301 for the directory without "/" leaves no redirect page
    // in the directory's way; the 302 of a page leaves one; a picture's
    // redirect leaves one with ".html" appended and is not followed.
    EXPECT_TRUE(files.count("P/127.0.0.1/dir/index.html"));
    EXPECT_FALSE(files.count("P/127.0.0.1/dir.html"));
    EXPECT_TRUE(files.count("P/127.0.0.1/old.html")) << ::testing::PrintToString(files) << run.out;
    EXPECT_TRUE(files.count("P/127.0.0.1/oldpic.jpg.html"));
    EXPECT_NE(f.MirrorFile("P/127.0.0.1/oldpic.jpg.html").find("Requested object is moved"), std::string::npos);
    const std::string top = f.MirrorFile("P/127.0.0.1/index.html");
    EXPECT_NE(top.find("href=\"a.html\""), std::string::npos) << top;
    EXPECT_NE(top.find("href=\"dir/index.html\""), std::string::npos) << top;
    EXPECT_NE(top.find("href=\"" + f.origin() + "/missing.html\""), std::string::npos) << top;
    const std::string old = f.MirrorFile("P/127.0.0.1/old.html");
    EXPECT_NE(old.find("href=\"a.html\""), std::string::npos) << old << run.out << run.err;

    // A crawl that keeps the files it has, from a page that links the
    // directory by its name without "/": the directory's page is scanned and
    // localised as the directory's, its relative links staying relative to
    // the directory.
    f.Page("more.html", "<html><body><a href=\"dir\">dir again</a></body></html>");
    auto keep = f.Project("P", Prj("\tGraphMax=1\n\tRenewalType=FailedFile\n", Record("@ORIGIN@/more.html")));
    ASSERT_EQ(f.Run({"--crawl", keep}).exitCode, 0);
    const std::string dirPage = f.MirrorFile("P/127.0.0.1/dir/index.html");
    EXPECT_NE(dirPage.find("href=\"../index.html\""), std::string::npos) << dirPage;
    EXPECT_NE(dirPage.find("href=\"" + f.origin() + "/dir/d.html\""), std::string::npos) << dirPage;
}

// A script's redirect (text/html from a URL without a page's extension) is a
// page's: its redirect page takes the script's name and the target is
// fetched. A picture's is not followed. A Location that can't be followed
// still leaves its redirect page, with the Location as received.
TEST(CrawlEndToEnd, ScriptRedirectsAreFollowedAndUnfollowableOnesLeaveTheirPage)
{
    CrawlFixture f;
    f.Page("index.html", "<a href=\"go.php\">go</a> <a href=\"away.html\">away</a> <img src=\"old.gif\">");
    f.Page("new.html", "<html><body>new</body></html>");
    f.Page("dot.gif", "GIF89a");
    REQUIRE_SERVER(f, false,
                   "    location = /go.php { return 302 /new.html; }\n"
                   "    location = /away.html { return 302 ftp://files.example.org/x; }\n"
                   "    location = /old.gif { return 301 /dot.gif; }\n");
    auto prj = f.Project("P", Prj("\tGraphMax=2\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "go.php", "new.html", "away.html",
                                                         "old.gif.html"}));
    EXPECT_EQ(f.CountRequests("GET /new.html"), 1);
    EXPECT_EQ(f.CountRequests("GET /dot.gif"), 0);
    EXPECT_NE(f.MirrorFile("P/127.0.0.1/go.php").find("<a href=\"new.html\">"), std::string::npos);
    EXPECT_NE(f.MirrorFile("P/127.0.0.1/away.html").find("<a href=\"ftp://files.example.org/x\">"),
              std::string::npos);
}

TEST(CrawlEndToEnd, FailuresAreRetriedAndCounted)
{
    CrawlFixture f;
    f.Page("index.html", "<a href=\"missing.html\">x</a>");
    REQUIRE_SERVER(f);
    auto prj = f.Project("P", Prj("\tGraphMax=1\n\tDLoadRetry=2\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.CountRequests("GET /missing.html"), 3);
    EXPECT_EQ(run.counters, "detected=2 retries=2 visited=1 failed=3 html=1 modified=1");
    EXPECT_NE(run.out.find("Failed " + f.origin() + "/missing.html (404 Not Found)\n"), std::string::npos) << run.out;
}

TEST(CrawlEndToEnd, RobotsTxtAllowsRefusesOrIsMissing)
{
    struct Case {
        const char* intent;
        const char* robots; // nullptr: none on the server
        Files files;
    } cases[] = {
        {"allowing", "User-agent: *\r\nDisallow: /private\r\n", {"index.html", "a.html", "robots.txt"}},
        {"refusing", "User-agent: *\r\nDisallow: /a\r\n", {"index.html", "robots.txt"}},
        {"missing: the generated allow-all file", nullptr, {"index.html", "a.html", "robots.txt"}},
    };
    for (const auto& c : cases) {
        CrawlFixture f;
        f.Page("index.html", "<a href=\"a.html\">a</a>");
        f.Page("a.html", "a");
        if (c.robots)
            f.Page("robots.txt", c.robots);
        REQUIRE_SERVER(f);
        auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
        auto run = f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}});
        EXPECT_EQ(run.exitCode, 0) << c.intent << run.err;
        EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", c.files)) << c.intent;
        EXPECT_EQ(f.CountRequests("GET /robots.txt"), 1) << c.intent;
        if (!c.robots) {
            EXPECT_EQ(f.MirrorFile("P/127.0.0.1/robots.txt"),
                      "#Robots.txt\r\n#Generated by Ormbrook\r\n#Allow all access\r\n");
        }
    }
}

// Whether files under dir keep user extended attributes (the entity tags).
bool KeepsEntityTags(const std::string& dir)
{
    const std::string probe = dir + "/xattr-probe";
    std::ofstream(probe) << "x";
    const bool kept = ::setxattr(probe.c_str(), "user.ormbrook.probe", "1", 1, 0) == 0;
    ::unlink(probe.c_str());
    return kept;
}

// Stored files carry their server's date, so that a second crawl of an
// unchanged site is answered 304 for every one of them, localised pages
// included, whether the server compares If-Modified-Since exactly (nginx's
// default) or answers older dates too. A page changed on the server is
// fetched and localised again; one whose date went back (an older version
// restored) is fetched too.
TEST(CrawlEndToEnd, SecondCrawlIsAnswered304ForEveryUnchangedFile)
{
    const struct {
        const char* intent;
        bool before;
        bool etag;
    } servers[] = {
        {"exact dates (nginx's default)", false, true},
        {"older dates too", true, true},
        {"exact dates, no entity tags", false, false},
    };
    for (const auto& server : servers) {
        SCOPED_TRACE(server.intent);
        const bool before = server.before;
        CrawlFixture f;
        MakeSite(f);
        REQUIRE_SERVER(f, before, "", server.etag);
        // The request lines below are HTTP/1.0 ones.
        const std::map<std::string, std::string> http10{{"UseHttp10", "1"}};
        auto prj = f.Project("P", Prj("\tGraphMax=1\n\tRenewalType=ModifiedFile\n", Record("@ORIGIN@/")));
        ASSERT_EQ(f.Run({"--crawl", prj}, http10).exitCode, 0);
        const Files files = f.MirrorFiles();
        std::map<std::string, std::string> bytes;
        for (const auto& file : files)
            bytes[file] = f.MirrorFile(file);
        ASSERT_EQ(files.size(), 9u) << ::testing::PrintToString(files);

        auto requestsOf = [&](size_t from) {
            const auto all = f.Requests();
            return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
        };
        size_t mark = f.Requests().size();
        auto second = f.Run({"--crawl", prj}, http10);
        EXPECT_EQ(second.exitCode, 0) << second.err;
        int notModified = 0;
        for (const auto& request : requestsOf(mark)) {
            if (request.rfind("404 GET /missing.html", 0) == 0)
                continue;
            EXPECT_EQ(request.substr(0, 4), "304 ") << request;
            ++notModified;
        }
        EXPECT_EQ(notModified, static_cast<int>(files.size()));
        EXPECT_EQ(f.MirrorFiles(), files);
        for (const auto& file : files)
            EXPECT_EQ(f.MirrorFile(file), bytes[file]) << file;

        // A page changed on the server, and a page put back to an older
        // version of itself (an earlier date, other bytes).
        f.Page("a.html", "<html><body><a href=\"/sub/b.html\">b</a></body></html>", true);
        f.Page("sub/b.html", "<html><body>older b</body></html>");
        f.Date("sub/b.html", 1262304000); // 2010-01-01, before the site's date
        mark = f.Requests().size();
        auto third = f.Run({"--crawl", prj}, http10);
        EXPECT_EQ(third.exitCode, 0) << third.err;
        const auto requests = requestsOf(mark);
        EXPECT_EQ(std::count(requests.begin(), requests.end(), "200 GET /a.html HTTP/1.0"), 1)
            << ::testing::PrintToString(requests);
        EXPECT_EQ(f.MirrorFile("P/127.0.0.1/a.html"), "<html><body><a href=\"sub/b.html\">b</a></body></html>");
        // With "before", only the entity tag tells the older version apart.
        if (!before || (server.etag && KeepsEntityTags(f.mirrorRoot()))) {
            EXPECT_EQ(std::count(requests.begin(), requests.end(), "200 GET /sub/b.html HTTP/1.0"), 1)
                << ::testing::PrintToString(requests);
            EXPECT_EQ(f.MirrorFile("P/127.0.0.1/sub/b.html"), "<html><body>older b</body></html>");
        }
        for (const auto& request : requests) {
            if (request.find(" /a.html ") == std::string::npos && request.find(" /sub/b.html ") == std::string::npos
                && request.find("/missing.html") == std::string::npos) {
                EXPECT_EQ(request.substr(0, 4), "304 ") << request;
            }
        }
    }
}

// The files the crawl writes itself, redirect pages and the generated
// robots.txt, carry today's date; a second crawl must not turn them, or the
// files they lead to, into downloads.
TEST(CrawlEndToEnd, RedirectPagesAndGeneratedRobotsTxtCauseNoDownloads)
{
    CrawlFixture f;
    f.Page("index.html", "<a href=\"old.html\">old</a> <a href=\"dir\">dir</a> <img src=\"oldpic.jpg\">");
    f.Page("a.html", "<html><body>a</body></html>");
    f.Page("pic.jpg", "\xff\xd8\xff\xe0 not really a picture");
    f.Page("dir/index.html", "<html><body>dir</body></html>");
    REQUIRE_SERVER(f, false,
                   "    location = /old.html { return 302 /a.html; }\n"
                   "    location = /oldpic.jpg { return 302 /pic.jpg; }\n");
    auto prj = f.Project("P", Prj("\tGraphMax=2\n", Record("@ORIGIN@/")));
    ASSERT_EQ(f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}, {"UseHttp10", "1"}}).exitCode, 0);
    const Files files = f.MirrorFiles();
    EXPECT_EQ(files, Prefixed("P/127.0.0.1/", {"index.html", "old.html", "a.html", "oldpic.jpg.html",
                                               "dir/index.html", "robots.txt"}));
    const size_t mark = f.Requests().size();
    auto second = f.Run({"--crawl", prj}, {{"UseRobotsTxt", "1"}, {"UseHttp10", "1"}});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const auto all = f.Requests();
    const std::vector<std::string> requests(all.begin() + static_cast<long>(mark), all.end());
    for (const auto& request : requests)
        EXPECT_NE(request.substr(0, 4), "200 ") << ::testing::PrintToString(requests);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "404 GET /robots.txt HTTP/1.0"), 1);
    // The localised start page links the directory by its page.
    for (const char* file : {"GET / ", "GET /a.html ", "GET /dir/index.html "}) {
        EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                                [&](const std::string& r) { return r.find(file) == 4; }),
                  1)
            << file << ::testing::PrintToString(requests);
    }
    EXPECT_EQ(f.MirrorFiles(), files);
}

// A link found on several pages counts once per page, as its own queue entry
// would: found, then visited or failed at its turn. A URL that failed by a
// broken connection is tried again when another page links to it; one the
// server answered 404 is not asked for again, and still fails for each page.
TEST(CrawlEndToEnd, RepeatedLinksCountPerPageAndAFailureIsTriedAgain)
{
    CrawlFixture f;
    f.Page("index.html", "<a href=\"a.html\">a</a><a href=\"b.html\">b</a>");
    f.Page("a.html", "<a href=\"c.html\">c</a><a href=\"flaky.html\">f</a><a href=\"broken.html\">x</a>");
    f.Page("b.html", "<a href=\"c.html\">c</a><a href=\"d.html\">d</a><a href=\"broken.html\">x</a>");
    f.Page("c.html", "c");
    f.Page("d.html", "<a href=\"flaky.html\">f</a>");
    REQUIRE_SERVER(f, false, "    location = /flaky.html { return 444; }\n");
    auto prj = f.Project("P", Prj("\tGraphMax=3\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.counters, "detected=10 retries=0 visited=6 failed=4 html=5 modified=5");
    EXPECT_EQ(f.CountRequests("GET /flaky.html"), 2);
    EXPECT_EQ(f.CountRequests("GET /broken.html"), 1);
    EXPECT_EQ(f.CountRequests("GET /c.html"), 1);
}

// A redirect is the crawl's answer for its URL: pages that link to it again,
// before or after that answer, count a visit and ask nothing more (whether
// the target is saved yet or not decides neither the requests nor the counts).
TEST(CrawlEndToEnd, ARedirectLinkedFromManyPagesIsAskedForOnce)
{
    CrawlFixture f;
    const std::string links = "<a href=\"/moved.html\">m</a><a href=\"/dir\">d</a>";
    f.Page("index.html", "<a href=\"a.html\">a</a><a href=\"b.html\">b</a>" + links);
    f.Page("a.html", links + "<a href=\"c.html\">c</a>");
    f.Page("b.html", links);
    f.Page("c.html", links);
    f.Page("target.html", "t");
    f.Page("dir/index.html", links);
    REQUIRE_SERVER(f, false, "    location = /moved.html { return 302 /target.html; }\n");
    auto prj = f.Project("P", Prj("\tGraphMax=4\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.CountRequests("GET /moved.html"), 1) << ::testing::PrintToString(f.Requests());
    EXPECT_EQ(f.CountRequests("GET /dir "), 1) << ::testing::PrintToString(f.Requests());
    EXPECT_EQ(f.CountRequests("GET /target.html"), 1);
    EXPECT_EQ(run.counters, "detected=16 retries=0 visited=16 failed=0 html=7 modified=7") << ::testing::PrintToString(f.Requests());
}

// Pages link to much a crawl can't fetch. None of it is requested from the
// site, none of it counts as failed, and the localised pages keep it as
// written; a relative link with a ":" further on is still a page of the site.
// (https links of other hosts are out of the range of the record.)
TEST(CrawlEndToEnd, LinksOfOtherSchemesAreNotPagesOfTheSite)
{
    CrawlFixture f;
    const std::string out = "<a href=\"javascript:void(0)\">j</a><img src=\"data:image/png;base64,AA==\">"
                            "<a href=\"tel:+1\">t</a><a href=\"mailto:x\">m</a><a href=\"ftp://h/\">f</a>"
                            "<a href=\"urn:isbn:1\">u</a>";
    f.Page("index.html", "<html><body>" + out + "<a href=\"https://h/x\">s</a><a href=\"HTTPS://H/\">S</a>"
                             + "<a href=\"a/b:c.html\">1</a><a href=\"./x:y.html\">2</a>"
                               "<a href=\"page.html?u=https://h/\">3</a><a href=\"gone.html\">4</a></body></html>");
    f.Page("a/b:c.html", "<html><body>" + out + "</body></html>");
    f.Page("x:y.html", "<html><body>" + out + "</body></html>");
    f.Page("page.html", "<html><body>" + out + "</body></html>");
    REQUIRE_SERVER(f);
    auto prj = f.Project("P", Prj("\tGraphMax=3\n\tDLoadRetry=0\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj}, {{"UseHttp10", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> requests = f.Requests();
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests, (std::vector<std::string>{"200 GET / HTTP/1.0", "200 GET /a/b:c.html HTTP/1.0",
                                                  "200 GET /page.html?u=https:%2f%2fh%2f HTTP/1.0",
                                                  "200 GET /x:y.html HTTP/1.0", "404 GET /gone.html HTTP/1.0"}));
    EXPECT_EQ(run.counters, "detected=5 retries=0 visited=4 failed=1 html=4 modified=4");
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html", "a/b:c.html", "x:y.html",
                                                         "page.html[3fu=https:[2f[2fh[2f"}));
    for (const char* page : {"index.html", "a/b:c.html"}) {
        const std::string bytes = f.MirrorFile(std::string("P/127.0.0.1/") + page);
        EXPECT_NE(bytes.find(out), std::string::npos) << page << ": " << bytes;
    }
}

// The site with one file that nginx sends slowly: a crawl of it lasts long
// enough to be interrupted in the middle, however fast the rest goes.
void MakeSiteWithSlowFile(CrawlFixture& f)
{
    MakeSite(f);
    f.Page("sub/c.html", "<html><body>c <a href=\"../slow.txt\">slow</a></body></html>");
    f.Page("slow.txt", std::string(48 * 1024, 's'));
}
const char kSlowFileConfig[] = "location = /slow.txt { limit_rate 32k; }";

TEST(CrawlEndToEnd, InterruptedCrawlResumesToTheSameMirror)
{
    std::set<std::string> whole;
    std::map<std::string, std::string> wholeBytes;
    std::string wholeOrigin;
    {
        CrawlFixture f;
        MakeSiteWithSlowFile(f);
        REQUIRE_SERVER(f, false, kSlowFileConfig);
        auto prj = f.Project("P", Prj("\tGraphMax=3\n", Record("@ORIGIN@/")));
        ASSERT_EQ(f.Run({"--crawl", prj}).exitCode, 0);
        whole = f.MirrorFiles();
        wholeOrigin = f.origin();
        for (const auto& file : whole)
            wholeBytes[file] = f.MirrorFile(file);
    }
    CrawlFixture f;
    MakeSiteWithSlowFile(f);
    REQUIRE_SERVER(f, false, kSlowFileConfig);
    auto prj = f.Project("P", Prj("\tGraphMax=3\n", Record("@ORIGIN@/")));
    auto stopped = f.RunAndInterrupt({"--crawl", prj}, {}, 3);
    EXPECT_EQ(stopped.exitCode, 3) << stopped.err;
    auto resumed = f.Run({"--crawl", prj});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(f.MirrorFiles(), whole);
    EXPECT_EQ(whole.count("P/127.0.0.1/slow.txt"), 1u);
    // Byte for byte, but for the server's port in the links left absolute.
    auto withoutOrigin = [](std::string bytes, const std::string& origin) {
        for (size_t at = bytes.find(origin); at != std::string::npos; at = bytes.find(origin, at))
            bytes.replace(at, origin.size(), "ORIGIN");
        return bytes;
    };
    for (const auto& file : whole)
        EXPECT_EQ(withoutOrigin(f.MirrorFile(file), f.origin()), withoutOrigin(wholeBytes[file], wholeOrigin))
            << file;
}

TEST(CrawlEndToEnd, WrongUsageAndUnreadableProjects)
{
    CrawlFixture f;
    EXPECT_EQ(f.Run({"--crawl"}).exitCode, 2);
    EXPECT_EQ(f.Run({"--crawl", "/nonexistent/P.prj"}).exitCode, 1);
    auto bad = f.Project("Bad", "Record { URL=");
    auto run = f.Run({"--crawl", bad});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.err.empty());
}

// A start URL typed wrong is named with why and its item, and counts as
// failed; the project's other records crawl as ever.
TEST(CrawlEndToEnd, StartUrlsThatCannotBeCrawledSayWhyAndCountAsFailed)
{
    CrawlFixture f;
    REQUIRE_SERVER(f);
    f.Page("index.html", "<html><body>top</body></html>");
    auto prj = f.Project("P", Prj("", "Folder=\"News\"\n{\n" + Record("htp://x/") + Record("http://exa mple.com/")
                                          + "}\n" + Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"qry: cannot crawl \"htp://x/\": the scheme is not http or https (item P/News/htp://x/)\n",
                             "qry: cannot crawl \"http://exa mple.com/\": the host name is not valid "
                             "(item P/News/http://exa mple.com/)\n"})
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
    EXPECT_EQ(run.counters, "detected=1 retries=0 visited=1 failed=2 html=1 modified=1");
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", {"index.html"}));
}

// A mirror folder others can write to (shared, or unpacked from an archive)
// may hold links at the names the crawl writes: none is written through,
// and none takes the place of a stored page.
TEST(CrawlEndToEnd, LinksPlantedInTheMirrorAreNeverWrittenThrough)
{
    CrawlFixture f;
    MakeSite(f);
    REQUIRE_SERVER(f);
    const std::string outside = f.dataHome() + "/outside";
    const std::string project = f.mirrorRoot() + "P/";
    ASSERT_TRUE(std::filesystem::create_directories(outside));
    ASSERT_TRUE(std::filesystem::create_directories(project));
    std::vector<std::string> targets;
    for (const char* name : {"tmp0.dat", "tmp1.dat", "tmp2.dat", "tmp3.dat", "tmp4.dat", "tmp5.dat", "tmp.html",
                             "tmp.stamp"}) {
        targets.push_back(outside + "/" + name);
        std::ofstream(targets.back()) << "keep me";
        ASSERT_EQ(::symlink(targets.back().c_str(), (project + name).c_str()), 0);
    }
    auto prj = f.Project("P", Prj("\tGraphMax=1\n", Record("@ORIGIN@/")));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& target : targets) {
        std::ifstream in(target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me") << target;
    }
    struct stat info {};
    ASSERT_EQ(::lstat((project + "127.0.0.1/index.html").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "the stored page is a file of the mirror, not a link";
    EXPECT_NE(f.MirrorFile("P/127.0.0.1/index.html").find("href=\"a.html\""), std::string::npos);
}
