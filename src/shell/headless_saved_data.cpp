#include "shell/headless_saved_data.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/saved_data_job.h"
#include "crawl/download_manager.h"
#include "shell/console_status_view.h"
#include "shell/headless_crawl.h"
#include "shell/headless_session.h"

#include <QCoreApplication>
#include <QDir>

#include <cctype>
#include <string>
#include <unistd.h>

namespace ormbrook {

const char kDeleteQuestion[] = "データを削除してよろしいですか？";

bool ConfirmDelete(std::FILE* in, std::FILE* out)
{
    std::fprintf(out, "%s [y/N] ", kDeleteQuestion);
    std::fflush(out);
    char buffer[64];
    if (!std::fgets(buffer, sizeof buffer, in))
        return false;
    std::string answer;
    for (const char* c = buffer; *c; ++c)
        answer.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
    const size_t first = answer.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false;
    answer = answer.substr(first, answer.find_last_not_of(" \t\r\n") - first + 1);
    return answer == "y" || answer == "yes";
}

namespace {

int KindOf(CommandVerb verb)
{
    switch (verb) {
    case CommandVerb::CopySaved:
        return SavedDataCopy;
    case CommandVerb::MoveSaved:
        return SavedDataMove;
    default:
        return SavedDataDelete;
    }
}

} // namespace

int RunHeadlessSavedData(const CommandLine& line)
{
    const int kind = KindOf(line.verb);
    HeadlessSession session;
    if (!session.LoadSettings(line))
        return ExitUsage;
    if (kind == SavedDataDelete && !line.yes) {
        if (::isatty(::fileno(stdin)) != 1) {
            std::fprintf(stderr, "qry: %s: not on a terminal, so --delete-saved needs --yes\n", kDeleteQuestion);
            return ExitUsage;
        }
    }
    std::unique_ptr<OpenedProject> project = session.OpenProject(line.project);
    if (!project)
        return ExitCannotOpen;
    ProjectItem* item = line.item ? FindItemByPath(*project->crawl->root, *line.item) : nullptr;
    if (!item) {
        std::fprintf(stderr, "qry: no item %s in %s\n", line.item ? line.item->c_str() : "", line.project.c_str());
        return ExitUsage;
    }
    std::string destination;
    if (kind != SavedDataDelete)
        destination = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(line.destination)))
                          .toStdString();
    const std::string refusal = SavedDataOperation::Refusal(project->crawl->mirror, *item, kind, destination);
    if (!refusal.empty()) {
        std::fprintf(stderr, "qry: %s\n", refusal.c_str());
        return ExitUsage;
    }
    if (kind == SavedDataDelete && !line.yes && !ConfirmDelete(stdin, stderr))
        return ExitStopped;
    if (!session.StartEngine())
        return ExitCannotOpen;

    ConsoleStatusView view(stdout, ::isatty(::fileno(stdout)) == 1);
    auto request = std::make_unique<CrawlRequestRecord>();
    request->project = project->crawl.get();
    request->settings = &session.settings();
    // A stopped job stops between two entries and keeps its lists: running
    // the same command again finishes it.
    const bool stopped = session.RunJob(std::move(request), view, [&](const QPointer<QObject>& manager) {
        auto job = std::make_unique<SavedDataJobRecord>();
        job->kind = kind;
        job->item = item;
        job->destination = destination;
        PostMessage(manager, MsgManagerSavedDataJob, 0, std::move(job));
    });
    view.PrintSummary();
    // A job counts a failure only when it could not begin at all (its work
    // lists could not be opened); the view's item row says why.
    if (view.model().counters().failed > 0 && view.model().counters().visited == 0) {
        std::fprintf(stderr, "qry: %s\n", view.model().row(view.model().itemRow()).url.c_str());
        return ExitCannotOpen;
    }
    if (!view.model().stopReason().empty())
        return ExitStoppedByError;
    return stopped ? ExitStopped : ExitFinished;
}

} // namespace ormbrook
