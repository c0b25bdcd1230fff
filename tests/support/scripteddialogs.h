#pragma once

#include "widgets/dialogseam.h"

#include <QList>
#include <QStringList>
#include <functional>

// Answers the program's message boxes, input boxes and modal dialogs from a script, and
// records what was asked. Installed for the life of the object.
class ScriptedDialogs : public TDialogs
{
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    struct Shown
    {
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    QList<Shown> messages;
    QStringList inputPrompts;
    int beeps = 0;
    QStringList dialogsRun;         // objectNames of dialogs passed to ExecDialog
    QList<TPageDialog> pageDialogs; // as asked

    // Answers given in order; when they run out, message boxes answer No / OK.
    QList<QMessageBox::StandardButton> messageAnswers;
    // Input box answers: a null QString means Cancel.
    QStringList inputAnswers;
    // Drives a modal dialog while it is "open" and returns its result; by default Rejected.
    std::function<int(QDialog *)> dialogHandler;
    // Answers a page's dialog (may set value and prevent); by default OK, nothing ticked.
    std::function<bool(TPageDialog &)> pageDialogHandler;
    // Answers a print dialog with a PDF file of that name and `result`, any other with Rejected.
    void printTo(const QString &pdf, int result = QDialog::Accepted);

    QMessageBox::StandardButton Message(QWidget *parent, const QString &text,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) override;
    bool InputBox(QWidget *parent, const QString &prompt, QString &value) override;
    void Beep() override;
    bool PageDialog(QWidget *parent, TPageDialog &dialog) override;
    int ExecDialog(QDialog *dialog) override;

    QString lastMessage() const { return messages.isEmpty() ? QString() : messages.last().text; }
};
