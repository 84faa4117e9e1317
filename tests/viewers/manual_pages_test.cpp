// The manual pages and the usage texts that --help prints tell the same
// verbs and options: one of them changed alone is a test failure.

#include "shell/command_line.h"
#include "viewers/viewer_args.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

// Options (-x, --word) and the one-letter screen-saver arguments, as words
// standing alone.
std::set<std::string> Words(const std::string& text)
{
    static const std::regex word(R"((?:^|[\s\[|,(])(--?[a-z][a-z-]*|[scp])(?=[\s\]|,)]|$))");
    std::set<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it)
        out.insert((*it)[1]);
    return out;
}

// The text of a manual page's SYNOPSIS and OPTIONS, without the requests'
// names, the font changes and the escapes of "-": what a reader sees there.
std::string SynopsisAndOptions(const std::string& path)
{
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::string line, out;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind(".SH ", 0) == 0) {
            inside = line == ".SH SYNOPSIS" || line == ".SH OPTIONS";
            continue;
        }
        if (!inside || line.rfind(".\\\"", 0) == 0)
            continue;
        if (!line.empty() && line[0] == '.')
            line.erase(0, line.find(' ') == std::string::npos ? line.size() : line.find(' '));
        line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
        line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        line = std::regex_replace(line, std::regex("\""), " ");
        out += line + "\n";
    }
    return out;
}

} // namespace

TEST(ManualPages, TellTheVerbsAndOptionsOfTheUsageText)
{
    const struct {
        const char* page;
        const char* usage;
    } rows[] = {
        {"src/shell/qry.1", ormbrook::kUsageText},
        {"src/viewers/qrysw.1", ormbrook::kSlideWindowUsage},
        {"src/viewers/qryss.1", ormbrook::kScreenSaverUsage},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        const std::set<std::string> usage = Words(row.usage);
        EXPECT_GE(usage.size(), 3u);
        EXPECT_EQ(Words(SynopsisAndOptions(std::string(ORMBROOK_SOURCE_DIR) + "/" + row.page)), usage);
    }
}
