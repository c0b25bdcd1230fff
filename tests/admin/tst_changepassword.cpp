#include "admin/changepassword.h"
#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/encryption.h"
#include "common/textutils.h"
#include "support/testenv.h"
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sqlite3.h>

Q_DECLARE_METATYPE(recAdminLogin)

namespace {

const QString NoMatch = QStringLiteral("The entered passwords do not match");
const QString TooShort = QStringLiteral("The password must be at least 8 characters long");
const QString NoAnswer1 =
    QStringLiteral("An answer must be provided for the first reminder question");
const QString NoAnswer2 =
    QStringLiteral("An answer must be provided for the second reminder question");
const QString WrongCurrent = QStringLiteral("The Current Password is incorrect");

const recAdminLogin Stored{QStringLiteral("Secret12"), QStringLiteral("Old question"),
                           QStringLiteral("Old answer"), QString(), QString()};

} // namespace

class tst_ChangePassword : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        EnvironmentSuite::cleanup();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void ordinaryForm();
    void firstRunForm();
    void reminderBoxesStartEmpty();
    void validation_data();
    void validation();
    void savedRecordIsTrimmed();
    void firstRunSkipsCurrentPassword();
    void refusedSaveKeepsDialogOpen();
    void unreadableLoginIsReported();
    void escapeDoesNotClose();

private:
    struct Typed
    {
        QString current, password, confirm, q1, a1, q2, a2;
    };
    static void type(TfrmChangePassword &dialog, const Typed &t)
    {
        dialog.editAdminPassword->setText(t.current);
        dialog.edtPassword->setText(t.password);
        dialog.edtConfirm->setText(t.confirm);
        dialog.edtQuestion1->setText(t.q1);
        dialog.edtAnswer1->setText(t.a1);
        dialog.edtQuestion2->setText(t.q2);
        dialog.edtAnswer2->setText(t.a2);
    }
};

void tst_ChangePassword::ordinaryForm()
{
    TfrmChangePassword dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("  Change Administrator Login"));
    QCOMPARE(dialog.size(), QSize(401, 321));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(dialog.editAdminPassword->geometry(), QRect(160, 12, 177, 21));
    QCOMPARE(dialog.edtPassword->geometry(), QRect(160, 36, 177, 21));
    QCOMPARE(dialog.edtConfirm->geometry(), QRect(160, 61, 177, 21));
    QCOMPARE(dialog.gbReminders->geometry(), QRect(16, 120, 369, 145));
    QCOMPARE(dialog.cbSave->geometry(), QRect(224, 280, 75, 25));
    QCOMPARE(dialog.cbCancel->geometry(), QRect(312, 280, 75, 25));
    QVERIFY(dialog.cbSave->isDefault());
    QVERIFY(!dialog.cbCancel->isHidden());
    // Nothing is masked here.
    for (QLineEdit *edit : dialog.findChildren<QLineEdit *>())
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
    QCOMPARE(dialog.editAdminPassword->maxLength(), 20);
    QCOMPARE(dialog.edtPassword->maxLength(), 20);
    QCOMPARE(dialog.edtConfirm->maxLength(), 20);
    QCOMPARE(dialog.edtQuestion1->maxLength(), 50);
    QCOMPARE(dialog.edtAnswer1->maxLength(), 25);
    QCOMPARE(dialog.edtQuestion2->maxLength(), 50);
    QCOMPARE(dialog.edtAnswer2->maxLength(), 25);
    // Bold labels and caption; the boxes inside the group box stay regular.
    QVERIFY(dialog.lblCurrentPassword->font().bold());
    QVERIFY(dialog.lblPassPass->font().bold());
    QVERIFY(dialog.lblPassConfirm->font().bold());
    QVERIFY(dialog.gbReminders->font().bold());
    QVERIFY(!dialog.edtQuestion1->font().bold());
    QVERIFY(!dialog.lblPassQ1->font().bold());
    QVERIFY(!dialog.lblPassCase->font().bold());
    QCOMPARE(dialog.lblPassPass->buddy(), dialog.edtPassword);
    QCOMPARE(dialog.lblPassA2->buddy(), dialog.edtAnswer2);

    QList<QWidget *> chain;
    QWidget *w = dialog.editAdminPassword;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != dialog.editAdminPassword);
    const QList<QWidget *> expected{
        dialog.editAdminPassword, dialog.edtPassword, dialog.edtConfirm,
        dialog.edtQuestion1,      dialog.edtAnswer1,  dialog.edtQuestion2,
        dialog.edtAnswer2,        dialog.cbSave,      dialog.cbCancel};
    QCOMPARE(chain, expected);
}

