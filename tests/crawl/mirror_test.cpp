#include "crawl/mirror.h"
#include "support/fault_file_calls.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>

using namespace ormbrook;
using namespace std::chrono_literals;

namespace {

TEST(CMirrorLocalPath, NamesFilesByUrlAndFolder)
{
    struct Row {
        const char* intent;
        const char* root;
        const char* folder;
        const char* url;
        const char* expected;  // nullptr: no local path
        const char* readable = nullptr; // with readable names, when they differ
    } rows[] = {
        {"a bare host gets index.html", "/W/Mirror/", "Proj/News", "http://site/", "/W/Mirror/Proj/News/site/index.html"},
        {"the port is not used", "/W/Mirror/", "Proj/News", "http://site:8080/a/", "/W/Mirror/Proj/News/site/a/index.html"},
        {"a query is appended as [3f, escapes become [", "/W/Mirror/", "Proj/News", "http://site/a/b.html?x=1 2",
            "/W/Mirror/Proj/News/site/a/b.html[3fx=1[202"},
        {"a style sheet or script with a query keeps its type at the end", "/W/", "P",
            "http://site/s/site.css?v=2", "/W/P/site/s/site.css[3fv=2.css"},
        {"... once", "/W/", "P", "http://site/app.js?f=x.js", "/W/P/site/app.js[3ff=x.js"},
        {"the fragment plays no part", "/W/Mirror/", "Proj/News", "http://site/%7eu/p.jpg#f",
            "/W/Mirror/Proj/News/site/[7eu/p.jpg"},
        {"a directory URL and its index share a file", "/W/Mirror/", "P", "http://site/a/index.html",
            "/W/Mirror/P/site/a/index.html"},
        {"a query with a fragment shares the query's file", "/W/Mirror/", "P", "http://site/p?x#top",
            "/W/Mirror/P/site/p[3fx#top"},
        {"a root without its final slash gets one", "/W/Mirror", "P", "http://site/x", "/W/Mirror/P/site/x"},
        {"a percent sign in the root is the user's and stays", "/W/100%/", "P%", "http://site/x",
            "/W/100%/P[/site/x"},
        {"a URL that doesn't parse has no local path", "/W/Mirror/", "P", "page.html", nullptr},
        {"a URL that climbs above its root has none", "/W/Mirror/", "P", "http://site/../x", nullptr},
        {"a URL without host has none", "/W/Mirror/", "P", "file:///etc/passwd", nullptr},
        {"a relative mirror root is refused", "Mirror/", "P", "http://site/x", nullptr},
        {"escapes of UTF-8 characters: readable names keep the characters", "/W/", "P",
            "http://site/%E6%97%A5%e6%9c%ac/%e3%83%9a.html?q=%e8%aa%9e",
            "/W/P/site/[E6[97[A5[e6[9c[ac/[e3[83[9a.html[3fq=[e8[aa[9e", "/W/P/site/日本/ペ.html[3fq=語"},
        {"bytes that are not UTF-8, controls, surrogates and ASCII stay escaped", "/W/", "P",
            "http://site/%82%A0%20%e6%97/%C0%AF%C2%85%ED%A0%80%2e%2e%2F%25%5b",
            "/W/P/site/[82[A0[20[e6[97/[C0[AF[C2[85[ED[A0[80[2e[2e[2F[25[5b",
            "/W/P/site/[82[A0[20[e6[97/[C0[AF[C2[85[ED[A0[80[2e[2e[2F[25[5b"},
        {"a host in Unicode: its ASCII form, readable its Unicode form", "/W/", "P", "http://例え.テスト:81/",
            "/W/P/xn--r8jz45g.xn--zckzah/index.html", "/W/P/例え.テスト/index.html"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.intent);
        std::optional<std::string> path = CMirror(row.root, "P").LocalPath(row.url, row.folder);
        ASSERT_EQ(path.has_value(), row.expected != nullptr);
        if (path) {
            EXPECT_EQ(*path, row.expected);
        }
        std::optional<std::string> readable =
            CMirror(row.root, "P", MirrorNaming::Readable).LocalPath(row.url, row.folder);
        EXPECT_EQ(readable, row.readable ? row.readable : path ? std::optional<std::string>(*path) : std::nullopt);
    }
}

// Whatever a page or a server sends, the path stays below the root: no level
// of it is "." or "..", whatever escapes or folder titles were used.
TEST(CMirrorLocalPath, HostileInputStaysInsideTheRoot)
{
    const char* urls[] = {
        "http://site/a/../../x", "http://site/%2e%2e/%2E%2E/x", "http://site/..%2f..%2fetc/passwd",
        "http://site/./.././x", "http://site/a/.../b", "http://site/.%2e/x?../../y",
        "http://site/x\\..\\..\\y", "http://1.2.3/x", "http://site/a/..", "http://site/..",
        "http://site/%00/x", "http://site/a?/../../../etc/passwd", "http://site/#../../x",
        "file://host/../../../etc/passwd", "file://host/a/./../..//b", "http://..//x", "http://./x",
        "http://site/%c0%ae%c0%ae/x", "http://xn--.xn--/x", "http://site/%e3%80%82%e3%80%82/x",
    };
    const char* folders[] = {"P", "..", "../..", "P/../..", ".", "", "/", "/etc", "P//./Q", "a/%2e%2e"};
    const std::string root = "/W/Mirror/";
    int made = 0;
    for (const MirrorNaming naming : {MirrorNaming::Escaped, MirrorNaming::Readable})
    for (const char* folder : folders) {
        for (const char* url : urls) {
            SCOPED_TRACE(std::string(url) + " in " + folder);
            std::optional<std::string> path = CMirror(root, "P", naming).LocalPath(url, folder);
            if (!path)
                continue;
            ++made;
            ASSERT_EQ(path->compare(0, root.size(), root), 0);
            std::string rest = "/" + path->substr(root.size()) + "/";
            EXPECT_EQ(rest.find("/../"), std::string::npos);
            EXPECT_EQ(rest.find("/./"), std::string::npos);
        }
    }
    EXPECT_GT(made, 200);
}

TEST(CMirrorFolders, OddTitlesAreMapped)
{
    struct Row {
        const char* folder;
        const char* expected;
    } rows[] = {
        {"P/F", "P/F"}, {"..", "[2e[2e"}, {"P/./Q", "P/[2e/Q"}, {"P//Q/", "P/Q"}, {"/abs", "abs"},
        {"", ""}, {"P%41", "P[41"}, {"...", "..."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder);
        EXPECT_EQ(SafeFolderPath(row.folder), row.expected);
    }
    EXPECT_EQ(CMirror("/W/", "..").ProjectDirectory(), "/W/[2e[2e/");
    EXPECT_EQ(CMirror("/W/", "").ProjectDirectory(), "/W/");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Leftover temporaries would pile up in the mirror.
int CountFiles(const std::string& directory)
{
    return static_cast<int>(QDir(QString::fromStdString(directory)).entryList(QDir::Files | QDir::Hidden).size());
}

class MirrorFiles : public ::testing::Test {
protected:
    void SetUp() override { root = dir.path().toStdString() + "/Mirror/"; }

    QTemporaryDir dir;
    std::string root;
    CMirror Mirror() const { return CMirror(root, "P"); }
};

TEST_F(MirrorFiles, PrepareReportsEachFailureByItself)
{
    CMirror m = Mirror();
    std::string path;
    EXPECT_EQ(m.PrepareLocalFile("http://site/a/b.html", "P", false, &path), MirrorResult::MissingDirectory);
    EXPECT_EQ(m.PrepareLocalFile("http://site/a/b.html", "P", true, &path), MirrorResult::Ok);
    EXPECT_EQ(path, root + "P/site/a/b.html");
    EXPECT_TRUE(QDir(QString::fromStdString(root + "P/site/a")).exists());

    // A file where a directory must go.
    WriteFile(root + "P/site/file", "x");
    EXPECT_EQ(m.PrepareLocalFile("http://site/file/x.html", "P", true, &path), MirrorResult::DirectoryFailed);

    // Names the file system can't hold.
    const std::string longName(300, 'n');
    EXPECT_EQ(m.PrepareLocalFile("http://site/" + longName, "P", true, &path), MirrorResult::NameTooLong);
    EXPECT_EQ(m.PrepareLocalFile("http://site/" + std::string(255, 'n'), "P", true, &path), MirrorResult::Ok);
    std::string deep = "http://site";
    for (int i = 0; i < 20; ++i)
        deep += "/" + std::string(250, 'd');
    EXPECT_EQ(m.PrepareLocalFile(deep, "P", true, &path), MirrorResult::NameTooLong);
    EXPECT_EQ(m.PrepareLocalFile("mailto:x", "P", true, &path), MirrorResult::NoLocalPath);
}

TEST_F(MirrorFiles, StoreReplacesOnlyWithACompleteCopy)
{
    CMirror m = Mirror();
    const std::string temp = dir.path().toStdString() + "/download.tmp";
    WriteFile(temp, "new bytes\r\n\0x");
    ASSERT_EQ(m.StoreDownload("http://site/a/p.html", "P", temp), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/site/a/p.html"), ReadFile(temp));

    WriteFile(temp, "second");
    ASSERT_EQ(m.StoreDownload("http://site/a/p.html", "P", temp), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/site/a/p.html"), "second");

    // An unreadable download fails that one store and leaves the old file
    // and no temporary behind.
    EXPECT_EQ(m.StoreDownload("http://site/a/p.html", "P", temp + ".missing"), MirrorResult::ReadFailed);
    EXPECT_EQ(ReadFile(root + "P/site/a/p.html"), "second");
    // A URL naming a directory of the mirror stores the directory's page.
    ASSERT_EQ(m.StoreDownload("http://site/a/d/x.html", "P", temp), MirrorResult::Ok);
    EXPECT_EQ(m.StoreDownload("http://site/a/d", "P", temp), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/site/a/d/index.html"), "second");
    EXPECT_EQ(CountFiles(root + "P/site/a"), 1);
    EXPECT_EQ(m.StoreDownload("http://site/" + std::string(256, 'n'), "P", temp), MirrorResult::NameTooLong);
}

// Taking the download itself: the rename that usually does it, and the ways
// it can't (missing directories, a name that is a directory of the mirror, a
// name too long), each with where the bytes end up.
TEST_F(MirrorFiles, MoveDownloadPutsTheFileWhereItsUrlSays)
{
    CMirror m = Mirror();
    ASSERT_EQ(m.PrepareLocalFile("http://site/d/x.html", "P", true, nullptr), MirrorResult::Ok);
    WriteFile(root + "P/site/old.html", "old");
    const struct {
        const char* url;
        MirrorResult result;
        const char* storedAt; // below the root; empty: nothing stored
    } rows[] = {
        {"http://site/new.html", MirrorResult::Ok, "P/site/new.html"},
        {"http://site/old.html", MirrorResult::Ok, "P/site/old.html"},
        {"http://site/deep/er/page.html", MirrorResult::Ok, "P/site/deep/er/page.html"},
        {"http://site/d", MirrorResult::Ok, "P/site/d/index.html"},
        {"http://site/q.html?a=1", MirrorResult::Ok, "P/site/q.html[3fa=1"},
        {"http://site/old.html/under.html", MirrorResult::DirectoryFailed, ""},
        {"http://site/" "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
         MirrorResult::NameTooLong, ""},
    };
    const std::string temp = dir.path().toStdString() + "/tmp0.dat";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        WriteFile(temp, std::string("bytes of ") + row.url);
        std::string storedAt;
        EXPECT_EQ(m.MoveDownload(row.url, "P", temp, &storedAt), row.result);
        if (*row.storedAt) {
            EXPECT_EQ(storedAt, root + row.storedAt);
            EXPECT_EQ(ReadFile(root + row.storedAt), std::string("bytes of ") + row.url);
            EXPECT_FALSE(QFile::exists(QString::fromStdString(temp))) << "the download itself was taken";
        }
    }
    EXPECT_TRUE(QDir(QString::fromStdString(root + "P/site/d")).exists()) << "a directory is never replaced";
}

// While look-ups are remembered, the disk is looked at once per path;
// afterwards every look goes to the disk again.
TEST_F(MirrorFiles, RememberedLookupsAnswerRepeatedLooks)
{
    CMirror m = Mirror();
    ASSERT_EQ(m.PrepareLocalFile("http://site/d/x.html", "P", true, nullptr), MirrorResult::Ok);
    WriteFile(root + "P/site/d/index.html", "i");
    WriteFile(root + "P/site/p.html", "p");
    m.RememberLookups(true);
    EXPECT_TRUE(m.ExistingFile("http://site/p.html", "P"));
    EXPECT_EQ(m.ExistingFile("http://site/d", "P"), root + "P/site/d/index.html");
    EXPECT_FALSE(m.ExistingFile("http://site/gone.html", "P"));
    // Changes behind its back are not seen while it remembers...
    WriteFile(root + "P/site/gone.html", "g");
    QFile::remove(QString::fromStdString(root + "P/site/p.html"));
    EXPECT_FALSE(m.ExistingFile("http://site/gone.html", "P"));
    EXPECT_TRUE(m.ExistingFile("http://site/p.html", "P"));
    // ...and are once it stops.
    m.RememberLookups(false);
    EXPECT_TRUE(m.ExistingFile("http://site/gone.html", "P"));
    EXPECT_FALSE(m.ExistingFile("http://site/p.html", "P"));
}

// The first look into a directory reads all of it; what it held then is the
// answer for every name in it, and names that are links are still followed.
TEST_F(MirrorFiles, RememberedLookupsReadADirectoryWholeAndFollowLinks)
{
    CMirror m = Mirror();
    ASSERT_EQ(m.PrepareLocalFile("http://site/sub/x.html", "P", true, nullptr), MirrorResult::Ok);
    WriteFile(root + "P/site/a.html", "a");
    WriteFile(root + "P/site/sub/index.html", "i");
    ASSERT_EQ(::symlink("a.html", (root + "P/site/link.html").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere.html", (root + "P/site/dangling.html").c_str()), 0);
    m.RememberLookups(true);
    const struct {
        const char* url;
        bool exists;
    } rows[] = {
        {"http://site/a.html", true},      {"http://site/link.html", true},
        {"http://site/dangling.html", false}, {"http://site/sub", true},
        {"http://site/missing.html", false}, {"http://site/nodir/a.html", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(m.ExistingFile(row.url, "P").has_value(), row.exists) << row.url;
    // sub/ was read whole; the site's directory, which holds links, was not.
    WriteFile(root + "P/site/sub/later.html", "l");
    WriteFile(root + "P/site/later.html", "l");
    EXPECT_FALSE(m.ExistingFile("http://site/sub/later.html", "P"));
    EXPECT_TRUE(m.ExistingFile("http://site/later.html", "P"));
    m.RememberLookups(false);
    EXPECT_TRUE(m.ExistingFile("http://site/sub/later.html", "P"));
}

// While absence is remembered, every way this object stores a file is seen
// at once: a URL stored is found (with its stat), in a directory that was
// read before, in one that was missing, and in one made for it.
TEST_F(MirrorFiles, RememberedAbsenceSeesEveryFileStoredThrough)
{
    CMirror m = Mirror();
    ASSERT_EQ(m.PrepareLocalFile("http://site/old/x.html", "P", true, nullptr), MirrorResult::Ok);
    WriteFile(root + "P/site/there.html", "t");
    const std::string temp = dir.path().toStdString() + "/tmp0.dat";
    using Store = std::function<MirrorResult(const char* url)>;
    const struct {
        const char* intent;
        const char* url;
        Store store;
    } rows[] = {
        {"a download into a directory read before", "http://site/new.html",
         [&](const char* url) { WriteFile(temp, "d"); return m.MoveDownload(url, "P", temp, nullptr); }},
        {"a download into a directory that was missing", "http://site/made/deeper/new.html",
         [&](const char* url) { WriteFile(temp, "d"); return m.MoveDownload(url, "P", temp, nullptr); }},
        {"a copied download", "http://site/old/copied.html",
         [&](const char* url) { WriteFile(temp, "c"); return m.StoreDownload(url, "P", temp); }},
        {"a redirect page", "http://site/moved.html",
         [&](const char* url) { return m.WriteRedirectPage(url, "P", "http://site/new.html", false); }},
        {"a generated robots.txt", "http://other/robots.txt",
         [&](const char* url) { return m.WriteAllowAllRobotsFor(url, "P"); }},
        {"a generated robots.txt by its directory", "http://third/robots.txt",
         [&](const char*) { return m.WriteAllowAllRobots(root + "P/third"); }},
    };
    m.RememberAbsence(true);
    struct stat info {};
    EXPECT_TRUE(m.ExistingFile("http://site/there.html", "P", &info)) << "a file there before";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.intent);
        EXPECT_FALSE(m.ExistingFile(row.url, "P", &info));
        ASSERT_EQ(row.store(row.url), MirrorResult::Ok);
        info = {};
        EXPECT_TRUE(m.ExistingFile(row.url, "P", &info));
        EXPECT_TRUE(S_ISREG(info.st_mode)) << "found with its stat";
    }
    // A directory made for a download was missing before: it is read afresh,
    // and a neighbour is still missing until stored.
    WriteFile(root + "P/site/made/deeper/outside.html", "x");
    EXPECT_TRUE(m.ExistingFile("http://site/made/deeper/outside.html", "P", &info));
    EXPECT_FALSE(m.ExistingFile("http://site/made/deeper/other.html", "P", &info));
    WriteFile(temp, "o");
    ASSERT_EQ(m.MoveDownload("http://site/made/deeper/other.html", "P", temp, nullptr), MirrorResult::Ok);
    EXPECT_TRUE(m.ExistingFile("http://site/made/deeper/other.html", "P", &info));
    // A file removed behind its back is not found: presence is always looked at.
    QFile::remove(QString::fromStdString(root + "P/site/there.html"));
    EXPECT_FALSE(m.ExistingFile("http://site/there.html", "P", &info));
    m.RememberAbsence(false);
}

TEST_F(MirrorFiles, StateAndTimes)
{
    CMirror m = Mirror();
    const std::string temp = dir.path().toStdString() + "/download.tmp";
    WriteFile(temp, "x");
    EXPECT_EQ(m.LocalState("http://site/p.html", "P"), LocalFileUnknown);
    EXPECT_FALSE(m.SavedAfter("http://site/p.html", "P", MirrorNow() - 1h));

    const MirrorTime start = MirrorNow() - 1s;
    ASSERT_EQ(m.StoreDownload("http://site/p.html", "P", temp), MirrorResult::Ok);
    EXPECT_EQ(m.LocalState("http://site/p.html#x", "P"), LocalFileExists);
    EXPECT_TRUE(m.SavedAfter("http://site/p.html", "P", start));
    EXPECT_FALSE(m.SavedAfter("http://site/p.html", "P", MirrorNow() + 1s));

    // Dated by its server, it still counts as saved by the crawl that
    // stored it.
    const std::string path = root + "P/site/p.html";
    DateStoredFile(path, 1000, "\"e-1\"");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000);
    EXPECT_TRUE(m.SavedAfter("http://site/p.html", "P", start));
    // A later crawl sees it only once it is touched, which keeps its date.
    const MirrorTime later = MirrorBoundary(root);
    EXPECT_FALSE(m.SavedAfter("http://site/p.html", "P", later));
    EXPECT_EQ(m.Touch("http://site/p.html", "P"), MirrorResult::Ok);
    EXPECT_TRUE(m.SavedAfter("http://site/p.html", "P", later));
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000);
    EXPECT_EQ(m.Touch("http://site/none.html", "P"), MirrorResult::WriteFailed);
}

// The entity tag goes with the file where the file system keeps extended
// attributes; a reply without one takes the old one away.
TEST_F(MirrorFiles, EntityTagIsKeptWithTheFile)
{
    ASSERT_EQ(MakeDirectories(root, true), MirrorResult::Ok);
    const std::string path = root + "tagged.html";
    WriteFile(path, "x");
    DateStoredFile(path, std::nullopt, "\"5e0c-1a\"");
    if (StoredEtag(path).empty())
        GTEST_SKIP() << "the file system of " << root << " keeps no user extended attributes";
    EXPECT_EQ(StoredEtag(path), "\"5e0c-1a\"");
    const std::string copy = root + "copy.html";
    WriteFile(copy, "y");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    // From the path, and from the open file.
    const std::string other = root + "other.html";
    WriteFile(other, "z");
    const int fd = ::open(copy.c_str(), O_WRONLY);
    const int otherFd = ::open(other.c_str(), O_WRONLY);
    const int fromFd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_GE(otherFd, 0);
    ASSERT_GE(fromFd, 0);
    CopyStoredDates(path, -1, info, fd);
    CopyStoredDates(path, fromFd, info, otherFd);
    for (int open : {fd, otherFd, fromFd})
        ::close(open);
    EXPECT_EQ(StoredEtag(copy), "\"5e0c-1a\"");
    EXPECT_EQ(StoredEtag(other), "\"5e0c-1a\"");
    DateStoredFile(path, std::nullopt, "");
    EXPECT_EQ(StoredEtag(path), "");
}

TEST_F(MirrorFiles, FileNowIsNeverBeforeMirrorNow)
{
    CMirror m = Mirror();
    const std::string temp = dir.path().toStdString() + "/download.tmp";
    WriteFile(temp, "x");
    for (int i = 0; i < 200; ++i) {
        const MirrorTime before = MirrorNow() - 1ns;
        ASSERT_EQ(m.StoreDownload("http://site/t.html", "P", temp), MirrorResult::Ok);
        ASSERT_TRUE(m.SavedAfter("http://site/t.html", "P", before));
    }
}

TEST_F(MirrorFiles, GeneratedFilesAreByteExact)
{
    CMirror m = Mirror();
    ASSERT_EQ(m.WriteRedirectPage("http://site/pic.jpg", "P", "http://other/new.jpg", true), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/site/pic.jpg.html"),
              "<html>\r\n<head><title>Redirect</title></head>\r\n<body>\r\n"
              "<a href=\"http://other/new.jpg\">Requested object is moved</a><br><br>\r\n"
              "Generated by Ormbrook<br>\r\n</body>\r\n</html>\r\n");
    // A Location with markup in it stays inside the attribute.
    EXPECT_NE(CMirror::RedirectPageBytes("/x\"><script>alert(1)</script>&y=1")
                  .find("<a href=\"/x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;y=1\">"),
              std::string::npos);
    ASSERT_EQ(m.WriteRedirectPage("http://site/d/", "P", "x", false), MirrorResult::Ok);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(root + "P/site/d/index.html")));
    EXPECT_EQ(m.WriteRedirectPage("http://site/" + std::string(252, 'n'), "P", "x", true),
              MirrorResult::NameTooLong);

    const std::string allowAll = "#Robots.txt\r\n#Generated by Ormbrook\r\n#Allow all access\r\n";
    ASSERT_EQ(m.WriteAllowAllRobots(root + "P/site"), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/site/robots.txt"), allowAll);
    ASSERT_EQ(m.WriteAllowAllRobotsFor("http://host:81/robots.txt", "P"), MirrorResult::Ok);
    EXPECT_EQ(ReadFile(root + "P/host/robots.txt"), allowAll);
    EXPECT_EQ(m.WriteAllowAllRobots(dir.path().toStdString() + "/elsewhere"), MirrorResult::NoLocalPath);
    EXPECT_EQ(m.WriteAllowAllRobots(root + "P/../../elsewhere"), MirrorResult::NoLocalPath);
    EXPECT_FALSE(QFile::exists(dir.path() + "/elsewhere/robots.txt"));
}

} // namespace

namespace {

// Every file the mirror writes is whole or not there: a write that fails for
// want of room leaves the old file as it was and nothing beside it, and
// tells why.
TEST_F(MirrorFiles, AFullDiskLeavesTheOldFileAndNoTemporary)
{
    const std::string temp = dir.path().toStdString() + "/download.tmp";
    WriteFile(temp, std::string(100000, 'n'));
    using Write = std::function<MirrorResult(const CMirror&, const std::string& url)>;
    const struct {
        const char* intent;
        Write write;
    } operations[] = {
        {"a download copied in", [&](const CMirror& m, const std::string& url) { return m.StoreDownload(url, "P", temp); }},
        {"a redirect page", [](const CMirror& m, const std::string& url) {
             return m.WriteRedirectPage(url, "P", "http://site/elsewhere.html", false);
         }},
        {"a generated robots.txt", [](const CMirror& m, const std::string&) {
             return m.WriteAllowAllRobotsFor("http://site/robots.txt", "P");
         }},
    };
    const struct {
        const char* intent;
        std::function<void(ormbrook::test::FaultFileCalls&)> fault;
    } faults[] = {
        {"the first write fails", [](auto& f) { f.FailWrite(0); }},
        {"a write goes in half first", [](auto& f) { f.FailWrite(0, ENOSPC, true); }},
        {"the disk fills after some bytes", [](auto& f) { f.FailAfterBytes(40); }},
        {"a quota is reached", [](auto& f) { f.FailWrite(0, EDQUOT); }},
    };
    CMirror m = Mirror();
    for (const auto& operation : operations) {
        for (const auto& fault : faults) {
            SCOPED_TRACE(std::string(operation.intent) + ", " + fault.intent);
            const bool robots = std::string(operation.intent).find("robots") != std::string::npos;
            const std::string url = std::string("http://site/") + (robots ? "robots.txt" : "p.html");
            std::string path;
            ASSERT_EQ(m.PrepareLocalFile(url, "P", true, &path), MirrorResult::Ok);
            WriteFile(path, "old bytes");
            ormbrook::test::FaultFileCalls files;
            fault.fault(files);
            {
                ScopedFileCalls use(files);
                EXPECT_EQ(operation.write(m, url), MirrorResult::WriteFailed);
            }
            EXPECT_TRUE(IsStorageFailure(LastMirrorFailure().err)) << LastMirrorFailure().err;
            EXPECT_FALSE(LastMirrorFailure().path.empty());
            EXPECT_EQ(ReadFile(path), "old bytes");
            for (const QString& name : QDir(QString::fromStdString(root + "P/site")).entryList(QDir::Files | QDir::Hidden))
                EXPECT_TRUE(name == "p.html" || name == "robots.txt") << "left behind: " << name.toStdString();
        }
    }
}

} // namespace

namespace {

// Writes that fail now and then, or come back short, seeded: a stored file
// is always the old one or the whole new one.
TEST_F(MirrorFiles, UnderFlakyWritesAFileIsOldOrWholeNew)
{
    CMirror m = Mirror();
    const std::string temp = dir.path().toStdString() + "/download.tmp";
    std::string path;
    ASSERT_EQ(m.PrepareLocalFile("http://site/f.html", "P", true, &path), MirrorResult::Ok);
    std::string current = "first";
    WriteFile(path, current);
    int stored = 0, refused = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const std::string next = std::string(70000 + seed * 997, static_cast<char>('a' + seed % 26));
        WriteFile(temp, next);
        ormbrook::test::FaultFileCalls files;
        files.SetFlaky(seed, 15, true);
        MirrorResult result;
        {
            ScopedFileCalls use(files);
            result = seed % 2 ? m.StoreDownload("http://site/f.html", "P", temp)
                              : m.WriteRedirectPage("http://site/f.html", "P", next, false);
        }
        const std::string expected = seed % 2 ? next : CMirror::RedirectPageBytes(next);
        if (result == MirrorResult::Ok) {
            current = expected;
            ++stored;
        } else {
            EXPECT_EQ(LastMirrorFailure().err, ENOSPC);
            ++refused;
        }
        EXPECT_TRUE(ReadFile(path) == current) << "the file is neither the old one nor the whole new one";
    }
    EXPECT_GT(stored, 0);
    EXPECT_GT(refused, 0);
}

} // namespace

// Switching the readable names on for a mirror says so when a file there
// would be fetched again under another name.
TEST_F(MirrorFiles, EscapedNamesThatReadableNamingWritesOtherwiseAreFound)
{
    struct Row {
        const char* file;
        bool renamed;
    } rows[] = {
        {"P/site/a.html[3fq=1", false},
        {"P/site/[20[5b[e3[83.html", false}, // ASCII and a cut-off character keep their escapes
        {"日本/site/x.html", false},          // a folder of the project may be named in Japanese
        {"P/site/[e3[83[9a.html", true},
        {"P/xn--r8jz45g.xn--zckzah/index.html", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        QTemporaryDir mirror;
        const std::string path = mirror.path().toStdString() + "/" + row.file;
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
        WriteFile(path, "x");
        EXPECT_EQ(HoldsEscapedNames(mirror.path().toStdString()), row.renamed);
    }
}
