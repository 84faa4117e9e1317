#pragma once
// How the programs of one user reach each other's windows. Each window that
// others look for listens on a local socket named after its title in the
// runtime folder; "the window exists" means that a connection succeeds.
//
// A message is a frame of three little-endian 32-bit numbers (message,
// wParam, lParam). The receiver answers every frame with a reply frame of one
// such number: a sender that sends (synchronously) waits for it, one that
// posts does not read it. A window handle carried in a frame is the sending
// program's process id.
//
// A frame whose message number has kFrameCarriesText set is followed by
// lParam bytes of text (at most kMaxFrameText), for the few messages that
// carry a path.

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;

namespace ormbrook {

constexpr uint32_t kFrameCarriesText = 0x80000000u;
constexpr uint32_t kMaxFrameText = 64 * 1024;
constexpr size_t kFrameBytes = 12;
constexpr size_t kReplyBytes = 4;

struct ChannelFrame {
    uint32_t message = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;   // for a frame that carries text: its length
    std::string text;

    bool operator==(const ChannelFrame&) const = default;
};

// The bytes of a frame (the text's length is taken from `text`).
std::string EncodeFrame(const ChannelFrame& frame);

// Cuts a byte stream into frames. The stream comes from another program:
// nothing it says is trusted, and a frame that announces more text than
// kMaxFrameText breaks the stream for good.
class FrameReader {
public:
    void Feed(const char* data, size_t size);
    // The next complete frame, in order.
    std::optional<ChannelFrame> Next();
    bool broken() const { return broken_; }

private:
    std::string buffer_;
    size_t offset_ = 0;
    bool broken_ = false;
};

// The socket path of a window title; empty without a runtime folder.
std::string ChannelPath(const std::string& title);

class ChannelServer : public QObject {
    Q_OBJECT
public:
    // Answers one frame with the number of the reply. Runs on the server's
    // thread and must return at once.
    using Handler = std::function<uint32_t(const ChannelFrame& frame)>;

    explicit ChannelServer(Handler handler, QObject* parent = nullptr);
    ~ChannelServer() override;

    // Listens under `title`. False when a live program listens there already
    // or the socket can't be made. A socket left behind by a program that
    // ended is taken over.
    bool Listen(const std::string& title);
    void Close();
    bool listening() const;

private:
    void Accept();
    void Read(QLocalSocket* socket, FrameReader& reader);

    Handler handler_;
    QLocalServer* server_ = nullptr;
};

// Whether a window of that title listens now.
bool ChannelExists(const std::string& title);

// Delivers a frame and returns without waiting for the answer. False when no
// window of that title listens or the frame could not be written whole.
// These calls block for at most `timeoutMs`; never call one for a window
// that the calling thread itself serves.
bool PostFrame(const std::string& title, const ChannelFrame& frame, int timeoutMs = 1000);

// Delivers a frame and waits for the reply. Nothing when no window of that
// title listens, the connection closes first, or `timeoutMs` passes.
std::optional<uint32_t> SendFrame(const std::string& title, const ChannelFrame& frame, int timeoutMs);

// SendFrame that keeps the connection: `fd` (the caller's to close, -1 when
// no reply came) reads end-of-file once the window that answered is closed
// or its program ends. A sender that waits for a later answer from that
// window watches it, so that a window that goes away counts as having
// answered.
struct HeldReply {
    std::optional<uint32_t> reply;
    int fd = -1;
};
HeldReply SendFrameAndHold(const std::string& title, const ChannelFrame& frame, int timeoutMs);

// Watches a held connection on the thread it lives on; takes the descriptor.
class ConnectionWatch : public QObject {
    Q_OBJECT
public:
    explicit ConnectionWatch(int fd, QObject* parent = nullptr);
    ~ConnectionWatch() override;

Q_SIGNALS:
    // The far end went; emitted once.
    void closed();

private:
    void Check();

    int fd_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace ormbrook
