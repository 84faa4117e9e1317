#pragma once
// CrawlDriver: what a crawl fetches, in which order, and what happens with
// each result. It runs inside a download manager on the engine thread, one
// step per posted message, and keeps its work lists in the project's queue
// files, so that a stopped crawl resumes where it stopped.
//
// The driver decides; the manager (CrawlHost) owns the five download slots,
// counts outstanding steps and reports to the status view.

#include "crawl/crawl_queues.h"
#include "crawl/html_scanner.h"
#include "crawl/mirror.h"
#include "common/messages.h"
#include "common/queue_entry.h"
#include "common/url.h"

#include <QMutex>

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <string>
#include <utility>
#include <vector>

namespace ormbrook {

class AppSettings;
class ProjectItem;

// The six time-outs of one download, in seconds.
struct CrawlTimeouts {
    int32_t total = 0;
    int32_t connection = 0;
    int32_t reply = 0;
    int32_t header = 0;
    int32_t data = 0;
    int32_t close = 0;
};

// Everything a download slot needs to start one entry.
struct DownloadRequest {
    QueueEntry entry;
    bool robotsFirst = false;     // fetch robotsUrl before the page
    std::string robotsUrl;
    std::string ifModifiedSince;  // empty: not conditional
    std::string ifNoneMatch;      // the local copy's entity tag, when it has one
    bool noCache = false;
    bool http10 = false;          // the HTTP/1.0 exchange (UseHttp10), not HTTP/1.1
    CrawlTimeouts timeouts;
};

// The end of a page download, as a slot reports it.
struct PageOutcome {
    std::vector<QueueEntry> entries;  // the entries attached to the slot, the first one first
    std::string url;                  // the canonical URL that was fetched
    int result = 3;                   // 1 aborted, 2 complete, 3 failed
    int status = 0;                   // HTTP status code
    bool announcedHtml = false;       // the reply said TEXT/HTML
    bool announcedCss = false;        // the reply said TEXT/CSS
    std::optional<int64_t> lastModified;  // LAST-MODIFIED, as a calendar time
    std::string etag;                 // ETAG
    std::string location;             // LOCATION of a redirect
    std::string temporaryFile;        // where the body is
    std::optional<std::string> body;  // the same bytes, when they were kept in memory
};

// The end of a robots.txt download.
struct RobotsDownload {
    std::vector<QueueEntry> entries;
    std::string robotsUrl;            // the robots URL that was fetched
    int result = 3;
    int status = 0;
    std::optional<int64_t> lastModified;
    std::string etag;
    std::string location;
    std::string temporaryFile;
};

class CrawlHost {
public:
    virtual ~CrawlHost() = default;
    // The busy slot fetching this URL (urlNoQuery and query) for this folder, or -1.
    virtual int BusySlotFor(std::string_view urlKey, std::string_view folderPath) const = 0;
    // Whether a busy slot is fetching for this host and folder.
    virtual bool BusyWithHost(std::string_view host, std::string_view folderPath) const = 0;
    virtual bool RunningDownloads() const = 0;
    virtual void Attach(int slot, QueueEntry entry) = 0;
    // Starts the request on the first idle slot; false when it could not be
    // started (the driver then puts the entry back).
    virtual bool StartDownload(const DownloadRequest& request) = 0;
    // A status-view message (WM_USER+15 carries text).
    virtual void Report(uint32_t message, const std::string& text = {}) = 0;
    // The page of a record's own start URL told its title.
    virtual void TitleFound(const std::string& folderPath, const std::string& recordUrl, const std::string& title) = 0;
    // A JPEG picture was stored.
    virtual void PictureStored(const QueueEntry& entry, const std::string& localPath) = 0;
};

struct CrawlContext {
    ProjectItem* root = nullptr;
    const AppSettings* settings = nullptr;
    const CMirror* mirror = nullptr;
    EntryQueue* urlQueue = nullptr;
    EntryQueue* localiseQueue = nullptr;
    QMutex* mirrorLock = nullptr;
};

class CrawlDriver {
public:
    CrawlDriver(CrawlContext context, CrawlHost& host);
    CrawlDriver(const CrawlDriver&) = delete;
    CrawlDriver& operator=(const CrawlDriver&) = delete;

    // Builds the URL queue from the chosen subtree (the whole project when
    // startItem is null), or resumes the queues of an earlier crawl.
    void Begin(bool selectedOnly, ProjectItem* startItem);

