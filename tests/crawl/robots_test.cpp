#include "crawl/robots.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <string>

using namespace ormbrook;
using namespace std::chrono_literals;

namespace {

struct AllowsRow {
    const char* intent;
    const char* robots;
    const char* path;
    int expected;
};

const AllowsRow kAllows[] = {
    {"a disallowed prefix refuses", "User-agent: *\r\nDisallow: /private\r\n", "/private/a.html", 0},
    {"a path outside the prefix is allowed", "User-agent: *\r\nDisallow: /private\r\n", "/public.html", 1},
    {"the first applying group decides",
        "User-agent: *\r\nDisallow: /a\r\n\r\nUser-agent: Ormbrook\r\nDisallow: /b\r\n", "/b", 1},
    {"the first applying group refuses its own", "User-agent: *\r\nDisallow: /a\r\n\r\nUser-agent: Ormbrook\r\n"
        "Disallow: /b\r\n", "/a", 0},
    {"a group for another agent is passed over",
        "User-agent: other\r\nDisallow: /\r\n\r\nUser-agent: Ormbrook\r\nDisallow: /b\r\n", "/a", 1},
    {"our own group applies", "User-agent: other\r\nDisallow: /\r\n\r\nUser-agent: Ormbrook\r\nDisallow: /b\r\n",
        "/b/x", 0},
    {"field names ignore case", "user-AGENT: *\r\nDISALLOW: /x\r\n", "/x", 0},
    {"agent values keep case", "User-agent: ormbrook\r\nDisallow: /x\r\n", "/x", 1},
    {"several agent lines form one group", "User-agent: a\r\nUser-agent: Ormbrook\r\nDisallow: /x\r\n", "/x", 0},
    {"the last matching rule decides", "User-agent: *\r\nDisallow: /a\r\nAllow: /a/b\r\n", "/a/b/c", 1},
    {"the last matching rule decides, the other way", "User-agent: *\r\nAllow: /a/b\r\nDisallow: /a\r\n",
        "/a/b/c", 0},
    {"a rule is decoded, the path is not", "User-agent: *\r\nDisallow: /a%20b\r\n", "/a%20b/x", 1},
    {"a decoded rule matches a path with those bytes", "User-agent: *\r\nDisallow: /%7eu\r\n", "/~u/x", 0},
    {"a malformed escape ends the reading", "User-agent: *\r\nDisallow: /%zz\r\nDisallow: /\r\n", "/x", 1},
    {"a Unix comment hides the rest of the file", "# hello\nUser-agent: *\nDisallow: /\n", "/x", 1},
    {"bare LF lines without comments work", "User-agent: *\nDisallow: /x\n", "/x/y", 0},
    {"a CR LF comment ends at its line", "# hello\r\nUser-agent: *\r\nDisallow: /\r\n", "/x", 0},
    {"a trailing comment after a rule", "User-agent: *\r\nDisallow: /x # no\r\n", "/x", 0},
    {"rules before any agent are skipped", "Disallow: /\r\nUser-agent: *\r\nDisallow: /y\r\n", "/x", 1},
    {"unknown fields are skipped", "User-agent: *\r\nCrawl-delay: 10\r\nDisallow: /x\r\n", "/x", 0},
    {"an empty rule names nothing", "User-agent: *\r\nDisallow:\r\n", "/x", 1},
    {"an empty rule does not swallow the next line", "User-agent: *\r\nDisallow:\r\nDisallow: /x\r\n", "/x", 0},
    {"a rule stops at the first byte outside URL bytes", "User-agent: *\r\nDisallow: /a?b\r\nDisallow: /c\r\n",
        "/c", 0},
    {"an agent with a version still applies by its token",
        "User-agent: Ormbrook/1.0\r\nDisallow: /x\r\n", "/x", 0},
    {"no applying group allows", "User-agent: other\r\nDisallow: /\r\n", "/x", 1},
    {"an empty file allows", "", "/", 1},
    {"a file without a colon allows", "garbage", "/", 1},
};

TEST(RobotsAllows, FollowsTheByteRules)
{
    for (const AllowsRow& row : kAllows) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(RobotsAllowsBytes(row.robots, row.path, kRobotsAgent), row.expected);
    }
}

