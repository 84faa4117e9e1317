// qrysw end to end on a private X server: this test plays the main program
// (the picture cycle behind a window listening as "Ormbrook Download
// Engine"), starts the slide window as the "小窓ON" command does, and reads
// the pictures back from the X server's pixels.

#include "common/messages.h"
#include "pictures/mirror_pages.h"
#include "pictures/picture_cycle.h"
#include "pictures/queue_file_pickup_store.h"
#include "pictures/receiver_links.h"
#include "platform/program_channel.h"
#include "support/crawl_fixture.h"
#include "support/env_scope.h"
#include "support/event_loop.h"
#include "support/jpeg_maker.h"
#include "support/xvfb_display.h"
#include "apps/distributor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

bool WindowAt(const XvfbDisplay& x, int& wx, int& wy, int& ww, int& wh)
{
    return RunUntil([&] { return x.FindWindow(kSlideWindowTitle, wx, wy, ww, wh); }, 30000);
}

} // namespace

TEST(SlideWindowEndToEnd, ShowsTheSlideShowAndClosesWithTheCommand)
{
    XvfbDisplay x;
    if (!x.Start(800, 600))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    UserScope scope;
    const std::string pictures = scope.path() + "pictures/";
    std::filesystem::create_directories(pictures);
    // Taken from the end of the queue: b comes first, then a.
    WriteSolidJpeg(pictures + "a.jpg", 64, 32, 0, 200, 0);
    WriteSolidJpeg(pictures + "b.jpg", 64, 32, 220, 0, 0);

    Distributor d(scope.path(), x, {FolderSource(pictures.substr(0, pictures.size() - 1), 4, 1, 1)});
    ASSERT_TRUE(d.listening);
    d.cycle->ToggleSlideWindow();
    int wx = 0, wy = 0, ww = 0, wh = 0;
    ASSERT_TRUE(WindowAt(x, wx, wy, ww, wh));
    EXPECT_EQ(wx, 0);
    EXPECT_EQ(wy, 0);
    EXPECT_EQ(ww, 160);
    EXPECT_EQ(wh, 120);
    EXPECT_TRUE(d.cycle->slideWindowRunning());

    // 64 x 32 fits at 160 x 80 from (0, 20), on the entry's background.
    auto shows = [&](QRgb colour) {
        return MostlyColour(x.Grab(wx + 8, wy + 28, 144, 64), colour, 24)
            && MostlyColour(x.Grab(wx, wy, 160, 16), qRgb(0, 0, 0x40), 24)
            && MostlyColour(x.Grab(wx, wy + 104, 160, 16), qRgb(0, 0, 0x40), 24);
    };
    EXPECT_TRUE(RunUntil([&] { return shows(qRgb(220, 0, 0)); }, 30000)) << "the first picture";
    EXPECT_TRUE(RunUntil([&] { return shows(qRgb(0, 200, 0)); }, 30000)) << "the next one follows";

    d.cycle->ToggleSlideWindow();
    EXPECT_TRUE(RunUntil([&] { return !x.FindWindow(kSlideWindowTitle, wx, wy, ww, wh); }, 30000));
    EXPECT_TRUE(RunUntil([&] { return !d.cycle->slideWindowRunning(); }, 30000));
    EXPECT_TRUE(d.cycle->currentPicture().empty());
}

TEST(SlideWindowEndToEnd, ACrawledPictureComesWithItsCaption)
{
    XvfbDisplay x;
    if (!x.Start(800, 600))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    CrawlFixture f;
    JpegParams params;
    params.width = 64;
    params.height = 32;
    std::vector<uint8_t> yellow(64 * 32 * 3);
    for (size_t i = 0; i < yellow.size(); i += 3) {
        yellow[i] = 230;
        yellow[i + 1] = 230;
        yellow[i + 2] = 0;
    }
    const std::vector<uint8_t> jpeg = EncodeJpeg(params, yellow);
    f.Page("index.html", "<html><body><img src=\"pic.jpg\"></body></html>");
    f.Page("pic.jpg", std::string(jpeg.begin(), jpeg.end()));
    ASSERT_TRUE(f.StartServer());
    auto prj = f.Project("P", "ProjectDefault\n{\n}\n" + Record("@ORIGIN@/", "\tMUDrawSpeed=0\n"));

    // This process and the crawl share the crawl's folders.
    const std::string run = f.dataHome().substr(0, f.dataHome().rfind('/')) + "/run";
    std::filesystem::create_directories(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    EnvScope runtime("XDG_RUNTIME_DIR", run);
    EnvScope data("XDG_DATA_HOME", f.dataHome());
    ScratchDir folder;
    Distributor d(folder.path(), x, {});
    ASSERT_TRUE(d.listening);
    d.cycle->ToggleSlideWindow();
    int wx = 0, wy = 0, ww = 0, wh = 0;
    ASSERT_TRUE(WindowAt(x, wx, wy, ww, wh));
    ASSERT_TRUE(RunUntil([] { return ChannelExists(kSlideWindowTitle); }, 30000));

    // The crawl runs while the slide window is up: its picture is offered to
    // this main program and shown with the caption band.
    auto result = f.Run({"--crawl", prj});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(RunUntil([&] { return MostlyColour(x.Grab(wx + 8, wy + 40, 144, 40), qRgb(230, 230, 0), 24); },
                         30000));
    EXPECT_TRUE(RunUntil([&] { return x.Grab(wx + 2, wy, 1, 1).pixel(0, 0) == qRgb(0, 255, 255); }, 30000))
        << "the band's top row is cyan";
    if (const char* shots = std::getenv("ORMBROOK_SHOTS"))
        x.Grab(0, 0, 240, 160).save(QString::fromUtf8(shots) + "/slide_caption.png");
    EXPECT_TRUE(d.cycle->currentPicture().find("/P/127.0.0.1/pic.jpg") != std::string::npos);
}
