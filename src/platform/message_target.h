#pragma once
// An object that receives posted messages and owns numbered timers: what a
// hidden window was to the engine's objects.

#include "platform/posted_message.h"

#include <QObject>

#include <utility>
#include <vector>

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
    // Our id and Qt's timer id of each running timer; a target runs a few,
    // started and stopped for every download, so no node is allocated.
    std::vector<std::pair<int, int>> timers_;
};

} // namespace ormbrook
