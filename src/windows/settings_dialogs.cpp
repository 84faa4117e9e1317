#include "windows/settings_dialogs.h"

#include "common/url.h"
#include "crawl/mirror.h"
#include "shell/autostart.h"
#include "windows/artwork.h"
#include "windows/desktop_context.h"
#include "windows/settings_pages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ormbrook {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

void SayInteger(Prompter* prompter, QWidget* parent)
{
    if (prompter)
        prompter->Tell(parent, QString::fromUtf8(kIntegerPrompt), QMessageBox::Warning);
}

SlideSettings SettingsOfEntry(const SlideEntry& e)
{
    SlideSettings s;
    s.enabled = true;
    s.effect = e.effect;
    s.speed = e.speed;
    s.backColor = e.backColor;
    s.minWidth = e.minWidth;
    s.minHeight = e.minHeight;
    s.showImgTags = e.showImgTags != 0;
    s.interval = e.interval;
    return s;
}

// "ログオン情報": the entry's user name and password.
class LogonDialog : public QDialog {
public:
    LogonDialog(QWidget* parent) : QDialog(parent)
    {
        setWindowTitle(QStringLiteral("ログオン情報"));
        auto* layout = new QVBoxLayout(this);
        auto* form = new QFormLayout;
        user = new QLineEdit(this);
        password = new QLineEdit(this);
        password->setEchoMode(QLineEdit::Password);
        form->addRow(QStringLiteral("ユーザ名"), user);
        form->addRow(QStringLiteral("パスワード"), password);
        layout->addLayout(form);
        save = new QCheckBox(QStringLiteral("パスワードを保存する"), this);
        layout->addWidget(save);
        layout->addWidget(OkCancel(this));
    }
    QLineEdit* user;
    QLineEdit* password;
    QCheckBox* save;
};

// The two lists' layout: the list on the left, "削除" and "設定変更" at the
// top right and "閉じる" at the bottom right; the buttons call back into the
// dialog.
template <class Dialog>
QTreeWidget* ListWithButtons(Dialog* dialog, const QStringList& headers, const std::vector<int>& widths)
{
    auto* layout = new QHBoxLayout(dialog);
    auto* list = new QTreeWidget(dialog);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(headers);
    for (int c = 0; c < int(widths.size()); ++c)
        list->setColumnWidth(c, widths[size_t(c)]);
    list->setMinimumSize(640, 260);
    layout->addWidget(list, 1);
    auto* buttons = new QVBoxLayout;
    auto* remove = new QPushButton(QStringLiteral("削除"), dialog);
    auto* change = new QPushButton(QStringLiteral("設定変更"), dialog);
    auto* close = new QPushButton(QStringLiteral("閉じる"), dialog);
    buttons->addWidget(remove);
    buttons->addWidget(change);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    QObject::connect(remove, &QPushButton::clicked, dialog, &Dialog::DeleteSelected);
    QObject::connect(change, &QPushButton::clicked, dialog, &Dialog::ChangeSelected);
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::accept);
    dialog->resize(900, 340);
    return list;
}

// The row the user selected, or -1. The current row alone is not a choice:
// Qt makes the first row current when the list takes the focus.
int SelectedRow(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.front());
}

} // namespace

// ---- the settings sheet ---------------------------------------------------------

const char kRenamedFilesNote[] =
    "ミラーフォルダには今までの名前で保存されたファイルがあります。これらのファイルは次の巡回で新しい名前で取得し直されます。";

void SettingsSheet::UpdateRenamedNote()
{
    // Only a change of naming costs anything, and only files already there.
    const bool switchedOn = readableNames_->isChecked() && settings_.values().ReadableNames != 1;
    std::string root = mirror_->text().toStdString();
    ForwardSlashes(root);
    renamedNote_->setVisible(switchedOn && !root.empty() && HoldsEscapedNames(root));
}

