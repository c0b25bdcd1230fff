#include "admin/adminlogin.h"

#include "common/guard.h"
#include "common/textutils.h"
#include "ui_adminlogin.h"
#include "widgets/dialogseam.h"

#include <QPalette>
#include <QTimer>
#include <memory>

namespace {

// The reminder questions are shown, never typed: they look like the dialog's face.
void showAsReadOnly(QLineEdit *edit)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    edit->setPalette(palette);
}

} // namespace

TfrmAdminLogin::TfrmAdminLogin(QWidget *owner, TUnlockAttempts *attempts)
    : QDialog(owner), ui(new Ui::TfrmAdminLogin),
      m_attempts(attempts ? attempts : &TUnlockAttempts::ForProcess()),
      m_waitTimer(new QTimer(this))
{
    ui->setupUi(this);
    lblPassword = ui->lblPassword;
    edtPassword = ui->edtPassword;
    gbReminders = ui->gbReminders;
    lblQuestion1 = ui->lblQuestion1;
    edtQuestion1 = ui->edtQuestion1;
    lblAnswer1 = ui->lblAnswer1;
    edtAnswer1 = ui->edtAnswer1;
    lblQuestion2 = ui->lblQuestion2;
    edtQuestion2 = ui->edtQuestion2;
    lblAnswer2 = ui->lblAnswer2;
    edtAnswer2 = ui->edtAnswer2;
    cbForgotPass = ui->cbForgotPass;
    cbLogin = ui->cbLogin;
    cbCancel = ui->cbCancel;
    lblWait = ui->lblWait;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // The password box shows a star for every character, whatever the style's own mark is.
    edtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    showAsReadOnly(edtQuestion1);
    showAsReadOnly(edtQuestion2);
    connect(cbForgotPass, &QPushButton::clicked, this, [this] { cbForgotPassClick(); });
    connect(cbLogin, &QPushButton::clicked, this, [this] { cbLoginClick(); });
    connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);
    m_waitTimer->setSingleShot(true);
    connect(m_waitTimer, &QTimer::timeout, this, [this] { UpdateWait(); });
    FormCreate();
    // A wait begun in a dialog that was closed goes on in this one.
    UpdateWait();
}

TfrmAdminLogin::~TfrmAdminLogin()
{
    delete ui;
}

void TfrmAdminLogin::setWindowHeight(int windowHeight)
{
    setFixedSize(width(), windowHeight - DesignedFrameHeight);
}

void TfrmAdminLogin::FormCreate()
{
    // Only the password row and the buttons show until "Forgot Password".
    setWindowHeight(CompactWindowHeight);
    LoadReminderQuestions();
}

void TfrmAdminLogin::LoadReminderQuestions()
{
    // A load that fails part-way keeps what it read; attempts are tested against that.
    Guard::Run("TfrmAdminLogin::LoadReminderQuestions",
               [this] { GenUtilities::LoadAdminLogin(StoredLogin); });
    edtQuestion1->setText(StoredLogin.Question1);
    edtQuestion2->setText(StoredLogin.Question2);
    edtQuestion1->setCursorPosition(0);
    edtQuestion2->setCursorPosition(0);
}

void TfrmAdminLogin::cbForgotPassClick()
{
    setWindowHeight(ExpandedWindowHeight);
    cbLogin->move(cbLogin->x(), 208);
    cbCancel->move(cbCancel->x(), 208);
    gbReminders->move(gbReminders->x(), 47);
    gbReminders->setVisible(true);
    // Just above the buttons, as in the compact form.
    lblWait->move(lblWait->x(), 195);
    const bool hadFocus = cbForgotPass->hasFocus();
    cbForgotPass->setVisible(false);
    if (hadFocus)
        edtAnswer1->setFocus();
}

void TfrmAdminLogin::cbLoginClick()
{
    // Whatever pressed the button while it rests (a key, a script), it is not an attempt.
    if (m_attempts->RemainingWaitMs() > 0) {
        UpdateWait();
        return;
    }
    edtPassword->setText(TextUtils::Trim(edtPassword->text()));
    edtAnswer1->setText(TextUtils::Trim(edtAnswer1->text()));
    edtAnswer2->setText(TextUtils::Trim(edtAnswer2->text()));

    const QString password = edtPassword->text();
    if (!password.isEmpty() && password == StoredLogin.Password) {
        m_attempts->RecordSuccess();
        accept();
        return;
    }
    const QString answer1 = edtAnswer1->text();
    const QString answer2 = edtAnswer2->text();
    if (!answer1.isEmpty() && !answer2.isEmpty() && answer1 == StoredLogin.Answer1 &&
        answer2 == StoredLogin.Answer2) {
        m_attempts->RecordSuccess();
        accept();
        return;
    }
    // No message: a beep, and the password box is ready for the next try once any wait is over.
    m_attempts->RecordWrongAttempt();
    TDialogs::Current()->Beep();
    edtPassword->clear();
    edtPassword->setFocus();
    UpdateWait();
}

void TfrmAdminLogin::UpdateWait()
{
    const qint64 remaining = m_attempts->RemainingWaitMs();
    if (remaining <= 0) {
        m_waitTimer->stop();
        lblWait->hide();
        cbLogin->setEnabled(true);
        return;
    }
    cbLogin->setEnabled(false);
    const qint64 seconds = (remaining + 999) / 1000;
    lblWait->setText(seconds == 1
                         ? QStringLiteral("Wait 1 second before trying again")
                         : QStringLiteral("Wait %1 seconds before trying again").arg(seconds));
    lblWait->show();
    // Wakes when the whole seconds shown drop by one.
    m_waitTimer->start(int(remaining - (seconds - 1) * 1000));
}

bool AskAdminLogin(QWidget *owner)
{
    bool loggedIn = false;
    Guard::Run("AskAdminLogin", [owner, &loggedIn] {
        std::unique_ptr<TfrmAdminLogin> dialog(new TfrmAdminLogin(owner));
        loggedIn = TDialogs::Current()->ExecDialog(dialog.get()) == QDialog::Accepted;
    });
    return loggedIn;
}
