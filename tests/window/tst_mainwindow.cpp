#include "common/allowedsites.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "config.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/controls.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "tabs/tabcontrol.h"
#include "window/keyhook.h"
#include "window/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

using TestPages::waitForTab;
using TestPages::waitForUrl;
using TestSupport::Control;

class tst_MainWindow : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layoutAndMenus();
    void everyControlHasAnAccessibleName();
    void menuCaptions_data();
    void menuCaptions();
    void positionText_data();
    void positionText();
    void storedPositionRestores_data();
    void storedPositionRestores();
    void firstRunPage_data();
    void firstRunPage();
    void firstRunWithAMachineHomePageSkipsTheWelcome();
    void exitStoresNoPosition();
    void closeStoresPosition();
    void captionOfALongTitleFitsTheTab();
    void captionAndAddressFollowTheActivePage();
    void backgroundTabLeavesCaptionAlone();
    void backgroundTabClosingItselfLeavesTheActiveOne();
    void searchSiteCaption();
    void acceleratorExclusion_data();
    void acceleratorExclusion();
    void hookOffersKeysOnlyWhileActive();

private:
    TestHttpServer m_server;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml(QStringLiteral("/a"), QStringLiteral("Page A"),
                     QStringLiteral("<p>first</p>"));
    m_server.setHtml(QStringLiteral("/b"), QStringLiteral("Page B"),
                     QStringLiteral("<p>second</p>"));
    m_server.setHtml(QStringLiteral("/long"), QString(100, QLatin1Char('W')));
    m_server.setHtml(QStringLiteral("/amp"), QStringLiteral("Fish &amp; Chips"));
}

void tst_MainWindow::init()
{
    EnvironmentSuite::init();
    // Most tests are not about the first run: a stored position makes the run an ordinary one.
    if (!QByteArray(QTest::currentTestFunction()).startsWith("firstRun") &&
        !QByteArray(QTest::currentTestFunction()).startsWith("exit"))
        GenUtilities::SavePosition(QStringLiteral("10,20,900,600"));
}

void tst_MainWindow::cleanup()
{
    EnvironmentSuite::cleanup();
    // A test that leaves a window of ours on screen fails here rather than confusing the next.
    QStringList leaked;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            leaked << QString::fromLatin1(widget->metaObject()->className());
    }
    QVERIFY2(leaked.isEmpty(), qPrintable(leaked.join(QLatin1Char(' '))));
}

void tst_MainWindow::layoutAndMenus()
{
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(!Control<QLineEdit>(&window, "edtAddress")->isEnabled());
    QVERIFY(!Control<QAction>(&window, "tbGoTo")->isEnabled());
    QCOMPARE(Control<QPushButton>(&window, "cbAdminLock")->text(), QStringLiteral("Admin Unlock"));
    QCOMPARE(Control<QPushButton>(&window, "cbAdminLock")->size(), QSize(89, 25));
    QVERIFY(!Control<QFrame>(&window, "pnlPopups")->isVisible());
    QVERIFY(!window.tbCloseTab->isVisible());
    QCOMPARE(Control<QFrame>(&window, "pnlToolbar")->height(), 32);
    QCOMPARE(Control<QStatusBar>(&window, "statusMain")->height(), 19);
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->width(),
             Control<QWidget>(&window, "pnlAddress")->width() - 205);
    // No menu item carries a shortcut of its own: the keys reach the page through the hook.
    for (QAction *action : window.findChildren<QAction *>())
        QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->objectName()));
    QStringList contextItems;
    for (QAction *action : window.pmBrowser->actions())
        contextItems << action->objectName();
    QCOMPARE(contextItems,
             (QStringList{"Back2", "Forward2", "Reload1", "Stop1", "N11", "SaveAs2", "N8",
                          "AddToFavorites2", "N10", "PageProperties2", "ViewSource2"}));
}

