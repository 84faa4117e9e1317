// The pictures through the desktop program on a private X server: a
// slide-show list names a folder of pictures, "小窓ON" starts the slide
// window, its pixels show the pictures one after the other, and the command
// closes it again.

#include "desktop/desktop_harness.h"
#include "windows/scripted_prompter.h"

#include "common/messages.h"
#include "pictures/picture_side.h"
#include "platform/program_channel.h"
#include "support/jpeg_maker.h"
#include "windows/commands.h"
#include "windows/desktop_program.h"
#include "windows/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace ormbrook::test {
extern XvfbDisplay* gDisplay;
}

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

const std::string kQrysw = std::string(ORMBROOK_BINARY_DIR) + "/apps/qrysw";

} // namespace

TEST(PicturesEndToEnd, TheSlideWindowCommandShowsTheSlideShowList)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    ScratchDir work;
    const std::string mirror = work.file("mirror/");
    std::filesystem::create_directories(mirror + "Pics");
    WriteSolidJpeg(mirror + "Pics/a.jpg", 64, 32, 0, 200, 0);
    WriteSolidJpeg(mirror + "Pics/b.jpg", 64, 32, 220, 0, 0);
    const std::string project = work.file("Pics.prj");
    std::ofstream(project) << "ProjectDefault\n{\n}\n";
    std::ofstream(work.file("settings.conf")) << "[Application%20Settings]\nMirrorDir=" << mirror
                                              << "\nPickupDisplay=0\n";
    std::filesystem::create_directories(work.file("data"));
    // RasterH at 1 ms a step, dark blue behind, a new picture every second.
    std::ofstream(work.file("data/QRY.ssf"), std::ios::binary) << project << "|Pics|||0|4|1|4194304|0|0|1|1\r\n";

    DesktopProgram program;
    DesktopProgram::Options options;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    options.slideWindowProgram = kQrysw;
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    QAction* slide = frame.Action(CmdSlideWindow);
    ASSERT_NE(slide, nullptr);
    EXPECT_FALSE(slide->isChecked());

    slide->trigger();
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(WaitFor([&] { return gDisplay->FindWindow(kSlideWindowTitle, x, y, w, h); }, 30000));
    ASSERT_TRUE(WaitFor([&] {
        frame.UpdateCommands();
        return slide->isChecked();
    }, 30000));
    // The screen is 1280 x 900: the window a fifth of it; 64 x 32 fits at
    // 256 x 128 from (0, 26).
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 180);
    auto shows = [&](QRgb colour) {
        return MostlyColour(gDisplay->Grab(x + 10, y + 36, 236, 108), colour, 24)
            && MostlyColour(gDisplay->Grab(x, y, w, 20), qRgb(0, 0, 0x40), 24);
    };
    EXPECT_TRUE(WaitFor([&] { return shows(qRgb(220, 0, 0)); }, 30000)) << "b comes first";
    EXPECT_TRUE(WaitFor([&] { return shows(qRgb(0, 200, 0)); }, 30000)) << "then a";
    EXPECT_FALSE(program.pictures()->cycle().currentPicture().empty());

    slide->trigger();
    EXPECT_TRUE(WaitFor([&] { return !gDisplay->FindWindow(kSlideWindowTitle, x, y, w, h); }, 30000));
    EXPECT_TRUE(WaitFor([&] { return !ChannelExists(kSlideWindowTitle); }, 30000));
    frame.UpdateCommands();
    EXPECT_FALSE(slide->isChecked());

    // The settings sheet moves the mirror: the page walk looks there.
    SettingsValues moved = program.settings().values();
    moved.MirrorDir = work.file("moved/");
    program.settings().SaveSettings(moved);
    program.context().settingsChanged();
    EXPECT_EQ(program.pictures()->MirrorPathOf("http://site/a.jpg", "P").value_or("").rfind(work.file("moved/"), 0),
              0u);
    frame.SystemClose();
    program.Finish();
}

