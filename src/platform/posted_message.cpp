#include "platform/posted_message.h"

#include <QCoreApplication>

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

bool PostMessage(const QPointer<QObject>& receiver, uint32_t message, uintptr_t wParam,
                 std::unique_ptr<MessageRecord> record)
{
    QObject* target = receiver.data();
    if (!target)
        return false;
    // Qt takes the event; if the receiver dies before the loop reaches it,
    // Qt deletes the event, which frees the record.
    QCoreApplication::postEvent(target, new PostedMessage(message, wParam, std::move(record)));
    return true;
}

} // namespace ormbrook
