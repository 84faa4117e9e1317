// The picture cycle's rules, with fake receivers in place of the programs:
// who is told, what the block holds, when the next cycle comes, and that a
// receiver that never answers does not stop the cycle.

#include "pictures/picture_cycle.h"

#include "common/picture_block.h"
#include "pictures/mirror_pages.h"
#include "pictures/picture_sinks.h"
#include "pictures/queue_file_pickup_store.h"
#include "platform/program_channel.h"
#include "platform/shared_block.h"
#include "support/env_scope.h"
#include "support/event_loop.h"
#include "support/jpeg_maker.h"

#include <gtest/gtest.h>

#include <QThread>

#include <fstream>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

// What a receiver read from the block when it was told.
struct Told {
    ReceiverLinks::Program program;
    uint32_t mainWindow = 0;
    bool blockRead = false;
    int32_t drawType = -1;
    int32_t bgColor = -1;
    std::string caption;
    std::string path;
    int32_t width = 0;
};

struct FakeLinks : ReceiverLinks {
    bool saver = false;
    bool slide = false;
    bool deliver = true;
    bool holdConnection = false;
    int starts = 0;
    int closes = 0;
    std::mutex mutex;
    std::vector<Told> told;
    std::vector<int> farEnds; // the receivers' ends of held connections

    ~FakeLinks() override
    {
        for (int fd : farEnds)
            ::close(fd);
    }
    bool Exists(Program p) override { return p == Saver ? saver : slide; }
    std::optional<Delivery> NotifyNewPicture(Program p, uint32_t mainWindow) override
    {
        Told t {p, mainWindow};
        SharedBlock block;
        if (block.OpenForReading(kPictureBlockName)) {
            if (auto view = ReadPictureBlock(block.constData(), block.size())) {
                t.blockRead = true;
                t.drawType = view->header.drawType;
                t.bgColor = view->header.bgColor;
                t.caption = std::string(view->texts.caption);
                t.path = std::string(view->texts.path);
                t.width = view->layout.width;
            }
        }
        std::lock_guard lock(mutex);
        told.push_back(t);
        if (!deliver)
            return std::nullopt;
        Delivery d {p == Saver ? 500u : 600u, -1};
        if (holdConnection) {
            int pair[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
                d.fd = pair[0];
                farEnds.push_back(pair[1]);
            }
        }
        return d;
    }
    void CloseSlideWindow() override { ++closes; }
    bool StartSlideWindow() override { return ++starts, true; }
    bool SlideWindowStarting() override { return false; }

    size_t count()
    {
        std::lock_guard lock(mutex);
        return told.size();
    }
    Told last()
    {
        std::lock_guard lock(mutex);
        return told.back();
    }
};

struct FakeDesktop : DesktopReceiver {
    PictureCycle* cycle = nullptr;
    int starts = 0;
    int stops = 0;
    std::atomic<int> shown {0};
    void Start() override { ++starts; }
    void Stop() override { ++stops; }
    void ShowPicture(uint32_t) override { ++shown; }
};

class CycleTest : public ::testing::Test {
public:
    CycleTest() : mirror(scope.path())
    {
        queue = std::make_unique<CPickupQueue>(std::make_unique<QueueFilePickupStore>(), mirror);
        queue->OpenPickupQueue(scope.path() + "WP.lst");
    }

    void MakeCycle(DesktopReceiver* desktop = nullptr, int patienceMs = kReceiverPatienceMs)
    {
        PictureCycleSetup setup;
        setup.buildSources = [this](const std::function<void(const PickupEntry&)>& add) {
            for (const auto& s : sources)
                add(s);
        };
        setup.mainWindow = 4242;
        setup.runPanel = [this] {
            if (panel)
                panel();
        };
        setup.patienceMs = patienceMs;
        setup.largestViewSide = 8; // the test pictures are 8 pixels high

        cycle = std::make_unique<PictureCycle>(*queue, links, desktop, setup);
    }

