#pragma once
// CMainFrame: the main window, "Ormbrook Download Engine". It holds the
// project windows, the menus, the toolbar, the status bar with its dial-up
// pane and the tray icon, and runs every command (the project's own on the
// active project window). It is found by the other programs through its
// channel, and it starts hidden: the program lives in the tray.

#include "shell/timer_scheduler.h"
#include "windows/commands.h"
#include "windows/crawl_status.h"
#include "windows/desktop_context.h"

#include <QMainWindow>

#include <map>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSettings;
class QSystemTrayIcon;

namespace ormbrook {

class CChildFrame;
class ChannelServer;
struct ChannelFrame;
class MessageTarget;

extern const char kMainWindowTitle[];
extern const char kExitRefusedWhileCrawling[];
// The status bar's word when a viewer opens on no picture at all.
extern const char kNothingToShow[];

// What the desktop says when a crawl that nobody watches ends (a timer's,
// or any crawl while the main window is hidden): nothing for a saved-data
// job, for the user's own crawl in sight, or with the setting off.
struct CrawlNotice {
    QString title;
    QString text;
};
std::optional<CrawlNotice> CrawlEndNotice(CrawlStatus::Mode mode, bool stopped, bool windowVisible, bool enabled,
                                          const std::string& project, const std::string& item,
                                          const std::string& counters);

class CMainFrame : public QMainWindow, public CrawlLauncher {
    Q_OBJECT
public:
    explicit CMainFrame(DesktopContext& context, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The tray icon and, where the desktop has no tray, the window itself:
    // the program must never be unreachable (unless the window may not show:
    // a start by the screen saver, which ends the program itself).
    void ShowTrayIcon(bool wantSplash, bool mayShowWindow = true);
    // Listens as "Ormbrook Download Engine"; false when another program does.
    bool ListenForPrograms();

    // Opens a project, or brings its window forward when it is open.
    CChildFrame* OpenDocument(const QString& path);
    CChildFrame* NewDocument();
    CChildFrame* ActiveChild() const;
    QList<CChildFrame*> Children() const;
    bool AnyCrawling() const;

    QAction* Action(CommandId id) const;
    QAction* TrayAction(CommandId id) const;
    // Runs a command as its menu item would (nothing when it is disabled).
    bool RunCommand(CommandId id);
    CommandState State() const;
    void UpdateCommands();

    // "ウィンドウを表示": hides a visible window, shows a hidden one (the
    // first time in its saved show state).
    void ToggleWindow();
    // A project came from outside (a start with a file, a second start's
    // hand-over): the window shows, in front, with it.
    void BringForward();
    // The system close command: refused while a project crawls; otherwise
    // the picture side is told, and the window closes once it is done.
    void SystemClose();
    // The frames of the other programs, answered at once.
    uint32_t OnProgramFrame(const ChannelFrame& frame);

    QLabel* dialupPane() const { return dialupPane_; }
    // Where the dial-up manager posts its notices.
    QObject* dialupReceiver() const;
    const QStringList& recentFiles() const { return recent_; }
    QSystemTrayIcon* tray() const { return tray_; }
    bool closing() const { return closing_; }

    // CrawlLauncher: a due timer opens its project and crawls the item.
    void LaunchTimerCrawl(const TimerEntry& entry) override;

    // A lasting word in the status bar and the tray icon's tooltip; an
    // empty text takes it back.
    void SayInStatusBar(const QString& text);
    // The tray's balloon, or the context's notification sink.
    void Notify(const QString& title, const QString& text);

Q_SIGNALS:
    // Every project window has closed and the placement is saved.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void MakeActions();
    void MakeMenus();
    void MakeToolbar();
    void MakeStatusBar();
    void MakeTray();
    CChildFrame* AddChild(CChildFrame* child);
    void OnCommand(CommandId id);
    void OpenWithDialog();
    void AddRecent(const QString& path);
    void UpdateRecentMenu();
    void RestoreBars();
    void SavePlacement();
    void FinishClose();
    void ShowAbout();
    void ShowHelp();
    void OnDialupNotice(int state, int error);

    DesktopContext& context_;
    std::unique_ptr<QSettings> windowSettings_;
    QMdiArea* mdi_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, QAction*> trayActions_;
    QMenu* editMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    QMenu* crawlMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QList<QAction*> recentActions_;
    QList<QAction*> crawlOnly_;
    QLabel* dialupPane_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    std::unique_ptr<ChannelServer> channel_;
    MessageTarget* dialupNotices_ = nullptr;
    QStringList recent_;
    bool firstShow_ = true;
    bool closing_ = false;
    bool closeAllowed_ = false;
    int untitledCount_ = 0;
};

} // namespace ormbrook
