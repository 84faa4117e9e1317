#include "crawl/crawl_driver.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/robots.h"
#include "crawl/settings.h"
#include "crawl/start_url.h"
#include "engine/http_header.h"
#include "platform/file_calls.h"

#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <functional>
#include <string_view>
#include <sys/stat.h>

namespace ormbrook {

const char kUserAgent[] = "Ormbrook/1.005.0";

namespace {

// Links of these kinds are one level deeper than the page they are on.
bool AddsLevel(LinkKind kind)
{
    return kind == LinkKindAnchor || kind == LinkKindArea || kind == LinkKindRedirect;
}

// What a page needs to look as it does. These come from anywhere on the
// record's site, whatever its range (documentation sites keep them in a
// folder beside the pages), and from other sites with RequisitesOffSite.
// Frames are pages of their own and keep to the range.
bool IsRequisite(LinkKind kind)
{
    switch (kind) {
    case LinkKindBackground:
    case LinkKindImage:
    case LinkKindStyleSheet:
    case LinkKindScript:
    case LinkKindSrcset:
    case LinkKindMedia:
    case LinkKindInputImage:
    case LinkKindCssUrl:
    case LinkKindCssImport:
        return true;
    default:
        return false;
    }
}

// Records the depth left for a key; true when it is more than any before.
template <typename Map, typename Key> bool RaiseBudget(Map& budgets, const Key& key, int32_t budget)
{
    auto [it, inserted] = budgets.try_emplace(key, budget);
    if (inserted)
        return true;
    if (budget <= it->second)
        return false;
    it->second = budget;
    return true;
}

// A server's refusal that asking again would not change; a time-out (408)
// or "too many requests" (429) may.
bool IsClientError(int status)
{
    return status >= 400 && status < 500 && status != 408 && status != 429;
}

} // namespace

CrawlDriver::CrawlDriver(CrawlContext context, CrawlHost& host) : context_(context), host_(host) {}

ProjectItem* CrawlDriver::RecordOf(const QueueEntry& entry) const
{
    return FindRecord(*context_.root, entry.folderPath, entry.recordUrl);
}

CrawlTimeouts CrawlDriver::TimeoutsFor(const ProjectItem& record) const
{
    const AppSettings& app = *context_.settings;
    CrawlTimeouts t;
    t.total = record.Effective(OptDLTotalTimeout, app);
    t.connection = record.Effective(OptConnectionTimeout, app);
    t.reply = record.Effective(OptReplyRcvTimeout, app);
    t.header = record.Effective(OptCtlRcvTimeout, app);
    t.data = record.Effective(OptDataRcvTimeout, app);
    t.close = record.Effective(OptCloseTimeout, app);
    return t;
}

void CrawlDriver::Begin(bool selectedOnly, ProjectItem* startItem)
{
    QMutexLocker lock(context_.mirrorLock);
    const AppSettings& app = *context_.settings;
    useRobots_ = app.values().UseRobotsTxt == 1;
    context_.urlQueue->SetWriteBehind(true);
    context_.localiseQueue->SetWriteBehind(true);
    crawlStart_ = MirrorBoundary(context_.mirror->ProjectDirectory());
    forbidden_ = ForbiddenPrefixes(*context_.root);
    // Most URLs a crawl takes have no local copy yet; the directories they
    // would lie in tell that without a look at the disk for each.
    context_.mirror->RememberAbsence(true);

    const bool resuming = !context_.urlQueue->IsEmpty() || !context_.localiseQueue->IsEmpty();
    if (resuming) {
        context_.urlQueue->ForEach([this](const QueueEntry&) { host_.Report(MsgStatusDetected); });
        context_.localiseQueue->ForEach([this](const QueueEntry&) { host_.Report(MsgStatusHtmlDetected); });
        if (!startItem)
            return;
    }

    // Depth first with a stack: children go on in their order and so come
    // off last child first.
    std::vector<ProjectItem*> stack{startItem ? startItem : context_.root};
    while (!stack.empty()) {
        ProjectItem* item = stack.back();
        stack.pop_back();
        if (item->kind == ItemRecord) {
            if (item->EffectivePilotType() == PilotForbidden)
                continue;
            if (selectedOnly && item->EffectivePilotType() != PilotSelected)
                continue;
            // A URL typed wrong would otherwise leave a crawl that did
            // nothing and said nothing.
            if (std::optional<std::string> reason = UncrawlableReason(item->url)) {
                host_.Report(MsgStatusCannotCrawl, CannotCrawlText(item->url, *reason) + " (item "
                                                       + FolderPath(*item) + "/" + item->url + ")");
                host_.Report(MsgStatusFailed);
                continue;
            }
            if (!scratch_.Parse(item->url) || !item->AdmitsExtension(scratch_, app))
                continue;
            QueueEntry entry;
            entry.maxDepth = item->EffectiveGraphMax(app);
            entry.folderPath = FolderPath(*item);
            entry.recordUrl = item->url;
            entry.url = item->url;
            context_.urlQueue->PushBack(entry);
            host_.Report(MsgStatusDetected);
        }
        for (ProjectItem* child = item->firstChild; child; child = child->next)
            stack.push_back(child);
    }
}

void CrawlDriver::PrepareAdmission()
{
    forbidden_ = ForbiddenPrefixes(*context_.root);
}

std::optional<QueueEntry> CrawlDriver::NextEntry()
{
    if (useRobots_) {
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            CUrl url;
            const bool parsed = url.Parse(it->url);
            const std::string robotsUrl = RobotsUrlFor(it->url, it->robotsUrl);
            const bool known = RobotsStateOf(*context_.mirror, robotsUrl, it->folderPath, crawlStart_)
                != RobotsStateUnknown;
            if (!parsed || known || !host_.BusyWithHost(url.host(), it->folderPath)) {
                QueueEntry entry = std::move(*it);
                pending_.erase(it);
                return entry;
            }
        }
    }
    return context_.urlQueue->PopFront();
}

