// Dial-up through NetworkManager, against a fake NetworkManager on a private
// bus: a profile found up is used and left up; one the program activates is
// deactivated after the last crawl that asked for it; two crawls share one
// activation; a failure reaches both.

#include "fake_network_manager.h"
#include "window_fixture.h"

#include "common/messages.h"
#include "platform/message_target.h"
#include "shell/dialup_manager.h"
#include "windows/nm_dialup.h"

#include <QDBusConnection>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

// A crawl's window, as the dial-up manager sees it.
class Requester : public MessageTarget {
public:
    std::vector<std::pair<int, int>> notices;
    bool Has(int state, int error) const
    {
        return std::find(notices.begin(), notices.end(), std::make_pair(state, error)) != notices.end();
    }
    bool Failed() const
    {
        return std::any_of(notices.begin(), notices.end(), [](auto& n) { return n.first == 0 && n.second != 0; });
    }

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        if (auto* n = dynamic_cast<DialupNotifyRecord*>(record.get()); n && message == MsgDialupNotify)
            notices.emplace_back(n->state, n->error);
    }
};

struct NetworkManagerFixture {
    ScratchDir scratch;
    PrivateBus bus;
    std::unique_ptr<FakeNetworkManager> fake;
    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<NetworkManagerDialup> service;

    bool Start(QList<FakeNetworkManager::Profile> profiles, std::string* why)
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            *why = "dbus-daemon is not installed";
            return false;
        }
        if (!bus.Start(scratch.path())) {
            *why = "the private bus did not start";
            return false;
        }
        fake = std::make_unique<FakeNetworkManager>(bus.address(), std::move(profiles));
        if (!fake->ok()) {
            *why = "the fake NetworkManager could not register";
            return false;
        }
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus.address(), "program"));
        service = std::make_unique<NetworkManagerDialup>(*client);
        if (!service->Available()) {
            *why = "the fake NetworkManager is not seen on the bus";
            return false;
        }
        return true;
    }
    ~NetworkManagerFixture()
    {
        service.reset();
        client.reset();
        QDBusConnection::disconnectFromBus("program");
    }
};

#define START_FAKE(f, profiles)                                                                                       \
    std::string why;                                                                                                  \
    if (!(f).Start(profiles, &why))                                                                                   \
    GTEST_SKIP() << why

const QList<FakeNetworkManager::Profile> kProfiles = {
    {"Home Wi-Fi", "802-11-wireless", false}, {"Office VPN", "vpn", false}, {"Mobile", "gsm", false}};

} // namespace

TEST(NetworkManagerDialup, ListsTheProfilesThatStandForDialupEntries)
{
    NetworkManagerFixture f;
    START_FAKE(f, kProfiles);
    EXPECT_EQ(f.service->EntryNames(), (std::vector<std::string>{"Office VPN", "Mobile"}));
    EXPECT_EQ(f.service->DefaultEntry(), "Office VPN");
    DialParams params;
    bool saved = true;
    EXPECT_TRUE(f.service->EntryDialParams("Mobile", &params, &saved));
    EXPECT_FALSE(saved);
    EXPECT_EQ(params.userName, "user2");
}

TEST(NetworkManagerDialup, AProfileFoundUpIsUsedAndLeftUp)
{
    NetworkManagerFixture f;
    START_FAKE(f, (QList<FakeNetworkManager::Profile>{{"Office VPN", "vpn", true}}));
    f.service->SetEntry("Office VPN");
    DialupManager manager(*f.service, {"Office VPN", 2, ""});
    Requester crawl;
    manager.Dial(&crawl);
    ASSERT_TRUE(WaitUntil([&] { return crawl.Has(kDialConnected, 0); }));
    EXPECT_TRUE(manager.foundUp());
    manager.HangUp(&crawl);
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(f.fake->activations(), 0);
    EXPECT_EQ(f.fake->deactivations(), 0);
}

TEST(NetworkManagerDialup, TwoCrawlsShareOneActivationDeactivatedAfterTheLast)
{
    NetworkManagerFixture f;
    START_FAKE(f, kProfiles);
    f.service->SetEntry("Office VPN");
    DialupManager manager(*f.service, {"Office VPN", 2, ""});
    Requester first, second;
    manager.Dial(&first);
    manager.Dial(&second);
    ASSERT_TRUE(WaitUntil([&] { return first.Has(kDialConnected, 0) && second.Has(kDialConnected, 0); }));
    EXPECT_FALSE(manager.foundUp());
    EXPECT_EQ(f.fake->activations(), 1);
    manager.HangUp(&first);
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(f.fake->deactivations(), 0) << "the second crawl still holds the line";
    manager.HangUp(&second);
    EXPECT_TRUE(WaitUntil([&] { return f.fake->deactivations() == 1; }));
    EXPECT_FALSE(first.Failed());
    EXPECT_FALSE(second.Failed());
}

TEST(NetworkManagerDialup, AFailedActivationReachesEveryRequester)
{
    NetworkManagerFixture f;
    START_FAKE(f, kProfiles);
    f.fake->FailActivations(true);
    DialupManager manager(*f.service, {"Mobile", 0, ""});
    Requester first, second;
    manager.Dial(&first);
    manager.Dial(&second);
    ASSERT_TRUE(WaitUntil([&] { return first.Failed() && second.Failed(); }));
    EXPECT_EQ(f.fake->activations(), 1);

    Requester third;
    DialupManager unknown(*f.service, {"No Such Profile", 0, ""});
    unknown.Dial(&third);
    EXPECT_TRUE(WaitUntil([&] { return third.Has(0, kDialErrorNoEntry); }));
}
