#include "windows/nm_dialup.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace ormbrook {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// NetworkManager's states of an active connection.
constexpr unsigned kActivating = 1;
constexpr unsigned kActivated = 2;
constexpr unsigned kDeactivated = 4;

// How long one question to NetworkManager may take.
constexpr int kCallMs = 5000;

// The kinds of profile that take a dial-up entry's place.
bool IsDialupKind(const QString& type)
{
    return type == QLatin1String("vpn") || type == QLatin1String("wireguard") || type == QLatin1String("gsm")
        || type == QLatin1String("cdma") || type == QLatin1String("pppoe");
}

using SettingsMap = QMap<QString, QVariantMap>;

QVariant Property(const QDBusConnection& bus, const QString& path, const QString& interface, const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().value<QDBusVariant>().variant();
}

QList<QDBusObjectPath> PathList(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>()) {
        QList<QDBusObjectPath> paths;
        value.value<QDBusArgument>() >> paths;
        return paths;
    }
    return value.value<QList<QDBusObjectPath>>();
}

} // namespace

NetworkManagerDialup::NetworkManagerDialup(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(bus)
{
    qDBusRegisterMetaType<SettingsMap>();
}

NetworkManagerDialup::~NetworkManagerDialup() = default;

std::unique_ptr<NetworkManagerDialup> NetworkManagerDialup::OnSystemBus()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return nullptr;
    auto service = std::make_unique<NetworkManagerDialup>(bus);
    if (!service->Available())
        return nullptr;
    return service;
}

bool NetworkManagerDialup::Available()
{
    return bus_.isConnected() && bus_.interface() && bus_.interface()->isServiceRegistered(kService).value();
}

void NetworkManagerDialup::SetEntry(const std::string& entry)
{
    QMutexLocker guard(&lock_);
    entry_ = entry;
}

std::vector<NetworkManagerDialup::Profile> NetworkManagerDialup::Profiles()
{
    std::vector<Profile> profiles;
    QDBusMessage list =
        QDBusMessage::createMethodCall(kService, kSettingsPath, kSettingsInterface, QStringLiteral("ListConnections"));
    const QDBusMessage reply = bus_.call(list, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return profiles;
    for (const QDBusObjectPath& path : PathList(reply.arguments().front())) {
        QDBusMessage get =
            QDBusMessage::createMethodCall(kService, path.path(), kConnectionInterface, QStringLiteral("GetSettings"));
        const QDBusMessage answer = bus_.call(get, QDBus::Block, kCallMs);
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
            continue;
        SettingsMap settings;
        answer.arguments().front().value<QDBusArgument>() >> settings;
        const QVariantMap connection = settings.value(QStringLiteral("connection"));
        Profile p;
        p.path = path.path();
        p.id = connection.value(QStringLiteral("id")).toString();
        p.uuid = connection.value(QStringLiteral("uuid")).toString();
        p.type = connection.value(QStringLiteral("type")).toString();
        if (!IsDialupKind(p.type))
            continue;
        for (const char* group : {"vpn", "gsm", "cdma", "pppoe"}) {
            const QVariantMap values = settings.value(QString::fromLatin1(group));
            const QString user = values.value(QStringLiteral("username"),
                                              values.value(QStringLiteral("user-name"))).toString();
            if (!user.isEmpty())
                p.user = user;
        }
        profiles.push_back(p);
    }
    return profiles;
}

std::optional<NetworkManagerDialup::Profile> NetworkManagerDialup::FindProfile(const std::string& entry)
{
    std::vector<Profile> profiles = Profiles();
    for (const Profile& p : profiles)
        if (entry.empty() || p.id.toStdString() == entry)
            return p;
    return std::nullopt;
}

uint64_t NetworkManagerDialup::HandleFor(const QString& activePath)
{
    QMutexLocker guard(&lock_);
    for (const auto& [handle, path] : handles_)
        if (path == activePath)
            return handle;
    const uint64_t handle = nextHandle_++;
    handles_[handle] = activePath;
    return handle;
}

std::optional<uint64_t> NetworkManagerDialup::ActiveConnection()
{
    std::string entry;
    {
        QMutexLocker guard(&lock_);
        entry = entry_;
    }
    const std::optional<Profile> profile = FindProfile(entry);
    if (!profile)
        return std::nullopt;
    for (const QDBusObjectPath& active :
         PathList(Property(bus_, kPath, kInterface, QStringLiteral("ActiveConnections")))) {
        const QVariant connection = Property(bus_, active.path(), kActiveInterface, QStringLiteral("Connection"));
        if (connection.value<QDBusObjectPath>().path() == profile->path)
            return HandleFor(active.path());
    }
    return std::nullopt;
}

int NetworkManagerDialup::ConnectStatus(uint64_t handle, int* state)
{
    QString path;
    {
        QMutexLocker guard(&lock_);
        auto it = handles_.find(handle);
        if (it == handles_.end())
            return kStatusHandleGone;
        path = it->second;
    }
    const QVariant value = Property(bus_, path, kActiveInterface, QStringLiteral("State"));
    if (!value.isValid())
        return kStatusHandleGone;
    const unsigned nmState = value.toUInt();
    if (nmState >= 3)
        return kStatusHandleGone;
    *state = nmState == kActivated ? kDialConnected : kDialOpenPort;
    return 0;
}

std::string NetworkManagerDialup::DefaultEntry()
{
    const std::optional<Profile> first = FindProfile({});
    return first ? first->id.toStdString() : std::string();
}

bool NetworkManagerDialup::EntryDialParams(const std::string& entry, DialParams* params, bool* passwordSaved)
{
    const std::optional<Profile> profile = FindProfile(entry);
    // NetworkManager keeps secrets in its own agents: no password is handed out.
    *passwordSaved = false;
    if (!profile)
        return false;
    params->userName = profile->user.toStdString();
    return true;
}

int NetworkManagerDialup::Dial(const DialParams& params, EventSink sink, uint64_t* handle)
{
    const std::optional<Profile> profile = FindProfile(params.entry);
    if (!profile || (!params.entry.empty() && profile->id.toStdString() != params.entry))
        return kDialErrorNoEntry;
    QDBusMessage activate =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("ActivateConnection"));
    activate << QVariant::fromValue(QDBusObjectPath(profile->path)) << QVariant::fromValue(QDBusObjectPath("/"))
             << QVariant::fromValue(QDBusObjectPath("/"));
    const QDBusMessage reply = bus_.call(activate, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return kDialErrorFailed;
    const QString active = reply.arguments().front().value<QDBusObjectPath>().path();
    {
        QMutexLocker guard(&lock_);
        sinks_[active] = std::move(sink);
        wasUp_[active] = false;
    }
    bus_.connect(kService, active, kActiveInterface, QStringLiteral("StateChanged"), this,
                 SLOT(OnStateChanged(QDBusMessage)));
    *handle = HandleFor(active);
    // The activation may have gone ahead before the signal was connected.
    const QVariant state = Property(bus_, active, kActiveInterface, QStringLiteral("State"));
    if (state.isValid() && state.toUInt() != kActivating) {
        const unsigned now = state.toUInt();
        QMetaObject::invokeMethod(this, [this, active, now] { Report(active, now, 0); }, Qt::QueuedConnection);
    }
    return 0;
}

void NetworkManagerDialup::OnStateChanged(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2)
        return;
    Report(message.path(), args[0].toUInt(), args[1].toUInt());
}

