#include "windows/main_frame.h"

#include "common/messages.h"
#include "crawl/settings.h"
#include "engine/dialup_connector.h"
#include "pictures/picture_distribution.h"
#include "platform/message_target.h"
#include "platform/program_channel.h"
#include "shell/dialup_manager.h"
#include "shell/timer_doc.h"
#include "windows/artwork.h"
#include "windows/child_frame.h"
#include "windows/crawl_status.h"
#include "windows/project_session.h"
#include "windows/project_views.h"
#include "windows/settings_dialogs.h"
#include "windows/small_dialogs.h"
#include "windows/window_layout.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWhatsThis>

namespace ormbrook {

const char kMainWindowTitle[] = "Ormbrook Download Engine";
const char kNothingToShow[] = "表示する画像がありません";
const char kExitRefusedWhileCrawling[] =
    "現在巡回を実行中です。\n巡回を終了させてからアプリケーションを終了して下さい。";

namespace {

constexpr int kRecentMax = 4;

QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// Receives the dial-up manager's notices for the status bar's pane.
class DialupNotices : public MessageTarget {
public:
    DialupNotices(std::function<void(int, int)> onNotice, QObject* parent)
        : MessageTarget(parent), onNotice_(std::move(onNotice))
    {
    }

protected:
    void OnMessage(uint32_t message, uintptr_t, std::unique_ptr<MessageRecord> record) override
    {
        if (message != MsgDialupNotify)
            return;
        if (auto* notice = dynamic_cast<DialupNotifyRecord*>(record.get()))
            onNotice_(notice->state, notice->error);
    }

private:
    std::function<void(int, int)> onNotice_;
};

std::string CanonicalFile(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return (canonical.isEmpty() ? info.absoluteFilePath() : canonical).toStdString();
}

} // namespace

CMainFrame::CMainFrame(DesktopContext& context, QWidget* parent) : QMainWindow(parent), context_(context)
{
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    setWindowIcon(artwork::ProgramIcon());
    setAcceptDrops(true);
    windowSettings_ = context_.settingsPath.empty()
                          ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                        QStringLiteral("Nordvane"), QStringLiteral("Ormbrook"))
                          : std::make_unique<QSettings>(QString::fromStdString(context_.settingsPath),
                                                        QSettings::IniFormat);
    for (int i = 1; i <= kRecentMax; ++i) {
        const QString file = windowSettings_->value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!file.isEmpty())
            recent_.append(file);
    }

    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, &CMainFrame::UpdateCommands);

    MakeActions();
    MakeMenus();
    MakeToolbar();
    MakeStatusBar();
    RestoreBars();
    resize(900, 680);

    dialupNotices_ = new DialupNotices([this](int state, int error) { OnDialupNotice(state, error); }, this);
    if (context_.pictures) {
        connect(context_.pictures, &PictureDistribution::receiversChanged, this, &CMainFrame::UpdateCommands);
        connect(context_.pictures, &PictureDistribution::nothingToShow, this,
                [this] { statusBar()->showMessage(QString::fromUtf8(kNothingToShow)); });
    }
    UpdateCommands();
}

CMainFrame::~CMainFrame() = default;

QObject* CMainFrame::dialupReceiver() const
{
    return dialupNotices_;
}

// ---- making the window -------------------------------------------------------

void CMainFrame::MakeActions()
{
    for (const CommandInfo& info : CommandTable()) {
        auto* action = new QAction(Q(info.menuText), this);
        if (!info.prompt.empty()) {
            action->setStatusTip(Q(info.prompt));
            action->setWhatsThis(Q(info.prompt));
        }
        action->setToolTip(info.tooltip.empty() ? Q(info.menuText).remove(QLatin1Char('&')) : Q(info.tooltip));
        if (!info.shortcut.empty())
            action->setShortcut(QKeySequence(Q(info.shortcut)));
        if (info.icon != CommandIcon::None)
            action->setIcon(artwork::CommandIconFor(info.icon));
        action->setCheckable(info.checkable);
        const CommandId id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        actions_[id] = action;
    }
    // The three picture choices are one choice.
    auto* pickup = new QActionGroup(this);
    for (CommandId id : {CmdPickupOrdinary, CmdPickupBoth, CmdPickupOnly})
        pickup->addAction(actions_[id]);
    // "削除(&D)Ctrl+D" names its key in its text rather than as a shortcut.
    auto* deleteKey = new QAction(this);
    deleteKey->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    connect(deleteKey, &QAction::triggered, this, [this] { RunCommand(CmdDelete); });
    addAction(deleteKey);
}

