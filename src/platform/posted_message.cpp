#include "platform/posted_message.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace ormbrook {

PostedMessage::PostedMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
    : QEvent(EventType()), message_(message), wParam_(wParam), record_(std::move(record))
{
}

QEvent::Type PostedMessage::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

PostedBatch::PostedBatch(std::vector<Item> items) : QEvent(EventType()), items_(std::move(items)) {}

QEvent::Type PostedBatch::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

namespace {

struct OutboxEntry {
    QPointer<QObject> receiver;
    PostedBatch::Item item;
};

struct Outbox {
    bool enabled = false;
    QMetaObject::Connection idleHook;
    std::vector<OutboxEntry> entries;
    QElapsedTimer oldest;

    void Deliver()
    {
        // Taken out first: a receiver's event filter could post again.
        std::vector<OutboxEntry> taken;
        taken.swap(entries);
        size_t start = 0;
        while (start < taken.size()) {
            size_t end = start + 1;
            while (end < taken.size() && taken[end].receiver == taken[start].receiver)
                ++end;
            if (QObject* target = taken[start].receiver.data()) {
                std::vector<PostedBatch::Item> items;
                items.reserve(end - start);
                for (size_t i = start; i < end; ++i)
                    items.push_back(std::move(taken[i].item));
                QCoreApplication::postEvent(target, new PostedBatch(std::move(items)));
            }
            start = end;
        }
    }
};

thread_local Outbox t_outbox;

} // namespace

bool MessageOutbox::EnableForThisThread()
{
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher)
        return false;
    if (!t_outbox.enabled) {
        t_outbox.idleHook = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                             [] { t_outbox.Deliver(); });
        t_outbox.enabled = true;
    }
    return true;
}

void MessageOutbox::DisableForThisThread()
{
    t_outbox.Deliver();
    QObject::disconnect(t_outbox.idleHook);
    t_outbox.enabled = false;
}

void MessageOutbox::Flush() { t_outbox.Deliver(); }

bool PostMessage(const QPointer<QObject>& receiver, uint32_t message, uintptr_t wParam,
                 std::unique_ptr<MessageRecord> record)
{
    QObject* target = receiver.data();
    if (!target)
        return false;
    if (t_outbox.enabled && target->thread() != QThread::currentThread()) {
        if (t_outbox.entries.empty())
            t_outbox.oldest.start();
        t_outbox.entries.push_back(OutboxEntry{receiver, PostedBatch::Item{message, wParam, std::move(record)}});
        if (t_outbox.oldest.elapsed() >= MessageOutbox::kBatchAgeMs)
            t_outbox.Deliver();
        return true;
    }
    // Qt takes the event; if the receiver dies before the loop reaches it,
    // Qt deletes the event, which frees the record.
    QCoreApplication::postEvent(target, new PostedMessage(message, wParam, std::move(record)));
    return true;
}

} // namespace ormbrook
