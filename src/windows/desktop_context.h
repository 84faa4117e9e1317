#pragma once
// What the project windows share with the main window: the application
// object's settings and lists, the engine, the picture side, and the
// questions they put to the user (a test answers those itself).

#include "windows/crawl_request.h"

#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;
class QMutex;

namespace ormbrook {

class AppSettings;
class CSSDoc;
class CTimerDoc;
class CWSThread;
class DialupDirectory;
class PictureDistribution;

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual bool AskOkCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon);
    virtual QMessageBox::StandardButton AskYesNoCancel(QWidget* parent, const QString& text);
    // Yes and No; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text);
    virtual void Tell(QWidget* parent, const QString& text, QMessageBox::Icon icon);
    // "フォルダまたはURL の追加" for a folder's name or a URL; nothing on Cancel.
    virtual std::optional<QString> AskItemName(QWidget* parent, bool url);
    // "ミラーファイルの処理": 0 nothing, 1 copy, 2 move, 3 delete; nothing on Cancel.
    virtual std::optional<int> AskMirrorFiles(QWidget* parent);
    // The folder browser; nothing on Cancel.
    virtual std::optional<QString> AskDirectory(QWidget* parent, const QString& title, const QString& start);
    virtual std::optional<QString> AskOpenProject(QWidget* parent, const QString& start);
    virtual std::optional<QString> AskSaveProject(QWidget* parent, const QString& start);
};

struct DesktopContext {
    AppSettings* settings = nullptr;
    QMutex* mirrorLock = nullptr;
    CTimerDoc* timers = nullptr;
    CSSDoc* slides = nullptr;
    CWSThread* engine = nullptr;
    CrawlServices services;
    PictureDistribution* pictures = nullptr;
    Prompter* prompter = nullptr;
    // The system's dial-up entries for the settings sheet, when there is a
    // dial-up service.
    DialupDirectory* dialupDirectory = nullptr;
    // Where the timer and slide-show lists are saved (path without extension).
    std::string listBase;
    // Runs after the settings sheet stored new values.
    std::function<void()> settingsChanged;
    // The settings file, when not the user's own (tests).
    std::string settingsPath;
    // Where desktop notifications go; unset, the tray icon's balloon (which
    // Linux desktops show through their notification service).
    std::function<void(const QString& title, const QString& text)> notify;
};

} // namespace ormbrook
