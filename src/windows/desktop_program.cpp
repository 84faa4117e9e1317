#include "windows/desktop_program.h"

#include "platform/runtime_folder.h"

#include "common/messages.h"
#include "crawl/download_manager.h"
#include "engine/ws_thread.h"
#include "pictures/jpeg_decode.h"
#include "pictures/desktop_wallpaper.h"
#include "pictures/picture_side.h"
#include "platform/program_channel.h"
#include "shell/command_line.h"
#include "shell/headless_crawl.h"
#include "shell/dialup_manager.h"
#include "shell/timer_scheduler.h"
#include "windows/main_frame.h"
#include "windows/nm_dialup.h"
#include "windows/picture_panel_dialog.h"
#include "windows/picture_wiring.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <ctime>

namespace ormbrook {

const char kEngineLockName[] = "Ormbrook Download Engine";
const char kNotInstalled[] = "アプリケーションが正しくインストールされていません";
const char kTimersLeftToService[] = "タイマーは qry --scheduler（ユーザー サービス）が実行しています";

DesktopProgram::DesktopProgram() = default;

DesktopProgram::~DesktopProgram()
{
    Finish();
}

DesktopProgram::StartResult DesktopProgram::Start(const Options& options, Prompter* prompter)
{
    const QString project = options.project.empty()
                                ? QString()
                                : QFileInfo(QString::fromStdString(options.project)).absoluteFilePath();
    if (RuntimeFolder().empty()) {
        std::fprintf(stderr, "qry: no private runtime folder for this user can be made, so Ormbrook can't run\n");
        return StartResult::Failed;
    }
    lock_ = std::make_unique<NamedLock>(kEngineLockName);
    if (!lock_->TryAcquire()) {
        // The program runs already: it opens the file (or just shows itself).
        ChannelFrame frame{MsgOpenDocument, 0, 0, project.toStdString()};
        if (!PostFrame(kMainWindowTitle, frame)) {
            std::fprintf(stderr, "qry: another Ormbrook runs, but its window does not answer\n");
            return StartResult::Failed;
        }
        return StartResult::HandedOver;
    }

    if (!prompter) {
        ownPrompter_ = std::make_unique<Prompter>();
        prompter = ownPrompter_.get();
    }
    settings_ = std::make_unique<AppSettings>(options.settingsPath, options.programFolder);
    settings_->LoadSettings();

    // The picture side: the one place where the desktop program gets it.
    desktop_ = MakeDesktopWallpaper(options.wallpaperBackend, runner_);
    pictures_ = MakePictureSide(*settings_, slides_, options.slideWindowProgram, [this] { RunPicturePanel(); },
                                desktop_.get());
    desktop_->SetAnswer([cycle = &pictures_->cycle()](const ChannelFrame& frame) { cycle->Deliver(frame); });

    context_.settings = settings_.get();
    context_.mirrorLock = &mirrorLock_;
    context_.timers = &timers_;
    context_.slides = &slides_;
    context_.pictures = &pictures_->cycle();
    context_.services.pictures = pictures_->crawlSink();
    context_.prompter = prompter;
    context_.settingsPath = options.settingsPath;
    context_.listBase = settings_->programFolder() + "/QRY";
    context_.services.settings = settings_.get();

    mainFrame_ = std::make_unique<CMainFrame>(context_);
    if (!QFileInfo(QString::fromStdString(settings_->programFolder())).isDir()) {
        prompter->Tell(nullptr, QString::fromUtf8(kNotInstalled), QMessageBox::Critical);
        return StartResult::Failed;
    }
    if (!OpenPickupQueue(*pictures_, *prompter))
        return StartResult::Failed;
    // A picture that cannot be opened is told of; the walk may run on the
    // picture worker, the box only on this thread.
    pictureMessages_ = std::make_unique<PictureMessages>(*prompter);
    SetJpegMessageSink([messages = pictureMessages_.get()](std::string_view text) { messages->Tell(text); });
    timerTurn_ = std::make_unique<TimerTurn>([this](bool mine) {
        if (mine) {
            if (timersLeft_) {
                std::fprintf(stderr, "qry: qry --scheduler has ended; the timers are run here again\n");
                mainFrame_->SayInStatusBar({});
            }
        } else {
            std::fprintf(stderr, "qry: qry --scheduler (the user service) runs the crawl timers; they are left to it\n");
            mainFrame_->SayInStatusBar(QString::fromUtf8(kTimersLeftToService));
        }
        timersLeft_ = !mine;
    });
    scheduler_ = std::make_unique<CTimerScheduler>(timers_, *mainFrame_, [this] {
        return timerTurn_->Hold() && settings_->values().TimerValid != 0;
    });
    scheduler_->StartScheduler(std::time(nullptr));
    mainFrame_->ShowTrayIcon(options.splash && !options.hidden, !options.hidden);
    timerTurn_->Hold();
    mainFrame_->ListenForPrograms();

    if (!project.isEmpty()) {
        if (!mainFrame_->OpenDocument(project))
            return StartResult::Failed;
        // Opened from a file manager: the user wants to see it, not a tray icon.
        if (!options.hidden)
            mainFrame_->BringForward();
    }

    timersLoaded_ = timers_.Load(context_.listBase);
    slidesLoaded_ = slides_.Load(context_.listBase);
    // A damaged line is left out; the user hears which, before the next save
    // writes the list without it.
    for (const auto& [unread, extension] : {std::pair{&timers_.unreadLines(), ".tmf"}, {&slides_.unreadLines(), ".ssf"}}) {
        if (unread->empty())
            continue;
        QStringList lines;
        for (int line : *unread)
            lines << QString::number(line);
        prompter->Tell(nullptr,
                       QStringLiteral("%1 の %2 行目は読めないため、除いて読み込みました。")
                           .arg(QString::fromStdString(context_.listBase + extension), lines.join(QStringLiteral("、"))),
                       QMessageBox::Warning);
    }

    engine_ = std::make_unique<CWSThread>(init_);
    engine_->SetHandler([](uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) {
        if (message == MsgEngineCreateManager)
            CreateManagerFor(std::move(record));
    });
    if (engine_->Start()) {
        context_.engine = engine_.get();
    } else {
        // The windows still open and edit projects; crawls say why they can't.
        engine_.reset();
        std::fprintf(stderr, "qry: the download engine could not start\n");
    }
    const SettingsValues& values = settings_->values();
    // NetworkManager's profiles are the dial-up entries where it runs;
    // elsewhere the network is simply there.
    if (auto networkManager = NetworkManagerDialup::OnSystemBus()) {
        networkManager->SetEntry(values.DialupEntry);
        context_.dialupDirectory = networkManager.get();
        dialService_ = std::move(networkManager);
    } else {
        dialService_ = std::make_unique<AlwaysConnectedService>();
    }
    dialup_ = std::make_unique<DialupManager>(*dialService_,
                                              DialupSettings{values.DialupEntry, values.DialRetry, values.password});
    dialup_->SetMainWindow(mainFrame_->dialupReceiver());
    context_.settingsChanged = [this] {
        const SettingsValues& now = settings_->values();
        pictures_->SetMirrorDir(now.MirrorDir);
        dialup_->SetSettings({now.DialupEntry, now.DialRetry, now.password});
        if (auto* networkManager = dynamic_cast<NetworkManagerDialup*>(dialService_.get()))
            networkManager->SetEntry(now.DialupEntry);
    };
    context_.services.dialup = dialup_.get();
    mainFrame_->UpdateCommands();
    return StartResult::Running;
}

void DesktopProgram::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (scheduler_)
        scheduler_->StopScheduler();
    // The service waiting for the timers gets them at its next tick.
    timerTurn_.reset();
    // A picture worker waiting for a box to close must not hold up the end.
    if (pictureMessages_)
        pictureMessages_->Stop();
    if (mainFrame_) {
        mainFrame_.reset();
        // A start that ended before the lists were read (a project that is
        // gone, a refused conversion) has nothing to save: writing the empty
        // lists would wipe the user's timers and slide show.
        if (timersLoaded_)
            timers_.Save(context_.listBase);
        if (slidesLoaded_)
            slides_.Save(context_.listBase);
    }
    // Destroyed without hanging up: a line the program dialled stays as it is.
    if (dialup_)
        dialup_->SetMainWindow(nullptr);
    dialup_.reset();
    if (engine_) {
        engine_->Post(MsgEngineQuit);
        engine_->Wait();
        engine_.reset();
    }
    SetJpegMessageSink({});
    // The desktop's answers stop before the cycle goes; the cycle's worker
    // may still hand it a picture, which it then shows unanswered.
    if (desktop_) {
        desktop_->Drain();
        desktop_->SetAnswer({});
    }
    pictures_.reset();
    desktop_.reset();
}

