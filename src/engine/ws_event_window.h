#pragma once
// The one place where socket readiness and lookup answers arrive on the
// engine thread. Sockets are watched by one epoll instance whose descriptor
// Qt's loop watches; each wake-up hands the ready sockets, one at a time and
// in order, to the objects the registry names for them.

#include "engine/ws_registry.h"
#include "platform/message_target.h"

#include <QSocketNotifier>

#include <memory>
#include <unordered_map>

namespace ormbrook {

class EpollEventDispatcher;

class WSEventWindow : public MessageTarget {
    Q_OBJECT
public:
    // The window of this process, or nothing before CreateEventWindow.
    static WSEventWindow* Current();
    // Creates the window on the calling thread. Fails when one exists or the
    // kernel refuses the epoll instance.
    static bool CreateEventWindow();
    static void DestroyEventWindow();

    ~WSEventWindow() override;

    // Watches `fd` for `events` (epoll bits; level-triggered). Watching again
    // changes the set. Readiness seen before a change or for an earlier
    // descriptor of the same number is never delivered to the new one.
    bool Watch(int fd, uint32_t events);
    void Unwatch(int fd);
    // The same for a socket that is about to be closed: closing takes it out
    // of the epoll set, so only the book-keeping goes.
    void ForgetClosing(int fd);
    // The events `fd` is watched for, or -1 when it is not watched.
    int64_t WatchedEvents(int fd) const;

    // Lookup answers come here (on this thread) and go to the task's object.
    void DeliverLookupAnswer(int task, const LookupAnswer& answer);

private:
    explicit WSEventWindow(int epollFd);
    // Shares the loop's epoll set (epollFd_ is -1 when the loop refuses).
    explicit WSEventWindow(EpollEventDispatcher* loop);
    void OnReady();
    static void OnShared(void* window, uint64_t data, uint32_t events);
    void Deliver(uint64_t data, uint32_t events);

    struct Watched {
        uint32_t events;
        uint32_t serial;
    };
    int epollFd_;
    EpollEventDispatcher* loop_ = nullptr; // set when the loop's epoll set is shared
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unordered_map<int, Watched> watched_;
    uint32_t nextSerial_ = 1;
};

} // namespace ormbrook
