// qry: the Ormbrook download engine. Headless verbs run on a QCoreApplication.
#include "shell/command_line.h"
#include "shell/headless_crawl.h"
#include "shell/headless_saved_data.h"
#include "shell/headless_scheduler.h"
#include "windows/desktop_program.h"

#include <QCoreApplication>

#include <cstdio>
#include <malloc.h>

using namespace ormbrook;

int main(int argc, char** argv)
{
    // Qt's own poll loop wakes a thread once for any number of posted events;
    // the GLib loop wakes it once per event, which costs a crawl thousands of
    // system calls. Nothing here needs GLib's loop.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Every download borrows and returns buffers of 64 KB; with the default
    // thresholds the allocator hands those pages back to the system and asks
    // for them again each time.
    ::mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line = ParseCommandLine(args);
    // Without a verb qry is the desktop program, which needs a display.
    if (line.error.empty() && line.verb == CommandVerb::Desktop)
        return RunDesktop(argc, argv, line.project);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Nordvane");
    QCoreApplication::setApplicationName("Ormbrook");

    if (!line.error.empty()) {
        std::fprintf(stderr, "qry: %s\n%s", line.error.c_str(), kUsageText);
        return ExitUsage;
    }
    switch (line.verb) {
    case CommandVerb::Help:
        std::fputs(kUsageText, stdout);
        return 0;
    case CommandVerb::Version:
        std::puts("qry (Ormbrook) 1.005.0");
        return 0;
    case CommandVerb::Crawl:
        return RunHeadlessCrawl(line);
    case CommandVerb::Scheduler:
        return RunHeadlessScheduler(line);
    case CommandVerb::DeleteSaved:
    case CommandVerb::CopySaved:
    case CommandVerb::MoveSaved:
        return RunHeadlessSavedData(line);
    case CommandVerb::Desktop:
        break;
    }
    return ExitUsage;
}
