#include "engine/ws_event_window.h"

#include "platform/epoll_event_dispatcher.h"

#include <QThread>

#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>

namespace ormbrook {

namespace {
std::atomic<WSEventWindow*> g_window{nullptr};
}

WSEventWindow* WSEventWindow::Current() { return g_window.load(); }

bool WSEventWindow::CreateEventWindow()
{
    if (g_window.load())
        return false;
    // On a thread run by our own loop the sockets go into the loop's epoll
    // set, which then waits for everything at once; elsewhere they have an
    // epoll set of their own, which the loop watches.
    if (auto* loop = qobject_cast<EpollEventDispatcher*>(QThread::currentThread()->eventDispatcher())) {
        auto* window = new WSEventWindow(loop);
        if (window->epollFd_ >= 0) {
            g_window.store(window);
            return true;
        }
        delete window;
    }
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        return false;
    g_window.store(new WSEventWindow(fd));
    return true;
}

void WSEventWindow::DestroyEventWindow() { delete g_window.exchange(nullptr); }

WSEventWindow::WSEventWindow(int epollFd)
    : epollFd_(epollFd), notifier_(std::make_unique<QSocketNotifier>(epollFd, QSocketNotifier::Read))
{
    connect(notifier_.get(), &QSocketNotifier::activated, this, &WSEventWindow::OnReady);
}

WSEventWindow::WSEventWindow(EpollEventDispatcher* loop)
    : epollFd_(loop->ShareEpoll(&WSEventWindow::OnShared, this)), loop_(loop)
{
}

WSEventWindow::~WSEventWindow()
{
    if (loop_) {
        if (epollFd_ >= 0) {
            for (const auto& [fd, watched] : watched_)
                ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
            loop_->StopSharing();
        }
    } else {
        notifier_.reset();
        ::close(epollFd_);
    }
    WSEventWindow* self = this;
    g_window.compare_exchange_strong(self, nullptr);
}

void WSEventWindow::OnShared(void* window, uint64_t data, uint32_t events)
{
    static_cast<WSEventWindow*>(window)->Deliver(data, events);
}

bool WSEventWindow::Watch(int fd, uint32_t events)
{
    // Every change gets a new serial: readiness already collected under the
    // old set is recognised as stale and dropped. Serials are never 0, which
    // marks the loop's own entries in a shared epoll set.
    const uint32_t serial = nextSerial_++;
    if (nextSerial_ == 0)
        nextSerial_ = 1;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = (uint64_t(serial) << 32) | uint32_t(fd);
    auto it = watched_.find(fd);
    const int op = it == watched_.end() ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(epollFd_, op, fd, &ev) < 0)
        return false;
    watched_[fd] = Watched{events, serial};
    return true;
}

void WSEventWindow::Unwatch(int fd)
{
    auto it = watched_.find(fd);
    if (it == watched_.end())
        return;
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    watched_.erase(it);
}

void WSEventWindow::ForgetClosing(int fd) { watched_.erase(fd); }

int64_t WSEventWindow::WatchedEvents(int fd) const
{
    auto it = watched_.find(fd);
    return it == watched_.end() ? -1 : int64_t(it->second.events);
}

void WSEventWindow::OnReady()
{
    epoll_event events[32];
    const int n = ::epoll_wait(epollFd_, events, 32, 0);
    for (int i = 0; i < n; ++i)
        Deliver(events[i].data.u64, events[i].events);
}

void WSEventWindow::Deliver(uint64_t data, uint32_t events)
{
    const int fd = int(uint32_t(data));
    const uint32_t serial = uint32_t(data >> 32);
    // An earlier handler may have closed this socket, reopened the number
    // or changed what it waits for.
    auto it = watched_.find(fd);
    if (it == watched_.end() || it->second.serial != serial)
        return;
    if (WSEventTarget* target = SocketRegistry::Instance().Find(fd, WSKindSocket))
        target->OnSocketReady(events);
}

void WSEventWindow::DeliverLookupAnswer(int task, const LookupAnswer& answer)
{
    if (WSEventTarget* target = SocketRegistry::Instance().Find(task, WSKindLookup))
        target->OnLookupAnswer(answer);
}

} // namespace ormbrook