void tst_MainWindow::everyControlHasAnAccessibleName()
{
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSet<QWidget *> buddies;
    QStringList checked;
    for (QLabel *label : window.findChildren<QLabel *>()) {
        if (label->buddy())
            buddies << label->buddy();
    }
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        // Controls a person can reach; the page's own view speaks for itself.
        if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(&window) ||
            qobject_cast<QMenu *>(widget) || widget->inherits("QWebEngineView") ||
            widget->parentWidget()->inherits("QWebEngineView") || qobject_cast<QTabBar *>(widget) ||
            qobject_cast<QScrollBar *>(widget))
            continue;
        const bool named = !widget->accessibleName().isEmpty() || buddies.contains(widget) ||
                           (qobject_cast<QAbstractButton *>(widget) &&
                            !static_cast<QAbstractButton *>(widget)->text().isEmpty());
        QVERIFY2(named, qPrintable(QStringLiteral("%1 (%2)").arg(
                            widget->objectName(), widget->metaObject()->className())));
        checked << widget->objectName();
    }
    // The address box and the lock button at least were looked at.
    QVERIFY2(checked.contains(QStringLiteral("edtAddress")) &&
                 checked.contains(QStringLiteral("cbAdminLock")),
             qPrintable(checked.join(QLatin1Char(','))));
}

void tst_MainWindow::menuCaptions_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("items");
    const QString separator = QStringLiteral("-");
    QTest::newRow("File") << "&File"
                          << QStringList{"&New Tab",
                                         "&Close Tab",
                                         separator,
                                         "&Save As...",
                                         separator,
                                         "Page &Setup",
                                         "&Print" + QString(18, ' ') + "Ctrl+P",
                                         "Print Pre&view",
                                         separator,
                                         "Page P&roperties",
                                         "&View Source",
                                         separator,
                                         "E&xit"};
    QTest::newRow("Admin") << "&Admin" << QStringList{"&Change Admin Login"};
    QTest::newRow("Edit") << "&Edit"
                          << QStringList{"Cu&t" + QString(28, ' ') + "Ctrl+X",
                                         "&Copy" + QString(26, ' ') + "Ctrl+C",
                                         "&Paste" + QString(25, ' ') + "Ctrl+V",
                                         separator,
                                         "Select &All" + QString(20, ' ') + "Ctrl+A",
                                         separator,
                                         "&Find On this Page..." + QString(3, ' ') + "Ctrl+F",
                                         separator,
                                         "&Popup Blocker"};
    QTest::newRow("History") << "Hist&ory"
                             << QStringList{"&Back" + QString(12, ' ') + "Alt+Left Arrow",
                                            "&Forward" + QString(6, ' ') + "Alt+Right Arrow",
                                            "&Home"};
    QTest::newRow("Help") << "&Help" << QStringList{"&About Quelvard..."};
}

void tst_MainWindow::menuCaptions()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, items);
    TfrmQuelvardBrowser window;
    QMenu *found = nullptr;
    for (QAction *action : window.menuBar()->actions()) {
        if (action->text() == menu)
            found = action->menu();
    }
    QVERIFY(found);
    QStringList captions;
    for (QAction *action : found->actions())
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(captions, items);
}

void tst_MainWindow::positionText_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QString>("stored");
    QTest::newRow("ordinary") << QRect(10, 20, 300, 200) << "10,20,300,200";
    QTest::newRow("maximised at -4,-4") << QRect(-4, -4, 1032, 748) << "0,0,1028,744";
    QTest::newRow("top at 0 keeps the height") << QRect(100, 0, 800, 600) << "100,0,800,600";
    QTest::newRow("left of the screen") << QRect(-50, 30, 400, 300) << "0,30,350,300";
}

void tst_MainWindow::positionText()
{
    QFETCH(QRect, frame);
    QFETCH(QString, stored);
    QCOMPARE(TfrmQuelvardBrowser::PositionText(frame.x(), frame.y(), frame.width(), frame.height()),
             stored);
}

