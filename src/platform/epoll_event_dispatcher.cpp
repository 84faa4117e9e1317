#include "platform/epoll_event_dispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ormbrook {

EpollEventDispatcher::EpollEventDispatcher(QObject* parent) : QAbstractEventDispatcher(parent)
{
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wakeFd_;
    usable_ = epollFd_ >= 0 && wakeFd_ >= 0 && ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) == 0;
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (epollFd_ >= 0)
        ::close(epollFd_);
}

void EpollEventDispatcher::startingUp()
{
    ownThread_.store(QThread::currentThreadId());
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted_.store(false);
    Q_EMIT awake();
    // Cleared before the posted events are taken: whatever is posted from
    // here on sets it again, and the loop then does not sleep.
    wakeUpPending_.store(false);
    QCoreApplication::sendPostedEvents();

    const bool includeTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool includeNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    bool canWait = (flags & QEventLoop::WaitForMoreEvents) && !interrupted_.load() && !wakeUpPending_.load();
    if (canWait) {
        Q_EMIT aboutToBlock();
        canWait = !interrupted_.load() && !wakeUpPending_.load();
    }
    if (interrupted_.load())
        return false;

    const int timeout = !canWait ? 0 : includeTimers ? NextTimerWait() : -1;
    epoll_event events[64];
    int n = ::epoll_wait(epollFd_, events, 64, timeout);
    if (n < 0)
        n = 0; // a signal; the caller's loop comes round again
    int handled = 0;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.u64 >> 32) {
            if (!includeNotifiers)
                continue;
            if (sharedHandler_) {
                sharedHandler_(sharedContext_, events[i].data.u64, events[i].events);
                ++handled;
            } else {
                ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, int(uint32_t(events[i].data.u64)), nullptr);
            }
            continue;
        }
        const int fd = events[i].data.fd;
        if (fd == wakeFd_) {
            eventfd_t count;
            ::eventfd_read(wakeFd_, &count);
            continue;
        }
        if (includeNotifiers) {
            Activate(fd, events[i].events);
            ++handled;
        }
    }
    if (includeTimers)
        handled += FireDueTimers();
    return handled > 0;
}

int EpollEventDispatcher::ShareEpoll(SharedHandler handler, void* context)
{
    if (sharedHandler_ || !handler)
        return -1;
    sharedHandler_ = handler;
    sharedContext_ = context;
    return epollFd_;
}

void EpollEventDispatcher::StopSharing()
{
    sharedHandler_ = nullptr;
    sharedContext_ = nullptr;
}

void EpollEventDispatcher::Activate(int fd, uint32_t events)
{
    // A notifier's handler may remove or replace any notifier, this
    // descriptor's included, so each one is looked up afresh.
    auto send = [this, fd](QSocketNotifier* Watched::*which) {
        auto it = watched_.find(fd);
        if (it == watched_.end() || !(it->second.*which))
            return;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(it->second.*which, &event);
    };
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        send(&Watched::read);
    if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR))
        send(&Watched::write);
    if (events & EPOLLPRI)
        send(&Watched::exception);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = int(notifier->socket());
    auto [it, added] = watched_.try_emplace(fd);
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        it->second.read = notifier;
        break;
    case QSocketNotifier::Write:
        it->second.write = notifier;
        break;
    case QSocketNotifier::Exception:
        it->second.exception = notifier;
        break;
    }
    UpdateWatch(fd, it->second, !added);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier)
{
    auto it = watched_.find(int(notifier->socket()));
    if (it == watched_.end())
        return;
    for (QSocketNotifier** slot : {&it->second.read, &it->second.write, &it->second.exception})
        if (*slot == notifier)
            *slot = nullptr;
    UpdateWatch(it->first, it->second, true);
}

void EpollEventDispatcher::UpdateWatch(int fd, const Watched& watched, bool known)
{
    epoll_event ev{};
    ev.events = (watched.read ? uint32_t(EPOLLIN) : 0u) | (watched.write ? uint32_t(EPOLLOUT) : 0u)
              | (watched.exception ? uint32_t(EPOLLPRI) : 0u);
    ev.data.fd = fd;
    if (ev.events == 0) {
        // A descriptor closed before its notifier went is out of the set already.
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
        watched_.erase(fd);
        return;
    }
    if (::epoll_ctl(epollFd_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) != 0 && errno == ENOENT)
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev); // the descriptor number was closed and reused
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object)
{
    const qint64 ms = interval < 0 ? 0 : interval;
    timers_.push_back(Timer{timerId, ms, timerType, object, Clock::now() + std::chrono::milliseconds(ms)});
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->id == timerId) {
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object)
{
    const auto before = timers_.size();
    std::erase_if(timers_, [object](const Timer& t) { return t.object == object; });
    return timers_.size() != before;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject* object) const
{
    QList<TimerInfo> list;
    for (const Timer& t : timers_)
        if (t.object == object)
            list.append(TimerInfo(t.id, int(t.interval), t.type));
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    const Timer* t = FindTimer(timerId);
    if (!t)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t->due - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

EpollEventDispatcher::Timer* EpollEventDispatcher::FindTimer(int timerId)
{
    for (Timer& t : timers_)
        if (t.id == timerId)
            return &t;
    return nullptr;
}

int EpollEventDispatcher::NextTimerWait() const
{
    const auto now = Clock::now();
    int64_t wait = -1;
    for (const Timer& t : timers_) {
        if (t.inEvent)
            continue;
        const int64_t ms = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
        if (ms <= 0)
            return 0;
        if (wait < 0 || ms < wait)
            wait = ms;
    }
    return wait > INT32_MAX ? INT32_MAX : int(wait);
}

int EpollEventDispatcher::FireDueTimers()
{
    // Only timers due now fire in this turn, each once; their handlers may
    // add, stop or restart any timer.
    const auto now = Clock::now();
    std::vector<int> due;
    for (const Timer& t : timers_)
        if (!t.inEvent && t.due <= now)
            due.push_back(t.id);
    int fired = 0;
    for (int id : due) {
        Timer* t = FindTimer(id);
        if (!t || t->inEvent)
            continue;
        const auto interval = std::chrono::milliseconds(t->interval);
        t->due += interval;
        if (t->due < now)
            t->due = now + interval; // a loop that was held up does not fire in a burst
        t->inEvent = true;
        QObject* object = t->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        if ((t = FindTimer(id)))
            t->inEvent = false;
        ++fired;
    }
    return fired;
}

void EpollEventDispatcher::wakeUp()
{
    if (wakeUpPending_.exchange(true))
        return;
    // The loop's own thread is awake: it looks at the flag before it sleeps.
    if (QThread::currentThreadId() == ownThread_.load())
        return;
    ::eventfd_write(wakeFd_, 1);
}

void EpollEventDispatcher::interrupt()
{
    interrupted_.store(true);
    wakeUpPending_.store(true);
    if (QThread::currentThreadId() != ownThread_.load())
        ::eventfd_write(wakeFd_, 1);
}

} // namespace ormbrook