void tst_ChangePassword::firstRunForm()
{
    TfrmChangePassword dialog;
    dialog.ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Set Administrator Login"));
    QVERIFY(dialog.lblCurrentPassword->isHidden());
    QVERIFY(dialog.editAdminPassword->isHidden());
    QVERIFY(dialog.cbCancel->isHidden());
    QCOMPARE(dialog.lblPassPass->text(), QStringLiteral("&Password:"));
    QCOMPARE(dialog.lblPassPass->pos(), QPoint(16, 16));
    QCOMPARE(dialog.edtPassword->geometry(), QRect(112, 12, 177, 21));
    QCOMPARE(dialog.lblPassConfirm->pos(), QPoint(16, 41));
    QCOMPARE(dialog.edtConfirm->geometry(), QRect(112, 37, 177, 21));
    QCOMPARE(dialog.lblPassCase->pos(), QPoint(112, 59));
    QCOMPARE(dialog.gbReminders->geometry(), QRect(16, 96, 369, 145));
    QCOMPARE(dialog.cbSave->geometry(), QRect(312, 256, 75, 25));
    QCOMPARE(dialog.size(), QSize(401, 297));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    // The relabelled password label no longer reaches under its box.
    QVERIFY(dialog.lblPassPass->geometry().right() < dialog.edtPassword->x());
    QVERIFY(dialog.lblPassConfirm->geometry().right() < dialog.edtConfirm->x());
}

void tst_ChangePassword::reminderBoxesStartEmpty()
{
    QVERIFY(GenUtilities::SaveAdminLogin({QStringLiteral("Secret12"), QStringLiteral("Q1"),
                                          QStringLiteral("A1"), QStringLiteral("Q2"),
                                          QStringLiteral("A2")}));
    TfrmChangePassword dialog;
    for (QLineEdit *edit : dialog.findChildren<QLineEdit *>())
        QCOMPARE(edit->text(), QString());
    // Saving without retyping the reminders removes them.
    type(dialog, {QStringLiteral("Secret12"),
                  QStringLiteral("NewPass99"),
                  QStringLiteral("NewPass99"),
                  {},
                  {},
                  {},
                  {}});
    dialog.cbSaveClick();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(GenUtilities::LoadAdminLogin(),
             (recAdminLogin{QStringLiteral("NewPass99"), {}, {}, {}, {}}));
}

