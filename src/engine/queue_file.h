#pragma once
// CQueueFile: a persistent doubly linked list of byte records in one file.
// The crawl's work lists and the pickup queue live in such files so that a
// stopped program resumes where it stopped; records are added and taken at
// either end without rewriting the file, and the file is cut back to its bare
// header when the list empties.
//
// Layout (all numbers 32-bit little-endian, every link a byte offset):
//   header with signature, 44 bytes: 44, 44, signature, head sentinel
//   (prev, next) at 12, tail sentinel (prev, next) at 20, and an unused
//   second list's sentinels at 28 and 36;
//   header without signature, 40 bytes: 40, 40, head at 8, tail at 16,
//   second list at 24 and 32;
//   record block: prev link, next link, length n, n data bytes.
//
// A crash can stop a push or a pop between its writes. Every update writes
// the forward link first and the backward link last, and only one update is
// ever under way, so a crash leaves at most one place where the two
// directions disagree. Open walks the whole list, mends that place and
// refuses a file whose links cannot be trusted, so a damaged file is
// reported instead of being followed. The two disagreements Open mends:
//   a push stopped after linking forwards: the walk reaches a node (the tail
//   sentinel for a push at the back) whose prev still names a node the walk
//   passed earlier; from there the new blocks lead to the node the walk came
//   from, each with its own prev link already right;
//   a pop stopped after unlinking forwards: the walk reaches a node whose
//   prev still names the last removed block; that block's next names the
//   node, and the removed blocks lead back through their prev links to the
//   node the walk came from (the head sentinel for a pop at the front).
// Either update may take one record or several.
//
// Write-behind (SetWriteBehind): pushes at the back and pops at the front
// are gathered in memory and reach the file at the next Flush as at most one
// pop update (head.next, then the new front's prev) followed by one push
// update (all new blocks in one write at the end of the file, then the old
// last node's next, then tail.prev) - the same few writes one record would
// take. Pops that empty the list cut the file back to its header before the
// pushes start a new one. A crash during a flush leaves the list as it was,
// with the pops done, or with both. A pop takes the next record of the
// file's list and only moves a cursor; when that list is used up it takes
// the oldest pending push, which then never reaches the file. Every other
// operation, Close and the destructor flush first, so the records and their
// order are those of the plain mode. What is pending is lost in a crash, as
// if the process had stopped before those calls. Pending pushes are written
// as soon as they fill 64 KB, so that memory stays small whatever is added.
//
// The object assumes it is the only writer of its file while open (it keeps
// the end of the file and both ends of the list in memory); two threads
// sharing a file share one CLockedQueueFile.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

enum QueueFileError : int {
    QueueFileOk = 0,
    QueueFileOutOfMemory = -1,
    QueueFileReadPastEnd = -2,   // a read would cross the end of the file
    QueueFileCannotOpen = -3,    // neither opened nor created
    QueueFileBadSignature = -4,  // written by another owner (or another version)
    QueueFileCorrupt = -5,       // links or lengths that cannot be trusted
    QueueFileWriteFailed = -6,
    QueueFileNotOpen = -7,
    QueueFileReadOnly = -8,      // the header form without signature is only read
    QueueFileTooLarge = -9,      // a link could no longer express the offset
    QueueFileMoveFailed = -10,   // Open could not move the open queue to the new path
};

// Every current owner of a queue file uses this signature.
constexpr int32_t kQueueFileSignature = 10050;

enum class QueueHeaderForm {
    WithSignature,    // 44-byte header; every operation
    WithoutSignature, // 40-byte header; Open, First and Next only
};

class CQueueFile {
public:
    explicit CQueueFile(int32_t signature, QueueHeaderForm form = QueueHeaderForm::WithSignature);
    ~CQueueFile();
    CQueueFile(const CQueueFile&) = delete;
    CQueueFile& operator=(const CQueueFile&) = delete;

