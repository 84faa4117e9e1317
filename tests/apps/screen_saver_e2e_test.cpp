// qryss end to end on a private X server: with a main program running (this
// test plays it) the saver covers the screen and takes the pictures from the
// slide window until it ends; with none running it starts qry itself,
// hidden, and closes it at the end; a key ends it, moving the mouse does not.

#include "apps/distributor.h"
#include "support/env_scope.h"
#include "platform/named_lock.h"
#include "support/jpeg_maker.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <X11/Xlib.h>

#include <filesystem>
#include <fstream>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

std::string QryssPath()
{
    return std::string(ORMBROOK_BINARY_DIR) + "/apps/qryss";
}

// Answers from one receiver, by its handle.
size_t AnswersFrom(const Distributor& d, uint32_t handle)
{
    return size_t(std::count_if(d.frames.begin(), d.frames.end(), [handle](const ChannelFrame& f) {
        return f.message == MsgPictureShown && f.lParam == handle;
    }));
}

} // namespace

TEST(ScreenSaverEndToEnd, OutranksTheSlideWindowUntilAKeyEndsIt)
{
    XvfbDisplay x;
    if (!x.Start(640, 480))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    UserScope scope;
    const std::string pictures = scope.path() + "pictures/";
    std::filesystem::create_directories(pictures);
    WriteSolidJpeg(pictures + "a.jpg", 64, 48, 0, 200, 0);
    WriteSolidJpeg(pictures + "b.jpg", 64, 48, 220, 0, 0);
    Distributor d(scope.path(), x, {FolderSource(pictures.substr(0, pictures.size() - 1), 0, 0, 1)});
    ASSERT_TRUE(d.listening);
    d.cycle->ToggleSlideWindow();
    ASSERT_TRUE(RunUntil([&] { return ChannelExists(kSlideWindowTitle); }, 30000));
    const auto slide = SendFrame(kSlideWindowTitle, {MsgViewerCommand, 0, 0, {}}, 2000);
    ASSERT_TRUE(slide);
    ASSERT_TRUE(RunUntil([&] { return AnswersFrom(d, *slide) >= 1; }, 30000));

    QProcess saver;
    saver.setProcessEnvironment(x.Environment());
    saver.start(QString::fromStdString(QryssPath()), {});
    int wx = 0, wy = 0, ww = 0, wh = 0;
    ASSERT_TRUE(RunUntil([&] { return x.FindWindow(kSaverWindowTitle, wx, wy, ww, wh); }, 30000));
    EXPECT_EQ(ww, 640);
    EXPECT_EQ(wh, 480);
    ASSERT_TRUE(RunUntil([&] { return d.Count(MsgViewerStarted) == 1; }, 30000));
    EXPECT_TRUE(d.cycle->saverRunning());
    const uint32_t saverHandle = uint32_t(saver.processId());

    // The saver shows the pictures over the whole screen (64 x 48 fits at
    // 640 x 480); the slide window gets none meanwhile.
    auto shows = [&](QRgb colour) { return MostlyColour(x.Grab(100, 100, 440, 280), colour, 24); };
    ASSERT_TRUE(RunUntil([&] { return AnswersFrom(d, saverHandle) >= 2; }, 30000));
    EXPECT_TRUE(RunUntil([&] { return shows(qRgb(220, 0, 0)) || shows(qRgb(0, 200, 0)); }, 30000));
    const size_t slideAnswers = AnswersFrom(d, *slide);
    ASSERT_TRUE(RunUntil([&] { return AnswersFrom(d, saverHandle) >= 3; }, 30000));
    EXPECT_EQ(AnswersFrom(d, *slide), slideAnswers);

    // Moving the mouse changes nothing; the right button asks for the
    // picture panel and the saver stays; a key ends it.
    ASSERT_TRUE(x.SendInput(kSaverWindowTitle, XvfbDisplay::Input::Motion));
    ASSERT_TRUE(x.SendInput(kSaverWindowTitle, XvfbDisplay::Input::RightButton));
    EXPECT_TRUE(RunUntil([&] { return d.Count(MsgOpenPicturePanel) == 1; }, 30000));
    EXPECT_TRUE(RunUntil([&] { return d.panels == 1; }, 30000));
    RunFor(300);
    EXPECT_EQ(saver.state(), QProcess::Running);
    ASSERT_TRUE(x.SendInput(kSaverWindowTitle, XvfbDisplay::Input::Key));
    ASSERT_TRUE(RunUntil([&] { return saver.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(saver.exitCode(), 0);
    ASSERT_TRUE(RunUntil([&] { return d.Count(MsgSaverEnded) == 1; }, 30000));
    // The slide window gets the next picture; the saver never asked this
    // main program to close.
    EXPECT_TRUE(RunUntil([&] { return AnswersFrom(d, *slide) > slideAnswers; }, 30000));
    EXPECT_EQ(d.Count(MsgClose), 0u);
    EXPECT_FALSE(d.cycle->saverRunning());
}

// No window manager and no tray (GNOME's default desktop has none): the qry
// the saver starts shows no window over it, the saver keeps the keyboard,
// and one real key press ends the saver and that qry.
TEST(ScreenSaverEndToEnd, StartsTheMainProgramHiddenAndAKeyEndsBoth)
{
    XvfbDisplay x;
    if (!x.Start(1280, 900))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    UserScope scope;
    // The main program's pickup folder: two coloured pictures.
    const std::string pickup = scope.path() + "pickup/";
    std::filesystem::create_directories(pickup);
    WriteSolidJpeg(pickup + "y.jpg", 64, 45, 230, 230, 0);
    WriteSolidJpeg(pickup + "c.jpg", 64, 45, 0, 200, 230);
    std::filesystem::create_directories(scope.config() + "/Nordvane");
    std::ofstream(scope.settingsFile()) << "[Application%20Settings]\nPickupDir=" << pickup
                                        << "\nPickupDisplay=2\n";
    std::filesystem::create_directories(scope.programFolder());

    QProcess saver;
    saver.setProcessEnvironment(x.Environment());
    saver.start(QString::fromStdString(QryssPath()), {"/s"});
    // qry comes up beside the saver and sends it the pictures.
    ASSERT_TRUE(RunUntil([] { return ChannelExists(kMainProgramTitle); }, 30000));
    EXPECT_TRUE(NamedLock::IsTaken(kMainProgramTitle));
    auto centre = [&](QRgb colour) { return MostlyColour(x.Grab(440, 300, 400, 300), colour, 24); };
    EXPECT_TRUE(RunUntil([&] { return centre(qRgb(230, 230, 0)) || centre(qRgb(0, 200, 230)); }, 30000));
    RunFor(1500); // a window qry showed late would be mapped by now
    int wx = 0, wy = 0, ww = 0, wh = 0;
    EXPECT_FALSE(x.FindWindow(kMainProgramTitle, wx, wy, ww, wh)) << "qry's window lies over the saver";
    EXPECT_TRUE(centre(qRgb(230, 230, 0)) || centre(qRgb(0, 200, 230)));

    // Another program maps a window over the whole screen and takes the
    // focus: the saver comes back on top and keeps the keyboard.
    Display* other = XOpenDisplay(x.display().c_str());
    ASSERT_NE(other, nullptr);
    const Window cover = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 1280, 900, 0, 0,
                                             BlackPixel(other, DefaultScreen(other)));
    XMapRaised(other, cover);
    XSync(other, False);
    XSetInputFocus(other, cover, RevertToParent, CurrentTime);
    XSync(other, False);
    RunFor(500);
    EXPECT_TRUE(RunUntil([&] { return centre(qRgb(230, 230, 0)) || centre(qRgb(0, 200, 230)); }, 30000))
        << "the saver stays on top";

    // One key on the server's keyboard ends it, and the qry it started.
    ASSERT_TRUE(x.PressKey());
    ASSERT_TRUE(RunUntil([&] { return saver.state() == QProcess::NotRunning; }, 30000));
    EXPECT_TRUE(RunUntil([] { return !ChannelExists(kMainProgramTitle); }, 30000));
    EXPECT_TRUE(RunUntil([] { return !NamedLock::IsTaken(kMainProgramTitle); }, 30000));
    XCloseDisplay(other);
}

TEST(ScreenSaverEndToEnd, DrawsIntoXScreenSaversWindowAndEndsOnSigterm)
{
    XvfbDisplay x;
    if (!x.Start(640, 480))
        GTEST_SKIP() << "no X server for window tests: " << x.error();
    UserScope scope;
    const std::string pictures = scope.path() + "pictures/";
    std::filesystem::create_directories(pictures);
    WriteSolidJpeg(pictures + "b.jpg", 64, 48, 0, 0, 230);
    Distributor d(scope.path(), x, {FolderSource(pictures.substr(0, pictures.size() - 1), 0, 0, 1)});
    ASSERT_TRUE(d.listening);

    // XScreenSaver's window: 320 x 240 at (100, 100).
    Display* dpy = XOpenDisplay(x.display().c_str());
    ASSERT_NE(dpy, nullptr);
    const Window window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 100, 100, 320, 240, 0, 0, 0);
    XMapWindow(dpy, window);
    XSync(dpy, False);

    QProcessEnvironment env = x.Environment();
    env.insert("XSCREENSAVER_WINDOW", QStringLiteral("0x%1").arg(qulonglong(window), 0, 16));
    QProcess saver;
    saver.setProcessEnvironment(env);
    saver.start(QString::fromStdString(QryssPath()), {"-root"});
    ASSERT_TRUE(RunUntil([&] { return d.Count(MsgViewerStarted) == 1; }, 30000));
    // The picture fills XScreenSaver's window, and nothing else.
    EXPECT_TRUE(RunUntil([&] { return MostlyColour(x.Grab(120, 120, 280, 200), qRgb(0, 0, 230), 24); }, 30000));
    EXPECT_TRUE(MostlyColour(x.Grab(450, 360, 150, 100), qRgb(0, 0, 0)));

    // XScreenSaver ends its modes with SIGTERM: the saver says it ends.
    saver.terminate();
    ASSERT_TRUE(RunUntil([&] { return saver.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(saver.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(RunUntil([&] { return d.Count(MsgSaverEnded) == 1; }, 30000));
    XDestroyWindow(dpy, window);
    XCloseDisplay(dpy);
}