    enum class Dispatch {
        QueueEmpty,  // pending list and URL queue are both empty
        Nothing,     // nothing ready to take now
        Dropped,     // an entry was dropped (no record, or a URL that doesn't parse)
        Handled,     // an entry was attached, started or rescanned
    };
    Dispatch DispatchStep();

    // True when the download's temporary file was taken into the mirror.
    bool PageDone(const PageOutcome& outcome);

    enum class RobotsAfter {
        FetchPage,   // go on with the page on the same slot
        EndFailed,   // the slot ends, its entries count as failed
        EndDone,     // the slot ends (entries requeued or nothing to fetch)
    };
    RobotsAfter RobotsDone(const RobotsDownload& outcome, bool stopping);

    // Puts entries back at the head of the URL queue (a stop, or a retry).
    void Requeue(const std::vector<QueueEntry>& entries);
    // At the end of a stopped crawl: the pending list goes back to the queue.
    void RequeuePending();

    // The localise phase: one page per call; false when the queue is empty.
    void BeginLocalise();
    bool LocaliseStep();
    void EndLocalise();
    // However the crawl ends, before the project may go away: nothing of the
    // localise phase stays behind in the mirror, and the queues have written
    // everything (the driver itself may be destroyed after the project).
    void LeaveMirror();

    // Set when a write the crawl depends on failed because the file system
    // can take no more (no space, a quota, read-only, an I/O error): what the
    // write was for, and why. The entries concerned are back at the head of
    // their queue; the crawl is to stop. Also looks at the queue files.
    const std::optional<std::string>& storageFailure();
    // Whether the last PageDone or RobotsDone put its entries back for such
    // a failure (they are not done); asking clears it.
    bool TakeRequeuedForStorage() { return std::exchange(requeuedForStorage_, false); }
    // Why the last page fetched could not be stored in the mirror (its
    // name too long for the file system, a directory that can't be made),
    // if it could not: the download counts as failed, with that reason.
    std::optional<std::string> TakeStoreFailure() { return std::exchange(storeFailure_, std::nullopt); }

    // While the crawl runs, the queues gather their changes in memory and
    // write them in one go when told to (a crash loses what has not been
    // written; a stop loses nothing).
    bool QueuesHavePendingWrites() const;
    void WriteQueues();

    MirrorTime crawlStart() const { return crawlStart_; }
    bool useRobots() const { return useRobots_; }
    size_t pendingCount() const { return pending_.size(); }

    // Loads the forbidden prefixes for link admission without beginning a
    // crawl (the saved-data jobs walk records with the same admission).
    void PrepareAdmission();

    // Rescan of a stored page without a download: its links are queued as if
    // it had just been fetched. Also used by the saved-data jobs, with their
    // own work queue.
    // localPath: the page's local path when the caller has it already.
    void RescanLocalCopy(const QueueEntry& entry, EntryQueue& target,
                         std::optional<std::string> localPath = std::nullopt);

    // Admission and queueing of the links found in a page, for one entry.
    void QueueLinks(const QueueEntry& entry, const std::vector<LinkRef>& links, EntryQueue& target);

private:
    std::optional<QueueEntry> NextEntry();
    // What a conditional request asks the server about: the local copy's
    // date and entity tag.
    struct LocalCopy {
        int64_t modified = 0;
        std::string etag;
    };
    // url: the entry's URL, parsed; local: nothing when there is no copy.
    void StartEntry(QueueEntry entry, const CUrl& url, const std::optional<LocalCopy>& local);
    bool StoreAndScan(const PageOutcome& outcome, const CUrl& url);
    // False when the file system could take no more (the entries are back
    // in the queue).
    bool FollowRedirect(const PageOutcome& outcome, const CUrl& url);
    // Whether a 301 or 302 of this URL is a page's (its redirect page takes
    // the URL's own name and its target is followed).
    static bool RedirectStandsForPage(const PageOutcome& outcome, const CUrl& url);
    bool IsHtml(const PageOutcome& outcome, const CUrl& url) const;
    bool ShouldRescan(const QueueEntry& entry);
    // Links queued this crawl are remembered by a hash of folder, record
    // and URL, with the depth they had left.
    static uint64_t QueuedRecordKey(const std::string& folderPath, const std::string& recordUrl);
    static uint64_t QueuedKey(uint64_t recordKey, std::string_view url);
    static uint64_t EntryKey(const QueueEntry& entry);
    static QueueEntry LinkEntry(const QueueEntry& from, int32_t depth, std::string_view url);