    // A picture file entry, queued so that the one queued last comes first.
    std::string Picture(const std::string& name, int width, int drawType = 7, bool queueIt = true, int interval = 1)
    {
        const std::string path = scope.path() + name;
        WriteSolidJpeg(path, width, 8, 200, 10, 10);
        if (queueIt) {
            PickupEntry e;
            e.path = path;
            e.drawType = drawType;
            e.bgColor = 0x123456;
            e.interval = interval;
            queue->AddEntry(e);
        }
        return path;
    }

    void Answer(uint32_t receiver)
    {
        uint32_t reply = 0;
        cycle->OnReceiverFrame({MsgPictureShown, 0, receiver, {}}, reply);
    }
    bool RunCycle(size_t toldBefore)
    {
        cycle->TickNow();
        return RunUntil([&] { return links.count() > toldBefore || !cycle->cycleBusy(); });
    }
    bool WaitEnd() { return RunUntil([&] { return !cycle->cycleBusy(); }); }

    UserScope scope;
    CrawlMirrorPages mirror;
    std::unique_ptr<CPickupQueue> queue;
    FakeLinks links;
    std::vector<PickupEntry> sources;
    std::function<void()> panel;
    std::unique_ptr<PictureCycle> cycle;
};

} // namespace

TEST_F(CycleTest, TheBlockCarriesThePictureAndTheCycleWaitsForTheAnswer)
{
    links.slide = true;
    MakeCycle();
    const std::string path = Picture("a.jpg", 24);
    ASSERT_TRUE(RunCycle(0));
    ASSERT_EQ(links.count(), 1u);
    const Told t = links.last();
    EXPECT_EQ(t.program, ReceiverLinks::SlideWindow);
    EXPECT_EQ(t.mainWindow, 4242u);
    ASSERT_TRUE(t.blockRead);
    EXPECT_EQ(t.path, path);
    EXPECT_EQ(t.drawType, 7);
    EXPECT_EQ(t.bgColor, 0x123456);
    EXPECT_EQ(t.width, 24);
    EXPECT_EQ(cycle->currentPicture(), path);

    // Until the slide window answers, the block stays and no cycle is armed.
    RunFor(50);
    EXPECT_TRUE(cycle->cycleBusy());
    EXPECT_EQ(cycle->armedInterval(), -1);
    Answer(999); // somebody else's answer changes nothing
    EXPECT_TRUE(cycle->cycleBusy());
    Answer(600);
    EXPECT_FALSE(cycle->cycleBusy());
    SharedBlock gone;
    EXPECT_FALSE(gone.OpenForReading(kPictureBlockName));
    EXPECT_EQ(cycle->armedInterval(), 1000); // the entry's interval, 1 s

    EXPECT_EQ(queue->history().count(), 1u);
}

TEST_F(CycleTest, AScreenSaverOutranksTheOthersAndTheSlideWindowFollowsIt)
{
    links.saver = true;
    links.slide = true;
    FakeDesktop desktop;
    MakeCycle(&desktop);
    cycle->ToggleDesktopMode();
    Picture("b.jpg", 16);
    Picture("a.jpg", 16);
    ASSERT_TRUE(RunCycle(0));
    ASSERT_EQ(links.count(), 1u);
    EXPECT_EQ(links.last().program, ReceiverLinks::Saver);
    Answer(500); // perhaps before the worker has heard the saver's receipt
    EXPECT_TRUE(WaitEnd());
    EXPECT_EQ(desktop.shown, 0);

    // The saver ends: the next picture goes to the slide window and the desktop.
    links.saver = false;
    uint32_t reply = 0;
    cycle->OnReceiverFrame({MsgSaverEnded, 0, 0, {}}, reply);
    EXPECT_GE(cycle->armedInterval(), 0);
    ASSERT_TRUE(RunCycle(1));
    EXPECT_EQ(links.last().program, ReceiverLinks::SlideWindow);
    ASSERT_TRUE(RunUntil([&] { return desktop.shown == 1; }));
    // Both were told: both must answer.
    Answer(600);
    EXPECT_TRUE(cycle->cycleBusy());
    Answer(kDesktopHandle);
    EXPECT_TRUE(WaitEnd());
}