void tst_MainWindow::storedPositionRestores_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QSize>("size");
    // How the text reads is tst_genutilities' parsePosition; these rows are how the window
    // applies what was read.
    QTest::newRow("four numbers") << "10,20,300,200" << false << QPoint(10, 20) << QSize(300, 200);
    QTest::newRow("three items") << "10,20,300" << true << QPoint() << QSize();
    QTest::newRow("left and top set first") << "5,6,x,y" << true << QPoint(5, 6) << QSize();
}

void tst_MainWindow::storedPositionRestores()
{
    QFETCH(QString, stored);
    QFETCH(bool, maximised);
    QFETCH(QPoint, topLeft);
    QFETCH(QSize, size);
    GenUtilities::SavePosition(stored);
    TfrmQuelvardBrowser window;
    window.LoadWindowPosition();
    QCOMPARE(window.windowState().testFlag(Qt::WindowMaximized), maximised);
    if (!topLeft.isNull())
        QCOMPARE(window.pos(), topLeft);
    if (size.isValid())
        QCOMPARE(window.size(), size);
}

void tst_MainWindow::firstRunPage_data()
{
    QTest::addColumn<bool>("companion");
    QTest::addColumn<bool>("positionStored");
    QTest::addColumn<QString>("finalPage");
    QTest::newRow("first run") << false << false << QStringLiteral(QUELVARD_FIRST_RUN_PAGE_URL);
    QTest::newRow("first run, companion installed")
        << true << false << QStringLiteral(QUELVARD_COMPANION_FIRST_RUN_PAGE_URL);
    QTest::newRow("later run") << true << true << QStringLiteral(QUELVARD_START_PAGE_URL);
}

void tst_MainWindow::firstRunPage()
{
    QFETCH(bool, companion);
    QFETCH(bool, positionStored);
    QFETCH(QString, finalPage);
    if (companion)
        writeBytes(GenUtilities::GetCompanionSettingsFile(), QByteArray());
    if (positionStored)
        GenUtilities::SavePosition(QStringLiteral("10,20,900,600"));
    TfrmQuelvardBrowser window;
    window.show();
    QCOMPARE(window.pcMain->TabCount(), 1);
    QVERIFY(waitForUrl(window, finalPage));
    // The bundled pages show the site's root in the address bar.
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(),
             QStringLiteral(QUELVARD_SITE_ROOT_URL));
    QVERIFY(window.windowTitle().startsWith(QStringLiteral("Quelvard - ")));
    QVERIFY(window.windowTitle().size() > 11);
}

// The administrator has set the machine up: the welcome page, which speaks to whoever sets it
// up, is not shown even on a first run (a kiosk that never stores a position has only those).
void tst_MainWindow::firstRunWithAMachineHomePageSkipsTheWelcome()
{
    MachinePolicies::SetHomePage(QStringLiteral(QUELVARD_START_PAGE_URL));
    MachinePolicies::Forget();
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
}

void tst_MainWindow::exitStoresNoPosition()
{
    {
        TfrmQuelvardBrowser window;
        window.show();
        window.Exit1Click();
        window.close();
    }
    QCOMPARE(GenUtilities::GetPosition(), QString());
}

void tst_MainWindow::closeStoresPosition()
{
    GenUtilities::SavePosition(QStringLiteral("30,40,700,500"));
    QRect frame;
    {
        TfrmQuelvardBrowser window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(60, 70);
        window.resize(640, 480);
        QTRY_COMPARE(window.size(), QSize(640, 480));
        frame = window.frameGeometry();
        window.close();
    }
    QCOMPARE(GenUtilities::GetPosition(), QStringLiteral("%1,%2,%3,%4")
                                              .arg(frame.x())
                                              .arg(frame.y())
                                              .arg(frame.width())
                                              .arg(frame.height()));
    QCOMPARE(frame.topLeft(), QPoint(60, 70));
}

