#pragma once
// SavedDataOperation: deletes, copies or moves the files saved for one
// project item. It runs as a job of a download manager, one entry per call,
// with two work lists beside the crawl queues: ".det" (what is still to be
// visited) and ".del" (what is still to be acted on, taken from the tail so
// that the deepest entries come first).
//
// A record's files are found the way a crawl reaches them: its start page,
// then the links of every saved page that the record's own limits admit. A
// folder's files are every file below its folder directory.
//
// Nothing is ever lost to an interruption: a file is moved by a rename, or,
// across file systems, by a copy into a temporary file beside the
// destination that is renamed into place before the source is removed; an
// entry leaves ".del" only once its work is done. A stopped job keeps both
// lists and a note of what it was doing (".sdj"); the same job asked for
// again resumes from them, any other job starts afresh.

#include "crawl/crawl_driver.h"

#include <functional>
#include <memory>
#include <map>
#include <string>

namespace ormbrook {

enum SavedDataKind : int {
    SavedDataDelete = 0,
    SavedDataCopy = 1,
    SavedDataMove = 2,
};

// Points inside one step where a test may cut the job short, as a crash or
// a kill would.
enum class SavedDataFault {
    BeforeAct,      // an entry was read from ".del", nothing done yet
    TempWritten,    // the copy sits complete in its temporary file
    Placed,         // the file is at its destination
    SourceRemoved,  // the source file is gone
    EntryDone,      // the entry's work is done, it is still in ".del"
};

struct SavedDataContext {
    ProjectItem* root = nullptr;
    const AppSettings* settings = nullptr;
    const CMirror* mirror = nullptr;
    std::string title;          // the project's name: the queue files are named after it
    QMutex* mirrorLock = nullptr;
};

class SavedDataOperation : private CrawlHost {
public:
    // report receives the status-view messages (WM_USER+15 with a text).
    using Reporter = std::function<void(uint32_t message, const std::string& text)>;
    SavedDataOperation(SavedDataContext context, Reporter report);
    ~SavedDataOperation() override;

    // Why a job can't run: empty when it can. The destination of a copy or
    // move must be an absolute path outside the item's own folder directory
    // (the job would walk its own output).
    static std::string Refusal(const CMirror& mirror, const ProjectItem& item, int kind,
                               const std::string& destination);

    // Opens the work lists and queues the item, or resumes the same job
    // stopped earlier. Empty on success, else the reason.
    std::string Begin(int kind, ProjectItem& item, const std::string& destination);

    enum class Step {
        More,         // an entry was handled; call again
        PassOver,     // the list of this pass is empty
        Interrupted,  // the fault hook cut the step short, or the destination can take no more
    };
    // The first pass: one ".det" entry.
    Step VisitStep();
    // The second pass: one ".del" entry from the tail.
    Step ActStep();
    // The job ran to its end: both work lists and the note are deleted.
    void End();

    int kind() const { return kind_; }
    // Set when a copy or move stopped because the destination's file system
    // can take no more: what could not be written, and why.
    const std::string& storageFailure() const { return storageFailure_; }

    // Test seams. faultHook returning true stops the step at that point and
    // the job must not be used further (as after a crash). forceCopy moves
    // files by copy and unlink, as across file systems.
    std::function<bool(SavedDataFault)> faultHook;
    bool forceCopy = false;

private:
    // CrawlHost: only reports matter while walking saved pages.
    int BusySlotFor(std::string_view, std::string_view) const override { return -1; }
    bool BusyWithHost(std::string_view, std::string_view) const override { return false; }
    bool RunningDownloads() const override { return false; }
    void Attach(int, QueueEntry) override {}
    // A job never downloads: nothing to start and nothing to put back.
    bool StartDownload(const DownloadRequest&) override { return true; }
    void Report(uint32_t message, const std::string& text) override { report_(message, text); }
    void TitleFound(const std::string&, const std::string&, const std::string&) override {}
    void PictureStored(const QueueEntry&, const std::string&) override {}

    bool Fault(SavedDataFault site) { return faultHook && faultHook(site); }
    std::string NotePath() const;
    std::string NoteText() const;
    bool VisitRecordEntry(const QueueEntry& entry);
    void VisitDirectory(const QueueEntry& entry);
    // Acts on one file; false when the fault hook cut it short or the
    // destination can take no more.
    bool ActOnFile(const std::string& source, const std::string& base);
    bool StorageFailed(const std::string& path, int err);
    void RemoveEmptyDirectories(std::string directory) const;

    SavedDataContext context_;
    Reporter report_;
    CrawlDriver driver_;
    EntryQueue visitQueue_;   // ".det"
    EntryQueue actQueue_;     // ".del"
    int kind_ = SavedDataDelete;
    bool folder_ = false;
    std::string folderPath_;  // of the item
    std::string recordUrl_;   // of a record item
    std::string destination_; // with a final "/"
    std::string baseDirectory_;  // the item's folder directory
    // Depth budget with which each page was walked, so that pages linking
    // to each other (frames add no depth) are not walked round in circles.
    std::map<std::string, int32_t> walked_;
    std::string storageFailure_;
};

} // namespace ormbrook
