#include "common/dialogseam.h"

#include <QApplication>
#include <QDialog>
#include <QInputDialog>

namespace {
TDialogs g_realDialogs;
TDialogs *g_current = nullptr;
} // namespace

QMessageBox::StandardButton TDialogs::Message(QWidget *parent, const QString &text,
                                              QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QStringLiteral("Quelvard"), text, buttons, parent);
    // Messages quote names taken from pages and disk; none of them is markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool TDialogs::InputBox(QWidget *parent, const QString &prompt, QString &value)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(parent, QStringLiteral("Quelvard"), prompt,
                                                 QLineEdit::Normal, value, &ok);
    if (ok)
        value = answer;
    return ok;
}

void TDialogs::Beep()
{
    QApplication::beep();
}

int TDialogs::ExecDialog(QDialog *dialog)
{
    return dialog->exec();
}

void TDialogs::Error(QWidget *parent, const QString &text)
{
    Current()->Message(parent, text, QMessageBox::Critical, QMessageBox::Ok);
}

bool TDialogs::Ask(QWidget *parent, const QString &text)
{
    return Current()->Message(parent, text, QMessageBox::Question,
                              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

TDialogs *TDialogs::Current()
{
    return g_current ? g_current : &g_realDialogs;
}

void TDialogs::SetCurrent(TDialogs *dialogs)
{
    g_current = dialogs;
}
