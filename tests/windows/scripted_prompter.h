#pragma once
// Answers the program's questions from a script instead of a person, and
// keeps what it was told, so that no test ever waits on a modal box.

#include "windows/desktop_context.h"

#include <QStringList>

#include <deque>

namespace ormbrook::test {

class ScriptedPrompter : public Prompter {
public:
    bool okCancel = true;
    QMessageBox::StandardButton yesNoCancel = QMessageBox::No;
    // Answers taken one by one before yesNoCancel.
    std::deque<QMessageBox::StandardButton> yesNoCancelAnswers;
    bool yesNo = true;
    std::optional<QString> itemName;
    std::optional<int> mirrorFiles;
    std::optional<QString> directory;
    std::optional<QString> saveAs;
    QStringList asked; // every question, in order
    QStringList told;  // every message, in order

    bool AskOkCancel(QWidget*, const QString& text, QMessageBox::Icon) override
    {
        asked << text;
        return okCancel;
    }
    QMessageBox::StandardButton AskYesNoCancel(QWidget*, const QString& text) override
    {
        asked << text;
        if (!yesNoCancelAnswers.empty()) {
            const QMessageBox::StandardButton answer = yesNoCancelAnswers.front();
            yesNoCancelAnswers.pop_front();
            return answer;
        }
        return yesNoCancel;
    }
    bool AskYesNo(QWidget*, const QString& text) override
    {
        asked << text;
        return yesNo;
    }
    void Tell(QWidget*, const QString& text, QMessageBox::Icon) override { told << text; }
    std::optional<QString> AskItemName(QWidget*, bool) override { return itemName; }
    std::optional<int> AskMirrorFiles(QWidget*) override { return mirrorFiles; }
    std::optional<QString> AskDirectory(QWidget*, const QString&, const QString&) override { return directory; }
    std::optional<QString> AskOpenProject(QWidget*, const QString&) override { return std::nullopt; }
    std::optional<QString> AskSaveProject(QWidget*, const QString&) override { return saveAs; }
};

} // namespace ormbrook::test
