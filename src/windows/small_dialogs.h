#pragma once
// The small dialogs and message boxes of the project window, with the
// program's fixed Japanese texts (button texts included, so that they read
// the same whatever translations the system has).

#include <QDialog>
#include <QMessageBox>

#include <optional>

class QLabel;
class QLineEdit;
class QRadioButton;
class QTreeWidget;

namespace ormbrook {

class CrawlStatus;
struct FailedUrl;

// Why a typed start URL can't be crawled (`cannot crawl "htp://x/": the
// scheme is not http or https`); nothing when it can, or nothing is typed.
std::optional<QString> CannotCrawlNote(const QString& url);
// A line for under the edit where a start URL is typed: it says the note
// while there is one, and is hidden otherwise.
QLabel* MakeUrlNote(QLineEdit* edit, QWidget* parent);

// "フォルダまたはURL の追加". For a URL, OK keeps the dialog open (and what
// was typed) while the URL can't be crawled.
class AddItemDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddItemDialog(QWidget* parent = nullptr, bool url = false);
    QString text() const;
    void setText(const QString& text);
    QLineEdit* edit() const { return edit_; }
    QLabel* note() const { return note_; }
    void accept() override;

private:
    QLineEdit* edit_;
    QLabel* note_ = nullptr;
};

// "ミラーファイルの処理": what becomes of a moved item's saved files.
class MirrorFilesDialog : public QDialog {
    Q_OBJECT
public:
    enum Choice { Nothing = 0, Copy = 1, Move = 2, Delete = 3 };
    explicit MirrorFilesDialog(QWidget* parent = nullptr);
    Choice choice() const;
    void setChoice(Choice choice);

private:
    QRadioButton* buttons_[4];
};

// "失敗した URL": the downloads of the project's last crawl that failed,
// each with why; it follows the crawl while open. The rows can be selected
// and copied (Ctrl+C or "コピー") as "URL<tab>reason" lines.
class FailedUrlsDialog : public QDialog {
    Q_OBJECT
public:
    explicit FailedUrlsDialog(const CrawlStatus& status, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    // The lines "コピー" puts on the clipboard: the selected rows, or all.
    QString CopyText() const;
    static QString LineOf(const FailedUrl& failure);

private:
    void Fill();

    const CrawlStatus& status_;
    QTreeWidget* list_;
    QLabel* summary_;
};

// A borderless picture in the middle of the screen that goes after two
// seconds, or at the first key or mouse button anywhere in the program.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 2000;
    explicit SplashWindow(QWidget* parent = nullptr);
    ~SplashWindow() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Message boxes: the question and its buttons as the program words them.
namespace message {
// OK and Cancel; true for OK.
bool AskOkCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Question);
// Yes, No and Cancel.
QMessageBox::StandardButton AskYesNoCancel(QWidget* parent, const QString& text);
void Stop(QWidget* parent, const QString& text);
void Warn(QWidget* parent, const QString& text);
void Inform(QWidget* parent, const QString& text);
} // namespace message

} // namespace ormbrook
