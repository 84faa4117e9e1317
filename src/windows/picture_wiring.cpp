#include "windows/picture_wiring.h"

#include "crawl/settings.h"
#include "platform/runtime_folder.h"
#include "shell/slide_show_list.h"
#include "windows/desktop_context.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSettings>
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
    setup.mirrorNaming = [&settings] { return MirrorNamingOf(settings.values().ReadableNames); };
    setup.slideWindowProgram = slideWindowProgram;
    setup.runPanel = std::move(runPanel);
    setup.desktop = desktop;
    return std::make_unique<PictureSide>(std::move(setup));
}

std::unique_ptr<DesktopWallpaper> MakeDesktopWallpaper(const std::string& backendName,
                                                       std::unique_ptr<CommandRunner>& runner)
{
    runner = std::make_unique<ProcessRunner>();
    std::string forced = backendName;
    if (forced.empty())
        forced = qEnvironmentVariable("ORMBROOK_WALLPAPER_BACKEND").toStdString();
    const QString platform = QGuiApplication::platformName();
    // Windows that are never shown have no desktop to change.
    if (forced.empty() && platform == QLatin1String("offscreen"))
        forced = "none";
    std::unique_ptr<WallpaperBackend> backend =
        ChooseWallpaperBackend(qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString(),
                               platform == QLatin1String("xcb"), *runner, forced);
    const QScreen* screen = QGuiApplication::primaryScreen();
    std::string folder = RuntimeFolder();
    if (folder.empty())
        folder = QDir::tempPath().toStdString() + "/";
    return std::make_unique<DesktopWallpaper>(std::move(backend), screen ? screen->size() : QSize(1024, 768),
                                              folder);
}

namespace {

std::unique_ptr<QSettings> PanelStore(const std::string& settingsPath)
{
    if (settingsPath.empty())
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Nordvane"),
                                           QStringLiteral("Ormbrook"));
    return std::make_unique<QSettings>(QString::fromStdString(settingsPath), QSettings::IniFormat);
}

} // namespace

std::string LoadPanelCopyFolder(const std::string& settingsPath)
{
    return PanelStore(settingsPath)->value(QStringLiteral("PicturePanel/CopyFolder")).toString().toStdString();
}

void SavePanelCopyFolder(const std::string& settingsPath, const std::string& folder)
{
    auto store = PanelStore(settingsPath);
    store->setValue(QStringLiteral("PicturePanel/CopyFolder"), QString::fromStdString(folder));
    store->sync();
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
