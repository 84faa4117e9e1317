#include "engine/ws_thread.h"

#include "common/messages.h"
#include "engine/ws_event_window.h"
#include "engine/ws_registry.h"
#include "platform/epoll_event_dispatcher.h"

#include <openssl/crypto.h>

#include <memory>

namespace ormbrook {

CWSThread::CWSThread(const CWSInit& init, QObject* parent) : MessageThread(MsgEngineQuit, parent), init_(init)
{
    // The engine's loop turns once or more per download; its own loop costs
    // it fewer system calls a turn than Qt's (which stays when the kernel
    // refuses the descriptors).
    auto dispatcher = std::make_unique<EpollEventDispatcher>();
    if (dispatcher->usable())
        setEventDispatcher(dispatcher.release());
}

CWSThread::~CWSThread()
{
    // Shut down here, while this class's overrides still exist.
    if (isRunning()) {
        Post(MsgEngineQuit);
        wait();
    }
}

bool CWSThread::StartUp()
{
    if (init_.startUpError() != 0)
        return false;
    if (!WSEventWindow::CreateEventWindow())
        return false;
    // Downloads report every few kilobytes; the windows take those reports
    // in batches instead of waking once per report.
    MessageOutbox::EnableForThisThread();
    return true;
}

void CWSThread::ShutDown()
{
    MessageOutbox::DisableForThisThread();
    WSEventWindow::DestroyEventWindow();
    SocketRegistry::Instance().Clear();
    // What TLS keeps for this thread (its random generators, its error
    // queue) goes now: a waiting application may otherwise exit, and clean
    // OpenSSL up, before the thread's own end has freed it.
    OPENSSL_thread_stop();
}

void CWSThread::OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    if (handler_)
        handler_(message, wParam, std::move(record));
}

} // namespace ormbrook
