#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "config.h"
#include "main/browsertab.h"
#include "main/keyhook.h"
#include "main/mainwindow.h"
#include "main/tabcontrol.h"
#include "main/webview.h"
#include "support/controls.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

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

class tst_MainWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

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
    void tabWidthsFollowTheControl();
    void shortenCaption_data();
    void shortenCaption();
    void captionOfALongTitleFitsTheTab();
    void closeButtonVisibility();
    void captionAndAddressFollowTheActivePage();
    void backgroundTabLeavesCaptionAlone();
    void searchSiteCaption();
    void refusedAddressShowsTheMessage();
    void acceleratorExclusion_data();
    void acceleratorExclusion();
    void hookOffersKeysOnlyWhileActive();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
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
    m_env.reset(new TestEnvironment);
    m_dialogs.reset(new ScriptedDialogs);
    // Most tests are not about the first run: a stored position makes the run an ordinary one.
    if (!QByteArray(QTest::currentTestFunction()).startsWith("firstRun") &&
        !QByteArray(QTest::currentTestFunction()).startsWith("exit"))
        GenUtilities::SavePosition(QStringLiteral("10,20,900,600"));
}

void tst_MainWindow::cleanup()
{
    m_dialogs.reset();
    m_env.reset();
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
    QCOMPARE(window.objectName(), QStringLiteral("TfrmQuelvardBrowser"));
    for (const char *name :
         {"pnlToolbar",   "pnlToolbar2",  "tbMain",    "Panel9",  "pnlSearch",  "Panel2",
          "pnlAddress",   "Panel10",      "Panel3",    "Address", "edtAddress", "tbSearch",
          "Panel8",       "cbAdminLock",  "Panel5",    "Panel15", "pnlPopups",  "lblPopups",
          "lblClickHere", "Panel11",      "Panel1",    "pcMain",  "statusMain", "tbCloseTab",
          "lblTabCanvas", "imgFavFolder", "pmBrowser", "menuMain"}) {
        QVERIFY2(window.findChild<QWidget *>(QLatin1String(name)), name);
    }
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
    QCOMPARE(window.tbCloseTab->x(), window.width() - 40);
    QVERIFY(window.lblTabCanvas->font().bold());
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
    if (companion) {
        const QString file = GenUtilities::GetCompanionSettingsFile();
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.close();
    }
    if (positionStored)
        GenUtilities::SavePosition(QStringLiteral("10,20,900,600"));
    TfrmQuelvardBrowser window;
    window.show();
    QCOMPARE(window.TabCount(), 1);
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

void tst_MainWindow::tabWidthsFollowTheControl()
{
    TfrmQuelvardBrowser window;
    window.show();
    const int extra = window.width() - window.pcMain->width();
    window.resize(1000 + extra, 600);
    QTRY_COMPARE(window.pcMain->width(), 1000);
    QCOMPARE(window.pcMain->TabWidth(), 250);
    for (int i = 0; i < 3; ++i)
        window.NewTab();
    QCOMPARE(window.pcMain->TabWidth(), 231);
    QCOMPARE(window.pcMain->Bar()->tabRect(0).width(), 231);
    window.resize(476 + extra, 600);
    window.CloseActiveTab();
    window.CloseActiveTab();
    QTRY_COMPARE(window.pcMain->width(), 476);
    QCOMPARE(window.pcMain->TabWidth(), 200);
}

void tst_MainWindow::shortenCaption_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("caption");
    // Every character is 10 pixels wide here.
    QTest::newRow("fits") << "Short" << 100 << "Short";
    QTest::newRow("short title keeps trailing blanks") << "Hi   " << 100 << "Hi   ";
    QTest::newRow("empty") << "" << 100 << "";
    QTest::newRow("cut; last character may cross") << "abcdefghijklmnop" << 55 << "abcdef...";
    QTest::newRow("cut text trimmed before dots") << "abcd    efghijklmnop" << 75 << "abcd...";
    QTest::newRow("exactly at the limit") << "abcdefghij" << 100 << "abcdefghij";
    QTest::newRow("one over") << "abcdefghijk" << 100 << "abcdefghij...";
}

void tst_MainWindow::shortenCaption()
{
    QFETCH(QString, title);
    QFETCH(int, limit);
    QFETCH(QString, caption);
    auto measure = [](const QString &text) { return int(text.size()) * 10; };
    QCOMPARE(TBrowserTab::ShortenCaption(title, limit, measure), caption);
}

