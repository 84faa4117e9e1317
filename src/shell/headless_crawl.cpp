#include "shell/headless_crawl.h"

#include "common/messages.h"
#include "crawl/crawl_project.h"
#include "crawl/project_document.h"
#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "engine/download_manager.h"
#include "engine/ws_thread.h"
#include "platform/stop_signals.h"
#include "shell/console_status_view.h"
#include "shell/dialup_manager.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace ormbrook {

ProjectItem* FindItemByPath(ProjectItem& root, const std::string& path)
{
    std::vector<ProjectItem*> stack{&root};
    while (!stack.empty()) {
        ProjectItem* item = stack.back();
        stack.pop_back();
        const std::string name = item->kind == ItemRecord ? FolderPath(*item) + "/" + item->url : FolderPath(*item);
        if (name == path)
            return item;
        for (ProjectItem* child = item->firstChild; child; child = child->next)
            stack.push_back(child);
    }
    return nullptr;
}

int RunHeadlessCrawl(const CommandLine& line)
{
    AppSettings settings;
    settings.LoadSettings();
    for (const auto& [name, value] : line.settings) {
        if (!settings.SetByName(name, value)) {
            std::fprintf(stderr, "qry: unknown setting or bad value: %s=%s\n", name.c_str(), value.c_str());
            return ExitUsage;
        }
    }

    QMutex mirrorLock;
    CKESDLEDoc document(settings, mirrorLock);
    if (!document.OpenProject(line.project)) {
        std::fprintf(stderr, "qry: %s: %s\n", line.project.c_str(), document.errorText().c_str());
        return ExitCannotOpen;
    }
    CrawlProject project(settings.values().MirrorDir, document.title());
    project.root = &document.Write().root();
    project.mirrorLock = &mirrorLock;
    std::string error;
    if (project.OpenQueues(&error) != CrawlProject::OpenResult::Ok) {
        std::fprintf(stderr, "qry: %s\n", error.c_str());
        return ExitCannotOpen;
    }

    ProjectItem* startItem = nullptr;
    if (line.item) {
        startItem = FindItemByPath(*project.root, *line.item);
        if (!startItem) {
            std::fprintf(stderr, "qry: no item %s in %s\n", line.item->c_str(), line.project.c_str());
            return ExitUsage;
        }
    }

    CWSInit init;
    CWSThread engine(init);
    engine.SetHandler([](uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) {
        if (message == MsgEngineCreateManager)
            CreateManagerFor(std::move(record));
    });
    if (!engine.Start()) {
        std::fprintf(stderr, "qry: the download engine could not start\n");
        return ExitCannotOpen;
    }

    AlwaysConnectedService dialService;
    DialupManager dialup(dialService, {settings.values().DialupEntry, settings.values().DialRetry,
                                       settings.values().password});
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
    StopSignals signals([&](int) {
        // A second signal while the stop is under way changes nothing: the
        // stop already puts every running entry back.
        if (stopped)
            return;
        stopped = true;
        PostMessage(manager, MsgManagerStop);
    });

    auto request = std::make_unique<CrawlRequestRecord>();
    request->statusWindow = &view;
    request->project = &project;
    request->settings = &settings;
    request->dialup = &dialup;
    request->startKind = line.selected ? 1 : 0;
    request->startItem = startItem;
    PostMessage(&view, MsgStatusClear);
    engine.Post(MsgEngineCreateManager, 0, std::move(request));

    QCoreApplication::exec();
    engine.Post(MsgEngineQuit);
    engine.Wait();
    view.PrintSummary();
    return stopped ? ExitStopped : ExitFinished;
}

} // namespace ormbrook
