// The manager's counting: five downloads at once, the sixth only after a
// slot has ended, a duplicate attached to the busy slot sharing its
// outcome, and a stop that puts the running entries back.

#include "common/messages.h"
#include "crawl/crawl_project.h"
#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "crawl/download_manager.h"
#include "engine/download_records.h"
#include "support/event_loop.h"
#include "support/fake_resolver.h"
#include "support/scratch_dir.h"
#include "support/fault_file_calls.h"
#include "support/script_server.h"

#include "engine/status_view_model.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

class StatusRecorder : public MessageTarget {
public:
    std::vector<uint32_t> messages;
    std::vector<int> contactingSlots;
    std::string stopReason;
    std::vector<std::string> causes; // of the failed downloads
    QPointer<QObject> manager;
    int slots = 0;
    bool over = false;

    int Count(uint32_t message) const { return static_cast<int>(std::count(messages.begin(), messages.end(), message)); }
    // Position of the n-th occurrence (0-based) of a message, or -1.
    int IndexOf(uint32_t message, int n) const
    {
        for (size_t i = 0; i < messages.size(); ++i)
            if (messages[i] == message && n-- == 0)
                return static_cast<int>(i);
        return -1;
    }

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override
    {
        // A counter message stands for as many counts as its wParam says.
        const bool counter = message >= MsgStatusDetected && message <= MsgStatusHtmlModified;
        messages.insert(messages.end(), counter ? size_t(StatusViewModel::CountOf(wParam)) : 1, message);
        if (auto* m = dynamic_cast<ManagerRecord*>(record.get())) {
            manager = m->manager;
            slots = m->slots;
            PostMessage(manager, MsgManagerStart);
        }
        if (auto* s = dynamic_cast<SlotUrlRecord*>(record.get()))
            contactingSlots.push_back(s->slot);
        if (auto* t = dynamic_cast<TextRecord*>(record.get()); t && message == MsgStatusStoppedByError)
            stopReason = t->text;
        if (auto* d = dynamic_cast<SlotDoneRecord*>(record.get()); d && !d->success)
            causes.push_back(d->cause);
        if (message == MsgStatusCrawlOver)
            over = true;
    }
};

// A crawl of some start URLs, run on the test's own thread.
class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = std::make_unique<AppSettings>(scratch.file("settings.ini"), scratch.path() + "program");
        settings->LoadSettings();
        settings->SetByName("MirrorDir", scratch.path() + "mirror/");
        root = ProjectItem::NewRoot("P");
        root->GraphMax = 0;
    }

    void AddRecord(const std::string& url) { AppendChild(*root, ProjectItem::NewRecord(url)); }

    void StartCrawl(DialupConnector* dialup = nullptr)
    {
        project = std::make_unique<CrawlProject>(settings->values().MirrorDir, "P");
        project->root = root.get();
        project->mirrorLock = &mirrorLock;
        ASSERT_EQ(project->OpenQueues(nullptr), CrawlProject::OpenResult::Ok);
        CrawlRequestRecord request;
        request.statusWindow = &status;
        request.project = project.get();
        request.settings = settings.get();
        request.dialup = dialup;
        CreateManagerFor(std::make_unique<CrawlRequestRecord>(request));
    }

    std::string Url(const ScriptServer& server, const std::string& path)
    {
        return "http://127.0.0.1:" + std::to_string(server.port()) + path;
    }

    ScratchDir scratch;
    EventWindowScope window;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ProjectItem> root;
    QMutex mirrorLock;
    std::unique_ptr<CrawlProject> project;
    StatusRecorder status;
};

const char kReply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nbody";

} // namespace

// Every failure says why, the plain ones too.
TEST_F(ManagerTest, EveryFailureSaysWhy)
{
    ASSERT_TRUE(settings->SetByName("ReplyRcvTimeout", "1"));
    ASSERT_TRUE(settings->SetByName("DLRetry", "0"));
    ScriptServer missing({ReadHead(), Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), KeepOpen(3000)});
    ScriptServer silent({ReadHead(), KeepOpen(5000)});
    AddRecord(Url(missing, "/gone.html"));
    AddRecord(Url(silent, "/slow.html"));
    AddRecord("http://127.0.0.1:" + std::to_string(ScriptServer::UnusedPort()) + "/");
    // Fetched well, but no file system takes a name of 305 bytes.
    ScriptServer longName({ReadHead(), Send(kReply), Close()});
    AddRecord(Url(longName, "/" + std::string(300, 'n') + ".html"));
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    std::sort(status.causes.begin(), status.causes.end());
    EXPECT_EQ(status.causes, (std::vector<std::string>{"404 Not Found", "connection refused",
                                                       "not stored: the file name is too long for the file system",
                                                       "time-out: reply"}));
    EXPECT_EQ(status.Count(MsgStatusFailed), 4);
}

