#pragma once
// The command line of qry. Headless verbs run without a display; without a
// verb qry is the desktop program and may name a project to open.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ormbrook {

enum class CommandVerb {
    Desktop,      // no verb: the desktop program, optionally opening a project
    Help,
    Version,
    Crawl,        // --crawl FILE.prj
    DeleteSaved,  // --delete-saved ITEM FILE.prj
    CopySaved,    // --copy-saved ITEM DEST FILE.prj
    MoveSaved,    // --move-saved ITEM DEST FILE.prj
    Scheduler,    // --scheduler
};

struct CommandLine {
    CommandVerb verb = CommandVerb::Desktop;
    std::string project;                 // FILE.prj
    bool selected = false;               // --selected
    std::optional<std::string> item;     // --item PATH, or the ITEM of a saved-data verb
    std::string destination;             // DEST of copy and move
    bool yes = false;                    // --yes: no question before deleting
    std::vector<std::pair<std::string, std::string>> settings; // --set NAME=VALUE, in order
    std::string error;                   // non-empty: wrong usage, with the reason
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

extern const char kUsageText[];

} // namespace ormbrook
