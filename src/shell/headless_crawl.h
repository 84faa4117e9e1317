#pragma once
// qry's headless verbs: a crawl run from the command line (or cron), with
// the user's settings, printing its progress, ending with the crawl.

#include "shell/command_line.h"

#include <string>

namespace ormbrook {

class ProjectItem;

enum HeadlessExit {
    ExitFinished = 0,
    ExitCannotOpen = 1,
    ExitUsage = 2,
    ExitStopped = 3,
};

// Runs `qry --crawl`. Needs a QCoreApplication.
int RunHeadlessCrawl(const CommandLine& line);

// The item named by a path: its folder path, and for a URL item "/" and its
// URL ("Project/News/http://site/"). Nothing when there is none.
ProjectItem* FindItemByPath(ProjectItem& root, const std::string& path);

} // namespace ormbrook
