#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// Every message box, input box, beep and modal dialog of the program goes through here,
// so tests can answer them without a window ever blocking.
class TDialogs
{
public:
    virtual ~TDialogs() = default;

    // The message box titled "Quelvard" with the given icon and buttons; returns the button.
    // The text is shown exactly as given, never read as markup: callers pass names unescaped.
    virtual QMessageBox::StandardButton Message(QWidget *parent, const QString &text,
                                                QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons);
    // An input box titled "Quelvard"; false when cancelled.
    virtual bool InputBox(QWidget *parent, const QString &prompt, QString &value);
    virtual void Beep();
    // Runs a modal dialog of ours and returns its result.
    virtual int ExecDialog(QDialog *dialog);

    // Shorthands for the program's two kinds of message.
    static void Error(QWidget *parent, const QString &text);
    static bool Ask(QWidget *parent, const QString &text);

    static TDialogs *Current();
    // Tests install a scripted instance; nullptr restores the real one.
    static void SetCurrent(TDialogs *dialogs);
};