TEST_F(CycleTest, NoCycleAfterTheLastReceiverHasGone)
{
    links.slide = true;
    MakeCycle();
    Picture("a.jpg", 16);
    ASSERT_TRUE(RunCycle(0));
    links.slide = false;
    Answer(600);
    EXPECT_TRUE(WaitEnd());
    EXPECT_EQ(cycle->armedInterval(), -1);
    SharedBlock gone;
    EXPECT_FALSE(gone.OpenForReading(kPictureBlockName));
}

TEST_F(CycleTest, FailuresRetryAfterASecond)
{
    struct Case {
        const char* intent;
        std::function<void(CycleTest&)> queueIt;
    } cases[] = {
        {"a file that has gone", [](CycleTest& t) {
             const std::string p = t.Picture("gone.jpg", 8);
             std::remove(p.c_str());
         }},
        {"a file that is no JPEG", [](CycleTest& t) {
             const std::string p = t.Picture("bad.jpg", 8);
             std::ofstream(p, std::ios::trunc) << "\xff\xd8 broken";
         }},
        {"a receiver that takes nothing", [](CycleTest& t) {
             t.Picture("a.jpg", 8);
             t.links.deliver = false;
         }},
    };
    for (const Case& c : cases) {
        links.slide = true;
        links.deliver = true;
        MakeCycle();
        c.queueIt(*this);
        cycle->TickNow();
        ASSERT_TRUE(WaitEnd()) << c.intent;
        EXPECT_EQ(cycle->armedInterval(), kRetryMs) << c.intent;
        queue->ClearQueue();
    }
}

TEST_F(CycleTest, WithNothingToShowTheCycleWaitsForAPictureInsteadOfSpinning)
{
    links.slide = true;
    MakeCycle();
    int nothing = 0;
    QObject::connect(cycle.get(), &PictureDistribution::nothingToShow, [&] { ++nothing; });
    cycle->TickNow();
    EXPECT_FALSE(cycle->cycleBusy());
    EXPECT_EQ(cycle->armedInterval(), kRetryMs);
    cycle->TickNow();
    EXPECT_EQ(nothing, 1) << "the user is told once that there is nothing to show";
    // A new download comes in: the cycle goes at once.
    Picture("new.jpg", 8);
    cycle->QueueGrew();
    ASSERT_TRUE(RunUntil([&] { return links.count() == 1; }, 500));
}

TEST_F(CycleTest, ASilentReceiverIsGivenUpAndAClosedOneCountsAsAnswered)
{
    // The window goes away without answering.
    links.slide = true;
    links.holdConnection = true;
    MakeCycle();
    Picture("a.jpg", 8);
    ASSERT_TRUE(RunCycle(0));
    RunFor(50);
    EXPECT_TRUE(cycle->cycleBusy());
    ::close(links.farEnds.back());
    links.farEnds.pop_back();
    EXPECT_TRUE(WaitEnd());
    EXPECT_NE(cycle->armedInterval(), -1);

    // The window stays but never answers: given up after the patience.
    MakeCycle(nullptr, 200);
    Picture("b.jpg", 8);
    ASSERT_TRUE(RunCycle(1));
    RunFor(100);
    EXPECT_TRUE(cycle->cycleBusy());
    EXPECT_TRUE(RunUntil([&] { return !cycle->cycleBusy(); }, 2000));
    EXPECT_NE(cycle->armedInterval(), -1);
}

