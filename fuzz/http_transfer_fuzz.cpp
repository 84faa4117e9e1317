// Any bytes a server may answer with, fed through a real socket into one
// transfer, in each form of the exchange (HTTP/1.0, and HTTP/1.1 with its
// framing): it must end exactly once, with a known result, having handed out
// no more body bytes than arrived.

#include "engine/http_transfer.h"
#include "engine/ws_event_window.h"
#include "platform/sys_calls.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

using namespace ormbrook;

namespace {

// The "server" is the other end of a socket pair, loaded with the input and
// closed for writing before the transfer starts.
class PairCalls : public SysCalls {
public:
    PairCalls(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    ~PairCalls() override
    {
        if (peer_ >= 0)
            ::close(peer_);
    }

    int Socket(int) override
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) < 0)
            return -errno;
        peer_ = fds[1];
        size_t at = 0;
        while (at < size_) {
            const ssize_t n = ::send(peer_, data_ + at, size_ - at, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += size_t(n);
        }
        ::shutdown(peer_, SHUT_WR);
        return fds[0];
    }
    int Connect(int, const sockaddr_in&) override { return 0; }
    int ConnectResult(int, bool) override { return 0; }

private:
    const uint8_t* data_;
    size_t size_;
    int peer_ = -1;
};

struct Owner : TransferListener {
    int finished = 0;
    size_t read = 0;
    char chunk[CHttpTransfer::kBodyChunk];
    void OnTransferEvent(CHttpTransfer* t, int code) override
    {
        if (code == CHttpTransfer::NoteData)
            read += t->Read(chunk, sizeof chunk);
        else if (code == CHttpTransfer::NoteFinished)
            ++finished;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "http_transfer_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    static const bool window = WSEventWindow::CreateEventWindow();
    (void)app;
    if (!window || size > 150000) // stays within one socket buffer
        return 0;

    for (const bool http10 : {true, false}) {
        PairCalls calls(data, size);
        ScopedSysCalls use(calls);
        Owner owner;
        {
            CHttpTransfer transfer(&owner);
            transfer.SetExchange(ExchangeForm{http10, nullptr, {}});
            transfer.Get("127.0.0.1", 80, "/");
            QElapsedTimer clock;
            clock.start();
            while (owner.finished == 0 && clock.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
            if (owner.finished != 1)
                std::abort(); // the server's close must end every transfer
            const int r = transfer.result();
            if (r < 1 || r > 3 || owner.read > size || transfer.delivered() != int64_t(owner.read))
                std::abort();
        }
        QCoreApplication::processEvents();
        if (owner.finished != 1)
            std::abort();
    }
    return 0;
}
