#include "platform/message_thread.h"

#include "platform/message_target.h"

#include <QMutexLocker>

namespace ormbrook {

class MessageThread::Inbox : public MessageTarget {
public:
    explicit Inbox(MessageThread* owner) : owner_(owner) {}

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override
    {
        if (message == owner_->quitMessage_)
            owner_->exit(0);
        else
            owner_->OnMessage(message, wParam, std::move(record));
    }

private:
    MessageThread* owner_;
};

MessageThread::MessageThread(uint32_t quitMessage, QObject* parent)
    : QThread(parent), quitMessage_(quitMessage)
{
}

MessageThread::~MessageThread()
{
    // Destroying a running QThread aborts the program; a thread that was
    // never told to quit is told now.
    if (isRunning()) {
        Post(quitMessage_);
        wait();
    }
}

bool MessageThread::Start()
{
    start();
    startedUp_.acquire();
    if (!startUpOk_)
        wait();
    return startUpOk_;
}

bool MessageThread::Post(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    QMutexLocker lock(&inboxLock_);
    if (!inbox_)
        return false;
    return PostMessage(QPointer<QObject>(inbox_), message, wParam, std::move(record));
}

void MessageThread::OnMessage(uint32_t, uintptr_t, std::unique_ptr<MessageRecord>) {}

void MessageThread::run()
{
    startUpOk_ = StartUp();
    if (!startUpOk_) {
        startedUp_.release();
        return;
    }
    {
        QMutexLocker lock(&inboxLock_);
        inbox_ = new Inbox(this);
    }
    startedUp_.release();
    exec();
    {
        QMutexLocker lock(&inboxLock_);
        delete inbox_; // drops (and frees) whatever was posted after the quit
        inbox_ = nullptr;
    }
    ShutDown();
}

} // namespace ormbrook
