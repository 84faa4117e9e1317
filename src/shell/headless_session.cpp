#include "shell/headless_session.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/download_manager.h"
#include "pictures/picture_sinks.h"
#include "platform/stop_signals.h"
#include "shell/console_status_view.h"

#include <QCoreApplication>

#include <cstdio>

namespace ormbrook {

OpenedProject::OpenedProject(const AppSettings& settings, QMutex& mirrorLock) : document(settings, mirrorLock) {}

HeadlessSession::~HeadlessSession()
{
    if (engine_) {
        engine_->Post(MsgEngineQuit);
        engine_->Wait();
    }
}

bool HeadlessSession::LoadSettings(const CommandLine& line)
{
    settings_.LoadSettings();
    for (const auto& [name, value] : line.settings) {
        if (!settings_.SetByName(name, value)) {
            std::fprintf(stderr, "qry: unknown setting or bad value: %s=%s\n", name.c_str(), value.c_str());
            return false;
        }
    }
    return true;
}

bool HeadlessSession::StartEngine()
{
    engine_ = std::make_unique<CWSThread>(init_);
    engine_->SetHandler([](uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) {
        if (message == MsgEngineCreateManager)
            CreateManagerFor(std::move(record));
    });
    if (!engine_->Start()) {
        engine_.reset();
        std::fprintf(stderr, "qry: the download engine could not start\n");
        return false;
    }
    return true;
}

std::unique_ptr<OpenedProject> HeadlessSession::OpenProject(const std::string& path)
{
    auto project = std::make_unique<OpenedProject>(settings_, mirrorLock_);
    if (!project->document.OpenProject(path)) {
        std::fprintf(stderr, "qry: %s: %s\n", path.c_str(), project->document.errorText().c_str());
        return nullptr;
    }
    project->crawl = std::make_unique<CrawlProject>(settings_.values().MirrorDir, project->document.title());
    project->crawl->root = &project->document.Write().root();
    project->crawl->mirrorLock = &mirrorLock_;
    std::string error;
    if (project->crawl->OpenQueues(&error) != CrawlProject::OpenResult::Ok) {
        std::fprintf(stderr, "qry: %s\n", error.c_str());
        return nullptr;
    }
    return project;
}

std::shared_ptr<CrawlPictureSink> HeadlessSession::pictureSink()
{
    if (!pictureSink_)
        pictureSink_ = std::make_shared<HeadlessPictureSink>();
    return pictureSink_;
}

bool HeadlessSession::RunJob(std::unique_ptr<CrawlRequestRecord> request, ConsoleStatusView& view,
                             const std::function<void(const QPointer<QObject>&)>& begin)
{
    QPointer<QObject> manager;
    bool stopped = false;
    view.onManager = [&](const QPointer<QObject>& m) {
        manager = m;
        begin(manager);
        if (stopped)
            PostMessage(manager, MsgManagerStop);
    };
    view.onCrawlOver = [] { QCoreApplication::exit(0); };
    StopSignals stopSignals([&](int) {
        // A second signal while the stop is under way changes nothing: the
        // stop already keeps everything that is not done.
        if (stopped)
            return;
        stopped = true;
        PostMessage(manager, MsgManagerStop);
    });
    request->statusWindow = &view;
    PostMessage(&view, MsgStatusClear);
    engine_->Post(MsgEngineCreateManager, 0, std::move(request));
    QCoreApplication::exec();
    return stopped;
}

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

} // namespace ormbrook