CrawlDriver::Dispatch CrawlDriver::DispatchStep()
{
    QMutexLocker lock(context_.mirrorLock);
    // Repeats still waiting when everything else is done (their link's entry
    // ended in a way that settled nothing) take their turn now.
    if (pending_.empty() && context_.urlQueue->IsEmpty() && (host_.RunningDownloads() || !QueueWaiting()))
        return Dispatch::QueueEmpty;
    std::optional<QueueEntry> entry = NextEntry();
    if (!entry)
        return Dispatch::Nothing;

    ProjectItem* record = RecordOf(*entry);
    CUrl& url = parsed_.dispatch;
    const uint64_t key = EntryKey(*entry);
    if (!record || !url.Parse(entry->url)) {
        Settle(key, Settled::Drop);
        return Dispatch::Dropped;
    }
    // A URL the server refused with a client error earlier in this crawl
    // fails again without asking once more: broken links are linked from
    // many pages, and the answer would be the same.
    if (refusedThisCrawl_.count(std::string(entry->folderPath).append(1, '\n').append(url.urlNoFragment()))) {
        host_.Report(MsgStatusFailed);
        Settle(key, Settled::Fail);
        return Dispatch::Dropped;
    }

    const int busy = host_.BusySlotFor(url.urlNoFragment(), entry->folderPath);
    if (busy >= 0) {
        host_.Attach(busy, std::move(*entry));
        return Dispatch::Handled;
    }
    // One look at the local copy: whether it is there, whether this crawl
    // saved it, and the date a conditional request carries.
    struct stat local {};
    bool viaDirectory = false;
    if (std::optional<std::string> path = context_.mirror->ExistingFile(url, entry->folderPath, &local, &viaDirectory)) {
        // http://site/dir is the page http://site/dir/ once that directory
        // is in the mirror, and its relative links are relative to the
        // directory: it is scanned and localised under that name.
        if (viaDirectory) {
            entry->url.assign(url.urlNoQuery()).push_back('/');
            if (!url.Parse(entry->url))
                return Dispatch::Dropped;
        }
        // Its modification time is the server's date; saving, touching or
        // rewriting it dates its change.
        const bool savedThisCrawl = ChangedTimeOf(local) > crawlStart_;
        if (savedThisCrawl || record->EffectiveRenewalType(*context_.settings) == 3) {
            if (ShouldRescan(*entry))
                RescanLocalCopy(*entry, *context_.urlQueue);
            host_.Report(MsgStatusVisited);
            Settle(key, Settled::Visit, VisitUpTo(*entry, url));
            return Dispatch::Handled;
        }
        StartEntry(std::move(*entry), url, LocalCopy{static_cast<int64_t>(local.st_mtime), StoredEtag(*path)});
        return Dispatch::Handled;
    }
    StartEntry(std::move(*entry), url, std::nullopt);
    return Dispatch::Handled;
}

uint64_t CrawlDriver::QueuedKey(uint64_t recordKey, std::string_view url)
{
    return (recordKey ^ std::hash<std::string_view>()(url)) * 0x9e3779b97f4a7c15ull + (recordKey >> 29);
}

uint64_t CrawlDriver::QueuedRecordKey(const std::string& folderPath, const std::string& recordUrl)
{
    return QueuedKey(std::hash<std::string_view>()(folderPath), recordUrl);
}

