#pragma once
// The work lists of a project, kept beside its mirror so that a stopped
// crawl resumes where it stopped: ".uq" the URLs still to fetch, ".lq" the
// saved pages whose links are still to be rewritten, and ".det" / ".del" the
// two lists of a saved-data job. Each is a queue file of QueueEntry records.

#include "common/queue_entry.h"
#include "engine/queue_file.h"

#include <optional>
#include <string>

namespace ormbrook {

// The version written into every queue file of this program.
constexpr int32_t kQueueVersion = 10050;

// Texts of the old-version dialogue. This program knows no older entry
// layout, so it cannot convert one and refuses to open the project.
extern const char kOldVersionQuestion[];
extern const char kConvertFailed[];

class EntryQueue {
public:
    EntryQueue() : file_(kQueueVersion) {}

    enum class OpenResult { Ok, OldVersion, Failed };
    OpenResult Open(const std::string& path);
    void Close() { file_.Close(); }

    bool PushBack(const QueueEntry& entry);
    bool PushFront(const QueueEntry& entry);
    // A record that does not decode (a damaged file) is skipped: it is taken
    // off the list so that the crawl goes on with the rest.
    std::optional<QueueEntry> PopFront();
    std::optional<QueueEntry> PopBack();
    // The tail entry, left in place, so that work on it can be finished
    // before it leaves the list (a record that doesn't decode is dropped).
    std::optional<QueueEntry> PeekBack();
    bool IsEmpty() const { return !file_.valid() || file_.IsEmpty(); }
    bool Reset() { return file_.Reset(); }
    // Adds at the back and takes from the front in memory until Flush (see
    // CQueueFile); turning it off writes what is pending.
    void SetWriteBehind(bool on) { file_.SetWriteBehind(on); }
    bool Flush() { return file_.Flush(); }
    bool HasPendingWrites() const { return file_.HasPendingWrites(); }
    // Walks the list without changing it; fn(entry) for every record.
    template <typename Fn> void ForEach(Fn fn)
    {
        uint32_t position = 0;
        for (auto record = file_.First(position); record; record = file_.Next(position))
            if (auto entry = DecodeQueueEntry(record->data(), record->size()))
                fn(*entry);
    }

    const CQueueFile& file() const { return file_; }
    const std::string& errorText() const { return file_.errorText(); }

private:
    CQueueFile file_;
};

// The queue file names of a project: its mirror directory, the document
// title without its extension, and the suffix.
std::string QueuePath(const std::string& projectDirectory, const std::string& title, const char* suffix);

} // namespace ormbrook
