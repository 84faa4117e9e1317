#include "crawl/download_manager.h"

#include "common/messages.h"
#include "crawl/crawl_project.h"
#include "crawl/project_item.h"
#include "crawl/saved_data_job.h"
#include "crawl/settings.h"
#include "platform/file_calls.h"

#include <QElapsedTimer>
#include <QMutexLocker>

namespace ormbrook {

namespace {

// MsgManagerSlotEnded: the entry of a slot that finished.
struct EntryRecord : MessageRecord {
    explicit EntryRecord(std::unique_ptr<QueueEntry> e) : entry(std::move(e)) {}
    std::unique_ptr<QueueEntry> entry;
};

// The manager's one timer: the queues' pending changes are written.
constexpr int kQueueWriteTimer = 1;

bool IsTextHtml(const CHttpHeader& header)
{
    return header.contentTypeValid() && header.mediaTopType() == MediaText && header.mediaSubtype() == "HTML";
}

} // namespace

DLManager::DLManager(const CrawlRequestRecord& request)
    : statusWindow_(request.statusWindow),
      project_(*request.project),
      settingsCopy_(request.settingsCopy),
      settings_(*request.settings),
      dialup_(request.dialup),
      selectedOnly_(request.startKind == 1),
      startItem_(request.startItem),
      pictures_(request.pictures),
      driver_(CrawlContext{request.project->root, request.settings, &request.project->mirror,
                           &request.project->urlQueue, &request.project->localiseQueue,
                           request.project->mirrorLock},
              *this)
{
    const int32_t wanted = request.settings->values().MaxDownloads;
    slotCount_ = wanted < 1 ? kDefaultSlots : std::min<int>(wanted, kMaxSlots);
    freeSlots_ = slotCount_;
    pool_ = std::make_unique<CConnPool>();
    slots_.resize(size_t(slotCount_));
    items_.resize(size_t(slotCount_));
    referrers_.resize(size_t(slotCount_));
    for (auto& slot : slots_)
        slot = DLObj::Create();
}

DLManager::~DLManager()
{
    for (auto& slot : slots_)
        if (slot && !slot->free())
            slot->Cancel();
}

void DLManager::Post(uint32_t message)
{
    PostMessage(QPointer<QObject>(this), message);
}

void DLManager::Report(uint32_t message, const std::string& text)
{
    if (message >= MsgStatusDetected && message <= MsgStatusHtmlModified) {
        if (++pendingCounts_[message - MsgStatusDetected] >= kCountBatch)
            FlushCounts();
        return;
    }
    const bool carriesText = message == MsgStatusCurrentUrl || message == MsgStatusCannotCrawl;
    PostStatus(message, carriesText ? std::make_unique<TextRecord>(text) : nullptr);
}

void DLManager::PostStatus(uint32_t message, std::unique_ptr<MessageRecord> record)
{
    // The counts gathered so far go first, so that the view never hears of a
    // slot's or the crawl's end before the counts that came with it.
    FlushCounts();
    PostMessage(statusWindow_, message, 0, std::move(record));
}

void DLManager::FlushCounts()
{
    for (uint32_t i = 0; i < pendingCounts_.size(); ++i) {
        if (pendingCounts_[i] != 0)
            PostMessage(statusWindow_, MsgStatusDetected + i, pendingCounts_[i]);
        pendingCounts_[i] = 0;
    }
}

void DLManager::OnTimer(int id)
{
    if (id != kQueueWriteTimer)
        return;
    KillTimer(kQueueWriteTimer);
    if (!finished_) {
        driver_.WriteQueues();
        StopOnStorageFailure();
    }
}

void DLManager::StopForError(const std::string& reason)
{
    if (stopRequested_ || finished_)
        return;
    PostStatus(MsgStatusStoppedByError, std::make_unique<TextRecord>(reason));
    Stop();
}

void DLManager::StopOnStorageFailure()
{
    if (job_ || finished_ || stopRequested_ || state_ == Starting)
        return;
    if (const std::optional<std::string>& failure = driver_.storageFailure())
        StopForError(*failure);
}

void DLManager::OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    HandleMessage(message, wParam, std::move(record));
    StopOnStorageFailure();
    // What this message changed in the queues is written a little later,
    // together with what the next messages change.
    if (!finished_ && !TimerRunning(kQueueWriteTimer) && driver_.QueuesHavePendingWrites())
        SetTimer(kQueueWriteTimer, kQueueWriteMs);
}

