#include "shell/dialup_manager.h"

#include "common/messages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <map>

using namespace ormbrook;

namespace {

// A dial-up service driven by the test: it records every dial and lets the
// test play the service's progress reports.
class ScriptedService : public DialupService {
public:
    std::optional<uint64_t> ActiveConnection() override
    {
        for (const auto& [handle, state] : states)
            if (state == kDialConnected)
                return handle;
        return std::nullopt;
    }
    int ConnectStatus(uint64_t handle, int* state) override
    {
        auto it = states.find(handle);
        if (it == states.end())
            return kStatusHandleGone;
        *state = it->second;
        return 0;
    }
    std::string DefaultEntry() override { return "Default Entry"; }
    bool EntryDialParams(const std::string&, DialParams* params, bool* passwordSaved) override
    {
        params->userName = "user";
        params->password = savedPassword;
        *passwordSaved = !savedPassword.empty();
        return true;
    }
    int Dial(const DialParams& params, EventSink sink, uint64_t* handle) override
    {
        dials.push_back(params);
        if (failDialWith != 0)
            return failDialWith;
        *handle = nextHandle++;
        states[*handle] = kDialOpenPort;
        this->sink = std::move(sink);
        current = *handle;
        return 0;
    }
    void HangUp(uint64_t handle) override
    {
        hangUps.push_back(handle);
        states.erase(handle);
    }

    void Report(int state, int error)
    {
        if (error == 0)
            states[current] = state;
        sink(state, error);
    }

    std::map<uint64_t, int> states;
    std::vector<DialParams> dials;
    std::vector<uint64_t> hangUps;
    std::string savedPassword;
    int failDialWith = 0;
    uint64_t nextHandle = 100;
    uint64_t current = 0;
    EventSink sink;
};

class Requester : public MessageTarget {
public:
    std::vector<std::pair<int, int>> notices;

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        if (message == MsgDialupNotify)
            if (auto* notice = dynamic_cast<DialupNotifyRecord*>(record.get()))
                notices.emplace_back(notice->state, notice->error);
    }
};

void Pump(int ms = 0)
{
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        if (ms > 0)
            QThread::msleep(2);
    } while (timer.elapsed() < ms);
}

bool Has(const Requester& r, int state, int error)
{
    return std::find(r.notices.begin(), r.notices.end(), std::make_pair(state, error)) != r.notices.end();
}

} // namespace

TEST(DialupManager, TwoCrawlsShareOneDialAndTheLastOneHangsUp)
{
    ScriptedService service;
    DialupManager manager(service, {"Office", 2, ""});
    Requester mainWindow, first, second;
    manager.SetMainWindow(&mainWindow);

    manager.Dial(&first);
    manager.Dial(&second);
    ASSERT_EQ(service.dials.size(), 1u);
    EXPECT_EQ(service.dials[0].entry, "Office");
    service.Report(kDialConnected, 0);
    Pump();
    EXPECT_TRUE(Has(first, kDialConnected, 0));
    EXPECT_TRUE(Has(second, kDialConnected, 0));
    EXPECT_TRUE(Has(mainWindow, kDialConnected, 0));

    manager.HangUp(&first);
    Pump();
    EXPECT_TRUE(service.hangUps.empty());
    EXPECT_TRUE(Has(first, kDialDisconnected, 0));
    EXPECT_FALSE(Has(mainWindow, kDialDisconnected, 0));

    manager.HangUp(&second);
    Pump();
    EXPECT_EQ(service.hangUps.size(), 1u);
    EXPECT_TRUE(Has(mainWindow, kDialDisconnected, 0));
    EXPECT_TRUE(Has(second, kDialDisconnected, 0));
}

TEST(DialupManager, ALineThatWasUpIsUsedAndNeverHungUp)
{
    ScriptedService service;
    service.states[7] = kDialConnected;
    DialupManager manager(service, {"", 2, ""});
    Requester crawl;
    manager.Dial(&crawl);
    Pump();
    EXPECT_TRUE(service.dials.empty());
    EXPECT_TRUE(manager.foundUp());
    EXPECT_TRUE(Has(crawl, kDialConnected, 0));
    manager.HangUp(&crawl);
    Pump();
    EXPECT_TRUE(service.hangUps.empty());
    EXPECT_EQ(service.states.count(7), 1u);
}

