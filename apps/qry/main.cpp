// qry: the Ormbrook download engine. Headless verbs run on a QCoreApplication.
#include "shell/command_line.h"
#include "shell/headless_crawl.h"
#include "shell/headless_saved_data.h"
#include "shell/headless_scheduler.h"

#include <QCoreApplication>

#include <cstdio>
#include <dlfcn.h>
#include <malloc.h>
#include <string>
#include <unistd.h>

using namespace ormbrook;

namespace {

// The folder of this executable, with a final "/".
std::string ExecutableFolder()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return {};
    std::string folder(path, static_cast<size_t>(n));
    return folder.substr(0, folder.rfind('/') + 1);
}

// The desktop program lives in a module beside qry (in the build tree) or in
// the library folder of the installation.
int RunDesktopModule(int argc, char** argv, const std::string& project)
{
    const std::string folder = ExecutableFolder();
    std::string reasons;
    for (const char* name : {ORMBROOK_DESKTOP_MODULE, ORMBROOK_DESKTOP_MODULE_INSTALLED}) {
        const std::string path = folder + name;
        if (::access(path.c_str(), R_OK) != 0)
            continue;
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            reasons += std::string("\n  ") + ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char**, const char*);
        if (auto run = reinterpret_cast<Entry>(::dlsym(module, "OrmbrookRunDesktop")))
            return run(argc, argv, project.c_str());
        reasons += "\n  " + path + ": not the desktop program's module";
    }
    std::fprintf(stderr, "qry: the desktop program is not installed beside qry%s\n%s", reasons.c_str(), kUsageText);
    return 1;
}

} // namespace

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
        return RunDesktopModule(argc, argv, line.project);

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