    // A link found again (same record, no more depth left than when it was
    // queued) is not queued again but counted as its own queue entry would
    // be at its turn. That turn would find the first entry's result, so the
    // repeat is counted once the result is known; until then it waits.
    enum class LinkState : uint8_t {
        Open,     // an entry of the link is queued or being fetched: repeats wait for it
        Visited,  // its file is saved this crawl: a repeat is a visit (or a rescan, see visitUpTo)
        Failed,   // refused by robots.txt or with a client error: a repeat fails alike
        Dropped,  // its record is gone or its scheme is not fetched: a repeat is dropped alike
        Retry,    // it failed in a way that may not happen again: a repeat is fetched anew
    };
    enum class Settled { Visit, Fail, Drop, Again };
    struct LinkMemo {
        int32_t queued = -1;    // the most depth left this link was queued with
        int32_t visitUpTo = -1; // a repeat with no more depth left than this is a visit only
        LinkState state = LinkState::Open;
    };
    // The repeats of one link waiting for its result: the first of them, and
    // the depth each had left, in the order they were found.
    struct Waiting {
        QueueEntry first;
        std::vector<int32_t> budgets;
        size_t next = 0;
    };
    void CountRepeat(LinkMemo& memo, uint64_t key, const QueueEntry& from, int32_t depth, std::string_view url);
    // visitUpTo: for Visit, the depth left up to which a repeat would not be
    // rescanned (see VisitUpTo).
    void Settle(uint64_t key, Settled how, int32_t visitUpTo = -1);
    int32_t VisitUpTo(const QueueEntry& entry, const CUrl& url) const;
    // A waiting repeat goes into the URL queue to be fetched or rescanned.
    void QueueRepeat(Waiting& waiting);
    // Waiting repeats go into the URL queue (a stop, or an end with nothing
    // settled them); false when there were none.
    bool QueueWaiting();
    CrawlTimeouts TimeoutsFor(const ProjectItem& record) const;
    ProjectItem* RecordOf(const QueueEntry& entry) const;
    void AppendToLocalise(const QueueEntry& entry);
    // After a mirror operation that did not succeed: true (and the failure
    // noted, the entries back at the head of the URL queue) when the file
    // system can take no more.
    bool StorageFailed(const std::vector<QueueEntry>& entries);
    void NoteStorageFailure(std::string what);

    CrawlContext context_;
    CrawlHost& host_;
    bool useRobots_ = false;
    MirrorTime crawlStart_{};
    MirrorTime localiseStart_{};
    std::vector<std::string> forbidden_;
    std::deque<QueueEntry> pending_;
    // Depth budget with which each page was last scanned this crawl, so that
    // rescans of pages reached again (frames lead back to their parents) end.
    std::unordered_map<uint64_t, int32_t> scanBudget_;
    // Folder and URL of every download a server refused for good this crawl
    // with a client error (404, 410, ...): asked again it answers the same.
    std::unordered_set<std::string> refusedThisCrawl_;
    // Hash of folder, record and URL of every link queued this crawl.
    std::unordered_map<uint64_t, LinkMemo> linkMemo_;
    // The links with repeats waiting for their result.
    std::unordered_map<uint64_t, Waiting> waiting_;
    CUrl scratch_;
    // The links of the page at hand; the vector keeps its room from page to
    // page, up to kKeptLinkRoom links.
    static constexpr size_t kKeptLinkRoom = 1024;
    std::vector<LinkRef> links_;
    // A URL object keeps its buffers from parse to parse; each method that
    // runs once or more per download has its own (they call each other).
    struct Parsed {
        CUrl dispatch, done, localise, linkBase, link, own;
    } parsed_;
    CHtmlScanner scanner_;
    bool localising_ = false;
    std::optional<std::string> storageFailure_;
    bool requeuedForStorage_ = false;
    std::optional<std::string> storeFailure_;
};

// MsgStatusCannotCrawl (a TextRecord): a start URL can't be crawled; the
// text says which, why, and the record's item path. It counts as failed.
constexpr uint32_t MsgStatusCannotCrawl = WM_USER + 13;

// "Ormbrook/1.005.0"
extern const char kUserAgent[];

} // namespace ormbrook
