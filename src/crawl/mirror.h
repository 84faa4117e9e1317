#pragma once
// CMirror: where every fetched file lives in the mirror tree, and the small
// file operations on it. A file's place is computed from its URL and the
// record's folder path alone, so the tree itself tells whether (the file
// exists) and when (its modification time) a URL was fetched.
//
// All paths are absolute; the process's current directory is never used.
// Whatever a server or a page sends, every file written here stays inside the
// mirror root: the URL-derived part of a path can hold no "." or ".." level,
// and odd folder titles are mapped (see SafeFolderPath).
//
// The object holds no lock. Callers that share the mirror between threads hold
// the application's mirror lock around each document operation.

#include "common/queue_entry.h"
#include "common/url.h"

#include <chrono>
#include <memory>

struct stat;
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ormbrook {

// Outcome of one mirror operation. A failure concerns that one file only.
enum class MirrorResult {
    Ok = 0,
    NoLocalPath,       // the URL doesn't parse, has no host, or the mirror root isn't absolute
    NameTooLong,       // a level is longer than NAME_MAX or the path longer than PATH_MAX
    MissingDirectory,  // a level is missing and creating was not asked for
    DirectoryFailed,   // a level could not be made (or exists and is not a directory)
    ReadFailed,        // the source file could not be read
    WriteFailed,       // the file could not be written or put in place
};

const char* MirrorResultText(MirrorResult result);

// Why the last mirror operation of this thread that failed on a system call
// failed: its errno and the path it was working on. Read it right after a
// result other than Ok (failures that need no system call leave it alone).
struct MirrorFailure {
    int err = 0;
    std::string path;
};
const MirrorFailure& LastMirrorFailure();

// Times are compared at the file system's own resolution. Take crawl start
// times with MirrorNow(): it reads the clock the file system stamps files
// with, so a file written afterwards is never dated before it.
using MirrorTime = std::chrono::system_clock::time_point;
MirrorTime MirrorNow();

// A moment in the file system's own time, taken in `directory`: every file
// written before the call is dated no later than it, every file written after
// the call later. Crawl phases are dated with it, because file systems date
// files with a clock of their own resolution (coarse ticks on some, exact
// nanoseconds on others) that no process clock matches everywhere.
MirrorTime MirrorBoundary(const std::string& directory);

// Local file states as the crawl names them.
enum LocalFileState : int {
    LocalFileUnknown = 1,
    LocalFileExists = 4,
};

// What the disk said about the paths of a mirror, remembered while nothing
// but the crawl's own rewrites changes the tree (the localise phase): a file
// linked from every page is looked at once, not once per link. While the
// crawl fetches, one kept up to date with what it stores answers whether a
// URL's file is missing (see CMirror::RememberAbsence). The first
// look into a directory reads the whole directory, so that the pages of one
// directory, which link each other, cost one read instead of a look each. It
// holds a bounded number of paths and starts over when full.
class MirrorLookupMemo {
public:
    enum Kind : uint8_t { Missing, Regular, Directory, Other };
    static constexpr size_t kMaxPaths = 16384;
    // A directory with more entries than this is not read whole.
    static constexpr size_t kMaxListed = kMaxPaths / 4;

    std::optional<Kind> Find(const std::string& path);
    void Remember(const std::string& path, Kind kind);
    // A file or directory this process has just made: the memo's answers
    // stay true while the crawl adds to the tree. A directory made is read
    // afresh when next looked into.
    void NoteMade(const std::string& path, Kind kind);

private:
    // Reads the directory (the path up to its last "/"); false when it can't
    // be read whole, and its entries are then looked at one by one.
    bool ReadDirectory(const std::string& directory);

    std::unordered_map<std::string, Kind> kinds_;
    // Directories read, and whether the reading saw every entry's kind.
    std::unordered_map<std::string, bool> listed_;
    std::string directory_; // the directory of the path at hand, kept for its room
};

// How the part of a local path made from a URL is written.
//  - Escaped: the URL's own text, every "%" of its escapes written "["
//    (the naming existing mirrors have).
//  - Readable (the ReadableNames setting): the same, except that escapes
//    that make characters beyond ASCII in valid UTF-8 are those characters,
//    and a host in Unicode has its Unicode form. ASCII stays escaped as
//    before, so a readable name holds no character that a file name or a
//    link to it would read differently ("/", "?", "#", "%", "[", a "."
//    level), and no control character.
enum class MirrorNaming { Escaped, Readable };

MirrorNaming MirrorNamingOf(int32_t readableNames);

// Appends the mirror name of a piece of a canonical URL (a path, a query)
// to out. Every local path is made with it.
void AppendMirrorName(std::string& out, std::string_view urlText, MirrorNaming naming);
// The mirror name of a URL's host (its folder in the mirror).
std::string MirrorHostName(std::string_view host, MirrorNaming naming);

// Whether the mirror below root holds a file or folder whose name the
// readable naming writes otherwise (one the next crawl would fetch again
// under its new name). Looks at no more than `limit` names.
bool HoldsEscapedNames(const std::string& root, size_t limit = 50000);

class CMirror {
public:
    // mirrorRoot: the MirrorDir setting ("/" is appended when missing);
    // projectName: the title of the project's root item.
    CMirror(std::string_view mirrorRoot, std::string_view projectName,
            MirrorNaming naming = MirrorNaming::Escaped);

    MirrorNaming naming() const { return naming_; }
    // A crawl or a job takes the setting of the moment when it starts.
    void SetNaming(MirrorNaming naming) { naming_ = naming; }

    const std::string& root() const { return root_; }
    // Root, project name, "/": the queue files and "tmp.html" lie here.
    std::string ProjectDirectory() const;
    // Root, folder path, "/".
    std::string FolderDirectory(std::string_view folderPath) const;

    // The local path of a URL for a folder path, or nothing.
    std::optional<std::string> LocalPath(std::string_view url, std::string_view folderPath) const;
    // The same for a URL parsed already (nothing when it did not parse).
    std::optional<std::string> LocalPath(const CUrl& url, std::string_view folderPath) const;
    // The local directory of the URL's site (its host's folder), or of the
    // URL's directory when withDirectory is set; ends in "/".
    std::optional<std::string> LocalDirectory(const CUrl& url, std::string_view folderPath,
                                              bool withDirectory) const;

    // Computes the local path, checks its length limits and makes sure its
    // directories exist (creating missing ones when create is set).
    MirrorResult PrepareLocalFile(std::string_view url, std::string_view folderPath, bool create,
                                  std::string* path) const;

    LocalFileState LocalState(std::string_view url, std::string_view folderPath) const;
    // The local path when a file is there (with its stat when asked for), else nothing.
    // viaDirectory tells whether the URL (without its "/") named a directory
    // of the mirror and the path is that directory's index.html.
    std::optional<std::string> ExistingFile(std::string_view url, std::string_view folderPath,
                                            struct stat* info = nullptr, bool* viaDirectory = nullptr) const;
    std::optional<std::string> ExistingFile(const CUrl& url, std::string_view folderPath,
                                            struct stat* info = nullptr, bool* viaDirectory = nullptr) const;
    // True when the local file exists and was saved, touched or rewritten
    // after time (see ChangedTimeOf).
    bool SavedAfter(std::string_view url, std::string_view folderPath, MirrorTime time) const;

    // Puts a complete copy of the downloaded file at the URL's local path; the
    // old file is replaced only once the copy is whole.
    MirrorResult StoreDownload(std::string_view url, std::string_view folderPath,
                               const std::string& temporaryFile) const;
    // The same, taking the downloaded file itself (renamed into place when it
    // lies on the mirror's file system). storedAt receives the local path.
    MirrorResult MoveDownload(std::string_view url, std::string_view folderPath, const std::string& temporaryFile,
                              std::string* storedAt) const;
    // Marks the local file as seen now (see TouchFile).
    MirrorResult Touch(std::string_view url, std::string_view folderPath) const;

    // The redirect page for pageUrl (the entry's URL, or its robots URL for a
    // robots.txt redirect), with ".html" appended when addHtml is set.
    MirrorResult WriteRedirectPage(std::string_view pageUrl, std::string_view folderPath,
                                   std::string_view target, bool addHtml) const;
    // The generated allow-all "robots.txt" in hostDirectory, which must lie
    // inside the mirror root.
    MirrorResult WriteAllowAllRobots(const std::string& hostDirectory) const;
    // The same bytes at the local path of a robots URL.
    MirrorResult WriteAllowAllRobotsFor(std::string_view robotsUrl, std::string_view folderPath) const;

    // The same operations for a queue entry of the crawl.
    MirrorResult StoreDownload(const QueueEntry& entry, const std::string& temporaryFile) const
    {
        return StoreDownload(entry.url, entry.folderPath, temporaryFile);
    }
    MirrorResult Touch(const QueueEntry& entry) const { return Touch(entry.url, entry.folderPath); }
    // forRobots writes at the entry's robots URL (see RobotsUrlFor).
    MirrorResult WriteRedirectPage(const QueueEntry& entry, std::string_view target, bool addHtml,
                                   bool forRobots) const;

    static std::string RedirectPageBytes(std::string_view target);
    static std::string_view AllowAllRobotsBytes();

    // Writes bytes to path through a temporary file beside it and a rename.
    // path must be a path this mirror made.
    static MirrorResult WriteWhole(const std::string& path, std::string_view bytes);

    // While on, the look-ups behind LocalPath, LocalState and ExistingFile
    // (without stat) are remembered and answered from memory; the caller
    // turns it off before anything else writes to the tree. Turning it on
    // starts from an empty memory.
    void RememberLookups(bool on) const { memo_ = on ? std::make_shared<MirrorLookupMemo>() : nullptr; }
    // While on, ExistingFile with a stat answers "not there" from directory
    // listings, read once and kept up to date with what this object stores,
    // instead of asking the disk for each URL the crawl takes. Only absence
    // is taken from memory: a file that is there is always looked at. Files
    // that another program adds meanwhile may be taken for missing, and are
    // fetched as new. Turning it on starts from an empty memory.
    void RememberAbsence(bool on) const { absent_ = on ? std::make_shared<MirrorLookupMemo>() : nullptr; }
    // Whether a regular file is at path (through the memo while there is one).
    bool IsFile(const std::string& path) const { return LookAt(path) == MirrorLookupMemo::Regular; }

private:
    MirrorLookupMemo::Kind LookAt(const std::string& path) const;
    // Tells the absence memory of a stored file, and of the directories
    // above it that may have been made for it.
    void NoteStored(const std::string& path, bool directoriesMade) const;
    // FolderDirectory, valid until the thread's next call.
    const std::string& KnownFolderDirectory(std::string_view folderPath) const;

    // The local path as the URL names it, before looking at the disk;
    // mayNameDirectory says whether a directory of that name stands for
    // its index.html.
    std::optional<std::string> NamedPath(std::string_view url, std::string_view folderPath,
                                         bool* mayNameDirectory) const;
    std::optional<std::string> NamedPath(const CUrl& url, std::string_view folderPath,
                                         bool* mayNameDirectory) const;
    // The directory's index.html for a path that names a directory (where
    // the URL allows it).
    std::optional<std::string> WithDirectoryIndex(std::optional<std::string> path, bool mayNameDirectory) const;
    // The path when a file is there.
    std::optional<std::string> Existing(std::optional<std::string> path, bool mayNameDirectory,
                                        struct stat* info, bool* viaDirectory) const;

    bool rootUsable_ = false;
    MirrorNaming naming_ = MirrorNaming::Escaped;
    std::string root_;
    std::string projectName_;
    mutable std::shared_ptr<MirrorLookupMemo> memo_;
    mutable std::shared_ptr<MirrorLookupMemo> absent_;
};

// A folder path made safe to append to the mirror root: empty levels are
// dropped, and a level "." or ".." is written "[2e" or "[2e[2e" (the escaped
// form of a dot, the same mapping that turns "%" into "[").
std::string SafeFolderPath(std::string_view folderPath);

// The path from the page's local path to a target local path, as the page's
// links are written after localisation: "../" for every level of the page
// below the longest shared directory, then the rest of the target.
std::string RelativePath(std::string_view pagePath, std::string_view targetPath);
// The same into a string kept by the caller (relative must not view either path).
void AssignRelativePath(std::string& relative, std::string_view pagePath, std::string_view targetPath);

// A stored file is dated as its server dates it: its modification time is
// the reply's LAST-MODIFIED (a reply without one leaves the time of the
// download), so that the next crawl's IF-MODIFIED-SINCE carries the server's
// own date, which every server matches. The reply's ETAG, where the file
// system keeps extended attributes, goes back as IF-NONE-MATCH. Rewriting a
// page's links, copying and moving a file keep both.
//
// Whether the crawl saved, rewrote or saw a file is told by its change time
// instead, which the system sets to now on each of these and which nothing
// can set back.

// Dates the file at path: lastModified, when given, as its modification time
// (the access time becomes now), and etag as its entity tag (removed when
// empty). Where the file system keeps no change time of its own, the file
// keeps the date of its download.
void DateStoredFile(const std::string& path, std::optional<int64_t> lastModified, std::string_view etag);
// The entity tag kept with a stored file, or empty.
std::string StoredEtag(const std::string& path);
// Gives the file open as toFd the dates of the file at fromPath (open as
// fromFd, or -1): the modification time in `from` (its stat) and its entity
// tag (or none).
void CopyStoredDates(const std::string& fromPath, int fromFd, const struct stat& from, int toFd);

// Marks a file as seen now: the access time becomes now, so does the change
// time; the modification time (the server's date) is kept.
MirrorResult TouchFile(const std::string& path);

// A file's modification time from its stat.
MirrorTime ModifiedTimeOf(const struct stat& info);
// A file's change time from its stat.
MirrorTime ChangedTimeOf(const struct stat& info);

// True when the file at path exists and was saved, touched or rewritten
// (its change time) after time.
bool FileChangedAfter(const std::string& path, MirrorTime time);

// Creates every missing directory of an absolute directory path.
MirrorResult MakeDirectories(const std::string& directory, bool create);

} // namespace ormbrook