void tst_MainWindow::captionOfALongTitleFitsTheTab()
{
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &window = browser->window;
    window.resize(1200, 600);
    QTRY_COMPARE(window.pcMain->TabWidth(), 250);
    TBrowserTab *tab = window.ActiveTab();
    QVERIFY(browser->load(m_server.url(QStringLiteral("/long"))));
    QTRY_VERIFY(tab->Sheet->Caption.endsWith(QStringLiteral("...")));
    // Measured as the tab row draws it, in its bold font.
    const QFontMetrics metrics(window.pcMain->Bar()->font());
    QVERIFY(window.pcMain->Bar()->font().bold());
    const QString kept = tab->Sheet->Caption.chopped(3);
    QVERIFY(metrics.horizontalAdvance(kept.chopped(1)) < 225);
    QVERIFY(metrics.horizontalAdvance(kept) >= 225);

    QVERIFY(browser->load(m_server.url(QStringLiteral("/amp"))));
    QTRY_COMPARE(tab->Sheet->Caption, QStringLiteral("Fish & Chips"));
    QCOMPARE(window.pcMain->tabText(window.pcMain->indexOf(tab->Sheet)),
             QStringLiteral("Fish && Chips"));
}

void tst_MainWindow::captionAndAddressFollowTheActivePage()
{
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &window = browser->window;
    QCOMPARE(browser->address()->text(), QStringLiteral(QUELVARD_SITE_ROOT_URL));
    const QString a = m_server.url(QStringLiteral("/a")).toString();
    QVERIFY(browser->load(QUrl(a)));
    QTRY_COMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(browser->address()->text(), a);
    QCOMPARE(window.ActiveTab()->Sheet->Caption, QStringLiteral("Page A"));

    window.NewTab1Click();
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
    // The user switching tabs refreshes the caption and the address.
    window.pcMain->setCurrentIndex(0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(browser->address()->text(), a);
    // A same-document navigation counts as a completed one.
    browser->view()->page()->runJavaScript(QStringLiteral("location.hash = 'part2';"));
    QTRY_COMPARE(browser->address()->text(), a + QStringLiteral("#part2"));
    // Closing the active tab by its button describes the tab that takes its place at once.
    window.tbClose->trigger();
    QCOMPARE(window.pcMain->TabCount(), 1);
    QVERIFY(!window.tbCloseTab->isVisible());
    QCOMPARE(browser->address()->text(), QStringLiteral(QUELVARD_SITE_ROOT_URL));
}

void tst_MainWindow::backgroundTabLeavesCaptionAlone()
{
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &window = browser->window;
    const QString a = m_server.url(QStringLiteral("/a")).toString();
    QVERIFY(browser->load(QUrl(a)));
    auto *second = qobject_cast<TBrowserTab *>(window.pcMain->NewTab(TTabControl::TOpen::Behind));
    const QString b = m_server.url(QStringLiteral("/b")).toString();
    QVERIFY(TestPages::loadInTab(second, QUrl(b)));
    QTRY_COMPARE(second->Sheet->Caption, QStringLiteral("Page B"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(browser->address()->text(), a);
}

void tst_MainWindow::backgroundTabClosingItselfLeavesTheActiveOne()
{
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &window = browser->window;
    const QUrl a = m_server.url(QStringLiteral("/a"));
    QVERIFY(browser->load(a));
    // Only a window a script opened may close itself: page A opens the second tab.
    PopupStore::AddSite(GenUtilities::GetDomain(a.toString()));
    window.LoadAllowedSites();
    QVERIFY(TestPages::runScript(browser->view()->page(), "window.open('/b'); true").toBool());
    QTRY_COMPARE(window.pcMain->TabCount(), 2);
    auto *second = qobject_cast<TBrowserTab *>(window.pcMain->Tabs().value(1));
    QVERIFY(waitForTab(second, m_server.url(QStringLiteral("/b")).toString()));
    window.NewTab1Click();
    QCOMPARE(window.pcMain->TabCount(), 3);
    window.pcMain->setCurrentIndex(0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));

    QVERIFY(TestPages::runScript(second->WebView->page(), "window.close(); true").toBool());
    QTRY_COMPARE(window.pcMain->TabCount(), 2);
    QCOMPARE(window.pcMain->ActiveTabIndex(), 0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(browser->address()->text(), a.toString());
    QCOMPARE(window.pcMain->tabText(window.pcMain->currentIndex()), QStringLiteral("Page A"));
    QVERIFY(Control<QFrame>(&window, "pnlPopups")->isHidden());
}

void tst_MainWindow::searchSiteCaption()
{
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &window = browser->window;
    TBrowserTab *tab = window.ActiveTab();
    const QString suffix = QStringLiteral(QUELVARD_SEARCH_SITE_DOMAIN_SUFFIX);
    // The suffix is tested on the address text alone, so a query string carrying it is enough
    // to exercise the rule against a loopback page.
    const QString hit = m_server.url(QStringLiteral("/a?site=x") + suffix).toString();
    tab->NavigateTo(hit);
    QVERIFY(waitForUrl(window, hit));
    QTRY_COMPARE(tab->Sheet->Caption, QStringLiteral("Quelvard Search Engine"));
    const QString miss = m_server.url(QStringLiteral("/a?site=x") + suffix.toUpper()).toString();
    tab->NavigateTo(miss);
    QVERIFY(waitForUrl(window, miss));
    QTRY_COMPARE(tab->Sheet->Caption, QStringLiteral("Page A"));
}

void tst_MainWindow::acceleratorExclusion_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("excluded");
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << true;
    QTest::newRow("Left") << int(Qt::Key_Left) << 0 << true;
    QTest::newRow("Right") << int(Qt::Key_Right) << 0 << true;
    QTest::newRow("Ctrl+Left") << int(Qt::Key_Left) << int(Qt::ControlModifier) << true;
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Alt+Left") << int(Qt::Key_Left) << int(Qt::AltModifier) << false;
    QTest::newRow("Alt+Right") << int(Qt::Key_Right) << int(Qt::AltModifier) << false;
    QTest::newRow("Alt+Backspace") << int(Qt::Key_Backspace) << int(Qt::AltModifier) << false;
    QTest::newRow("Up") << int(Qt::Key_Up) << 0 << false;
    QTest::newRow("Ctrl+P") << int(Qt::Key_P) << int(Qt::ControlModifier) << false;
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << int(Qt::ControlModifier) << false;
}

void tst_MainWindow::acceleratorExclusion()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, excluded);
    QCOMPARE(TKeyHook::IsExcludedFromAccelerators(key, Qt::KeyboardModifiers(modifiers)), excluded);
}

