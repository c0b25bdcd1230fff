// The browser's own context menu in place of the engine's, on whatever is right-clicked.
#include "app/schemehandler.h"
#include "config.h"
#include "page/dochostuihandler.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"

#include <QMenu>
#include <QWebEngineProfile>
#include <QtTest>

using namespace TestPages;

namespace {

// The menus on screen, whoever made them.
QList<QMenu *> visibleMenus()
{
    QList<QMenu *> menus;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *menu = qobject_cast<QMenu *>(widget); menu && menu->isVisible())
            menus << menu;
    }
    return menus;
}

} // namespace

class tst_ContextMenu : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void menuHasTheBrowsersItems();
    void rightClickShowsTheBrowserMenu_data();
    void rightClickShowsTheBrowserMenu();
    void menuRequestFromTheKeyboard();
    void everyTabGetsTheMenu();
    void handlerStaysAttachedAcrossNavigations();
    void handlerWithoutViewOrMenu();
    void viewWithoutHandlerShowsNoMenu();
    void scriptsGetNoExternalObject();

private:
    TestHttpServer m_server;
};

void tst_ContextMenu::initTestCase()
{
    TQuelvardSchemeHandler::Install(QWebEngineProfile::defaultProfile());
    QVERIFY(m_server.start());
    m_server.setPicture(QStringLiteral("/picture.png"), Qt::darkGreen);
    // Every kind of target at a known place.
    m_server.setHtml(
        QStringLiteral("/targets"), QStringLiteral("Targets"),
        QStringLiteral(
            "<style>body{margin:0} .at{position:absolute;left:10px}</style>"
            "<a class=\"at\" id=\"link\" href=\"/elsewhere\" style=\"top:10px;width:200px;"
            "height:30px;display:block;font-size:20px\">A link to elsewhere</a>"
            "<img class=\"at\" id=\"picture\" src=\"/picture.png\" style=\"top:60px\">"
            "<input class=\"at\" id=\"field\" value=\"some text\" style=\"top:160px;width:300px;"
            "height:24px\">"
            "<p class=\"at\" id=\"words\" style=\"top:200px;margin:0;font-size:20px\">"
            "Words to select</p>"));
    m_server.setHtml(QStringLiteral("/elsewhere"), QStringLiteral("Elsewhere"));
    m_server.setHtml(QStringLiteral("/second"), QStringLiteral("Second"),
                     QStringLiteral("<p>x</p>"));
}

void tst_ContextMenu::cleanup()
{
    for (QMenu *menu : visibleMenus())
        menu->hide();
    EnvironmentSuite::cleanup();
}

void tst_ContextMenu::menuHasTheBrowsersItems()
{
    TfrmQuelvardBrowser window;
    QStringList names;
    QStringList captions;
    for (QAction *action : window.pmBrowser->actions()) {
        names << action->objectName();
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(names, (QStringList{"Back2", "Forward2", "Reload1", "Stop1", "N11", "SaveAs2", "N8",
                                 "AddToFavorites2", "N10", "PageProperties2", "ViewSource2"}));
    QCOMPARE(captions, (QStringList{"&Back", "&Forward", "&Reload", "&Stop", "-", "&Save As", "-",
                                    "&Add To Favorites", "-", "&Page Properties", "&View Source"}));
    // No editing entries: copying goes through the Edit menu and the keys.
    for (QAction *action : window.pmBrowser->actions())
        QVERIFY(action->isEnabled());
}

void tst_ContextMenu::rightClickShowsTheBrowserMenu_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QString>("prepare");
    QTest::newRow("link") << QPoint(40, 25) << QString();
    QTest::newRow("image") << QPoint(60, 100) << QString();
    QTest::newRow("text field") << QPoint(60, 172)
                                << QStringLiteral("document.getElementById('field').focus()");
    QTest::newRow("selection")
        << QPoint(40, 212)
        << QStringLiteral("getSelection().selectAllChildren(document.getElementById('words'))");
    QTest::newRow("page") << QPoint(500, 400) << QString();
}

void tst_ContextMenu::rightClickShowsTheBrowserMenu()
{
    QFETCH(QPoint, point);
    QFETCH(QString, prepare);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl targets = m_server.url(QStringLiteral("/targets"));
    QVERIFY(browser->load(targets));
    TWebView *view = browser->view();
    QVERIFY(waitForPaint(view));
    if (!prepare.isEmpty())
        runScript(view->page(), prepare);
    QMenu *pmBrowser = browser->window.pmBrowser;
    QSignalSpy shown(pmBrowser, &QMenu::aboutToShow);
    QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, point);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    QVERIFY(pmBrowser->isVisible());
    QCOMPARE(pmBrowser->pos(), view->focusProxy()->mapToGlobal(point));
    runScript(view->page(), QStringLiteral("0")); // after the engine's own menu, were it shown
    QCOMPARE(visibleMenus(), QList<QMenu *>{pmBrowser});
    // The click itself followed nothing.
    QCOMPARE(view->url(), targets);
    pmBrowser->hide();
    QCOMPARE(shown.size(), 1);
}

