#include "admin/adminlogin.h"
#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/encryption.h"
#include "common/registry.h"
#include "support/testenv.h"
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QFile>
#include <QTest>
#include <limits>
#include <sqlite3.h>

Q_DECLARE_METATYPE(recAdminLogin)

namespace {

const recAdminLogin Stored{QStringLiteral("Secret12"), QStringLiteral("First pet?"),
                           QStringLiteral("Rex"), QStringLiteral("Town of birth?"),
                           QStringLiteral("Oslo")};

void store(const recAdminLogin &login)
{
    QVERIFY(GenUtilities::SaveAdminLogin(login));
}

// The wait notice is shown whole, inside the window and clear of every other control.
bool waitNoticeFits(const TfrmAdminLogin &dialog)
{
    const QRect notice = dialog.lblWait->geometry();
    const QSize needed = dialog.lblWait->sizeHint();
    if (dialog.lblWait->isHidden() || !dialog.rect().contains(notice) ||
        needed.width() > notice.width() || needed.height() > notice.height())
        return false;
    for (QWidget *other : dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (other != dialog.lblWait && !other->isHidden() && other->geometry().intersects(notice))
            return false;
    }
    return true;
}

} // namespace

class tst_AdminLogin : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void init()
    {
        EnvironmentSuite::init();
        // Dialogs made without their own counter share the process's; each test starts clean.
        TUnlockAttempts::ForProcess().RecordSuccess();
    }
    void cleanup()
    {
        EnvironmentSuite::cleanup();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void compactForm();
    void forgotPasswordExpands();
    void tabOrder();
    void questionsShown();
    void login_data();
    void login();
    void failedAttemptKeepsAnswers();
    void enterPressesLogin();
    void unlockWait_data();
    void unlockWait();
    void wrongAttemptsRestLogin();
    void waitOutlivesDialog();
    void unreadableLoginRefusesEveryAttempt();
    void askAdminLogin_data();
    void askAdminLogin();
};

