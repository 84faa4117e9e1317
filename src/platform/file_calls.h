#pragma once
// Every write the program makes to a file goes through this table, so that
// tests can make writes fail or come back short exactly where a full disk,
// a quota or a read-only file system would, without faking anything above
// this line (as SysCalls does for sockets).

#include <string>
#include <sys/types.h>

namespace ormbrook {

// Every call returns its result, or -errno on failure.
class FileCalls {
public:
    virtual ~FileCalls() = default;

    virtual ssize_t Write(int fd, const void* data, size_t length);
    virtual ssize_t PWrite(int fd, const void* data, size_t length, off_t offset);
    virtual int Truncate(int fd, off_t length);
    // Reserves room for the range without changing the file's size.
    virtual int Reserve(int fd, off_t offset, off_t length);
    // A write that a file system refuses only at the end (NFS, some
    // quotas) shows here.
    virtual int Close(int fd);

    // The table in force (the kernel's unless a ScopedFileCalls says otherwise).
    static FileCalls& Current();

private:
    friend class ScopedFileCalls;
    static FileCalls* current_;
};

// Puts `calls` in force for its lifetime. Only for tests; set it before the
// threads that write start.
class ScopedFileCalls {
public:
    explicit ScopedFileCalls(FileCalls& calls);
    ~ScopedFileCalls();
    ScopedFileCalls(const ScopedFileCalls&) = delete;
    ScopedFileCalls& operator=(const ScopedFileCalls&) = delete;

private:
    FileCalls* previous_;
};

// Writes all of data through the table in force, going on after a short
// count or EINTR. 0 when everything was written, else the errno of the
// failure (ENOSPC for a write that could make no progress).
int WriteFully(int fd, const void* data, size_t length);
int PWriteFully(int fd, const void* data, size_t length, off_t offset);

// A failure that says the file system can take no more (no space, quota,
// read-only, I/O error), as opposed to one of this file alone (a name too
// long, a file too large): a crawl that meets one stops.
bool IsStorageFailure(int err);

// "cannot write PATH: REASON" with the system's text for err.
std::string WriteFailureText(const std::string& path, int err);

} // namespace ormbrook
