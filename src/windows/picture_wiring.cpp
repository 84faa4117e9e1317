#include "windows/picture_wiring.h"

#include "crawl/settings.h"
#include "platform/runtime_folder.h"
#include "shell/slide_show_list.h"
#include "windows/desktop_context.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace ormbrook {

namespace {

const char kConvertQuestion[] =
    "古いバージョンのファイルが検出されました。現在のバージョンで使用できるようにコンバートしますか？";
const char kConvertFailed[] = "ファイルのコンバートに失敗しました。";
const char kQueueNotOpened[] =
    "画像リスト %1 を開けませんでした。\n別のプログラムが使用中です。しばらくしてから起動して下さい。";

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
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QSize pixels = screen->size() * screen->devicePixelRatio();
        setup.largestViewSide = std::max({setup.largestViewSide, pixels.width(), pixels.height()});
    }
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
    switch (side.OpenQueue()) {
    case PictureSide::OpenResult::Ok:
        return true;
    case PictureSide::OpenResult::Failed:
        prompter.Tell(nullptr, QString::fromUtf8(kQueueNotOpened).arg(QString::fromStdString(side.queuePath())),
                      QMessageBox::Critical);
        return false;
    case PictureSide::OpenResult::OldVersion:
        break;
    }
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

PictureMessages::PictureMessages(Prompter& prompter) : prompter_(prompter) {}

void PictureMessages::Tell(std::string_view text)
{
    uint64_t mine;
    {
        std::lock_guard lock(mutex_);
        if (stopped_)
            return;
        mine = ++queued_;
        waiting_.emplace_back(mine, std::string(text));
    }
    QMetaObject::invokeMethod(this, [this] { ShowNext(); }, Qt::QueuedConnection);
    if (thread() == QThread::currentThread())
        return;
    std::unique_lock lock(mutex_);
    closed_.wait(lock, [&] { return stopped_ || closedUpTo_ >= mine; });
}

void PictureMessages::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        waiting_.clear();
    }
    closed_.notify_all();
}

void PictureMessages::ShowNext()
{
    std::pair<uint64_t, std::string> next;
    {
        std::lock_guard lock(mutex_);
        // A box is open already: this one follows when it closes.
        if (showing_ || waiting_.empty())
            return;
        next = std::move(waiting_.front());
        waiting_.pop_front();
        showing_ = true;
    }
    prompter_.Tell(nullptr, QString::fromStdString(next.second), QMessageBox::Information);
    bool more;
    {
        std::lock_guard lock(mutex_);
        showing_ = false;
        closedUpTo_ = next.first;
        more = !waiting_.empty();
    }
    closed_.notify_all();
    if (more)
        QMetaObject::invokeMethod(this, [this] { ShowNext(); }, Qt::QueuedConnection);
}

} // namespace ormbrook
