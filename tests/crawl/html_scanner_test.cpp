#include "crawl/html_scanner.h"
#include "support/fault_file_calls.h"
#include "crawl/mirror.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

using namespace ormbrook;
using namespace std::string_literals;

namespace {

const char* const kPage = "http://site/d/p.html";

struct CollectRow {
    const char* intent;
    std::string html;
    std::vector<LinkRef> links;
    const char* title;  // nullptr: none
    bool stopped;
};

const std::string kLongValue = [] {
    std::string v = "/";
    while (v.size() < 70000)
        v += "aaaaaaaaa/";
    return v;
}();

const CollectRow kCollect[] = {
    {"a fragment-only link is not collected", "<a href=#top>", {}, nullptr, false},
    {"an empty link is not collected", "<a href=\"\">", {}, nullptr, false},
    {"a quoted value keeps its space", "<a href=\"a b.html\">",
        {{"http://site/d/a%20b.html", LinkKindAnchor}}, nullptr, false},
    {"an unquoted value ends at a space", "<a href=a b.html>", {{"http://site/d/a", LinkKindAnchor}}, nullptr,
        false},
    {"a tab does not end an unquoted value", "<a href=x\tname=y>",
        {{"http://site/d/x%09name=y", LinkKindAnchor}}, nullptr, false},
    {"single quotes, upper case and white space around the equals sign", "< A  HREF = 'x.html' >",
        {{"http://site/d/x.html", LinkKindAnchor}}, nullptr, false},
    {"every tag gives its own kind",
        "<body background=bg.gif><area href=/m.html><frame src=f.html>"
        "<img ismap src=i.jpg usemap=#m><img usemap=map.html>",
        {{"http://site/d/bg.gif", LinkKindBackground}, {"http://site/m.html", LinkKindArea},
            {"http://site/d/f.html", LinkKindFrame}, {"http://site/d/i.jpg", LinkKindImage},
            {"http://site/d/map.html", LinkKindUsemap}},
        nullptr, false},
    {"duplicates are kept in document order", "<a href=x><img src=x><a href=x>",
        {{"http://site/d/x", LinkKindAnchor}, {"http://site/d/x", LinkKindImage},
            {"http://site/d/x", LinkKindAnchor}},
        nullptr, false},
    {"mailto and ftp pictures are dropped, http kept",
        "<img src=\"mailto:a@b\"><img src=\"ftp://h/x.jpg\"><img src=\"http://h/x.jpg\">",
        {{"http://h/x.jpg", LinkKindImage}}, nullptr, false},
    {"a local name maps back to its escaped URL", "<a href=\"[7eu/x.html\">",
        {{"http://site/d/%7eu/x.html", LinkKindAnchor}}, nullptr, false},
    {"other attributes are passed over, quoted ones cut at spaces", "<a class=\"x y\" href=z.html>",
        {{"http://site/d/z.html", LinkKindAnchor}}, nullptr, false},
    {"an attribute without a value skips the next one", "<a href target=x.html>", {}, nullptr, false},
    {"links of unknown and closing tags are ignored, a LINK that is no requisite too",
        "<embed src=e.swf></a href=q><link rel=next href=n.html><link href=s.css>", {}, nullptr, false},
    {"META ROBOTS nofollow stops the pass after earlier links",
        "<a href=1.html><meta name=robots content=noindex,nofollow><a href=2.html>",
        {{"http://site/d/1.html", LinkKindAnchor}}, nullptr, true},
    {"META ROBOTS none stops too", "<META NAME=\"Robots\" CONTENT=\"NONE\"><a href=2.html>", {}, nullptr,
        true},
    {"CONTENT before NAME does not count", "<meta content=nofollow name=robots><a href=2.html>",
        {{"http://site/d/2.html", LinkKindAnchor}}, nullptr, false},
    {"a piece with a leading space matches nothing",
        "<meta name=robots content=\"noindex, nofollow\"><a href=2.html>",
        {{"http://site/d/2.html", LinkKindAnchor}}, nullptr, false},
    {"NAME without a value ends the META tag", "<meta name content=nofollow><a href=2.html>",
        {{"http://site/d/2.html", LinkKindAnchor}}, nullptr, false},
    {"a comment opened with a space hides its links", "<!-- <a href=c.html> --><a href=d.html>",
        {{"http://site/d/d.html", LinkKindAnchor}}, nullptr, false},
    {"a comment closed by three hyphens ends there", "<!-- x ---><a href=e.html>",
        {{"http://site/d/e.html", LinkKindAnchor}}, nullptr, false},
    {"a comment without a space ends at the first >", "<!--<a href=c.html>--><a href=d.html>",
        {{"http://site/d/d.html", LinkKindAnchor}}, nullptr, false},
    {"a value is cut to 64 KB less a byte", "<a href=\"" + kLongValue + "\">",
        {{"http://site" + kLongValue.substr(0, 65535), LinkKindAnchor}}, nullptr, false},
    {"a title keeps its nested tags", "<title>A <b>B</b></title>", {}, "A <b>B</b>", false},
    {"a later title replaces an earlier one", "<title>one</title><TITLE>two</TITLE>", {}, "two", false},
    {"an empty title is no title", "<title></title>", {}, nullptr, false},
    {"a closing title without an opening one is no title", "x</title>", {}, nullptr, false},
    {"a value the data ends in is lost", "<a href=\"x.html", {}, nullptr, false},
    {"an IPv6 literal link in its one form", "<a href=\"http://[0:0::1]:8080/x.html\">",
        {{"http://[::1]:8080/x.html", LinkKindAnchor}}, nullptr, false},
    {"a local link into an IPv6 site's folder keeps its brackets", "<a href=\"../../[::1]/a[20b.html\">",
        {{"http://[::1]/a%20b.html", LinkKindAnchor}}, nullptr, false},
    // The page's requisites.
    {"style sheets and icons by LINK, whichever attribute comes first",
        "<link rel=stylesheet href=s.css><link href=/i.ico rel=\"Shortcut Icon\"><link rel=alternate href=f.xml>",
        {{"http://site/d/s.css", LinkKindStyleSheet}, {"http://site/i.ico", LinkKindStyleSheet}}, nullptr, false},
    {"scripts, inline frames, media and their posters",
        "<script src=j.js></script><iframe src=f.html></iframe><video src=v.mp4 poster=v.jpg>"
        "<source src=v.webm></video><audio src=a.ogg>",
        {{"http://site/d/j.js", LinkKindScript}, {"http://site/d/f.html", LinkKindInlineFrame},
            {"http://site/d/v.mp4", LinkKindMedia}, {"http://site/d/v.jpg", LinkKindMedia},
            {"http://site/d/v.webm", LinkKindMedia}, {"http://site/d/a.ogg", LinkKindMedia}},
        nullptr, false},
    {"an image button, not a text field",
        "<input type=text src=t.gif><input src=b.gif TYPE=Image>", {{"http://site/d/b.gif", LinkKindInputImage}},
        nullptr, false},
    {"every srcset candidate, with and without descriptors",
        "<img src=a.jpg srcset=\"a-1.jpg 1x, a-2.jpg 2x,a-3.jpg\"><picture><source srcset=\"w,1.jpg 480w\">",
        {{"http://site/d/a.jpg", LinkKindImage}, {"http://site/d/a-1.jpg", LinkKindSrcset},
            {"http://site/d/a-2.jpg", LinkKindSrcset}, {"http://site/d/a-3.jpg", LinkKindSrcset},
            {"http://site/d/w,1.jpg", LinkKindSrcset}},
        nullptr, false},
    {"backgrounds of tables and cells",
        "<table background=t.gif><tr background=r.gif><th background=h.gif><td background=c.gif>",
        {{"http://site/d/t.gif", LinkKindBackground}, {"http://site/d/r.gif", LinkKindBackground},
            {"http://site/d/h.gif", LinkKindBackground}, {"http://site/d/c.gif", LinkKindBackground}},
        nullptr, false},
    {"url() and @import in STYLE elements and style attributes of any tag",
        "<style type=text/css>@import \"i.css\"; p { background: url( 'p.gif' ) } /* url(c.gif) */</style>"
        "<div class=x style=\"background:url(d.gif)\"><a href=a.html style='list-style:url(&quot;l.gif&quot;)'>",
        {{"http://site/d/i.css", LinkKindCssImport}, {"http://site/d/p.gif", LinkKindCssUrl},
            {"http://site/d/d.gif", LinkKindCssUrl}, {"http://site/d/a.html", LinkKindAnchor},
            {"http://site/d/l.gif", LinkKindCssUrl}},
        nullptr, false},
    {"character references are decoded before a link is resolved",
        "<a href=\"q.html?a=1&amp;b=2&#38;c=3&#x26;d=4&copy=5\">",
        {{"http://site/d/q.html?a=1&b=2&c=3&d=4&copy=5", LinkKindAnchor}}, nullptr, false},
    {"the first BASE is what later links resolve against",
        "<a href=x.html><base href=\"/other/dir/\"><base href=\"http://no/\"><a href=y.html><img src=/z.gif>",
        {{"http://site/d/x.html", LinkKindAnchor}, {"http://site/other/dir/y.html", LinkKindAnchor},
            {"http://site/z.gif", LinkKindImage}},
        nullptr, false},
};

TEST(CHtmlScannerCollect, FollowsTheTokenRules)
{
    for (const CollectRow& row : kCollect) {
        SCOPED_TRACE(row.intent);
        CHtmlScanner scanner;
        std::vector<LinkRef> links;
        std::optional<std::string> title;
        ASSERT_TRUE(scanner.CollectLinksFromBytes(kPage, row.html, links, title));
        EXPECT_EQ(links, row.links) << (links.empty() ? std::string() : links.front().url);
        EXPECT_EQ(title.has_value(), row.title != nullptr);
        if (row.title && title) {
            EXPECT_EQ(*title, row.title);
        }
        EXPECT_EQ(scanner.stopped(), row.stopped);
    }
}

TEST(CHtmlScannerCollect, ReportsUnreadableAndEmptyFiles)
{
    QTemporaryDir dir;
    const std::string empty = dir.path().toStdString() + "/empty.html";
    std::ofstream(empty).close();
    CHtmlScanner scanner;
    std::vector<LinkRef> links;
    std::optional<std::string> title;
    EXPECT_FALSE(scanner.CollectLinks(kPage, empty, links, title));
    EXPECT_EQ(scanner.error(), HtmlScanEmptyInput);
    EXPECT_FALSE(scanner.CollectLinks(kPage, dir.path().toStdString() + "/missing.html", links, title));
    EXPECT_EQ(scanner.error(), HtmlScanFileError);
    EXPECT_TRUE(links.empty());
}

TEST(CHtmlScannerNames, TableCodes)
{
    EXPECT_EQ(LookupHtmlName("A"), 1);
    EXPECT_EQ(LookupHtmlName("!--"), 7);
    EXPECT_EQ(LookupHtmlName("/TITLE"), 15);
    EXPECT_EQ(LookupHtmlName("BACKGROUND"), 16);
    EXPECT_EQ(LookupHtmlName("ROBOTS"), 29);
    EXPECT_EQ(LookupHtmlName("a"), 0);
    EXPECT_EQ(LookupHtmlName("/B"), 0);
}

class RewriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.path().toStdString() + "/Mirror/";
        QDir().mkpath(QString::fromStdString(root + "P/site/a/b"));
        QDir().mkpath(QString::fromStdString(root + "P/site/a/c"));
        std::ofstream(root + "P/site/a/c/here.html") << "x";
    }

    std::string Rewrite(const std::string& html, bool localizeAll)
    {
        CMirror mirror(root, "P");
        CHtmlScanner scanner;
        std::string out;
        EXPECT_TRUE(scanner.RewriteBytes("http://site/a/b/p.html", "P", html, mirror, localizeAll, out));
        return out;
    }

    QTemporaryDir dir;
    std::string root;
};

