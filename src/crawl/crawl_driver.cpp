#include "crawl/crawl_driver.h"

#include "common/messages.h"
#include "crawl/project_item.h"
#include "crawl/robots.h"
#include "crawl/settings.h"
#include "engine/http_header.h"

#include <QMutexLocker>

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
    if (pending_.empty() && context_.urlQueue->IsEmpty())
        return Dispatch::QueueEmpty;
    std::optional<QueueEntry> entry = NextEntry();
    if (!entry)
        return Dispatch::Nothing;

    ProjectItem* record = RecordOf(*entry);
    CUrl& url = parsed_.dispatch;
    if (!record || !url.Parse(entry->url))
        return Dispatch::Dropped;
    // A URL that failed for good earlier in this crawl fails again without
    // asking the server once more: broken links are linked from many pages.
    if (failedThisCrawl_.count(std::string(entry->folderPath).append(1, '\n').append(url.urlNoFragment()))) {
        host_.Report(MsgStatusFailed);
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
    if (context_.mirror->ExistingFile(url, entry->folderPath, &local, &viaDirectory)) {
        // http://site/dir is the page http://site/dir/ once that directory
        // is in the mirror, and its relative links are relative to the
        // directory: it is scanned and localised under that name.
        if (viaDirectory) {
            entry->url.assign(url.urlNoQuery()).push_back('/');
            if (!url.Parse(entry->url))
                return Dispatch::Dropped;
        }
        const bool savedThisCrawl = ModifiedTimeOf(local) > crawlStart_;
        if (savedThisCrawl || record->EffectiveRenewalType(*context_.settings) == 3) {
            if (ShouldRescan(*entry))
                RescanLocalCopy(*entry, *context_.urlQueue);
            host_.Report(MsgStatusVisited);
            return Dispatch::Handled;
        }
        StartEntry(std::move(*entry), url, static_cast<int64_t>(local.st_mtime));
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

bool CrawlDriver::QueuedBefore(uint64_t key, int32_t budget) const
{
    const auto it = queuedBudget_.find(key);
    return it != queuedBudget_.end() && budget <= it->second;
}

bool CrawlDriver::ShouldRescan(const QueueEntry& entry)
{
    // A page reached again is scanned again only when it now has more depth
    // left than at its last scan; so rescans can't go round in circles.
    // Kept by hash, as the queued links are.
    const uint64_t key = QueuedKey(QueuedRecordKey(entry.folderPath, entry.recordUrl), entry.url);
    return RaiseBudget(scanBudget_, key, entry.maxDepth - entry.depth);
}

void CrawlDriver::StartEntry(QueueEntry entry, const CUrl& url, std::optional<int64_t> localModified)
{
    if (!IsWebScheme(url.scheme()))
        return;
    ProjectItem* record = RecordOf(entry);
    if (!record)
        return;

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
    // The local copy's own date: a page changed on the server after we saved
    // it is fetched again.
    if (localModified && record->EffectiveRenewalType(app) != 1)
        request.ifModifiedSince = FormatHttpDate(*localModified);
    request.noCache = record->Effective(OptNoCache, app) != 0;
    request.entry = std::move(entry);
    // An entry that could not be started waits at the head of the queue.
    if (!host_.StartDownload(request))
        context_.urlQueue->PushFront(request.entry);
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
        if (outcome.status == 200) {
            return StoreAndScan(outcome, url);
        } else if (outcome.status == 301 || outcome.status == 302) {
            FollowRedirect(outcome, url);
        } else if (outcome.status == 304) {
            for (const QueueEntry& entry : outcome.entries) {
                std::optional<std::string> local = context_.mirror->LocalPath(entry.url, entry.folderPath);
                if (local)
                    TouchFile(*local);
                if (ShouldRescan(entry))
                    RescanLocalCopy(entry, *context_.urlQueue, local);
            }
        }
        return false;
    }
    if (outcome.result == TransferComplete)
        return false;

    // Aborted or failed: retried at the head of the queue while retries are left.
    for (QueueEntry entry : outcome.entries) {
        ProjectItem* record = RecordOf(entry);
        if (!record)
            continue;
        if (entry.retries < record->Effective(OptDLoadRetry, *context_.settings)) {
            ++entry.retries;
            context_.urlQueue->PushFront(entry);
            host_.Report(MsgStatusRetry);
        } else if (parsed && outcome.result == TransferFailed) {
            failedThisCrawl_.insert(std::string(entry.folderPath).append(1, '\n').append(url.urlNoFragment()));
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
    const bool taken =
        context_.mirror->MoveDownload(first.url, first.folderPath, outcome.temporaryFile, &stored) == MirrorResult::Ok;
    if (!taken)
        stored = outcome.temporaryFile;

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
    return taken;
}

void CrawlDriver::FollowRedirect(const PageOutcome& outcome, const CUrl& url)
{
    if (outcome.entries.empty())
        return;
    // Servers may send a relative Location; it names the same thing as the
    // absolute one.
    std::optional<std::string> target = CUrl::ResolveLink(url.url(), outcome.location);
    CUrl targetUrl;
    if (!target || !targetUrl.Parse(*target))
        return;

    // A site that moved to https (or to another port) answers with a
    // redirect to the same path there, which the mirror stores at the very
    // place of the URL asked for: a redirect page there would be taken for
    // the target's copy, and the target never fetched. None is written; the
    // target is the same object under its new name, no level deeper.
    {
        const std::string& folder = outcome.entries.front().folderPath;
        const std::optional<std::string> here = context_.mirror->LocalPath(url, folder);
        const std::optional<std::string> there = context_.mirror->LocalPath(targetUrl, folder);
        if (here && there && *here == *there && url.urlNoFragment() != targetUrl.urlNoFragment()) {
            const std::vector<LinkRef> links{LinkRef{targetUrl.url(), LinkKindRedirect}};
            for (const QueueEntry& entry : outcome.entries) {
                QueueEntry same = entry;
                --same.depth;
                QueueLinks(same, links, *context_.urlQueue);
            }
            return;
        }
    }

    // The media type of a redirect describes its own little body (servers
    // say text/html for every redirect), not the object that moved, so the
    // URL alone tells whether a page or a file moved.
    if (url.fileKind() == FileKindNone || url.fileKind() == FileKindHtml) {
        // A directory asked for without its "/" is answered with a redirect to
        // the directory. Its redirect page would take the name the directory
        // needs in the mirror, so none is written: the directory's own page
        // is stored under it instead, and links to the bare name are
        // localised to that page.
        const std::string_view target = targetUrl.urlNoQuery();
        const bool directorySlash = !url.hasQuery() && target.size() == url.urlNoQuery().size() + 1
            && target.starts_with(url.urlNoQuery()) && target.back() == '/';
        if (!directorySlash) {
            for (const QueueEntry& entry : outcome.entries)
                context_.mirror->WriteRedirectPage(entry.url, entry.folderPath, outcome.location, false);
            AppendToLocalise(outcome.entries.front());
        }
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
        for (const QueueEntry& entry : outcome.entries)
            context_.mirror->WriteRedirectPage(entry.url, entry.folderPath, outcome.location, true);
    }
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
    const uint64_t recordKey = QueuedRecordKey(entry.folderPath, entry.recordUrl);
    for (const LinkRef& ref : links) {
        if (ref.kind == LinkKindUsemap || ref.kind == 5)
            continue;
        const int32_t depth = entry.depth + (AddsLevel(ref.kind) ? 1 : 0);
        if (depth > entry.maxDepth)
            continue;
        // Pages link to the same few pages over and over. A link queued
        // before in this crawl, from the same record and with as much depth
        // left, passed every check below then and would only be found local
        // and skipped at its step: it is passed over before it is parsed.
        // A resolved link is already in canonical form, the form it is
        // remembered by.
        const int32_t budget = entry.maxDepth - depth;
        const uint64_t key = QueuedKey(recordKey, ref.url);
        if (QueuedBefore(key, budget))
            continue;
        if (!link.Parse(ref.url))
            continue;
        if (!record->AdmitsRange(start, link, app))
            continue;
        if (IsForbiddenUrl(forbidden_, link.url()))
            continue;
        if (!record->AdmitsExtension(link, app))
            continue;
        // Hashes keep the memory small for a large frontier (the frontier
        // itself stays on disk).
        if (!RaiseBudget(queuedBudget_, link.url() == ref.url ? key : QueuedKey(recordKey, link.url()), budget))
            continue;
        QueueEntry next;
        next.reservedA = entry.reservedA;
        next.maxDepth = entry.maxDepth;
        next.depth = depth;
        next.reservedB = entry.reservedB;
        next.folderPath = entry.folderPath;
        next.recordUrl = entry.recordUrl;
        next.referrer = entry.url;
        next.url = link.url();
        target.PushBack(next);
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
    switch (fetched.next) {
    case RobotsNext::RequeueAll:
        for (auto it = outcome.entries.rbegin(); it != outcome.entries.rend(); ++it)
            context_.urlQueue->PushFront(*it);
        return RobotsAfter::EndDone;
    case RobotsNext::FetchUrl:
        return RobotsAfter::FetchPage;
    case RobotsNext::ReportFailed:
        return RobotsAfter::EndFailed;
    case RobotsNext::RequeueRedirected:
        for (auto it = outcome.entries.rbegin(); it != outcome.entries.rend(); ++it) {
            QueueEntry entry = *it;
            entry.robotsUrl = fetched.robotsUrl;
            context_.urlQueue->PushFront(entry);
        }
        return RobotsAfter::EndDone;
    case RobotsNext::Finish:
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
        scanner_.RewriteLinks(entry->url, entry->folderPath, *local, *context_.mirror, localizeAll, nullptr,
                              localiseStart_);
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