void tst_ChangePassword::validation_data()
{
    QTest::addColumn<bool>("loginStored");
    QTest::addColumn<QStringList>("typed"); // current, new, confirm, q1, a1, q2, a2
    QTest::addColumn<QString>("message");   // empty: saved
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QStringList>("emptied");

    const QStringList none;
    const QStringList newBoxes{QStringLiteral("edtPassword"), QStringLiteral("edtConfirm")};
    auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
    row("mismatch before length") << true << QStringList{"wrong", "abc", "abd", "", "", "", ""}
                                  << NoMatch << "edtPassword" << newBoxes;
    row("mismatch in letter case")
        << true << QStringList{"Secret12", "Password1", "password1", "", "", "", ""} << NoMatch
        << "edtPassword" << newBoxes;
    row("both empty") << true << QStringList{"Secret12", "", "", "", "", "", ""} << TooShort
                      << "edtPassword" << newBoxes;
    row("7 characters") << true << QStringList{"Secret12", "1234567", "1234567", "", "", "", ""}
                        << TooShort << "edtPassword" << newBoxes;
    row("7 characters after trimming")
        << true << QStringList{"Secret12", "  1234567 ", " 1234567", "", "", "", ""} << TooShort
        << "edtPassword" << newBoxes;
    row("8 characters after trimming")
        << true << QStringList{"Secret12", "  12345678  ", "12345678\t", "", "", "", ""}
        << QString() << "" << none;
    row("length before current password")
        << true << QStringList{"wrong", "short", "short", "", "", "", ""} << TooShort
        << "edtPassword" << newBoxes;
    row("question 1 without answer")
        << true << QStringList{"wrong", "NewPass99", "NewPass99", "Pet?", "  ", "", ""} << NoAnswer1
        << "edtAnswer1" << none;
    row("question 2 without answer")
        << true << QStringList{"wrong", "NewPass99", "NewPass99", "Pet?", "Rex", "Town?", ""}
        << NoAnswer2 << "edtAnswer2" << none;
    row("wrong current password") << true << QStringList{"Secret13", "NewPass99", "NewPass99", "",
                                                         "",         "",          ""}
                                  << WrongCurrent << "editAdminPassword"
                                  << QStringList{QStringLiteral("editAdminPassword")};
    row("current password is not trimmed")
        << true << QStringList{"Secret12 ", "NewPass99", "NewPass99", "", "", "", ""}
        << WrongCurrent << "editAdminPassword" << QStringList{QStringLiteral("editAdminPassword")};
    row("current password is case-sensitive")
        << true << QStringList{"SECRET12", "NewPass99", "NewPass99", "", "", "", ""} << WrongCurrent
        << "editAdminPassword" << QStringList{QStringLiteral("editAdminPassword")};
    row("answer without question")
        << true << QStringList{"Secret12", "NewPass99", "NewPass99", "", "Rex", "", "Oslo"}
        << QString() << "" << none;
    row("second question without first")
        << true << QStringList{"Secret12", "NewPass99", "NewPass99", "", "", "Town?", "Oslo"}
        << QString() << "" << none;
    row("no login stored: empty current password")
        << false << QStringList{"", "NewPass99", "NewPass99", "", "", "", ""} << QString() << ""
        << none;
    row("no login stored: any current password refused")
        << false << QStringList{"Secret12", "NewPass99", "NewPass99", "", "", "", ""}
        << WrongCurrent << "editAdminPassword" << QStringList{QStringLiteral("editAdminPassword")};
}

void tst_ChangePassword::validation()
{
    QFETCH(bool, loginStored);
    QFETCH(QStringList, typed);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    QFETCH(QStringList, emptied);
    if (loginStored)
        QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    const recAdminLogin before = GenUtilities::LoadAdminLogin();

    TfrmChangePassword dialog;
    type(dialog, {typed[0], typed[1], typed[2], typed[3], typed[4], typed[5], typed[6]});
    dialog.cbSaveClick();

    if (message.isEmpty()) {
        QVERIFY2(m_dialogs->messages.isEmpty(), qPrintable(m_dialogs->lastMessage()));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(GenUtilities::LoadAdminLogin().Password, TextUtils::Trim(typed[1]));
        return;
    }
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->messages.first().text, message);
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->messages.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), focus);
    // Every other box keeps what was typed, trimmed; the current password untrimmed.
    const QList<QLineEdit *> boxes{
        dialog.editAdminPassword, dialog.edtPassword,  dialog.edtConfirm, dialog.edtQuestion1,
        dialog.edtAnswer1,        dialog.edtQuestion2, dialog.edtAnswer2};
    for (int i = 0; i < boxes.size(); ++i) {
        const QString expected = emptied.contains(boxes[i]->objectName()) ? QString()
                                 : i == 0                                 ? typed[i]
                                          : TextUtils::Trim(typed[i]);
        QCOMPARE(boxes[i]->text(), expected);
    }
    QCOMPARE(GenUtilities::LoadAdminLogin(), before);
}