void CMainFrame::MakeMenus()
{
    QMenuBar* bar = menuBar();
    fileMenu_ = bar->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    for (CommandId id : {CmdFileNew, CmdFileOpen, CmdFileClose, CmdFileSave, CmdFileSaveAs})
        fileMenu_->addAction(actions_[id]);
    fileMenu_->addSeparator();
    fileMenu_->addAction(actions_[CmdSettings]);
    recentSeparator_ = fileMenu_->addSeparator();
    for (int i = 0; i < kRecentMax; ++i) {
        auto* action = new QAction(this);
        connect(action, &QAction::triggered, this, [this, i] {
            if (i < recent_.size())
                OpenDocument(recent_[i]);
        });
        recentActions_.append(action);
        fileMenu_->addAction(action);
    }
    fileMenu_->addSeparator();
    fileMenu_->addAction(actions_[CmdAppExit]);

    editMenu_ = bar->addMenu(QStringLiteral("編集(&E)"));
    for (CommandId id : {CmdNewFolder, CmdNewUrl, CmdUrlFromBrowser, CmdDelete})
        editMenu_->addAction(actions_[id]);
    editMenu_->addSeparator();
    editMenu_->addAction(actions_[CmdItemProperties]);
    editMenu_->addSeparator();
    for (CommandId id : {CmdDeleteSaved, CmdMoveSaved, CmdCopySaved})
        editMenu_->addAction(actions_[id]);
    editMenu_->addSeparator();
    editMenu_->addAction(actions_[CmdShowInBrowser]);

    crawlMenu_ = bar->addMenu(QStringLiteral("巡回(&P)"));
    for (CommandId id : {CmdCrawl, CmdSelectedCrawl, CmdStop, CmdResetCrawl, CmdFailedUrls}) {
        crawlMenu_->addAction(actions_[id]);
        crawlOnly_.append(actions_[id]);
    }
    crawlOnly_.append(crawlMenu_->addSeparator());
    crawlMenu_->addAction(actions_[CmdTimerValid]);
    crawlMenu_->addAction(actions_[CmdTimerList]);

    QMenu* slides = bar->addMenu(QStringLiteral("ｽﾗｲﾄﾞｼｮｳ"));
    for (CommandId id : {CmdSlideWindow, CmdWallpaperChanger, CmdSlideShowReset})
        slides->addAction(actions_[id]);
    slides->addSeparator();
    slides->addAction(actions_[CmdSlideShowList]);
    slides->addSeparator();
    for (CommandId id : {CmdPickupOrdinary, CmdPickupBoth, CmdPickupOnly})
        slides->addAction(actions_[id]);

    QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
    view->setObjectName(QStringLiteral("ViewMenu"));
    // The bar toggles are added once the bars exist.
    view->addAction(actions_[CmdShowWindow]);

    windowMenu_ = bar->addMenu(QStringLiteral("ｳｨﾝﾄﾞｳ(&W)"));
    QAction* cascade = windowMenu_->addAction(QStringLiteral("重ねて表示(&C)"));
    cascade->setStatusTip(QStringLiteral("ｳｨﾝﾄﾞｳを重ねて表示"));
    connect(cascade, &QAction::triggered, mdi_, &QMdiArea::cascadeSubWindows);
    QAction* tile = windowMenu_->addAction(QStringLiteral("並べて表示(&T)"));
    tile->setStatusTip(QStringLiteral("ｳｨﾝﾄﾞｳを並べて表示"));
    connect(tile, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    windowMenu_->addSeparator();
    windowMenu_->addAction(actions_[CmdNextPane]);
    windowMenu_->addAction(actions_[CmdPrevPane]);

    QMenu* help = bar->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    help->addAction(actions_[CmdHelp]);
    help->addAction(actions_[CmdContextHelp]);
    help->addSeparator();
    help->addAction(actions_[CmdAbout]);
    UpdateRecentMenu();
}

void CMainFrame::MakeToolbar()
{
    QToolBar* toolbar = addToolBar(QStringLiteral("ツール バー"));
    toolbar->setObjectName(QStringLiteral("ToolBar"));
    toolbar->setIconSize(QSize(22, 22));
    for (int id : kToolbarOrder) {
        if (id == 0)
            toolbar->addSeparator();
        else
            toolbar->addAction(actions_[id]);
    }
    if (QMenu* view = menuBar()->findChild<QMenu*>(QStringLiteral("ViewMenu"))) {
        QAction* first = view->actions().value(0);
        QAction* toggle = toolbar->toggleViewAction();
        toggle->setText(QStringLiteral("ツール バー(&T)"));
        toggle->setStatusTip(QStringLiteral("ﾂｰﾙ ﾊﾞｰの 表示/非表示"));
        view->insertAction(first, toggle);
    }
}

void CMainFrame::MakeStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    dialupPane_ = new QLabel(QStringLiteral("ダイアルアップ未接続"), bar);
    dialupPane_->setFixedWidth(300);
    dialupPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(dialupPane_);
    bar->showMessage(QStringLiteral("レディ"));
    if (QMenu* view = menuBar()->findChild<QMenu*>(QStringLiteral("ViewMenu"))) {
        auto* toggle = new QAction(QStringLiteral("ステータス バー(&S)"), this);
        toggle->setCheckable(true);
        toggle->setChecked(true);
        toggle->setStatusTip(QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰの 表示/非表示"));
        connect(toggle, &QAction::toggled, bar, &QWidget::setVisible);
        view->insertAction(view->actions().value(1), toggle);
    }
}

void CMainFrame::MakeTray()
{
    trayMenu_ = new QMenu(this);
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.id == CmdHelp || item.id == CmdAppExit)
            trayMenu_->addSeparator();
        auto* action = new QAction(Q(item.text), this);
        const std::optional<bool> checked = CommandChecked(item.id, State());
        action->setCheckable(checked.has_value());
        const CommandId id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
        trayMenu_->addAction(action);
        trayActions_[id] = action;
    }
    tray_ = new QSystemTrayIcon(artwork::TrayIcon(), this);
    tray_->setToolTip(QStringLiteral("Ormbrook"));
    tray_->setContextMenu(trayMenu_);
    // The menu opens with the window brought to the front, as the tray's
    // right button asks. A left click (a StatusNotifier host's "activate")
    // shows or hides the window, as Linux desktops' tray icons do.
    connect(trayMenu_, &QMenu::aboutToShow, this, [this] {
        if (isVisible())
            activateWindow();
        UpdateCommands();
    });
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            RunCommand(CmdShowWindow);
    });
}

