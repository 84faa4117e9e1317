#pragma once
// The dialogs behind the settings commands: the settings sheet "Ormbrook
// Property", the timer list "タイマーの一覧" with "自動巡回タイマー設定", and
// the slide-show list "スライドショウ一覧". Each dialog reads and writes a
// plain value object; OK keeps the dialog open while an edit holds no
// integer, and says so.

#include "crawl/settings.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"

#include <QDialog>

#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace ormbrook {

class CrawlOptionsPage;
class ExtFilterPage;
class Prompter;
class SlideShowPage;
class TimerFields;
struct DesktopContext;

// The system's dial-up entries, as the connection page lists and edits them.
class DialupDirectory {
public:
    virtual ~DialupDirectory() = default;
    virtual std::vector<std::string> EntryNames() = 0;
    // Opens the system's editor for the entry; false when there is none.
    virtual bool EditEntry(const std::string& entry) = 0;
    // The entry's saved user name and password; passwordSaved tells whether
    // the system keeps one.
    virtual bool GetLogon(const std::string& entry, std::string* user, std::string* password,
                          bool* passwordSaved) = 0;
    // Stores the user name, and the password when `savePassword`, else
    // removes the saved one.
    virtual bool SetLogon(const std::string& entry, const std::string& user, const std::string& password,
                          bool savePassword) = 0;
};

// What switching the readable names on says when the mirror already holds
// files under the escaped names.
extern const char kRenamedFilesNote[];

class SettingsSheet : public QDialog {
    Q_OBJECT
public:
    SettingsSheet(const AppSettings& settings, Prompter* prompter, DialupDirectory* dialup = nullptr,
                  QWidget* parent = nullptr);
    // What OK gave, before the bounds that saving applies.
    const SettingsValues& result() const { return result_; }
    void accept() override;

    QTabWidget* tabs() const { return tabs_; }
    QLineEdit* mirrorEdit() const { return mirror_; }
    QLineEdit* pickupEdit() const { return pickup_; }
    QCheckBox* timerBox() const { return timerValid_; }
    QCheckBox* robotsBox() const { return robots_; }
    QCheckBox* proxyBox() const { return proxy_; }
    QCheckBox* acceptUnverifiedBox() const { return acceptUnverified_; }
    QCheckBox* readableNamesBox() const { return readableNames_; }
    QCheckBox* autostartBox() const { return autostart_; }
    QCheckBox* notifyBox() const { return notify_; }
    // Whether OK left "ログイン時に起動する" checked.
    bool autostartResult() const { return autostartResult_; }
    // Shown while the box is switched on for a mirror with files under the
    // other names.
    QLabel* renamedNote() const { return renamedNote_; }
    QLineEdit* proxyNameEdit() const { return proxyName_; }
    QLineEdit* proxyPortEdit() const { return proxyPort_; }
    QCheckBox* dialupBox() const { return autoDialup_; }
    QComboBox* entryBox() const { return entry_; }
    QLineEdit* redialEdit() const { return redial_; }
    QLineEdit* maxDownloadsEdit() const { return maxDownloads_; }
    CrawlOptionsPage* crawlPage() const { return crawl_; }
    ExtFilterPage* downloadPage() const { return download_; }
    ExtFilterPage* exclusionPage() const { return exclusion_; }
    SlideShowPage* slidePage() const { return slides_; }

private:
    QWidget* FoldersPage();
    QWidget* ConnectionPage();
    void UpdateConnection();
    void LogonInfo();
    void UpdateRenamedNote();

    const AppSettings& settings_;
    Prompter* prompter_;
    DialupDirectory* dialup_;
    SettingsValues result_;
    std::string password_;
    QTabWidget* tabs_;
    QLineEdit* mirror_;
    QLineEdit* pickup_;
    QCheckBox* timerValid_;
    QCheckBox* robots_;
    QCheckBox* proxy_;
    QCheckBox* acceptUnverified_;
    QCheckBox* readableNames_;
    QCheckBox* autostart_;
    QCheckBox* notify_;
    bool autostartResult_ = false;
    QLabel* renamedNote_;
    QLineEdit* proxyName_;
    QLineEdit* proxyPort_;
    QCheckBox* autoDialup_;
    QComboBox* entry_;
    QPushButton* entryEdit_;
    QPushButton* logon_;
    QLineEdit* redial_;
    QLineEdit* maxDownloads_;
    CrawlOptionsPage* crawl_;
    ExtFilterPage* download_;
    ExtFilterPage* exclusion_;
    SlideShowPage* slides_;
};

// "自動巡回タイマー設定" for one entry of the list.
class TimerSettingDialog : public QDialog {
    Q_OBJECT
public:
    TimerSettingDialog(const TimerEntry& entry, Prompter* prompter, QWidget* parent = nullptr);
    // The entry with what OK gave.
    const TimerEntry& result() const { return result_; }
    TimerFields* fields() const { return fields_; }
    void accept() override;

private:
    TimerEntry result_;
    Prompter* prompter_;
    TimerFields* fields_;
};

// "タイマーの一覧": the list, "削除", "設定変更", "閉じる".
class TimerListDialog : public QDialog {
    Q_OBJECT
public:
    TimerListDialog(CTimerDoc& timers, Prompter* prompter, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    void DeleteSelected();
    // Runs "自動巡回タイマー設定" for the selected row; the dialog is asked
    // for through `edit` so that a test can answer it.
    void ChangeSelected();
    std::function<std::optional<TimerEntry>(const TimerEntry&)> edit;

    // The "Setting" cell of an entry.
    static QString SettingText(const TimerEntry& entry);

private:
    void Fill();
    CTimerDoc& timers_;
    Prompter* prompter_;
    QTreeWidget* list_;
};

// "スライドショウ一覧".
class SlideListDialog : public QDialog {
    Q_OBJECT
public:
    SlideListDialog(CSSDoc& slides, Prompter* prompter, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    void DeleteSelected();
    void ChangeSelected();
    std::function<std::optional<SlideSettings>(const SlideSettings&)> edit;

private:
    void Fill();
    CSSDoc& slides_;
    Prompter* prompter_;
    QTreeWidget* list_;
};

// The one-page sheet "ｽﾗｲﾄﾞｼｮｳの設定" of a list entry.
class SlideEntryDialog : public QDialog {
    Q_OBJECT
public:
    SlideEntryDialog(const SlideSettings& values, Prompter* prompter, QWidget* parent = nullptr);
    const SlideSettings& result() const { return result_; }
    SlideShowPage* page() const { return page_; }
    void accept() override;

private:
    SlideSettings result_;
    Prompter* prompter_;
    SlideShowPage* page_;
};

bool EditSettings(DesktopContext& context, QWidget* parent);
// Writes or removes the session's autostart entry for `program` when `on`
// says otherwise than the entry; a failure is told.
void ApplyAutostart(bool on, const std::string& program, Prompter* prompter, QWidget* parent);
// Both save their list when they close and return true (the views refresh).
bool ShowTimerList(DesktopContext& context, QWidget* parent);
bool ShowSlideShowList(DesktopContext& context, QWidget* parent);

} // namespace ormbrook