TEST_F(ManagerTest, FiveAtOnceTheSixthAfterASlotHasEnded)
{
    ScriptServer server({ReadHead(), Pause(400), Send(kReply), Close()});
    for (int i = 0; i < 6; ++i)
        AddRecord(Url(server, "/p" + std::to_string(i) + ".txt"));
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return server.Connections() >= 5; }, 5000));
    RunFor(150);
    EXPECT_EQ(server.Connections(), 5u);
    EXPECT_EQ(status.Count(MsgStatusContacting), 5);
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    EXPECT_EQ(server.Connections(), 6u);
    EXPECT_EQ(status.Count(MsgStatusVisited), 6);
    // The sixth download was started only after the first slot reported its end.
    EXPECT_LT(status.IndexOf(MsgStatusSlotDone, 0), status.IndexOf(MsgStatusContacting, 5));
    // ... and on the slot that had become free.
    EXPECT_EQ(status.contactingSlots.size(), 6u);
    EXPECT_EQ(status.Count(MsgStatusCrawlOver), 1);
    EXPECT_TRUE(project->urlQueue.IsEmpty());
}

TEST_F(ManagerTest, AsManyAtOnceAsMaxDownloadsSays)
{
    ScriptServer server({ReadHead(), Pause(400), Send(kReply), Close()});
    ASSERT_TRUE(settings->SetByName("MaxDownloads", "16"));
    for (int i = 0; i < 17; ++i)
        AddRecord(Url(server, "/p" + std::to_string(i) + ".txt"));
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return server.Connections() >= 16; }, 5000));
    RunFor(150);
    EXPECT_EQ(server.Connections(), 16u);
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    EXPECT_EQ(status.Count(MsgStatusVisited), 17);
    EXPECT_EQ(status.slots, 16) << "the status view is told how many rows to show";
    EXPECT_EQ(*std::max_element(status.contactingSlots.begin(), status.contactingSlots.end()), 15);
}

// A host in Unicode is resolved and asked for by its ASCII form, and the
// mirror keeps it under that name; the test's resolver knows only that form.
TEST_F(ManagerTest, AHostInUnicodeIsResolvedAndAskedForByItsAsciiForm)
{
    const std::string ascii = "xn--r8jz45g.xn--zckzah";
    FakeResolver resolver;
    resolver.SetAnswer(ascii, LookupAnswer{0, {*SocketAddress::FromLiteral("127.0.0.1")}});
    ScopedHostResolver use(resolver);
    ScriptServer server({ReadHead(), Send(kReply), Close()});
    CUrl start;
    ASSERT_TRUE(start.Parse("http://例え.テスト:" + std::to_string(server.port()) + "/p.txt"));
    AddRecord(start.url());
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    EXPECT_EQ(status.Count(MsgStatusVisited), 1);
    EXPECT_EQ(resolver.asked, std::vector<std::string>{ascii});
    const std::string request = server.Received(0);
    EXPECT_NE(request.find("\r\nHOST:" + ascii + ":" + std::to_string(server.port()) + "\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("\xe4\xbe\x8b"), std::string::npos) << request;
    EXPECT_TRUE(std::filesystem::exists(scratch.path() + "mirror/P/" + ascii + "/p.txt"));
}

TEST_F(ManagerTest, ADuplicateIsAttachedAndSharesTheOutcome)
{
    ScriptServer server({ReadHead(), Pause(300), Send(kReply), Close()});
    AddRecord(Url(server, "/same.txt"));
    AddRecord(Url(server, "/same.txt"));
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(status.Count(MsgStatusVisited), 2);
    EXPECT_EQ(status.Count(MsgStatusSlotDone), 1);
}

TEST_F(ManagerTest, StopPutsRunningEntriesBackAndEndsOnce)
{
    ScriptServer server({ReadHead(), KeepOpen(5000)});
    for (int i = 0; i < 3; ++i)
        AddRecord(Url(server, "/s" + std::to_string(i) + ".txt"));
    StartCrawl();
    ASSERT_TRUE(RunUntil([&] { return server.Connections() >= 3; }, 5000));
    PostMessage(status.manager, MsgManagerStop);
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 5000));
    RunFor(50);
    EXPECT_EQ(status.Count(MsgStatusCrawlOver), 1);
    int queued = 0;
    project->urlQueue.ForEach([&](const QueueEntry&) { ++queued; });
    EXPECT_EQ(queued, 3);
    EXPECT_EQ(status.Count(MsgStatusVisited), 0);
}

namespace {

class ScriptedDialup : public DialupConnector {
public:
    void Dial(const QPointer<QObject>& requester) override { requesters.push_back(requester); }
    void HangUp(const QPointer<QObject>& requester) override { hungUp.push_back(requester); }
    std::vector<QPointer<QObject>> requesters;
    std::vector<QPointer<QObject>> hungUp;
};

} // namespace