void tst_ChangePassword::savedRecordIsTrimmed()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    TfrmChangePassword dialog;
    type(dialog, {QStringLiteral("Secret12"), QStringLiteral(" NewPass99 "),
                  QStringLiteral("NewPass99"), QStringLiteral("  Pet? "), QStringLiteral(" Rex  "),
                  QStringLiteral("\tTown?"), QStringLiteral("Oslo\t")});
    dialog.cbSaveClick();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(
        GenUtilities::LoadAdminLogin(),
        (recAdminLogin{QStringLiteral("NewPass99"), QStringLiteral("Pet?"), QStringLiteral("Rex"),
                       QStringLiteral("Town?"), QStringLiteral("Oslo")}));
    QCOMPARE(dialog.edtQuestion1->text(), QStringLiteral("Pet?"));
}

void tst_ChangePassword::firstRunSkipsCurrentPassword()
{
    // Whatever is stored, the first-run form has no current password to check.
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    TfrmChangePassword dialog;
    dialog.ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
    type(dialog, {QStringLiteral("typed before it was hidden"),
                  QStringLiteral("FirstRun1"),
                  QStringLiteral("FirstRun1"),
                  {},
                  {},
                  {},
                  {}});
    dialog.cbSaveClick();
    QVERIFY(m_dialogs->messages.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(GenUtilities::LoadAdminLogin().Password, QStringLiteral("FirstRun1"));
}

void tst_ChangePassword::refusedSaveKeepsDialogOpen()
{
    m_env->blockMachineHive();
    for (const bool firstRun : {true, false}) {
        m_dialogs->messages.clear();
        TfrmChangePassword dialog;
        if (firstRun)
            dialog.ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
        type(dialog, {QString(),
                      QStringLiteral("NewPass99"),
                      QStringLiteral("NewPass99"),
                      QStringLiteral("Pet?"),
                      QStringLiteral("Rex"),
                      {},
                      {}});
        dialog.cbSaveClick();
        QCOMPARE(m_dialogs->messages.size(), 1);
        QCOMPARE(m_dialogs->lastMessage(),
                 QStringLiteral("Saving the Administrators login information failed\n\r\n\r"
                                "This error can indicate that the existing Windows user account "
                                "does not have sufficient privileges. Login with an account that "
                                "has Administrator rights and try again"));
        QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.edtPassword->text(), QStringLiteral("NewPass99"));
        QCOMPARE(dialog.edtConfirm->text(), QStringLiteral("NewPass99"));
        QCOMPARE(dialog.edtAnswer1->text(), QStringLiteral("Rex"));
    }
}

void tst_ChangePassword::unreadableLoginIsReported()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(AppPaths::MachineHiveFile()).constData(), &db),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "UPDATE reg_values SET type = 4 WHERE name = 'Level'", nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);

    TfrmChangePassword dialog;
    type(dialog, {QStringLiteral("Secret12"),
                  QStringLiteral("NewPass99"),
                  QStringLiteral("NewPass99"),
                  {},
                  {},
                  {},
                  {}});
    dialog.cbSaveClick();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QVERIFY(m_dialogs->lastMessage().contains(QStringLiteral("Level")));
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.editAdminPassword->text(), QStringLiteral("Secret12"));
}

void tst_ChangePassword::escapeDoesNotClose()
{
    TfrmChangePassword dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(dialog.edtPassword, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    dialog.cbCancel->click();
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));

    // Enter presses Save.
    TfrmChangePassword second;
    second.ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QTest::keyClick(second.edtConfirm, Qt::Key_Return);
    QCOMPARE(m_dialogs->lastMessage(), TooShort);
    QVERIFY(second.isVisible());
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_ChangePassword)
#include "tst_changepassword.moc"