void DLManager::HandleMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    switch (message) {
    case MsgManagerStart:
        Start();
        break;
    case MsgDialupReply: {
        auto* notice = dynamic_cast<DialupNotifyRecord*>(record.get());
        if (notice && notice->error != 0) {
            state_ = Starting;
            Finish();
        } else if (wParam == static_cast<uintptr_t>(kDialConnected)) {
            if (state_ == Starting)
                BeginCrawl();
        } else if (wParam == static_cast<uintptr_t>(kDialDisconnected)) {
            if (state_ == Done || state_ == Starting)
                Finish();
        }
        break;
    }
    case MsgManagerStop:
        Stop();
        break;
    case MsgManagerDispatch:
        DispatchStep();
        break;
    case MsgManagerRobotsDone:
    case MsgManagerPageDone:
        if (auto* done = dynamic_cast<SlotResultRecord*>(record.get())) {
            if (done->slot >= 0 && done->slot < slotCount_ && !slots_[static_cast<size_t>(done->slot)]->free()) {
                if (message == MsgManagerRobotsDone)
                    RobotsOutcomeOf(done->slot, done->result);
                else
                    PageOutcomeOf(done->slot, done->result);
            }
        }
        break;
    case MsgManagerSlotEnded:
        // The record (and the entry in it) is freed with it. The dispatch
        // step that follows is not counted: its decrement takes away the
        // count of the job that ended. It runs here rather than as a message
        // of its own, which saves a wake-up per download; a stop that comes
        // in meanwhile cancels what this step starts, like any other slot.
        DispatchStep();
        break;
    case MsgManagerLocalize:
        ClosingStep();
        break;
    case MsgManagerSavedDataJob:
        if (auto* request = dynamic_cast<SavedDataJobRecord*>(record.get()))
            BeginSavedDataJob(*request);
        break;
    case MsgManagerDeleteVisit:
    case MsgManagerDeleteAct:
    case MsgManagerCopyVisit:
    case MsgManagerCopyAct:
        SavedDataStep(message);
        break;
    default:
        break;
    }
}

void DLManager::Start()
{
    state_ = Starting;
    if (settings_.values().AutoDialup == 1 && dialup_) {
        dialled_ = true;
        dialup_->Dial(QPointer<QObject>(this));
    } else {
        dialled_ = false;
        BeginCrawl();
    }
}

void DLManager::BeginCrawl()
{
    state_ = Crawling;
    pendingPosts_ = 1;
    stopRequested_ = false;
    TakeMirrorNaming();
    driver_.Begin(selectedOnly_, startItem_);
    DispatchStep();
}

void DLManager::TakeMirrorNaming()
{
    // The names in force when the crawl or job starts hold to its end.
    QMutexLocker lock(project_.mirrorLock);
    project_.mirror.SetNaming(MirrorNamingOf(settings_.values().ReadableNames));
}

void DLManager::Stop()
{
    stopRequested_ = true;
    // A saved-data job has exactly one step message queued; that step
    // sees the stop and finishes, keeping the job's lists for a rerun.
    if (job_)
        return;
    if (state_ == Starting) {
        if (dialled_ && dialup_)
            dialup_->HangUp(QPointer<QObject>(this));
        else
            Finish();
        return;
    }
    // Each cancelled slot still reports its outcome; that report puts its
    // entries back at the head of the queue, once.
    for (auto& slot : slots_)
        if (!slot->free())
            slot->Cancel();
    if (state_ == Crawling && pendingPosts_ == 0 && freeSlots_ == slotCount_) {
        ++pendingPosts_;
        Post(MsgManagerDispatch);
    }
}

