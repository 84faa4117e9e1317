#include "viewers/screen_saver.h"

#include "common/messages.h"
#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "platform/stop_signals.h"
#include "viewers/picture_window.h"
#include "viewers/viewer_args.h"
#include "viewers/viewer_core.h"
#include "viewers/x11_windows.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace ormbrook {

namespace {

// How often and how long the saver looks for the main program's window.
constexpr int kAnnounceTries = 100;
constexpr int kAnnounceEveryMs = 100;

// When the lock shows no main program, starts qry from this program's
// folder. True when it was started.
bool LaunchMainIfNeeded()
{
    NamedLock probe(kMainProgramTitle);
    if (!probe.TryAcquire())
        return false;
    probe.Release();
    const QString folder = QCoreApplication::applicationDirPath();
    QProcess process;
    process.setProgram(folder + "/qry");
    process.setWorkingDirectory(folder);
    process.setStandardInputFile(QProcess::nullDevice());
    // It serves the saver only: no window of its own over the saver, tray
    // or not, and no splash; the saver closes it again at its end.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORMBROOK_START_HIDDEN"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

} // namespace

int ReadTileWallpaper()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Nordvane"),
                       QStringLiteral("Ormbrook"));
    // A text value, as the desktop it came from kept it.
    return settings.value(QStringLiteral("Desktop/TileWallpaper"), QStringLiteral("0")).toString().toInt();
}

int RunScreenSaver(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        std::fputs(kScreenSaverUsage, stdout);
        return 0;
    }
    QApplication app(argc, argv);
    std::optional<std::string> xscreensaverWindow;
    if (const char* value = std::getenv("XSCREENSAVER_WINDOW"))
        xscreensaverWindow = value;
    const ViewerArgs args =
        ParseViewerArgs(std::vector<std::string>(argv + 1, argv + argc), true, xscreensaverWindow);
    if (args.mode == ViewerArgs::Quit)
        return 0;
    // Nothing waits on it; it tells that a screen saver runs.
    NamedLock presence(kSaverWindowTitle);
    presence.TryAcquire();

    // A preview only shows; the saver itself gets pictures.
    const bool saver = args.mode != ViewerArgs::Preview;
    const bool launchedMain = saver && LaunchMainIfNeeded();

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(640, 480);
    ViewerOptions options;
    options.screen = screenSize;
    options.tile = ReadTileWallpaper() != 0;
    options.ownWindow = uint32_t(::getpid());
    ViewerCore core(options);
    const bool fullScreen = args.mode == ViewerArgs::Open;
    PictureWindow window(core, fullScreen ? PictureWindow::Kind::Saver : PictureWindow::Kind::Passive);

    std::unique_ptr<ChannelServer> server;
    if (saver) {
        server = std::make_unique<ChannelServer>([&](const ChannelFrame& frame) -> uint32_t {
            if (frame.message == MsgViewerCommand)
                core.OnNewPicture(frame.wParam, frame.lParam);
            else if (frame.message == MsgClose)
                QTimer::singleShot(0, &window, [&window] { window.CloseWindow(); });
            return options.ownWindow;
        });
        if (!server->Listen(kSaverWindowTitle))
            return 0;
    }
    auto closeSaver = [&core, &window] {
        // A transition under way stops at its next step.
        core.Abort();
        QTimer::singleShot(0, &window, [&window] { window.CloseWindow(); });
    };
    if (fullScreen) {
        QObject::connect(&window, &PictureWindow::endRequested, closeSaver);
        QObject::connect(&window, &PictureWindow::rightClicked, [&core] {
            if (core.distributor() != 0)
                PostFrame(kMainProgramTitle, {MsgOpenPicturePanel, 0, 0, {}});
        });
        window.setWindowTitle(QString::fromUtf8(kSaverWindowTitle));
        window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        window.setGeometry(screen ? screen->geometry() : QRect(QPoint(0, 0), screenSize));
    } else {
        const uint64_t target = args.mode == ViewerArgs::Root ? RootWindowId() : args.window;
        if (!EmbedInto(window, target))
            return 0;
    }
    // XScreenSaver ends its display modes with SIGTERM.
    StopSignals stop([&](int) { closeSaver(); });
    std::unique_ptr<SaverOnTop> onTop;
    QObject::connect(&window, &PictureWindow::closed, [&server, &app, &onTop] {
        // The keyboard and the pointer go back at once, not when the
        // process has ended.
        if (onTop)
            onTop->Release();
        if (server)
            server->Close();
        app.quit();
    });
    if (fullScreen) {
        window.showFullScreen();
        window.activateWindow();
        window.setFocus();
        onTop = std::make_unique<SaverOnTop>(window);
    } else {
        window.show();
    }

    QTimer announce;
    int tries = 0;
    auto look = [&] {
        if (ChannelExists(kMainProgramTitle)) {
            PostFrame(kMainProgramTitle, {MsgViewerStarted, 0, options.ownWindow, {}});
            announce.stop();
        } else if (++tries >= kAnnounceTries) {
            announce.stop();
        }
    };
    if (saver) {
        QObject::connect(&announce, &QTimer::timeout, look);
        announce.start(kAnnounceEveryMs);
        QTimer::singleShot(0, &announce, look); // the first look comes at once
    }
    app.exec();
    core.Finish();
    if (saver) {
        if (launchedMain)
            PostFrame(kMainProgramTitle, {MsgClose, 0, 0, {}});
        PostFrame(kMainProgramTitle, {MsgSaverEnded, 0, 0, {}});
    }
    return 0;
}

} // namespace ormbrook
