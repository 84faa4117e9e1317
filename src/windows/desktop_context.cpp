#include "windows/desktop_context.h"

#include "windows/small_dialogs.h"

#include <QFileDialog>

namespace ormbrook {

bool Prompter::AskOkCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    return message::AskOkCancel(parent, text, icon);
}

QMessageBox::StandardButton Prompter::AskYesNoCancel(QWidget* parent, const QString& text)
{
    return message::AskYesNoCancel(parent, text);
}

bool Prompter::AskYesNo(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, QStringLiteral("Ormbrook"), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void Prompter::Tell(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    if (icon == QMessageBox::Critical)
        message::Stop(parent, text);
    else if (icon == QMessageBox::Warning)
        message::Warn(parent, text);
    else
        message::Inform(parent, text);
}

std::optional<QString> Prompter::AskItemName(QWidget* parent, bool url)
{
    AddItemDialog dialog(parent, url);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

std::optional<int> Prompter::AskMirrorFiles(QWidget* parent)
{
    MirrorFilesDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return static_cast<int>(dialog.choice());
}

std::optional<QString> Prompter::AskDirectory(QWidget* parent, const QString& title, const QString& start)
{
    const QString dir = QFileDialog::getExistingDirectory(parent, title, start);
    if (dir.isEmpty())
        return std::nullopt;
    return dir;
}

std::optional<QString> Prompter::AskOpenProject(QWidget* parent, const QString& start)
{
    const QString file = QFileDialog::getOpenFileName(parent, QStringLiteral("開く"), start,
                                                      QStringLiteral("巡回設定 ﾌｧｲﾙ (*.prj)"));
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

std::optional<QString> Prompter::AskSaveProject(QWidget* parent, const QString& start)
{
    QString file = QFileDialog::getSaveFileName(parent, QStringLiteral("名前を付けて保存"), start,
                                                QStringLiteral("巡回設定 ﾌｧｲﾙ (*.prj)"));
    if (file.isEmpty())
        return std::nullopt;
    if (!file.endsWith(QStringLiteral(".prj"), Qt::CaseInsensitive))
        file += QStringLiteral(".prj");
    return file;
}

} // namespace ormbrook
