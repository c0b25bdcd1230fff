// The administrator lock in the main window: start-up, unlock, lock, change of login, and what
// a locked window still refuses to do.
#include "admin/adminlock.h"
#include "admin/adminlogin.h"
#include "admin/changepassword.h"
#include "app/browserprofile.h"
#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/encryption.h"
#include "common/genutilities.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QToolBar>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QtTest>
#include <sqlite3.h>

namespace {

const recAdminLogin Stored{QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                           QStringLiteral("Rex"), QStringLiteral("Town?"), QStringLiteral("Oslo")};

enum class LockState { Locked, Unlocked };

using TestPages::Browser;
using TestSupport::Control;

QAction *goButton(const TfrmQuelvardBrowser &window)
{
    return Control<QAction>(&window, "tbGoTo");
}

QLineEdit *addressBar(const TfrmQuelvardBrowser &window)
{
    return Control<QLineEdit>(&window, "edtAddress");
}

QPushButton *lockButton(const TfrmQuelvardBrowser &window)
{
    return Control<QPushButton>(&window, "cbAdminLock");
}

LockState stateOf(TfrmQuelvardBrowser &window)
{
    const bool unlocked = goButton(window)->isEnabled();
    // The three always move together with the lock, and the engine follows them.
    const bool addressEnabled = addressBar(window)->isEnabled();
    const QString caption = lockButton(window)->text();
    QWebEngineSettings *settings = BrowserProfile::Current()->settings();
    const bool dropNavigates = settings->testAttribute(QWebEngineSettings::NavigateOnDropEnabled);
    const bool schemesBlocked =
        settings->unknownUrlSchemePolicy() == QWebEngineSettings::DisallowUnknownUrlSchemes;
    if (addressEnabled != unlocked || dropNavigates != unlocked || schemesBlocked == unlocked ||
        window.AdminLock()->IsLocked() == unlocked ||
        caption != (unlocked ? QStringLiteral("Admin Lock") : QStringLiteral("Admin Unlock")) ||
        lockButton(window)->accessibleName() != caption) {
        qWarning() << "inconsistent lock state" << unlocked << addressEnabled << caption
                   << dropNavigates << schemesBlocked;
        return LockState(-1);
    }
    return unlocked ? LockState::Unlocked : LockState::Locked;
}

// Answers the login dialog with a password (or the two answers) and returns its result.
std::function<int(QDialog *)> loginWith(const QString &password, const QString &answer1 = {},
                                        const QString &answer2 = {})
{
    return [=](QDialog *dialog) {
        auto *login = qobject_cast<TfrmAdminLogin *>(dialog);
        if (!login)
            return int(QDialog::Rejected);
        if (!answer1.isEmpty())
            login->cbForgotPass->click();
        login->edtPassword->setText(password);
        login->edtAnswer1->setText(answer1);
        login->edtAnswer2->setText(answer2);
        login->cbLogin->click();
        if (login->result() != QDialog::Accepted)
            login->cbCancel->click();
        return login->result();
    };
}

void setValueType(const char *name, int type)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(AppPaths::MachineHiveFile()).constData(), &db),
             SQLITE_OK);
    const QByteArray sql =
        "UPDATE reg_values SET type = " + QByteArray::number(type) + " WHERE name = '" + name + "'";
    QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// Receives the addresses the desktop would hand to another program.
class ExternalLauncher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class tst_AdminLock : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void startsLocked_data();
    void startsLocked();
    void firstRunFormSetsTheLogin();
    void unlock_data();
    void unlock();
    void lockNeedsNoDialog();
    void changeLoginKeepsTheState_data();
    void changeLoginKeepsTheState();
    void lockedAddressBarTakesNoAddress();
    void droppedUrlDoesNotNavigateWhileLocked();
    void externalSchemeNotStartedWhileLocked();
    void lockCoversEveryProfileItIsGiven();

private:
    TestHttpServer m_server;
    ExternalLauncher m_launcher;
};