void tst_MainWindow::captionOfALongTitleFitsTheTab()
{
    TfrmQuelvardBrowser window;
    window.show();
    window.resize(1200, 600);
    QTRY_COMPARE(window.pcMain->TabWidth(), 250);
    window.NewTab();
    window.CloseActiveTab();
    window.NewTab();
    TBrowserTab *tab = window.ActiveTab();
    QCOMPARE(tab->Sheet->Caption, QStringLiteral("Loading..."));
    tab->NavigateTo(m_server.url(QStringLiteral("/long")).toString());
    QVERIFY(waitForUrl(window, m_server.url(QStringLiteral("/long")).toString()));
    QTRY_VERIFY(tab->Sheet->Caption.endsWith(QStringLiteral("...")));
    const QFontMetrics metrics(window.lblTabCanvas->font());
    const QString kept = tab->Sheet->Caption.chopped(3);
    QVERIFY(metrics.horizontalAdvance(kept.chopped(1)) < 225);
    QVERIFY(metrics.horizontalAdvance(kept) >= 225);

    tab->NavigateTo(m_server.url(QStringLiteral("/amp")).toString());
    QVERIFY(waitForUrl(window, m_server.url(QStringLiteral("/amp")).toString()));
    QTRY_COMPARE(tab->Sheet->Caption, QStringLiteral("Fish & Chips"));
    QCOMPARE(window.pcMain->tabText(window.pcMain->indexOf(tab->Sheet)),
             QStringLiteral("Fish && Chips"));
}

void tst_MainWindow::closeButtonVisibility()
{
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(!window.tbCloseTab->isVisible());
    window.CloseActiveTab(); // the only tab stays
    QCOMPARE(window.TabCount(), 1);
    QVERIFY(Control<QAction>(&window, "CloseTab1")->isEnabled());
    window.NewTab();
    QVERIFY(window.tbCloseTab->isVisible());
    QCOMPARE(window.tbCloseTab->x(), window.width() - 40);
    QCOMPARE(window.tbCloseTab->y(), window.pcMain->mapTo(&window, QPoint(0, 0)).y() - 3);
    window.tbClose->trigger();
    QCOMPARE(window.TabCount(), 1);
    QVERIFY(!window.tbCloseTab->isVisible());
}

void tst_MainWindow::captionAndAddressFollowTheActivePage()
{
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(),
             QStringLiteral(QUELVARD_SITE_ROOT_URL));
    const QString a = m_server.url(QStringLiteral("/a")).toString();
    window.ActiveTab()->NavigateTo(a);
    QVERIFY(waitForUrl(window, a));
    QTRY_COMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(), a);
    QCOMPARE(window.ActiveTab()->Sheet->Caption, QStringLiteral("Page A"));

    window.NewTab();
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
    // The user switching tabs refreshes the caption and the address.
    window.pcMain->setCurrentIndex(0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(), a);
    // A same-document navigation counts as a completed one.
    window.ActiveTab()->WebView->page()->runJavaScript(QStringLiteral("location.hash = 'part2';"));
    QTRY_COMPARE(Control<QLineEdit>(&window, "edtAddress")->text(), a + QStringLiteral("#part2"));
    // Closing the active tab describes the tab that takes its place at once.
    window.CloseActiveTab();
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(),
             QStringLiteral(QUELVARD_SITE_ROOT_URL));
}

void tst_MainWindow::backgroundTabLeavesCaptionAlone()
{
    TfrmQuelvardBrowser window;
    window.show();
    const QString a = m_server.url(QStringLiteral("/a")).toString();
    window.ActiveTab()->NavigateTo(a);
    QVERIFY(waitForUrl(window, a));
    window.NewTab();
    TBrowserTab *second = window.ActiveTab();
    QVERIFY(waitForTab(second, QStringLiteral(QUELVARD_START_PAGE_URL)));
    window.pcMain->setCurrentIndex(0);
    const QString b = m_server.url(QStringLiteral("/b")).toString();
    second->NavigateTo(b);
    QVERIFY(waitForTab(second, b));
    QTRY_COMPARE(second->Sheet->Caption, QStringLiteral("Page B"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Quelvard - Page A"));
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(), a);
}

void tst_MainWindow::searchSiteCaption()
{
    TfrmQuelvardBrowser window;
    window.show();
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

void tst_MainWindow::refusedAddressShowsTheMessage()
{
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
    const int before = m_dialogs->messages.size();
    window.ActiveTab()->NavigateTo(QString());
    QCOMPARE(m_dialogs->messages.size(), before + 1);
    QVERIFY(m_dialogs->lastMessage().startsWith(
        QStringLiteral("Opening the selected favorite caused an error: ")));
    QVERIFY(m_dialogs->lastMessage().size() > 48);
    QCOMPARE(m_dialogs->messages.last().icon, QMessageBox::Critical);
    window.ActiveTab()->NavigateTo(QStringLiteral("javascript:alert(1)"));
    QCOMPARE(m_dialogs->messages.size(), before + 2);
    QCOMPARE(window.ActiveTab()->WebView->LocationURL(), QStringLiteral(QUELVARD_START_PAGE_URL));
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