uint64_t CrawlDriver::EntryKey(const QueueEntry& entry)
{
    return QueuedKey(QueuedRecordKey(entry.folderPath, entry.recordUrl), entry.url);
}

QueueEntry CrawlDriver::LinkEntry(const QueueEntry& from, int32_t depth, std::string_view url)
{
    QueueEntry next;
    next.reservedA = from.reservedA;
    next.maxDepth = from.maxDepth;
    next.depth = depth;
    next.reservedB = from.reservedB;
    next.folderPath = from.folderPath;
    next.recordUrl = from.recordUrl;
    next.referrer = from.url;
    next.url = url;
    return next;
}

int32_t CrawlDriver::VisitUpTo(const QueueEntry& entry, const CUrl& url) const
{
    // A repeat that finds the file saved is rescanned when it has more
    // depth left than the page's last scan (pages only: the rescan of any
    // other file does nothing).
    if (url.fileKind() != FileKindNone && url.fileKind() != FileKindHtml)
        return INT32_MAX;
    const auto it = scanBudget_.find(EntryKey(entry));
    return it != scanBudget_.end() ? it->second : -1;
}

void CrawlDriver::CountRepeat(LinkMemo& memo, uint64_t key, const QueueEntry& from, int32_t depth,
                              std::string_view url)
{
    host_.Report(MsgStatusDetected);
    const int32_t budget = from.maxDepth - depth;
    // The file is saved this crawl and the page was scanned with as much
    // depth left: whatever waits before it, the repeat's turn is a visit.
    if (budget <= memo.visitUpTo) {
        host_.Report(MsgStatusVisited);
        return;
    }
    switch (memo.state) {
    case LinkState::Failed:
        host_.Report(MsgStatusFailed);
        return;
    case LinkState::Dropped:
        return;
    case LinkState::Visited: // to be rescanned with more depth left
    case LinkState::Retry:   // to be fetched anew
        context_.urlQueue->PushBack(LinkEntry(from, depth, url));
        memo.state = LinkState::Open;
        return;
    case LinkState::Open:
        break;
    }
    auto it = waiting_.find(key);
    if (it == waiting_.end())
        it = waiting_.emplace(key, Waiting{LinkEntry(from, depth, url), {}, 0}).first;
    it->second.budgets.push_back(budget);
}

void CrawlDriver::QueueRepeat(Waiting& waiting)
{
    QueueEntry again = waiting.first;
    again.depth = again.maxDepth - waiting.budgets[waiting.next++];
    context_.urlQueue->PushBack(again);
}

void CrawlDriver::Settle(uint64_t key, Settled how, int32_t visitUpTo)
{
    const auto memo = linkMemo_.find(key);
    if (memo == linkMemo_.end())
        return;
    LinkMemo& m = memo->second;
    const auto found = waiting_.find(key);
    Waiting* w = found != waiting_.end() ? &found->second : nullptr;
    switch (how) {
    case Settled::Visit:
        m.state = LinkState::Visited;
        m.visitUpTo = std::max(m.visitUpTo, visitUpTo);
        for (; w && w->next < w->budgets.size() && w->budgets[w->next] <= m.visitUpTo; ++w->next)
            host_.Report(MsgStatusVisited);
        // One with more depth left would be rescanned: it takes its turn,
        // and the repeats behind it wait for that.
        if (w && w->next < w->budgets.size()) {
            QueueRepeat(*w);
            m.state = LinkState::Open;
        }
        break;
    case Settled::Fail:
        m.state = LinkState::Failed;
        for (; w && w->next < w->budgets.size(); ++w->next)
            host_.Report(MsgStatusFailed);
        break;
    case Settled::Drop:
        m.state = LinkState::Dropped;
        if (w)
            w->next = w->budgets.size();
        break;
    case Settled::Again:
        // The next repeat is fetched anew; those behind it wait for its result.
        if (w) {
            QueueRepeat(*w);
            m.state = LinkState::Open;
        } else {
            m.state = LinkState::Retry;
        }
        break;
    }
    if (w && w->next >= w->budgets.size())
        waiting_.erase(found);
}

bool CrawlDriver::QueueWaiting()
{
    if (waiting_.empty())
        return false;
    for (auto& [key, w] : waiting_)
        while (w.next < w.budgets.size())
            QueueRepeat(w);
    waiting_.clear();
    return true;
}

bool CrawlDriver::ShouldRescan(const QueueEntry& entry)
{
    // A page reached again is scanned again only when it now has more depth
    // left than at its last scan; so rescans can't go round in circles.
    // Kept by hash, as the queued links are.
    const uint64_t key = QueuedKey(QueuedRecordKey(entry.folderPath, entry.recordUrl), entry.url);
    return RaiseBudget(scanBudget_, key, entry.maxDepth - entry.depth);
}