void DLManager::DispatchStep()
{
    --pendingPosts_;
    if (finished_ || freeSlots_ == 0)
        return;
    if (stopRequested_) {
        if (pendingPosts_ == 0) {
            driver_.RequeuePending();
            state_ = Done;
            if (dialled_ && dialup_)
                dialup_->HangUp(QPointer<QObject>(this));
            else
                Finish();
        }
        return;
    }
    switch (driver_.DispatchStep()) {
    case CrawlDriver::Dispatch::QueueEmpty:
        if (pendingPosts_ != 0 || freeSlots_ != slotCount_)
            return;
        state_ = Closing;
        if (dialled_ && dialup_)
            dialup_->HangUp(QPointer<QObject>(this));
        pendingPosts_ = 1;
        driver_.BeginLocalise();
        ClosingStep();
        return;
    case CrawlDriver::Dispatch::Nothing:
        return;
    case CrawlDriver::Dispatch::Dropped:
        ++pendingPosts_;
        Post(MsgManagerDispatch);
        return;
    case CrawlDriver::Dispatch::Handled:
        if (freeSlots_ == 0)
            return;
        ++pendingPosts_;
        Post(MsgManagerDispatch);
        return;
    }
}

void DLManager::ClosingStep()
{
    --pendingPosts_;
    if (finished_)
        return;
    // Pages are localised for a slice of time per message rather than one
    // per message: the loop still hears a stop within the slice, and does
    // not pay a wake-up per page.
    QElapsedTimer slice;
    slice.start();
    bool more = !stopRequested_ && driver_.LocaliseStep();
    while (more && slice.elapsed() < kLocaliseSliceMs)
        more = driver_.LocaliseStep();
    // A page that could not be rewritten for want of room stays queued,
    // and the crawl stops without ending the localise phase.
    StopOnStorageFailure();
    if (more) {
        ++pendingPosts_;
        Post(MsgManagerLocalize);
        return;
    }
    if (pendingPosts_ == 0) {
        if (!stopRequested_)
            driver_.EndLocalise();
        state_ = Done;
        Finish();
    }
}

void DLManager::BeginSavedDataJob(const SavedDataJobRecord& request)
{
    if (job_ || state_ != Starting || !request.item) {
        Finish();
        return;
    }
    state_ = Crawling;
    TakeMirrorNaming();
    job_ = std::make_unique<SavedDataOperation>(
        SavedDataContext{project_.root, &settings_, &project_.mirror, project_.title, project_.mirrorLock},
        [this](uint32_t message, const std::string& text) { Report(message, text); });
    const std::string refusal = job_->Begin(request.kind, *request.item, request.destination);
    if (!refusal.empty()) {
        // The view shows why, and counts the job as failed.
        Report(MsgStatusCurrentUrl, refusal);
        Report(MsgStatusFailed, {});
        state_ = Done;
        Finish();
        return;
    }
    Post(request.kind == SavedDataDelete ? MsgManagerDeleteVisit : MsgManagerCopyVisit);
}

void DLManager::SavedDataStep(uint32_t message)
{
    if (!job_ || finished_)
        return;
    if (stopRequested_) {
        state_ = Done;
        Finish();
        return;
    }
    const bool visiting = message == MsgManagerDeleteVisit || message == MsgManagerCopyVisit;
    const SavedDataOperation::Step step = visiting ? job_->VisitStep() : job_->ActStep();
    if (step == SavedDataOperation::Step::More) {
        Post(message);
        return;
    }
    if (visiting && step == SavedDataOperation::Step::PassOver) {
        Post(message + 1);
        return;
    }
    if (step == SavedDataOperation::Step::PassOver)
        job_->End();
    if (!job_->storageFailure().empty())
        PostStatus(MsgStatusStoppedByError, std::make_unique<TextRecord>(job_->storageFailure()));
    state_ = Done;
    Finish();
}

int DLManager::BusySlotFor(std::string_view urlKey, std::string_view folderPath) const
{
    for (int i = 0; i < slotCount_; ++i) {
        const DLObj& slot = *slots_[static_cast<size_t>(i)];
        if (!slot.free() && slot.item() && slot.item()->folderPath == folderPath
            && slot.pageUrl().urlNoFragment() == urlKey)
            return i;
    }
    return -1;
}

bool DLManager::BusyWithHost(std::string_view host, std::string_view folderPath) const
{
    for (const auto& slot : slots_)
        if (!slot->free() && slot->item() && slot->item()->folderPath == folderPath && slot->pageUrl().host() == host)
            return true;
    return false;
}

