#include "support/scripteddialogs.h"

#include <QDialog>
#include <QPrintDialog>
#include <QPrinter>

ScriptedDialogs::ScriptedDialogs()
{
    TDialogs::SetCurrent(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    TDialogs::SetCurrent(nullptr);
}

QMessageBox::StandardButton ScriptedDialogs::Message(QWidget *, const QString &text,
                                                     QMessageBox::Icon icon,
                                                     QMessageBox::StandardButtons buttons)
{
    messages.append({text, icon, buttons});
    if (!messageAnswers.isEmpty())
        return messageAnswers.takeFirst();
    return (buttons & QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
}

bool ScriptedDialogs::InputBox(QWidget *, const QString &prompt, QString &value)
{
    inputPrompts << prompt;
    if (inputAnswers.isEmpty())
        return false;
    const QString answer = inputAnswers.takeFirst();
    if (answer.isNull())
        return false;
    value = answer;
    return true;
}

void ScriptedDialogs::Beep()
{
    ++beeps;
}

bool ScriptedDialogs::PageDialog(QWidget *, TPageDialog &dialog)
{
    pageDialogs << dialog;
    return pageDialogHandler ? pageDialogHandler(dialog) : true;
}

int ScriptedDialogs::ExecDialog(QDialog *dialog)
{
    dialogsRun << dialog->objectName();
    if (dialogHandler)
        return dialogHandler(dialog);
    return QDialog::Rejected;
}

void ScriptedDialogs::printTo(const QString &pdf, int result)
{
    dialogHandler = [pdf, result](QDialog *dialog) {
        auto *print = qobject_cast<QPrintDialog *>(dialog);
        if (!print)
            return int(QDialog::Rejected);
        print->printer()->setOutputFormat(QPrinter::PdfFormat);
        print->printer()->setOutputFileName(pdf);
        return result;
    };
}
