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
    // The file system could take no more (no space, a quota, read-only, an
    // I/O error): stopped as by a signal; the next run resumes.
    ExitStoppedByError = 4,
};

// Needs a QCoreApplication.
int RunHeadlessCrawl(const CommandLine& line);

} // namespace ormbrook
