#include "shell/headless_crawl.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/download_manager.h"
#include "shell/console_status_view.h"
#include "shell/dialup_manager.h"
#include "shell/headless_session.h"

#include <cstdio>
#include <unistd.h>

namespace ormbrook {

int RunHeadlessCrawl(const CommandLine& line)
{
    HeadlessSession session;
    if (!session.LoadSettings(line))
        return ExitUsage;
    std::unique_ptr<OpenedProject> project = session.OpenProject(line.project);
    if (!project)
        return ExitCannotOpen;

    ProjectItem* startItem = nullptr;
    if (line.item) {
        startItem = FindItemByPath(*project->crawl->root, *line.item);
        if (!startItem) {
            std::fprintf(stderr, "qry: no item %s in %s\n", line.item->c_str(), line.project.c_str());
            return ExitUsage;
        }
    }
    if (!session.StartEngine())
        return ExitCannotOpen;

    const SettingsValues& values = session.settings().values();
    AlwaysConnectedService dialService;
    DialupManager dialup(dialService, {values.DialupEntry, values.DialRetry, values.password});
    ConsoleStatusView view(stdout, ::isatty(::fileno(stdout)) == 1);
    auto request = std::make_unique<CrawlRequestRecord>();
    request->project = project->crawl.get();
    request->settings = &session.settings();
    request->dialup = &dialup;
    request->startKind = line.selected ? 1 : 0;
    request->startItem = startItem;
    request->pictures = session.pictureSink();
    const bool stopped = session.RunJob(std::move(request), view, [](const QPointer<QObject>& manager) {
        PostMessage(manager, MsgManagerStart);
    });
    view.PrintSummary();
    if (!view.model().stopReason().empty())
        return ExitStoppedByError;
    return stopped ? ExitStopped : ExitFinished;
}

} // namespace ormbrook
