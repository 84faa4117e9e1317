#include "shell/headless_scheduler.h"

#include "shell/record_line_reader.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/download_manager.h"
#include "platform/stop_signals.h"
#include "shell/console_status_view.h"
#include "shell/dialup_manager.h"
#include "shell/headless_crawl.h"
#include "shell/headless_session.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

namespace ormbrook {

namespace {

// Two spellings of one project file are one project: it must not crawl
// twice at once into the same work lists.
std::string ProjectKey(const std::string& file)
{
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(file, error);
    return error ? file : canonical.string();
}

// A positive number from the environment, or nothing.
std::optional<long long> PositiveFromEnvironment(const char* name)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || value <= 0)
        return std::nullopt;
    return value;
}

} // namespace

struct HeadlessCrawlLauncher::RunningCrawl {
    std::string name;
    std::unique_ptr<OpenedProject> project;
    std::unique_ptr<ConsoleStatusView> view;
    QPointer<QObject> manager;
    bool over = false;
};

HeadlessCrawlLauncher::HeadlessCrawlLauncher(HeadlessSession& session, std::FILE* out, QObject* parent)
    : QObject(parent), session_(session), out_(out), dialService_(std::make_unique<AlwaysConnectedService>())
{
    const SettingsValues& values = session_.settings().values();
    dialup_ = std::make_unique<DialupManager>(*dialService_,
                                              DialupSettings{values.DialupEntry, values.DialRetry, values.password});
}

// The owner waits for every crawl to end before it lets go of the launcher:
// the engine thread works on the open projects until then.
HeadlessCrawlLauncher::~HeadlessCrawlLauncher() = default;

std::string HeadlessCrawlLauncher::ItemPath(const TimerEntry& entry)
{
    return entry.url.empty() ? entry.folder : entry.folder + "/" + entry.url;
}

bool HeadlessCrawlLauncher::IsCrawling(const std::string& projectFile) const
{
    return running_.count(ProjectKey(projectFile)) != 0;
}

void HeadlessCrawlLauncher::LaunchTimerCrawl(const TimerEntry& entry)
{
    if (stopping_)
        return;
    const std::string key = ProjectKey(entry.file);
    const std::string itemPath = ItemPath(entry);
    if (auto it = running_.find(key); it != running_.end()) {
        std::fprintf(out_, "[%s] timer dropped, the project is crawling: %s\n", it->second->name.c_str(),
                     itemPath.c_str());
        std::fflush(out_);
        return;
    }

    auto crawl = std::make_unique<RunningCrawl>();
    crawl->project = session_.OpenProject(entry.file);
    if (!crawl->project)
        return;
    ProjectItem* startItem = FindItemByPath(*crawl->project->crawl->root, itemPath);
    if (!startItem) {
        std::fprintf(stderr, "qry: no item %s in %s\n", itemPath.c_str(), entry.file.c_str());
        return;
    }
    crawl->name = crawl->project->document.title();
    crawl->view = std::make_unique<ConsoleStatusView>(out_, false);
    crawl->view->SetLinePrefix("[" + crawl->name + "] ");
    RunningCrawl* running = crawl.get();
    crawl->view->onManager = [this, running](const QPointer<QObject>& manager) {
        running->manager = manager;
        PostMessage(manager, MsgManagerStart);
        if (stopping_)
            PostMessage(manager, MsgManagerStop);
    };
    crawl->view->onCrawlOver = [this, key] { CrawlOver(key); };

    std::fprintf(out_, "[%s] timer crawl%s: %s\n", crawl->name.c_str(), entry.selected ? " (selected)" : "",
                 itemPath.c_str());
    std::fflush(out_);

    auto request = std::make_unique<CrawlRequestRecord>();
    request->statusWindow = crawl->view.get();
    request->project = crawl->project->crawl.get();
    request->settings = &session_.settings();
    request->dialup = dialup_.get();
    request->startKind = entry.selected ? 1 : 0;
    request->startItem = startItem;
    request->pictures = session_.pictureSink();
    PostMessage(crawl->view.get(), MsgStatusClear);
    session_.engine().Post(MsgEngineCreateManager, 0, std::move(request));
    running_.emplace(key, std::move(crawl));
    ++started_;
}

