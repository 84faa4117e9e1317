#include "common/url.h"
#include "common/idn.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace ormbrook;
using namespace std::string_literals;

namespace {

struct ParsedRow {
    const char* intent;
    std::string input;
    const char* url;
    const char* path;
    const char* directory;
    const char* fileName;   // nullptr: absent
    const char* extension;  // nullptr: absent
    FileKind kind;
    const char* query;      // nullptr: absent
    const char* fragment;   // nullptr: absent
};

const ParsedRow kParsed[] = {
    {"bare host gets the root path and a lower-case scheme", "HTTP://site", "http://site/", "/", "", nullptr,
        nullptr, FileKindNone, nullptr, nullptr},
    {"dot segments go, query keeps a later fragment", "http://site:8080/a/./b/../c.HTML?x=1 2#top",
        "http://site:8080/a/c.HTML?x=1%202#top", "/a/c.HTML", "/a", "c.HTML", "html", FileKindHtml,
        "x=1%202#top", nullptr},
    {"empty segments collapse", "http://site/a//b/", "http://site/a/b/", "/a/b/", "/a/b", nullptr, nullptr,
        FileKindNone, nullptr, nullptr},
    {"tilde is escaped and a fragment kept", "http://site/~u/p.jpg#f", "http://site/%7eu/p.jpg#f",
        "/%7eu/p.jpg", "/%7eu", "p.jpg", "jpg", FileKindJpeg, nullptr, "f"},
    {"hash inside a query stays in it", "http://site/p?a#b", "http://site/p?a#b", "/p", "", "p", nullptr,
        FileKindNone, "a#b", nullptr},
    {"slash and question mark inside a query are escaped", "http://site/p?a=b/c?d",
        "http://site/p?a=b%2fc%3fd", "/p", "", "p", nullptr, FileKindNone, "a=b%2fc%3fd", nullptr},
    {"fragment escapes hash, slash and question mark", "http://site/p#a#b/c?d", "http://site/p#a%23b%2fc%3fd",
        "/p", "", "p", nullptr, FileKindNone, nullptr, "a%23b%2fc%3fd"},
    {"high bytes are escaped in lower case, existing escapes kept", "http://site/\x82%7E%41",
        "http://site/%82%7E%41", "/%82%7E%41", "", "%82%7E%41", nullptr, FileKindNone, nullptr, nullptr},
    {"space, quote, bar, less-than and control bytes are escaped", "http://site/a b\"|<\x01",
        "http://site/a%20b%22%7c%3c%01", "/a%20b%22%7c%3c%01", "", "a%20b%22%7c%3c%01", nullptr, FileKindNone,
        nullptr, nullptr},
    {"sub-delimiters are kept in a segment", "http://site/a;b=c&d@e:f$-_.+!*'(),",
        "http://site/a;b=c&d@e:f$-_.+!*'(),", "/a;b=c&d@e:f$-_.+!*'(),", "", "a;b=c&d@e:f$-_.+!*'(),",
        "+!*'(),", FileKindOther, nullptr, nullptr},
    {"climbing back to the root leaves the root", "http://site/a/..", "http://site/", "/", "", nullptr, nullptr,
        FileKindNone, nullptr, nullptr},
    {"file climbs above the root without failing", "file://host/a/../../b", "file://host/b", "/b", "", "b",
        nullptr, FileKindNone, nullptr, nullptr},
    {"file keeps empty segments", "file://host/a//b", "file://host/a//b", "/a//b", "/a/", "b", nullptr,
        FileKindNone, nullptr, nullptr},
    {"file keeps a question mark as path text", "file://host/a?b=c", "file://host/a?b=c", "/a?b=c", "", "a?b=c",
        nullptr, FileKindNone, nullptr, nullptr},
    {"empty port is kept with its colon", "http://site:/x", "http://site:/x", "/x", "", "x", nullptr,
        FileKindNone, nullptr, nullptr},
    {"numeric host labels are not counted", "http://1.2.3/", "http://1.2.3/", "/", "", nullptr, nullptr,
        FileKindNone, nullptr, nullptr},
    {"host case is kept, extension folded", "http://Site.EXAMPLE/Dir/A.JPEG", "http://Site.EXAMPLE/Dir/A.JPEG",
        "/Dir/A.JPEG", "/Dir", "A.JPEG", "jpeg", FileKindJpeg, nullptr, nullptr},
    {"hyphen runs inside a label are allowed", "http://a--b.c-d/x.gif", "http://a--b.c-d/x.gif", "/x.gif", "",
        "x.gif", "gif", FileKindGif, nullptr, nullptr},
    {"a dot in a directory is no extension", "http://site/a.b/c", "http://site/a.b/c", "/a.b/c", "/a.b", "c",
        nullptr, FileKindNone, nullptr, nullptr},
    {"trailing dot gives an empty extension of kind other", "http://site/x.", "http://site/x.", "/x.", "", "x.",
        "", FileKindOther, nullptr, nullptr},
    {"shtm is an html page", "http://site/x.ShTm", "http://site/x.ShTm", "/x.ShTm", "", "x.ShTm", "shtm",
        FileKindHtml, nullptr, nullptr},
    {"query right after the host", "http://site/?q", "http://site/?q", "/", "", nullptr, nullptr, FileKindNone,
        "q", nullptr},
    {"empty query is still a query", "http://site/p?", "http://site/p?", "/p", "", "p", nullptr, FileKindNone,
        "", nullptr},
    {"https has the grammar of http", "HTTPS://Site:8443/a/./b/../c.HTML?x=1 2#top",
        "https://Site:8443/a/c.HTML?x=1%202#top", "/a/c.HTML", "/a", "c.HTML", "html", FileKindHtml,
        "x=1%202#top", nullptr},
    {"a bare https host gets the root path", "https://site", "https://site/", "/", "", nullptr, nullptr,
        FileKindNone, nullptr, nullptr},
    {"https escapes and keeps a fragment", "https://site/~u/p.jpg#f", "https://site/%7eu/p.jpg#f", "/%7eu/p.jpg",
        "/%7eu", "p.jpg", "jpg", FileKindJpeg, nullptr, "f"},
    {"a host in Unicode takes its ASCII form", "http://例え.テスト:81/ページ.html",
        "http://xn--r8jz45g.xn--zckzah:81/%e3%83%9a%e3%83%bc%e3%82%b8.html", "/%e3%83%9a%e3%83%bc%e3%82%b8.html", "",
        "%e3%83%9a%e3%83%bc%e3%82%b8.html", "html", FileKindHtml, nullptr, nullptr},
    {"full-width letters and an ideographic full stop map to ASCII", "https://ＥＸＡＭＰＬＥ。jp",
        "https://example.jp/", "/", "", nullptr, nullptr, FileKindNone, nullptr, nullptr},
    {"a NUL ends the text", "http://site/a\0/b"s, "http://site/a", "/a", "", "a", nullptr, FileKindNone, nullptr,
        nullptr},
    {"an IPv6 literal in its one written form", "http://[0:0:0:0:0:0:0:1]:8080/a.html", "http://[::1]:8080/a.html",
        "/a.html", "", "a.html", "html", FileKindHtml, nullptr, nullptr},
    {"an IPv6 literal in lower case, zeros shortened", "https://[2001:DB8:0:0:1:0:0:A]", "https://[2001:db8::1:0:0:a]/",
        "/", "", nullptr, nullptr, FileKindNone, nullptr, nullptr},
};

TEST(CUrlParse, ProducesCanonicalParts)
{
    CUrl url;
    for (const ParsedRow& row : kParsed) {
        SCOPED_TRACE(row.intent);
        ASSERT_TRUE(url.Parse(row.input)) << "error " << url.error();
        EXPECT_EQ(url.error(), UrlOk);
        EXPECT_EQ(url.url(), row.url);
        EXPECT_EQ(url.path(), row.path);
        EXPECT_EQ(url.directory(), row.directory);
        EXPECT_EQ(url.hasFileName(), row.fileName != nullptr);
        if (row.fileName) {
            EXPECT_EQ(url.fileName(), row.fileName);
        }
        EXPECT_EQ(url.hasExtension(), row.extension != nullptr);
        if (row.extension) {
            EXPECT_EQ(url.extension(), row.extension);
        }
        EXPECT_EQ(url.fileKind(), row.kind);
        EXPECT_EQ(url.hasQuery(), row.query != nullptr);
        if (row.query) {
            EXPECT_EQ(url.query(), row.query);
        }
        EXPECT_EQ(url.hasFragment(), row.fragment != nullptr);
        if (row.fragment) {
            EXPECT_EQ(url.fragment(), row.fragment);
        }
        EXPECT_EQ(url.urlNoQuery(), std::string(url.site()).append(url.path()));
        EXPECT_EQ(url.siteDirectory(), std::string(url.site()).append(url.directory()));
        // A "#" in a query belongs to the query; only a fragment is cut off.
        EXPECT_EQ(url.urlNoFragment(),
                  url.url().substr(0, url.url().size() - (url.hasFragment() ? url.fragment().size() + 1 : 0)));
    }
}

TEST(CUrlParse, SiteCarriesSchemeHostAndPort)
{
    CUrl url;
    ASSERT_TRUE(url.Parse("HTTP://Host:0081/a/b.html"));
    EXPECT_EQ(url.scheme(), SchemeHttp);
    EXPECT_EQ(url.host(), "Host");
    EXPECT_TRUE(url.hasPort());
    EXPECT_EQ(url.port(), "0081");
    EXPECT_EQ(url.site(), "http://Host:0081");
    EXPECT_EQ(url.siteDirectory(), "http://Host:0081/a");

    ASSERT_TRUE(url.Parse("http://site/a/.."));
    EXPECT_EQ(url.siteDirectory(), "http://site");

    ASSERT_TRUE(url.Parse("hTTpS://Host:0443/a/b.html"));
    EXPECT_EQ(url.scheme(), SchemeHttps);
    EXPECT_EQ(url.host(), "Host");
    EXPECT_EQ(url.port(), "0443");
    EXPECT_EQ(url.site(), "https://Host:0443");
    EXPECT_EQ(url.siteDirectory(), "https://Host:0443/a");

    ASSERT_TRUE(url.Parse("http://[::1]:8080/a/b.html"));
    EXPECT_EQ(url.host(), "[::1]") << "the brackets are the host's, as Host fields and mirror folders want it";
    EXPECT_EQ(url.port(), "8080");
    EXPECT_EQ(url.portNumber(), 8080);
    EXPECT_EQ(url.site(), "http://[::1]:8080");
}

TEST(CUrlParse, PortNumberFallsBackToTheSchemesOwn)
{
    const std::pair<const char*, int> rows[] = {
        {"http://h/", 80},         {"https://h/", 443},      {"http://h:/", 80},   {"https://h:/", 443},
        {"https://h:8443/", 8443}, {"http://h:0081/", 81},   {"http://h:65535/", 65535},
        {"http://h:65536/", 0},    {"https://h:99999999999/", 0},
    };
    CUrl url;
    for (const auto& [text, port] : rows) {
        ASSERT_TRUE(url.Parse(text)) << text;
        EXPECT_EQ(url.portNumber(), port) << text;
    }
}

TEST(CUrlParse, ReuseForgetsThePreviousParse)
{
    CUrl url;
    ASSERT_TRUE(url.Parse("http://a:1/b/c.gif?q"));
    ASSERT_TRUE(url.Parse("file://h/"));
    EXPECT_EQ(url.url(), "file://h/");
    EXPECT_FALSE(url.hasPort());
    EXPECT_FALSE(url.hasQuery());
    EXPECT_FALSE(url.hasFileName());
    EXPECT_FALSE(url.hasExtension());
    EXPECT_EQ(url.fileKind(), FileKindNone);
    EXPECT_EQ(url.directory(), "");
    ASSERT_TRUE(url.Parse("http://a/x#f"));
    ASSERT_FALSE(url.Parse("http://a/../x"));
    ASSERT_TRUE(url.Parse("http://b/"));
    EXPECT_FALSE(url.hasFragment());
    EXPECT_EQ(url.url(), "http://b/");
}

struct FailedRow {
    const char* intent;
    std::string input;
    int error;
    SchemeId scheme;
};

const FailedRow kFailed[] = {
    {"climbing above the http root", "http://site/../x", UrlAboveRoot, SchemeHttp},
    {"climbing after the root emptied", "http://site/a/../../x", UrlAboveRoot, SchemeHttp},
    {"known scheme that is not fetched", "ftp://site/", UrlSchemeNotSupported, SchemeFtp},
    {"mailto is recognised", "mailto:x", UrlSchemeNotSupported, SchemeMailto},
    {"unknown scheme", "javascript:f()", UrlSchemeNotSupported, SchemeNone},
    {"https climbing above the root", "https://site/../x", UrlAboveRoot, SchemeHttps},
    {"https without slashes", "https:site/", UrlSyntaxError, SchemeHttps},
    {"letter in an https port", "https://site:44a/", UrlSyntaxError, SchemeHttps},
    {"a scheme one letter longer", "httpss://x/", UrlSchemeNotSupported, SchemeNone},
    {"no scheme at all", "page.html", UrlSyntaxError, SchemeNone},
    {"empty text", "", UrlSyntaxError, SchemeNone},
    {"bad byte in the scheme", "ht_tp://x/", UrlSyntaxError, SchemeNone},
    {"scheme without slashes", "http:site/", UrlSyntaxError, SchemeHttp},
    {"scheme with one slash", "http:/site/", UrlSyntaxError, SchemeHttp},
    {"underscore in the host", "http://si_te/", UrlSyntaxError, SchemeHttp},
    {"double dot in the host", "http://a..b/", UrlSyntaxError, SchemeHttp},
    {"host starting with a hyphen", "http://-a/", UrlSyntaxError, SchemeHttp},
    {"host ending with a hyphen", "http://a-/", UrlSyntaxError, SchemeHttp},
    {"hyphen after a dot", "http://a.-b/", UrlSyntaxError, SchemeHttp},
    {"host ending with a dot", "http://a.b./", UrlSyntaxError, SchemeHttp},
    {"host starting with a dot", "http://.a/", UrlSyntaxError, SchemeHttp},
    {"numeric host with a letter", "http://1.2a/", UrlSyntaxError, SchemeHttp},
    {"numeric host with a double dot", "http://1..2/", UrlSyntaxError, SchemeHttp},
    {"numeric host starting with a dot", "http://.1/", UrlSyntaxError, SchemeHttp},
    {"query right after the host", "http://site?x", UrlSyntaxError, SchemeHttp},
    {"empty host", "http:///x", UrlSyntaxError, SchemeHttp},
    {"letter in the port", "http://site:8a/", UrlSyntaxError, SchemeHttp},
    {"bytes that are not UTF-8 in the host", "http://\xff\xfe.jp/", UrlSyntaxError, SchemeHttp},
    {"a Unicode host with an empty label", "http://例え..テスト/", UrlSyntaxError, SchemeHttp},
    {"a Unicode host whose ASCII form has an underscore", "http://例_え.jp/", UrlSyntaxError, SchemeHttp},
    {"a space in the host", "http://exa mple.com/", UrlSyntaxError, SchemeHttp},
    {"port on a file url", "file://host:80/", UrlSyntaxError, SchemeFile},
    {"file url without a path", "file://host", UrlSyntaxError, SchemeFile},
    {"space in a file path", "file://host/a b", UrlSyntaxError, SchemeFile},
    {"hash in a file path", "file://host/a#b", UrlSyntaxError, SchemeFile},
    {"short escape at the end", "http://site/%4", UrlSyntaxError, SchemeHttp},
    {"escape with a non-hex digit", "http://site/%zz", UrlSyntaxError, SchemeHttp},
    {"bad escape in a query", "http://site/p?%g0", UrlSyntaxError, SchemeHttp},
    {"bad escape in a file path", "file://h/%0", UrlSyntaxError, SchemeFile},
    {"segment of 8 KB", "http://site/" + std::string(8191, 'a'), UrlPartTooLong, SchemeHttp},
    {"escaping pushes a segment over", "http://site/a" + std::string(2730, ' '), UrlPartTooLong, SchemeHttp},
    {"query of 8 KB", "http://site/?" + std::string(8192, 'q'), UrlPartTooLong, SchemeHttp},
    {"fragment of 8 KB", "http://site/#" + std::string(8192, 'f'), UrlPartTooLong, SchemeHttp},
    {"an IPv6 literal without its bracket", "http://[::1/a", UrlSyntaxError, SchemeHttp},
    {"brackets around no IPv6 address", "http://[::g]/", UrlSyntaxError, SchemeHttp},
    {"brackets around an IPv4 address", "http://[127.0.0.1]/", UrlSyntaxError, SchemeHttp},
    {"a bracket literal followed by junk", "http://[::1]x/", UrlSyntaxError, SchemeHttp},
};

TEST(CUrlParse, RejectsWithItsErrorCode)
{
    CUrl url;
    for (const FailedRow& row : kFailed) {
        SCOPED_TRACE(row.intent);
        EXPECT_FALSE(url.Parse(row.input));
        EXPECT_EQ(url.error(), row.error);
        EXPECT_EQ(url.scheme(), row.scheme);
    }
    EXPECT_FALSE(url.Parse(std::string_view()));  // a null, empty view
    EXPECT_EQ(url.error(), UrlSyntaxError);
}

TEST(CUrlParse, PartLimitsAreInclusive)
{
    CUrl url;
    EXPECT_TRUE(url.Parse("http://site/" + std::string(8190, 'a')));   // "/" + 8190 bytes
    EXPECT_EQ(url.url(), "http://site/" + std::string(8190, 'a'));
    EXPECT_TRUE(url.Parse("http://site/" + std::string(2730, ' ')));  // 1 + 8190 bytes
    EXPECT_TRUE(url.Parse("http://site/?" + std::string(8191, 'q')));  // a tracking query of today's pages
    EXPECT_TRUE(url.Parse("http://site/#" + std::string(8191, 'f')));
    EXPECT_TRUE(url.Parse("file://h/" + std::string(5000, 'a')));     // file paths have no limit
}

struct LinkRow {
    const char* intent;
    const char* base;
    std::string link;
    std::optional<std::string> expected;
};

const LinkRow kLinks[] = {
    {"relative to the page's directory", "http://site/d/p.html", "q.html", "http://site/d/q.html"},
    {"rooted at the site", "http://site/d/p.html", "/r.html", "http://site/r.html"},
    {"parent directory", "http://site/d/p.html", "../s.html", "http://site/s.html"},
    {"other known scheme is not followed", "http://site/d/p.html", "mailto:x", std::nullopt},
    {"ftp is not followed", "http://site/d/p.html", "ftp://x/", std::nullopt},
    {"absolute link is canonicalised", "http://site/d/p.html", "HTTP://other", "http://other/"},
    {"javascript is not followed", "http://site/d/p.html", "javascript:void(0)", std::nullopt},
    {"data is not followed", "http://site/d/p.html", "data:image/png;base64,iVBORw0KGgo=", std::nullopt},
    {"tel is not followed", "http://site/d/p.html", "tel:+1", std::nullopt},
    {"urn is not followed", "http://site/d/p.html", "urn:isbn:1", std::nullopt},
    {"https is followed", "http://site/d/p.html", "https://h/x", "https://h/x"},
    {"https in capitals is followed", "http://site/d/p.html", "HTTPS://H/", "https://H/"},
    {"a scheme too long for the table is a scheme", "http://site/d/p.html", "view-source:http://x/", std::nullopt},
    {"file is not fetched", "http://site/d/p.html", "file:///etc/passwd", std::nullopt},
    {"a colon after a slash is a relative path", "http://site/d/p.html", "a/b:c.html", "http://site/d/a/b:c.html"},
    {"a colon after a dot segment is a relative path", "http://site/d/p.html", "./x:y.html",
        "http://site/d/x:y.html"},
    {"a scheme in a query is a relative path", "http://site/d/p.html", "page.html?u=https://h/",
        "http://site/d/page.html?u=https:%2f%2fh%2f"},
    {"a digit cannot start a scheme", "http://site/d/p.html", "1x:y", "http://site/d/1x:y"},
    {"climbing above the root names a host", "http://site/d/p.html", "../../t/u.html", "http://t/u.html"},
    {"invalid absolute link comes back as written", "http://site/d/p.html", "http://si_te/x",
        "http://si_te/x"},
    {"relative to a directory url", "http://site/d/", "q", "http://site/d/q"},
    {"relative to the root page", "http://site/", "x#y", "http://site/x#y"},
    {"relative link with a bad escape", "http://site/d/p.html", "a%zz", std::nullopt},
    {"climbing to nothing", "http://site/d/p.html", "../../../", std::nullopt},
    {"unparsable base gives nothing for a relative link", "no base", "q.html", std::nullopt},
    {"unparsable base still lets an absolute link through", "no base", "http://x/y", "http://x/y"},
    {"a NUL ends the link", "http://site/d/p.html", "q.html\0junk"s, "http://site/d/q.html"},
    {"file base", "file://h/a/b.html", "../c.html", "file://h/c.html"},
    {"empty link is the page's directory", "http://site/d/p.html", "", "http://site/d/"},
    {"relative to an https page", "https://site:8443/d/p.html", "q.html?a=1", "https://site:8443/d/q.html?a=1"},
    {"rooted at an https site", "https://site/d/p.html", "/r.html", "https://site/r.html"},
    {"parent of an https page", "https://site/d/e/p.html", "../s.html", "https://site/d/s.html"},
    {"a link with the host in Unicode reaches the site of its ASCII form", "http://xn--r8jz45g.xn--zckzah/d/p.html",
        "http://例え.テスト/x.html", "http://xn--r8jz45g.xn--zckzah/x.html"},
    {"an https link from an http page", "http://site/d/p.html", "HTTPS://Other:8443/x", "https://Other:8443/x"},
    {"relative to a page of an IPv6 site", "http://[::1]:8080/d/p.html", "../q.html", "http://[::1]:8080/q.html"},
    {"an IPv6 link written otherwise", "http://site/", "http://[0::1]/x", "http://[::1]/x"},
};

TEST(CUrlResolveLink, FollowsTheBaseOrRefuses)
{
    for (const LinkRow& row : kLinks) {
        SCOPED_TRACE(row.intent);
        EXPECT_EQ(CUrl::ResolveLink(row.base, row.link), row.expected);
    }
}

// One resolver per base, used for many links in turn (as a page's links
// are), answers as ResolveLink does for each.
TEST(CUrlResolveLink, AResolverReusedForManyLinksAnswersTheSame)
{
    for (const LinkRow& base : kLinks) {
        LinkResolver resolver(base.base);
        for (const LinkRow& row : kLinks) {
            SCOPED_TRACE(std::string(base.base) + " + " + row.link);
            EXPECT_EQ(resolver.Resolve(row.link), CUrl::ResolveLink(base.base, row.link));
        }
    }
}

// A deterministic mix of the pieces URLs are made of, valid and broken alike.
std::vector<std::string> GeneratedUrls(size_t count)
{
    static const char* const kStarts[] = {"http://", "http://", "http://", "HTTP://", "file://", "Http://", "ftp://", "http:/", ""};
    static const char* const kHosts[] = {"site", "site", "Site.Example", "1.2.3.4", "a-b.c", "x..y", "", "h_", "w.e."};
    static const char* const kPieces[] = {"/", "/", "/", "a", "B", ".", "..", "%", "%2F", "%e3", "?", "#", " ",
        "\x82", "\xff", ":", "~", ";", "=", "&", "\"", "index.html", "p.JPG", "x.gif", "\\", "+", "//", "/./",
        "/../", "%zz", "@"};
    std::mt19937 random(20260);
    std::vector<std::string> urls;
    urls.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string url = kStarts[random() % std::size(kStarts)];
        url += kHosts[random() % std::size(kHosts)];
        if (random() % 5 == 0)
            url += random() % 2 ? ":8080" : ":";
        if (random() % 4 != 0)
            url += '/';
        const size_t pieces = random() % 12;
        for (size_t p = 0; p < pieces; ++p)
            url += kPieces[random() % std::size(kPieces)];
        urls.push_back(std::move(url));
    }
    return urls;
}

