// End-to-end: a page of today's web (style sheets that import each other,
// scripts, srcset candidates, media, a BASE element and a query link written
// with a character reference) is stored whole and localised, against nginx.

#include "support/crawl_fixture.h"

#include <gtest/gtest.h>

using ormbrook::test::CrawlFixture;
using ormbrook::test::NginxServer;
using ormbrook::test::Prefixed;
using ormbrook::test::Record;
using Files = std::set<std::string>;

namespace {

const char kIndex[] =
    "<html><head><base href=\"/site/\"><link rel=stylesheet href=\"css/main.css\"><link rel=icon href=favicon.ico>\n"
    "<style>body { background: url(img/body.png) }</style><script src=\"js/app.js\"></script></head>\n"
    "<body><img src=\"img/a.jpg\" srcset=\"img/a-1x.jpg 1x, img/a-2x.jpg 2x\">\n"
    "<picture><source srcset=\"img/w-480.jpg 480w, img/w-800.jpg 800w\"><img src=\"img/w.jpg\"></picture>\n"
    "<video src=\"media/v.mp4\" poster=\"img/poster.jpg\"><source src=\"media/v.webm\"></video>"
    "<audio src=\"media/a.ogg\"></audio>\n"
    "<iframe src=\"frame.html\"></iframe><input type=image src=\"img/button.gif\">\n"
    "<table background=\"img/table.gif\"><tr><td background=\"img/cell.gif\" "
    "style=\"background-image:url('img/style-attr.png')\">x</td></tr></table>\n"
    "<a href=\"q.html?a=1&amp;b=2\">query</a> <a href=\"deep.html\">deep</a>\n"
    "</body></html>\n";

// Files below the site folder "site/", as the mirror holds them.
const Files kStored = {
    "index.html", "site/css/main.css", "site/css/more.css", "site/favicon.ico", "site/img/body.png",
    "site/js/app.js", "site/img/a.jpg", "site/img/a-1x.jpg", "site/img/a-2x.jpg", "site/img/w-480.jpg",
    "site/img/w-800.jpg", "site/img/w.jpg", "site/media/v.mp4", "site/img/poster.jpg", "site/media/v.webm",
    "site/media/a.ogg", "site/frame.html", "site/img/button.gif", "site/img/table.gif", "site/img/cell.gif",
    "site/img/style-attr.png", "site/q.html[3fa=1&b=2", "site/deep.html", "site/css/deep.css",
    "site/img/deep.gif", "site/img/from-css.png", "site/fonts/f.woff", "site/img/from-import.png",
    "site/img/deep-css.png",
};

// A requisite on another host (the same server under another name) is out
// of the range of the start URL's site, like any link.
std::string OtherHostPicture(const CrawlFixture& f)
{
    return "http://localhost:" + std::to_string(f.port()) + "/site/img/elsewhere.gif";
}

void MakeSite(CrawlFixture& f)
{
    f.Page("index.html", kIndex + ("<img src=\"" + OtherHostPicture(f) + "\">\n"));
    f.Page("site/img/elsewhere.gif", "not to be fetched");
    f.Page("site/css/main.css", "@import \"more.css\";\nbody { background: url(../img/from-css.png) }\n"
                                "@font-face { font-family: f; src: url('../fonts/f.woff') }\n");
    f.Page("site/css/more.css", "p { background: url(/site/img/from-import.png) }\n");
    f.Page("site/css/deep.css", "div { background: url(\"../img/deep-css.png\") }\n");
    f.Page("site/deep.html", "<html><head><link rel=stylesheet href=css/deep.css></head>"
                             "<body><img src=img/deep.gif><a href=far.html>far</a></body></html>");
    f.Page("site/far.html", "<html><body>too far</body></html>");
    f.Page("site/frame.html", "<html><body>frame</body></html>");
    f.Page("site/q.html", "<html><body>query page</body></html>");
    for (const std::string& name : kStored)
        if (name.find("img/") != std::string::npos || name.find("media/") != std::string::npos
            || name.find("fonts/") != std::string::npos || name.ends_with(".js") || name.ends_with(".ico"))
            f.Page(name, "bytes of " + name);
}

} // namespace

