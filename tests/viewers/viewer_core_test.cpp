// The viewer core on the offscreen platform: what a notification draws, that
// every notification is answered, and the command lines of both viewers.

#include "viewers/picture_window.h"
#include "viewers/screen_saver.h"
#include "viewers/viewer_args.h"
#include "viewers/viewer_core.h"

#include "common/messages.h"
#include "common/picture_block.h"
#include "pictures/jpeg_decode.h"
#include "platform/shared_block.h"
#include "support/env_scope.h"
#include "support/event_loop.h"
#include "support/jpeg_maker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <QElapsedTimer>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

// Writes the picture into the shared block as the main program does.
SharedBlock MakeBlock(const std::string& jpeg, const std::string& caption, int drawType, int32_t bgColor)
{
    SharedBlock block;
    DibBlock dib = DecodeJpegToDib(jpeg);
    if (!dib)
        return block;
    const PictureBlockTexts texts {caption, jpeg, "", ""};
    const size_t size = PictureBlockSize(texts, dib.size());
    if (!block.Create(kPictureBlockName, size))
        return block;
    PictureBlockHeader header;
    header.bgColor = bgColor;
    header.drawType = drawType;
    header.drawSpeed = 0;
    const size_t at = WritePictureBlockHead(block.data(), block.size(), header, texts);
    std::memcpy(block.data() + at, dib.data(), dib.size());
    return block;
}

struct Answers {
    std::mutex mutex;
    std::vector<uint32_t> handles;
    size_t count()
    {
        std::lock_guard lock(mutex);
        return handles.size();
    }
};

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24
        && std::abs(qBlue(a) - qBlue(b)) < 24;
}

} // namespace

TEST(ViewerArgs, TheCommandLineTable)
{
    using M = ViewerArgs::Mode;
    struct Row {
        std::vector<std::string> args;
        bool saver;
        std::optional<std::string> env;
        M mode;
        uint64_t window;
    } rows[] = {
        {{}, false, {}, M::Open, 0},
        {{"/S"}, false, {}, M::Open, 0},
        {{"-s"}, false, {}, M::Open, 0},
        {{"s"}, false, {}, M::Open, 0},
        {{"c"}, true, {}, M::Open, 0},
        {{"/c:1234"}, false, {}, M::Quit, 0},
        {{"x"}, false, {}, M::Quit, 0},
        {{"/p", "4660"}, false, {}, M::Preview, 4660},
        {{"P", "12"}, true, {}, M::Preview, 12},
        {{"p"}, false, {}, M::Quit, 0},
        {{"p", "0x12"}, false, {}, M::Quit, 0},
        {{"-root"}, false, {}, M::Quit, 0},
        {{"-root"}, true, {}, M::Root, 0},
        {{"-root"}, true, "0x1a00005", M::Embedded, 0x1a00005},
        {{}, true, "27262981", M::Embedded, 27262981},
        {{"-window-id", "0x40"}, true, {}, M::Embedded, 0x40},
        {{"-window-id"}, true, {}, M::Quit, 0},
        {{}, true, "junk", M::Open, 0},
    };
    for (const Row& r : rows) {
        const ViewerArgs a = ParseViewerArgs(r.args, r.saver, r.env);
        std::string name;
        for (const auto& s : r.args)
            name += s + " ";
        EXPECT_EQ(a.mode, r.mode) << name << (r.saver ? "(saver)" : "");
        EXPECT_EQ(a.window, r.window) << name;
    }
}

TEST(ViewerCore, DrawsTheBlockIntoTheWindowAndAnswersEveryNotification)
{
    UserScope scope;
    WriteSolidJpeg(scope.path() + "red.jpg", 100, 50, 220, 0, 0);
    Answers answers;
    ViewerOptions options;
    options.screen = QSize(400, 300);
    options.ownWindow = 77;
    options.answer = [&](uint32_t own) {
        std::lock_guard lock(answers.mutex);
        answers.handles.push_back(own);
    };
    ViewerCore core(options);
    PictureWindow window(core, PictureWindow::Kind::Slide);
    window.resize(200, 200);
    window.show();
    int shown = 0;
    QObject::connect(&core, &ViewerCore::pictureShown, [&] { ++shown; });

    // Not a new picture: nothing happens.
    core.OnNewPicture(kViewerCmdStop, 5);
    RunFor(50);
    EXPECT_EQ(answers.count(), 0u);
    EXPECT_EQ(core.distributor(), 0u);

    SharedBlock block = MakeBlock(scope.path() + "red.jpg", "", 5, 0x00FF0000);
    ASSERT_TRUE(block.isOpen());
    core.OnNewPicture(kViewerCmdNewPicture, 4242);
    ASSERT_TRUE(RunUntil([&] { return shown == 1 && answers.count() == 1; }));
    EXPECT_EQ(answers.handles[0], 77u);
    EXPECT_EQ(core.distributor(), 4242u);
    const QImage frame = window.grab().toImage();
    EXPECT_TRUE(Near(frame.pixel(100, 20), qRgb(0, 0, 255)));
    EXPECT_TRUE(Near(frame.pixel(100, 100), qRgb(220, 0, 0)));
    EXPECT_TRUE(Near(frame.pixel(100, 180), qRgb(0, 0, 255)));

    // A block that has gone: nothing drawn, but the answer still comes.
    block.Close();
    core.OnNewPicture(kViewerCmdNewPicture, 4242);
    ASSERT_TRUE(RunUntil([&] { return answers.count() == 2; }));
    EXPECT_TRUE(Near(window.grab().toImage().pixel(100, 100), qRgb(220, 0, 0)));
}

TEST(ViewerCore, AClosedWindowStopsTheTransitionAndStillAnswers)
{
    UserScope scope;
    WriteSolidJpeg(scope.path() + "g.jpg", 64, 64, 0, 200, 0);
    Answers answers;
    ViewerOptions options;
    options.screen = QSize(640, 480);
    options.answer = [&](uint32_t own) {
        std::lock_guard lock(answers.mutex);
        answers.handles.push_back(own);
    };
    auto core = std::make_unique<ViewerCore>(options);
    PictureWindow window(*core, PictureWindow::Kind::Saver);
    window.resize(640, 480);
    window.show();
    // RasterH at 640 columns of 5 ms would take over three seconds.
    SharedBlock block = MakeBlock(scope.path() + "g.jpg", "", 4, 0);
    ASSERT_TRUE(block.isOpen());
    block.data()[8] = 5; // drawSpeed 5
    core->OnNewPicture(kViewerCmdNewPicture, 1);
    RunUntil([&] { return core->busy(); }, 1000);
    RunFor(100);
    QElapsedTimer timer;
    timer.start();
    window.CloseWindow();
    core->Finish();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(answers.count(), 1u);
}

TEST(ScreenSaver, TileWallpaperComesFromTheSettingsFile)
{
    UserScope scope;
    EXPECT_EQ(ReadTileWallpaper(), 0);
    std::filesystem::create_directories(scope.config() + "/Nordvane");
    std::ofstream(scope.settingsFile()) << "[Desktop]\nTileWallpaper=1\n";
    EXPECT_EQ(ReadTileWallpaper(), 1);
    std::ofstream(scope.settingsFile()) << "[Desktop]\nTileWallpaper=junk\n";
    EXPECT_EQ(ReadTileWallpaper(), 0);
}