void tst_AdminLock::initTestCase()
{
    QVERIFY(m_server.start());
    for (const char *path : {"/target", "/typed", "/sentinel"})
        m_server.setHtml(QLatin1String(path), QLatin1String(path + 1));
    m_server.setHtml(QStringLiteral("/drop"), QStringLiteral("Drop"),
                     QStringLiteral("<div style='height:600px'>drop here</div>"));
    m_server.setHtml(QStringLiteral("/external"), QStringLiteral("External"),
                     QStringLiteral("<a id='x' href='quelvard-ext:open' style='display:block;"
                                    "width:300px;height:100px;background:#ccc'>open</a>"));
    QDesktopServices::setUrlHandler(QStringLiteral("quelvard-ext"), &m_launcher, "open");
}

void tst_AdminLock::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("quelvard-ext"));
}

void tst_AdminLock::init()
{
    EnvironmentSuite::init();
    GenUtilities::SavePosition(QStringLiteral("10,20,900,600")); // not a first run of the shell
    m_launcher.opened.clear();
    // Wrong passwords of earlier tests would otherwise rest the Login button of this one.
    TUnlockAttempts::ForProcess().RecordSuccess();
}

void tst_AdminLock::startsLocked_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("firstRunForm");
    QTest::addColumn<QString>("notice");
    // A login that cannot be read is not asked for again, but the log says why.
    QTest::addColumn<bool>("loadFails");
    QTest::newRow("no login stored") << "none" << true << QString() << false;
    QTest::newRow("login stored") << "hive" << false << QString() << false;
    QTest::newRow("login only in the companion file") << "companion" << false << QString() << false;
    QTest::newRow("hive value of another type") << "foreign" << false << QString() << true;
    QTest::newRow("companion file unreadable") << "unreadable" << false << QString() << true;
    // The browser says once that it runs on its safest settings, naming the store.
    QTest::newRow("damaged hive") << "damaged" << false
                                  << "cannot be read, so Quelvard uses its safest settings" << true;
    // The first-run form could never save there: the user is told who sets the login.
    QTest::newRow("no login, store not writable")
        << "standin" << false << TAdminLock::NotSetUpMessage << false;
}

void tst_AdminLock::startsLocked()
{
    QFETCH(QString, stored);
    QFETCH(bool, firstRunForm);
    QFETCH(QString, notice);
    QFETCH(bool, loadFails);
    if (stored == QLatin1String("standin"))
        m_env->blockMachineHive(); // stops every writer, root too
    if (stored == QLatin1String("hive") || stored == QLatin1String("foreign"))
        QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    if (stored == QLatin1String("foreign"))
        setValueType("Level", 4);
    if (stored == QLatin1String("companion")) {
        const auto crypt = [](const char *text, const QString &key) {
            return CryptString(QLatin1String(text), key, true).toLatin1();
        };
        const QString key2 = GenUtilities::AdminLoginKey2;
        writeBytes(GenUtilities::GetCompanionSettingsFile(),
                   "[" + crypt("GeneralPreferences", GenUtilities::AdminLoginKey1) + "]\r\n" +
                       crypt("LoginPassword", key2) + "=" + crypt("Secret12", key2) + "\r\n");
    }
    if (stored == QLatin1String("unreadable"))
        QVERIFY(QDir().mkpath(GenUtilities::GetCompanionSettingsFile()));
    if (stored == QLatin1String("damaged"))
        writeBytes(AppPaths::MachineHiveFile(), QByteArray(2048, 'x'));
    const QByteArray hiveBefore = readBytes(AppPaths::MachineHiveFile());
    if (loadFails) {
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^CheckAdminLoginAtStart failed: ")));
    }

    bool windowShownDuringDialog = true;
    QString title;
    bool cancelOffered = true;
    bool currentPasswordAsked = true;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        windowShownDuringDialog = dialog->parentWidget() && dialog->parentWidget()->isVisible();
        title = dialog->windowTitle();
        if (auto *change = qobject_cast<TfrmChangePassword *>(dialog)) {
            cancelOffered = !change->cbCancel->isHidden();
            currentPasswordAsked = !change->editAdminPassword->isHidden();
        }
        return int(QDialog::Rejected);
    };
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    if (firstRunForm) {
        QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmChangePassword")});
        QCOMPARE(title, QStringLiteral(" Set Administrator Login"));
        QVERIFY(!windowShownDuringDialog);
        QVERIFY(!cancelOffered);
        QVERIFY(!currentPasswordAsked);
    } else {
        QVERIFY(m_dialogs->dialogsRun.isEmpty());
    }
    QCOMPARE(stateOf(window), LockState::Locked);
    QCOMPARE(m_dialogs->messages.size(), notice.isEmpty() ? 0 : 1);
    if (!notice.isEmpty()) {
        QVERIFY2(m_dialogs->lastMessage().contains(notice), qPrintable(m_dialogs->lastMessage()));
        QVERIFY(m_dialogs->lastMessage().contains(stored == QLatin1String("damaged")
                                                      ? AppPaths::MachineHiveFile()
                                                      : QStringLiteral("sudo quelvard-admin")));
    }
    // Nothing stored changed, except the migration's own save.
    if (stored != QLatin1String("companion")) {
        QCOMPARE(readBytes(AppPaths::MachineHiveFile()), hiveBefore);
    } else {
        QCOMPARE(GenUtilities::LoadAdminLogin().Password, QStringLiteral("Secret12"));
    }
}