void CMainFrame::RestoreBars()
{
    const QByteArray state = windowSettings_->value(QStringLiteral("Settings/ControlBars/State")).toByteArray();
    if (!state.isEmpty())
        restoreState(state);
}

void CMainFrame::ShowTrayIcon(bool wantSplash, bool mayShowWindow)
{
    MakeTray();
    if (wantSplash)
        (new SplashWindow)->show();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_->show();
        return;
    }
    // No tray on this desktop: the window is the only way in.
    if (mayShowWindow)
        ToggleWindow();
}

bool CMainFrame::ListenForPrograms()
{
    channel_ = std::make_unique<ChannelServer>([this](const ChannelFrame& frame) { return OnProgramFrame(frame); });
    return channel_->Listen(kMainWindowTitle);
}

uint32_t CMainFrame::OnProgramFrame(const ChannelFrame& frame)
{
    uint32_t reply = 0;
    if (context_.pictures && context_.pictures->OnReceiverFrame(frame, reply))
        return reply;
    switch (frame.message) {
    case MsgClose:
        // Answered first: the sender must not wait on a question box.
        QTimer::singleShot(0, this, &CMainFrame::SystemClose);
        return 0;
    case MsgOpenDocument: {
        const QString path = QString::fromStdString(frame.text);
        QTimer::singleShot(0, this, [this, path] {
            if (!path.isEmpty())
                OpenDocument(path);
            BringForward();
        });
        return 1;
    }
    default:
        return 0;
    }
}

