#pragma once
// What a crawl needs of the dial-up connection: ask for it and give it back.
// The answers arrive later as MsgDialupNotify messages posted to the
// requester (wParam: the connection state; record: DialupNotifyRecord).

#include "platform/posted_message.h"

#include <QObject>
#include <QPointer>

namespace ormbrook {

// Connection states and errors of the dial-up service that the program acts on.
constexpr int kDialOpenPort = 0;
constexpr int kDialAuthenticate = 5;
constexpr int kDialStartAuthentication = 19;
constexpr int kDialLogonNetwork = 21;
constexpr int kDialConnected = 0x2000;
constexpr int kDialDisconnected = 0x2001;

constexpr int kDialErrorRemoteHungUp = 629;
constexpr int kDialErrorHardware = 630;
constexpr int kDialErrorLineBusy = 676;
constexpr int kDialErrorNoDialTone = 680;
constexpr int kDialErrorNotHeld = -1; // a requester gave back a connection it did not hold

struct DialupNotifyRecord : MessageRecord {
    DialupNotifyRecord(int s, int e) : state(s), error(e) {}
    int state;
    int error;
};

class DialupConnector {
public:
    virtual ~DialupConnector() = default;
    virtual void Dial(const QPointer<QObject>& requester) = 0;
    virtual void HangUp(const QPointer<QObject>& requester) = 0;
};

} // namespace ormbrook
