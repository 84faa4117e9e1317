#include "platform/message_target.h"

#include <QTimerEvent>

namespace ormbrook {

MessageTarget::MessageTarget(QObject* parent) : QObject(parent) {}

MessageTarget::~MessageTarget() = default;

void MessageTarget::SetTimer(int id, int ms)
{
    KillTimer(id);
    const int qtId = startTimer(ms, Qt::PreciseTimer);
    if (qtId != 0)
        timers_.emplace_back(id, qtId);
}

bool MessageTarget::KillTimer(int id)
{
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->first == id) {
            killTimer(it->second);
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

bool MessageTarget::TimerRunning(int id) const
{
    for (const auto& [running, qtId] : timers_) {
        if (running == id)
            return true;
    }
    return false;
}

void MessageTarget::KillAllTimers()
{
    for (const auto& [id, qtId] : timers_)
        killTimer(qtId);
    timers_.clear();
}

void MessageTarget::OnMessage(uint32_t, uintptr_t, std::unique_ptr<MessageRecord>) {}

void MessageTarget::OnTimer(int) {}

bool MessageTarget::event(QEvent* e)
{
    if (e->type() == PostedMessage::EventType()) {
        auto* m = static_cast<PostedMessage*>(e);
        OnMessage(m->message(), m->wParam(), m->TakeRecord());
        return true;
    }
    if (e->type() == PostedBatch::EventType()) {
        // A message may end this object; the rest of the batch is then
        // dropped, as Qt drops the queued events of an object that is gone.
        QPointer<MessageTarget> self(this);
        for (PostedBatch::Item& item : static_cast<PostedBatch*>(e)->items()) {
            if (!self)
                break;
            OnMessage(item.message, item.wParam, std::move(item.record));
        }
        return true;
    }
    return QObject::event(e);
}

void MessageTarget::timerEvent(QTimerEvent* e)
{
    for (const auto& [id, qtId] : timers_) {
        if (qtId == e->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QObject::timerEvent(e);
}

} // namespace ormbrook
