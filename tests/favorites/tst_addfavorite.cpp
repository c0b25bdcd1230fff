// The Add Favorite dialog on its own: the name checks, the save with its folder checks and the
// overwrite question, and what is written.
#include "common/favoritesstore.h"
#include "favorites/addfavorite.h"
#include "support/testenv.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"
#include "ui_addfavorite.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString Url = QStringLiteral("http://example.com/page?a=1&b=2");
const QString Illegal =
    QStringLiteral("The favorite name includes illegal characters\r\n\r\n"
                   "The following characters are not permitted: & \" / \\ ? : * < > |");
const QString Overwrite = QStringLiteral(
    "A favorite with this name already exists\r\n\r\nOverwrite the existing favorite information?");

QByteArray sixLines(const QString &url)
{
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() +
           "\r\nWorkingDirectory=/\r\nIconIndex=0\r\nShowCommand=7\r\n"
           "IconFile=/usr/lib/url.dll\r\n";
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_AddFavorite : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formLayout();
    void nameCheck_data();
    void nameCheck();
    void savesUnderTheNameAsTyped_data();
    void savesUnderTheNameAsTyped();
    void overwriteQuestion_data();
    void overwriteQuestion();
    void sameNameInASubfolderIsNoConflict();
    void favoritesFolderIsCreated();
    void folderFailures_data();
    void folderFailures();
    void writeErrorKeepsTheDialogOpen();
    void enterPressesOkAndEscapeDoesNothing();
    void forbiddenChangesAddNothing();

private:
    QString m_root;
};

void tst_AddFavorite::init()
{
    EnvironmentSuite::init();
    m_root = FavoritesStore::FavoritesFolder();
}

void tst_AddFavorite::cleanup()
{
    FavoritesStore::OverrideSystemFolders(QString(), QString());
    EnvironmentSuite::cleanup();
}

void tst_AddFavorite::formLayout()
{
    TfrmAddFavorite dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Favorite"));
    QCOMPARE(dialog.size(), QSize(329, 121));
    QCOMPARE(dialog.Label1->text(),
             QStringLiteral("Quelvard wll add this page to your Favorites list"));
    QCOMPARE(dialog.Label2->text(), QStringLiteral("&Name:"));
    QCOMPARE(dialog.Label2->buddy(), dialog.edtName);
    QCOMPARE(dialog.edtName->geometry(), QRect(72, 48, 241, 21));
    QCOMPARE(dialog.cbOk->geometry(), QRect(152, 80, 75, 25));
    QCOMPARE(dialog.cbCancel->geometry(), QRect(240, 80, 75, 25));
    QCOMPARE(dialog.cbOk->text(), QStringLiteral("&Ok"));
    QCOMPARE(dialog.cbCancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(dialog.cbOk->isDefault());
    QCOMPARE(dialog.edtName->maxLength(), 32767);
    QVERIFY(!dialog.edtName->accessibleName().isEmpty());
    // Each label fits its text.
    for (QLabel *label : {dialog.Label1, dialog.Label2})
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    dialog.cbCancel->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void tst_AddFavorite::nameCheck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty") << ""
                           << "Invalid favorite name";
    QTest::newRow("blanks only") << " \t  "
                                 << "Invalid favorite name";
    for (const QChar c : TfrmAddFavorite::ForbiddenCharacters) {
        const QString shown = QString(c);
        QTest::addRow("%s first", qPrintable(shown)) << shown + "name" << Illegal;
        QTest::addRow("%s inside", qPrintable(shown)) << "na" + shown + "me" << Illegal;
        QTest::addRow("%s last", qPrintable(shown)) << "name" + shown << Illegal;
    }
    QTest::newRow("several forbidden, one message") << "a&b<c>d|" << Illegal;
    QTest::newRow("forbidden after blanks") << "  Fish & Chips  " << Illegal;
}

void tst_AddFavorite::nameCheck()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText(name);
    dialog.cbOk->click();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(), message);
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
    QCOMPARE(m_dialogs->messages.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The dialog stays open with the name as typed; nothing is written.
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(dialog.edtName->text(), name);
    QVERIFY(entries(m_root).isEmpty());
}

void tst_AddFavorite::savesUnderTheNameAsTyped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "Home"
                           << "Home.irl";
    QTest::newRow("blanks kept") << "  Home page "
                                 << "  Home page .irl";
    QTest::newRow("beyond ASCII") << "Café ü 日本"
                                  << "Café ü 日本.irl";
    QTest::newRow("dots stay in the folder") << ".."
                                             << "...irl";
    QTest::newRow("backslash-free Windows-style path is just a name") << "C;D"
                                                                      << "C;D.irl";
}

void tst_AddFavorite::savesUnderTheNameAsTyped()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText(name);
    dialog.cbOk->click();
    QVERIFY2(m_dialogs->messages.isEmpty(), qPrintable(m_dialogs->lastMessage()));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(entries(m_root), QStringList{file});
    QCOMPARE(readBytes(m_root + file), sixLines(Url));
}