void CrawlDriver::StartEntry(QueueEntry entry, const CUrl& url, const std::optional<LocalCopy>& local)
{
    const uint64_t key = EntryKey(entry);
    ProjectItem* record = RecordOf(entry);
    if (!IsWebScheme(url.scheme()) || !record) {
        Settle(key, Settled::Drop);
        return;
    }

    DownloadRequest request;
    if (useRobots_) {
        RobotsDecisionResult robots = RobotsDecision(
            *context_.mirror, entry.url, entry.robotsUrl, entry.folderPath, crawlStart_,
            [this](std::string_view host, std::string_view folder) { return host_.BusyWithHost(host, folder); });
        switch (robots.verdict) {
        case RobotsVerdict::Allowed:
            break;
        case RobotsVerdict::Refused:
            host_.Report(MsgStatusFailed);
            Settle(key, Settled::Fail);
            return;
        case RobotsVerdict::Redirected:
            entry.robotsUrl = robots.robotsUrl;
            context_.urlQueue->PushFront(entry);
            return;
        case RobotsVerdict::Pending:
            pending_.push_back(std::move(entry));
            return;
        case RobotsVerdict::FetchFirst:
            request.robotsFirst = true;
            request.robotsUrl = robots.robotsUrl;
            break;
        }
    }

    const AppSettings& app = *context_.settings;
    request.timeouts = TimeoutsFor(*record);
    // The local copy's own date, which is the server's date of it where the
    // server gave one: servers that compare it exactly (nginx's default)
    // answer 304 to it. The entity tag tells a file the server went back
    // to an older version of, which a date alone can't.
    if (local && record->EffectiveRenewalType(app) != 1) {
        request.ifModifiedSince = FormatHttpDate(local->modified);
        request.ifNoneMatch = local->etag;
    }
    request.noCache = record->Effective(OptNoCache, app) != 0;
    request.http10 = record->Effective(OptUseHttp10, app) == 1;
    request.entry = std::move(entry);
    // An entry that could not be started waits at the head of the queue.
    if (!host_.StartDownload(request))
        context_.urlQueue->PushFront(request.entry);
}

void CrawlDriver::NoteStorageFailure(std::string what)
{
    if (!storageFailure_)
        storageFailure_ = std::move(what);
}

bool CrawlDriver::StorageFailed(const std::vector<QueueEntry>& entries)
{
    const MirrorFailure& failure = LastMirrorFailure();
    if (!IsStorageFailure(failure.err))
        return false;
    NoteStorageFailure(WriteFailureText(failure.path, failure.err));
    // Fetched again by the next crawl, first.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        context_.urlQueue->PushFront(*it);
    requeuedForStorage_ = true;
    return true;
}

const std::optional<std::string>& CrawlDriver::storageFailure()
{
    if (storageFailure_ || !context_.urlQueue)
        return storageFailure_;
    QMutexLocker lock(context_.mirrorLock);
    for (EntryQueue* queue : {context_.urlQueue, context_.localiseQueue}) {
        const CQueueFile& file = queue->file();
        if (file.spaceErrno() != 0)
            NoteStorageFailure(WriteFailureText(file.path(), file.spaceErrno()));
        else if (IsStorageFailure(file.writeErrno()))
            NoteStorageFailure(WriteFailureText(file.path(), file.writeErrno()));
    }
    return storageFailure_;
}

bool CrawlDriver::IsHtml(const PageOutcome& outcome, const CUrl& url) const
{
    return outcome.announcedHtml || url.fileKind() == FileKindNone || url.fileKind() == FileKindHtml;
}

void CrawlDriver::AppendToLocalise(const QueueEntry& entry)
{
    context_.localiseQueue->PushBack(entry);
    host_.Report(MsgStatusHtmlDetected);
}