// ---- projects --------------------------------------------------------------

QList<CChildFrame*> CMainFrame::Children() const
{
    QList<CChildFrame*> children;
    for (QMdiSubWindow* sub : mdi_->subWindowList())
        if (auto* child = qobject_cast<CChildFrame*>(sub->widget()))
            children.append(child);
    return children;
}

CChildFrame* CMainFrame::ActiveChild() const
{
    QMdiSubWindow* sub = mdi_->activeSubWindow();
    if (!sub) {
        const QList<QMdiSubWindow*> all = mdi_->subWindowList(QMdiArea::ActivationHistoryOrder);
        sub = all.isEmpty() ? nullptr : all.back();
    }
    return sub ? qobject_cast<CChildFrame*>(sub->widget()) : nullptr;
}

bool CMainFrame::AnyCrawling() const
{
    for (CChildFrame* child : Children())
        if (child->crawling())
            return true;
    return false;
}

std::optional<CrawlNotice> CrawlEndNotice(CrawlStatus::Mode mode, bool stopped, bool windowVisible, bool enabled,
                                          const std::string& project, const std::string& item,
                                          const std::string& counters)
{
    const bool unwatched = mode == CrawlStatus::Mode::Timer
                           || (!windowVisible && (mode == CrawlStatus::Mode::Normal || mode == CrawlStatus::Mode::Selected));
    if (!enabled || !unwatched)
        return std::nullopt;
    CrawlNotice notice;
    notice.title = (stopped ? QStringLiteral("%1 の巡回を中断しました") : QStringLiteral("%1 の巡回が終わりました"))
                       .arg(QString::fromStdString(project));
    if (!item.empty())
        notice.text = QString::fromStdString(item) + QLatin1Char('\n');
    notice.text += QString::fromStdString(counters);
    return notice;
}

void CMainFrame::SayInStatusBar(const QString& text)
{
    statusBar()->showMessage(text.isEmpty() ? QStringLiteral("レディ") : text);
    if (tray_)
        tray_->setToolTip(text.isEmpty() ? QStringLiteral("Ormbrook") : QStringLiteral("Ormbrook\n") + text);
}

void CMainFrame::Notify(const QString& title, const QString& text)
{
    if (context_.notify)
        context_.notify(title, text);
    else if (tray_ && tray_->isVisible())
        tray_->showMessage(title, text, artwork::TrayIcon());
}

CChildFrame* CMainFrame::AddChild(CChildFrame* child)
{
    QMdiSubWindow* sub = mdi_->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(artwork::TreeItemIcon(TreeIcon::Root, MarkNone));
    connect(child, &CChildFrame::commandStateChanged, this, &CMainFrame::UpdateCommands);
    connect(&child->status(), &CrawlStatus::ended, this, [this, child](CrawlStatus::Mode mode, bool stopped) {
        const auto notice = CrawlEndNotice(mode, stopped, isVisible(), context_.settings->values().NotifyCrawlEnd != 0,
                                           child->session().title(), child->status().crawledItem(),
                                           child->status().model().CounterLine());
        if (notice)
            Notify(notice->title, notice->text);
    });
    connect(child, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, &CMainFrame::UpdateCommands); });
    connect(child, &CChildFrame::modifiedChanged, this, [this, child] {
        const std::string path = child->session().filePath();
        if (!path.empty())
            AddRecent(QString::fromStdString(path));
    });
    sub->show();
    // While the main window is hidden its area has no size yet: the window
    // takes the size the main window will show with.
    QSize area = mdi_->viewport()->size();
    if (area.width() < 200 || area.height() < 200)
        area = size() - QSize(16, 120);
    const ScreenRect place = NewProjectWindowPlace(area.width(), area.height(), int(mdi_->subWindowList().size()) - 1);
    sub->setGeometry(place.left, place.top, place.width, place.height);
    mdi_->setActiveSubWindow(sub);
    UpdateCommands();
    return child;
}