struct RewriteRow {
    const char* intent;
    const char* html;
    bool localizeAll;
    const char* expected;
};

const RewriteRow kRewrite[] = {
    {"a link to a file not saved becomes absolute", "<a href=q.html>", false,
        "<a href=\"http://site/a/b/q.html\">"},
    {"a link to a saved file becomes relative", "<a href='../c/here.html'>", false,
        "<a href=\"../c/here.html\">"},
    {"localize-all points every link into the mirror", "<a href=q.html>", true, "<a href=\"q.html\">"},
    {"the local name of a query and a kept fragment", "<a href=\"/x.html?k=1#s\"><a href=\"r.html#s\">", true,
        "<a href=\"../../x.html[3fk=1#s\"><a href=\"r.html#s\">"},
    {"another host is reached through the folder", "<img src=\"http://other/i.jpg\">", true,
        "<img src=\"../../../other/i.jpg\">"},
    {"a fragment-only value stays, now quoted", "<a href=#top>", true, "<a href=\"#top\">"},
    {"an empty value becomes the empty quoted value", "<a href=''>", true, "<a href=\"\">"},
    {"a link that can't be followed stays", "<a href=mailto:x>", true, "<a href=\"mailto:x\">"},
    {"links of schemes the crawl does not fetch stay as written",
        "<a href=\"javascript:void(0)\"><img src=\"data:image/png;base64,AA==\"><a href=\"tel:+1\">", true,
        "<a href=\"javascript:void(0)\"><img src=\"data:image/png;base64,AA==\"><a href=\"tel:+1\">"},
    {"white space before the value goes and an equals sign is written", "<a href = 'q.html' title=t>", false,
        "<a href =\"http://site/a/b/q.html\" title=t>"},
    {"other attributes and tags are copied unchanged",
        "<IMG USEMAP=#m SRC=i.jpg ALT='a b'><meta content=x><embed src=s.swf><!-- <a href=q> -->", true,
        "<IMG USEMAP=#m SRC=\"i.jpg\" ALT='a b'><meta content=x><embed src=s.swf><!-- <a href=q> -->"},
    {"body and frame are rewritten", "<body background=bg.gif><frame src=/f.html>", true,
        "<body background=\"bg.gif\"><frame src=\"../../f.html\">"},
    {"an attribute without a value is copied as written", "<a href>", true, "<a href>"},
    {"a value that can't stand in double quotes stays as written", "<a href='mailto:\"x\"'>", true,
        "<a href='mailto:\"x\"'>"},
    {"a value the data ends in is kept", "text <a href=\"q.html", true, "text <a href=\"q.html"},
    {"a literal ampersand is written as a character reference", "<a href=\"q.html?a=1&amp;b=2\">", false,
        "<a href=\"http://site/a/b/q.html?a=1&amp;b=2\">"},
    {"and so in a local name", "<a href='q.html?a=1&#38;b=2'>", true, "<a href=\"q.html[3fa=1&amp;b=2\">"},
    {"a value kept as written keeps its references", "<a href=\"#a&amp;b\">", true, "<a href=\"#a&amp;b\">"},
    {"requisites are rewritten", "<link rel=stylesheet href=../c/here.html><script src=/j.js>", false,
        "<link rel=stylesheet href=\"../c/here.html\"><script src=\"http://site/j.js\">"},
    {"each srcset candidate is rewritten, descriptors kept",
        "<img srcset=\"../c/here.html 2x, q.jpg 480w\">", false,
        "<img srcset=\"../c/here.html 2x, http://site/a/b/q.jpg 480w\">"},
    {"url() of a style attribute", "<p style=\"background: url('/a/c/here.html') no-repeat\">", false,
        "<p style=\"background: url('../c/here.html') no-repeat\">"},
    {"url() and @import of a STYLE element",
        "<style>@import url(x.css);\nb{background:url(\"/a/c/here.html\")}</style><a href=../c/here.html>", false,
        "<style>@import url(http://site/a/b/x.css);\nb{background:url(\"../c/here.html\")}</style>"
        "<a href=\"../c/here.html\">"},
    {"the BASE element goes, and the links resolve against it",
        "<head><base href=\"http://site/a/c/\"></head><a href=here.html>", false,
        "<head></head><a href=\"../c/here.html\">"},
};

