#pragma once
// qry --crawl: a crawl run from the command line (or cron), with the user's
// settings, printing its progress, ending with the crawl.

#include "shell/command_line.h"

namespace ormbrook {

enum HeadlessExit {
    ExitFinished = 0,
    ExitCannotOpen = 1,
    ExitUsage = 2,
    ExitStopped = 3,
};

// Needs a QCoreApplication.
int RunHeadlessCrawl(const CommandLine& line);

} // namespace ormbrook