TEST(RequisitesEndToEnd, APageIsStoredWithEverythingItNeedsAndLocalised)
{
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    CrawlFixture f;
    ASSERT_TRUE(f.StartServer());
    MakeSite(f);
    // Depth 1: deep.html is the last level; its style sheet and picture
    // come all the same, the page it links to does not.
    auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n}\n" + Record("@ORIGIN@/index.html"));
    auto run = f.Run({"--crawl", prj});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.MirrorFiles(), Prefixed("P/127.0.0.1/", kStored)) << run.out;

    // The server was asked for each once, by its URL, and for nothing else.
    std::set<std::string> asked;
    for (const std::string& line : f.Requests()) {
        EXPECT_TRUE(line.starts_with("200 GET /")) << line;
        asked.insert(line.substr(8, line.rfind(' ') - 8));
    }
    EXPECT_EQ(f.Requests().size(), asked.size()) << "each URL once";
    EXPECT_TRUE(asked.count("/site/q.html?a=1&b=2")) << "the query as the page means it";
    EXPECT_FALSE(asked.count("/site/far.html"));
    EXPECT_EQ(asked.size(), kStored.size());

    // Every link of the stored pages and style sheets leads into the mirror.
    const std::string index = f.MirrorFile("P/127.0.0.1/index.html");
    for (const char* expected :
         {"href=\"site/css/main.css\"", "href=\"site/favicon.ico\"", "url(site/img/body.png)",
          "src=\"site/js/app.js\"", "srcset=\"site/img/a-1x.jpg 1x, site/img/a-2x.jpg 2x\"",
          "srcset=\"site/img/w-480.jpg 480w, site/img/w-800.jpg 800w\"", "poster=\"site/img/poster.jpg\"",
          "src=\"site/media/v.webm\"", "src=\"site/frame.html\"", "src=\"site/img/button.gif\"",
          "background=\"site/img/cell.gif\"", "url('site/img/style-attr.png')",
          "href=\"site/q.html[3fa=1&amp;b=2\""})
        EXPECT_NE(index.find(expected), std::string::npos) << expected << "\n" << index;
    EXPECT_EQ(index.find("<base"), std::string::npos) << "the BASE element went";
    EXPECT_EQ(index.find("127.0.0.1"), std::string::npos) << index;
    EXPECT_NE(index.find("src=\"" + OtherHostPicture(f) + "\""), std::string::npos) << "out of range, stays online";
    const std::string main = f.MirrorFile("P/127.0.0.1/site/css/main.css");
    EXPECT_NE(main.find("@import \"more.css\""), std::string::npos) << main;
    EXPECT_NE(main.find("url(../img/from-css.png)"), std::string::npos) << main;
    EXPECT_NE(f.MirrorFile("P/127.0.0.1/site/css/more.css").find("url(../img/from-import.png)"), std::string::npos);
    const std::string deep = f.MirrorFile("P/127.0.0.1/site/deep.html");
    EXPECT_NE(deep.find("href=\"" + f.origin() + "/site/far.html\""), std::string::npos)
        << "a page not fetched stays online" << deep;
}

// A documentation site keeps its style sheets, scripts, fonts and pictures
// in a folder beside the pages. Crawled from one folder with the default
// range, the pages come with them; other pages above stay out, and so does
// anything a requisite fetched from outside the range links to. Requisites
// of another host come only with RequisitesOffSite, inherited here.
TEST(RequisitesEndToEnd, RequisitesComeFromAnywhereOnTheSiteAndFromOthersWithTheOption)
{
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    struct Case {
        const char* intent;
        const char* folderOptions;
        Files offSite;
    } cases[] = {
        {"default: the other host's requisites stay online", "", {}},
        {"RequisitesOffSite on the folder", "\tRequisitesOffSite=1\n",
         {"static/off.png", "static/off.css", "static/offbg.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.intent);
        CrawlFixture f;
        ASSERT_TRUE(f.StartServer());
        const std::string other = "http://localhost:" + std::to_string(f.port());
        f.Page("docs/index.html",
               "<html><head><link rel=stylesheet href=\"../static/site.css\"><script src=\"/static/app.js\"></script>"
               "<script src=\"/static/loader\"></script><link rel=stylesheet href=\"" + other + "/static/off.css\">"
               "</head><body><img src=\"../static/logo.png\"><img src=\"" + other + "/static/off.png\">"
               "<a href=\"page.html\">page</a> <a href=\"../other/out.html\">out</a></body></html>");
        f.Page("docs/page.html", "<html><head><link rel=stylesheet href=\"../static/site.css\"></head></html>");
        f.Page("static/site.css", "@font-face { font-family: f; src: url(fonts/f.woff) }\n"
                                  "body { background: url(/static/bg.png) }\n");
        // Without an extension it is read as a page; it came as a script, so
        // nothing in it is followed.
        f.Page("static/loader", "<a href=\"/other/out.html\">x</a><img src=\"/static/nested.png\">");
        f.Page("static/off.css", "p { background: url(offbg.png) }");
        for (const char* name : {"static/fonts/f.woff", "static/bg.png", "static/app.js", "static/logo.png",
                                 "static/nested.png", "static/off.png", "static/offbg.png", "other/out.html"})
            f.Page(name, std::string("bytes of ") + name);
        auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n}\nFolder=\"F\"\n{\n" + std::string(c.folderOptions)
                                      + Record("@ORIGIN@/docs/index.html") + "}\n");
        auto run = f.Run({"--crawl", prj});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        Files expected = Prefixed("P/F/127.0.0.1/", {"docs/index.html", "docs/page.html", "static/site.css",
                                                      "static/fonts/f.woff", "static/bg.png", "static/app.js",
                                                      "static/logo.png", "static/loader"});
        expected.merge(Prefixed("P/F/localhost/", c.offSite));
        EXPECT_EQ(f.MirrorFiles(), expected) << run.out;

        const std::string index = f.MirrorFile("P/F/127.0.0.1/docs/index.html");
        for (const char* local : {"href=\"../static/site.css\"", "src=\"../static/app.js\"", "src=\"../static/logo.png\"",
                                  "href=\"page.html\""})
            EXPECT_NE(index.find(local), std::string::npos) << local << "\n" << index;
        EXPECT_NE(index.find(f.origin() + "/other/out.html"), std::string::npos) << "a page out of range stays online";
        EXPECT_EQ(index.find(other + "/static/off.png") == std::string::npos, !c.offSite.empty()) << index;
        EXPECT_NE(f.MirrorFile("P/F/127.0.0.1/static/site.css").find("url(bg.png)"), std::string::npos);
    }
}