TEST(CUrlProperties, CanonicalUrlParsesToItself)
{
    CUrl url;
    CUrl again;
    size_t parsed = 0;
    for (const std::string& text : GeneratedUrls(20000)) {
        if (!url.Parse(text))
            continue;
        ++parsed;
        ASSERT_TRUE(again.Parse(url.url())) << text << " -> " << url.url() << " error " << again.error();
        ASSERT_EQ(again.url(), url.url()) << text;
        ASSERT_EQ(again.fileKind(), url.fileKind()) << text;
        ASSERT_EQ(again.hasQuery(), url.hasQuery()) << text;
        ASSERT_EQ(again.hasFragment(), url.hasFragment()) << text;
        // The mirror names files from these parts of a URL parsed once.
        const auto mirrorParts = [](const CUrl& u) {
            return std::string(u.host()).append(u.directory()).append("|").append(u.fileName()).append("|").append(u.query());
        };
        ASSERT_EQ(mirrorParts(again), mirrorParts(url)) << text;
    }
    EXPECT_GT(parsed, 3000u);  // the corpus must exercise the success path
}

// A resolved relative link is parsed below the base's site, which is taken
// as already parsed; every part must come out as a parse from scratch gives.
TEST(CUrlProperties, AResolvedLinkHasThePartsOfAFreshParse)
{
    const std::vector<std::string> bases = GeneratedUrls(300);
    std::vector<std::string> links = GeneratedUrls(300);
    for (std::string& link : links) {
        // Keep what follows the host: a relative or root-relative link.
        const size_t slash = link.find('/', link.find("//") == std::string::npos ? 0 : link.find("//") + 2);
        link = slash == std::string::npos ? link : link.substr(slash + (link.size() % 2));
    }
    const auto parts = [](const CUrl& u) {
        return std::string(u.url()) + "|" + std::string(u.site()) + "|" + std::string(u.host()) + "|"
            + std::string(u.port()) + "|" + std::string(u.path()) + "|" + std::string(u.directory()) + "|"
            + std::string(u.fileName()) + "|" + std::string(u.extension()) + "|" + std::string(u.query()) + "|"
            + std::string(u.fragment()) + "|" + std::to_string(u.fileKind()) + std::to_string(u.hasPort())
            + std::to_string(u.hasFileName()) + std::to_string(u.hasExtension()) + std::to_string(u.hasQuery())
            + std::to_string(u.hasFragment());
    };
    size_t compared = 0;
    CUrl fresh;
    for (const std::string& base : bases) {
        LinkResolver resolver(base);
        for (size_t i = 0; i < links.size(); i += 7) {
            const std::optional<std::string_view> resolved = resolver.Resolve(links[i]);
            if (!resolved || resolver.resolved().error() != UrlOk)
                continue;
            const std::string text(*resolved);
            ASSERT_TRUE(fresh.Parse(text)) << base << " + " << links[i];
            ASSERT_EQ(parts(resolver.resolved()), parts(fresh)) << base << " + " << links[i];
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000u);
}

// An absolute link of a scheme the crawl fetches comes out canonical; one of
// any other scheme (file: among them) gives nothing.
TEST(CUrlProperties, ResolvingAnAbsoluteLinkGivesItsCanonicalForm)
{
    CUrl url;
    for (const std::string& text : GeneratedUrls(5000)) {
        if (!url.Parse(text))
            continue;
        const std::optional<std::string> expected =
            IsWebScheme(url.scheme()) ? std::optional<std::string>(url.url()) : std::nullopt;
        ASSERT_EQ(CUrl::ResolveLink("http://base/d/p.html", text), expected) << text;
    }
}

TEST(UrlTables, MatchExactLowerCaseText)
{
    const std::pair<const char*, int> rows[] = {{"prospero", SchemeProspero}, {"https", SchemeHttps}, {"httpss", SchemeNone},
        {"HTTP", SchemeNone}, {"", SchemeNone}};
    for (const auto& [text, id] : rows)
        EXPECT_EQ(LookupScheme(text), id) << text;
    const std::pair<const char*, int> kinds[] = {{"shtml", FileKindHtml}, {"jpeg", FileKindJpeg},
        {"png", FileKindOther}, {"JPG", FileKindOther}, {"", FileKindOther}};
    for (const auto& [text, kind] : kinds)
        EXPECT_EQ(LookupFileKind(text), kind) << text;
}

TEST(UrlHelpers, TrailingSlash)
{
    EXPECT_EQ(TrailingSlash("a/b"), "a/b/");
    EXPECT_EQ(TrailingSlash("a/b/"), "a/b/");
    EXPECT_EQ(TrailingSlash(""), "/");
}

TEST(UrlHelpers, ForwardSlashesSkipsShiftJisTrailBytes)
{
    const std::pair<std::string, std::string> rows[] = {
        {"a\\b\\c", "a/b/c"},
        {"\x81\\x\\", "\x81\\x/"},     // 0x5C after a lead byte is part of the character
        {"\x9F\\\xE0\\\xEF\\\\", "\x9F\\\xE0\\\xEF\\/"},
        {"\xA0\\\xF0\\", "\xA0/\xF0/"}, // half-width kana and others are single bytes
        {"ab\x81", "ab\x81"},           // a lead byte at the end
        {"a\\\0\\"s, "a/\0\\"s},          // a NUL ends the text
    };
    for (const auto& [input, expected] : rows) {
        std::string text = input;
        ForwardSlashes(text);
        EXPECT_EQ(text, expected);
    }
}

} // namespace

TEST(IdnHost, TheUnicodeFormIsShownForEveryTopLevelDomain)
{
    const std::pair<const char*, const char*> rows[] = {
        {"xn--r8jz45g.xn--zckzah", "例え.テスト"},
        {"XN--BCHER-KVA.de", "bücher.de"},
        {"example.jp", "example.jp"},
        {"xn--zz.example", "xn--zz.example"}, // a label that does not decode stays
    };
    for (const auto& [ascii, unicode] : rows)
        EXPECT_EQ(ToUnicodeHost(ascii), unicode) << ascii;
}