    // Opens (or creates) the queue at path. With a signature: returns the
    // signature read from the file, or -1 when the file can neither be opened
    // nor created or cannot be trusted; valid() tells whether it may be used.
    // Without a signature: 0 or -1. When a queue is open already it is moved
    // to the new path first, records and all.
    int32_t Open(const std::string& path);
    void Close();

    bool valid() const { return valid_; }
    int error() const { return error_; }
    const std::string& errorText() const { return errorText_; }
    const std::string& path() const { return path_; }
    // True when the last Open mended a half-finished push or pop.
    bool repaired() const { return repaired_; }
    int32_t signature() const { return signature_; }

    bool PushFront(const void* data, uint32_t length);
    bool PushBack(const void* data, uint32_t length);
    std::optional<std::vector<uint8_t>> PopFront();
    std::optional<std::vector<uint8_t>> PopBack();

    // Reading without removing. position is the offset of the record just
    // read; Next continues after it. Nothing at the end of the list.
    std::optional<std::vector<uint8_t>> First(uint32_t& position);
    std::optional<std::vector<uint8_t>> Next(uint32_t& position);
    // The record at the tail, left in place.
    std::optional<std::vector<uint8_t>> Last();

    bool IsEmpty() const;
    // Empties the queue and gives back its space; drops what is pending.
    bool Reset();

    // Write-behind mode (see above); turning it off flushes.
    void SetWriteBehind(bool on);
    bool writeBehind() const { return writeBehind_; }
    // Writes what is pending. True when all of it reached the file (or
    // nothing was pending); a failed write leaves the object invalid and
    // what was not written is lost.
    bool Flush();
    bool HasPendingWrites() const { return pendingPops_ != 0 || pushedStart_ < pushed_.size(); }

    // The errno of the last write that failed (0: none).
    int writeErrno() const { return writeErrno_; }
    // Room for the file to grow is reserved ahead of its writes (where the
    // file system can). When the file system refused that room (no space, a
    // quota), this is its errno: the owner should stop adding soon, while
    // what it still has to write fits in the room kept before.
    int spaceErrno() const { return spaceErrno_; }

    // Fault injection for tests: after `writes` more writes the object acts
    // as if the process had died - the next write is not made, the file is
    // closed and every operation fails. -1 (the default) switches it off.
    void SetWriteLimit(int writes) { writeLimit_ = writes; }

private:
    struct Block {
        uint32_t prev = 0;
        uint32_t next = 0;
        uint32_t length = 0;
    };

    uint32_t headerSize() const;
    uint32_t head() const;
    uint32_t tail() const;
    bool isSentinel(uint32_t offset) const { return offset == head() || offset == tail(); }
    bool isBlockOffset(uint32_t offset) const;
    bool isNode(uint32_t offset) const { return isSentinel(offset) || isBlockOffset(offset); }

    bool fail(int error, std::string text);
    void closeFile();
    bool openFile(const std::string& path);
    bool moveTo(const std::string& path);
    bool writeHeader();
    bool walkList();
    bool writeAt(uint64_t offset, const void* data, size_t size);
    bool writeLink(uint32_t at, uint32_t value);
    bool readAt(uint64_t offset, void* data, size_t size) const;
    void fillWindow(uint64_t offset) const;
    void forgetWindow();
    bool readBlock(uint32_t offset, Block& block, std::vector<uint8_t>* data) const;
    // readBlock for a block about to be taken: its links must name nodes.
    bool readLinkedBlock(uint32_t offset, Block& block, std::vector<uint8_t>& data);
    bool canChange();
    bool canAdd(const void* data, uint32_t length);
    void keepRoom(uint64_t end);
    bool insertBetween(uint32_t prev, uint32_t next, const void* data, uint32_t length);
    std::optional<std::vector<uint8_t>> remove(uint32_t block);
    uint32_t front() const { return pendingPops_ != 0 ? popFront_ : headNext_; }
    bool hasPendingPushes() const { return pushedStart_ < pushed_.size(); }
    uint64_t endAfterFlush() const;
    bool pushBehind(const void* data, uint32_t length);
    std::optional<std::vector<uint8_t>> popBehind();
    bool flushPops();
    bool flushPushes();
    void dropPending();