void tst_AdminLock::firstRunFormSetsTheLogin()
{
    m_dialogs->dialogHandler = [](QDialog *dialog) {
        auto *change = qobject_cast<TfrmChangePassword *>(dialog);
        if (!change)
            return int(QDialog::Rejected);
        QTest::keyClicks(change->edtPassword, QStringLiteral("Secret12"));
        QTest::keyClicks(change->edtConfirm, QStringLiteral("Secret12"));
        change->cbSave->click();
        return change->result();
    };
    TfrmQuelvardBrowser window;
    QCOMPARE(m_dialogs->dialogsRun.size(), 1);
    QCOMPARE(GenUtilities::LoadAdminLogin().Password, QStringLiteral("Secret12"));
    QCOMPARE(stateOf(window), LockState::Locked);

    // The next start finds the login and asks for nothing.
    m_dialogs->dialogsRun.clear();
    TfrmQuelvardBrowser second;
    QVERIFY(m_dialogs->dialogsRun.isEmpty());
}

void tst_AdminLock::unlock_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("answer1");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<bool>("unlocked");
    QTest::addColumn<int>("beeps");
    QTest::newRow("right password") << "Secret12"
                                    << ""
                                    << "" << true << 0;
    QTest::newRow("both reminder answers") << ""
                                           << "Rex"
                                           << "Oslo" << true << 0;
    QTest::newRow("wrong password, then cancel") << "secret12"
                                                 << ""
                                                 << "" << false << 1;
    QTest::newRow("cancel at once") << ""
                                    << ""
                                    << "" << false << 1;
}

void tst_AdminLock::unlock()
{
    QFETCH(QString, password);
    QFETCH(QString, answer1);
    QFETCH(QString, answer2);
    QFETCH(bool, unlocked);
    QFETCH(int, beeps);
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    m_dialogs->dialogHandler = loginWith(password, answer1, answer2);
    QTest::mouseClick(lockButton(browser->window), Qt::LeftButton);
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmAdminLogin")});
    QCOMPARE(m_dialogs->beeps, beeps);
    QCOMPARE(stateOf(browser->window), unlocked ? LockState::Unlocked : LockState::Locked);
}

void tst_AdminLock::lockNeedsNoDialog()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->unlock(*m_dialogs));
    QCOMPARE(stateOf(browser->window), LockState::Unlocked);
    m_dialogs->dialogsRun.clear();
    lockButton(browser->window)->click();
    QVERIFY(m_dialogs->dialogsRun.isEmpty());
    QCOMPARE(stateOf(browser->window), LockState::Locked);
    // And unlocking again asks again.
    lockButton(browser->window)->click();
    QCOMPARE(m_dialogs->dialogsRun.size(), 1);
    QCOMPARE(stateOf(browser->window), LockState::Locked);
}

