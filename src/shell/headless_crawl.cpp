#include "shell/headless_crawl.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "engine/download_manager.h"
#include "platform/stop_signals.h"
#include "shell/console_status_view.h"
#include "shell/dialup_manager.h"
#include "shell/headless_session.h"

#include <QCoreApplication>

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
    QPointer<QObject> manager;
    bool stopped = false;
    view.onManager = [&](const QPointer<QObject>& m) {
        manager = m;
        PostMessage(manager, MsgManagerStart);
        if (stopped)
            PostMessage(manager, MsgManagerStop);
    };
    view.onCrawlOver = [] { QCoreApplication::exit(0); };
    StopSignals stopSignals([&](int) {
        // A second signal while the stop is under way changes nothing: the
        // stop already puts every running entry back.
        if (stopped)
            return;
        stopped = true;
        PostMessage(manager, MsgManagerStop);
    });

    auto request = std::make_unique<CrawlRequestRecord>();
    request->statusWindow = &view;
    request->project = project->crawl.get();
    request->settings = &session.settings();
    request->dialup = &dialup;
    request->startKind = line.selected ? 1 : 0;
    request->startItem = startItem;
    PostMessage(&view, MsgStatusClear);
    session.engine().Post(MsgEngineCreateManager, 0, std::move(request));

    QCoreApplication::exec();
    view.PrintSummary();
    return stopped ? ExitStopped : ExitFinished;
}

} // namespace ormbrook