TEST_F(CycleTest, PanelStepsLetOnePictureThroughEachWithNoEffect)
{
    links.slide = true;
    MakeCycle();
    const std::string c = Picture("c.jpg", 8);
    const std::string b = Picture("b.jpg", 8);
    const std::string a = Picture("a.jpg", 8);
    ASSERT_TRUE(RunCycle(0));
    Answer(600);
    ASSERT_TRUE(WaitEnd());
    EXPECT_EQ(links.last().path, a);
    EXPECT_EQ(links.last().drawType, 7);

    std::vector<Told> seen;
    bool stepsHeld = false;
    panel = [&] {
        // The armed timer fires at once, but the worker waits for a step.
        RunFor(100);
        stepsHeld = links.count() == 1;
        cycle->PanelNext();
        RunUntil([&] { return links.count() == 2; });
        seen.push_back(links.last());
        Answer(600);
        RunFor(100);
        cycle->PanelPrevious();
        RunUntil([&] { return links.count() == 3; });
        seen.push_back(links.last());
        Answer(600);
        RunFor(50);
    };
    uint32_t reply = 0;
    cycle->OnReceiverFrame({MsgOpenPicturePanel, 0, 0, {}}, reply);
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 2 && !cycle->panelOpen(); }));
    EXPECT_TRUE(stepsHeld);
    EXPECT_EQ(seen[0].path, b);
    EXPECT_EQ(seen[0].drawType, 0);
    EXPECT_EQ(seen[1].path, a);
    EXPECT_EQ(seen[1].drawType, 0);
    // After the panel the show goes on by itself, with the entry's effect.
    ASSERT_TRUE(RunUntil([&] { return links.count() == 4; }));
    EXPECT_EQ(links.last().drawType, 7);
    EXPECT_EQ(links.last().path, b);
}

TEST_F(CycleTest, TheSlideWindowCommandStartsAndClosesIt)
{
    MakeCycle();
    cycle->ToggleSlideWindow();
    EXPECT_EQ(links.starts, 1);
    EXPECT_EQ(cycle->armedInterval(), kRetryMs); // the first cycle after a second

    links.slide = true;
    Picture("a.jpg", 8);
    ASSERT_TRUE(RunCycle(0));
    RunFor(50);
    EXPECT_FALSE(cycle->currentPicture().empty());
    // Closing it while it draws: it will not answer, and nothing else waits.
    cycle->ToggleSlideWindow();
    EXPECT_EQ(links.closes, 1);
    EXPECT_TRUE(cycle->currentPicture().empty());
    EXPECT_FALSE(cycle->cycleBusy());
    EXPECT_EQ(cycle->armedInterval(), -1);
}

TEST_F(CycleTest, TheChangerWaitsForItsStopAndSoDoesTheExit)
{
    FakeDesktop desktop;
    MakeCycle(&desktop);
    cycle->ToggleDesktopMode();
    EXPECT_TRUE(cycle->desktopMode());
    EXPECT_EQ(desktop.starts, 1);
    cycle->ToggleDesktopMode();
    EXPECT_FALSE(cycle->desktopMode());
    EXPECT_TRUE(cycle->desktopStopping());
    // On again before "stopped": nothing happens.
    cycle->ToggleDesktopMode();
    EXPECT_FALSE(cycle->desktopMode());
    EXPECT_EQ(desktop.starts, 1);
    uint32_t reply = 0;
    cycle->OnReceiverFrame({MsgDesktopStopped, 0, 0, {}}, reply);
    EXPECT_FALSE(cycle->desktopStopping());
    cycle->ToggleDesktopMode();
    EXPECT_EQ(desktop.starts, 2);

    bool closed = false;
    cycle->PrepareExit([&] { closed = true; });
    EXPECT_FALSE(closed);
    EXPECT_EQ(desktop.stops, 2);
    cycle->OnReceiverFrame({MsgDesktopStopped, 0, 0, {}}, reply);
    EXPECT_TRUE(closed);
}