void tst_AdminLock::changeLoginKeepsTheState_data()
{
    QTest::addColumn<bool>("unlockFirst");
    QTest::addColumn<bool>("save");
    QTest::newRow("locked, saved") << false << true;
    QTest::newRow("unlocked, saved") << true << true;
    QTest::newRow("unlocked, cancelled") << true << false;
}

void tst_AdminLock::changeLoginKeepsTheState()
{
    QFETCH(bool, unlockFirst);
    QFETCH(bool, save);
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && (!unlockFirst || browser->unlock(*m_dialogs)));
    TfrmQuelvardBrowser &window = browser->window;
    const LockState before = stateOf(window);
    m_dialogs->dialogsRun.clear();
    bool ordinaryForm = false;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *change = qobject_cast<TfrmChangePassword *>(dialog);
        if (!change)
            return int(QDialog::Rejected);
        ordinaryForm = dialog->windowTitle() == QStringLiteral("  Change Administrator Login") &&
                       !change->editAdminPassword->isHidden() && !change->cbCancel->isHidden();
        change->editAdminPassword->setText(QStringLiteral("Secret12"));
        change->edtPassword->setText(QStringLiteral("Changed99"));
        change->edtConfirm->setText(QStringLiteral("Changed99"));
        if (save)
            change->cbSave->click();
        else
            change->cbCancel->click();
        return change->result();
    };
    Control<QAction>(&window, "ChangeAdminLogin1")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmChangePassword")});
    QVERIFY(ordinaryForm);
    QCOMPARE(GenUtilities::LoadAdminLogin().Password,
             save ? QStringLiteral("Changed99") : QStringLiteral("Secret12"));
    QCOMPARE(stateOf(window), before);
    QVERIFY(window.findChildren<TfrmChangePassword *>().isEmpty());
}

void tst_AdminLock::lockedAddressBarTakesNoAddress()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl url = m_server.url(QStringLiteral("/target"));
    QVERIFY(browser->load(url));
    // The bar still shows where the page is, but takes neither focus nor keys.
    QLineEdit *address = browser->address();
    QCOMPARE(address->text(), url.toString());
    address->setFocus();
    QVERIFY(!address->hasFocus());
    QTest::keyClicks(address, QStringLiteral("http://elsewhere.test/"));
    QTest::keyClick(address, Qt::Key_Return);
    QCOMPARE(address->text(), url.toString());
    QWidget *go =
        Control<QToolBar>(&browser->window, "tbSearch")->widgetForAction(browser->action("tbGoTo"));
    QVERIFY(go && !go->isEnabled());

    // Whatever enables the field and Go while the lock is on, they still load nothing.
    address->setEnabled(true);
    browser->action("tbGoTo")->setEnabled(true);
    address->setFocus();
    address->setText(m_server.url(QStringLiteral("/typed")).toString());
    QSignalSpy started(browser->view()->page(), &QWebEnginePage::loadStarted);
    browser->action("tbGoTo")->trigger();
    QTest::mouseClick(go, Qt::LeftButton);
    QTest::keyClick(address, Qt::Key_Return);
    browser->window.tbGoToClick();
    // A load would have started before the page answers a script. (A sentinel load here would
    // cancel it before it asked the server.)
    TestPages::runScript(browser->view()->page(), QStringLiteral("0"));
    QCOMPARE(started.size(), 0);
    QCOMPARE(browser->view()->url(), url);
}

