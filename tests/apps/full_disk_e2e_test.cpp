// A crawl into a mirror on a file system that fills up: qry, as its own
// process, against nginx, with the mirror on a small tmpfs mounted in a
// mount namespace of its own (as root, or as a user in a user namespace).
// The crawl must stop with status 4 and keep nothing cut short; once the file
// system has grown, the next crawl must finish with every page whole.

#include "support/crawl_fixture.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

using ormbrook::test::CrawlFixture;
using ormbrook::test::NginxServer;
using ormbrook::test::QryPath;
using ormbrook::test::Record;
using ormbrook::test::ScratchDir;

namespace fs = std::filesystem;

namespace {

constexpr int kPages = 30;
constexpr size_t kPageSize = 100 * 1024;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether two files hold the same bytes; the message tells how much each
// holds rather than printing them.
::testing::AssertionResult SameBytes(const std::string& path, const std::string& expectedPath)
{
    const std::string bytes = ReadAll(path);
    const std::string expected = ReadAll(expectedPath);
    if (bytes == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " holds " << bytes.size() << " bytes, not the "
                                         << expected.size() << " of " << expectedPath;
}

// Single quotes for sh.
std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the script in a mount namespace of its own: with -r as a user that
// may not mount. Returns the exit status of sh, or -1 when unshare can't run.
int RunInMountNamespace(const std::string& script)
{
    const bool root = ::geteuid() == 0;
    const std::string command = std::string("unshare ") + (root ? "" : "-r ") + "-m --propagation private sh -c "
        + Quoted(script) + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(FullDiskEndToEnd, AFullDiskStopsTheCrawlAndTheNextRunFinishesIt)
{
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    ScratchDir scratch;
    const std::string mount = scratch.path() + "small";
    fs::create_directories(mount);
    // Whether a tmpfs can be mounted here at all.
    if (RunInMountNamespace("mount -t tmpfs -o size=1m tmpfs " + Quoted(mount)) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: neither root nor allowed to make a user namespace with unshare";

    CrawlFixture f;
    std::string index = "<html><body>\n";
    for (int i = 0; i < kPages; ++i) {
        const std::string name = "p" + std::to_string(i) + ".html";
        index += "<a href=\"" + name + "\">" + name + "</a>\n";
        std::string page = "<html><body><a href=\"index.html\">top</a>\n";
        page.resize(kPageSize - 16, static_cast<char>('a' + i % 26));
        f.Page(name, page + "\n</body></html>\n");
    }
    f.Page("index.html", index + "</body></html>\n");
    ASSERT_TRUE(f.StartServer());
    const std::string project =
        f.Project("P", "ProjectDefault\n{\n\tGraphMax=1\n\tDLoadRetry=0\n}\n" + Record("@ORIGIN@/"));

    // Two crawls in one namespace: the first into 2 MB, the second after the
    // file system has grown. What each left is copied out for the checks.
    const std::string out = scratch.path();
    auto crawl = [&](const std::string& name) {
        return "XDG_CONFIG_HOME=" + Quoted(out + "config") + " XDG_DATA_HOME=" + Quoted(out + "data") + " "
            + Quoted(QryPath()) + " --crawl " + Quoted(project) + " --set " + Quoted("MirrorDir=" + mount + "/")
            + " >" + Quoted(out + name + ".out") + " 2>" + Quoted(out + name + ".err") + "; echo $? >"
            + Quoted(out + name + ".status") + "; cp -r " + Quoted(mount + "/P") + " " + Quoted(out + name);
    };
    const std::string script = "set -u; mount -t tmpfs -o size=2m tmpfs " + Quoted(mount) + " || exit 9; "
        + crawl("first") + "; mount -o remount,size=64m " + Quoted(mount) + " || exit 9; " + crawl("second");
    ASSERT_EQ(RunInMountNamespace(script), 0);

    const std::string site = f.siteRoot() + "/";
    auto pageFiles = [](const std::string& mirror) {
        std::vector<std::string> names;
        if (!fs::exists(mirror))
            return names;
        for (const auto& e : fs::directory_iterator(mirror))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    // The first crawl stopped for want of room, said so, and every page it
    // kept is whole.
    EXPECT_EQ(ReadAll(out + "first.status"), "4\n") << ReadAll(out + "first.err");
    const std::string why = ReadAll(out + "first.err");
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
    EXPECT_NE(why.find(mount), std::string::npos) << why;
    const std::vector<std::string> kept = pageFiles(out + "first/127.0.0.1");
    EXPECT_LT(kept.size(), static_cast<size_t>(kPages)) << "the file system was meant to fill up";
    for (const std::string& name : kept)
        EXPECT_TRUE(SameBytes(out + "first/127.0.0.1/" + name, site + name)) << "cut short";

    // The second crawl resumed and finished: every page, whole.
    EXPECT_EQ(ReadAll(out + "second.status"), "0\n") << ReadAll(out + "second.err");
    std::vector<std::string> all{"index.html"};
    for (int i = 0; i < kPages; ++i)
        all.push_back("p" + std::to_string(i) + ".html");
    std::sort(all.begin(), all.end());
    EXPECT_EQ(pageFiles(out + "second/127.0.0.1"), all);
    for (const std::string& name : all)
        EXPECT_TRUE(SameBytes(out + "second/127.0.0.1/" + name, site + name));
    EXPECT_FALSE(fs::exists(out + "second/P.uq") && fs::file_size(out + "second/P.uq") > 44)
        << "the work list is not empty";
}
