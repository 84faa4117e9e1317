#pragma once
// The engine thread: every socket, lookup, download and their timers live on
// it. It starts only when the socket interface started and its event window
// could be made; it ends on MsgEngineQuit.

#include "engine/ws_init.h"
#include "platform/message_thread.h"

#include <functional>

namespace ormbrook {

class CWSThread : public MessageThread {
    Q_OBJECT
public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)>;

    explicit CWSThread(const CWSInit& init, QObject* parent = nullptr);
    ~CWSThread() override;

    // Messages other than the quit message go to `handler` on the engine
    // thread. Set it before Start().
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

protected:
    bool StartUp() override;
    void ShutDown() override;
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override;

private:
    const CWSInit& init_;
    Handler handler_;
};

} // namespace ormbrook
