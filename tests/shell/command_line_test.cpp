#include "shell/command_line.h"

#include <gtest/gtest.h>

using namespace ormbrook;

struct CommandLineCase {
    const char* intent;
    std::vector<std::string> args;
    CommandVerb verb;
    bool ok;
    std::string project;
    std::optional<std::string> item;
    std::string destination;
};

TEST(CommandLine, VerbsAndTheirArguments)
{
    const CommandLineCase cases[] = {
        {"nothing opens nothing", {}, CommandVerb::Desktop, true, "", std::nullopt, ""},
        {"a file opens it", {"a.prj"}, CommandVerb::Desktop, true, "a.prj", std::nullopt, ""},
        {"crawl a project", {"--crawl", "a.prj"}, CommandVerb::Crawl, true, "a.prj", std::nullopt, ""},
        {"crawl one item", {"--crawl", "a.prj", "--item", "a/News/http://site/"}, CommandVerb::Crawl, true, "a.prj",
         "a/News/http://site/", ""},
        {"options before the file", {"--item", "a/F", "--crawl", "a.prj"}, CommandVerb::Crawl, true, "a.prj", "a/F",
         ""},
        {"crawl without a file", {"--crawl"}, CommandVerb::Crawl, false, "", std::nullopt, ""},
        {"crawl with two files", {"--crawl", "a.prj", "b.prj"}, CommandVerb::Crawl, false, "", std::nullopt, ""},
        {"item without path", {"--crawl", "a.prj", "--item"}, CommandVerb::Crawl, false, "", std::nullopt, ""},
        {"delete saved", {"--delete-saved", "a/F", "a.prj"}, CommandVerb::DeleteSaved, true, "a.prj", "a/F", ""},
        {"copy saved", {"--copy-saved", "a/F", "/tmp/d", "a.prj"}, CommandVerb::CopySaved, true, "a.prj", "a/F",
         "/tmp/d"},
        {"move saved", {"--move-saved", "a/F", "/tmp/d", "a.prj"}, CommandVerb::MoveSaved, true, "a.prj", "a/F",
         "/tmp/d"},
        {"move without destination", {"--move-saved", "a/F", "a.prj"}, CommandVerb::MoveSaved, false, "",
         std::nullopt, ""},
        {"scheduler", {"--scheduler"}, CommandVerb::Scheduler, true, "", std::nullopt, ""},
        {"scheduler takes no file", {"--scheduler", "a.prj"}, CommandVerb::Scheduler, false, "", std::nullopt, ""},
        {"two verbs", {"--crawl", "a.prj", "--scheduler"}, CommandVerb::Crawl, false, "", std::nullopt, ""},
        {"unknown option", {"--crawl", "a.prj", "--fast"}, CommandVerb::Crawl, false, "", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.error.empty(), c.ok) << c.intent << ": " << line.error;
        if (!c.ok || !line.error.empty())
            continue;
        EXPECT_EQ(line.verb, c.verb) << c.intent;
        EXPECT_EQ(line.project, c.project) << c.intent;
        EXPECT_EQ(line.item, c.item) << c.intent;
        EXPECT_EQ(line.destination, c.destination) << c.intent;
    }
}

TEST(CommandLine, SettingsOverridesKeepTheirOrderAndValues)
{
    CommandLine line = ParseCommandLine({"--crawl", "a.prj", "--set", "LinkMax=2", "--set", "ProxyName=a=b",
                                         "--selected", "--set", "ExtHtml="});
    ASSERT_TRUE(line.error.empty()) << line.error;
    EXPECT_TRUE(line.selected);
    ASSERT_EQ(line.settings.size(), 3u);
    EXPECT_EQ(line.settings[0], std::make_pair(std::string("LinkMax"), std::string("2")));
    EXPECT_EQ(line.settings[1], std::make_pair(std::string("ProxyName"), std::string("a=b")));
    EXPECT_EQ(line.settings[2], std::make_pair(std::string("ExtHtml"), std::string("")));
    EXPECT_FALSE(ParseCommandLine({"--crawl", "a.prj", "--set", "=3"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"--crawl", "a.prj", "--set", "LinkMax"}).error.empty());
}

TEST(CommandLine, HelpWinsOverEverythingElse)
{
    EXPECT_EQ(ParseCommandLine({"--crawl", "--help"}).verb, CommandVerb::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).verb, CommandVerb::Version);
}