void DesktopProgram::RunPicturePanel()
{
    if (!pictures_)
        return;
    PanelServices services;
    services.currentPicture = [this] { return pictures_->cycle().currentPicture(); };
    services.historyCount = [this] { return pictures_->queue().history().count(); };
    services.clearHistory = [this] { pictures_->queue().ClearHistory(); };
    services.next = [this] { pictures_->cycle().PanelNext(); };
    services.previous = [this] { pictures_->cycle().PanelPrevious(); };
    services.pickupDir = [this] { return settings_->values().PickupDir; };
    services.chooseFolder = [this](const std::string& start) -> std::optional<std::string> {
        const auto folder = context_.prompter->AskDirectory(nullptr, QStringLiteral("コピー先の選択"),
                                                            QString::fromStdString(start));
        if (!folder)
            return std::nullopt;
        return folder->toStdString();
    };
    services.loadCopyFolder = [this] { return LoadPanelCopyFolder(context_.settingsPath); };
    services.saveCopyFolder = [this](const std::string& folder) { SavePanelCopyFolder(context_.settingsPath, folder); };
    services.programFolder = settings_->programFolder();
    services.setWallpaper = [this](const std::string& file) {
        if (desktop_)
            desktop_->SetPermanent(file);
    };
    PicturePanelLogic logic(std::move(services));
    PicturePanelDialog panel(logic);
    panel.exec();
}

