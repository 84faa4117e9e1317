#include "platform/epoll_event_dispatcher.h"

#include <gtest/gtest.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <atomic>
#include <future>
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
