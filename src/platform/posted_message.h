#pragma once
// Messages between objects that live on different threads: a number, a word
// and an owned record, delivered through the receiver's event loop.

#include <QEvent>
#include <QPointer>
#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

namespace ormbrook {

// Base of every record that travels with a message. The sender builds it, the
// receiver owns it from the moment it is posted; a message that is dropped
// frees its record with it.
struct MessageRecord {
    virtual ~MessageRecord() = default;
};

class PostedMessage : public QEvent {
public:
    PostedMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record);

    static QEvent::Type EventType();

    uint32_t message() const { return message_; }
    uintptr_t wParam() const { return wParam_; }
    std::unique_ptr<MessageRecord> TakeRecord() { return std::move(record_); }

private:
    uint32_t message_;
    uintptr_t wParam_;
    std::unique_ptr<MessageRecord> record_;
};

// Queues the message for `receiver` on the receiver's thread and returns at
// once. A receiver that is already gone makes this a no-op that frees the
// record; a receiver destroyed before delivery takes its queued messages
// (and their records) with it. Returns whether the message was queued.
bool PostMessage(const QPointer<QObject>& receiver, uint32_t message, uintptr_t wParam = 0,
                 std::unique_ptr<MessageRecord> record = nullptr);

// Several messages for one receiver delivered as one event, in order. A
// receiver that handles PostedMessage handles this too (MessageTarget does).
class PostedBatch : public QEvent {
public:
    struct Item {
        uint32_t message;
        uintptr_t wParam;
        std::unique_ptr<MessageRecord> record;
    };
    explicit PostedBatch(std::vector<Item> items);

    static QEvent::Type EventType();

    std::vector<Item>& items() { return items_; }

private:
    std::vector<Item> items_;
};

// A busy thread that reports to another thread (the engine thread to the
// windows) would wake that thread once per message. With an outbox enabled,
// PostMessage from this thread to receivers on other threads collects the
// messages and delivers them in batches: when the thread is about to wait for
// events, when the oldest collected message is kBatchAgeMs old, or on Flush.
// Messages to receivers on this same thread are posted at once. Each
// receiver still gets its messages in the order they were posted.
class MessageOutbox {
public:
    static constexpr int kBatchAgeMs = 20;

    // Turns batching on for the calling thread, which must run an event
    // loop. Returns false when the thread has no event dispatcher yet.
    static bool EnableForThisThread();
    // Delivers what the calling thread collected and turns batching off
    // (before the thread ends).
    static void DisableForThisThread();
    // Delivers what the calling thread collected now.
    static void Flush();
};

} // namespace ormbrook