bool CrawlDriver::PageDone(const PageOutcome& outcome)
{
    QMutexLocker lock(context_.mirrorLock);
    CUrl& url = parsed_.done;
    const bool parsed = url.Parse(outcome.url);

    if (outcome.result == TransferComplete && parsed) {
        if (outcome.status == 200)
            return StoreAndScan(outcome, url);
        if (outcome.status == 301 || outcome.status == 302) {
            // The redirect is this crawl's answer for its URL: a page that
            // links here again counts a visit rather than asking once more
            // (whether the target is saved yet or not), so the counters
            // don't depend on which download ends first.
            if (FollowRedirect(outcome, url)) {
                for (const QueueEntry& entry : outcome.entries) {
                    ShouldRescan(entry);
                    Settle(EntryKey(entry), Settled::Visit, VisitUpTo(entry, url));
                }
            }
            return false;
        } else if (outcome.status == 304) {
            for (const QueueEntry& entry : outcome.entries) {
                std::optional<std::string> local = context_.mirror->LocalPath(entry.url, entry.folderPath);
                if (local && TouchFile(*local) != MirrorResult::Ok && StorageFailed({entry}))
                    continue;
                if (ShouldRescan(entry))
                    RescanLocalCopy(entry, *context_.urlQueue, local);
                Settle(EntryKey(entry), Settled::Visit, VisitUpTo(entry, url));
            }
            return false;
        }
    }
    if (outcome.result == TransferComplete) {
        // A status that stores nothing: a repeat would find no file of its own.
        for (const QueueEntry& entry : outcome.entries)
            Settle(EntryKey(entry), Settled::Again);
        return false;
    }

    // Aborted or failed: retried at the head of the queue while retries are left.
    const bool refused = parsed && outcome.result == TransferFailed && IsClientError(outcome.status);
    for (QueueEntry entry : outcome.entries) {
        ProjectItem* record = RecordOf(entry);
        if (!record) {
            Settle(EntryKey(entry), Settled::Drop);
            continue;
        }
        if (entry.retries < record->Effective(OptDLoadRetry, *context_.settings)) {
            ++entry.retries;
            context_.urlQueue->PushFront(entry);
            host_.Report(MsgStatusRetry);
        } else if (refused) {
            refusedThisCrawl_.insert(std::string(entry.folderPath).append(1, '\n').append(url.urlNoFragment()));
            Settle(EntryKey(entry), Settled::Fail);
        } else {
            // A time-out or a broken connection may not happen again: a
            // page that links here once more has it tried again.
            Settle(EntryKey(entry), Settled::Again);
        }
    }
    return false;
}

bool CrawlDriver::StoreAndScan(const PageOutcome& outcome, const CUrl& url)
{
    if (outcome.entries.empty())
        return false;
    const QueueEntry& first = outcome.entries.front();
    // Every entry attached to one download has the same URL and folder, so
    // one file takes it. A store that fails (a name too long for the file
    // system, a directory that can't be made) loses that one file; the links
    // are still collected from the temporary file.
    std::string stored;
    const MirrorResult moved = context_.mirror->MoveDownload(first.url, first.folderPath, outcome.temporaryFile, &stored);
    const bool taken = moved == MirrorResult::Ok;
    // A file system that can take no more stops the crawl; the page is
    // fetched again (and its links read) by the next one.
    if (!taken && StorageFailed(outcome.entries))
        return false;
    if (taken) {
        DateStoredFile(stored, outcome.lastModified, outcome.etag);
    } else {
        stored = outcome.temporaryFile;
        storeFailure_ = std::string("not stored: ") + MirrorResultText(moved);
    }

    // A style sheet is scanned for the pictures, fonts and sheets it names,
    // and localised like a page.
    const bool styleSheet = outcome.announcedCss || (!outcome.announcedHtml && url.extension() == "css");
    if (styleSheet || IsHtml(outcome, url)) {
        AppendToLocalise(first);
        std::vector<LinkRef>& links = links_;
        links.clear();
        std::optional<std::string> title;
        if (styleSheet && outcome.body)
            scanner_.CollectStyleSheetLinks(url.url(), *outcome.body, links);
        else if (styleSheet)
            scanner_.CollectStoredLinks(url.url(), stored, links, title);
        else if (outcome.body)
            scanner_.CollectLinksFromBytes(url.url(), *outcome.body, links, title);
        else
            scanner_.CollectLinks(url.url(), stored, links, title);
        for (const QueueEntry& entry : outcome.entries) {
            if (title && entry.url == entry.recordUrl)
                host_.TitleFound(entry.folderPath, entry.recordUrl, *title);
            ShouldRescan(entry); // a download is this crawl's first scan of the page
            QueueLinks(entry, links, *context_.urlQueue);
        }
        // The links go now; the vector keeps its room for the next page,
        // unless a page with very many links made it large.
        links.clear();
        if (links.capacity() > kKeptLinkRoom)
            std::vector<LinkRef>().swap(links);
    } else if (url.fileKind() == FileKindJpeg) {
        for (const QueueEntry& entry : outcome.entries)
            if (auto local = context_.mirror->LocalPath(entry.url, entry.folderPath))
                host_.PictureStored(entry, *local);
    }
    for (const QueueEntry& entry : outcome.entries) {
        if (taken)
            Settle(EntryKey(entry), Settled::Visit, VisitUpTo(entry, url));
        else
            Settle(EntryKey(entry), Settled::Fail);
    }
    return taken;
}

