#include "windows/crawl_status.h"

#include "common/messages.h"
#include "crawl/download_manager.h"
#include "crawl/project_item.h"
#include "engine/download_records.h"
#include "engine/ws_thread.h"
#include "windows/project_session.h"

namespace ormbrook {

namespace {
constexpr int kRedrawTimer = 1;
}

CrawlStatus::CrawlStatus(ProjectSession& session, CWSThread* const& engine, const CrawlServices& services,
                         QObject* parent)
    : MessageTarget(parent), session_(session), engine_(engine), services_(services)
{
}

// The owner never lets go of a project while it crawls (the window refuses
// to close), so no manager is left talking to a status that is gone.
CrawlStatus::~CrawlStatus() = default;

bool CrawlStatus::StartCrawl(bool selected)
{
    return Begin(selected ? Mode::Selected : Mode::Normal, selected ? 1 : 0, nullptr);
}

bool CrawlStatus::StartTimerCrawl(ProjectItem* item, bool selected)
{
    return Begin(Mode::Timer, selected ? 1 : 0, item);
}

bool CrawlStatus::StartSavedData(int kind, ProjectItem* item, const std::string& destination,
                                 std::function<void()> after)
{
    jobKind_ = kind;
    jobItem_ = item;
    jobDestination_ = destination;
    if (!jobDestination_.empty() && jobDestination_.back() != '/')
        jobDestination_ += '/';
    if (!Begin(Mode::SavedData, 0, nullptr))
        return false;
    after_ = std::move(after);
    return true;
}

bool CrawlStatus::Begin(Mode mode, uint8_t startKind, ProjectItem* startItem)
{
    errorText_.clear();
    if (crawling())
        return false;
    if (!engine_) {
        errorText_ = "the download engine is not running";
        return false;
    }
    CrawlProject* project = session_.crawl();
    if (!project) {
        errorText_ = session_.errorText();
        return false;
    }
    mode_ = mode;
    countedJob_ = mode == Mode::SavedData ? jobKind_ : -1;
    stopAsked_ = false;
    stoppedByError_ = false;
    crawledItem_.clear();
    if (startItem)
        crawledItem_ = startItem->kind == ItemRecord ? FolderPath(*startItem) + "/" + startItem->url
                                                     : FolderPath(*startItem);
    manager_.clear();
    model_.Clear();
    Touch();
    Q_EMIT crawlingChanged(true);
    if (!engine_->Post(MsgEngineCreateManager, 0, MakeCrawlRequest(services_, *project, this, startKind, startItem))) {
        errorText_ = "the download engine is not running";
        mode_ = Mode::None;
        Q_EMIT crawlingChanged(false);
        return false;
    }
    return true;
}

void CrawlStatus::Stop()
{
    if (!crawling() || stopAsked_)
        return;
    stopAsked_ = true;
    // Before the manager exists the stop waits for it.
    if (manager_)
        PostMessage(manager_, MsgManagerStop);
}

void CrawlStatus::Touch()
{
    dirty_ = true;
    if (!TimerRunning(kRedrawTimer))
        SetTimer(kRedrawTimer, kRedrawMs);
}

void CrawlStatus::OnTimer(int id)
{
    if (id != kRedrawTimer)
        return;
    if (!dirty_) {
        KillTimer(kRedrawTimer);
        return;
    }
    dirty_ = false;
    Q_EMIT changed();
}

void CrawlStatus::Over()
{
    const Mode endedMode = mode_;
    mode_ = Mode::None;
    manager_.clear();
    jobItem_ = nullptr;
    Touch();
    std::function<void()> after = std::move(after_);
    after_ = nullptr;
    if (after)
        after();
    Q_EMIT crawlingChanged(false);
    Q_EMIT ended(endedMode, stopAsked_ || stoppedByError_);
}

void CrawlStatus::OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    if (model_.CountMessage(message, wParam)) {
        Touch();
        return;
    }
    switch (message) {
    case MsgStatusClear:
        model_.Clear();
        break;
    case MsgStatusCurrentUrl:
        if (auto* r = dynamic_cast<TextRecord*>(record.get()))
            model_.SetCurrentUrl(r->text);
        break;
    case MsgStatusContacting:
        if (auto* r = dynamic_cast<SlotUrlRecord*>(record.get()))
            model_.Contacting(r->slot, r->url);
        break;
    case MsgStatusConnected:
        if (auto* r = dynamic_cast<SlotRecord*>(record.get()))
            model_.Connected(r->slot);
        break;
    case MsgStatusHeadRead:
        if (auto* r = dynamic_cast<SlotLengthRecord*>(record.get()))
            model_.HeadRead(r->slot, r->contentLength);
        break;
    case MsgStatusProgress:
        if (auto* r = dynamic_cast<SlotProgressRecord*>(record.get()))
            model_.Progress(r->slot, r->contentLength, r->bytes);
        break;
    case MsgStatusSlotDone:
        if (auto* r = dynamic_cast<SlotDoneRecord*>(record.get()))
            model_.SlotDone(r->slot, r->success, r->reason, r->cause);
        break;
    case MsgStatusStoppedByError:
        if (auto* r = dynamic_cast<TextRecord*>(record.get())) {
            model_.StoppedByError(r->text);
            stoppedByError_ = true;
            Q_EMIT stoppedByError(QString::fromStdString(r->text));
        }
        break;
    case MsgStatusCannotCrawl:
        if (auto* r = dynamic_cast<TextRecord*>(record.get()))
            model_.AddNote(r->text);
        break;
    case MsgStatusManager:
        if (auto* r = dynamic_cast<ManagerRecord*>(record.get())) {
            manager_ = r->manager;
            model_.SetSlotCount(r->slots);
            Touch();
            if (mode_ == Mode::SavedData) {
                auto job = std::make_unique<SavedDataJobRecord>();
                job->kind = jobKind_;
                job->item = jobItem_;
                job->destination = jobDestination_;
                PostMessage(manager_, MsgManagerSavedDataJob, 0, std::move(job));
            } else {
                PostMessage(manager_, MsgManagerStart);
            }
            if (stopAsked_)
                PostMessage(manager_, MsgManagerStop);
        }
        return;
    case MsgStatusTitle:
        if (auto* r = dynamic_cast<TitleRecord*>(record.get()))
            Q_EMIT titleFound(QString::fromStdString(r->folderPath), QString::fromStdString(r->recordUrl),
                              QString::fromStdString(r->title));
        return;
    case MsgStatusCrawlOver:
        Over();
        return;
    default:
        return;
    }
    Touch();
}

} // namespace ormbrook