CChildFrame* CMainFrame::OpenDocument(const QString& path)
{
    const std::string wanted = CanonicalFile(path);
    for (CChildFrame* child : Children()) {
        if (!child->session().filePath().empty()
            && CanonicalFile(QString::fromStdString(child->session().filePath())) == wanted) {
            for (QMdiSubWindow* sub : mdi_->subWindowList())
                if (sub->widget() == child)
                    mdi_->setActiveSubWindow(sub);
            return child;
        }
    }
    auto session = std::make_unique<ProjectSession>(*context_.settings, *context_.mirrorLock);
    if (!session->Open(wanted)) {
        if (context_.prompter)
            context_.prompter->Tell(this, QString::fromStdString(wanted + "\n" + session->errorText()),
                                    QMessageBox::Warning);
        recent_.removeAll(path);
        UpdateRecentMenu();
        return nullptr;
    }
    AddRecent(QString::fromStdString(wanted));
    return AddChild(new CChildFrame(context_, std::move(session)));
}

CChildFrame* CMainFrame::NewDocument()
{
    auto session = std::make_unique<ProjectSession>(*context_.settings, *context_.mirrorLock);
    session->New("QRY" + std::to_string(++untitledCount_));
    return AddChild(new CChildFrame(context_, std::move(session)));
}

void CMainFrame::OpenWithDialog()
{
    if (!context_.prompter)
        return;
    const QString start = QString::fromStdString(context_.settings->values().MirrorDir);
    if (std::optional<QString> file = context_.prompter->AskOpenProject(this, start))
        OpenDocument(*file);
}

void CMainFrame::AddRecent(const QString& path)
{
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > kRecentMax)
        recent_.removeLast();
    for (int i = 0; i < kRecentMax; ++i) {
        const QString key = QStringLiteral("Recent File List/File%1").arg(i + 1);
        if (i < recent_.size())
            windowSettings_->setValue(key, recent_[i]);
        else
            windowSettings_->remove(key);
    }
    UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu()
{
    for (int i = 0; i < recentActions_.size(); ++i) {
        QAction* action = recentActions_[i];
        if (i < recent_.size()) {
            QString shown = recent_[i];
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
            action->setVisible(true);
        } else {
            action->setVisible(false);
        }
    }
    if (recentSeparator_)
        recentSeparator_->setVisible(!recent_.isEmpty());
}

void CMainFrame::LaunchTimerCrawl(const TimerEntry& entry)
{
    CChildFrame* child = OpenDocument(QString::fromStdString(entry.file));
    if (child && child == ActiveChild())
        child->TimerCrawl(entry);
}

// ---- commands --------------------------------------------------------------