SettingsSheet::SettingsSheet(const AppSettings& settings, Prompter* prompter, DialupDirectory* dialup,
                             QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter), dialup_(dialup)
{
    setWindowTitle(QStringLiteral("Ormbrook Property"));
    const SettingsValues& v = settings.values();
    result_ = v;
    password_ = v.password;
    tabs_ = new QTabWidget(this);
    // Every page's caption shows at once; the sheet is as wide as they need.
    tabs_->setUsesScrollButtons(false);
    tabs_->addTab(FoldersPage(), QStringLiteral("フォルダ他"));
    tabs_->addTab(ConnectionPage(), QStringLiteral("接続"));
    crawl_ = new CrawlOptionsPage(this);
    crawl_->Load(CrawlOptionsOf(v), EffectiveCrawlOptions(settings));
    tabs_->addTab(crawl_, QStringLiteral("巡回"));
    download_ = new ExtFilterPage(false, this);
    download_->Load(v.download, BuiltInDownloadFilter());
    tabs_->addTab(download_, QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞするﾌｧｲﾙの拡張子"));
    exclusion_ = new ExtFilterPage(true, this);
    exclusion_->Load(v.exclusion, BuiltInExclusionFilter());
    tabs_->addTab(exclusion_, QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞしないﾌｧｲﾙの拡張子"));
    slides_ = new SlideShowPage(SlideShowPage::Settings, this);
    SlideSettings s;
    s.effect = settings.MUDrawType();
    s.speed = settings.MUDrawSpeed();
    s.backColor = settings.BGColor();
    s.minWidth = settings.MinPicWidth();
    s.minHeight = settings.MinPicHeight();
    s.showImgTags = settings.IMGSW() != 0;
    s.interval = settings.PicChgInterval();
    slides_->Load(s, v.PickupDisplay);
    tabs_->addTab(slides_, QStringLiteral("ｽﾗｲﾄﾞｼｮｳの設定"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(OkCancel(this));
}

QWidget* SettingsSheet::FoldersPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    const SettingsValues& v = settings_.values();
    auto folder = [&](const char* label, const char* title, const std::string& value) {
        auto* box = new QGroupBox(QString::fromUtf8(label), page);
        auto* rows = new QVBoxLayout(box);
        auto* row = new QHBoxLayout;
        rows->addLayout(row);
        auto* edit = new QLineEdit(QString::fromStdString(value), box);
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
        auto* browse = new QPushButton(QStringLiteral("参照"), box);
        row->addWidget(edit, 1);
        row->addWidget(browse);
        const QString caption = QString::fromUtf8(title);
        connect(browse, &QPushButton::clicked, this, [this, edit, caption] {
            if (!prompter_)
                return;
            if (std::optional<QString> dir = prompter_->AskDirectory(this, caption, edit->text()))
                edit->setText(*dir);
        });
        layout->addWidget(box);
        return edit;
    };
    mirror_ = folder("ミラーファイル保存フォルダ", "ミラーファイル保存フォルダ選択", v.MirrorDir);
    // How the mirror names its files, in the mirror folder's box; switched
    // on for a mirror crawled with the other naming, it says what that costs.
    auto* mirrorBox = static_cast<QGroupBox*>(mirror_->parentWidget());
    auto* mirrorLayout = static_cast<QVBoxLayout*>(mirrorBox->layout());
    readableNames_ = new QCheckBox(QStringLiteral("ファイル名を UTF-8 で保存する"), mirrorBox);
    readableNames_->setChecked(v.ReadableNames == 1);
    renamedNote_ = new QLabel(QString::fromUtf8(kRenamedFilesNote), mirrorBox);
    renamedNote_->setWordWrap(true);
    renamedNote_->setVisible(false);
    mirrorLayout->addWidget(readableNames_);
    mirrorLayout->addWidget(renamedNote_);
    connect(readableNames_, &QCheckBox::toggled, this, &SettingsSheet::UpdateRenamedNote);
    pickup_ = folder("ピックアップ・ファイル保存フォルダ", "ピックアップ・ファイル保存フォルダ選択", v.PickupDir);
    timerValid_ = new QCheckBox(QStringLiteral("タイマー有効"), page);
    timerValid_->setChecked(v.TimerValid != 0);
    robots_ = new QCheckBox(QStringLiteral("robots.txt を使用する"), page);
    robots_->setChecked(v.UseRobotsTxt == 1);
    // Not settings of the store: the session's autostart entry, which is
    // there or not.
    autostart_ = new QCheckBox(QStringLiteral("ログイン時に起動する"), page);
    autostart_->setChecked(AutostartOn());
    notify_ = new QCheckBox(QStringLiteral("見ていない巡回の終了を通知する"), page);
    notify_->setToolTip(QStringLiteral("タイマーの巡回と、ウィンドウを隠している間の巡回が終わるとデスクトップに通知します"));
    notify_->setChecked(v.NotifyCrawlEnd != 0);
    layout->addWidget(timerValid_);
    layout->addWidget(robots_);
    layout->addWidget(autostart_);
    layout->addWidget(notify_);
    layout->addStretch();
    return page;
}

QWidget* SettingsSheet::ConnectionPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    const SettingsValues& v = settings_.values();

    auto* proxyBox = new QGroupBox(page);
    auto* proxyGrid = new QGridLayout(proxyBox);
    proxy_ = new QCheckBox(QStringLiteral("Proxy"), proxyBox);
    proxy_->setChecked(v.ProxyOn == 1);
    proxyName_ = new QLineEdit(QString::fromStdString(v.ProxyName), proxyBox);
    proxyPort_ = new QLineEdit(QString::number(v.ProxyPort), proxyBox);
    proxyPort_->setFixedWidth(proxyPort_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 7 + 16);
    proxyPort_->setAlignment(Qt::AlignRight);
    proxyGrid->addWidget(proxy_, 0, 0, 1, 2);
    proxyGrid->addWidget(new QLabel(QStringLiteral("サーバ名"), proxyBox), 1, 0);
    proxyGrid->addWidget(proxyName_, 1, 1);
    proxyGrid->addWidget(new QLabel(QStringLiteral("ポート"), proxyBox), 2, 0);
    proxyGrid->addWidget(proxyPort_, 2, 1, Qt::AlignLeft);
    layout->addWidget(proxyBox);

    auto* dialBox = new QGroupBox(page);
    auto* dialGrid = new QGridLayout(dialBox);
    autoDialup_ = new QCheckBox(QStringLiteral("自動ダイアルアップ接続"), dialBox);
    autoDialup_->setChecked(v.AutoDialup == 1);
    entry_ = new QComboBox(dialBox);
    if (dialup_)
        for (const std::string& name : dialup_->EntryNames())
            entry_->addItem(QString::fromStdString(name));
    if (!v.DialupEntry.empty()) {
        const int at = entry_->findText(QString::fromStdString(v.DialupEntry));
        if (at < 0)
            entry_->addItem(QString::fromStdString(v.DialupEntry));
        entry_->setCurrentText(QString::fromStdString(v.DialupEntry));
    }
    entryEdit_ = new QPushButton(QStringLiteral("接続プロパティ"), dialBox);
    logon_ = new QPushButton(QStringLiteral("ログオン情報"), dialBox);
    redial_ = new QLineEdit(QString::number(v.DialRetry), dialBox);
    redial_->setFixedWidth(redial_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4 + 16);
    redial_->setAlignment(Qt::AlignRight);
    redial_->setToolTip(QStringLiteral("0 から 5 まで（範囲外の値は近い方の端の値で保存されます）"));
    dialGrid->addWidget(autoDialup_, 0, 0, 1, 3);
    dialGrid->addWidget(new QLabel(QStringLiteral("接続先エントリ名"), dialBox), 1, 0);
    dialGrid->addWidget(entry_, 1, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(entryEdit_);
    buttons->addWidget(logon_);
    dialGrid->addLayout(buttons, 2, 0, 1, 3);
    dialGrid->addWidget(new QLabel(QStringLiteral("リダイアル回数"), dialBox), 3, 0);
    dialGrid->addWidget(redial_, 3, 1, Qt::AlignLeft);
    dialGrid->setColumnStretch(2, 1);
    layout->addWidget(dialBox);

    auto* downloadsBox = new QGroupBox(page);
    auto* downloadsRow = new QHBoxLayout(downloadsBox);
    maxDownloads_ = new QLineEdit(QString::number(v.MaxDownloads), downloadsBox);
    maxDownloads_->setFixedWidth(maxDownloads_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4 + 16);
    maxDownloads_->setAlignment(Qt::AlignRight);
    downloadsRow->addWidget(new QLabel(QStringLiteral("同時ダウンロード数"), downloadsBox));
    downloadsRow->addWidget(maxDownloads_);
    downloadsRow->addStretch();
    layout->addWidget(downloadsBox);

    // https sites whose certificate can't be verified (an intranet's own
    // authority): refused unless the user lets them through.
    auto* tlsBox = new QGroupBox(QStringLiteral("HTTPS"), page);
    auto* tlsLayout = new QVBoxLayout(tlsBox);
    acceptUnverified_ = new QCheckBox(QStringLiteral("証明書を検証できないサーバからも取得する"), tlsBox);
    acceptUnverified_->setChecked(v.AcceptUnverifiedCerts == 1);
    tlsLayout->addWidget(acceptUnverified_);
    layout->addWidget(tlsBox);
    layout->addStretch();

    connect(proxy_, &QCheckBox::toggled, this, &SettingsSheet::UpdateConnection);
    connect(autoDialup_, &QCheckBox::toggled, this, &SettingsSheet::UpdateConnection);
    connect(entryEdit_, &QPushButton::clicked, this, [this] {
        if (dialup_)
            dialup_->EditEntry(entry_->currentText().toStdString());
    });
    connect(logon_, &QPushButton::clicked, this, &SettingsSheet::LogonInfo);
    UpdateConnection();
    return page;
}

void SettingsSheet::UpdateConnection()
{
    proxyName_->setEnabled(proxy_->isChecked());
    proxyPort_->setEnabled(proxy_->isChecked());
    const bool dial = autoDialup_->isChecked();
    entry_->setEnabled(dial);
    entryEdit_->setEnabled(dial && dialup_);
    logon_->setEnabled(dial);
}

void SettingsSheet::LogonInfo()
{
    LogonDialog dialog(this);
    const std::string entry = entry_->currentText().toStdString();
    std::string user, password;
    bool saved = false;
    if (dialup_)
        dialup_->GetLogon(entry, &user, &password, &saved);
    dialog.user->setText(QString::fromStdString(user));
    dialog.save->setChecked(saved);
    // Without a password the system keeps, the page's own is shown.
    dialog.password->setText(QString::fromStdString(saved ? password : password_));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const bool save = dialog.save->isChecked();
    if (dialup_)
        dialup_->SetLogon(entry, dialog.user->text().toStdString(), dialog.password->text().toStdString(), save);
    password_ = save ? dialog.password->text().toStdString() : std::string();
}

void SettingsSheet::accept()
{
    SettingsValues v = settings_.values();
    v.MirrorDir = mirror_->text().toStdString();
    v.PickupDir = pickup_->text().toStdString();
    v.TimerValid = timerValid_->isChecked() ? 1 : 0;
    v.UseRobotsTxt = robots_->isChecked() ? 1 : 0;
    v.ProxyOn = proxy_->isChecked() ? 1 : 0;
    v.AcceptUnverifiedCerts = acceptUnverified_->isChecked() ? 1 : 0;
    v.ReadableNames = readableNames_->isChecked() ? 1 : 0;
    v.NotifyCrawlEnd = notify_->isChecked() ? 1 : 0;
    v.ProxyName = proxyName_->text().toStdString();
    v.AutoDialup = autoDialup_->isChecked() ? 1 : 0;
    v.DialupEntry = entry_->currentText().toStdString();
    v.password = password_;
    auto fail = [this](int tab) {
        tabs_->setCurrentIndex(tab);
        SayInteger(prompter_, this);
    };
    std::optional<int> port = ReadInteger(proxyPort_);
    std::optional<int> redial = port ? ReadInteger(redial_) : std::nullopt;
    std::optional<int> downloads = redial ? ReadInteger(maxDownloads_) : std::nullopt;
    if (!port || !redial || !downloads)
        return fail(1);
    v.ProxyPort = *port;
    v.DialRetry = *redial;
    v.MaxDownloads = *downloads;
    std::optional<CrawlOptionValues> crawl = crawl_->Store();
    if (!crawl)
        return fail(2);
    StoreCrawlOptions(*crawl, v);
    v.download = download_->Store();
    v.exclusion = exclusion_->Store();
    std::optional<SlideSettings> s = slides_->Store();
    if (!s)
        return fail(5);
    v.MUDrawType = s->effect;
    v.MUDrawSpeed = s->speed;
    v.BGColor = s->backColor;
    v.MinPicWidth = s->minWidth;
    v.MinPicHeight = s->minHeight;
    v.IMGSW = s->showImgTags ? 1 : 0;
    v.PicChgInterval = s->interval;
    v.PickupDisplay = slides_->pickupDisplay();
    result_ = v;
    autostartResult_ = autostart_->isChecked();
    QDialog::accept();
}

void ApplyAutostart(bool on, const std::string& program, Prompter* prompter, QWidget* parent)
{
    if (on == AutostartOn())
        return;
    std::string reason;
    if (!SetAutostart(on, program, &reason) && prompter)
        prompter->Tell(parent,
                       QStringLiteral("%1 を%2できません: %3")
                           .arg(QString::fromStdString(AutostartEntryPath()),
                                on ? QStringLiteral("作成") : QStringLiteral("削除"), QString::fromStdString(reason)),
                       QMessageBox::Warning);
}

bool EditSettings(DesktopContext& context, QWidget* parent)
{
    SettingsSheet sheet(*context.settings, context.prompter, context.dialupDirectory, parent);
    if (sheet.exec() != QDialog::Accepted)
        return false;
    // Saving bounds the values, mends the folders' slashes and writes all.
    context.settings->SaveSettings(sheet.result());
    ApplyAutostart(sheet.autostartResult(), QCoreApplication::applicationFilePath().toStdString(), context.prompter,
                   parent);
    if (context.settingsChanged)
        context.settingsChanged();
    return true;
}

// ---- timers ---------------------------------------------------------------------

TimerSettingDialog::TimerSettingDialog(const TimerEntry& entry, Prompter* prompter, QWidget* parent)
    : QDialog(parent), result_(entry), prompter_(prompter)
{
    setWindowTitle(QStringLiteral("自動巡回タイマー設定"));
    auto* layout = new QVBoxLayout(this);
    fields_ = new TimerFields(false, this);
    TimerSettings s;
    s.enabled = true;
    s.kind = entry.kind;
    s.day = entry.kind == TimerMonthly ? entry.day : 1;
    s.weekday = entry.weekday;
    s.hour = entry.hour;
    s.minute = entry.minute;
    s.intervalMinutes = entry.kind == TimerInterval ? entry.intervalMinutes : 10;
    s.selected = entry.selected != 0;
    fields_->Load(s);
    layout->addWidget(fields_);
    layout->addWidget(OkCancel(this));
}

void TimerSettingDialog::accept()
{
    std::optional<TimerSettings> s = fields_->Store();
    if (!s) {
        SayInteger(prompter_, this);
        return;
    }
    result_.kind = static_cast<int16_t>(s->kind);
    result_.weekday = static_cast<int16_t>(s->weekday);
    result_.selected = s->selected ? 1 : 0;
    result_.day = static_cast<int16_t>(s->day);
    result_.hour = static_cast<int16_t>(s->hour);
    result_.minute = static_cast<int16_t>(s->minute);
    result_.intervalMinutes = static_cast<int16_t>(s->intervalMinutes);
    BoundTimerValues(result_);
    QDialog::accept();
}

QString TimerListDialog::SettingText(const TimerEntry& e)
{
    char text[64] = "";
    switch (e.kind) {
    case TimerMonthly:
        std::snprintf(text, sizeof text, "%.2d %.2d:%.2d", e.day, e.hour, e.minute);
        break;
    case TimerWeekly:
        std::snprintf(text, sizeof text, "%s %.2d:%.2d", std::string(TimerWeekdayName(e.weekday)).c_str(), e.hour,
                      e.minute);
        break;
    case TimerDaily:
        std::snprintf(text, sizeof text, "%.2d:%.2d", e.hour, e.minute);
        break;
    case TimerInterval:
        std::snprintf(text, sizeof text, "%d %d", e.intervalLead, e.intervalMinutes);
        break;
    default:
        break;
    }
    return QString::fromLatin1(text);
}

TimerListDialog::TimerListDialog(CTimerDoc& timers, Prompter* prompter, QWidget* parent)
    : QDialog(parent), timers_(timers), prompter_(prompter)
{
    setWindowTitle(QStringLiteral("タイマーの一覧"));
    // The setting column holds its icon and the longest schedule text.
    const int settingWidth = fontMetrics().horizontalAdvance(QStringLiteral("Wed 00:00")) + 16 + 24;
    list_ = ListWithButtons(this, {"Setting", "Folder", "URL", "Title", "File"},
                            {std::max(80, settingWidth), 160, 280, 160, 320});
    edit = [this](const TimerEntry& entry) -> std::optional<TimerEntry> {
        TimerSettingDialog dialog(entry, prompter_, this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.result();
    };
    Fill();
}

void TimerListDialog::Fill()
{
    list_->clear();
    for (const TimerEntry& e : timers_.entries()) {
        auto* row = new QTreeWidgetItem(list_);
        row->setIcon(0, artwork::TimerKindIcon(e.kind));
        row->setText(0, SettingText(e));
        row->setText(1, QString::fromStdString(e.folder));
        row->setText(2, QString::fromStdString(e.url));
        row->setText(3, QString::fromStdString(e.title));
        row->setText(4, QString::fromStdString(e.file));
    }
}

void TimerListDialog::DeleteSelected()
{
    const int row = SelectedRow(list_);
    if (row < 0 || row >= static_cast<int>(timers_.entries().size()))
        return;
    timers_.entries().erase(timers_.entries().begin() + row);
    delete list_->takeTopLevelItem(row);
}

void TimerListDialog::ChangeSelected()
{
    const int row = SelectedRow(list_);
    if (row < 0 || row >= static_cast<int>(timers_.entries().size()) || !edit)
        return;
    if (std::optional<TimerEntry> changed = edit(timers_.entries()[static_cast<size_t>(row)])) {
        timers_.entries()[static_cast<size_t>(row)] = *changed;
        QTreeWidgetItem* item = list_->topLevelItem(row);
        item->setIcon(0, artwork::TimerKindIcon(changed->kind));
        item->setText(0, SettingText(*changed));
    }
}

bool ShowTimerList(DesktopContext& context, QWidget* parent)
{
    TimerListDialog dialog(*context.timers, context.prompter, parent);
    dialog.exec();
    context.timers->Save(context.listBase);
    return true;
}

// ---- slide show -----------------------------------------------------------------

SlideEntryDialog::SlideEntryDialog(const SlideSettings& values, Prompter* prompter, QWidget* parent)
    : QDialog(parent), result_(values), prompter_(prompter)
{
    setWindowTitle(QStringLiteral("ｽﾗｲﾄﾞｼｮｳの設定"));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    page_ = new SlideShowPage(SlideShowPage::ListEntry, tabs);
    page_->Load(values);
    tabs->addTab(page_, QStringLiteral("ｽﾗｲﾄﾞｼｮｳの設定"));
    layout->addWidget(tabs);
    layout->addWidget(OkCancel(this));
}

void SlideEntryDialog::accept()
{
    std::optional<SlideSettings> s = page_->Store();
    if (!s) {
        SayInteger(prompter_, this);
        return;
    }
    result_ = *s;
    QDialog::accept();
}

SlideListDialog::SlideListDialog(CSSDoc& slides, Prompter* prompter, QWidget* parent)
    : QDialog(parent), slides_(slides), prompter_(prompter)
{
    setWindowTitle(QStringLiteral("スライドショウ一覧"));
    list_ = ListWithButtons(this, {"Folder", "URL", "Title", "File"}, {160, 280, 160, 320});
    edit = [this](const SlideSettings& values) -> std::optional<SlideSettings> {
        SlideEntryDialog dialog(values, prompter_, this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.result();
    };
    Fill();
}

void SlideListDialog::Fill()
{
    list_->clear();
    auto lock = slides_.Lock();
    for (const SlideEntry& e : slides_.entries()) {
        auto* row = new QTreeWidgetItem(list_);
        row->setText(0, QString::fromStdString(e.folder));
        row->setText(1, QString::fromStdString(e.url));
        row->setText(2, QString::fromStdString(e.title));
        row->setText(3, QString::fromStdString(e.file));
    }
}

void SlideListDialog::DeleteSelected()
{
    const int row = SelectedRow(list_);
    if (row < 0)
        return;
    {
        auto lock = slides_.Lock();
        if (row >= static_cast<int>(slides_.entries().size()))
            return;
        slides_.entries().erase(slides_.entries().begin() + row);
    }
    delete list_->takeTopLevelItem(row);
}

void SlideListDialog::ChangeSelected()
{
    const int row = SelectedRow(list_);
    if (row < 0 || !edit)
        return;
    SlideSettings current;
    {
        auto lock = slides_.Lock();
        if (row >= static_cast<int>(slides_.entries().size()))
            return;
        current = SettingsOfEntry(slides_.entries()[static_cast<size_t>(row)]);
    }
    // The dialog runs without the lock: the picture side reads meanwhile.
    std::optional<SlideSettings> changed = edit(current);
    if (!changed)
        return;
    auto lock = slides_.Lock();
    if (row >= static_cast<int>(slides_.entries().size()))
        return;
    SlideEntry& e = slides_.entries()[static_cast<size_t>(row)];
    e.effect = changed->effect;
    e.speed = changed->speed;
    e.backColor = changed->backColor;
    e.minWidth = changed->minWidth;
    e.minHeight = changed->minHeight;
    e.showImgTags = changed->showImgTags ? 1 : 0;
    e.interval = changed->interval;
    BoundSlideValues(e);
}

bool ShowSlideShowList(DesktopContext& context, QWidget* parent)
{
    SlideListDialog dialog(*context.slides, context.prompter, parent);
    dialog.exec();
    context.slides->Save(context.listBase);
    return true;
}

} // namespace ormbrook