TEST(RobotsAllows, LongFieldsAreCutToTheBuffer)
{
    const std::string longRule(5000, 'a');
    const std::string robots = "User-agent: *\r\nDisallow: /" + longRule + "\r\n";
    // The rule keeps its first 4095 bytes: "/" and 4094 "a".
    EXPECT_EQ(RobotsAllowsBytes(robots, "/" + std::string(4094, 'a'), kRobotsAgent), 0);
    EXPECT_EQ(RobotsAllowsBytes(robots, "/" + std::string(4093, 'a'), kRobotsAgent), 1);
    const std::string longName(5000, 'x');
    EXPECT_EQ(RobotsAllowsBytes(longName + ": y\r\nUser-agent: *\r\nDisallow: /\r\n", "/", kRobotsAgent), 0);
}

TEST(RobotsUrl, BelongsToTheServerWithItsPort)
{
    EXPECT_EQ(RobotsUrlFor("http://site:8080/a/b.html", ""), "http://site:8080/robots.txt");
    EXPECT_EQ(RobotsUrlFor("HTTP://Site/a", ""), "http://Site/robots.txt");
    EXPECT_EQ(RobotsUrlFor("http://site/a", "http://other/r.txt"), "http://other/r.txt");
    EXPECT_EQ(RobotsUrlFor("nothing", ""), "");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RobotsCrawl : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.path().toStdString() + "/Mirror/";
        temp = dir.path().toStdString() + "/download.tmp";
        start = MirrorNow() - 1ns;
    }

    RobotsDecisionResult Decide(const std::string& url, const std::string& robotsUrl = "", bool busy = false)
    {
        lastHost.clear();
        return RobotsDecision(mirror, url, robotsUrl, "P", start, [&](std::string_view host, std::string_view) {
            lastHost = host;
            return busy;
        });
    }

    RobotsFetchedResult Fetched(int result, int status, const std::string& location, const std::string& body,
                                const std::string& url = "http://site/a.html",
                                const std::string& robotsUrl = "http://site/robots.txt")
    {
        std::ofstream(temp, std::ios::binary) << body;
        return RobotsFetched(mirror, false, result, status, location, robotsUrl, url, "P", temp);
    }

    QTemporaryDir dir;
    std::string root;
    std::string temp;
    CMirror mirror{dir.path().toStdString() + "/Mirror/", "P"};
    MirrorTime start;
    std::string lastHost;
};

TEST_F(RobotsCrawl, UnknownHostFetchesFirstUnlessAnotherObjectDoes)
{
    RobotsDecisionResult first = Decide("http://site:81/a.html");
    EXPECT_EQ(first.verdict, RobotsVerdict::FetchFirst);
    EXPECT_EQ(first.robotsUrl, "http://site:81/robots.txt");
    EXPECT_EQ(lastHost, "site");
    EXPECT_TRUE(QDir(QString::fromStdString(root + "P/site")).exists());
    EXPECT_EQ(Decide("http://site/a.html", "", true).verdict, RobotsVerdict::Pending);
}

TEST_F(RobotsCrawl, OutcomesOfTheRobotsDownload)
{
    struct Row {
        const char* intent;
        bool stopping;
        int result;
        int status;
        RobotsOutcome expected;
    } rows[] = {
        {"stopping wins", true, 2, 200, RobotsOutcome::Stopping},
        {"aborted", false, 1, 0, RobotsOutcome::Unavailable},
        {"failed", false, 3, 0, RobotsOutcome::Unavailable},
        {"not found", false, 2, 404, RobotsOutcome::Unavailable},
        {"received", false, 2, 200, RobotsOutcome::Received},
        {"moved", false, 2, 301, RobotsOutcome::Moved},
        {"found", false, 2, 302, RobotsOutcome::Moved},
        {"not modified", false, 2, 304, RobotsOutcome::Other},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(ClassifyRobotsFetch(row.stopping, row.result, row.status), row.expected);
    }
}

TEST_F(RobotsCrawl, MissingRobotsTxtAllowsTheWholeHostThisCrawl)
{
    RobotsFetchedResult done = Fetched(3, 404, "", "");
    EXPECT_EQ(done.next, RobotsNext::FetchUrl);
    EXPECT_EQ(ReadFile(root + "P/site/robots.txt"),
              "#Robots.txt\r\n#Generated by Ormbrook\r\n#Allow all access\r\n");
    EXPECT_EQ(Decide("http://site/other.html").verdict, RobotsVerdict::Allowed);

    // A later crawl does not trust it.
    start = MirrorNow() + 1s;
    EXPECT_EQ(Decide("http://site/other.html").verdict, RobotsVerdict::FetchFirst);
}

