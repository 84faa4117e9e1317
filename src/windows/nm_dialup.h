#pragma once
// Dial-up through NetworkManager: its connection profiles of the kinds that
// stand where a dial-up entry stood (VPN, WireGuard, mobile broadband,
// PPPoE) are the entries; dialling activates the chosen profile over
// NetworkManager's D-Bus interface, and hanging up deactivates what the
// program activated. A profile that is active already is reported as such
// (the dial-up manager then never deactivates it).
//
// Calls may come from any thread (a crawl asks on the engine thread); the
// progress of an activation arrives on the thread that made this object.

#include "shell/dialup_manager.h"
#include "windows/settings_dialogs.h"

#include <QDBusConnection>
#include <QMutex>
#include <QObject>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QDBusMessage;

namespace ormbrook {

// Errors of an activation, in the dial-up manager's terms.
constexpr int kDialErrorNoEntry = 623;  // no such profile
constexpr int kDialErrorFailed = 1;     // the activation failed ("予期せぬエラー")

class NetworkManagerDialup : public QObject, public DialupService, public DialupDirectory {
    Q_OBJECT
public:
    explicit NetworkManagerDialup(QDBusConnection bus, QObject* parent = nullptr);
    ~NetworkManagerDialup() override;

    // The system bus's NetworkManager, or nothing when it is not there.
    static std::unique_ptr<NetworkManagerDialup> OnSystemBus();
    // Whether NetworkManager answers on the bus.
    bool Available();

    // The profile the settings name (empty: the first dial-up profile).
    void SetEntry(const std::string& entry);

    // DialupService
    std::optional<uint64_t> ActiveConnection() override;
    int ConnectStatus(uint64_t handle, int* state) override;
    std::string DefaultEntry() override;
    bool EntryDialParams(const std::string& entry, DialParams* params, bool* passwordSaved) override;
    int Dial(const DialParams& params, EventSink sink, uint64_t* handle) override;
    void HangUp(uint64_t handle) override;

    // DialupDirectory
    std::vector<std::string> EntryNames() override;
    bool EditEntry(const std::string& entry) override;
    bool GetLogon(const std::string& entry, std::string* user, std::string* password, bool* passwordSaved) override;
    bool SetLogon(const std::string& entry, const std::string& user, const std::string& password,
                  bool savePassword) override;

private Q_SLOTS:
    void OnStateChanged(const QDBusMessage& message);

private:
    struct Profile {
        QString path;
        QString id;
        QString uuid;
        QString type;
        QString user;
    };
    std::vector<Profile> Profiles();
    std::optional<Profile> FindProfile(const std::string& entry);
    uint64_t HandleFor(const QString& activePath);
    void Report(const QString& activePath, unsigned state, unsigned reason);

    QDBusConnection bus_;
    QMutex lock_;
    std::string entry_;
    uint64_t nextHandle_ = 1;
    std::map<uint64_t, QString> handles_;   // handle -> active connection path
    std::map<QString, EventSink> sinks_;    // active connection path -> its dialling's progress
    std::map<QString, bool> wasUp_;         // the activation had succeeded before it ended
};

} // namespace ormbrook