void tst_AddFavorite::overwriteQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("No keeps the old file") << false;
    QTest::newRow("Yes writes the six lines") << true;
}

void tst_AddFavorite::overwriteQuestion()
{
    QFETCH(bool, yes);
    const QByteArray old =
        "[InternetShortcut]\r\nURL=http://old/\r\nHotKey=5\r\n[Other]\r\nx=y\r\n";
    writeBytes(m_root + "Home.irl", old);
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText("Home");
    m_dialogs->messageAnswers << (yes ? QMessageBox::Yes : QMessageBox::No);
    dialog.cbOk->click();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(), Overwrite);
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Question);
    QCOMPARE(m_dialogs->messages.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(readBytes(m_root + "Home.irl"), yes ? sixLines(Url) : old);
    QCOMPARE(dialog.result(), yes ? int(QDialog::Accepted) : 0);
    QCOMPARE(entries(m_root), QStringList{"Home.irl"});
}

void tst_AddFavorite::sameNameInASubfolderIsNoConflict()
{
    writeBytes(m_root + "Work/Home.irl", "old");
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText("Home");
    dialog.cbOk->click();
    QVERIFY(m_dialogs->messages.isEmpty());
    QCOMPARE(readBytes(m_root + "Home.irl"), sixLines(Url));
    QCOMPARE(readBytes(m_root + "Work/Home.irl"), QByteArray("old"));
}

void tst_AddFavorite::favoritesFolderIsCreated()
{
    QVERIFY(!QFileInfo::exists(m_root));
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText("First");
    QVERIFY(dialog.SaveFavorite());
    QCOMPARE(readBytes(m_root + "First.irl"), sixLines(Url));
}

void tst_AddFavorite::folderFailures_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("message");
    const QString prefix = QStringLiteral("An error occurred saving the favorite\r\n\r\n");
    QTest::newRow("favorites folder cannot be created")
        << "favorites" << prefix + "Retrieving the Explorer favorites directory failed";
    QTest::newRow("no application-data folder")
        << "none" << prefix + "Retrieving the Explorer favorites directory failed";
    QTest::newRow("Windows directory missing")
        << "windows" << prefix + "Retrieving the Windows directory failed";
    QTest::newRow("system directory missing")
        << "system" << prefix + "Retrieving the Windows System directory failed";
}

void tst_AddFavorite::folderFailures()
{
    QFETCH(QString, which);
    QFETCH(QString, message);
    const QString missing = m_env->root() + "/no/such/dir";
    if (which == "favorites") {
        writeBytes(m_env->root() + "/blocked", "x");
        AppPaths::OverrideUserDataDir(m_env->root() + "/blocked");
    } else if (which == "none") {
        AppPaths::OverrideUserDataDir(QString());
    } else if (which == "windows") {
        FavoritesStore::OverrideSystemFolders(missing, QString());
    } else {
        FavoritesStore::OverrideSystemFolders(QString(), missing);
    }
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText("Home");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(m_env->root());
    dialog.cbOk->click();
    QDir::setCurrent(cwd);
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(), message);
    QCOMPARE(dialog.result(), 0);
    QVERIFY(!QFileInfo::exists(m_root + "Home.irl"));
    QVERIFY(!QFileInfo::exists(m_env->root() + "/Home.irl"));
}

void tst_AddFavorite::writeErrorKeepsTheDialogOpen()
{
    QDir().mkpath(m_root + "Links.irl");
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.edtName->setText("Links");
    dialog.cbOk->click();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QVERIFY2(m_dialogs->lastMessage().startsWith("Creating the favorite caused an error: "),
             qPrintable(m_dialogs->lastMessage()));
    QVERIFY(m_dialogs->lastMessage().size() > 40);
    QCOMPARE(dialog.result(), 0);
    QVERIFY(QFileInfo(m_root + "Links.irl").isDir());
    QCOMPARE(entries(m_root), QStringList{"Links.irl"});
}

void tst_AddFavorite::enterPressesOkAndEscapeDoesNothing()
{
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.edtName->setFocus();
    QTest::keyClick(dialog.edtName, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QTest::keyClicks(dialog.edtName, "Typed");
    QTest::keyClick(dialog.edtName, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(readBytes(m_root + "Typed.irl"), sixLines(Url));
}

// A shared kiosk account: one visitor's favorite is not left for the next.
void tst_AddFavorite::forbiddenChangesAddNothing()
{
    MachinePolicies::SetUserChanges(false);
    MachinePolicies::Forget();
    TfrmAddFavorite dialog;
    dialog.FavoriteURL = Url;
    QVERIFY(!dialog.cbOk->isEnabled());
    dialog.edtName->setText("Left behind");
    QVERIFY(!dialog.SaveFavorite());
    QVERIFY2(m_dialogs->lastMessage().contains("administrator"),
             qPrintable(m_dialogs->lastMessage()));
    QVERIFY(entries(m_root).isEmpty());
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_AddFavorite)
#include "tst_addfavorite.moc"