    int32_t ownerSignature_;
    QueueHeaderForm form_;
    int fd_ = -1;
    std::string path_;
    bool valid_ = false;
    int error_ = QueueFileOk;
    std::string errorText_;
    bool repaired_ = false;
    int32_t signature_ = 0;
    uint64_t size_ = 0;     // current end of the file
    uint32_t headNext_ = 0; // first block, or the tail sentinel
    uint32_t tailPrev_ = 0; // last block, or the head sentinel
    int writeLimit_ = -1;
    int writeErrno_ = 0;
    int spaceErrno_ = 0;
    // The file's room is reserved up to here (beyond the end of the file).
    uint64_t reservedEnd_ = 0;
    static constexpr uint64_t kRoomMargin = 128 * 1024;
    bool writeBehind_ = false;
    // Pops not yet written: how many records at the front of the file's list
    // are taken, and the first one that is not (the tail sentinel when all
    // are).
    uint32_t pendingPops_ = 0;
    uint32_t popFront_ = 0;
    // Pushes not yet written, as complete blocks whose links are filled in
    // when they are written; the blocks before pushedStart_ were popped.
    std::vector<uint8_t> pushed_;
    size_t pushedStart_ = 0;
    // Pushes beyond this many bytes are written at once.
    static constexpr size_t kMaxPendingBytes = 64 * 1024;
    // A copy of the file's bytes from windowStart_, kept equal to the file by
    // every write, that serves reads of records near the last one read.
    static constexpr size_t kReadWindow = 16 * 1024;
    mutable std::vector<uint8_t> window_;
    mutable uint64_t windowStart_ = 0;
};

// The same queue for files that two threads share: each operation holds one
// mutex for its whole length.
class CLockedQueueFile {
public:
    explicit CLockedQueueFile(int32_t signature, QueueHeaderForm form = QueueHeaderForm::WithSignature)
        : file_(signature, form) {}

    int32_t Open(const std::string& path) { std::lock_guard g(mutex_); return file_.Open(path); }
    void Close() { std::lock_guard g(mutex_); file_.Close(); }
    bool valid() { std::lock_guard g(mutex_); return file_.valid(); }
    int error() { std::lock_guard g(mutex_); return file_.error(); }
    std::string errorText() { std::lock_guard g(mutex_); return file_.errorText(); }
    bool PushFront(const void* d, uint32_t n) { std::lock_guard g(mutex_); return file_.PushFront(d, n); }
    bool PushBack(const void* d, uint32_t n) { std::lock_guard g(mutex_); return file_.PushBack(d, n); }
    std::optional<std::vector<uint8_t>> PopFront() { std::lock_guard g(mutex_); return file_.PopFront(); }
    std::optional<std::vector<uint8_t>> PopBack() { std::lock_guard g(mutex_); return file_.PopBack(); }
    std::optional<std::vector<uint8_t>> First(uint32_t& p) { std::lock_guard g(mutex_); return file_.First(p); }
    std::optional<std::vector<uint8_t>> Next(uint32_t& p) { std::lock_guard g(mutex_); return file_.Next(p); }
    bool IsEmpty() { std::lock_guard g(mutex_); return file_.IsEmpty(); }
    bool Reset() { std::lock_guard g(mutex_); return file_.Reset(); }
    void SetWriteBehind(bool on) { std::lock_guard g(mutex_); file_.SetWriteBehind(on); }
    bool Flush() { std::lock_guard g(mutex_); return file_.Flush(); }
    bool HasPendingWrites() { std::lock_guard g(mutex_); return file_.HasPendingWrites(); }

private:
    std::mutex mutex_;
    CQueueFile file_;
};

} // namespace ormbrook
