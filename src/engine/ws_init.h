#pragma once
// Start-up record of the socket interface. POSIX sockets need no start-up
// call; the record stays so that the engine thread keeps one condition for
// starting, and a port to a system that needs one has its place.

namespace ormbrook {

class CWSInit {
public:
    CWSInit();

    int versionMajor() const { return versionMajor_; }
    int versionMinor() const { return versionMinor_; }
    // 0 when the interface is usable.
    int startUpError() const { return startUpError_; }
    bool startedUp() const { return startedUp_; }

private:
    int versionMajor_ = 0;
    int versionMinor_ = 0;
    int startUpError_ = 0;
    bool startedUp_ = false;
};

} // namespace ormbrook