bool CrawlDriver::RedirectStandsForPage(const PageOutcome& outcome, const CUrl& url)
{
    // A page's URL, or one the server answers with text/html (a script such
    // as /go.php). Servers say text/html for the little body of every
    // redirect, also of a picture's: a picture's URL stands for a picture.
    if (url.fileKind() == FileKindNone || url.fileKind() == FileKindHtml)
        return true;
    return outcome.announcedHtml && url.fileKind() != FileKindJpeg && url.fileKind() != FileKindGif;
}

bool CrawlDriver::FollowRedirect(const PageOutcome& outcome, const CUrl& url)
{
    if (outcome.entries.empty())
        return true;
    // Servers may send a relative Location; it names the same thing as the
    // absolute one. One that can't be followed (another scheme) still
    // leaves its redirect page, which keeps the Location as received.
    std::optional<std::string> target = CUrl::ResolveLink(url.url(), outcome.location);
    CUrl targetUrl;
    const bool followable = target && targetUrl.Parse(*target);

    // A site that moved to https (or to another port) answers with a
    // redirect to the same path there, which the mirror stores at the very
    // place of the URL asked for: a redirect page there would be taken for
    // the target's copy, and the target never fetched. None is written; the
    // target is the same object under its new name, no level deeper.
    {
        const std::string& folder = outcome.entries.front().folderPath;
        const std::optional<std::string> here = context_.mirror->LocalPath(url, folder);
        const std::optional<std::string> there = context_.mirror->LocalPath(targetUrl, folder);
        if (followable && here && there && *here == *there
            && url.urlNoFragment() != targetUrl.urlNoFragment()) {
            const std::vector<LinkRef> links{LinkRef{targetUrl.url(), LinkKindRedirect}};
            for (const QueueEntry& entry : outcome.entries) {
                QueueEntry same = entry;
                --same.depth;
                QueueLinks(same, links, *context_.urlQueue);
            }
            return true;
        }
    }

    if (RedirectStandsForPage(outcome, url)) {
        // A directory asked for without its "/" is answered with a redirect to
        // the directory. Its redirect page would take the name the directory
        // needs in the mirror, so none is written: the directory's own page
        // is stored under it instead, and links to the bare name are
        // localised to that page.
        const std::string_view targetText = followable ? targetUrl.urlNoQuery() : std::string_view();
        const bool directorySlash = followable && !url.hasQuery() && targetText.size() == url.urlNoQuery().size() + 1
            && targetText.starts_with(url.urlNoQuery()) && targetText.back() == '/';
        if (!directorySlash) {
            for (const QueueEntry& entry : outcome.entries) {
                if (context_.mirror->WriteRedirectPage(entry.url, entry.folderPath, outcome.location, false)
                        != MirrorResult::Ok
                    && StorageFailed(outcome.entries))
                    return false;
            }
            AppendToLocalise(outcome.entries.front());
        }
        if (!followable)
            return true;
        const std::vector<LinkRef> links{LinkRef{targetUrl.url(), LinkKindRedirect}};
        for (const QueueEntry& entry : outcome.entries) {
            if (directorySlash) {
                // The same page under its proper name: no level deeper.
                QueueEntry same = entry;
                --same.depth;
                QueueLinks(same, links, *context_.urlQueue);
            } else {
                QueueLinks(entry, links, *context_.urlQueue);
            }
        }
    } else {
        for (const QueueEntry& entry : outcome.entries) {
            if (context_.mirror->WriteRedirectPage(entry.url, entry.folderPath, outcome.location, true)
                    != MirrorResult::Ok
                && StorageFailed(outcome.entries))
                return false;
        }
    }
    return true;
}

void CrawlDriver::RescanLocalCopy(const QueueEntry& entry, EntryQueue& target,
                                  std::optional<std::string> localPath)
{
    CUrl url;
    if (!url.Parse(entry.url)
        || (url.fileKind() != FileKindNone && url.fileKind() != FileKindHtml && url.extension() != "css"))
        return;
    host_.Report(MsgStatusCurrentUrl, entry.url);
    auto local = localPath ? std::move(localPath) : context_.mirror->LocalPath(entry.url, entry.folderPath);
    if (!local)
        return;
    std::vector<LinkRef> links;
    std::optional<std::string> title;
    scanner_.CollectStoredLinks(entry.url, *local, links, title);

    // A link is dropped when a later link of the same kind repeats it: with a
    // query, the same text; without one, a text that begins with it.
    std::vector<LinkRef> kept;
    kept.reserve(links.size());
    for (size_t i = 0; i < links.size(); ++i) {
        const LinkRef& link = links[i];
        const bool hasQuery = link.url.find('?') != std::string::npos;
        bool repeated = false;
        for (size_t j = i + 1; j < links.size() && !repeated; ++j) {
            const LinkRef& later = links[j];
            if (later.kind != link.kind)
                continue;
            repeated = hasQuery ? later.url == link.url : later.url.compare(0, link.url.size(), link.url) == 0;
        }
        if (!repeated)
            kept.push_back(link);
    }
    QueueLinks(entry, kept, target);
    if (&target == context_.urlQueue)
        AppendToLocalise(entry);
}

