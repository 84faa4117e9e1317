#include "shell/dialup_manager.h"

#include "common/messages.h"

#include <QMutexLocker>

#include <algorithm>

namespace ormbrook {

namespace {

// Progress of a dialling, as the service reports it. The service's own
// message has no fixed number; this is the number used when none is given.
constexpr uint32_t kMsgDialEvent = 0xCCCD;

constexpr int kTimerReleasePoll = 1;
constexpr int kTimerRedial = 2;
constexpr int kReleasePollMs = 50;

struct DialEventRecord : MessageRecord {
    DialEventRecord(int s, int e) : state(s), error(e) {}
    int state;
    int error;
};

} // namespace

DialupManager::DialupManager(DialupService& service, DialupSettings settings, QObject* parent)
    : MessageTarget(parent), service_(service), settings_(std::move(settings))
{
}

// Destroyed at exit without hanging up: a crawl that still runs keeps its line.
DialupManager::~DialupManager() = default;

void DialupManager::SetSettings(DialupSettings settings)
{
    QMutexLocker guard(&lock_);
    settings_ = std::move(settings);
}

void DialupManager::Notify(const QPointer<QObject>& target, int state, int error)
{
    PostMessage(target, MsgDialupNotify, static_cast<uintptr_t>(state),
                std::make_unique<DialupNotifyRecord>(state, error));
}

void DialupManager::NotifyAll(int state, int error)
{
    Notify(mainWindow_, state, error);
    for (const auto& requester : requesters_)
        Notify(requester, state, error);
}

void DialupManager::Dial(const QPointer<QObject>& requester)
{
    QMutexLocker guard(&lock_);
    if (!requester)
        return;
    requesters_.push_back(requester);
    if (handle_) {
        int state = 0;
        if (service_.ConnectStatus(*handle_, &state) == 0 && state == kDialConnected) {
            Notify(requester, kDialConnected, 0);
            return;
        }
        // A line that was up and has dropped since is of no use to anyone:
        // keeping its handle would leave this requester waiting for ever.
        if (lineWasUp_)
            ForgetLine();
    }
    // A redial that waits for the old line to be released is a dialling
    // under way too: starting another one would dial twice.
    if (!handle_ && !waitingForRelease_)
        StartDialling();
}

void DialupManager::HangUp(const QPointer<QObject>& requester)
{
    QMutexLocker guard(&lock_);
    if (!requester)
        return;
    auto it = std::find(requesters_.begin(), requesters_.end(), requester);
    if (it == requesters_.end()) {
        Notify(requester, 0, kDialErrorNotHeld);
        return;
    }
    requesters_.erase(it);
    if (requesters_.empty()) {
        HangUpLine();
        redialCount_ = 0;
        Notify(mainWindow_, kDialDisconnected, 0);
    }
    Notify(requester, kDialDisconnected, 0);
}

void DialupManager::ForgetLine()
{
    // A line the program dialled is given back to the service; one it found
    // up is not its own to hang up.
    if (handle_ && !foundUp_)
        service_.HangUp(*handle_);
    handle_.reset();
    foundUp_ = false;
    lineWasUp_ = false;
}

void DialupManager::StartDialling()
{
    foundUp_ = false;
    lineWasUp_ = false;
    if (auto active = service_.ActiveConnection()) {
        handle_ = active;
        int state = 0;
        if (service_.ConnectStatus(*active, &state) == 0 && state == kDialConnected) {
            foundUp_ = true;
            lineWasUp_ = true;
            NotifyAll(kDialConnected, 0);
            return;
        }
        handle_.reset();
    }

    DialParams params;
    params.entry = settings_.entry.empty() ? service_.DefaultEntry() : settings_.entry;
    bool passwordSaved = false;
    service_.EntryDialParams(params.entry, &params, &passwordSaved);
    // The service's saved password wins; the one kept in the settings is the fallback.
    if (params.password.empty())
        params.password = settings_.password;

    QPointer<QObject> self(this);
    auto sink = [self](int state, int error) {
        PostMessage(self, kMsgDialEvent, 0, std::make_unique<DialEventRecord>(state, error));
    };
    uint64_t handle = 0;
    const int error = service_.Dial(params, sink, &handle);
    if (error != 0) {
        HangUpLine();
        NotifyAll(0, error);
        return;
    }
    handle_ = handle;
}

void DialupManager::HangUpLine()
{
    lineWasUp_ = false;
    if (foundUp_) {
        // Left up, but forgotten: the next dialling looks at the line afresh.
        handle_.reset();
        foundUp_ = false;
        return;
    }
    if (handle_) {
        service_.HangUp(*handle_);
        handle_.reset();
    }
}

void DialupManager::OnDialEvent(int state, int error)
{
    QMutexLocker guard(&lock_);
    if (error == 0) {
        if (state == kDialConnected) {
            redialCount_ = 0;
            lineWasUp_ = true;
        }
        NotifyAll(state, 0);
        return;
    }
    if (error == kDialErrorLineBusy && redialCount_ < settings_.retries) {
        releasingHandle_ = handle_;
        HangUpLine();
        ++redialCount_;
        waitingForRelease_ = true;
        PostMessage(QPointer<QObject>(this), MsgDialupRedial);
        return;
    }
    HangUpLine();
    redialCount_ = 0;
    NotifyAll(0, error);
}

void DialupManager::OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record)
{
    if (message == kMsgDialEvent) {
        if (auto* event = dynamic_cast<DialEventRecord*>(record.get()))
            OnDialEvent(event->state, event->error);
    } else if (message == MsgDialupRedial) {
        // Wait until the service has let go of the old connection, then give
        // the line a moment before dialling again.
        SetTimer(kTimerReleasePoll, kReleasePollMs);
    }
}

void DialupManager::OnTimer(int id)
{
    if (id == kTimerReleasePoll) {
        int state = 0;
        if (!releasingHandle_ || service_.ConnectStatus(*releasingHandle_, &state) == DialupService::kStatusHandleGone) {
            KillTimer(kTimerReleasePoll);
            releasingHandle_.reset();
            SetTimer(kTimerRedial, redialDelayMs_);
        }
    } else if (id == kTimerRedial) {
        KillTimer(kTimerRedial);
        QMutexLocker guard(&lock_);
        waitingForRelease_ = false;
        if (!requesters_.empty())
            StartDialling();
    }
}

std::optional<std::string> DialupStatusText(int state, int error)
{
    switch (error) {
    case 0:
        break;
    case kDialErrorRemoteHungUp:
        return "接続先から接続を切断されました";
    case kDialErrorHardware:
        return "モデムの反応がありません";
    case kDialErrorLineBusy:
        return "回線が使用中です";
    case kDialErrorNoDialTone:
        return "ダイアルトーンが検出できません";
    default:
        return "予期せぬエラーが発生しました";
    }
    switch (state) {
    case kDialOpenPort:
        return "ダイアル中";
    case kDialAuthenticate:
    case kDialStartAuthentication:
        return "認証中";
    case kDialLogonNetwork:
        return "ログオン中";
    case kDialConnected:
        return "ダイアルアップ接続中";
    case kDialDisconnected:
        return "ダイアルアップ未接続";
    default:
        return std::nullopt;
    }
}

} // namespace ormbrook
