// Any frames a server may send, fed into a client HTTP/2 session with three
// streams open (a GET, another GET, a HEAD): nghttp2 and the session's own
// bookkeeping must never crash, every stream ends at most once, and no
// stream hands out bytes after its end. The input comes in pieces whose
// sizes the first byte picks, as a socket would cut it.

#include "engine/h2_session.h"

#include <QCoreApplication>

#include <cstdlib>
#include <map>

using namespace ormbrook;

namespace {

struct Reader : WSSocketListener {
    std::shared_ptr<CH2Session> session;
    std::map<int, int32_t> ids; // tag -> stream
    std::map<int, int> closes;
    size_t bytes = 0;
    void OnSocketEvent(int tag, int code, int, const char*) override
    {
        if (closes[tag] != 0)
            std::abort(); // nothing after the end
        if (code == SocketClosed) {
            ++closes[tag];
            session->Close(ids[tag]);
            return;
        }
        if (code != SocketRead)
            return;
        char buffer[4096];
        size_t n = sizeof buffer;
        if (session->Receive(ids[tag], buffer, n) == 0)
            bytes += n;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "h2_session_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    if (size < 1 || size > 200000)
        return 0;
    const size_t piece = size_t(data[0]) * 7 + 1;
    ++data;
    --size;

    Reader reader;
    reader.session = CH2Session::Create(nullptr);
    if (!reader.session)
        std::abort();
    const char* const requests[] = {
        "GET / HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate, br\r\n\r\n",
        "GET /a.html?q=1 HTTP/1.1\r\nHost: example.com:8443\r\nIf-None-Match: \"x\"\r\nConnection: keep-alive\r\n\r\n",
        "HEAD /b HTTP/1.1\r\nHost: example.com\r\n\r\n",
    };
    for (int tag = 0; tag < 3; ++tag) {
        reader.ids[tag] = reader.session->Open(requests[tag], &reader, tag);
        if (reader.ids[tag] != 2 * tag + 1)
            std::abort(); // a fresh session takes three streams: 1, 3, 5
    }
    for (size_t at = 0; at < size; at += piece)
        if (!reader.session->Input(data + at, std::min(piece, size - at)))
            break;
    QCoreApplication::processEvents();
    for (const auto& [tag, count] : reader.closes)
        if (count > 1)
            std::abort();
    reader.session.reset();
    return 0;
}