TEST_F(ManagerTest, WithAutoDialupNothingIsFetchedBeforeTheLineIsUp)
{
    ScriptServer server({ReadHead(), Send(kReply), Close()});
    AddRecord(Url(server, "/d.txt"));
    settings->SetByName("AutoDialup", "1");
    ScriptedDialup dialup;
    StartCrawl(&dialup);
    ASSERT_TRUE(RunUntil([&] { return !dialup.requesters.empty(); }, 5000));
    RunFor(200);
    EXPECT_EQ(server.Connections(), 0u);
    // Progress of the dialling changes nothing; the line coming up starts the crawl.
    PostMessage(dialup.requesters[0], MsgDialupReply, kDialAuthenticate,
                std::make_unique<DialupNotifyRecord>(kDialAuthenticate, 0));
    RunFor(100);
    EXPECT_EQ(server.Connections(), 0u);
    PostMessage(dialup.requesters[0], MsgDialupReply, kDialConnected,
                std::make_unique<DialupNotifyRecord>(kDialConnected, 0));
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
    EXPECT_EQ(server.Connections(), 1u);
    // The crawl gave the line back when its fetching was done.
    EXPECT_EQ(dialup.hungUp.size(), 1u);
}

TEST_F(ManagerTest, AFailedDialEndsTheCrawlWithoutFetching)
{
    ScriptServer server({ReadHead(), Send(kReply), Close()});
    AddRecord(Url(server, "/d.txt"));
    settings->SetByName("AutoDialup", "1");
    ScriptedDialup dialup;
    StartCrawl(&dialup);
    ASSERT_TRUE(RunUntil([&] { return !dialup.requesters.empty(); }, 5000));
    PostMessage(dialup.requesters[0], MsgDialupReply, 0, std::make_unique<DialupNotifyRecord>(0, 676));
    ASSERT_TRUE(RunUntil([&] { return status.over; }, 5000));
    EXPECT_EQ(server.Connections(), 0u);
}

// A crawl that can't write a file for want of room stops as the stop
// command stops it: it says why, keeps what was there, and leaves the work
// in its queues for the next crawl.
TEST_F(ManagerTest, AFullDiskStopsTheCrawlAndKeepsTheWorkQueued)
{
    const struct {
        const char* intent;
        const char* failingFile; // writes to files whose path ends so fail
        bool fetchQueued;        // the page waits in the URL queue (else in the localise queue)
        std::string left;        // the page's file in the mirror afterwards
    } rows[] = {
        {"the download's temporary file", ".dat", true, "old copy"},
        {"the localising rewrite", "tmp.html", false, "<a href=x.html>x</a>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.intent);
        ScriptServer server({ReadHead(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<a href=x.html>x</a>"),
                             Close()});
        const std::string url = Url(server, "/page.html");
        root = ProjectItem::NewRoot("P");
        root->GraphMax = 0;
        AddRecord(url);
        const std::string local = CMirror(settings->values().MirrorDir, "P").LocalPath(url, "P").value();
        ASSERT_EQ(MakeDirectories(local.substr(0, local.rfind('/') + 1), true), MirrorResult::Ok);
        std::ofstream(local) << "old copy";
        status.messages.clear();
        status.over = false;
        FaultFileCalls files;
        const std::string suffix = row.failingFile;
        files.onWrite = [suffix](const std::string& path, size_t) -> std::optional<int> {
            if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
                return ENOSPC;
            return std::nullopt;
        };
        ScopedFileCalls use(files);
        StartCrawl();
        ASSERT_TRUE(RunUntil([&] { return status.over; }, 10000));
        EXPECT_EQ(status.Count(MsgStatusStoppedByError), 1);
        EXPECT_LT(status.IndexOf(MsgStatusStoppedByError, 0), status.IndexOf(MsgStatusCrawlOver, 0));
        EXPECT_EQ(status.stopReason.find("cannot write "), 0u) << status.stopReason;
        EXPECT_NE(status.stopReason.find(row.failingFile), std::string::npos) << status.stopReason;
        EXPECT_NE(status.stopReason.find("No space left on device"), std::string::npos) << status.stopReason;
        std::ifstream in(local);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), row.left);
        std::vector<std::string> fetch, localise;
        project->urlQueue.ForEach([&](const QueueEntry& e) { fetch.push_back(e.url); });
        project->localiseQueue.ForEach([&](const QueueEntry& e) { localise.push_back(e.url); });
        EXPECT_EQ(fetch, row.fetchQueued ? std::vector<std::string>{url} : std::vector<std::string>{});
        EXPECT_EQ(localise, row.fetchQueued ? std::vector<std::string>{} : std::vector<std::string>{url});
        project.reset();
        std::filesystem::remove_all(settings->values().MirrorDir);
    }
}
