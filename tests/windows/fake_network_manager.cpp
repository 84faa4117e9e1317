#include "fake_network_manager.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTimer>

#include <csignal>
#include <map>

namespace ormbrook::test {

namespace {

using SettingsMap = QMap<QString, QVariantMap>;
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");

} // namespace

PrivateBus::~PrivateBus()
{
    if (pid_ > 0)
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
}

bool PrivateBus::Start(const std::string& folder)
{
    const QString socket = QString::fromStdString(folder) + "/bus";
    const QString config = QString::fromStdString(folder) + "/bus.conf";
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig><type>session</type><listen>unix:path=" + socket.toStdString() +
                "</listen><auth>EXTERNAL</auth>"
                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n").c_str());
    file.close();
    if (!QProcess::startDetached(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork"}, {}, &pid_))
        return false;
    QElapsedTimer timer;
    timer.start();
    address_ = "unix:path=" + socket;
    // Up once a client gets through, not when the socket file appears.
    while (timer.elapsed() < 10000) {
        if (QFile::exists(socket)) {
            bool up = false;
            {
                QDBusConnection probe = QDBusConnection::connectToBus(address_, "bus-probe");
                up = probe.isConnected();
            }
            QDBusConnection::disconnectFromBus("bus-probe");
            if (up)
                return true;
        }
        QThread::msleep(10);
    }
    return false;
}

// The bus objects of the fake, living on its thread.
class FakeNetworkManager::Objects : public QDBusVirtualObject {
public:
    Objects(FakeNetworkManager& owner, QList<Profile> profiles) : owner_(owner), profiles_(std::move(profiles)) {}

    bool Connect(const QString& address)
    {
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "fake-network-manager"));
        if (!bus_->isConnected())
            return false;
        if (!bus_->registerVirtualObject(kRoot, this, QDBusConnection::SubPath))
            return false;
        if (!bus_->registerService(kService))
            return false;
        for (int i = 0; i < profiles_.size(); ++i)
            if (profiles_[i].active)
                Activate(i, false);
        return true;
    }
    void Disconnect()
    {
        if (bus_) {
            bus_->unregisterService(kService);
            bus_->unregisterObject(kRoot, QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus("fake-network-manager");
            bus_.reset();
        }
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& connection) override
    {
        const QString member = m.member();
        const QList<QVariant> args = m.arguments();
        QDBusMessage reply;
        if (member == "Get" && args.size() == 2) {
            const QVariant value = PropertyOf(m.path(), args[1].toString());
            reply = value.isValid() ? m.createReply(QVariant::fromValue(QDBusVariant(value)))
                                    : m.createErrorReply(QDBusError::UnknownObject, "no such object");
        } else if (member == "ListConnections") {
            QList<QDBusObjectPath> paths;
            for (int i = 0; i < profiles_.size(); ++i)
                paths << QDBusObjectPath(ProfilePath(i));
            reply = m.createReply(QVariant::fromValue(paths));
        } else if (member == "GetSettings") {
            const int i = IndexOf(m.path(), "/Settings/");
            if (i < 0) {
                reply = m.createErrorReply(QDBusError::UnknownObject, "no such profile");
            } else {
                SettingsMap settings;
                settings["connection"] = QVariantMap{{"id", profiles_[i].id},
                                                     {"uuid", QStringLiteral("uuid-%1").arg(i)},
                                                     {"type", profiles_[i].type}};
                settings["vpn"] = QVariantMap{{"user-name", QStringLiteral("user%1").arg(i)}};
                reply = m.createReply(QVariant::fromValue(settings));
            }
        } else if (member == "ActivateConnection" && !args.isEmpty()) {
            const int i = IndexOf(args[0].value<QDBusObjectPath>().path(), "/Settings/");
            if (i < 0) {
                reply = m.createErrorReply(QStringLiteral("org.freedesktop.NetworkManager.UnknownConnection"),
                                           "no such profile");
            } else {
                ++owner_.activations_;
                reply = m.createReply(QVariant::fromValue(QDBusObjectPath(Activate(i, true))));
            }
        } else if (member == "DeactivateConnection" && !args.isEmpty()) {
            const QString path = args[0].value<QDBusObjectPath>().path();
            ++owner_.deactivations_;
            SetState(path, 4, 2);
            active_.erase(path);
            reply = m.createReply();
        } else {
            reply = m.createErrorReply(QDBusError::UnknownMethod, member);
        }
        connection.send(reply);
        return true;
    }

private:
    struct Active {
        int profile;
        unsigned state;
    };

    static QString ProfilePath(int i) { return kRoot + QStringLiteral("/Settings/%1").arg(i); }
    static int IndexOf(const QString& path, const char* part)
    {
        const int at = path.lastIndexOf(QLatin1String(part));
        bool ok = false;
        const int i = at < 0 ? -1 : path.mid(at + static_cast<int>(qstrlen(part))).toInt(&ok);
        return ok ? i : -1;
    }

    QString Activate(int profile, bool later)
    {
        const QString path = kRoot + QStringLiteral("/ActiveConnection/%1").arg(nextActive_++);
        active_[path] = {profile, later ? 1u : 2u};
        if (later) {
            const bool fail = owner_.fail_;
            QTimer::singleShot(30, [this, path, fail] { SetState(path, fail ? 4 : 2, fail ? 5 : 0); });
        }
        return path;
    }

    void SetState(const QString& path, unsigned state, unsigned reason)
    {
        auto it = active_.find(path);
        if (it == active_.end())
            return;
        it->second.state = state;
        QDBusMessage signal = QDBusMessage::createSignal(path, kActiveInterface, "StateChanged");
        signal << state << reason;
        bus_->send(signal);
        if (state == 4)
            active_.erase(it);
    }

    QVariant PropertyOf(const QString& path, const QString& name)
    {
        if (path == kRoot && name == "ActiveConnections") {
            QList<QDBusObjectPath> paths;
            for (const auto& [p, a] : active_)
                paths << QDBusObjectPath(p);
            return QVariant::fromValue(paths);
        }
        auto it = active_.find(path);
        if (it == active_.end())
            return {};
        if (name == "State")
            return it->second.state;
        if (name == "Connection")
            return QVariant::fromValue(QDBusObjectPath(ProfilePath(it->second.profile)));
        if (name == "Id")
            return profiles_[it->second.profile].id;
        return {};
    }

    FakeNetworkManager& owner_;
    QList<Profile> profiles_;
    std::unique_ptr<QDBusConnection> bus_;
    std::map<QString, Active> active_;
    int nextActive_ = 1;
};

FakeNetworkManager::FakeNetworkManager(const QString& busAddress, QList<Profile> profiles)
{
    qDBusRegisterMetaType<SettingsMap>();
    thread_.start();
    objects_ = new Objects(*this, std::move(profiles));
    objects_->moveToThread(&thread_);
    QSemaphore done;
    QMetaObject::invokeMethod(objects_, [&] {
        ok_ = objects_->Connect(busAddress);
        done.release();
    });
    done.acquire();
}

FakeNetworkManager::~FakeNetworkManager()
{
    QSemaphore done;
    QMetaObject::invokeMethod(objects_, [&] {
        objects_->Disconnect();
        delete objects_;
        done.release();
    });
    done.acquire();
    thread_.quit();
    thread_.wait();
}

} // namespace ormbrook::test