TEST_F(RewriteTest, ReplacesLinkValues)
{
    for (const RewriteRow& row : kRewrite) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(Rewrite(row.html, row.localizeAll), row.expected);
    }
}

TEST_F(RewriteTest, ValueCutAtTheLimitIsLeftAsWritten)
{
    const std::string html = "<a href=\"" + kLongValue + "\">";
    EXPECT_EQ(Rewrite(html, true), html);
}

// Links rewritten to local names must resolve back to the URLs they were
// made from, so that a later crawl finds the same pages in the saved copy.
TEST_F(RewriteTest, CollectAfterRewriteFindsTheSameUrls)
{
    const std::string html =
        "<html><title>T</title><body background=/bg.gif>"
        "<a href=q.html>q</a><a href='../c/here.html#p'>h</a><a href=\"/~u/x y.html\">u</a>"
        "<img src=\"http://other/i.jpg\"><frame src=sub/f.html><img src=\"http://third/a/b/c/d.gif\">"
        "<area href=\"#local\"><a href=\"\">e</a><a href=\"../../index.html\">top</a>"
        "<a href=\"list.html?page=2&amp;x=%7e\">query</a></body></html>";
    const std::string page = "http://site/a/b/p.html";
    for (bool localizeAll : {false, true}) {
        SCOPED_TRACE(localizeAll);
        CHtmlScanner scanner;
        std::vector<LinkRef> before, after;
        std::optional<std::string> title;
        ASSERT_TRUE(scanner.CollectLinksFromBytes(page, html, before, title));
        ASSERT_EQ(before.size(), 9u);
        const std::string rewritten = Rewrite(html, localizeAll);
        ASSERT_NE(rewritten, html);
        ASSERT_TRUE(scanner.CollectLinksFromBytes(page, rewritten, after, title));
        EXPECT_EQ(after, before);
    }
}

