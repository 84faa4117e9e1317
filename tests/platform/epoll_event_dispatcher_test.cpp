#include "platform/epoll_event_dispatcher.h"

#include <gtest/gtest.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <atomic>
#include <future>
#include <vector>
#include <sys/epoll.h>
#include <unistd.h>

using namespace ormbrook;

namespace {

// A thread running its loop on the dispatcher, and an object living there to
// run code on it.
class LoopThread {
public:
    LoopThread()
    {
        auto* dispatcher = new EpollEventDispatcher;
        EXPECT_TRUE(dispatcher->usable());
        thread_.setEventDispatcher(dispatcher);
        context_.moveToThread(&thread_);
        thread_.start();
    }
    ~LoopThread()
    {
        thread_.quit();
        thread_.wait();
    }

    // Runs fn on the thread and waits for the value it sets (or gives up).
    template <typename T, typename Fn> std::optional<T> Run(Fn fn)
    {
        auto promise = std::make_shared<std::promise<T>>();
        std::future<T> future = promise->get_future();
        QMetaObject::invokeMethod(&context_, [fn, promise] { fn(promise); }, Qt::QueuedConnection);
        if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
            return std::nullopt;
        return future.get();
    }

    QObject& context() { return context_; }

private:
    QThread thread_;
    QObject context_;
};

// Counts timer events and does what a row asks of it on each.
class TimerCounter : public QObject {
public:
    std::function<void(TimerCounter&, int)> onTimer;
    int count = 0;

protected:
    void timerEvent(QTimerEvent* e) override
    {
        ++count;
        if (onTimer)
            onTimer(*this, e->timerId());
    }
};

} // namespace

// Posts from other threads wake a sleeping loop; posts the thread makes to
// itself keep it going without any outside help.
TEST(EpollEventDispatcher, PostedEventsWakeTheLoopFromAnyThread)
{
    LoopThread loop;
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(loop.Run<int>([i](auto p) { p->set_value(i); }), i);

    auto chained = loop.Run<int>([&loop](auto p) {
        auto left = std::make_shared<std::function<void(int)>>();
        *left = [&loop, p, left](int n) {
            if (n == 0) {
                p->set_value(1000);
                *left = nullptr; // breaks the cycle
                return;
            }
            QMetaObject::invokeMethod(&loop.context(), [left, n] { (*left)(n - 1); }, Qt::QueuedConnection);
        };
        (*left)(1000);
    });
    EXPECT_EQ(chained, 1000);
}

TEST(EpollEventDispatcher, TimersFireAndStopAsAsked)
{
    const struct {
        const char* name;
        int interval;
        int stopAfter; // events before the timer is killed
    } rows[] = {
        {"zero interval, many times", 0, 200},
        {"short interval", 2, 5},
        {"single event", 1, 1},
    };
    LoopThread loop;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto counted = loop.Run<int>([&row](auto p) {
            auto* counter = new TimerCounter;
            counter->onTimer = [&row, p](TimerCounter& c, int id) {
                if (c.count == row.stopAfter) {
                    c.killTimer(id);
                    // Anything still due would come within a few turns.
                    QTimer::singleShot(20, &c, [&c, p] {
                        p->set_value(c.count);
                        c.deleteLater();
                    });
                }
            };
            counter->startTimer(row.interval);
        });
        EXPECT_EQ(counted, row.stopAfter);
    }
}

// A timer stopped by another timer's event in the same turn does not fire,
// and a timer can be restarted from its own event.
TEST(EpollEventDispatcher, TimersStoppedOrRestartedFromTimerEvents)
{
    LoopThread loop;
    auto result = loop.Run<std::string>([](auto p) {
        auto* a = new TimerCounter;
        auto* b = new TimerCounter;
        auto bId = std::make_shared<int>(0);
        a->onTimer = [b, bId](TimerCounter& self, int id) {
            self.killTimer(id);
            if (self.count == 1)
                b->killTimer(*bId);
            if (self.count < 3)
                self.startTimer(0);
        };
        // Both are due in the first turn, a first.
        a->startTimer(0);
        *bId = b->startTimer(0);
        QTimer::singleShot(50, a, [a, b, p] {
            p->set_value(std::to_string(a->count) + " " + std::to_string(b->count));
            delete b;
            a->deleteLater();
        });
    });
    EXPECT_EQ(result, "3 0");
}