QAction* CMainFrame::Action(CommandId id) const
{
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QAction* CMainFrame::TrayAction(CommandId id) const
{
    auto it = trayActions_.find(id);
    return it == trayActions_.end() ? nullptr : it->second;
}

CommandState CMainFrame::State() const
{
    CommandState s;
    if (CChildFrame* child = ActiveChild()) {
        s.projectOpen = true;
        s.node = child->selectedKind();
        s.crawling = child->crawling();
    }
    if (context_.pictures) {
        s.saverRunning = context_.pictures->saverRunning();
        s.slideWindowRunning = context_.pictures->slideWindowRunning();
        s.desktopMode = context_.pictures->desktopMode();
        s.desktopStopping = context_.pictures->desktopStopping();
    }
    s.timerValid = context_.settings->values().TimerValid != 0;
    s.pickupDisplay = context_.settings->values().PickupDisplay;
    s.windowVisible = isVisible();
    return s;
}

void CMainFrame::UpdateCommands()
{
    const CommandState s = State();
    for (auto& [id, action] : actions_) {
        action->setEnabled(CommandEnabled(static_cast<CommandId>(id), s));
        if (std::optional<bool> checked = CommandChecked(static_cast<CommandId>(id), s))
            action->setChecked(*checked);
    }
    for (auto& [id, action] : trayActions_) {
        action->setEnabled(CommandEnabled(static_cast<CommandId>(id), s));
        if (std::optional<bool> checked = CommandChecked(static_cast<CommandId>(id), s))
            action->setChecked(*checked);
    }
    // The second menu set: the edit and window menus and the crawl commands
    // come with an open project.
    editMenu_->menuAction()->setVisible(s.projectOpen);
    windowMenu_->menuAction()->setVisible(s.projectOpen);
    for (QAction* action : crawlOnly_)
        action->setVisible(s.projectOpen);
}

bool CMainFrame::RunCommand(CommandId id)
{
    if (!CommandEnabled(id, State()))
        return false;
    OnCommand(id);
    return true;
}

void CMainFrame::OnCommand(CommandId id)
{
    if (!CommandEnabled(id, State())) {
        UpdateCommands();
        return;
    }
    switch (id) {
    case CmdFileNew:
        NewDocument();
        break;
    case CmdFileOpen:
        OpenWithDialog();
        break;
    case CmdAppExit:
        SystemClose();
        break;
    case CmdSettings:
        EditSettings(context_, this);
        break;
    case CmdTimerValid:
        context_.settings->ToggleTimerValid();
        break;
    case CmdPickupOrdinary:
        context_.settings->SetPickupDisplay(0);
        break;
    case CmdPickupBoth:
        context_.settings->SetPickupDisplay(1);
        break;
    case CmdPickupOnly:
        context_.settings->SetPickupDisplay(2);
        break;
    case CmdTimerList:
        if (ShowTimerList(context_, this))
            for (CChildFrame* child : Children())
                child->Refresh();
        break;
    case CmdSlideShowList:
        if (ShowSlideShowList(context_, this))
            for (CChildFrame* child : Children())
                child->Refresh();
        break;
    case CmdSlideShowReset:
        if (context_.pictures)
            context_.pictures->ResetSlideShow();
        break;
    case CmdWallpaperChanger:
        if (context_.pictures)
            context_.pictures->ToggleDesktopMode();
        break;
    case CmdSlideWindow:
        if (context_.pictures)
            context_.pictures->ToggleSlideWindow();
        break;
    case CmdShowWindow:
        ToggleWindow();
        break;
    case CmdAbout:
        ShowAbout();
        break;
    case CmdHelp:
        ShowHelp();
        break;
    case CmdContextHelp:
        QWhatsThis::enterWhatsThisMode();
        break;
    case CmdNextPane:
    case CmdPrevPane:
        if (CChildFrame* child = ActiveChild()) {
            QWidget* panes[] = {&child->linkView(), &child->pageView()};
            const bool onTree = panes[0]->hasFocus();
            (onTree ? panes[1] : panes[0])->setFocus();
        }
        break;
    default:
        if (CChildFrame* child = ActiveChild())
            child->RunCommand(id);
        break;
    }
    UpdateCommands();
}

void CMainFrame::ShowAbout()
{
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("バージョン情報"));
    box.setIconPixmap(artwork::ProgramIcon().pixmap(48, 48));
    box.setText(QStringLiteral("<b>Ormbrook Download Engine</b><br>Version 1.5<br><br>Copyright © Nordvane"));
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void CMainFrame::ShowHelp()
{
    // The installed guide, else the one of the source tree the program was
    // built in.
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + QStringLiteral("/../share/doc/ormbrook/README.md"),
                                     dir + QStringLiteral("/../../../README.md")}) {
        if (!QFileInfo::exists(candidate))
            continue;
        const QString path = QFileInfo(candidate).canonicalFilePath();
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)) && context_.prompter)
            context_.prompter->Tell(this,
                                    QStringLiteral("ヘルプを表示するプログラムを起動できませんでした。\n%1").arg(path),
                                    QMessageBox::Warning);
        return;
    }
    if (context_.prompter)
        context_.prompter->Tell(this, QStringLiteral("ヘルプ ファイルが見つかりません。\n%1")
                                          .arg(dir + QStringLiteral("/../share/doc/ormbrook/README.md")),
                                QMessageBox::Warning);
}

void CMainFrame::OnDialupNotice(int state, int error)
{
    if (std::optional<std::string> text = DialupStatusText(state, error))
        dialupPane_->setText(QString::fromStdString(*text));
}

