#pragma once
// The desktop program: the application object of qry without a verb. It
// starts in the order the program has always started - settings, the hidden
// main window with its tray icon, the project named on the command line,
// the timer and slide-show lists, the engine thread, the dial-up manager -
// and ends in the reverse order, waiting for the engine thread.
//
// One runs per user (the lock "Ormbrook Download Engine"); a second start
// hands its project file to the first and ends.

#include "crawl/settings.h"
#include "engine/ws_init.h"
#include "platform/named_lock.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "windows/desktop_context.h"

#include <QMutex>

#include <memory>
#include <string>

namespace ormbrook {

class CMainFrame;
class CTimerScheduler;
class TimerTurn;
class CWSThread;
class DialupManager;
class DialupService;
class PictureSide;
class DesktopWallpaper;
class CommandRunner;
class PictureMessages;

extern const char kEngineLockName[];
extern const char kNotInstalled[];
// The status bar's word while the user service runs the timers.
extern const char kTimersLeftToService[];

class DesktopProgram {
public:
    struct Options {
        std::string project;       // a project file to open, or empty
        bool splash = true;
        // No window at start even without a tray (a start by the screen
        // saver, which ends the program again).
        bool hidden = false;
        std::string settingsPath;  // instead of the user's settings file
        std::string programFolder; // instead of the user's data folder
        std::string slideWindowProgram; // instead of qrysw beside this program
        // The wallpaper changer's back end (gnome, cinnamon, mate, xfce,
        // plasma, x11, none) instead of the session's; tests never touch a
        // real desktop. ORMBROOK_WALLPAPER_BACKEND does the same.
        std::string wallpaperBackend;
    };
    enum class StartResult { Running, HandedOver, Failed };

    DesktopProgram();
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // Needs a QApplication. Running: the event loop may start.
    StartResult Start(const Options& options, Prompter* prompter = nullptr);
    // After the event loop: saves the lists and waits for the engine thread.
    void Finish();

    CMainFrame* mainFrame() const { return mainFrame_.get(); }
    CTimerScheduler* scheduler() const { return scheduler_.get(); }
    DesktopContext& context() { return context_; }
    AppSettings& settings() { return *settings_; }
    CTimerDoc& timers() { return timers_; }
    CSSDoc& slides() { return slides_; }
    PictureSide* pictures() { return pictures_.get(); }
    DesktopWallpaper* desktopWallpaper() { return desktop_.get(); }

private:
    std::unique_ptr<NamedLock> lock_;
    std::unique_ptr<AppSettings> settings_;
    QMutex mirrorLock_;
    CTimerDoc timers_;
    CSSDoc slides_;
    CWSInit init_;
    std::unique_ptr<CWSThread> engine_;
    std::unique_ptr<DialupService> dialService_;
    std::unique_ptr<DialupManager> dialup_;
    void RunPicturePanel();

    std::unique_ptr<CommandRunner> runner_;
    std::unique_ptr<DesktopWallpaper> desktop_;
    std::unique_ptr<PictureSide> pictures_;
    std::unique_ptr<Prompter> ownPrompter_;
    std::unique_ptr<PictureMessages> pictureMessages_;
    DesktopContext context_;
    std::unique_ptr<CMainFrame> mainFrame_;
    std::unique_ptr<TimerTurn> timerTurn_;
    bool timersLeft_ = false;
    std::unique_ptr<CTimerScheduler> scheduler_;
    bool finished_ = false;
    bool timersLoaded_ = false;
    bool slidesLoaded_ = false;
};

// Qt's own dialog texts in Japanese, where the translations are installed.
void LoadQtTranslations(class QApplication& app);

// qry without a verb: runs the desktop program to its end; the exit status.
int RunDesktop(int argc, char** argv, const std::string& project);

} // namespace ormbrook
