#include "shell/command_line.h"

namespace ormbrook {

// qry.1 beside this file is its manual page; a test keeps their verbs and
// options alike.
const char kUsageText[] =
    "Usage: qry [FILE.prj]\n"
    "       qry --crawl FILE.prj [--selected] [--item PATH] [--set NAME=VALUE]...\n"
    "       qry --delete-saved ITEM FILE.prj [--yes]\n"
    "       qry --copy-saved ITEM DEST FILE.prj\n"
    "       qry --move-saved ITEM DEST FILE.prj\n"
    "       qry --scheduler [--set NAME=VALUE]...\n"
    "Ormbrook keeps local mirrors of web sites.\n"
    "\n"
    "Without a verb qry is the desktop program (in the tray, with a window per\n"
    "project); FILE.prj is opened in it, or handed to the one already running.\n"
    "\n"
    "  --crawl FILE.prj   crawl the project and exit when the crawl has finished\n"
    "  --selected         crawl only the items marked for selected crawling\n"
    "  --item PATH        crawl one item and its subtree: its folder path, and for a\n"
    "                     URL item \"/\" and its URL (Project/News/http://site/)\n"
    "  --set NAME=VALUE   override one application setting for this run\n"
    "  --delete-saved, --copy-saved, --move-saved\n"
    "                     delete, copy or move the files saved for ITEM\n"
    "  --yes              delete without asking\n"
    "  --scheduler        run the crawl timers without windows, until SIGINT or\n"
    "                     SIGTERM stops the running crawls (exit status 3)\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 finished, 1 the project could not be opened, 2 wrong usage,\n"
    "3 stopped by SIGINT or SIGTERM (the next run resumes), 4 stopped because a\n"
    "file could not be written: no space, a quota, a read-only file system or an\n"
    "I/O error (the next run resumes once that is mended).\n";

namespace {

bool IsVerb(const std::string& arg)
{
    return arg == "--crawl" || arg == "--delete-saved" || arg == "--copy-saved" || arg == "--move-saved"
        || arg == "--scheduler";
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    std::vector<std::string> positional;
    bool verbSeen = false;
    auto fail = [&line](std::string reason) {
        line.error = std::move(reason);
        return line;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            line.verb = CommandVerb::Help;
            return line;
        }
        if (arg == "--version") {
            line.verb = CommandVerb::Version;
            return line;
        }
        if (IsVerb(arg)) {
            if (verbSeen)
                return fail("only one of --crawl, --scheduler and the saved-data verbs may be given");
            verbSeen = true;
            if (arg == "--crawl")
                line.verb = CommandVerb::Crawl;
            else if (arg == "--delete-saved")
                line.verb = CommandVerb::DeleteSaved;
            else if (arg == "--copy-saved")
                line.verb = CommandVerb::CopySaved;
            else if (arg == "--move-saved")
                line.verb = CommandVerb::MoveSaved;
            else
                line.verb = CommandVerb::Scheduler;
        } else if (arg == "--selected") {
            line.selected = true;
        } else if (arg == "--yes") {
            line.yes = true;
        } else if (arg == "--item") {
            auto path = value();
            if (!path)
                return fail("--item needs a path");
            line.item = *path;
        } else if (arg == "--set") {
            auto setting = value();
            if (!setting)
                return fail("--set needs NAME=VALUE");
            auto eq = setting->find('=');
            if (eq == std::string::npos || eq == 0)
                return fail("--set needs NAME=VALUE, got \"" + *setting + "\"");
            line.settings.emplace_back(setting->substr(0, eq), setting->substr(eq + 1));
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }

    size_t wanted = 0;
    switch (line.verb) {
    case CommandVerb::Desktop:
        if (positional.size() > 1)
            return fail("only one project file may be opened");
        if (!positional.empty())
            line.project = positional[0];
        return line;
    case CommandVerb::Scheduler:
        wanted = 0;
        break;
    case CommandVerb::Crawl:
        wanted = 1;
        break;
    case CommandVerb::DeleteSaved:
        wanted = 2;
        break;
    case CommandVerb::CopySaved:
    case CommandVerb::MoveSaved:
        wanted = 3;
        break;
    case CommandVerb::Help:
    case CommandVerb::Version:
        return line;
    }
    if (positional.size() != wanted)
        return fail("wrong number of arguments");
    if (line.verb != CommandVerb::Crawl && line.verb != CommandVerb::Scheduler && line.item)
        return fail("--item is for --crawl; the saved-data verbs name their item first");
    if (line.verb == CommandVerb::Scheduler && line.selected)
        return fail("--selected is for --crawl");
    if (wanted >= 1)
        line.project = positional.back();
    if (wanted >= 2)
        line.item = positional[0];
    if (wanted == 3)
        line.destination = positional[1];
    return line;
}

} // namespace ormbrook