TEST(PicturesEndToEnd, TheWallpaperChangerShowsThePicturesOnTheRootWindowAndPutsTheOldBackgroundBack)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    QProcess paint;
    paint.setProcessEnvironment(gDisplay->Environment());
    paint.start("xsetroot", {"-solid", "#ff8000"});
    if (!paint.waitForFinished(5000) || paint.exitCode() != 0)
        GTEST_SKIP() << "xsetroot is not installed";
    const QRgb orange = qRgb(0xff, 0x80, 0x00);
    ScratchDir work;
    const std::string mirror = work.file("mirror/");
    std::filesystem::create_directories(mirror + "Pics");
    // 64 x 45 fills the 1280 x 900 screen exactly.
    WriteSolidJpeg(mirror + "Pics/c.jpg", 64, 45, 0, 120, 220);
    const std::string project = work.file("Pics.prj");
    std::ofstream(project) << "ProjectDefault\n{\n}\n";
    std::ofstream(work.file("settings.conf")) << "[Application%20Settings]\nMirrorDir=" << mirror
                                              << "\nPickupDisplay=0\n";
    std::filesystem::create_directories(work.file("data"));
    std::ofstream(work.file("data/QRY.ssf"), std::ios::binary) << project << "|Pics|||0|0|0|0|0|0|1|1\r\n";

    DesktopProgram program;
    DesktopProgram::Options options;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    options.wallpaperBackend = "x11";
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    QAction* changer = frame.Action(CmdWallpaperChanger);
    ASSERT_NE(changer, nullptr);

    // Where no window lies, the root window shows what the desktop does:
    // the main window (shown where there is no tray) is kept to the corner.
    frame.setGeometry(0, 0, 640, 480);
    auto root = [&] { return gDisplay->Grab(1000, 720, 250, 150); };
    ASSERT_TRUE(MostlyColour(root(), orange));
    changer->trigger();
    EXPECT_TRUE(program.pictures()->cycle().desktopMode());
    EXPECT_TRUE(WaitFor([&] { return MostlyColour(root(), qRgb(0, 120, 220), 24); }, 30000));

    changer->trigger();
    EXPECT_TRUE(program.pictures()->cycle().desktopStopping());
    EXPECT_TRUE(WaitFor([&] { return !program.pictures()->cycle().desktopStopping(); }, 30000));
    EXPECT_TRUE(MostlyColour(root(), orange));

    // Closing the program with the changer on waits for the stop.
    changer->trigger();
    EXPECT_TRUE(WaitFor([&] { return MostlyColour(root(), qRgb(0, 120, 220), 24); }, 30000));
    bool closed = false;
    QObject::connect(&frame, &CMainFrame::closed, [&] { closed = true; });
    frame.SystemClose();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(WaitFor([&] { return closed; }, 30000));
    EXPECT_TRUE(MostlyColour(root(), orange));
    program.Finish();
}

// With the picture panel open the next cycle's worker waits at the closed
// gate; closing the slide window from the tray then must not wait for that
// worker (it would wait for ever), and the program ends cleanly afterwards.
TEST(PicturesEndToEnd, ClosingTheSlideWindowWhileThePanelIsOpenDoesNotHang)
{
    if (!gDisplay)
        GTEST_SKIP() << "Xvfb is not available";
    ScratchDir work;
    const std::string mirror = work.file("mirror/");
    std::filesystem::create_directories(mirror + "Pics");
    WriteSolidJpeg(mirror + "Pics/a.jpg", 64, 32, 0, 200, 0);
    const std::string project = work.file("Pics.prj");
    std::ofstream(project) << "ProjectDefault\n{\n}\n";
    std::ofstream(work.file("settings.conf")) << "[Application%20Settings]\nMirrorDir=" << mirror
                                              << "\nPickupDisplay=0\n";
    std::filesystem::create_directories(work.file("data"));
    std::ofstream(work.file("data/QRY.ssf"), std::ios::binary) << project << "|Pics|||0|0|0|0|0|0|1|1\r\n";

    DesktopProgram program;
    DesktopProgram::Options options;
    options.splash = false;
    options.settingsPath = work.file("settings.conf");
    options.programFolder = work.file("data");
    options.slideWindowProgram = kQrysw;
    ScriptedPrompter prompter;
    ASSERT_EQ(program.Start(options, &prompter), DesktopProgram::StartResult::Running);
    CMainFrame& frame = *program.mainFrame();
    QAction* traySlide = frame.TrayAction(CmdSlideWindow);
    ASSERT_NE(traySlide, nullptr);
    frame.Action(CmdSlideWindow)->trigger();
    PictureCycle& cycle = program.pictures()->cycle();
    ASSERT_TRUE(WaitFor([&] { return !cycle.currentPicture().empty() && !cycle.cycleBusy(); }, 30000))
        << "a picture was shown";

    bool closedInTime = false, panelSeen = false;
    QTimer poll;
    QElapsedTimer sincePanel;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* panel = QApplication::activeModalWidget();
        if (!panel)
            return;
        if (!panelSeen) {
            panelSeen = true;
            sincePanel.start();
        }
        // The panel re-arms the cycle at once; its worker then waits at the gate.
        if (sincePanel.elapsed() < 1500)
            return;
        poll.stop();
        EXPECT_TRUE(cycle.cycleBusy());
        std::atomic<bool> returned {false};
        std::thread watchdog([&] {
            for (int i = 0; i < 200 && !returned; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!returned) {
                std::fprintf(stderr, "closing the slide window hangs with the panel open\n");
                std::abort();
            }
        });
        traySlide->trigger();
        returned = true;
        watchdog.join();
        closedInTime = true;
        static_cast<QDialog*>(panel)->reject();
    });
    poll.start(10);
    frame.OnProgramFrame({MsgOpenPicturePanel, 0, 0, {}});
    ASSERT_TRUE(WaitFor([&] { return closedInTime; }, 30000));
    int x = 0, y = 0, w = 0, h = 0;
    EXPECT_TRUE(WaitFor([&] { return !gDisplay->FindWindow(kSlideWindowTitle, x, y, w, h); }, 30000));
    EXPECT_TRUE(WaitFor([&] { return !cycle.cycleBusy(); }, 30000)) << "the late cycle ends once the gate opens";
    frame.SystemClose();
    program.Finish();
}
