#include "admin/changepassword.h"

#include "common/adminloginstore.h"
#include "common/errors.h"
#include "common/loginrules.h"
#include "ui_changepassword.h"
#include "widgets/dialogseam.h"

#include <QKeyEvent>

const QString TfrmChangePassword::FirstRunCaption = QStringLiteral(" Set Administrator Login");

const QString TfrmChangePassword::SaveFailedMessage = QStringLiteral(
    "Saving the Administrators login information failed\n\r\n\r"
    "This error can indicate that the existing Windows user account does not have sufficient "
    "privileges. Login with an account that has Administrator rights and try again");

namespace {

void moveUp(QWidget *widget, int pixels)
{
    widget->move(widget->x(), widget->y() - pixels);
}

} // namespace

TfrmChangePassword::TfrmChangePassword(QWidget *owner)
    : QDialog(owner), ui(new Ui::TfrmChangePassword)
{
    ui->setupUi(this);
    lblCurrentPassword = ui->lblCurrentPassword;
    editAdminPassword = ui->editAdminPassword;
    lblPassPass = ui->lblPassPass;
    edtPassword = ui->edtPassword;
    lblPassConfirm = ui->lblPassConfirm;
    edtConfirm = ui->edtConfirm;
    lblPassCase = ui->lblPassCase;
    gbReminders = ui->gbReminders;
    lblPassQ1 = ui->lblPassQ1;
    edtQuestion1 = ui->edtQuestion1;
    lblPassA1 = ui->lblPassA1;
    edtAnswer1 = ui->edtAnswer1;
    lblPassQ2 = ui->lblPassQ2;
    edtQuestion2 = ui->edtQuestion2;
    lblPassA2 = ui->lblPassA2;
    edtAnswer2 = ui->edtAnswer2;
    cbSave = ui->cbSave;
    cbCancel = ui->cbCancel;
    // A title bar without a close box; the size is fixed.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    connect(cbSave, &QPushButton::clicked, this, [this] { cbSaveClick(); });
    connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);
    FormCreate();
}

TfrmChangePassword::~TfrmChangePassword()
{
    delete ui;
}

void TfrmChangePassword::FormCreate()
{
    // The stored reminders are never shown: a save without retyping them removes them.
    edtQuestion1->clear();
    edtQuestion2->clear();
    edtAnswer1->clear();
    edtAnswer2->clear();
}

void TfrmChangePassword::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmChangePassword::cbSaveClick()
{
    recAdminLogin login{edtPassword->text(), edtQuestion1->text(), edtAnswer1->text(),
                        edtQuestion2->text(), edtAnswer2->text()};
    QString confirmation = edtConfirm->text();
    const LoginRules::NewLoginCheck check = LoginRules::CheckNewLogin(login, confirmation);
    // The boxes show what was checked: trimmed.
    edtPassword->setText(login.Password);
    edtConfirm->setText(confirmation);
    edtQuestion1->setText(login.Question1);
    edtQuestion2->setText(login.Question2);
    edtAnswer1->setText(login.Answer1);
    edtAnswer2->setText(login.Answer2);

    switch (check) {
    case LoginRules::NewLoginCheck::Accepted:
        break;
    case LoginRules::NewLoginCheck::PasswordsDiffer:
    case LoginRules::NewLoginCheck::PasswordTooShort:
    case LoginRules::NewLoginCheck::PasswordTooLong:
        TDialogs::Error(this, LoginRules::Message(check));
        edtPassword->clear();
        edtConfirm->clear();
        edtPassword->setFocus();
        return;
    case LoginRules::NewLoginCheck::QuestionTooLong:
    case LoginRules::NewLoginCheck::AnswerTooLong:
    case LoginRules::NewLoginCheck::ControlCharacter:
        // The boxes' limits keep these out unless pasted around them.
        TDialogs::Error(this, LoginRules::Message(check));
        return;
    case LoginRules::NewLoginCheck::FirstAnswerMissing:
        TDialogs::Error(this, LoginRules::Message(check));
        edtAnswer1->setFocus();
        return;
    case LoginRules::NewLoginCheck::SecondAnswerMissing:
        TDialogs::Error(this, LoginRules::Message(check));
        edtAnswer2->setFocus();
        return;
    }
    if (!editAdminPassword->isHidden()) {
        // The stored login is read now, not when the dialog opened. A load that fails is
        // reported as it stands and the dialog stays open.
        recAdminLogin stored;
        try {
            stored = GenUtilities::LoadAdminLogin();
        } catch (const EQuelvardError &error) {
            TDialogs::Error(this, error.message());
            return;
        } catch (const std::exception &error) {
            TDialogs::Error(this, QString::fromLocal8Bit(error.what()));
            return;
        }
        if (editAdminPassword->text() != stored.Password) {
            TDialogs::Error(this, QStringLiteral("The Current Password is incorrect"));
            editAdminPassword->clear();
            editAdminPassword->setFocus();
            return;
        }
    }

    if (GenUtilities::SaveAdminLogin(login))
        accept();
    else
        TDialogs::Error(this, SaveFailedMessage);
}

void TfrmChangePassword::ApplyFirstRunForm(const QString &caption)
{
    constexpr int rowHeight = 24;
    setWindowTitle(caption);
    lblCurrentPassword->setVisible(false);
    editAdminPassword->setVisible(false);
    lblPassPass->setText(QStringLiteral("&Password:"));
    for (QWidget *widget :
         {static_cast<QWidget *>(lblPassPass), static_cast<QWidget *>(edtPassword),
          static_cast<QWidget *>(lblPassConfirm), static_cast<QWidget *>(edtConfirm),
          static_cast<QWidget *>(lblPassCase), static_cast<QWidget *>(gbReminders)})
        moveUp(widget, rowHeight);
    setFixedSize(width(), height() - rowHeight);
    for (QWidget *widget : {static_cast<QWidget *>(edtPassword), static_cast<QWidget *>(edtConfirm),
                            static_cast<QWidget *>(lblPassCase)})
        widget->move(112, widget->y());
    moveUp(cbSave, rowHeight);
    cbSave->move(cbCancel->x(), cbSave->y());
    cbCancel->setVisible(false);
}
