// What a tab does for a page that misbehaves or asks for more than a page: full screen, a
// crashed page, a page's dialogs in a loop, a page that cannot be loaded.
#include "page/pageguard.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/browsertab.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTcpServer>
#include <csignal>

using namespace TestPages;

class tst_PageGuard : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void reloadBudget_data();
    void reloadBudget();
    void fullScreen_data();
    void fullScreen();
    void killedPageComesBackWithReload();
    void dialogLoopStopped();
    void unreachablePageSaysWhy();

private:
    std::unique_ptr<Browser> m_browser;
    TestHttpServer m_server;
};

void tst_PageGuard::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml("/video", "Video",
                     "<button id='full' style='width:300px;height:100px'"
                     " onclick='document.documentElement.requestFullscreen()'>Full</button>");
    m_server.setHtml("/page", "Page", "<p>" + PageText + "</p>");
}

void tst_PageGuard::cleanup()
{
    m_browser.reset();
    EnvironmentSuite::cleanup();
}

void tst_PageGuard::reloadBudget_data()
{
    QTest::addColumn<QList<qint64>>("taken"); // seconds of the reloads before
    QTest::addColumn<qint64>("at");
    QTest::addColumn<bool>("granted");
    QTest::newRow("first") << QList<qint64>{} << qint64(0) << true;
    QTest::newRow("third in a minute") << QList<qint64>{0, 10} << qint64(20) << true;
    QTest::newRow("fourth in a minute") << QList<qint64>{0, 10, 20} << qint64(59) << false;
    QTest::newRow("a minute after the first") << QList<qint64>{0, 10, 20} << qint64(60) << true;
}

void tst_PageGuard::reloadBudget()
{
    QFETCH(QList<qint64>, taken);
    QFETCH(qint64, at);
    QFETCH(bool, granted);
    TReloadBudget budget;
    for (const qint64 second : taken)
        QVERIFY(budget.Take(second * 1000));
    QCOMPARE(budget.NextAt(at * 1000) <= at * 1000, granted);
    QCOMPARE(budget.Take(at * 1000), granted);
}

void tst_PageGuard::fullScreen_data()
{
    QTest::addColumn<QString>("leave");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("the page's own exit") << "page";
    QTest::newRow("another tab") << "tab";
}

void tst_PageGuard::fullScreen()
{
    QFETCH(QString, leave);
    m_browser = Browser::open(*m_dialogs);
    QVERIFY(m_browser && m_browser->load(m_server.url("/video")));
    TfrmQuelvardBrowser &window = m_browser->window;
    TWebView *view = m_browser->view();
    QVERIFY(waitForPaint(view));
    QWidget *menus = window.menuBar();
    QTabBar *tabs = window.pcMain->tabBar();
    auto *notice = window.findChild<QLabel *>("lblFullScreenNotice");
    QVERIFY(notice && menus->isVisible() && tabs->isVisible());

    QVERIFY(clickElement(view, "full")); // a person's click: the page may ask for full screen
    QTRY_VERIFY(window.isFullScreen());
    QVERIFY(!menus->isVisible() && !tabs->isVisible() && !m_browser->address()->isVisible());
    QVERIFY(view->isVisible());
    QCOMPARE(view->geometry().size(), window.size());
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), QStringLiteral("Press Escape to leave full screen"));
    QTRY_VERIFY(runScript(view->page(), "document.fullscreenElement !== null").toBool());

    if (leave == "escape")
        QTest::keyClick(view->focusProxy(), Qt::Key_Escape);
    else if (leave == "page")
        runScript(view->page(), "document.exitFullscreen()");
    else
        window.NewTab1Click();
    QTRY_VERIFY(!window.isFullScreen());
    QVERIFY(menus->isVisible() && tabs->isVisible() && m_browser->address()->isVisible());
    QVERIFY(!notice->isVisible());
    QTRY_VERIFY(runScript(view->page(), "document.fullscreenElement === null").toBool());
}

void tst_PageGuard::killedPageComesBackWithReload()
{
    m_browser = Browser::open(*m_dialogs);
    QVERIFY(m_browser && m_browser->load(m_server.url("/page")));
    TWebView *view = m_browser->view();
    auto *guard = m_browser->window.ActiveTab()->Sheet->findChild<TPageGuard *>();
    QVERIFY(guard && !guard->Crashed());
    const qint64 pid = view->page()->renderProcessPid();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);

    QTRY_VERIFY(guard->Crashed());
    auto *reload = m_browser->window.findChild<QPushButton *>("btnCrashReload");
    QVERIFY(reload->isVisible() && !view->isVisible());
    // The rest of the program keeps working: a new tab loads.
    m_browser->window.NewTab1Click();
    QVERIFY(m_browser->load(m_server.url("/page")));
    m_browser->window.pcMain->setCurrentIndex(0);

    QTest::mouseClick(reload, Qt::LeftButton);
    QTRY_VERIFY(view->isVisible() && !guard->Crashed());
    QTRY_COMPARE(runScript(view->page(), "document.body.innerText").toString(), PageText);
}

void tst_PageGuard::dialogLoopStopped()
{
    m_server.setHtml("/loop", "Loop",
                     "<button id='b'>b</button>"
                     "<script>onbeforeunload = e => { e.preventDefault(); e.returnValue = ''; };"
                     "function loop() { var seen = [];"
                     " for (var i = 0; i < 20; ++i) alert('again ' + i);"
                     " seen.push(confirm('sure?')); seen.push(prompt('name?', 'x'));"
                     " return JSON.stringify(seen); }</script>");
    m_browser = Browser::open(*m_dialogs);
    QVERIFY(m_browser && m_browser->load(m_server.url("/loop")));
    QVERIFY(clickElement(m_browser->view(), "b")); // a page touched may object to being left
    // The person ticks the offer the first time it comes.
    m_dialogs->pageDialogHandler = [](TPageDialog &dialog) {
        dialog.prevent = dialog.offerPrevent;
        return true;
    };
    QCOMPARE(runScript(m_browser->view()->page(), "loop()").toString(), "[false,null]");
    QCOMPARE(m_dialogs->pageDialogs.size(), 2);
    QVERIFY(!m_dialogs->pageDialogs.at(0).offerPrevent);
    QVERIFY(m_dialogs->pageDialogs.at(1).offerPrevent);
    QCOMPARE(m_dialogs->pageDialogs.at(1).text, "again 1");

    // Leaving it asks nothing; navigated, the page may speak again.
    QVERIFY(m_browser->load(m_server.url("/page")));
    runScript(m_browser->view()->page(), "alert('hello')");
    QCOMPARE(m_dialogs->pageDialogs.size(), 3);
    QCOMPARE(m_dialogs->pageDialogs.last().text, "hello");
}

void tst_PageGuard::unreachablePageSaysWhy()
{
    m_browser = Browser::open(*m_dialogs);
    QVERIFY(m_browser);
    // A port that was free a moment ago: nothing listens there.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
    closed.close();
    QVERIFY(m_browser->load(url));
    QTRY_VERIFY(runScript(m_browser->view()->page(), "document.body.innerText")
                    .toString()
                    .contains("ERR_CONNECTION_REFUSED"));
}

QUELVARD_TEST_MAIN(tst_PageGuard)

#include "tst_pageguard.moc"