void HeadlessCrawlLauncher::StopAll()
{
    stopping_ = true;
    for (auto& [key, crawl] : running_)
        if (crawl->manager)
            PostMessage(crawl->manager, MsgManagerStop);
}

void HeadlessCrawlLauncher::CrawlOver(const std::string& key)
{
    auto it = running_.find(key);
    if (it == running_.end() || it->second->over)
        return;
    it->second->over = true;
    it->second->view->PrintSummary();
    // This runs inside the view's own message handler: the view and its
    // project go once that handler has returned.
    QMetaObject::invokeMethod(
        this,
        [this, key] {
            running_.erase(key);
            if (onCrawlClosed)
                onCrawlClosed();
        },
        Qt::QueuedConnection);
}

int RunHeadlessScheduler(const CommandLine& line)
{
    HeadlessSession session;
    if (!session.LoadSettings(line))
        return ExitUsage;
    const std::string timerBase = session.settings().programFolder() + "/QRY";
    CTimerDoc timers;
    if (!timers.Load(timerBase)) {
        std::fprintf(stderr, "qry: the timer list %s.tmf can't be read\n", timerBase.c_str());
        return ExitCannotOpen;
    }
    if (!timers.unreadLines().empty())
        std::fprintf(stderr, "qry: %s\n", UnreadLinesText(timerBase + ".tmf", timers.unreadLines()).c_str());
    if (!session.StartEngine())
        return ExitCannotOpen;

    HeadlessCrawlLauncher launcher(session, stdout);
    TimerTurn turn([](bool mine) {
        std::fputs(mine ? "qry: the timers are run here\n"
                        : "qry: the timers are run by another program (the desktop program, or another qry\n"
                          "     --scheduler); they are left to it until it ends\n",
                   stdout);
        std::fflush(stdout);
    });
    // The desktop program edits the list while it leaves the timers to us:
    // its saved file is read again at the next tick.
    auto listTime = [&timerBase] {
        std::error_code error;
        return std::filesystem::last_write_time(timerBase + ".tmf", error);
    };
    auto loadedTime = listTime();
    auto mayFire = [&] {
        if (!turn.Hold())
            return false;
        if (const auto now = listTime(); now != loadedTime) {
            loadedTime = now;
            if (timers.Load(timerBase)) {
                std::fprintf(stdout, "qry: %zu timer(s) read again from %s.tmf\n", timers.entries().size(),
                             timerBase.c_str());
                std::fflush(stdout);
            }
        }
        return session.settings().values().TimerValid != 0;
    };
    CTimerScheduler scheduler(timers, launcher, mayFire);
    bool stopped = false;
    auto endWhenIdle = [&] {
        if (stopped && launcher.runningCount() == 0)
            QCoreApplication::exit(ExitStopped);
    };
    launcher.onCrawlClosed = endWhenIdle;
    StopSignals stopSignals([&](int) {
        // A second signal while the crawls are stopping changes nothing.
        if (stopped)
            return;
        stopped = true;
        scheduler.StopScheduler();
        launcher.StopAll();
        std::fprintf(stdout, "qry: stopping, %d crawl(s) running\n", launcher.runningCount());
        std::fflush(stdout);
        endWhenIdle();
    });
    if (!stopSignals.ok())
        std::fprintf(stderr, "qry: SIGINT and SIGTERM can't be caught; a signal will end crawls unsaved\n");

    const std::time_t start = PositiveFromEnvironment("ORMBROOK_SCHEDULER_START").value_or(std::time(nullptr));
    const long long tick = PositiveFromEnvironment("ORMBROOK_SCHEDULER_TICK_MS").value_or(kSchedulerTickMs);
    std::fprintf(stdout, "qry: scheduler running with %zu timer(s) from %s.tmf%s\n", timers.entries().size(),
                 timerBase.c_str(), session.settings().values().TimerValid ? "" : " (timers are off: TimerValid=0)");
    std::fflush(stdout);
    scheduler.StartScheduler(start, static_cast<int>(std::min<long long>(tick, kSchedulerTickMs)));
    turn.Hold();
    return QCoreApplication::exec();
}

} // namespace ormbrook
