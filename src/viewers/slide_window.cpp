#include "viewers/slide_window.h"

#include "common/messages.h"
#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "viewers/picture_window.h"
#include "viewers/viewer_args.h"
#include "viewers/viewer_core.h"
#include "viewers/x11_windows.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace ormbrook {

int RunSlideWindow(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        std::fputs(kSlideWindowUsage, stdout);
        return 0;
    }
    QApplication app(argc, argv);
    const ViewerArgs args = ParseViewerArgs(std::vector<std::string>(argv + 1, argv + argc), false);
    if (args.mode == ViewerArgs::Quit)
        return 0;
    // Nothing waits on it; it tells that a slide window runs.
    NamedLock presence(kSlideWindowTitle);
    presence.TryAcquire();

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(640, 480);
    ViewerOptions options;
    options.screen = screenSize;
    options.ownWindow = uint32_t(::getpid());
    ViewerCore core(options);
    PictureWindow window(core, args.mode == ViewerArgs::Open ? PictureWindow::Kind::Slide
                                                             : PictureWindow::Kind::Passive);

    std::unique_ptr<ChannelServer> server;
    if (args.mode == ViewerArgs::Open) {
        server = std::make_unique<ChannelServer>([&](const ChannelFrame& frame) -> uint32_t {
            if (frame.message == MsgViewerCommand)
                core.OnNewPicture(frame.wParam, frame.lParam);
            else if (frame.message == MsgClose)
                QTimer::singleShot(0, &window, [&window] { window.CloseWindow(); });
            // The receipt carries this window's handle, by which the main
            // program knows whose answer comes later.
            return options.ownWindow;
        });
        // Pictures go to the one window of this title; a second slide
        // window would never get any.
        if (!server->Listen(kSlideWindowTitle))
            return 0;
        QObject::connect(&window, &PictureWindow::doubleClicked, [&core] {
            // Before the first picture nobody is known to ask.
            if (core.distributor() != 0)
                PostFrame(kMainProgramTitle, {MsgOpenPicturePanel, 0, 0, {}});
        });
        window.setWindowTitle(QString::fromUtf8(kSlideWindowTitle));
        window.setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                              | Qt::WindowTitleHint);
        window.move(0, 0);
        window.resize(screenSize.width() / 5, screenSize.height() / 5);
    } else if (!EmbedInto(window, args.window)) {
        return 0;
    }
    QObject::connect(&window, &PictureWindow::closed, [&server] {
        // The main program sees the window gone at once.
        if (server)
            server->Close();
    });
    window.show();
    app.exec();
    core.Finish();
    return 0;
}

} // namespace ormbrook
