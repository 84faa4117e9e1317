#pragma once
// A NetworkManager of our own on a private D-Bus bus that the test starts
// (dbus-daemon --session): it keeps connection profiles, activates and
// deactivates them as told, and counts what it was asked. It serves from a
// thread of its own, so that the program under test may call it
// synchronously from the test's thread.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <string>

namespace ormbrook::test {

// dbus-daemon with a session configuration on a socket in a scratch folder.
class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    bool Start(const std::string& folder);
    const QString& address() const { return address_; }

private:
    qint64 pid_ = 0;
    QString address_;
};

class FakeNetworkManager {
public:
    struct Profile {
        QString id;
        QString type;
        bool active = false; // active before the test begins
    };

    FakeNetworkManager(const QString& busAddress, QList<Profile> profiles);
    ~FakeNetworkManager();
    bool ok() const { return ok_; }

    // Activations from now on fail (NetworkManager reports the connection
    // deactivated instead of activated).
    void FailActivations(bool fail) { fail_ = fail; }
    int activations() const { return activations_; }
    int deactivations() const { return deactivations_; }

    class Objects;

private:
    QThread thread_;
    Objects* objects_ = nullptr;
    std::atomic<bool> fail_{false};
    std::atomic<int> activations_{0};
    std::atomic<int> deactivations_{0};
    bool ok_ = false;
    friend class Objects;
};

} // namespace ormbrook::test
