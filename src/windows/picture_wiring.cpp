#include "windows/picture_wiring.h"

#include "crawl/settings.h"
#include "shell/slide_show_list.h"
#include "windows/desktop_context.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

namespace ormbrook {

namespace {

const char kConvertQuestion[] =
    "古いバージョンのファイルが検出されました。現在のバージョンで使用できるようにコンバートしますか？";
const char kConvertFailed[] = "ファイルのコンバートに失敗しました。";

} // namespace

std::unique_ptr<PictureSide> MakePictureSide(const AppSettings& settings, CSSDoc& slides,
                                             const std::string& slideWindowProgram,
                                             std::function<void()> runPanel, DesktopReceiver* desktop)
{
    PictureSideSetup setup;
    setup.programFolder = settings.programFolder();
    setup.mirrorDir = settings.values().MirrorDir;
    setup.buildSources = [&settings, &slides](const std::function<void(const PickupEntry&)>& add) {
        slides.BuildPictureSources(PictureSourceSettingsFrom(settings), add);
    };
    setup.walkSettings = [&settings] { return PageWalkSettingsFrom(settings); };
    setup.slideWindowProgram = slideWindowProgram;
    setup.runPanel = std::move(runPanel);
    setup.desktop = desktop;
    return std::make_unique<PictureSide>(std::move(setup));
}

bool OpenPickupQueue(PictureSide& side, Prompter& prompter)
{
    if (side.OpenQueue() == PictureSide::OpenResult::Ok)
        return true;
    if (!prompter.AskYesNo(nullptr, QString::fromUtf8(kConvertQuestion)))
        return false;
    QDialog progress;
    progress.setWindowTitle(QStringLiteral("ファイルのコンバート"));
    auto* text = new QLabel(&progress);
    auto* layout = new QVBoxLayout(&progress);
    layout->addWidget(text);
    if (qGuiApp && QGuiApplication::platformName() != QLatin1String("offscreen"))
        progress.show();
    const bool converted = side.ConvertQueue([&](int count) {
        text->setText(QStringLiteral("ファイルをコンバートしています.....%1").arg(count));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    progress.hide();
    if (!converted) {
        prompter.Tell(nullptr, QString::fromUtf8(kConvertFailed), QMessageBox::Critical);
        return false;
    }
    return true;
}

} // namespace ormbrook
