#include "platform/message_target.h"
#include "platform/message_thread.h"
#include "support/event_loop.h"

#include <gtest/gtest.h>

#include <QSemaphore>
#include <QThread>

#include <atomic>

using namespace ormbrook;
using ormbrook::test::RunUntil;

namespace {

std::atomic<int> g_recordsAlive{0};

struct CountedRecord : MessageRecord {
    explicit CountedRecord(int v) : value(v) { ++g_recordsAlive; }
    ~CountedRecord() override { --g_recordsAlive; }
    int value;
};

class Recorder : public MessageTarget {
public:
    struct Got {
        uint32_t message;
        uintptr_t wParam;
        int value;
        Qt::HANDLE thread;
    };
    std::vector<Got> got;
    std::vector<int> timers;

    using MessageTarget::KillTimer;
    using MessageTarget::SetTimer;

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override
    {
        auto* r = dynamic_cast<CountedRecord*>(record.get());
        got.push_back({message, wParam, r ? r->value : -1, QThread::currentThreadId()});
    }
    void OnTimer(int id) override { timers.push_back(id); }
};

} // namespace

TEST(PostedMessage, ArrivesInOrderWithItsRecordAndFreesIt)
{
    Recorder r;
    PostMessage(&r, 1030, 7, std::make_unique<CountedRecord>(42));
    PostMessage(&r, 1031, 8);
    ASSERT_TRUE(RunUntil([&] { return r.got.size() == 2; }));
    EXPECT_EQ(r.got[0].message, 1030u);
    EXPECT_EQ(r.got[0].wParam, 7u);
    EXPECT_EQ(r.got[0].value, 42);
    EXPECT_EQ(r.got[1].message, 1031u);
    EXPECT_EQ(r.got[1].value, -1);
    EXPECT_EQ(g_recordsAlive.load(), 0);
}

// Both ways a receiver can be gone: before the post, and between the post and
// its delivery. Neither may crash, and neither may leak the record.
TEST(PostedMessage, ToAVanishedReceiverIsDroppedAndFreed)
{
    QPointer<QObject> gone;
    {
        Recorder r;
        gone = &r;
    }
    EXPECT_FALSE(PostMessage(gone, 1030, 0, std::make_unique<CountedRecord>(1)));
    EXPECT_EQ(g_recordsAlive.load(), 0);

    auto* r = new Recorder;
    EXPECT_TRUE(PostMessage(r, 1030, 0, std::make_unique<CountedRecord>(2)));
    EXPECT_EQ(g_recordsAlive.load(), 1);
    delete r;
    EXPECT_EQ(g_recordsAlive.load(), 0);
}

TEST(MessageTarget, TimersFireByIdUntilKilled)
{
    Recorder r;
    r.SetTimer(4, 5);
    r.SetTimer(6, 5);
    ASSERT_TRUE(RunUntil([&] { return r.timers.size() >= 4; }));
    EXPECT_TRUE(r.KillTimer(4));
    EXPECT_FALSE(r.KillTimer(4)) << "a killed timer is no longer running";
    r.timers.clear();
    ASSERT_TRUE(RunUntil([&] { return r.timers.size() >= 3; }));
    for (int id : r.timers)
        EXPECT_EQ(id, 6);
}

namespace {
class EchoThread : public MessageThread {
public:
    EchoThread() : MessageThread(1055) {}
    ~EchoThread() override
    {
        if (isRunning()) {
            Post(1055);
            wait();
        }
    }
    bool failStartUp = false;
    std::atomic<int> handled{0};
    std::atomic<bool> onThread{true};
    std::atomic<bool> shutDown{false};

protected:
    bool StartUp() override { return !failStartUp; }
    void ShutDown() override { shutDown = true; }
    void OnMessage(uint32_t, uintptr_t, std::unique_ptr<MessageRecord>) override
    {
        if (QThread::currentThread() != this)
            onThread = false;
        ++handled;
    }
};
} // namespace

