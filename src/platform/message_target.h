#pragma once
// An object that receives posted messages and owns numbered timers: what a
// hidden window was to the engine's objects.

#include "platform/posted_message.h"

#include <QObject>

#include <map>

namespace ormbrook {

class MessageTarget : public QObject {
    Q_OBJECT
public:
    explicit MessageTarget(QObject* parent = nullptr);
    ~MessageTarget() override;

    // Starts (or restarts) timer `id` to fire every `ms` milliseconds until
    // killed. Ids are the caller's own small numbers.
    void SetTimer(int id, int ms);
    // Stops timer `id`; returns false when it was not running.
    bool KillTimer(int id);
    bool TimerRunning(int id) const;
    void KillAllTimers();

protected:
    virtual void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record);
    virtual void OnTimer(int id);

    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    std::map<int, int> timers_; // our id -> Qt's timer id
};

} // namespace ormbrook