void CrawlDriver::QueueLinks(const QueueEntry& entry, const std::vector<LinkRef>& links, EntryQueue& target)
{
    ProjectItem* record = RecordOf(entry);
    if (!record)
        return;
    const AppSettings& app = *context_.settings;
    CUrl& start = parsed_.linkBase;
    if (!start.Parse(entry.recordUrl))
        return;
    CUrl& link = parsed_.link;
    // A file outside the range came in as a requisite of a page: it widens
    // the crawl by nothing but what a style sheet needs (and the new name of
    // a requisite that moved), and no level deeper.
    CUrl& own = parsed_.own;
    const bool requisiteOnly = own.Parse(entry.url) && !record->AdmitsRange(start, own, app);
    const uint64_t recordKey = QueuedRecordKey(entry.folderPath, entry.recordUrl);
    // A saved-data walk visits each file once; only a crawl counts repeats.
    const bool crawling = &target == context_.urlQueue;
    for (const LinkRef& ref : links) {
        if (ref.kind == LinkKindUsemap || ref.kind == 5)
            continue;
        if (requisiteOnly && ref.kind != LinkKindCssUrl && ref.kind != LinkKindCssImport
            && ref.kind != LinkKindRedirect)
            continue;
        const bool requisite = IsRequisite(ref.kind) || requisiteOnly;
        const int32_t depth = entry.depth + (AddsLevel(ref.kind) && !requisite ? 1 : 0);
        if (depth > entry.maxDepth)
            continue;
        // Pages link to the same few pages over and over. A link queued
        // before in this crawl, from the same record and with as much depth
        // left, passed every check below then: it is known before it is
        // parsed (a resolved link is already in canonical form, the form it
        // is remembered by), and counted rather than queued again.
        const int32_t budget = entry.maxDepth - depth;
        const uint64_t key = QueuedKey(recordKey, ref.url);
        if (const auto known = linkMemo_.find(key); known != linkMemo_.end() && budget <= known->second.queued) {
            if (crawling)
                CountRepeat(known->second, key, entry, depth, ref.url);
            continue;
        }
        if (!link.Parse(ref.url))
            continue;
        if (!(requisite ? record->AdmitsRequisite(start, link, app) : record->AdmitsRange(start, link, app)))
            continue;
        if (IsForbiddenUrl(forbidden_, link.url()))
            continue;
        if (!record->AdmitsExtension(link, app))
            continue;
        // Hashes keep the memory small for a large frontier (the frontier
        // itself stays on disk).
        const uint64_t canonicalKey = link.url() == ref.url ? key : QueuedKey(recordKey, link.url());
        LinkMemo& memo = linkMemo_[canonicalKey];
        if (budget <= memo.queued) {
            if (crawling)
                CountRepeat(memo, canonicalKey, entry, depth, link.url());
            continue;
        }
        memo.queued = budget;
        memo.state = LinkState::Open;
        target.PushBack(LinkEntry(entry, depth, link.url()));
        host_.Report(MsgStatusDetected);
    }
}

