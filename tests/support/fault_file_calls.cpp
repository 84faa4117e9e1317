#include "support/fault_file_calls.h"

#include <algorithm>
#include <unistd.h>

namespace ormbrook::test {

void FaultFileCalls::FailWrite(int n, int err, bool partial)
{
    std::lock_guard lock(mutex_);
    failAt_ = writes + n;
    failErrno_ = err;
    partial_ = partial;
}

void FaultFileCalls::FailAfterBytes(uint64_t bytes, int err)
{
    std::lock_guard lock(mutex_);
    limited_ = true;
    room_ = bytes;
    failErrno_ = err;
}

void FaultFileCalls::SetFlaky(unsigned seed, int percentFailing, bool shortWrites, int err)
{
    std::lock_guard lock(mutex_);
    random_.seed(seed);
    percentFailing_ = percentFailing;
    shortWrites_ = shortWrites;
    failErrno_ = err;
}

void FaultFileCalls::Clear()
{
    std::lock_guard lock(mutex_);
    failAt_ = -1;
    limited_ = false;
    percentFailing_ = 0;
    shortWrites_ = false;
}

namespace {

std::string PathOf(int fd)
{
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

} // namespace

ssize_t FaultFileCalls::Decide(int fd, size_t length)
{
    if (onWrite) {
        if (const std::optional<int> err = onWrite(PathOf(fd), length)) {
            std::lock_guard lock(mutex_);
            ++writes;
            ++failures;
            return -*err;
        }
    }
    std::lock_guard lock(mutex_);
    const int call = writes++;
    if (call == failAt_) {
        ++failures;
        // A failing write may have put some of its bytes in first; the call
        // that reports the error is then the next one.
        if (partial_ && length > 1) {
            failAt_ = writes;
            return static_cast<ssize_t>(length / 2);
        }
        return -failErrno_;
    }
    if (percentFailing_ > 0) {
        const int roll = static_cast<int>(random_() % 100);
        if (roll < percentFailing_) {
            ++failures;
            return -failErrno_;
        }
        if (shortWrites_ && roll < 2 * percentFailing_ && length > 1)
            return static_cast<ssize_t>(1 + random_() % (length - 1));
    }
    if (limited_) {
        uint64_t& reserved = reserved_[fd];
        const uint64_t available = reserved + room_;
        if (available == 0) {
            ++failures;
            return -failErrno_;
        }
        const size_t allowed = static_cast<size_t>(std::min<uint64_t>(available, length));
        const uint64_t fromReserved = std::min<uint64_t>(reserved, allowed);
        reserved -= fromReserved;
        room_ -= allowed - fromReserved;
        return static_cast<ssize_t>(allowed);
    }
    return static_cast<ssize_t>(length);
}

ssize_t FaultFileCalls::Write(int fd, const void* data, size_t length)
{
    const ssize_t allowed = Decide(fd, length);
    if (allowed < 0)
        return allowed;
    const ssize_t n = FileCalls::Write(fd, data, static_cast<size_t>(allowed));
    if (n > 0) {
        std::lock_guard lock(mutex_);
        written += static_cast<uint64_t>(n);
    }
    return n;
}

ssize_t FaultFileCalls::PWrite(int fd, const void* data, size_t length, off_t offset)
{
    const ssize_t allowed = Decide(fd, length);
    if (allowed < 0)
        return allowed;
    const ssize_t n = FileCalls::PWrite(fd, data, static_cast<size_t>(allowed), offset);
    if (n > 0) {
        std::lock_guard lock(mutex_);
        written += static_cast<uint64_t>(n);
    }
    return n;
}

int FaultFileCalls::Truncate(int fd, off_t length)
{
    return FileCalls::Truncate(fd, length);
}

int FaultFileCalls::Reserve(int fd, off_t offset, off_t length)
{
    {
        std::lock_guard lock(mutex_);
        // A full disk has no room to reserve either.
        if (limited_) {
            if (room_ < static_cast<uint64_t>(length)) {
                ++failures;
                return -failErrno_;
            }
            room_ -= static_cast<uint64_t>(length);
            reserved_[fd] += static_cast<uint64_t>(length);
        }
    }
    return FileCalls::Reserve(fd, offset, length);
}

int FaultFileCalls::Close(int fd)
{
    {
        std::lock_guard lock(mutex_);
        reserved_.erase(fd);
    }
    return FileCalls::Close(fd);
}

} // namespace ormbrook::test