void DLManager::Attach(int slot, QueueEntry entry)
{
    auto copy = std::make_unique<QueueEntry>(std::move(entry));
    if (slots_[static_cast<size_t>(slot)]->Attach(copy.get()))
        copy.release(); // the slot owns it now
}

bool DLManager::StartDownload(const DownloadRequest& request)
{
    // Called from within a crawl step, under the mirror lock: a request that
    // can't start is handed back to the driver, which requeues it.
    int index = -1;
    for (int i = 0; i < slotCount_; ++i)
        if (slots_[static_cast<size_t>(i)]->free()) {
            index = i;
            break;
        }
    if (index < 0)
        return false;
    DLObj& slot = *slots_[static_cast<size_t>(index)];
    auto item = std::make_unique<QueueEntry>(request.entry);
    if (!slot.Prepare(item.get(), statusWindow_, QPointer<QObject>(this), static_cast<int16_t>(index),
                      project_.mirror.ProjectDirectory()))
        return false;
    const CrawlTimeouts& t = request.timeouts;
    slot.SetTimeouts(t.total, t.connection, t.reply, t.header, t.data, t.close);
    const SettingsValues& app = settings_.values();
    slot.SetProxy(app.ProxyOn == 1, app.ProxyName, static_cast<uint16_t>(app.ProxyPort));
    slot.SetAcceptUnverified(app.AcceptUnverifiedCerts == 1);
    slot.SetExchange(request.http10, pool_.get());
    CHttpHeader& header = slot.page()->header();
    header.SetField(HeaderUserAgent, kUserAgent);
    if (!request.ifModifiedSince.empty())
        header.SetField(HeaderIfModifiedSince, request.ifModifiedSince);
    if (!request.ifNoneMatch.empty())
        header.SetField(HeaderIfNoneMatch, request.ifNoneMatch);
    if (request.noCache) {
        header.SetField(HeaderPragma, "no-cache");
        header.SetField(HeaderCacheControl, "no-cache");
    }
    referrers_[static_cast<size_t>(index)] = item->referrer;
    items_[static_cast<size_t>(index)] = std::move(item);
    --freeSlots_;
    ++pendingPosts_;
    if (request.robotsFirst)
        slot.StartRobots(0);
    else
        StartPageOn(slot);
    return true;
}

void DLManager::StartPageOn(DLObj& slot)
{
    const std::string& referrer = referrers_[static_cast<size_t>(slot.slot())];
    // A start URL has no referrer; an empty header line would say nothing.
    if (!referrer.empty())
        slot.page()->header().SetField(HeaderReferer, referrer);
    slot.StartPage(0);
}

void DLManager::PageOutcomeOf(int index, int result)
{
    DLObj& slot = *slots_[static_cast<size_t>(index)];
    std::vector<QueueEntry> entries;
    for (const QueueEntry* entry : slot.attached())
        entries.push_back(*entry);
    // A download that could not be written whole for want of room: nothing
    // of it is kept, its entries go back to the queue and the crawl stops.
    if (IsStorageFailure(slot.writeError()))
        StopForError(WriteFailureText(slot.tempPath(), slot.writeError()));
    if (stopRequested_) {
        driver_.Requeue(entries);
        EndSlot(index, result);
        return;
    }
    PageOutcome outcome;
    outcome.entries = std::move(entries);
    outcome.url = slot.pageUrl().url();
    outcome.result = result;
    CHttpTransfer* page = slot.page();
    outcome.status = page->statusCode();
    outcome.announcedHtml = IsTextHtml(page->header());
    const CHttpHeader& head = page->header();
    outcome.announcedCss = head.contentTypeValid() && head.mediaTopType() == MediaText && head.mediaSubtype() == "CSS";
    if (head.lastModifiedValid())
        outcome.lastModified = HttpDateToTime(head.lastModified());
    outcome.etag = head.etag();
    outcome.location = page->header().location();
    outcome.temporaryFile = slot.tempPath();
    outcome.body = slot.TakeKeptBody();
    if (driver_.PageDone(outcome))
        slot.TemporaryTaken();
    // Entries put back for want of room are not done.
    if (driver_.TakeRequeuedForStorage())
        result = TransferFailed;
    const std::optional<std::string> notStored = driver_.TakeStoreFailure();
    if (notStored && result == TransferComplete)
        result = TransferFailed;
    StopOnStorageFailure();
    EndSlot(index, result, notStored ? *notStored : std::string());
}