TEST(EpollEventDispatcher, SocketNotifiersActivateUntilDisabledOrDeleted)
{
    LoopThread loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    auto result = loop.Run<int>([fds](auto p) {
        auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read);
        auto reads = std::make_shared<int>(0);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [=] {
            char c;
            if (::read(fds[0], &c, 1) != 1)
                return;
            ++*reads;
            if (c == 'd') {
                notifier->setEnabled(false);
                // Not read while disabled; then the notifier goes.
                (void)!::write(fds[1], "x", 1);
                QTimer::singleShot(20, notifier, [=] {
                    notifier->setEnabled(true);
                });
            } else if (c == 'x') {
                notifier->deleteLater();
                p->set_value(*reads);
            } else {
                (void)!::write(fds[1], *reads < 3 ? "a" : "d", 1);
            }
        });
        (void)!::write(fds[1], "a", 1);
    });
    EXPECT_EQ(result, 5); // a a a d x
    ::close(fds[0]);
    ::close(fds[1]);
}

// A client sharing the loop's epoll set hears of its own descriptors through
// its handler, with the data it gave them, while the loop's notifiers go on
// as before; once it stops sharing, what it left in the set is dropped.
TEST(EpollEventDispatcher, ASharedEpollSetDeliversEachOwnersReadiness)
{
    LoopThread loop;
    int mine[2];
    int loops[2];
    ASSERT_EQ(::pipe(mine), 0);
    ASSERT_EQ(::pipe(loops), 0);
    struct Heard {
        std::vector<uint64_t> data;
        int notifierReads = 0;
    };
    auto result = loop.Run<Heard>([&mine, &loops](auto p) {
        auto* dispatcher = qobject_cast<EpollEventDispatcher*>(QThread::currentThread()->eventDispatcher());
        auto heard = std::make_shared<Heard>();
        const auto handler = [](void* context, uint64_t data, uint32_t events) {
            auto* h = static_cast<Heard*>(context);
            if (events & EPOLLIN) {
                char c;
                (void)!::read(int(uint32_t(data)), &c, 1);
                h->data.push_back(data);
            }
        };
        const int epollFd = dispatcher->ShareEpoll(handler, heard.get());
        EXPECT_GE(epollFd, 0);
        EXPECT_EQ(dispatcher->ShareEpoll(handler, heard.get()), -1) << "one client at a time";
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = (uint64_t(7) << 32) | uint32_t(mine[0]);
        EXPECT_EQ(::epoll_ctl(epollFd, EPOLL_CTL_ADD, mine[0], &ev), 0);
        auto* notifier = new QSocketNotifier(loops[0], QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [=] {
            char c;
            (void)!::read(loops[0], &c, 1);
            ++heard->notifierReads;
            if (c == 's') {
                // Stop sharing with the client's entry still in the set and
                // readable: the loop drops it instead of spinning on it.
                dispatcher->StopSharing();
                (void)!::write(mine[1], "z", 1);
                QTimer::singleShot(50, notifier, [=] {
                    EXPECT_NE(::epoll_ctl(epollFd, EPOLL_CTL_DEL, mine[0], nullptr), 0) << "taken out already";
                    notifier->deleteLater();
                    p->set_value(*heard);
                });
            }
        });
        (void)!::write(mine[1], "a", 1);
        (void)!::write(loops[1], "b", 1);
        QTimer::singleShot(50, notifier, [=] {
            (void)!::write(mine[1], "c", 1);
            (void)!::write(loops[1], "s", 1);
        });
    });
    ASSERT_TRUE(result.has_value());
    const uint64_t tagged = (uint64_t(7) << 32) | uint32_t(mine[0]);
    EXPECT_EQ(result->data, (std::vector<uint64_t>{tagged, tagged}));
    EXPECT_EQ(result->notifierReads, 2);
    for (int fd : {mine[0], mine[1], loops[0], loops[1]})
        ::close(fd);
}