void tst_AdminLogin::compactForm()
{
    TfrmAdminLogin dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Administrator Login"));
    QCOMPARE(dialog.objectName(), QStringLiteral("TfrmAdminLogin"));
    // 123 pixels of window, less the title bar and borders the design was made for.
    QCOMPARE(dialog.size(), QSize(368, 123 - 33));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(
        !(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(dialog.gbReminders->isHidden());
    QVERIFY(!dialog.cbForgotPass->isHidden());
    QCOMPARE(dialog.edtPassword->geometry(), QRect(160, 18, 193, 21));
    QCOMPARE(dialog.cbForgotPass->geometry(), QRect(16, 52, 105, 25));
    QCOMPARE(dialog.cbLogin->geometry(), QRect(192, 52, 75, 25));
    QCOMPARE(dialog.cbCancel->geometry(), QRect(280, 52, 75, 25));
    QCOMPARE(dialog.edtPassword->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.edtPassword->maxLength(), 20);
    // Answers of up to 25 characters can be stored, so they can be typed here too.
    QCOMPARE(dialog.edtAnswer1->maxLength(), 25);
    QCOMPARE(dialog.edtAnswer2->maxLength(), 25);
    QCOMPARE(dialog.edtAnswer1->echoMode(), QLineEdit::Normal);
    QVERIFY(dialog.cbLogin->isDefault());
    QCOMPARE(dialog.lblPassword->buddy(), dialog.edtPassword);
    QCOMPARE(dialog.lblPassword->text(), QStringLiteral("Administrator &Password:."));
    QCOMPARE(dialog.cbForgotPass->text(), QStringLiteral("&Forgot Password"));
}

void tst_AdminLogin::forgotPasswordExpands()
{
    TfrmAdminLogin dialog;
    dialog.cbForgotPass->click();
    QCOMPARE(dialog.size(), QSize(368, 282 - 33));
    QVERIFY(!dialog.gbReminders->isHidden());
    QVERIFY(dialog.cbForgotPass->isHidden());
    QCOMPARE(dialog.gbReminders->geometry(), QRect(16, 47, 337, 146));
    QCOMPARE(dialog.cbLogin->geometry(), QRect(192, 208, 75, 25));
    QCOMPARE(dialog.cbCancel->geometry(), QRect(280, 208, 75, 25));
    QCOMPARE(dialog.edtAnswer1->geometry(), QRect(96, 58, 169, 21));
    // Everything fits in the expanded window.
    const QRect client = dialog.rect();
    for (QWidget *w :
         {static_cast<QWidget *>(dialog.gbReminders), static_cast<QWidget *>(dialog.cbLogin),
          static_cast<QWidget *>(dialog.cbCancel)})
        QVERIFY(client.contains(w->geometry()));
    // A new dialog starts compact again.
    TfrmAdminLogin second;
    QCOMPARE(second.height(), 123 - 33);
}

void tst_AdminLogin::tabOrder()
{
    TfrmAdminLogin dialog;
    dialog.cbForgotPass->click();
    // The two question boxes are shown, not typed: the Tab key passes them by.
    QCOMPARE(dialog.edtQuestion1->focusPolicy() & Qt::TabFocus, 0);
    QCOMPARE(dialog.edtQuestion2->focusPolicy() & Qt::TabFocus, 0);
    QVERIFY(dialog.edtQuestion1->isReadOnly());
    QVERIFY(dialog.edtQuestion2->isReadOnly());
    QList<QWidget *> chain;
    QWidget *w = dialog.edtPassword;
    do {
        if (w->focusPolicy() & Qt::TabFocus && !w->isHidden())
            chain << w;
        w = w->nextInFocusChain();
    } while (w != dialog.edtPassword);
    const QList<QWidget *> expected{dialog.edtPassword, dialog.edtAnswer1, dialog.edtAnswer2,
                                    dialog.cbLogin, dialog.cbCancel};
    QCOMPARE(chain, expected);
}

void tst_AdminLogin::questionsShown()
{
    const QString longQuestion = QStringLiteral("What was the name of the street you grew up on?");
    store({QStringLiteral("Secret12"), longQuestion, QStringLiteral("a"), QString(), QString()});
    TfrmAdminLogin dialog;
    QCOMPARE(dialog.edtQuestion1->text(), longQuestion);
    QCOMPARE(dialog.edtQuestion2->text(), QString());
    QCOMPARE(dialog.StoredLogin.Password, QStringLiteral("Secret12"));
}

void tst_AdminLogin::login_data()
{
    QTest::addColumn<recAdminLogin>("stored");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("answer1");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("passwordBoxAfter");

    const QString a25(25, QLatin1Char('x'));
    const recAdminLogin oneReminder{QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                                    QStringLiteral("Rex"), QString(), QString()};
    const recAdminLogin migrated{QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                                 QStringLiteral("rex"), QStringLiteral("Town?"),
                                 QStringLiteral("oslo")};
    const recAdminLogin longAnswers{QStringLiteral("Secret12"), QStringLiteral("Q1"), a25,
                                    QStringLiteral("Q2"), a25};

    QTest::newRow("right password") << Stored << "Secret12"
                                    << ""
                                    << "" << true << "Secret12";
    QTest::newRow("blanks around password trimmed") << Stored << "  Secret12\t "
                                                    << ""
                                                    << "" << true << "Secret12";
    QTest::newRow("password is case-sensitive") << Stored << "secret12"
                                                << ""
                                                << "" << false << "";
    QTest::newRow("right password, wrong answers") << Stored << "Secret12"
                                                   << "wrong"
                                                   << "wrong" << true << "Secret12";
    QTest::newRow("both answers right") << Stored << ""
                                        << "Rex"
                                        << "Oslo" << true << "";
    QTest::newRow("answers trimmed") << Stored << ""
                                     << "  Rex "
                                     << "Oslo  " << true << "";
    QTest::newRow("wrong password, both answers right") << Stored << "nope"
                                                        << "Rex"
                                                        << "Oslo" << true << "nope";
    QTest::newRow("one answer wrong") << Stored << ""
                                      << "Rex"
                                      << "Bergen" << false << "";
    QTest::newRow("answers are case-sensitive") << Stored << ""
                                                << "rex"
                                                << "oslo" << false << "";
    QTest::newRow("one answer only") << Stored << ""
                                     << "Rex"
                                     << "" << false << "";
    QTest::newRow("stored second answer empty") << oneReminder << ""
                                                << "Rex"
                                                << "anything" << false << "";
    QTest::newRow("migrated answers in lower case") << migrated << ""
                                                    << "rex"
                                                    << "oslo" << true << "";
    QTest::newRow("migrated answers typed in capitals") << migrated << ""
                                                        << "Rex"
                                                        << "Oslo" << false << "";
    QTest::newRow("answers of 25 characters") << longAnswers << "" << a25 << a25 << true << "";
    QTest::newRow("nothing typed") << Stored << ""
                                   << ""
                                   << "" << false << "";
    QTest::newRow("no login stored, nothing typed") << recAdminLogin() << ""
                                                    << ""
                                                    << "" << false << "";
    QTest::newRow("no login stored, something typed") << recAdminLogin() << "Secret12"
                                                      << "x"
                                                      << "y" << false << "";
}

void tst_AdminLogin::login()
{
    QFETCH(recAdminLogin, stored);
    QFETCH(QString, password);
    QFETCH(QString, answer1);
    QFETCH(QString, answer2);
    QFETCH(bool, accepted);
    QFETCH(QString, passwordBoxAfter);
    if (!stored.Password.isEmpty())
        store(stored);

    TfrmAdminLogin dialog;
    dialog.cbForgotPass->click();
    dialog.edtPassword->setText(password);
    QTest::keyClicks(dialog.edtAnswer1, answer1);
    QTest::keyClicks(dialog.edtAnswer2, answer2);
    QCOMPARE(dialog.edtAnswer1->text(), answer1); // nothing cut off by the length limit
    dialog.cbLogin->click();

    QCOMPARE(dialog.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(m_dialogs->beeps, accepted ? 0 : 1);
    QVERIFY(m_dialogs->messages.isEmpty());
    QCOMPARE(dialog.edtPassword->text(), passwordBoxAfter);
}

void tst_AdminLogin::failedAttemptKeepsAnswers()
{
    store(Stored);
    TfrmAdminLogin dialog;
    dialog.cbForgotPass->click();
    dialog.edtPassword->setText(QStringLiteral("wrong"));
    dialog.edtAnswer1->setText(QStringLiteral(" Rex "));
    dialog.edtAnswer2->setText(QStringLiteral("Bergen"));
    dialog.edtAnswer2->setFocus();
    for (int attempt = 1; attempt <= 2; ++attempt) {
        dialog.cbLogin->click();
        QCOMPARE(m_dialogs->beeps, attempt);
    }
    QCOMPARE(dialog.edtPassword->text(), QString());
    QCOMPARE(dialog.edtAnswer1->text(), QStringLiteral("Rex"));
    QCOMPARE(dialog.edtAnswer2->text(), QStringLiteral("Bergen"));
    QCOMPARE(dialog.focusWidget(), dialog.edtPassword);
    // Below the count that starts a wait, the right password gets in at once.
    dialog.edtPassword->setText(QStringLiteral("Secret12"));
    dialog.cbLogin->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void tst_AdminLogin::enterPressesLogin()
{
    store(Stored);
    TfrmAdminLogin dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.edtPassword, QStringLiteral("Secret12"));
    QTest::keyClick(dialog.edtPassword, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.isHidden());

    TfrmAdminLogin cancelled;
    cancelled.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cancelled));
    QTest::keyClick(cancelled.edtPassword, Qt::Key_Escape);
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QVERIFY(cancelled.isHidden());
}

void tst_AdminLogin::unlockWait_data()
{
    QTest::addColumn<int>("wrongInARow");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("none yet") << 0 << 0;
    QTest::newRow("second") << 2 << 0;
    QTest::newRow("third") << 3 << 2000;
    QTest::newRow("fourth") << 4 << 4000;
    QTest::newRow("fifth") << 5 << 8000;
    QTest::newRow("seventh") << 7 << 32000;
    QTest::newRow("eighth, capped") << 8 << 60000;
    QTest::newRow("endless script") << std::numeric_limits<int>::max() << 60000;
}

void tst_AdminLogin::unlockWait()
{
    QFETCH(int, wrongInARow);
    QFETCH(int, waitMs);
    QCOMPARE(UnlockWaitMs(wrongInARow), waitMs);
}

void tst_AdminLogin::wrongAttemptsRestLogin()
{
    store(Stored);
    qint64 now = 5000;
    TUnlockAttempts attempts([&now] { return now; });
    TfrmAdminLogin dialog(nullptr, &attempts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        QVERIFY(dialog.cbLogin->isEnabled());
        QTest::keyClicks(dialog.edtPassword, QStringLiteral("guess"));
        QTest::keyClick(dialog.edtPassword, Qt::Key_Return);
    }
    QCOMPARE(m_dialogs->beeps, 3);
    QVERIFY(!dialog.cbLogin->isEnabled());
    QVERIFY(dialog.lblWait->isVisible());
    QCOMPARE(dialog.lblWait->text(), QStringLiteral("Wait 2 seconds before trying again"));

    // Enter while the button rests neither lets the right password in nor counts.
    QTest::keyClicks(dialog.edtPassword, QStringLiteral("Secret12"));
    QTest::keyClick(dialog.edtPassword, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(m_dialogs->beeps, 3);
    QCOMPARE(attempts.WrongAttemptsInARow(), 3);

    now += 1999;
    dialog.UpdateWait();
    QCOMPARE(dialog.lblWait->text(), QStringLiteral("Wait 1 second before trying again"));
    QVERIFY(!dialog.cbLogin->isEnabled());
    // The dialog's own timer ends the wait.
    now += 1;
    QTRY_VERIFY(dialog.cbLogin->isEnabled());
    QVERIFY(dialog.lblWait->isHidden());
    QTest::keyClick(dialog.edtPassword, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(attempts.WrongAttemptsInARow(), 0);
}

void tst_AdminLogin::waitOutlivesDialog()
{
    store(Stored);
    qint64 now = 0;
    TUnlockAttempts attempts([&now] { return now; });
    {
        TfrmAdminLogin first(nullptr, &attempts);
        for (int attempt = 1; attempt <= 3; ++attempt)
            first.cbLogin->click();
        // Turned back to a minute before the wait ends: the longest notice, in the short form.
        now -= 58000;
        first.UpdateWait();
        QCOMPARE(first.lblWait->text(), QStringLiteral("Wait 60 seconds before trying again"));
        QVERIFY(waitNoticeFits(first));
        now += 58000;
    }
    TfrmAdminLogin second(nullptr, &attempts);
    QVERIFY(!second.cbLogin->isEnabled());
    QVERIFY(!second.lblWait->isHidden());
    now += 2000;
    second.UpdateWait();
    QVERIFY(second.cbLogin->isEnabled());

    // Wrong reminder answers count too, and the fourth wrong attempt doubles the wait.
    second.cbForgotPass->click();
    second.edtAnswer1->setText(QStringLiteral("Rex"));
    second.edtAnswer2->setText(QStringLiteral("Bergen"));
    second.cbLogin->click();
    QCOMPARE(attempts.WrongAttemptsInARow(), 4);
    QCOMPARE(second.lblWait->text(), QStringLiteral("Wait 4 seconds before trying again"));
    QVERIFY(waitNoticeFits(second));
}

void tst_AdminLogin::unreadableLoginRefusesEveryAttempt()
{
    store(Stored);
    // "Confirm" of another type: the load stops there, with the password already read.
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(AppPaths::MachineHiveFile()).constData(), &db),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "UPDATE reg_values SET type = 4 WHERE name = 'Confirm'", nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);
    QTest::ignoreMessage(QtWarningMsg, "TfrmAdminLogin::LoadReminderQuestions failed: Invalid "
                                       "data type for 'Confirm'");
    TfrmAdminLogin dialog;
    QCOMPARE(dialog.StoredLogin.Password, QStringLiteral("Secret12"));
    QCOMPARE(dialog.edtQuestion1->text(), QString());

    // With "Level" unreadable too, nothing was loaded and no attempt gets in.
    QVERIFY(sqlite3_open(QFile::encodeName(AppPaths::MachineHiveFile()).constData(), &db) ==
            SQLITE_OK);
    sqlite3_exec(db, "UPDATE reg_values SET type = 3 WHERE name = 'Level'", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    QTest::ignoreMessage(QtWarningMsg, "TfrmAdminLogin::LoadReminderQuestions failed: Invalid "
                                       "data type for 'Level'");
    TfrmAdminLogin empty;
    QCOMPARE(empty.StoredLogin, recAdminLogin());
    empty.cbForgotPass->click();
    empty.edtPassword->setText(QStringLiteral("Secret12"));
    empty.cbLogin->click();
    QCOMPARE(empty.result(), int(QDialog::Rejected));
    QCOMPARE(m_dialogs->beeps, 1);
}

void tst_AdminLogin::askAdminLogin_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("expected");
    QTest::newRow("right password") << "Secret12" << false << true;
    QTest::newRow("wrong password, then cancel") << "Secret13" << true << false;
    QTest::newRow("cancel at once") << "" << true << false;
}

void tst_AdminLogin::askAdminLogin()
{
    QFETCH(QString, typed);
    QFETCH(bool, cancel);
    QFETCH(bool, expected);
    store(Stored);
    QWidget owner;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *login = qobject_cast<TfrmAdminLogin *>(dialog);
        if (!login)
            return int(QDialog::Rejected);
        if (dialog->parentWidget() != &owner)
            return -1;
        if (!typed.isEmpty()) {
            login->edtPassword->setText(typed);
            login->cbLogin->click();
        }
        if (cancel)
            login->cbCancel->click();
        return login->result();
    };
    QCOMPARE(AskAdminLogin(&owner), expected);
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmAdminLogin")});
    // The dialog is gone once it has answered.
    QVERIFY(owner.findChildren<TfrmAdminLogin *>().isEmpty());
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_AdminLogin)
#include "tst_adminlogin.moc"