void DLManager::RobotsOutcomeOf(int index, int result)
{
    DLObj& slot = *slots_[static_cast<size_t>(index)];
    RobotsDownload outcome;
    for (const QueueEntry* entry : slot.attached())
        outcome.entries.push_back(*entry);
    outcome.robotsUrl = slot.robotsUrl().url();
    outcome.result = result;
    CHttpTransfer* robots = slot.robots();
    outcome.status = robots->statusCode();
    if (robots->header().lastModifiedValid())
        outcome.lastModified = HttpDateToTime(robots->header().lastModified());
    outcome.etag = robots->header().etag();
    outcome.location = robots->header().location();
    outcome.temporaryFile = slot.tempPath();
    if (IsStorageFailure(slot.writeError()))
        StopForError(WriteFailureText(slot.tempPath(), slot.writeError()));
    const CrawlDriver::RobotsAfter after = driver_.RobotsDone(outcome, stopRequested_);
    driver_.TakeRequeuedForStorage();
    StopOnStorageFailure();
    if (stopRequested_ && after == CrawlDriver::RobotsAfter::FetchPage) {
        // Stopped meanwhile: the page is not started, its entries wait.
        driver_.Requeue(outcome.entries);
        EndSlot(index, TransferFailed);
        return;
    }
    switch (after) {
    case CrawlDriver::RobotsAfter::FetchPage:
        StartPageOn(slot);
        return;
    case CrawlDriver::RobotsAfter::EndFailed:
        EndSlot(index, TransferFailed);
        return;
    case CrawlDriver::RobotsAfter::EndDone:
        EndSlot(index, slot.page()->result());
        return;
    }
}

void DLManager::EndSlot(int index, int pageResult, const std::string& cause)
{
    DLObj& slot = *slots_[static_cast<size_t>(index)];
    ++freeSlots_;
    const bool success = pageResult == TransferComplete;
    for (size_t i = 0; i < slot.attached().size(); ++i)
        Report(success ? MsgStatusVisited : MsgStatusFailed, {});
    auto done = std::make_unique<SlotDoneRecord>(static_cast<int16_t>(index), success);
    if (!success) {
        done->reason = slot.failureText();
        done->cause = cause.empty() ? slot.failureCause() : cause;
    }
    PostStatus(MsgStatusSlotDone, std::move(done));
    slot.Release();
    PostMessage(QPointer<QObject>(this), MsgManagerSlotEnded, 0,
                std::make_unique<EntryRecord>(std::move(items_[static_cast<size_t>(index)])));
}

void DLManager::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    KillTimer(kQueueWriteTimer);
    // The status view may close the project as soon as it hears of the end.
    driver_.LeaveMirror();
    PostStatus(MsgStatusCrawlOver);
    deleteLater();
}

void DLManager::TitleFound(const std::string& folderPath, const std::string& recordUrl, const std::string& title)
{
    if (ProjectItem* record = FindRecord(*project_.root, folderPath, recordUrl))
        record->title = title;
    auto notice = std::make_unique<TitleRecord>();
    notice->folderPath = folderPath;
    notice->recordUrl = recordUrl;
    notice->title = title;
    PostStatus(MsgStatusTitle, std::move(notice));
}

void DLManager::PictureStored(const QueueEntry& entry, const std::string& localPath)
{
    if (!pictures_)
        return;
    // An item deleted while its crawl ran has no options to show it with.
    if (const ProjectItem* record = FindRecord(*project_.root, entry.folderPath, entry.recordUrl))
        pictures_->PictureStored(StoredPictureFor(*record, settings_, localPath));
}

void CreateManagerFor(std::unique_ptr<MessageRecord> record)
{
    auto* request = dynamic_cast<CrawlRequestRecord*>(record.get());
    if (!request || !request->project || !request->settings)
        return;
    auto* manager = new DLManager(*request);
    PostMessage(request->statusWindow, MsgStatusManager, 0,
                std::make_unique<ManagerRecord>(QPointer<QObject>(manager), manager->slotCount()));
}

} // namespace ormbrook
