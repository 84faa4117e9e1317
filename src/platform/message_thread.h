#pragma once
// A worker thread with its own event loop that other threads talk to only by
// posted messages. It ends its loop when it receives its quit message; the
// starting thread waits for that end with Wait().

#include "platform/posted_message.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>

namespace ormbrook {

class MessageThread : public QThread {
    Q_OBJECT
public:
    explicit MessageThread(uint32_t quitMessage, QObject* parent = nullptr);
    ~MessageThread() override;

    // Starts the thread and waits until StartUp() has answered. On false the
    // thread has already ended and nothing can be posted to it.
    bool Start();

    // Posts a message to the thread's loop; false (record freed) when the
    // thread is not running.
    bool Post(uint32_t message, uintptr_t wParam = 0, std::unique_ptr<MessageRecord> record = nullptr);

    // Waits without time limit for the loop to end (after the quit message).
    void Wait() { wait(); }

protected:
    // Run on the thread before and after its loop.
    virtual bool StartUp() { return true; }
    virtual void ShutDown() {}
    // Every message but the quit message, on the thread.
    virtual void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record);

private:
    class Inbox;
    void run() override;

    const uint32_t quitMessage_;
    QSemaphore startedUp_;
    bool startUpOk_ = false;
    QMutex inboxLock_;
    Inbox* inbox_ = nullptr;
};

} // namespace ormbrook
