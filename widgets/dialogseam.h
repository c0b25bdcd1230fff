#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// A page's own alert, confirm or prompt.
struct TPageDialog
{
    enum class TKind { Alert, Confirm, Prompt };
    TKind kind = TKind::Alert;
    QString site; // whose page speaks: its title
    QString text;
    QString value; // a prompt's proposal, then its answer
    // Offers "Prevent this page from creating more dialogs"; prevent says it was ticked.
    bool offerPrevent = false;
    bool prevent = false;
};

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
    // A page's dialog; false when cancelled (an alert has nothing to cancel).
    virtual bool PageDialog(QWidget *parent, TPageDialog &dialog);
    // Runs a modal dialog of ours and returns its result.
    virtual int ExecDialog(QDialog *dialog);

    // Shorthands for the program's two kinds of message.
    static void Error(QWidget *parent, const QString &text);
    static bool Ask(QWidget *parent, const QString &text);

    static TDialogs *Current();
    // Tests install a scripted instance; nullptr restores the real one.
    static void SetCurrent(TDialogs *dialogs);
};