void LoadQtTranslations(QApplication& app)
{
    // Qt's own texts in its dialogs ("ファイル名", "キャンセル") in the
    // interface's language, from Debian's qt6-translations-l10n.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;
}

int RunDesktop(int argc, char** argv, const std::string& project)
{
    // Without a display Qt would abort; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "qry: the desktop program needs a display; without one, use a verb:\n%s", kUsageText);
        return ExitUsage;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Nordvane"));
    QApplication::setApplicationName(QStringLiteral("Ormbrook"));
    QApplication::setDesktopFileName(QStringLiteral("ormbrook"));
    // The program lives in the tray: closing its last window is not the end.
    QApplication::setQuitOnLastWindowClosed(false);
    LoadQtTranslations(app);

    DesktopProgram program;
    DesktopProgram::Options options;
    options.project = project;
    options.splash = qEnvironmentVariableIsEmpty("ORMBROOK_NO_SPLASH");
    // Started by the screen saver: nothing of ours may cover it.
    options.hidden = !qEnvironmentVariableIsEmpty("ORMBROOK_START_HIDDEN");
    qunsetenv("ORMBROOK_START_HIDDEN");
    switch (program.Start(options)) {
    case DesktopProgram::StartResult::HandedOver:
        return 0;
    case DesktopProgram::StartResult::Failed:
        return 1;
    case DesktopProgram::StartResult::Running:
        break;
    }
    QObject::connect(program.mainFrame(), &CMainFrame::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const int status = app.exec();
    program.Finish();
    return status;
}

} // namespace ormbrook
