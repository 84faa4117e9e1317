#include "engine/queue_file.h"

#include "platform/file_calls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace ormbrook {

namespace {

// A link is read back as a signed 32-bit number, so no block may start or
// end beyond this.
constexpr uint64_t kMaxFileSize = uint64_t(std::numeric_limits<int32_t>::max());
constexpr uint32_t kBlockHead = 12; // prev, next, length
// Pops read the block head and this much data in one call; most records fit.
constexpr size_t kPopReadAhead = 512;

void putU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads up to n bytes at offset; returns how many it got (fewer at the end
// of the file or on an error).
size_t ReadUpTo(int fd, uint8_t* out, size_t n, uint64_t offset)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, out + got, n - got, off_t(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += size_t(r);
    }
    return got;
}

// Reads the file through a window, so that walking a long list at Open costs
// a few large reads instead of one small read per record.
class WindowReader {
public:
    WindowReader(int fd, uint64_t size) : fd_(fd), size_(size) {}

    bool read(uint64_t offset, uint8_t* out, size_t n)
    {
        if (offset + n > size_)
            return false;
        if (offset < start_ || offset + n > start_ + buffer_.size()) {
            uint64_t start = offset & ~uint64_t(4095);
            size_t want = size_t(std::min<uint64_t>(kWindow, size_ - start));
            buffer_.resize(want);
            buffer_.resize(ReadUpTo(fd_, buffer_.data(), want, start));
            start_ = start;
            if (offset + n > start_ + buffer_.size())
                return false;
        }
        std::memcpy(out, buffer_.data() + (offset - start_), n);
        return true;
    }

private:
    static constexpr uint64_t kWindow = 64 * 1024;
    int fd_;
    uint64_t size_;
    uint64_t start_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace

CQueueFile::CQueueFile(int32_t signature, QueueHeaderForm form)
    : ownerSignature_(signature), form_(form)
{
}

CQueueFile::~CQueueFile()
{
    Close();
}

uint32_t CQueueFile::headerSize() const
{
    return form_ == QueueHeaderForm::WithSignature ? 44 : 40;
}

uint32_t CQueueFile::head() const
{
    return form_ == QueueHeaderForm::WithSignature ? 12 : 8;
}

uint32_t CQueueFile::tail() const
{
    return head() + 8;
}

bool CQueueFile::isBlockOffset(uint32_t offset) const
{
    return offset >= headerSize() && uint64_t(offset) + kBlockHead <= size_;
}

bool CQueueFile::fail(int error, std::string text)
{
    error_ = error;
    errorText_ = std::move(text);
    return false;
}

void CQueueFile::Close()
{
    Flush();
    closeFile();
}

void CQueueFile::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    valid_ = false;
    forgetWindow();
    dropPending();
}

bool CQueueFile::writeHeader()
{
    uint8_t h[44];
    uint32_t words[11];
    size_t count;
    if (form_ == QueueHeaderForm::WithSignature) {
        const uint32_t w[] = {44, 44, uint32_t(ownerSignature_), 12, 20, 12, 20, 28, 36, 28, 36};
        std::memcpy(words, w, sizeof w);
        count = 11;
    } else {
        const uint32_t w[] = {40, 40, 8, 16, 8, 16, 24, 32, 24, 32};
        std::memcpy(words, w, sizeof w);
        count = 10;
    }
    for (size_t i = 0; i < count; ++i)
        putU32(h + 4 * i, words[i]);
    if (!writeAt(0, h, 4 * count))
        return false;
    // The header goes first: a crash before the cut leaves an empty list
    // followed by bytes nothing points at, which is a sound file.
    forgetWindow();
    if (size_ > headerSize()) {
        if (const int r = FileCalls::Current().Truncate(fd_, off_t(headerSize())); r != 0) {
            writeErrno_ = -r;
            return fail(QueueFileWriteFailed, std::string("cannot shorten queue file: ") + std::strerror(-r));
        }
        // The cut gives back the room kept beyond the end, too.
        reservedEnd_ = 0;
    }
    size_ = headerSize();
    headNext_ = tail();
    tailPrev_ = head();
    return true;
}

bool CQueueFile::writeAt(uint64_t offset, const void* data, size_t size)
{
    if (fd_ < 0)
        return fail(QueueFileNotOpen, "queue file is not open");
    if (writeLimit_ == 0) {
        // The simulated crash: nothing more reaches the file.
        closeFile();
        return fail(QueueFileWriteFailed, "write stopped by the test limit");
    }
    if (writeLimit_ > 0)
        --writeLimit_;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (const int err = PWriteFully(fd_, p, size, off_t(offset))) {
        writeErrno_ = err;
        return fail(QueueFileWriteFailed, "cannot write queue file " + path_ + ": " + std::strerror(err));
    }
    if (offset + size > size_)
        size_ = offset + size;
    // Written through: the bytes the window holds stay the file's bytes.
    const uint64_t windowEnd = windowStart_ + window_.size();
    if (offset < windowEnd && offset + size > windowStart_) {
        const uint64_t from = std::max(offset, windowStart_);
        const uint64_t to = std::min(offset + size, windowEnd);
        std::memcpy(window_.data() + (from - windowStart_), p + (from - offset), size_t(to - from));
    }
    return true;
}

bool CQueueFile::writeLink(uint32_t at, uint32_t value)
{
    uint8_t b[4];
    putU32(b, value);
    return writeAt(at, b, 4);
}

bool CQueueFile::readAt(uint64_t offset, void* data, size_t size) const
{
    if (fd_ < 0 || offset + size > size_)
        return false;
    uint8_t* p = static_cast<uint8_t*>(data);
    // Records are mostly taken from the front in the order they were added,
    // so one read of the window serves the next pops as well.
    if (size <= kReadWindow && (offset < windowStart_ || offset + size > windowStart_ + window_.size()))
        fillWindow(offset);
    if (offset >= windowStart_ && offset + size <= windowStart_ + window_.size()) {
        std::memcpy(p, window_.data() + (offset - windowStart_), size);
        return true;
    }
    return ReadUpTo(fd_, p, size, offset) == size;
}

void CQueueFile::fillWindow(uint64_t offset) const
{
    const size_t want = size_t(std::min<uint64_t>(kReadWindow, size_ - offset));
    window_.resize(want);
    window_.resize(ReadUpTo(fd_, window_.data(), want, offset));
    windowStart_ = offset;
}

void CQueueFile::forgetWindow()
{
    window_.clear();
    windowStart_ = 0;
}

bool CQueueFile::readBlock(uint32_t offset, Block& block, std::vector<uint8_t>* data) const
{
    if (!isBlockOffset(offset))
        return false;
    uint8_t first[kBlockHead + kPopReadAhead];
    size_t ahead = size_t(std::min<uint64_t>(sizeof first, size_ - offset));
    if (!readAt(offset, first, ahead))
        return false;
    block.prev = getU32(first);
    block.next = getU32(first + 4);
    block.length = getU32(first + 8);
    if (uint64_t(block.length) > size_ - offset - kBlockHead)
        return false;
    if (data == nullptr)
        return true;
    try {
        data->resize(block.length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t inFirst = std::min<size_t>(block.length, ahead - kBlockHead);
    if (inFirst != 0)
        std::memcpy(data->data(), first + kBlockHead, inFirst);
    if (inFirst < block.length)
        return readAt(uint64_t(offset) + kBlockHead + inFirst, data->data() + inFirst, block.length - inFirst);
    return true;
}

bool CQueueFile::openFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(QueueFileCannotOpen, "cannot open queue file " + path + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QueueFileCannotOpen, "queue file " + path + " is not a regular file");
    }
    fd_ = fd;
    size_ = uint64_t(st.st_size);
    reservedEnd_ = 0;
    spaceErrno_ = 0;
    writeErrno_ = 0;
    return true;
}

bool CQueueFile::moveTo(const std::string& path)
{
    if (path == path_)
        return true;
    if (::rename(path_.c_str(), path.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return fail(QueueFileMoveFailed, "cannot move queue file " + path_ + " to " + path + ": " +
                                             std::strerror(errno));
    // Another file system: copy, and give up the old file only once the
    // copy is complete.
    int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    int out = in < 0 ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    char buffer[65536];
    while (ok) {
        ssize_t r = ::read(in, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            ok = r == 0;
            break;
        }
        ok = WriteFully(out, buffer, size_t(r)) == 0;
    }
    if (ok && ::fsync(out) != 0)
        ok = false;
    if (in >= 0)
        ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    if (!ok) {
        ::unlink(path.c_str());
        return fail(QueueFileMoveFailed, "cannot copy queue file " + path_ + " to " + path);
    }
    ::unlink(path_.c_str());
    return true;
}

int32_t CQueueFile::Open(const std::string& path)
{
    // What is pending belongs to the open file, before it moves. Should the
    // flush fail, the file is still sound and moves as it is.
    Flush();
    repaired_ = false;
    error_ = QueueFileOk;
    errorText_.clear();
    if (fd_ >= 0) {
        closeFile();
        if (!moveTo(path))
            return -1;
    }
    closeFile();
    path_ = path;
    if (!openFile(path))
        return -1;
    const bool withSignature = form_ == QueueHeaderForm::WithSignature;
    if (size_ == 0) {
        // New, or created by a run that stopped before its header was written.
        if (!writeHeader()) {
            closeFile();
            return -1;
        }
    } else if (size_ < headerSize()) {
        closeFile();
        fail(QueueFileCorrupt, "queue file " + path + " is shorter than its header");
        return -1;
    }
    if (withSignature) {
        uint8_t b[4];
        if (!readAt(8, b, 4)) {
            closeFile();
            fail(QueueFileCannotOpen, "cannot read queue file " + path);
            return -1;
        }
        signature_ = int32_t(getU32(b));
        if (signature_ != ownerSignature_) {
            closeFile();
            fail(QueueFileBadSignature, "queue file " + path + " has signature " + std::to_string(signature_) +
                                            ", expected " + std::to_string(ownerSignature_));
            return signature_;
        }
    }
    if (!walkList()) {
        closeFile();
        return -1;
    }
    valid_ = true;
    return withSignature ? signature_ : 0;
}

bool CQueueFile::walkList()
{
    WindowReader reader(fd_, size_);
    auto corrupt = [&](uint64_t at, const char* why) {
        return fail(QueueFileCorrupt, "queue file " + path_ + " is damaged at offset " + std::to_string(at) +
                                          ": " + why);
    };
    auto readLinks = [&](uint32_t node, uint32_t& prev, uint32_t& next) {
        uint8_t b[8];
        if (!reader.read(node, b, 8))
            return false;
        prev = getU32(b);
        next = getU32(b + 4);
        return true;
    };
    // A block takes at least kBlockHead bytes, so a longer walk has gone round.
    const uint64_t maxBlocks = (size_ - headerSize()) / kBlockHead;
    // A push stopped after linking forwards: `stale`, the prev of the node
    // the walk reached, is a node passed earlier (the head sentinel, or a
    // block), and from there the new blocks lead to `from` with their prev
    // links right. As the walk found every prev link before `from` right,
    // such a chain can only be the walked list's own. It is at most as long
    // as the walk so far.
    auto pushStopped = [&](uint32_t from, uint32_t stale, uint64_t walked) {
        if (from == head() || (stale != head() && !isBlockOffset(stale)))
            return false;
        uint32_t at = stale, atPrev, atNext;
        if (!readLinks(at, atPrev, atNext))
            return false;
        for (uint64_t hop = 0; hop <= walked; ++hop) {
            const uint32_t to = atNext;
            if (!isBlockOffset(to) || !readLinks(to, atPrev, atNext) || atPrev != at)
                return false;
            if (to == from)
                return true;
            at = to;
        }
        return false;
    };
    // A pop stopped after unlinking forwards: `stale` is the last removed
    // block, still named by `node` and naming it, and the removed blocks
    // lead back through their prev links (each named by the one after it)
    // to `from`. Removed blocks are left as they were, so this holds until
    // the file is cut; there are no more of them than the file can hold.
    auto popStopped = [&](uint32_t from, uint32_t node, uint32_t stale) {
        uint32_t atPrev, atNext;
        if (!isBlockOffset(stale) || !readLinks(stale, atPrev, atNext) || atNext != node)
            return false;
        uint32_t at = stale;
        for (uint64_t hop = 0; hop < maxBlocks; ++hop) {
            const uint32_t back = atPrev;
            if (back == from)
                return true;
            if (!isBlockOffset(back) || !readLinks(back, atPrev, atNext) || atNext != at)
                return false;
            at = back;
        }
        return false;
    };
    uint32_t headPrev, first;
    if (!readLinks(head(), headPrev, first))
        return corrupt(head(), "cannot read the head of the list");
    uint32_t from = head();
    uint32_t node = first;
    uint64_t steps = 0;
    bool mended = false;
    uint32_t mendAt = 0, mendTo = 0;
    for (;;) {
        uint32_t prev, next, length = 0;
        const bool atTail = node == tail();
        if (!atTail) {
            if (node == head())
                return corrupt(from, "a link leads back to the head");
            if (!isBlockOffset(node))
                return corrupt(from, "a link points outside the records");
            uint8_t b[kBlockHead];
            if (!reader.read(node, b, kBlockHead))
                return corrupt(node, "cannot read a record");
            prev = getU32(b);
            next = getU32(b + 4);
            length = getU32(b + 8);
            if (uint64_t(length) > size_ - node - kBlockHead)
                return corrupt(node, "a record is longer than the file");
            if (++steps > maxBlocks)
                return corrupt(node, "the links form a cycle");
        } else if (!readLinks(tail(), prev, next)) {
            return corrupt(tail(), "cannot read the tail of the list");
        }
        if (prev != from) {
            // Only one update is ever in flight, so at most one such place
            // can be mended; see the header for the two patterns.
            if (mended || !(pushStopped(from, prev, steps) || popStopped(from, node, prev)))
                return corrupt(node, "forward and backward links disagree");
            // Mended only once the whole list has proved sound.
            mended = true;
            mendAt = node;
            mendTo = from;
        }
        if (atTail)
            break;
        from = node;
        node = next;
    }
    if (mended) {
        if (!writeLink(mendAt, mendTo))
            return false;
        repaired_ = true;
    }
    headNext_ = first;
    tailPrev_ = from;
    return true;
}

bool CQueueFile::canChange()
{
    if (!valid_)
        return fail(QueueFileNotOpen, "queue file is not open");
    if (form_ != QueueHeaderForm::WithSignature)
        return fail(QueueFileReadOnly, "a queue file without signature is only read");
    return true;
}

bool CQueueFile::canAdd(const void* data, uint32_t length)
{
    if (!canChange())
        return false;
    if (data == nullptr && length != 0)
        return fail(QueueFileWriteFailed, "no data to add");
    if (endAfterFlush() + kBlockHead + length > kMaxFileSize)
        return fail(QueueFileTooLarge, "queue file " + path_ + " is full");
    keepRoom(endAfterFlush() + kBlockHead + length);
    return true;
}

void CQueueFile::keepRoom(uint64_t end)
{
    // The room is taken well ahead of the writes, so that a file system that
    // fills up refuses the room first, while what is pending (and what a
    // stop puts back) still fits in the room kept before.
    if (end + kRoomMargin <= reservedEnd_ || fd_ < 0)
        return;
    const uint64_t from = std::max<uint64_t>(reservedEnd_, size_);
    const uint64_t to = end + 2 * kRoomMargin;
    const int r = FileCalls::Current().Reserve(fd_, off_t(from), off_t(to - from));
    if (r == 0) {
        reservedEnd_ = to;
    } else if (IsStorageFailure(-r)) {
        if (spaceErrno_ == 0)
            spaceErrno_ = -r;
    } else {
        reservedEnd_ = std::numeric_limits<uint64_t>::max(); // the file system keeps no room ahead
    }
}

uint64_t CQueueFile::endAfterFlush() const
{
    // Pops that empty the list cut the file back to its header before the
    // pushes are appended.
    const uint64_t start = pendingPops_ != 0 && popFront_ == tail() ? headerSize() : size_;
    return start + (pushed_.size() - pushedStart_);
}

bool CQueueFile::insertBetween(uint32_t prev, uint32_t next, const void* data, uint32_t length)
{
    if (!canAdd(data, length))
        return false;
    const uint64_t at = size_;
    std::vector<uint8_t> block;
    try {
        block.resize(kBlockHead + size_t(length));
    } catch (const std::bad_alloc&) {
        return fail(QueueFileOutOfMemory, "out of memory");
    }
    putU32(block.data(), prev);
    putU32(block.data() + 4, next);
    putU32(block.data() + 8, length);
    if (length != 0)
        std::memcpy(block.data() + kBlockHead, data, length);
    const uint32_t b = uint32_t(at);
    // The block is complete before anything points at it; then the forward
    // link, then the backward one, so Open can tell how far a push got.
    bool ok = writeAt(at, block.data(), block.size());
    if (ok && prev == head() && next == tail()) {
        uint8_t links[8];
        putU32(links, b);
        putU32(links + 4, b);
        ok = writeAt(prev + 4, links, 8); // the two links are neighbours in the header
    } else if (ok) {
        ok = writeLink(prev + 4, b) && writeLink(next, b);
    }
    if (!ok) {
        valid_ = false;
        return false;
    }
    if (prev == head())
        headNext_ = b;
    if (next == tail())
        tailPrev_ = b;
    return true;
}

bool CQueueFile::PushFront(const void* data, uint32_t length)
{
    return Flush() && insertBetween(head(), headNext_, data, length);
}

bool CQueueFile::PushBack(const void* data, uint32_t length)
{
    if (writeBehind_)
        return pushBehind(data, length);
    return insertBetween(tailPrev_, tail(), data, length);
}

bool CQueueFile::pushBehind(const void* data, uint32_t length)
{
    if (!canAdd(data, length))
        return false;
    const size_t at = pushed_.size();
    try {
        pushed_.resize(at + kBlockHead + size_t(length));
    } catch (const std::bad_alloc&) {
        return fail(QueueFileOutOfMemory, "out of memory");
    }
    // The links are filled in by the flush, which knows where the block goes.
    putU32(pushed_.data() + at + 8, length);
    if (length != 0)
        std::memcpy(pushed_.data() + at + kBlockHead, data, length);
    // A page with a great many links must not hold them all in memory.
    if (pushed_.size() - pushedStart_ >= kMaxPendingBytes)
        return Flush();
    return true;
}

bool CQueueFile::readLinkedBlock(uint32_t offset, Block& block, std::vector<uint8_t>& data)
{
    if (!readBlock(offset, block, &data))
        return fail(QueueFileReadPastEnd, "cannot read a record of " + path_);
    if (!isNode(block.prev) || !isNode(block.next))
        return fail(QueueFileCorrupt, "queue file " + path_ + " has a record with broken links");
    return true;
}

std::optional<std::vector<uint8_t>> CQueueFile::remove(uint32_t offset)
{
    if (!canChange())
        return std::nullopt;
    if (isSentinel(offset))
        return std::nullopt;
    Block block;
    std::vector<uint8_t> data;
    if (!readLinkedBlock(offset, block, data))
        return std::nullopt;
    if (!writeLink(block.prev + 4, block.next) || !writeLink(block.next, block.prev)) {
        valid_ = false;
        return std::nullopt;
    }
    if (block.prev == head())
        headNext_ = block.next;
    if (block.next == tail())
        tailPrev_ = block.prev;
    if (headNext_ == tail() && !writeHeader())
        valid_ = false;
    return data;
}

std::optional<std::vector<uint8_t>> CQueueFile::PopFront()
{
    if (writeBehind_)
        return popBehind();
    return remove(headNext_);
}

std::optional<std::vector<uint8_t>> CQueueFile::PopBack()
{
    if (!Flush())
        return std::nullopt;
    return remove(tailPrev_);
}

std::optional<std::vector<uint8_t>> CQueueFile::popBehind()
{
    if (!canChange())
        return std::nullopt;
    const uint32_t offset = front();
    if (offset != tail()) {
        Block block;
        std::vector<uint8_t> data;
        if (!readLinkedBlock(offset, block, data))
            return std::nullopt;
        popFront_ = block.next;
        ++pendingPops_;
        return data;
    }
    if (!hasPendingPushes())
        return std::nullopt;
    // The file's list is used up: the oldest pending push goes straight out.
    const uint8_t* block = pushed_.data() + pushedStart_;
    const uint32_t length = getU32(block + 8);
    std::vector<uint8_t> data;
    try {
        data.assign(block + kBlockHead, block + kBlockHead + length);
    } catch (const std::bad_alloc&) {
        fail(QueueFileOutOfMemory, "out of memory");
        return std::nullopt;
    }
    pushedStart_ += kBlockHead + length;
    if (pushedStart_ == pushed_.size()) {
        pushed_.clear();
        pushedStart_ = 0;
    }
    return data;
}

void CQueueFile::SetWriteBehind(bool on)
{
    if (!on)
        Flush();
    writeBehind_ = on;
}

bool CQueueFile::Flush()
{
    if (!HasPendingWrites())
        return true;
    if (!valid_) {
        dropPending();
        return fail(QueueFileNotOpen, "queue file is not open");
    }
    // The pops first: they may empty the list and cut the file, and the
    // pushes then start a new list.
    if (flushPops() && flushPushes())
        return true;
    valid_ = false;
    dropPending();
    return false;
}

bool CQueueFile::flushPops()
{
    if (pendingPops_ == 0)
        return true;
    // As one pop at the front: the forward link, then the backward one. The
    // removed blocks keep their links, which lets Open finish an update
    // stopped between the two.
    const uint32_t newFront = popFront_;
    if (!writeLink(head() + 4, newFront) || !writeLink(newFront, head()))
        return false;
    pendingPops_ = 0;
    headNext_ = newFront;
    if (newFront == tail())
        return writeHeader();
    return true;
}

bool CQueueFile::flushPushes()
{
    if (!hasPendingPushes())
        return true;
    uint8_t* chain = pushed_.data() + pushedStart_;
    const size_t size = pushed_.size() - pushedStart_;
    const uint64_t at = size_;
    if (at + size > kMaxFileSize)
        return fail(QueueFileTooLarge, "queue file " + path_ + " is full");
    // Each block names its neighbours: the first one the old last node, the
    // last one the tail sentinel.
    const uint32_t before = tailPrev_;
    uint32_t prev = before;
    for (size_t i = 0; i < size;) {
        const size_t blockSize = kBlockHead + getU32(chain + i + 8);
        const uint32_t self = uint32_t(at + i);
        putU32(chain + i, prev);
        putU32(chain + i + 4, i + blockSize < size ? uint32_t(self + blockSize) : tail());
        prev = self;
        i += blockSize;
    }
    const uint32_t first = uint32_t(at);
    const uint32_t last = prev;
    // As one push at the back: the blocks before anything points at them,
    // then the forward link, then the backward one.
    bool ok = writeAt(at, chain, size);
    if (ok && before == head()) {
        uint8_t links[8];
        putU32(links, first);
        putU32(links + 4, last);
        ok = writeAt(head() + 4, links, 8); // head.next and tail.prev are neighbours
    } else if (ok) {
        ok = writeLink(before + 4, first) && writeLink(tail(), last);
    }
    if (!ok)
        return false;
    if (before == head())
        headNext_ = first;
    tailPrev_ = last;
    pushed_.clear();
    pushedStart_ = 0;
    return true;
}

void CQueueFile::dropPending()
{
    pendingPops_ = 0;
    popFront_ = 0;
    pushed_.clear();
    pushedStart_ = 0;
}

std::optional<std::vector<uint8_t>> CQueueFile::First(uint32_t& position)
{
    if (!Flush())
        return std::nullopt;
    if (!valid_ || headNext_ == tail())
        return std::nullopt;
    Block block;
    std::vector<uint8_t> data;
    if (!readBlock(headNext_, block, &data))
        return std::nullopt;
    position = headNext_;
    return data;
}

std::optional<std::vector<uint8_t>> CQueueFile::Next(uint32_t& position)
{
    if (!Flush() || !valid_)
        return std::nullopt;
    if (position == head())
        return First(position);
    if (!isBlockOffset(position))
        return std::nullopt;
    uint8_t b[4];
    if (!readAt(uint64_t(position) + 4, b, 4))
        return std::nullopt;
    const uint32_t next = getU32(b);
    if (isSentinel(next))
        return std::nullopt;
    Block block;
    std::vector<uint8_t> data;
    if (!readBlock(next, block, &data))
        return std::nullopt;
    position = next;
    return data;
}

std::optional<std::vector<uint8_t>> CQueueFile::Last()
{
    if (!Flush() || !valid_ || tailPrev_ == head())
        return std::nullopt;
    Block block;
    std::vector<uint8_t> data;
    if (!readBlock(tailPrev_, block, &data))
        return std::nullopt;
    return data;
}

bool CQueueFile::IsEmpty() const
{
    return !valid_ || (front() == tail() && !hasPendingPushes());
}

bool CQueueFile::Reset()
{
    dropPending();
    error_ = QueueFileOk;
    errorText_.clear();
    if (fd_ < 0) {
        if (path_.empty())
            return fail(QueueFileNotOpen, "queue file has no path");
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return fail(QueueFileCannotOpen, "cannot create queue file " + path_ + ": " + std::strerror(errno));
        fd_ = fd;
        size_ = 0;
        reservedEnd_ = 0;
    }
    spaceErrno_ = 0;
    writeErrno_ = 0;
    if (!writeHeader()) {
        closeFile();
        return false;
    }
    signature_ = form_ == QueueHeaderForm::WithSignature ? ownerSignature_ : 0;
    valid_ = true;
    return true;
}

} // namespace ormbrook