TEST(RelativePath, FromPageToTarget)
{
    struct Row {
        const char* intent;
        const char* page;
        const char* target;
        const char* expected;
    } rows[] = {
        {"sibling directory", "R/site/a/b/p.html", "R/site/a/c/q.html", "../c/q.html"},
        {"the page itself", "R/site/a/p.html", "R/site/a/p.html", "p.html"},
        {"deeper target", "R/site/p.html", "R/site/x/y/q.html", "x/y/q.html"},
        {"shared name prefix is not a shared directory", "R/site/ab/p.html", "R/site/abc/q.html",
            "../abc/q.html"},
        {"another host", "R/P/site/a/p.html", "R/P/other/i.jpg", "../../other/i.jpg"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(RelativePath(row.page, row.target), row.expected);
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(RewriteTest, RewritesTheSavedFileThroughTheProjectTemporary)
{
    const std::string saved = root + "P/site/a/b/p.html";
    std::ofstream(saved) << "<a href=q.html>";
    CHtmlScanner scanner;
    ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, CMirror(root, "P"), true));
    EXPECT_EQ(ReadFile(saved), "<a href=\"q.html\">");
    scanner.RemoveTemporary(CMirror(root, "P"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(root + "P/tmp.html")));
}

// A page localised by an earlier crawl names the mirror's files by their
// local names; rewriting it again keeps every such link, and with it the
// whole page, as it was.
TEST_F(RewriteTest, LocalNamesOfAnEarlierLocalisationStay)
{
    std::ofstream(root + "P/site/a/b/q.html[3fview=1") << "q";
    std::ofstream(root + "P/site/a/b/q.html[3fview=v:1") << "q";
    std::ofstream(root + "P/site/a/b/r.html") << "r";
    const struct {
        const char* link;
        const char* expected;
    } rows[] = {
        {"q.html[3fview=1", "q.html[3fview=1"},
        {"q.html[3fview=1#top", "q.html[3fview=1#top"},
        {"q.html[3fview=v:1", "q.html[3fview=v:1"},
        {"../c/here.html", "../c/here.html"},
        {"r.html", "r.html"},
        {"q.html?view=1", "q.html[3fview=1"},
        {"q.html[3fview=2", "http://site/a/b/q.html%5b3fview=2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.link);
        for (bool localizeAll : {false, true}) {
            if (!localizeAll || std::string(row.expected).rfind("http:", 0) != 0) {
                EXPECT_EQ(Rewrite(std::string("<a href=\"") + row.link + "\">", localizeAll),
                          std::string("<a href=\"") + row.expected + "\">");
            }
        }
    }
}

// A page that is already as the rewrite would make it is left untouched:
// the same file, not written again.
TEST_F(RewriteTest, AnAlreadyLocalisedPageIsNotWrittenAgain)
{
    const std::string saved = root + "P/site/a/b/p.html";
    std::ofstream(saved) << "<a href=\"q.html\">";
    struct stat before {};
    ASSERT_EQ(::stat(saved.c_str(), &before), 0);
    CHtmlScanner scanner;
    ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, CMirror(root, "P"), true));
    struct stat after {};
    ASSERT_EQ(::stat(saved.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadFile(saved), "<a href=\"q.html\">");
}

// A page that has other names too (a backup made of hard links) keeps its
// old bytes under them, also through the rewrites of further pages.
TEST_F(RewriteTest, AHardLinkedPageKeepsItsOldBytesUnderItsOtherNames)
{
    const std::string first = root + "P/site/a/b/p.html";
    const std::string second = root + "P/site/a/b/r.html";
    const std::string backup = root + "backup.html";
    std::ofstream(first) << "<a href=q.html>";
    std::ofstream(second) << "<a href=s.html>";
    ASSERT_EQ(::link(first.c_str(), backup.c_str()), 0);
    CHtmlScanner scanner;
    const CMirror mirror(root, "P");
    ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/p.html", "P", first, mirror, true));
    ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/r.html", "P", second, mirror, true));
    scanner.RemoveTemporary(mirror);
    EXPECT_EQ(ReadFile(first), "<a href=\"q.html\">");
    EXPECT_EQ(ReadFile(second), "<a href=\"s.html\">");
    EXPECT_EQ(ReadFile(backup), "<a href=q.html>");
}

// The temporary is reused from page to page: whatever it held before (a
// longer page, a file left by a stopped run), each page comes out exact, also
// when the caller hands over a stat that no longer fits the page.
TEST_F(RewriteTest, ARunOfRewritesOfPagesOfAnyLengthComesOutExact)
{
    std::ofstream(root + "P/tmp.html") << std::string(300, 'z');
    const std::string longPage = "<p>" + std::string(200, 'x') + "<a href=q.html>";
    const struct {
        const char* name;
        std::string page;
        bool giveStat;
    } rows[] = {
        {"a.html", "<a href=q.html>", false},
        {"b.html", longPage, true},
        {"c.html", "<a href=s.html>", true},
        {"d.html", "<a href=t.html><a href=u.html>", true},
        {"e.html", "<a href=v.html>", false},
    };
    CHtmlScanner scanner;
    const CMirror mirror(root, "P");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string saved = root + "P/site/a/b/" + row.name;
        std::ofstream(saved) << row.page;
        struct stat info {};
        ASSERT_EQ(::stat(saved.c_str(), &info), 0);
        // The page grows after the stat was made: all of it is still read.
        std::ofstream(saved, std::ios::app) << "<a href=w.html>";
        const std::string url = std::string("http://site/a/b/") + row.name;
        ASSERT_TRUE(scanner.RewriteLinks(url, "P", saved, mirror, true, row.giveStat ? &info : nullptr));
        std::string expected = row.page + "<a href=w.html>";
        for (size_t at = 0; (at = expected.find("href=", at)) != std::string::npos; at += 6) {
            const size_t end = expected.find('>', at);
            expected.replace(at, end - at, "href=\"" + expected.substr(at + 5, end - at - 5) + "\"");
        }
        EXPECT_EQ(ReadFile(saved), expected);
    }
    scanner.RemoveTemporary(mirror);
}