CrawlDriver::RobotsAfter CrawlDriver::RobotsDone(const RobotsDownload& outcome, bool stopping)
{
    QMutexLocker lock(context_.mirrorLock);
    if (outcome.entries.empty())
        return RobotsAfter::EndDone;
    const QueueEntry& first = outcome.entries.front();
    RobotsFetchedResult fetched =
        RobotsFetched(*context_.mirror, stopping, outcome.result, outcome.status, outcome.location, outcome.robotsUrl,
                      first.url, first.folderPath, outcome.temporaryFile);
    if (!stopping && outcome.result == TransferComplete && outcome.status == 200 && fetched.file == MirrorResult::Ok) {
        if (std::optional<std::string> local = context_.mirror->LocalPath(outcome.robotsUrl, first.folderPath))
            DateStoredFile(*local, outcome.lastModified, outcome.etag);
    }
    if (fetched.file != MirrorResult::Ok && StorageFailed(outcome.entries))
        return RobotsAfter::EndDone;
    switch (fetched.next) {
    case RobotsNext::RequeueAll:
        for (auto it = outcome.entries.rbegin(); it != outcome.entries.rend(); ++it)
            context_.urlQueue->PushFront(*it);
        return RobotsAfter::EndDone;
    case RobotsNext::FetchUrl:
        return RobotsAfter::FetchPage;
    case RobotsNext::ReportFailed:
        for (const QueueEntry& entry : outcome.entries)
            Settle(EntryKey(entry), Settled::Fail);
        return RobotsAfter::EndFailed;
    case RobotsNext::RequeueRedirected:
        for (auto it = outcome.entries.rbegin(); it != outcome.entries.rend(); ++it) {
            QueueEntry entry = *it;
            entry.robotsUrl = fetched.robotsUrl;
            context_.urlQueue->PushFront(entry);
        }
        return RobotsAfter::EndDone;
    case RobotsNext::Finish:
        for (const QueueEntry& entry : outcome.entries)
            Settle(EntryKey(entry), Settled::Again);
        return RobotsAfter::EndDone;
    }
    return RobotsAfter::EndDone;
}

void CrawlDriver::Requeue(const std::vector<QueueEntry>& entries)
{
    QMutexLocker lock(context_.mirrorLock);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        context_.urlQueue->PushFront(*it);
}

void CrawlDriver::RequeuePending()
{
    QMutexLocker lock(context_.mirrorLock);
    while (!pending_.empty()) {
        context_.urlQueue->PushFront(pending_.back());
        pending_.pop_back();
    }
    // Repeats waiting for a result the next crawl will find: they wait in
    // the queue file, behind the entries they wait for.
    QueueWaiting();
}

void CrawlDriver::BeginLocalise()
{
    QMutexLocker lock(context_.mirrorLock);
    context_.urlQueue->Reset();
    localiseStart_ = MirrorBoundary(context_.mirror->ProjectDirectory());
    // Nothing but the rewrites below changes the tree from here on, and they
    // only replace pages that are there.
    context_.mirror->RememberAbsence(false);
    context_.mirror->RememberLookups(true);
    localising_ = true;
}

bool CrawlDriver::LocaliseStep()
{
    QMutexLocker lock(context_.mirrorLock);
    std::optional<QueueEntry> entry = context_.localiseQueue->PopFront();
    if (!entry)
        return false;
    host_.Report(MsgStatusCurrentUrl, entry->url);
    CUrl& url = parsed_.localise;
    ProjectItem* record = RecordOf(*entry);
    // Where the page is comes from the directory listings this phase keeps;
    // the page's own stat, taken once it is open, tells whether this phase
    // already rewrote it (a page queued twice).
    std::optional<std::string> local;
    if (url.Parse(entry->url))
        local = context_.mirror->ExistingFile(url, entry->folderPath);
    if (local) {
        const bool localizeAll = record && record->EffectiveLocalizeLink(*context_.settings) == 1;
        if (!scanner_.RewriteLinks(entry->url, entry->folderPath, *local, *context_.mirror, localizeAll, nullptr,
                                   localiseStart_)
            && IsStorageFailure(scanner_.writeError())) {
            // The page is as it was; the next crawl localises it (and the
            // rest) once there is room.
            NoteStorageFailure(WriteFailureText(scanner_.writeErrorPath(), scanner_.writeError()));
            context_.localiseQueue->PushFront(*entry);
            return false;
        }
    }
    host_.Report(MsgStatusHtmlModified);
    return true;
}

void CrawlDriver::EndLocalise()
{
    {
        QMutexLocker lock(context_.mirrorLock);
        context_.localiseQueue->Reset();
    }
    LeaveMirror();
}

bool CrawlDriver::QueuesHavePendingWrites() const
{
    QMutexLocker lock(context_.mirrorLock);
    return context_.urlQueue->HasPendingWrites() || context_.localiseQueue->HasPendingWrites();
}

void CrawlDriver::WriteQueues()
{
    QMutexLocker lock(context_.mirrorLock);
    context_.urlQueue->Flush();
    context_.localiseQueue->Flush();
}

void CrawlDriver::LeaveMirror()
{
    QMutexLocker lock(context_.mirrorLock);
    context_.urlQueue->SetWriteBehind(false);
    context_.localiseQueue->SetWriteBehind(false);
    context_.mirror->RememberAbsence(false);
    // A crawl stopped while localising also ends here, without EndLocalise.
    if (!localising_)
        return;
    context_.mirror->RememberLookups(false);
    scanner_.RemoveTemporary(*context_.mirror);
    localising_ = false;
}

} // namespace ormbrook