void tst_MainWindow::hookOffersKeysOnlyWhileActive()
{
    TfrmQuelvardBrowser window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.KeyHook()->Installed());
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
    QSignalSpy offered(window.KeyHook(), &TKeyHook::AcceleratorOffered);
    QWidget *target = window.ActiveTab()->WebView->focusProxy();
    if (!target)
        target = window.ActiveTab()->WebView;
    QTest::keyClick(target, Qt::Key_Backspace);
    QTest::keyClick(target, Qt::Key_Left);
    QTest::keyClick(target, Qt::Key_Right);
    QCOMPARE(offered.count(), 0);
    QTest::keyClick(target, Qt::Key_Down);
    QTest::keyClick(target, Qt::Key_Left, Qt::AltModifier);
    QList<int> keys;
    for (const QList<QVariant> &arguments : offered)
        keys << arguments.at(0).toInt();
    QCOMPARE(keys.count(int(Qt::Key_Down)), 2); // press and release
    QCOMPARE(keys.count(int(Qt::Key_Left)), 2); // only with Alt held
    QVERIFY(!keys.contains(int(Qt::Key_Backspace)));
    QVERIFY(!keys.contains(int(Qt::Key_Right)));

    // Another window of ours taking the focus takes the hook out of force.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!window.KeyHook()->Installed());
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
