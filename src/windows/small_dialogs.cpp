#include "windows/small_dialogs.h"

#include "crawl/start_url.h"
#include "windows/artwork.h"
#include "windows/crawl_status.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>
#include <QTreeWidget>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
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

} // namespace

std::optional<QString> CannotCrawlNote(const QString& url)
{
    const std::string text = url.trimmed().toStdString();
    if (text.empty())
        return std::nullopt;
    if (std::optional<std::string> reason = UncrawlableReason(text))
        return QString::fromStdString(CannotCrawlText(text, *reason));
    return std::nullopt;
}

QLabel* MakeUrlNote(QLineEdit* edit, QWidget* parent)
{
    auto* note = new QLabel(parent);
    note->setWordWrap(true);
    note->setTextFormat(Qt::PlainText);
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText, QColor(0xb0, 0x20, 0x20));
    note->setPalette(palette);
    auto update = [edit, note] {
        const std::optional<QString> text = CannotCrawlNote(edit->text());
        note->setText(text.value_or(QString()));
        note->setVisible(text.has_value());
    };
    QObject::connect(edit, &QLineEdit::textChanged, note, update);
    update();
    return note;
}

AddItemDialog::AddItemDialog(QWidget* parent, bool url) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("フォルダまたはURL の追加"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("URL 又はフォルダ名を入力して下さい"), this));
    edit_ = new QLineEdit(this);
    edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 56);
    layout->addWidget(edit_);
    if (url) {
        note_ = MakeUrlNote(edit_, this);
        layout->addWidget(note_);
    }
    layout->addWidget(OkCancel(this));
}

void AddItemDialog::accept()
{
    // What was typed stays, to be mended; the note says what is wrong.
    if (note_ && CannotCrawlNote(edit_->text())) {
        edit_->setFocus();
        return;
    }
    QDialog::accept();
}

QString AddItemDialog::text() const
{
    return edit_->text().trimmed();
}

void AddItemDialog::setText(const QString& text)
{
    edit_->setText(text);
}

MirrorFilesDialog::MirrorFilesDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ミラーファイルの処理"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("ミラーファイルの処理"), this);
    auto* inner = new QVBoxLayout(group);
    const char* texts[] = {"何もしない", "コピー", "移動", "削除"};
    for (int i = 0; i < 4; ++i) {
        buttons_[i] = new QRadioButton(QString::fromUtf8(texts[i]), group);
        inner->addWidget(buttons_[i]);
    }
    buttons_[Move]->setChecked(true);
    layout->addWidget(group);
    layout->addWidget(OkCancel(this));
}

MirrorFilesDialog::Choice MirrorFilesDialog::choice() const
{
    for (int i = 0; i < 4; ++i)
        if (buttons_[i]->isChecked())
            return static_cast<Choice>(i);
    return Nothing;
}

void MirrorFilesDialog::setChoice(Choice choice)
{
    buttons_[choice]->setChecked(true);
}

FailedUrlsDialog::FailedUrlsDialog(const CrawlStatus& status, QWidget* parent) : QDialog(parent), status_(status)
{
    setWindowTitle(QStringLiteral("失敗した URL"));
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    layout->addWidget(summary_);
    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("URL"), QStringLiteral("理由")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 420);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* copy = buttons->addButton(QStringLiteral("コピー"), QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(CopyText()); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* copyKey = new QShortcut(QKeySequence::Copy, list_);
    connect(copyKey, &QShortcut::activated, this, [this] { QGuiApplication::clipboard()->setText(CopyText()); });
    connect(&status_, &CrawlStatus::changed, this, &FailedUrlsDialog::Fill);
    resize(720, 360);
    Fill();
}

QString FailedUrlsDialog::LineOf(const FailedUrl& failure)
{
    return QString::fromStdString(failure.url) + QLatin1Char('\t') + QString::fromStdString(failure.reason);
}

void FailedUrlsDialog::Fill()
{
    const std::vector<FailedUrl>& failures = status_.model().failures();
    if (list_->topLevelItemCount() > int(failures.size()))
        list_->clear(); // a new crawl began
    for (size_t i = size_t(list_->topLevelItemCount()); i < failures.size(); ++i)
        list_->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(failures[i].url), QString::fromStdString(failures[i].reason)}));
    summary_->setText(failures.empty() ? QStringLiteral("失敗した URL はありません")
                                       : QStringLiteral("失敗 %1 件").arg(failures.size()));
}

QString FailedUrlsDialog::CopyText() const
{
    const std::vector<FailedUrl>& failures = status_.model().failures();
    QStringList lines;
    const bool some = !list_->selectedItems().isEmpty();
    for (int i = 0; i < list_->topLevelItemCount() && size_t(i) < failures.size(); ++i)
        if (!some || list_->topLevelItem(i)->isSelected())
            lines << LineOf(failures[size_t(i)]);
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

SplashWindow::SplashWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Ormbrook"));
    const QImage image = artwork::SplashImage();
    setFixedSize(image.size());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    QTimer::singleShot(kShowMs, this, &QWidget::close);
    qApp->installEventFilter(this);
}

SplashWindow::~SplashWindow()
{
    qApp->removeEventFilter(this);
}

void SplashWindow::paintEvent(QPaintEvent*)
{
    static const QImage image = artwork::SplashImage();
    QPainter(this).drawImage(0, 0, image);
}

bool SplashWindow::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        close();
        break;
    default:
        break;
    }
    return false;
}

namespace message {

namespace {

QMessageBox* Box(QWidget* parent, QMessageBox::Icon icon, const QString& text)
{
    auto* box = new QMessageBox(icon, QStringLiteral("Ormbrook"), text, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    return box;
}

} // namespace

bool AskOkCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    std::unique_ptr<QMessageBox> box(Box(parent, icon, text));
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->exec();
    return box->clickedButton() == ok;
}

QMessageBox::StandardButton AskYesNoCancel(QWidget* parent, const QString& text)
{
    std::unique_ptr<QMessageBox> box(Box(parent, QMessageBox::Warning, text));
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box->button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box->button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
    box->setDefaultButton(QMessageBox::Yes);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

void Stop(QWidget* parent, const QString& text)
{
    std::unique_ptr<QMessageBox> box(Box(parent, QMessageBox::Critical, text));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->exec();
}

void Warn(QWidget* parent, const QString& text)
{
    std::unique_ptr<QMessageBox> box(Box(parent, QMessageBox::Warning, text));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->exec();
}

void Inform(QWidget* parent, const QString& text)
{
    std::unique_ptr<QMessageBox> box(Box(parent, QMessageBox::Information, text));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->exec();
}

} // namespace message

} // namespace ormbrook