// A page changed after the moment given was rewritten already in this
// phase (it was queued twice): it is left as it is. One changed before it
// is rewritten.
TEST_F(RewriteTest, APageRewrittenSinceTheGivenMomentIsLeftAlone)
{
    const std::string saved = root + "P/site/a/b/p.html";
    const std::string page = "<a href=q.html>";
    const struct {
        const char* intent;
        std::chrono::seconds momentBeforePage;
        bool rewritten;
    } rows[] = {
        {"changed after the moment", std::chrono::seconds(10), false},
        {"changed before the moment", std::chrono::seconds(-10), true},
    };
    CHtmlScanner scanner;
    const CMirror mirror(root, "P");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.intent);
        std::ofstream(saved) << page;
        struct stat info {};
        ASSERT_EQ(::stat(saved.c_str(), &info), 0);
        const MirrorTime moment = ChangedTimeOf(info) - row.momentBeforePage;
        ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, mirror, true, nullptr, moment));
        EXPECT_EQ(ReadFile(saved), row.rewritten ? "<a href=\"q.html\">" : page);
    }
    scanner.RemoveTemporary(mirror);
}

// A rewrite that can't be written whole for want of room leaves the page as
// it was and says why; with room it goes through.
TEST_F(RewriteTest, ARewriteWithoutRoomLeavesThePageAsItWas)
{
    const std::string saved = root + "P/site/a/b/p.html";
    const std::string page = "<a href=q.html>" + std::string(5000, 'x');
    const struct {
        const char* intent;
        std::function<void(ormbrook::test::FaultFileCalls&)> fault;
    } faults[] = {
        {"the write fails", [](auto& f) { f.FailWrite(0); }},
        {"half goes in, then the disk is full", [](auto& f) { f.FailWrite(0, ENOSPC, true); }},
        {"the disk fills after a few bytes", [](auto& f) { f.FailAfterBytes(5); }},
    };
    CHtmlScanner scanner;
    const CMirror mirror(root, "P");
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.intent);
        std::ofstream(saved) << page;
        ormbrook::test::FaultFileCalls files;
        fault.fault(files);
        {
            ScopedFileCalls use(files);
            EXPECT_FALSE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, mirror, true));
        }
        EXPECT_EQ(scanner.writeError(), ENOSPC);
        EXPECT_EQ(ReadFile(saved), page);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(root + "P/tmp.html")));
        ASSERT_TRUE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, mirror, true));
        EXPECT_EQ(scanner.writeError(), 0);
        EXPECT_EQ(ReadFile(saved), "<a href=\"q.html\">" + std::string(5000, 'x'));
    }
    scanner.RemoveTemporary(mirror);
}

TEST_F(RewriteTest, FailedRewriteLeavesThePageAsItWas)
{
    const std::string saved = root + "P/site/a/b/p.html";
    std::ofstream(saved) << "<a href=q.html>";
    CHtmlScanner scanner;
    // No project directory for the temporary file.
    EXPECT_FALSE(scanner.RewriteLinks("http://site/a/b/p.html", "P", saved, CMirror(root, "Gone"), true));
    EXPECT_EQ(scanner.error(), HtmlScanNoOutput);
    // The page URL has no local path.
    EXPECT_FALSE(scanner.RewriteLinks("mailto:x", "P", saved, CMirror(root, "P"), true));
    EXPECT_EQ(scanner.error(), HtmlScanNoOutput);
    // The temporary can't be put over a page that is a directory.
    const std::string blocked = root + "P/site/a/c";
    EXPECT_FALSE(scanner.RewriteLinks("http://site/a/c", "P", blocked, CMirror(root, "P"), true));
    EXPECT_EQ(ReadFile(saved), "<a href=q.html>");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(root + "P/tmp.html")));
}

} // namespace
