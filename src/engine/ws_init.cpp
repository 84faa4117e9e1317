#include "engine/ws_init.h"

#include "platform/ws_error.h"

#include <sys/epoll.h>
#include <unistd.h>

namespace ormbrook {

CWSInit::CWSInit()
{
    // The layer needs an epoll instance to hear from its sockets; a process
    // that cannot have one has no usable network interface.
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) {
        startUpError_ = WsaTooManyOpen;
        return;
    }
    ::close(fd);
    versionMajor_ = 1;
    versionMinor_ = 1;
    startedUp_ = true;
}

} // namespace ormbrook