TEST(MessageThread, HandlesMessagesOnItsOwnThreadAndEndsOnQuit)
{
    EchoThread t;
    ASSERT_TRUE(t.Start());
    for (int i = 0; i < 10; ++i)
        t.Post(1040, i, std::make_unique<CountedRecord>(i));
    t.Post(1055);
    t.Wait();
    EXPECT_EQ(t.handled.load(), 10);
    EXPECT_TRUE(t.onThread.load());
    EXPECT_TRUE(t.shutDown.load());
    EXPECT_EQ(g_recordsAlive.load(), 0);
    EXPECT_FALSE(t.Post(1040, 0, std::make_unique<CountedRecord>(0))) << "an ended thread takes no messages";
    EXPECT_EQ(g_recordsAlive.load(), 0);
}

TEST(MessageThread, FailedStartUpEndsTheThread)
{
    EchoThread t;
    t.failStartUp = true;
    EXPECT_FALSE(t.Start());
    EXPECT_FALSE(t.isRunning());
    EXPECT_FALSE(t.Post(1040));
}

namespace {
// A worker that reports to the main thread through its outbox: on message
// 1041 it sends `wParam` reports (with records) to each receiver, one
// receiver after the other.
class ReportingThread : public MessageThread {
public:
    ReportingThread() : MessageThread(1055) {}
    ~ReportingThread() override
    {
        if (isRunning()) {
            Post(1055);
            wait();
        }
    }
    std::vector<QPointer<QObject>> receivers;

protected:
    bool StartUp() override { return MessageOutbox::EnableForThisThread(); }
    void ShutDown() override { MessageOutbox::DisableForThisThread(); }
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord>) override
    {
        if (message != 1041)
            return;
        for (auto& receiver : receivers)
            for (int i = 0; i < static_cast<int>(wParam); ++i)
                PostMessage(receiver, 1030, static_cast<uintptr_t>(i), std::make_unique<CountedRecord>(i));
        if (flushEachRound) {
            MessageOutbox::Flush();
            flushed.release();
        }
    }

public:
    // With flushEachRound, released once a round of reports is all posted
    // to the receivers' thread; without, the reports wait in the outbox.
    std::atomic<bool> flushEachRound{true};
    QSemaphore flushed;
};

class CountingRecorder : public Recorder {
public:
    int events = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == PostedBatch::EventType() || e->type() == PostedMessage::EventType())
            ++events;
        return Recorder::event(e);
    }
};
} // namespace

// Reports from a thread with an outbox arrive complete and in order, for
// each receiver, in far fewer events than messages; a receiver that is gone
// before delivery frees what was meant for it; what is still collected when
// the thread ends is delivered.
TEST(MessageOutbox, DeliversReportsInOrderInBatches)
{
    CountingRecorder first;
    CountingRecorder second;
    auto* vanishing = new CountingRecorder;
    ReportingThread t;
    t.receivers = {&first, &second, vanishing};
    ASSERT_TRUE(t.Start());
    constexpr int kReports = 2000;
    t.Post(1041, kReports);
    // Everything is posted, nothing delivered yet (this thread has not
    // looked at its events): the receiver that goes now frees its share.
    ASSERT_TRUE(t.flushed.tryAcquire(1, 20000));
    delete vanishing;
    ASSERT_TRUE(RunUntil([&] { return first.got.size() == kReports && second.got.size() == kReports; }));
    for (const CountingRecorder* r : {&first, &second}) {
        for (int i = 0; i < kReports; ++i) {
            ASSERT_EQ(r->got[static_cast<size_t>(i)].value, i);
            ASSERT_EQ(r->got[static_cast<size_t>(i)].wParam, static_cast<uintptr_t>(i));
        }
        EXPECT_LT(r->events, kReports / 4) << "reports from a busy thread come in batches";
    }
    EXPECT_EQ(g_recordsAlive.load(), 0);

    t.receivers = {&first};
    t.flushEachRound = false;
    t.Post(1041, 3);
    t.Post(1055);
    t.Wait();
    ASSERT_TRUE(RunUntil([&] { return first.got.size() == kReports + 3; }));
    EXPECT_EQ(g_recordsAlive.load(), 0);
}
