#pragma once
// Messages between objects that live on different threads: a number, a word
// and an owned record, delivered through the receiver's event loop.

#include <QEvent>
#include <QPointer>
#include <QObject>

#include <cstdint>
#include <memory>

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

} // namespace ormbrook
