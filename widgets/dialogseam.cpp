#include "widgets/dialogseam.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

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

bool TDialogs::PageDialog(QWidget *parent, TPageDialog &dialog)
{
    using TKind = TPageDialog::TKind;
    QDialog box(parent);
    box.setWindowTitle(dialog.site);
    auto *layout = new QVBoxLayout(&box);
    auto *text = new QLabel(dialog.text, &box);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    QLineEdit *value = nullptr;
    if (dialog.kind == TKind::Prompt) {
        value = new QLineEdit(dialog.value, &box);
        layout->addWidget(value);
    }
    QCheckBox *prevent = nullptr;
    if (dialog.offerPrevent) {
        prevent =
            new QCheckBox(QStringLiteral("Prevent this page from creating more dialogs"), &box);
        layout->addWidget(prevent);
    }
    auto *buttons = new QDialogButtonBox(dialog.kind == TKind::Alert
                                             ? QDialogButtonBox::Ok
                                             : QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                         &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    layout->addWidget(buttons);
    const bool accepted = box.exec() == QDialog::Accepted;
    dialog.prevent = prevent && prevent->isChecked();
    if (accepted && value)
        dialog.value = value->text();
    return accepted;
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
