#pragma once
// The event loop of a busy worker thread, on one epoll instance. It does what
// Qt's own loop does for posted events, socket notifiers and timers, with
// fewer system calls per turn: one epoll_wait instead of a poll of every
// descriptor, and no write to the wake-up descriptor when the thread posts to
// itself (only another thread's post has to wake a sleeping loop).
//
// Install it with QThread::setEventDispatcher before the thread starts, once
// usable() says the kernel gave it its descriptors.

#include <QAbstractEventDispatcher>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace ormbrook {

class EpollEventDispatcher final : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    bool usable() const { return usable_; }

    // Lets one client of this thread put its own descriptors in the loop's
    // epoll set, so that the loop waits once for both. The client adds them
    // to the returned epoll instance itself, with a nonzero upper half in
    // data.u64 (the loop's own entries have zero there), and their readiness
    // goes to handler. Returns -1 when another client shares it already.
    using SharedHandler = void (*)(void* context, uint64_t data, uint32_t events);
    int ShareEpoll(SharedHandler handler, void* context);
    // The client is gone: entries it left behind are dropped when they fire.
    void StopSharing();

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;
    void startingUp() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Watched {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
    };
    struct Timer {
        int id;
        qint64 interval;
        Qt::TimerType type;
        QObject* object;
        Clock::time_point due;
        bool inEvent = false; // its timer event is running (a nested loop must not fire it again)
    };

    void UpdateWatch(int fd, const Watched& watched, bool known);
    void Activate(int fd, uint32_t events);
    // Milliseconds until the next timer is due: 0 when one is, -1 when none.
    int NextTimerWait() const;
    int FireDueTimers();
    Timer* FindTimer(int timerId);

    bool usable_ = false;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    // Set by every wake-up until the loop takes posted events again; only a
    // wake-up from another thread that finds it clear writes to wakeFd_.
    std::atomic<bool> wakeUpPending_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<Qt::HANDLE> ownThread_{nullptr};
    std::unordered_map<int, Watched> watched_;
    std::vector<Timer> timers_;
    SharedHandler sharedHandler_ = nullptr;
    void* sharedContext_ = nullptr;
};

} // namespace ormbrook
