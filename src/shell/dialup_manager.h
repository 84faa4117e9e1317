#pragma once
// DialupManager: owns the dial-up connection of the whole program. It dials
// once for any number of requesters, tells each of them and the main window
// how the dialling goes, redials a busy line, and hangs up when the last
// requester has given the connection back. A connection that was already up
// is used and never hung up.

#include "engine/dialup_connector.h"
#include "platform/message_target.h"

#include <QMutex>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

struct DialParams {
    std::string entry;
    std::string phoneNumber;
    std::string callbackNumber;
    std::string userName;
    std::string password;
    std::string domain;
};

// The operating system's dial-up service, as far as the manager uses it.
class DialupService {
public:
    using EventSink = std::function<void(int state, int error)>;

    virtual ~DialupService() = default;
    // The first active connection, if any.
    virtual std::optional<uint64_t> ActiveConnection() = 0;
    // 0 and the state of the connection, or kStatusHandleGone when it is gone.
    virtual int ConnectStatus(uint64_t handle, int* state) = 0;
    // The system's default entry, used when no entry is configured.
    virtual std::string DefaultEntry() = 0;
    // Fills the saved user name and password of an entry (nothing else of
    // params); passwordSaved says
    // whether the service keeps a password for it.
    virtual bool EntryDialParams(const std::string& entry, DialParams* params, bool* passwordSaved) = 0;
    // Starts dialling; progress comes through `sink`, on any thread. 0 when
    // dialling has started, else the error.
    virtual int Dial(const DialParams& params, EventSink sink, uint64_t* handle) = 0;
    virtual void HangUp(uint64_t handle) = 0;

    static constexpr int kStatusHandleGone = 6;
};

// A machine without dial-up: the network is always there. It reports a
// connection that is already up, so nothing is ever dialled or hung up.
class AlwaysConnectedService : public DialupService {
public:
    std::optional<uint64_t> ActiveConnection() override { return 1; }
    int ConnectStatus(uint64_t, int* state) override
    {
        *state = kDialConnected;
        return 0;
    }
    std::string DefaultEntry() override { return {}; }
    bool EntryDialParams(const std::string&, DialParams*, bool*) override { return false; }
    int Dial(const DialParams&, EventSink, uint64_t*) override { return 0; }
    void HangUp(uint64_t) override {}
};

struct DialupSettings {
    std::string entry;     // DialupEntry; empty: the service's default entry
    int retries = 2;       // DialRetry
    std::string password;  // the decoded Sai
};

class DialupManager : public MessageTarget, public DialupConnector {
public:
    DialupManager(DialupService& service, DialupSettings settings, QObject* parent = nullptr);
    ~DialupManager() override;

    void SetMainWindow(const QPointer<QObject>& mainWindow) { mainWindow_ = mainWindow; }
    // The entry, redials and password for the next dialling (the settings
    // sheet changed them).
    void SetSettings(DialupSettings settings);
    // How long a redial waits after the old connection is gone.
    void SetRedialDelay(int ms) { redialDelayMs_ = ms; }

    void Dial(const QPointer<QObject>& requester) override;
    void HangUp(const QPointer<QObject>& requester) override;

    bool foundUp() const { return foundUp_; }
    int redialCount() const { return redialCount_; }

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override;
    void OnTimer(int id) override;

private:
    void StartDialling();
    void OnDialEvent(int state, int error);
    void HangUpLine();
    void ForgetLine();
    void NotifyAll(int state, int error);
    static void Notify(const QPointer<QObject>& target, int state, int error);

    DialupService& service_;
    DialupSettings settings_;
    QPointer<QObject> mainWindow_;
    QMutex lock_;
    std::optional<uint64_t> handle_;
    bool foundUp_ = false;
    // The held line has been seen connected (found up or dialled).
    bool lineWasUp_ = false;
    std::vector<QPointer<QObject>> requesters_;
    int redialCount_ = 0;
    int redialDelayMs_ = 3000;
    bool waitingForRelease_ = false;
    std::optional<uint64_t> releasingHandle_;
};

// The status-line text for a notice, or nothing when the text stays as it is.
std::optional<std::string> DialupStatusText(int state, int error);

} // namespace ormbrook
