// A site with Japanese paths, crawled under both namings of the mirror: the
// files, the localised links, the stored-files list and a saved-data copy
// all agree on the names (escapes, or the characters with ReadableNames).

#include "common/url.h"
#include "crawl/mirror.h"
#include "crawl/project_item.h"
#include "support/crawl_fixture.h"
#include "support/scratch_dir.h"
#include "windows/stored_files.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ormbrook;
using namespace ormbrook::test;

TEST(MirrorNames, JapanesePathsUnderBothNamings)
{
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    struct Case {
        const char* intent;
        const char* readableNames;
        const char* directory; // 日本語 as the mirror names it
        const char* page;      // ページ.html
        const char* picture;   // 絵.png
        const char* pageLink;  // the localised links to them
        const char* pictureLink;
        const char* pictureUrl; // the picture's URL, as the stored-files list tells it
    } cases[] = {
        {"escaped, as existing mirrors have it", "0", "[e6[97[a5[e6[9c[ac[e8[aa[9e",
         "[e3[83[9a[e3[83[bc[e3[82[b8.html", "[E7[B5[B5.png", "[e6[97[a5[e6[9c[ac[e8[aa[9e/[e3[83[9a[e3[83[bc[e3[82[b8.html",
         "[E7[B5[B5.png", "/%E7%B5%B5.png"},
        {"readable", "1", "日本語", "ページ.html", "絵.png",
         "%e6%97%a5%e6%9c%ac%e8%aa%9e/%e3%83%9a%e3%83%bc%e3%82%b8.html", "%e7%b5%b5.png", "/%e7%b5%b5.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.intent);
        CrawlFixture f;
        ASSERT_TRUE(f.StartServer());
        f.Page("index.html", "<html><body><a href=\"日本語/ページ.html\">ページ</a></body></html>");
        f.Page("日本語/ページ.html", "<html><body><img src=\"%E7%B5%B5.png\"><a href=\"../index.html\">top</a></body></html>");
        f.Page("日本語/絵.png", "picture");
        const std::map<std::string, std::string> settings{{"ReadableNames", c.readableNames}};
        auto prj = f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n}\n" + Record("@ORIGIN@/"));
        auto run = f.Run({"--crawl", prj}, settings);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string site = std::string("P/127.0.0.1/");
        const std::string page = std::string(c.directory) + "/" + c.page;
        const std::string picture = std::string(c.directory) + "/" + c.picture;
        const std::set<std::string> files{"index.html", page, picture};
        EXPECT_EQ(f.MirrorFiles(), Prefixed(site, files)) << run.out;
        ASSERT_EQ(f.Requests().size(), 3u);
        for (const std::string& line : f.Requests())
            EXPECT_TRUE(line.starts_with("200 GET /")) << line;

        // Localised, in a form a browser reads whatever the page's encoding.
        EXPECT_NE(f.MirrorFile(site + "index.html").find("href=\"" + std::string(c.pageLink) + "\""),
                  std::string::npos) << f.MirrorFile(site + "index.html");
        EXPECT_NE(f.MirrorFile(site + page).find("src=\"" + std::string(c.pictureLink) + "\""), std::string::npos)
            << f.MirrorFile(site + page);

        // The stored-files list names each file by its URL.
        ScratchDir scratch;
        AppSettings app(scratch.file("s.conf"), scratch.file("data"));
        app.LoadSettings();
        auto root = ProjectItem::NewRoot("P");
        CUrl start;
        ASSERT_TRUE(start.Parse(f.origin() + "/"));
        const ProjectItem* record = AppendChild(*root, ProjectItem::NewRecord(start.url()));
        const CMirror mirror(f.mirrorRoot(), "P", MirrorNamingOf(std::stoi(c.readableNames)));
        std::optional<StoredFilesPlace> place = StoredFilesPlaceOf(mirror, *record, app);
        ASSERT_TRUE(place);
        std::set<std::string> listed;
        for (const StoredFile& file : ListStoredFiles(*place)) {
            CUrl url;
            EXPECT_TRUE(url.Parse(file.url)) << file.url;
            listed.insert(url.url());
        }
        EXPECT_EQ(listed, (std::set<std::string>{f.origin() + "/index.html",
                                                  f.origin() + "/%e6%97%a5%e6%9c%ac%e8%aa%9e/%e3%83%9a%e3%83%bc%e3%82%b8.html",
                                                  f.origin() + "/%e6%97%a5%e6%9c%ac%e8%aa%9e" + c.pictureUrl}));

        // A saved-data copy walks the localised pages to the same files.
        const std::string destination = f.mirrorRoot() + "../out/";
        run = f.Run({"--copy-saved", "P/" + start.url(), destination, prj}, settings);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::set<std::string> copied;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(destination))
            if (entry.is_regular_file())
                copied.insert(std::filesystem::relative(entry.path(), destination).string());
        EXPECT_EQ(copied, Prefixed("127.0.0.1/", files));
    }
}
