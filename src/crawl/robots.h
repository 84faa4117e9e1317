#pragma once
// robots.txt: whether a URL may be fetched, what to do before it is known,
// and what to do with a fetched robots.txt.
//
// The mirror is the only cache: a host's robots.txt counts when its local
// file (or the redirect note left by a redirected robots.txt) was written
// after the crawl started, so nothing is kept between calls.

#include "crawl/mirror.h"

#include <functional>
#include <string>
#include <string_view>

namespace ormbrook {

// The program's robots name, distinct from its User-Agent header.
inline constexpr std::string_view kRobotsAgent = "Ormbrook";

// 1 allowed, 0 refused. path is a URL's canonical path (query excluded).
int RobotsAllowsBytes(std::string_view robotsTxt, std::string_view path, std::string_view agent);
// Reads the local robots file; a file that can't be read allows everything,
// and so does a URL that doesn't parse.
int RobotsAllows(const std::string& robotsFile, std::string_view url, std::string_view agent);

// Where a queue entry's robots.txt comes from: its robotsUrl when set, else
// the URL's site (port included: robots.txt belongs to the server that
// answers there) followed by "/robots.txt". Empty when the URL doesn't parse.
std::string RobotsUrlFor(std::string_view url, std::string_view robotsUrl);

enum RobotsState : int {
    RobotsStateUnknown = 1,
    RobotsStateRedirected = 4,
    RobotsStateFetched = 8,
};

// The state of a robots URL this crawl; the directories of its local file
// are made on the way. localFile receives the local robots file path.
RobotsState RobotsStateOf(const CMirror& mirror, std::string_view robotsUrl, std::string_view folderPath,
                          MirrorTime crawlStart, std::string* localFile = nullptr);

enum class RobotsVerdict {
    Allowed,
    Refused,
    Redirected,  // robotsUrl holds the entry's new robotsUrl; requeue it at the head
    Pending,     // another download object is fetching this host's robots.txt
    FetchFirst,  // fetch robots.txt (from robotsUrl) before the URL
};

struct RobotsDecisionResult {
    RobotsVerdict verdict = RobotsVerdict::Allowed;
    std::string robotsUrl;
};

// Whether a busy download object is fetching for an entry whose URL has this
// host and whose folder path is this one; the crawl driver answers it.
using RobotsBusyQuery = std::function<bool(std::string_view host, std::string_view folderPath)>;

// Decides about one queue entry before it is fetched.
RobotsDecisionResult RobotsDecision(const CMirror& mirror, std::string_view url, std::string_view robotsUrl,
                                    std::string_view folderPath, MirrorTime crawlStart,
                                    const RobotsBusyQuery& busy);

// The same for a queue entry; a Redirected verdict has set entry.robotsUrl.
RobotsDecisionResult RobotsDecision(const CMirror& mirror, QueueEntry& entry, MirrorTime crawlStart,
                                    const RobotsBusyQuery& busy);

// What the end of a robots.txt download leads to.
enum class RobotsNext {
    RequeueAll,     // the crawl is stopping: every attached entry back to the head of the queue
    FetchUrl,       // go on and fetch the URL itself (Referer set)
    ReportFailed,   // robots.txt refuses the URL: finish, the entries fail
    RequeueRedirected,  // every attached entry gets robotsUrl and goes back to the head
    Finish,         // finish without fetching
};

struct RobotsFetchedResult {
    RobotsNext next = RobotsNext::Finish;
    std::string robotsUrl;  // for RequeueRedirected
    MirrorResult file = MirrorResult::Ok;  // the mirror write this outcome made, if any
};

// The outcome of a robots.txt download, from the transfer result (1
// aborted, 2 complete, 3 failed) and the HTTP status alone.
enum class RobotsOutcome {
    Stopping,     // the crawl is stopping
    Unavailable,  // aborted, failed, or a status other than 200, 301, 302, 304
    Received,     // 200
    Moved,        // 301 or 302
    Other,        // any other completed status (304)
};
RobotsOutcome ClassifyRobotsFetch(bool stopping, int transferResult, int status);

// Handles the end of a robots.txt download of fetchedRobotsUrl for the entry
// URL: writes what the outcome asks for into the mirror and says what next.
RobotsFetchedResult RobotsFetched(const CMirror& mirror, bool stopping, int transferResult, int status,
                                  std::string_view location, std::string_view fetchedRobotsUrl,
                                  std::string_view url, std::string_view folderPath,
                                  const std::string& temporaryFile);

} // namespace ormbrook
