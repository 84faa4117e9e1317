#include "crawl/css_scanner.h"
#include "crawl/html_scanner.h"
#include "crawl/html_values.h"
#include "crawl/mirror.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>

using namespace ormbrook;

namespace {

struct FoundRow {
    const char* intent;
    std::string css;
    std::vector<std::pair<std::string, bool>> links; // text, import
};

const FoundRow kFound[] = {
    {"bare, single- and double-quoted url()", "a{b:url(x.gif)} c{d:URL( 'y.gif' )} e{f:url(\"z.gif\")}",
        {{"x.gif", false}, {"y.gif", false}, {"z.gif", false}}},
    {"@import with a string or a url()", "@import \"a.css\";@IMPORT url(b.css) screen;@import 'c.css'",
        {{"a.css", true}, {"b.css", true}, {"c.css", true}}},
    {"comments hide what they hold", "/* url(no.gif) @import 'no.css'; */ p{background:url(yes.gif)}",
        {{"yes.gif", false}}},
    {"strings that are not imports are no links", "p:after{content:\"url(no.gif)\"} q{b:url(yes.gif)}",
        {{"yes.gif", false}}},
    {"a name that only ends in url is no url()", "p{x:myurl(no.gif); y:url(yes.gif)}", {{"yes.gif", false}}},
    {"a bare url() that is not closed is none", "p{b:url(no.gif", {}},
    {"an empty url() gives nothing", "p{b:url()}", {}},
    {"escapes stay inside a bare url", "p{b:url(a\\)b.gif)}", {{"a\\)b.gif", false}}},
    {"a string cut by a line break ends there", "p:after{content:'cut\n} q{b:url(c.gif)}", {{"c.gif", false}}},
    {"an unclosed comment ends the sheet", "p{b:url(a.gif)} /* url(b.gif)", {{"a.gif", false}}},
    {"@import after a rule block starts afresh", "@import x; @import 'y.css'", {{"y.css", true}}},
};

} // namespace

TEST(CssScanner, FindsUrlsAndImports)
{
    for (const FoundRow& row : kFound) {
        SCOPED_TRACE(row.intent);
        std::vector<CssLink> links;
        FindCssLinks(row.css, links);
        std::vector<std::pair<std::string, bool>> found;
        for (const CssLink& link : links)
            found.emplace_back(row.css.substr(link.offset, link.length), link.import);
        EXPECT_EQ(found, row.links);
    }
}

TEST(CssScanner, AUrlIsWrittenBackSoThatItReadsTheSame)
{
    const std::pair<CssLink, std::string> rows[] = {
        {CssLink{0, 0, false, '"'}, "a\\\"b'c.gif"},
        {CssLink{0, 0, false, '\''}, "a\"b\\'c.gif"},
        {CssLink{0, 0, false, 0}, "a\\\"b\\'c\\(d\\)\\ e.gif"},
    };
    for (const auto& [link, expected] : rows) {
        std::string out;
        AppendCssUrl(out, link.quote ? "a\"b'c.gif" : "a\"b'c(d) e.gif", link);
        EXPECT_EQ(out, expected);
        // And the scanner reads it back whole.
        const std::string css = link.quote ? "p{b:url(" + std::string(1, link.quote) + out + std::string(1, link.quote) + ")}"
                                           : "p{b:url(" + out + ")}";
        std::vector<CssLink> links;
        FindCssLinks(css, links);
        ASSERT_EQ(links.size(), 1u) << css;
        EXPECT_EQ(css.substr(links[0].offset, links[0].length), out);
    }
}

TEST(CssScanner, AStyleSheetIsKnownByItsNameOrByHavingNoTag)
{
    EXPECT_TRUE(LooksLikeStyleSheet("css", false, "<not looked at>"));
    EXPECT_FALSE(LooksLikeStyleSheet("", true, "p{}"));
    EXPECT_TRUE(LooksLikeStyleSheet("php", false, "p{b:url(x)}"));
    EXPECT_FALSE(LooksLikeStyleSheet("php", false, "<p>"));
    EXPECT_FALSE(LooksLikeStyleSheet("", false, ""));
}

TEST(HtmlValues, CharacterReferences)
{
    const std::pair<std::string, std::string> rows[] = {
        {"a&amp;b&#38;c&#x26;d&#X26;e", "a&b&c&d&e"},
        {"&quot;&apos;&lt;&gt;", "\"'<>"},
        {"&#233;&#x1F600;", "\xC3\xA9\xF0\x9F\x98\x80"},
        {"a=1&b=2&copy=3&amp", "a=1&b=2&copy=3&amp"},       // no reference, or one left as written
        {"&#0;&#xD800;&#x110000;&#;&#x;&#12345678;", "&#0;&#xD800;&#x110000;&#;&#x;&#12345678;"},
        {"&amp;amp;", "&amp;"},                             // decoded once
    };
    for (const auto& [in, expected] : rows) {
        std::string out = "untouched";
        const bool any = DecodeCharacterReferences(in, out);
        EXPECT_EQ(any ? out : in, expected) << in;
        if (!any) {
            EXPECT_EQ(out, "untouched");
        }
    }
    std::string written;
    AppendAttributeValue(written, "a&b\"c<d");
    EXPECT_EQ(written, "a&amp;b&quot;c<d");
}

TEST(HtmlValues, SrcsetCandidates)
{
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"a.jpg 1x, b.jpg 2x", {"a.jpg", "b.jpg"}},
        {" a.jpg, b.jpg , c.jpg 100w", {"a.jpg", "b.jpg", "c.jpg"}},
        {"a.jpg,b.jpg", {"a.jpg,b.jpg"}}, // a URL runs to white space
        {"a,b.jpg 1x", {"a,b.jpg"}},
        {"x.jpg (max-width: 1px, 2px) 1x, y.jpg", {"x.jpg", "y.jpg"}},
        {",,, ", {}},
        {"", {}},
    };
    for (const auto& [srcset, expected] : rows) {
        std::vector<SrcsetCandidate> candidates;
        SplitSrcset(srcset, candidates);
        std::vector<std::string> urls;
        for (const SrcsetCandidate& c : candidates)
            urls.push_back(srcset.substr(c.offset, c.length));
        EXPECT_EQ(urls, expected) << srcset;
    }
}

TEST(CssScanner, AStoredStyleSheetIsLocalisedRelativeToItself)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/Mirror/";
    QDir().mkpath(QString::fromStdString(root + "P/site/img"));
    std::ofstream(root + "P/site/img/a.gif") << "GIF";
    CMirror mirror(root, "P");
    CHtmlScanner scanner;
    const std::string css = "@import 'more.css';\nb { background: url(/img/a.gif) } i { background: url(none.gif) }";
    std::string out;
    ASSERT_TRUE(scanner.RewriteBytes("http://site/css/s.css", "P", css, mirror, false, out));
    EXPECT_EQ(out, "@import 'http://site/css/more.css';\nb { background: url(../img/a.gif) } "
                   "i { background: url(http://site/css/none.gif) }");
    std::vector<LinkRef> links;
    ASSERT_TRUE(scanner.CollectStyleSheetLinks("http://site/css/s.css", css, links));
    EXPECT_EQ(links, (std::vector<LinkRef>{{"http://site/css/more.css", LinkKindCssImport},
                                           {"http://site/img/a.gif", LinkKindCssUrl},
                                           {"http://site/css/none.gif", LinkKindCssUrl}}));
}