void tst_AdminLock::droppedUrlDoesNotNavigateWhileLocked()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/drop"))));
    TWebView *view = browser->view();
    QCOMPARE(view->page()->settings()->testAttribute(QWebEngineSettings::NavigateOnDropEnabled),
             false);

    // Drags a URL from outside over the page, lets the page answer, then drops it.
    QMimeData mime;
    const QUrl target = m_server.url(QStringLiteral("/target"));
    mime.setUrls({target});
    mime.setText(target.toString());
    const QPoint at = view->rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::LinkAction;
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    for (int i = 0; i < 10; ++i) {
        QDragMoveEvent move(at + QPoint(i, 0), actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        TestPages::runScript(view->page(), QStringLiteral("0"));
    }
    QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
    QDropEvent drop(QPointF(at + QPoint(9, 0)), actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drop);
    TestPages::runScript(view->page(), QStringLiteral("0")); // after a load the drop started
    QCOMPARE(started.size(), 0);

    // Unlocked, a dropped address opens as in any browser. (A drop simulated in-process does
    // not reach the engine's drag handling, so the engine's own switch is what is checked.)
    QVERIFY(browser->unlock(*m_dialogs));
    QVERIFY(view->page()->settings()->testAttribute(QWebEngineSettings::NavigateOnDropEnabled));
    lockButton(browser->window)->click();
    QVERIFY(!view->page()->settings()->testAttribute(QWebEngineSettings::NavigateOnDropEnabled));
}

void tst_AdminLock::externalSchemeNotStartedWhileLocked()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl page = m_server.url(QStringLiteral("/external"));
    QVERIFY(browser->load(page));
    TWebView *view = browser->view();
    QCOMPARE(view->page()->settings()->unknownUrlSchemePolicy(),
             QWebEngineSettings::DisallowUnknownUrlSchemes);

    QVERIFY(TestPages::clickElement(view, QStringLiteral("x")));
    TestPages::runScript(view->page(), QStringLiteral("location.href = 'quelvard-ext:scripted'"));
    // The script's navigation has been begun before a second script answers, and the desktop
    // would have been asked before the sentinel's load completes.
    TestPages::runScript(view->page(), QStringLiteral("0"));
    QVERIFY(browser->load(m_server.url(QStringLiteral("/sentinel"))));
    QVERIFY(m_launcher.opened.isEmpty());

    // Unlocked, a link the person clicks is handed on as in any browser.
    QVERIFY(browser->unlock(*m_dialogs));
    QVERIFY(browser->load(page));
    QVERIFY(TestPages::clickElement(view, QStringLiteral("x")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_launcher.opened.isEmpty(), 5000);
    QCOMPARE(m_launcher.opened.first(), QUrl(QStringLiteral("quelvard-ext:open")));
}

void tst_AdminLock::lockCoversEveryProfileItIsGiven()
{
    QVERIFY(GenUtilities::SaveAdminLogin(Stored));
    QWidget owner;
    // A profile no window knows of: only the list the lock is given can reach it.
    QWebEngineProfile pageProfile;
    TAdminLock lock(&owner, [&pageProfile] { return QList<QWebEngineProfile *>{&pageProfile}; });
    QSignalSpy changes(&lock, &TAdminLock::LockChanged);
    QWebEngineSettings *settings = pageProfile.settings();

    QVERIFY(lock.IsLocked());
    lock.Lock();
    m_dialogs->dialogHandler = loginWith(QStringLiteral("Wrong123"));
    QVERIFY(!lock.TryUnlock());
    QVERIFY(lock.IsLocked());
    QVERIFY(changes.isEmpty());

    m_dialogs->dialogHandler = loginWith(Stored.Password);
    QVERIFY(lock.TryUnlock());
    QVERIFY(!lock.IsLocked());
    lock.Lock();
    QVERIFY(lock.IsLocked());
    QCOMPARE(changes, (QList<QList<QVariant>>{{false}, {true}}));
    QVERIFY(!settings->testAttribute(QWebEngineSettings::NavigateOnDropEnabled));
    QCOMPARE(settings->unknownUrlSchemePolicy(), QWebEngineSettings::DisallowUnknownUrlSchemes);
    QCOMPARE(m_dialogs->dialogsRun.size(), 2);
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_AdminLock)
#include "tst_adminlock.moc"