// ---- showing, hiding and closing -------------------------------------------

void CMainFrame::ToggleWindow()
{
    // A minimised window is still shown (in the task bar): the command hides it.
    if (isVisible()) {
        hide();
    } else if (firstShow_) {
        firstShow_ = false;
        const std::optional<WindowPlacement> placement =
            ParseWindowPos(windowSettings_->value(QStringLiteral("Settings/WindowPos")).toString().toStdString());
        if (placement) {
            setGeometry(placement->left, placement->top, placement->right - placement->left,
                        placement->bottom - placement->top);
            if (placement->showCommand == kShowMaximized)
                showMaximized();
            else if (placement->showCommand == kShowMinimized)
                showMinimized();
            else
                showNormal();
        } else {
            if (const QScreen* screen = this->screen()) {
                const QRect free = screen->availableGeometry();
                const ScreenRect place = FirstMainWindowPlace({free.x(), free.y(), free.width(), free.height()},
                                                              width(), height());
                setGeometry(place.left, place.top, place.width, place.height);
            }
            showNormal();
        }
    } else {
        showNormal();
    }
    if (isVisible()) {
        raise();
        activateWindow();
    }
    UpdateCommands();
}

void CMainFrame::BringForward()
{
    if (!isVisible())
        ToggleWindow();
    else if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    firstShow_ = false;
    UpdateCommands();
}

void CMainFrame::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    UpdateCommands();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateCommands();
}

void CMainFrame::SystemClose()
{
    if (closing_)
        return;
    if (AnyCrawling()) {
        if (context_.prompter)
            context_.prompter->Tell(this, QString::fromUtf8(kExitRefusedWhileCrawling), QMessageBox::Warning);
        return;
    }
    // Every modified project is asked before anything is torn down: a
    // Cancel keeps the program as it was, the slide window and the
    // wallpaper changer included.
    const QList<CChildFrame*> children = Children();
    for (CChildFrame* child : children) {
        if (!child->AskBeforeClose()) {
            for (CChildFrame* asked : children)
                asked->ForgetCloseAnswer();
            return;
        }
    }
    closing_ = true;
    auto closeNow = [this] { FinishClose(); };
    if (context_.pictures)
        context_.pictures->PrepareExit(closeNow);
    else
        closeNow();
}

void CMainFrame::SavePlacement()
{
    WindowPlacement p;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.left = normal.left();
    p.top = normal.top();
    p.right = normal.right() + 1;
    p.bottom = normal.bottom() + 1;
    p.showCommand = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
    if (isMaximized())
        p.flags |= kPlacementRestoreToMaximized;
    // A window never shown keeps the placement it had.
    if (!firstShow_ || !windowSettings_->contains(QStringLiteral("Settings/WindowPos")))
        windowSettings_->setValue(QStringLiteral("Settings/WindowPos"), QString::fromStdString(FormatWindowPos(p)));
    windowSettings_->setValue(QStringLiteral("Settings/ControlBars/State"), saveState());
    windowSettings_->sync();
}

void CMainFrame::FinishClose()
{
    SavePlacement();
    if (tray_)
        tray_->hide();
    // The projects were asked in SystemClose; one whose crawl a timer
    // started meanwhile refuses, and the program stays.
    for (QMdiSubWindow* sub : mdi_->subWindowList()) {
        if (!sub->close()) {
            for (CChildFrame* child : Children())
                child->ForgetCloseAnswer();
            closing_ = false;
            if (tray_ && QSystemTrayIcon::isSystemTrayAvailable())
                tray_->show();
            return;
        }
    }
    closeAllowed_ = true;
    close();
    Q_EMIT closed();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (closeAllowed_) {
        event->accept();
        return;
    }
    // The close box is the system close command.
    event->ignore();
    QTimer::singleShot(0, this, &CMainFrame::SystemClose);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral(".prj"), Qt::CaseInsensitive)) {
            event->acceptProposedAction();
            return;
        }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && url.toLocalFile().endsWith(QStringLiteral(".prj"), Qt::CaseInsensitive))
            OpenDocument(url.toLocalFile());
    event->acceptProposedAction();
}

} // namespace ormbrook
