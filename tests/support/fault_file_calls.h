#pragma once
// A file-call table for tests: writes fail where a full disk would make
// them fail.
//
//   FaultFileCalls files;
//   files.FailAfterBytes(4096);   // the disk holds 4 KB more, then ENOSPC
//   ScopedFileCalls use(files);

#include "platform/file_calls.h"

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <map>
#include <mutex>
#include <random>

namespace ormbrook::test {

class FaultFileCalls : public FileCalls {
public:
    // The n-th write from now (0 the next one) fails with err; 0 or more
    // bytes of it reach the file first when `partial` is set.
    void FailWrite(int n, int err = ENOSPC, bool partial = false);
    // Once `bytes` more bytes were written, every write fails with err; the
    // write that reaches the limit comes back short. A reservation takes its
    // bytes from the same room (and fails when they are not there); writes
    // to that file use what it reserved first.
    void FailAfterBytes(uint64_t bytes, int err = ENOSPC);
    // Seeded: a share (0..100) of writes fails with err, and with
    // shortWrites another share comes back short.
    void SetFlaky(unsigned seed, int percentFailing, bool shortWrites, int err = ENOSPC);
    // Every knob off.
    void Clear();
    // Called before each write with the path of its file; an errno returned
    // fails that write.
    std::function<std::optional<int>(const std::string& path, size_t length)> onWrite;

    ssize_t Write(int fd, const void* data, size_t length) override;
    ssize_t PWrite(int fd, const void* data, size_t length, off_t offset) override;
    int Truncate(int fd, off_t length) override;
    int Reserve(int fd, off_t offset, off_t length) override;
    int Close(int fd) override;

    // What went through: write calls, bytes written, and failures made.
    int writes = 0;
    uint64_t written = 0;
    int failures = 0;

private:
    // How much of a write of `length` bytes may go through (length: all of
    // it), or -errno.
    ssize_t Decide(int fd, size_t length);

    std::mutex mutex_;
    int failAt_ = -1;
    int failErrno_ = ENOSPC;
    bool partial_ = false;
    bool limited_ = false;
    uint64_t room_ = 0;
    std::map<int, uint64_t> reserved_;
    int percentFailing_ = 0;
    bool shortWrites_ = false;
    std::mt19937 random_;
};

} // namespace ormbrook::test