void tst_ContextMenu::menuRequestFromTheKeyboard()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/targets"))));
    TWebView *view = browser->view();
    QVERIFY(waitForPaint(view));
    runScript(view->page(), QStringLiteral("document.getElementById('field').focus()"));
    QSignalSpy shown(browser->window.pmBrowser, &QMenu::aboutToShow);
    QTest::keyClick(view->focusProxy(), Qt::Key_Menu);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    QCOMPARE(visibleMenus(), QList<QMenu *>{browser->window.pmBrowser});
}

void tst_ContextMenu::everyTabGetsTheMenu()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    browser->window.NewTab1Click();
    QVERIFY(waitForUrl(browser->window, QUrl(QStringLiteral(QUELVARD_START_PAGE_URL))));
    QVERIFY(browser->load(m_server.url(QStringLiteral("/second"))));
    TWebView *view = browser->view();
    QCOMPARE(view,
             qobject_cast<TBrowserTab *>(browser->window.pcMain->Tabs().at(1))->WebView.data());
    QVERIFY(waitForPaint(view));
    QSignalSpy shown(browser->window.pmBrowser, &QMenu::aboutToShow);
    QTest::mouseClick(view->focusProxy(), Qt::RightButton, {}, QPoint(100, 100));
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    QCOMPARE(visibleMenus(), QList<QMenu *>{browser->window.pmBrowser});
}

void tst_ContextMenu::handlerStaysAttachedAcrossNavigations()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TBrowserTab *tab = browser->window.ActiveTab();
    const std::shared_ptr<TDocHostUIHandler> handler = tab->UIHandler;
    QVERIFY(handler);
    QCOMPARE(handler->WebView.data(), tab->WebView.data());
    for (const char *path : {"/second", "/targets", "/second"}) {
        QVERIFY(browser->load(m_server.url(QLatin1String(path))));
        QCOMPARE(tab->WebView->UIHandler(), handler);
    }
    QCOMPARE(tab->UIHandler, handler);
    QCOMPARE(tab->WebView->PopupMenu(), browser->window.pmBrowser);
}

void tst_ContextMenu::handlerWithoutViewOrMenu()
{
    TDocHostUIHandler handler;
    QVERIFY(handler.ShowContextMenu(QPoint(10, 10)));
    TWebView view;
    handler.WebView = &view;
    QVERIFY(handler.ShowContextMenu(QPoint(10, 10)));
    QVERIFY(visibleMenus().isEmpty());
    QMenu menu;
    view.SetPopupMenu(&menu);
    QVERIFY(handler.ShowContextMenu(QPoint(10, 10)));
    QVERIFY(menu.isVisible());
    menu.hide();
}

void tst_ContextMenu::viewWithoutHandlerShowsNoMenu()
{
    // A view that no tab has given a handler; the engine's menu must not stand in for ours.
    TWebView view;
    QMenu menu;
    view.SetPopupMenu(&menu);
    view.resize(400, 300);
    view.show();
    QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
    view.Navigate(m_server.url(QStringLiteral("/targets")).toString());
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 20000);
    QVERIFY(waitForPaint(&view));
    runScript(view.page(), QStringLiteral("menus = 0; oncontextmenu = () => ++menus"));
    QTest::mouseClick(view.focusProxy(), Qt::RightButton, {}, QPoint(40, 25));
    // The page has seen the click, and the engine has asked for its menu before the next answer.
    QTRY_COMPARE_WITH_TIMEOUT(runScript(view.page(), QStringLiteral("menus")).toInt(), 1, 5000);
    runScript(view.page(), QStringLiteral("0"));
    QVERIFY(visibleMenus().isEmpty());
}

void tst_ContextMenu::scriptsGetNoExternalObject()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/second"))));
    // The engine's own stub (two do-nothing search provider calls) is all there is.
    const QString members = runScript(browser->view()->page(), QStringLiteral(R"(
        (function () {
            var names = [];
            if (window.external)
                for (var name in window.external)
                    names.push(name);
            return names.sort().join(',');
        })())"))
                                .toString();
    for (const QString &name : members.split(QLatin1Char(','), Qt::SkipEmptyParts))
        QVERIFY2(name == QLatin1String("AddSearchProvider") ||
                     name == QLatin1String("IsSearchProviderInstalled"),
                 qPrintable(name));
    QCOMPARE(runScript(browser->view()->page(), QStringLiteral("typeof qt")).toString(),
             QStringLiteral("undefined"));
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_ContextMenu)
#include "tst_contextmenu.moc"
