#include "app/browsersession.h"
#include "common/allowedsites.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "downloads/downloadmanager.h"
#include "page/webview.h"
#include "permissions/permissionpolicy.h"
#include "popups/popupblocker.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/browsertab.h"

#include <QSignalSpy>
#include <QWebEngineProfile>
#include <QtTest>

// A run's session with tabs and no main window: a page's request for a window is answered by the
// session's blocker and opened by the tab control, and a visitor's end reaches what keeps the
// visitor's traces, whoever ends it.
class tst_BrowserSession : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageWindowsNeedNoMainWindow_data();
    void pageWindowsNeedNoMainWindow();
    void visitorEnd_data();
    void visitorEnd();

private:
    std::unique_ptr<TestHttpServer> m_server;
};

void tst_BrowserSession::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->start());
    m_server->setHtml("/opens.html", "Opens", "<script>window.open('/opened.html');</script>");
    m_server->setHtml("/opened.html", "Opened", "<p>opened</p>");
    m_server->setHtml("/plain.html", "Plain", "<p>plain</p>");
}

void tst_BrowserSession::pageWindowsNeedNoMainWindow_data()
{
    QTest::addColumn<bool>("allowed");
    QTest::newRow("site allowed: a tab") << true;
    QTest::newRow("site not allowed: refused") << false;
}

void tst_BrowserSession::pageWindowsNeedNoMainWindow()
{
    QFETCH(bool, allowed);
    const QUrl page = m_server->url("/opens.html");
    const QString domain = GenUtilities::GetDomain(page.toString());
    if (allowed)
        PopupStore::AddSite(domain);
    TBrowserSession session;
    session.PopupBlocker()->LoadAllowedSites();
    TTabControl tabs;
    tabs.SetTabFactory([&](TTabSheet *sheet, QObject *content) -> TTab * {
        auto tab = std::make_unique<TBrowserTab>(sheet, &tabs, &session, nullptr, &tabs,
                                                 qobject_cast<TWebView *>(content));
        return tab->WebView ? tab.release() : nullptr;
    });
    tabs.resize(640, 480);
    tabs.show();
    auto *first = qobject_cast<TBrowserTab *>(tabs.NewTab(TTabControl::TOpen::InFront));
    QVERIFY(first);
    const int opened = m_server->requestCount("/opened.html");

    QVERIFY(TestPages::loadInTab(first, page));
    if (allowed) {
        QTRY_COMPARE_WITH_TIMEOUT(tabs.TabCount(), 2, 20000);
        auto *second = qobject_cast<TBrowserTab *>(tabs.Tabs().value(1));
        QVERIFY(second);
        QVERIFY(TestPages::waitForTab(second, m_server->url("/opened.html").toString()));
        QVERIFY(session.PopupBlocker()->RefusedSite(first).isEmpty());
    } else {
        QTRY_COMPARE(session.PopupBlocker()->RefusedSite(first), domain);
        // A later load of the tab comes after any request the page had still to make.
        QVERIFY(TestPages::loadInTab(first, m_server->url("/plain.html")));
        QCOMPARE(tabs.TabCount(), 1);
        QCOMPARE(m_server->requestCount("/opened.html"), opened);
    }
    tabs.DeleteTabs();
}

void tst_BrowserSession::visitorEnd_data()
{
    QTest::addColumn<QString>("browsingData");
    QTest::addColumn<bool>("forget");
    QTest::newRow("forget") << "forget" << true;
    QTest::newRow("keep") << "keep" << false;
}

void tst_BrowserSession::visitorEnd()
{
    QFETCH(QString, browsingData);
    QFETCH(bool, forget);
    MachinePolicies::SetBrowsingData(*MachinePolicies::ParseBrowsingData(browsingData));
    MachinePolicies::Forget();
    TBrowserSession session;
    const QUrl site(QStringLiteral("https://camera.example/"));
    const auto camera = QWebEnginePage::MediaVideoCapture;
    session.Permissions().Remember(site, camera, true);
    QCOMPARE(session.Permissions().Decide(site, camera), TPermissionPolicy::TAnswer::Allow);
    QWebEngineProfile *before = session.Profile();
    QSignalSpy ending(&session, &TBrowserSession::VisitorEnding);
    QSignalSpy ended(&session, &TBrowserSession::VisitorEnded);
    QSignalSpy downloadsEnded(session.Downloads(), &TDownloadManager::SessionEnded);

    session.EndVisitor();

    QCOMPARE(ending.size(), 1);
    QCOMPARE(ending.at(0).at(0).toBool(), forget);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(downloadsEnded.size(), 1);
    QVERIFY(session.Permissions().Decide(site, camera) != TPermissionPolicy::TAnswer::Allow);
    // A forgotten visitor's successor browses in a profile of its own, which the lock's
    // engine settings must reach as well.
    QCOMPARE(session.Profile() != before, forget);
    QVERIFY(session.Profiles().contains(session.Profile()));
}

QUELVARD_TEST_MAIN(tst_BrowserSession)
#include "tst_browsersession.moc"