// A line that was up and then dropped must not keep later crawls waiting:
// whether it was found up or dialled, and whether a crawl still held it.
TEST(DialupManager, ALineThatDroppedIsForgottenAndDialledAgain)
{
    for (const bool foundUp : {true, false})
        for (const bool stillHeld : {true, false}) {
            SCOPED_TRACE(testing::Message() << "found up " << foundUp << ", still held " << stillHeld);
            ScriptedService service;
            if (foundUp)
                service.states[7] = kDialConnected;
            DialupManager manager(service, {"", 2, ""});
            Requester first, second;
            manager.Dial(&first);
            if (!foundUp)
                service.Report(kDialConnected, 0);
            Pump();
            ASSERT_TRUE(Has(first, kDialConnected, 0));
            const size_t dialsBefore = service.dials.size();
            if (!stillHeld)
                manager.HangUp(&first);
            service.states.clear(); // the line drops
            manager.Dial(&second);
            ASSERT_EQ(service.dials.size(), dialsBefore + 1) << "a new dialling starts";
            service.Report(kDialConnected, 0);
            Pump();
            EXPECT_TRUE(Has(second, kDialConnected, 0));
        }
}

TEST(DialupManager, ABusyLineIsRedialledUpToTheRetryCountThenReported)
{
    ScriptedService service;
    DialupManager manager(service, {"", 2, ""});
    manager.SetRedialDelay(1);
    Requester crawl, mainWindow;
    manager.SetMainWindow(&mainWindow);
    manager.Dial(&crawl);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_EQ(service.dials.size(), static_cast<size_t>(attempt + 1));
        service.Report(0, kDialErrorLineBusy);
        Pump(150);
    }
    EXPECT_EQ(service.dials.size(), 3u);
    EXPECT_TRUE(Has(crawl, 0, kDialErrorLineBusy));
    EXPECT_TRUE(Has(mainWindow, 0, kDialErrorLineBusy));
    EXPECT_EQ(manager.redialCount(), 0);
}

TEST(DialupManager, EntryAndPasswordChoice)
{
    {
        ScriptedService service;
        DialupManager manager(service, {"", 0, "from-settings"});
        Requester crawl;
        manager.Dial(&crawl);
        ASSERT_EQ(service.dials.size(), 1u);
        EXPECT_EQ(service.dials[0].entry, "Default Entry");
        EXPECT_EQ(service.dials[0].password, "from-settings");
    }
    {
        ScriptedService service;
        service.savedPassword = "from-service";
        DialupManager manager(service, {"Office", 0, "from-settings"});
        Requester crawl;
        manager.Dial(&crawl);
        ASSERT_EQ(service.dials.size(), 1u);
        EXPECT_EQ(service.dials[0].password, "from-service");
    }
}

TEST(DialupManager, FailuresReachEveryoneAndStrangersAreToldTheyHoldNothing)
{
    ScriptedService service;
    service.failDialWith = kDialErrorNoDialTone;
    DialupManager manager(service, {"", 2, ""});
    Requester crawl, stranger;
    manager.Dial(&crawl);
    Pump();
    EXPECT_TRUE(Has(crawl, 0, kDialErrorNoDialTone));
    manager.HangUp(&stranger);
    Pump();
    EXPECT_TRUE(Has(stranger, 0, kDialErrorNotHeld));
}

TEST(DialupManager, AlwaysConnectedServiceIsFoundUp)
{
    AlwaysConnectedService service;
    DialupManager manager(service, {});
    Requester crawl;
    manager.Dial(&crawl);
    Pump();
    EXPECT_TRUE(manager.foundUp());
    EXPECT_TRUE(Has(crawl, kDialConnected, 0));
}

TEST(DialupStatusText, TextsForStatesAndErrors)
{
    struct Row {
        int state, error;
        std::optional<std::string> text;
    };
    const Row rows[] = {
        {0, 629, "接続先から接続を切断されました"},
        {0, 630, "モデムの反応がありません"},
        {0, 676, "回線が使用中です"},
        {0, 680, "ダイアルトーンが検出できません"},
        {0, 5, "予期せぬエラーが発生しました"},
        {0, 0, "ダイアル中"},
        {5, 0, "認証中"},
        {19, 0, "認証中"},
        {21, 0, "ログオン中"},
        {0x2000, 0, "ダイアルアップ接続中"},
        {0x2001, 0, "ダイアルアップ未接続"},
        {3, 0, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DialupStatusText(row.state, row.error), row.text) << row.state << "/" << row.error;
}