TEST_F(CycleTest, PicturesFromCrawlsElsewhereAreTakenWhileSomebodyShowsThem)
{
    MakeCycle();
    const std::string path = Picture("x.jpg", 8, 7, false);
    PickupEntry e;
    e.caption = "New Picture";
    e.path = path;
    const std::vector<uint8_t> record = EncodePickupRecord(e);
    const ChannelFrame frame {MsgOfferPicture | kFrameCarriesText, 0, 0,
                              std::string(reinterpret_cast<const char*>(record.data()), record.size())};
    uint32_t reply = 0;
    EXPECT_TRUE(cycle->OnReceiverFrame(frame, reply));
    EXPECT_TRUE(queue->IsQueueEmpty());
    links.slide = true;
    EXPECT_TRUE(cycle->OnReceiverFrame(frame, reply));
    auto taken = queue->TakeEntry();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->caption, "New Picture");
    EXPECT_EQ(taken->path, path);
    // Frames that are not the picture side's are left to the window.
    EXPECT_FALSE(cycle->OnReceiverFrame({MsgClose, 0, 0, {}}, reply));
}

TEST(HeadlessPictureSink, HandsPicturesToTheDesktopProgramOnly)
{
    UserScope scope;
    const std::string pic = scope.path() + "p.jpg";
    WriteSolidJpeg(pic, 20, 10, 1, 2, 3);
    StoredPicture stored;
    stored.localPath = pic;
    stored.bgColor = 0x0A0B0C;
    stored.drawType = 3;
    stored.minWidth = 10;
    stored.interval = 9;
    HeadlessPictureSink sink;

    // No desktop program, so no receiver: nothing is offered, nothing waits.
    sink.PictureStored(stored);

    // The desktop program runs: the picture goes to its window instead.
    QThread thread;
    thread.start();
    std::vector<ChannelFrame> frames;
    std::mutex framesMutex;
    auto* window = new ChannelServer([&](const ChannelFrame& f) {
        std::lock_guard lock(framesMutex);
        frames.push_back(f);
        return 0u;
    });
    window->moveToThread(&thread);
    QMetaObject::invokeMethod(window, [&] { window->Listen(kMainProgramTitle); }, Qt::BlockingQueuedConnection);
    NamedLock held(kPickupQueueLockName);
    ASSERT_TRUE(held.TryAcquire());
    sink.PictureStored(stored);
    ASSERT_TRUE(RunUntil([&] {
        std::lock_guard lock(framesMutex);
        return frames.size() == 1;
    }));
    QMetaObject::invokeMethod(window, [&] { delete window; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    EXPECT_EQ(frames[0].message, MsgOfferPicture | kFrameCarriesText);
    auto e = DecodePickupRecord(frames[0].text);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->caption, "New Picture");
    EXPECT_EQ(e->path, pic);
    EXPECT_EQ(e->bgColor, 0x0A0B0C);
    EXPECT_EQ(e->drawType, 3);
    EXPECT_EQ(e->interval, 9);
}

// A receiver is given time for the picture's whole transition (its steps at
// its step time) before it is given up on; and once given up on, its late
// answer belongs to that picture, not to the next one.
TEST_F(CycleTest, PatienceFollowsTheTransitionAndALateAnswerKeepsToItsPicture)
{
    links.slide = true;
    links.holdConnection = true;
    MakeCycle(nullptr, 300);
    PickupEntry slow;
    slow.path = Picture("slow.jpg", 8, 4, false);
    slow.drawType = 4;   // RasterH: one step a column, 9 at most here
    slow.drawSpeed = 200; // so about 2 s in all
    slow.interval = 1;
    queue->AddEntry(slow);
    ASSERT_TRUE(RunCycle(0));
    RunFor(600);
    EXPECT_TRUE(cycle->cycleBusy()) << "given up while the transition may still run";
    ASSERT_TRUE(RunUntil([&] { return !cycle->cycleBusy(); }, 10000));

    Picture("next.jpg", 8, 0);
    ASSERT_TRUE(RunCycle(1));
    Answer(600); // the late answer to slow.jpg
    RunFor(20);
    EXPECT_TRUE(cycle->cycleBusy()) << "the next picture's block stays open for its own answer";
    Answer(600);
    EXPECT_TRUE(WaitEnd());
}
