#pragma once
// A named lock between the programs of one user, in place of a named mutex:
// a lock file of that name in the runtime folder, held with flock. The
// system drops it when the holder ends, however it ends, so a crashed
// program never leaves its lock behind.

#include <string>

namespace ormbrook {

class NamedLock {
public:
    explicit NamedLock(std::string name);
    ~NamedLock();

    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Takes the lock without waiting. False when another holder has it, or
    // when the lock file can't be opened.
    bool TryAcquire();
    // Takes the lock, waiting up to `timeoutMs` for another holder to give
    // it back. For locks that are only held for short spells.
    bool Acquire(int timeoutMs);
    void Release();
    bool held() const { return fd_ >= 0; }

    // Whether some holder has the lock now (a zero wait: taken and given
    // back at once when it is free).
    static bool IsTaken(const std::string& name);

    const std::string& name() const { return name_; }
    // The lock file's path; empty when there is no runtime folder.
    static std::string PathOf(const std::string& name);

private:
    std::string name_;
    int fd_ = -1;
};

} // namespace ormbrook