TEST_F(RobotsCrawl, ReceivedRobotsTxtIsStoredAndConsulted)
{
    const std::string body = "User-agent: *\r\nDisallow: /private\r\n";
    EXPECT_EQ(Fetched(2, 200, "", body, "http://site/private/x.html").next, RobotsNext::ReportFailed);
    EXPECT_EQ(ReadFile(root + "P/site/robots.txt"), body);
    EXPECT_EQ(Decide("http://site/private/y.html").verdict, RobotsVerdict::Refused);
    EXPECT_EQ(Decide("http://site/public.html").verdict, RobotsVerdict::Allowed);
    EXPECT_EQ(Fetched(2, 200, "", body, "http://site/ok.html").next, RobotsNext::FetchUrl);
}

TEST_F(RobotsCrawl, RedirectedRobotsTxtLeavesANoteOthersFollow)
{
    // The note holds the Location as received; it is relative to the robots
    // URL, not to the page whose entry met the redirect.
    RobotsFetchedResult moved = Fetched(2, 301, "new/robots.txt", "", "http://site/d/a.html");
    EXPECT_EQ(moved.next, RobotsNext::RequeueRedirected);
    EXPECT_EQ(moved.robotsUrl, "http://site/new/robots.txt");
    EXPECT_NE(ReadFile(root + "P/site/robots.txt.html").find("href=\"new/robots.txt\""), std::string::npos);

    RobotsDecisionResult other = Decide("http://site/d/b.html");
    EXPECT_EQ(other.verdict, RobotsVerdict::Redirected);
    EXPECT_EQ(other.robotsUrl, "http://site/new/robots.txt");

    // The requeued entry fetches from the new place, then is decided by it.
    EXPECT_EQ(Decide("http://site/b.html", other.robotsUrl).verdict, RobotsVerdict::FetchFirst);
    EXPECT_EQ(Fetched(2, 200, "", "User-agent: *\r\nDisallow: /b\r\n", "http://site/b.html", other.robotsUrl).next,
              RobotsNext::ReportFailed);
    EXPECT_EQ(Decide("http://site/b.html", other.robotsUrl).verdict, RobotsVerdict::Refused);
}

TEST_F(RobotsCrawl, RedirectCircleEndsAsAllowAll)
{
    // robots.txt redirects to itself: the entry must not circle for ever.
    EXPECT_EQ(Fetched(2, 302, "http://site/robots.txt", "").next, RobotsNext::RequeueRedirected);
    EXPECT_EQ(Decide("http://site/a.html", "http://site/robots.txt").verdict, RobotsVerdict::Allowed);
    EXPECT_EQ(Decide("http://site/b.html").verdict, RobotsVerdict::Allowed);

    // Two robots URLs pointing at each other.
    Fetched(2, 301, "http://two/robots.txt", "", "http://one/a.html", "http://one/robots.txt");
    Fetched(2, 301, "http://one/robots.txt", "", "http://one/a.html", "http://two/robots.txt");
    EXPECT_EQ(Decide("http://one/a.html").verdict, RobotsVerdict::Allowed);
}

TEST_F(RobotsCrawl, UnusableLocationIsLikeAMissingRobotsTxt)
{
    EXPECT_EQ(Fetched(2, 301, "mailto:x", "").next, RobotsNext::FetchUrl);
    EXPECT_EQ(Decide("http://site/a.html").verdict, RobotsVerdict::Allowed);
}

TEST_F(RobotsCrawl, StoppingAndOtherStatusesWriteNothing)
{
    EXPECT_EQ(RobotsFetched(mirror, true, 2, 200, "", "http://site/robots.txt", "http://site/a", "P", temp).next,
              RobotsNext::RequeueAll);
    EXPECT_EQ(Fetched(2, 304, "", "").next, RobotsNext::Finish);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(root + "P/site/robots.txt")));
}

} // namespace

namespace {

TEST_F(RobotsCrawl, QueueEntriesCarryTheirRobotsUrl)
{
    QueueEntry entry;
    entry.folderPath = "P";
    entry.url = "http://site/pic.jpg";
    Fetched(2, 301, "http://site/r2.txt", "");
    RobotsDecisionResult decided = RobotsDecision(mirror, entry, start, nullptr);
    EXPECT_EQ(decided.verdict, RobotsVerdict::Redirected);
    EXPECT_EQ(entry.robotsUrl, "http://site/r2.txt");

    // A redirect page for the entry itself, and one for its robots URL.
    ASSERT_EQ(mirror.WriteRedirectPage(entry, "http://site/new.jpg", true, false), MirrorResult::Ok);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(root + "P/site/pic.jpg.html")));
    ASSERT_EQ(mirror.WriteRedirectPage(entry, "http://site/r3.txt", true, true), MirrorResult::Ok);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(root + "P/site/r2.txt.html")));
}

} // namespace