void NetworkManagerDialup::Report(const QString& activePath, unsigned state, unsigned)
{
    EventSink sink;
    bool wasUp = false;
    {
        QMutexLocker guard(&lock_);
        auto it = sinks_.find(activePath);
        if (it == sinks_.end())
            return;
        sink = it->second;
        wasUp = wasUp_[activePath];
        if (state == kActivated)
            wasUp_[activePath] = true;
        if (state >= kDeactivated - 1 && state != kActivated) {
            sinks_.erase(activePath);
            wasUp_.erase(activePath);
        }
    }
    if (state == kActivated) {
        sink(kDialConnected, 0);
    } else if (state == kActivating) {
        sink(kDialOpenPort, 0);
    } else {
        // Gone without the program asking: the other side ended it, or it
        // never came up.
        sink(0, wasUp ? kDialErrorRemoteHungUp : kDialErrorFailed);
    }
}

void NetworkManagerDialup::HangUp(uint64_t handle)
{
    QString active;
    {
        QMutexLocker guard(&lock_);
        auto it = handles_.find(handle);
        if (it == handles_.end())
            return;
        active = it->second;
        handles_.erase(it);
        // The deactivation that follows is the program's own: no error.
        sinks_.erase(active);
        wasUp_.erase(active);
    }
    bus_.disconnect(kService, active, kActiveInterface, QStringLiteral("StateChanged"), this,
                    SLOT(OnStateChanged(QDBusMessage)));
    QDBusMessage deactivate =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("DeactivateConnection"));
    deactivate << QVariant::fromValue(QDBusObjectPath(active));
    bus_.call(deactivate, QDBus::Block, kCallMs);
}

std::vector<std::string> NetworkManagerDialup::EntryNames()
{
    std::vector<std::string> names;
    for (const Profile& p : Profiles())
        names.push_back(p.id.toStdString());
    return names;
}

bool NetworkManagerDialup::EditEntry(const std::string& entry)
{
    const std::optional<Profile> profile = FindProfile(entry);
    const QString editor = QStandardPaths::findExecutable(QStringLiteral("nm-connection-editor"));
    if (!profile || editor.isEmpty())
        return false;
    return QProcess::startDetached(editor, {QStringLiteral("--edit"), profile->uuid});
}

bool NetworkManagerDialup::GetLogon(const std::string& entry, std::string* user, std::string*, bool* passwordSaved)
{
    *passwordSaved = false;
    const std::optional<Profile> profile = FindProfile(entry);
    if (!profile)
        return false;
    *user = profile->user.toStdString();
    return true;
}

// The user name and password are the profile's own business (its editor
// and NetworkManager's secret agents); the program keeps its password in
// its settings, scrambled.
bool NetworkManagerDialup::SetLogon(const std::string&, const std::string&, const std::string&, bool)
{
    return false;
}

} // namespace ormbrook
