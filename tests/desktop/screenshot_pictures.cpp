// The pictures on screen for the screenshots: the slide window over the
// main window, the picture panel, and a frame of the screen saver.

#include "desktop/desktop_harness.h"

#include "common/messages.h"
#include "pictures/picture_side.h"
#include "platform/program_channel.h"
#include "support/jpeg_maker.h"
#include "windows/desktop_program.h"
#include "windows/main_frame.h"
#include "windows/picture_panel_dialog.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <functional>

using namespace ormbrook;
using namespace ormbrook::test;

namespace {

// A small landscape of our own: sky, sun and hills.
void WriteScene(const std::string& path, QColor sky, QColor hills, int seed)
{
    QImage image(480, 320, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, 320);
    gradient.setColorAt(0, sky.lighter(150));
    gradient.setColorAt(1, sky);
    p.fillRect(image.rect(), gradient);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 220, 120));
    p.drawEllipse(QPointF(120 + seed * 90, 90), 38, 38);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath path;
        path.moveTo(0, 320);
        for (int x = 0; x <= 480; x += 40)
            path.lineTo(x, 200 + layer * 35 - 40 * std::sin((x + seed * 70 + layer * 110) / 90.0));
        path.lineTo(480, 320);
        p.setBrush(hills.darker(100 + layer * 30));
        p.drawPath(path);
    }
    p.end();
    std::vector<uint8_t> rgb(size_t(480) * 320 * 3);
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 480; ++x) {
            const QRgb c = image.pixel(x, y);
            uint8_t* o = &rgb[(size_t(y) * 480 + size_t(x)) * 3];
            o[0] = uint8_t(qRed(c));
            o[1] = uint8_t(qGreen(c));
            o[2] = uint8_t(qBlue(c));
        }
    JpegParams params;
    params.width = 480;
    params.height = 320;
    WriteFile(path, EncodeJpeg(params, rgb));
}

} // namespace

void SavePictures(DesktopProgram& program, const XvfbDisplay& display, const std::string& binaryDir,
                  const std::function<void(const QImage&, const char*)>& save)
{
    CMainFrame& frame = *program.mainFrame();
    const std::string pickup = program.settings().values().PickupDir;
    std::filesystem::create_directories(pickup);
    WriteScene(pickup + "dusk.jpg", QColor(200, 110, 90), QColor(70, 60, 110), 0);
    WriteScene(pickup + "meadow.jpg", QColor(90, 150, 230), QColor(60, 150, 70), 1);
    WriteScene(pickup + "snow.jpg", QColor(150, 180, 210), QColor(225, 230, 240), 2);
    // A fresh download comes first, with its caption.
    PickupEntry fresh;
    fresh.path = pickup + "meadow.jpg";
    fresh.caption = "New Picture";
    fresh.drawType = 0;
    fresh.interval = 2;
    program.pictures()->queue().AddEntry(fresh);

    frame.RunCommand(CmdSlideWindow);
    int x = 0, y = 0, w = 0, h = 0;
    if (WaitFor([&] { return display.FindWindow(kSlideWindowTitle, x, y, w, h); }, 10000)) {
        WaitFor([] { return false; }, 3000);
        save(display.Grab(x, y, w, h), "slide_window");
    }

    // The panel runs modally: it is taken from within its own loop.
    QTimer::singleShot(1200, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* panel = qobject_cast<PicturePanelDialog*>(widget)) {
                save(GrabWidget(display, *panel), "picture_panel");
                panel->accept();
            }
    });
    program.pictures()->cycle().Deliver({MsgOpenPicturePanel, 0, 0, {}});
    WaitFor([] { return false; }, 2500);

    QProcess saver;
    saver.setProcessEnvironment(display.Environment());
    saver.start(QString::fromStdString(binaryDir + "/apps/qryss"), {});
    if (WaitFor([&] { return display.FindWindow(kSaverWindowTitle, x, y, w, h); }, 10000)) {
        // Its first picture comes with the cycle's next turn, and is on
        // screen when the saver has answered for it.
        PictureCycle& cycle = program.pictures()->cycle();
        WaitFor([&] { return cycle.cycleBusy(); }, 15000);
        WaitFor([&] { return !cycle.cycleBusy(); }, 20000);
        WaitFor([] { return false; }, 300);
        save(display.GrabScreen(), "screen_saver");
        display.SendInput(kSaverWindowTitle, XvfbDisplay::Input::Key);
    }
    WaitFor([&] { return saver.state() == QProcess::NotRunning; }, 5000);
    frame.RunCommand(CmdSlideWindow);
    WaitFor([] { return !ChannelExists(kSlideWindowTitle); }, 5000);
}
