#include "common/allowedsites.h"
#include "common/genutilities.h"
#include "page/webview.h"
#include "popups/popupbar.h"
#include "popups/popupblocker.h"
#include "popups/popups.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"

#include <QFrame>
#include <QLabel>
#include <QToolBar>
#include <QtTest>

// The popup decision on its own, then popup requests of real pages from a loopback server,
// refused or let through, and the notice bar that follows the active tab.
constexpr int LoopWindows = 20;

using TestPages::clickElement;
using TestPages::loadInTab;
using TestPages::runScript;
using TestSupport::Control;

class tst_PopupBlocker : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void decision_data();
    void decision();
    void refusedRequests_data();
    void refusedRequests();
    void pageWithoutADomainIsRefusedWithoutABar();
    void allowedDomainOpensANewTab();
    void backgroundRefusalWaitsForItsTab();
    void navigatingAwayClosesTheBarAndComingBackReopensIt();
    void clickHereAllowsAndReloads();
    void clickRefusalOpensTheBarAndClickHereLetsTheNextThrough();
    void barFollowsQuickTabSwitches();
    void manyWindowsInALoopKeepOneBar();
    void popupBlockerCommandReloadsTheList();

private:
    TfrmQuelvardBrowser &form() const { return m_browser->window; }
    TBrowserTab *tab(int slot) const
    {
        return qobject_cast<TBrowserTab *>(form().pcMain->Tabs().value(slot));
    }
    TBrowserTab *open(TTabControl::TOpen how) const
    {
        return qobject_cast<TBrowserTab *>(form().pcMain->NewTab(how));
    }
    int tabCount() const { return form().pcMain->TabCount(); }
    QString refused(TBrowserTab *tab) const { return form().PopupBlocker()->RefusedSite(tab); }
    QFrame *bar() const { return Control<QFrame>(&form(), "pnlPopups"); }
    QLabel *notice() const { return Control<QLabel>(&form(), "lblPopups"); }
    QLabel *link() const { return Control<QLabel>(&form(), "lblClickHere"); }
    TPopupBar *popupBar() const { return form().findChild<TPopupBar *>(); }
    bool barOpen() const
    {
        return !bar()->isHidden() && bar()->height() == 30 && !popupBar()->IsMoving();
    }
    bool barClosed() const { return bar()->isHidden(); }
    // Loads a page of no popups in `tab`: a request the engine had still to make comes before.
    bool sentinel(TBrowserTab *tab) const { return loadInTab(tab, m_server->url("/plain.html")); }
    QString domainOf(const QUrl &url) const { return GenUtilities::GetDomain(url.toString()); }
    static QString noticeFor(const QString &domain)
    {
        return QStringLiteral(
                   "Quelvard prevented \"%1\" from opening popup windows. To view popups")
            .arg(domain);
    }
    // The same server under a second domain.
    QUrl otherDomainUrl(const QString &path) const
    {
        QUrl url = m_server->url(path);
        url.setHost(QStringLiteral("localhost"));
        return url;
    }

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<TestPages::Browser> m_browser;
};

void tst_PopupBlocker::initTestCase()
{
    // A window-opening page, by each means a page has, and plain pages to move between.
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->start());
    m_server->setHtml("/onload.html", "On load",
                      "<script>window.open('/popup-onload.html');</script>");
    m_server->setHtml("/click.html", "Click",
                      "<button id='b' style='position:absolute;left:10px;top:10px;width:120px;"
                      "height:40px' onclick=\"window.open('/popup-click.html')\">Open</button>");
    m_server->setHtml("/link.html", "Link",
                      "<a id='b' target='_blank' href='/popup-link.html' style='position:absolute;"
                      "left:10px;top:10px;width:120px;height:40px;display:block'>Open</a>");
    m_server->setHtml("/form.html", "Form",
                      "<form id='f' method='post' target='_blank' action='/popup-form.html'>"
                      "<input name='x' value='1'><button id='b' type='submit' style='position:"
                      "absolute;left:10px;top:40px;width:120px;height:40px'>Go</button></form>");
    m_server->setHtml("/loop.html", "Loop",
                      QStringLiteral("<script>for (var i = 0; i < %1; ++i) "
                                     "window.open('/popup-loop.html?' + i);</script>")
                          .arg(LoopWindows));
    m_server->setHtml("/plain.html", "Plain", "<p>No popups here.</p>");
    for (const char *path : {"/popup-onload.html", "/popup-click.html", "/popup-link.html",
                             "/popup-form.html", "/popup-loop.html"})
        m_server->setHtml(QString::fromLatin1(path), "Popup", "<p>A popup.</p>");
}

void tst_PopupBlocker::init()
{
    EnvironmentSuite::init();
    if (QByteArray(QTest::currentTestFunction()) == "decision")
        return;
    m_browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(m_browser);
    QVERIFY(barClosed());
}

void tst_PopupBlocker::cleanup()
{
    m_browser.reset();
    EnvironmentSuite::cleanup();
}

void tst_PopupBlocker::decision_data()
{
    QTest::addColumn<QStringList>("userSites");
    QTest::addColumn<QStringList>("machineSites");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("refusedSite");
    const QStringList none;
    const QStringList user{QStringLiteral("user.example")};
    const QStringList machine{QStringLiteral("machine.example")};
    QTest::newRow("on the user's list") << user << machine << "http://user.example/a" << true << "";
    QTest::newRow("on the machine's list")
        << user << machine << "https://machine.example/" << true << "";
    QTest::newRow("letter case of the address")
        << user << none << "http://USER.Example/" << true << "";
    QTest::newRow("on neither") << user << machine << "http://Other.Example/x" << false
                                << "Other.Example";
    QTest::newRow("a subdomain is another site")
        << user << none << "http://www.user.example/" << false << "www.user.example";
    QTest::newRow("no domain") << user << machine << "about:blank" << false << "";
    QTest::newRow("nothing allowed")
        << none << none << "http://user.example/" << false << "user.example";
}

void tst_PopupBlocker::decision()
{
    QFETCH(QStringList, userSites);
    QFETCH(QStringList, machineSites);
    QFETCH(QString, page);
    QFETCH(bool, allowed);
    QFETCH(QString, refusedSite);
    for (const QString &site : userSites)
        PopupStore::AddSite(site);
    QObject front;
    auto asking = std::make_unique<QObject>();
    TPopupBlocker blocker(
        nullptr,
        [&] {
            return TPopupBlocker::TActivePage{&front, QString()};
        },
        machineSites);
    blocker.LoadAllowedSites();
    QCOMPARE(blocker.Decide(asking.get(), page), allowed);
    QCOMPARE(blocker.RefusedSite(asking.get()), refusedSite);
    QVERIFY(blocker.RefusedSite(&front).isEmpty());
    // A tab that goes takes its refusal along; another object at its address starts clean.
    const QObject *gone = asking.get();
    asking.reset();
    QVERIFY(blocker.RefusedSite(gone).isEmpty());
}

void tst_PopupBlocker::refusedRequests_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("popup");
    QTest::addColumn<bool>("byClick");
    QTest::newRow("window.open on load") << "/onload.html"
                                         << "/popup-onload.html" << false;
    QTest::newRow("window.open on a click") << "/click.html"
                                            << "/popup-click.html" << true;
    QTest::newRow("link with target _blank") << "/link.html"
                                             << "/popup-link.html" << true;
    QTest::newRow("form posting to a new window") << "/form.html"
                                                  << "/popup-form.html" << true;
}

void tst_PopupBlocker::refusedRequests()
{
    QFETCH(QString, page);
    QFETCH(QString, popup);
    QFETCH(bool, byClick);
    TBrowserTab *first = tab(0);
    const QUrl url = m_server->url(page);
    const int popupsBefore = m_server->requestCount(popup);
    QVERIFY(loadInTab(first, url));
    if (byClick) {
        QVERIFY(refused(first).isEmpty());
        QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
        // Refused after the page completed, with no navigation to follow: told at once.
        QTRY_VERIFY_WITH_TIMEOUT(barOpen(), 1000);
    }
    QTRY_VERIFY(barOpen());
    QCOMPARE(refused(first), domainOf(url));
    QCOMPARE(notice()->text(), noticeFor(domainOf(url)));
    QCOMPARE(tabCount(), 1);
    QVERIFY(sentinel(first));
    QCOMPARE(m_server->requestCount(popup), popupsBefore);
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_PopupBlocker::pageWithoutADomainIsRefusedWithoutABar()
{
    TBrowserTab *first = tab(0);
    int requests = 0;
    first->WebView->SetNewWindowQuestion([&] {
        ++requests;
        return first->HandleNewWindow();
    });
    QSignalSpy completed(first->WebView.data(), &TWebView::NavigateComplete2);
    first->WebView->setHtml(QStringLiteral("<script>window.open('%1');</script>")
                                .arg(m_server->url("/popup-onload.html").toString()));
    QTRY_VERIFY(!completed.isEmpty() && requests == 1);
    QVERIFY(GenUtilities::GetDomain(first->WebView->LocationURL()).isEmpty());
    QVERIFY(refused(first).isEmpty());
    QCOMPARE(popupBar()->TargetHeight(), 0);
    QVERIFY(sentinel(first));
    QVERIFY(barClosed());
    QCOMPARE(tabCount(), 1);
    QCOMPARE(m_server->requestCount("/popup-onload.html"), 0);
}

void tst_PopupBlocker::allowedDomainOpensANewTab()
{
    const QUrl url = m_server->url("/onload.html");
    const int popups = m_server->requestCount("/popup-onload.html");
    PopupStore::AddSite(domainOf(url));
    form().LoadAllowedSites();
    QVERIFY(loadInTab(tab(0), url));
    QTRY_COMPARE(tabCount(), 2);
    QTRY_COMPARE(m_server->requestCount("/popup-onload.html"), popups + 1);
    QVERIFY(refused(tab(0)).isEmpty());
    QVERIFY(barClosed());
}

void tst_PopupBlocker::backgroundRefusalWaitsForItsTab()
{
    TBrowserTab *front = tab(0);
    QVERIFY(loadInTab(front, m_server->url("/plain.html")));
    TBrowserTab *back = open(TTabControl::TOpen::Behind);
    QVERIFY(back && form().ActiveTab() == front);
    const QUrl backUrl = otherDomainUrl("/plain.html");
    QVERIFY(loadInTab(back, backUrl));
    QVERIFY(runScript(back->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_COMPARE(refused(back), domainOf(backUrl));
    // The site is named for later, but the bar stays shut for the tab in front.
    QCOMPARE(notice()->text(), noticeFor(domainOf(backUrl)));
    QCOMPARE(popupBar()->TargetHeight(), 0);
    QVERIFY(barClosed());

    form().pcMain->setCurrentWidget(back->Sheet);
    QTRY_VERIFY(barOpen());
    QCOMPARE(notice()->text(), noticeFor(domainOf(backUrl)));
    form().pcMain->setCurrentWidget(front->Sheet);
    QTRY_VERIFY(barClosed());

    // With the bar open for the front tab, a refusal behind it must not rename the site that
    // "Click Here" would allow: the bar keeps naming the front page's domain. It rides down
    // with the tab strip, the close button with it.
    QVERIFY(runScript(front->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_VERIFY(barOpen());
    QCOMPARE(form().tbCloseTab->y(), form().pcMain->mapTo(&form(), QPoint()).y() - 3);
    TBrowserTab *third = open(TTabControl::TOpen::Behind);
    QVERIFY(loadInTab(third, backUrl));
    QVERIFY(runScript(third->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_COMPARE(refused(third), domainOf(backUrl));
    QCOMPARE(notice()->text(), noticeFor(refused(front)));
    QVERIFY(barOpen());
    QCOMPARE(m_server->requestCount("/popup-click.html"), 0);
}

void tst_PopupBlocker::navigatingAwayClosesTheBarAndComingBackReopensIt()
{
    TBrowserTab *first = tab(0);
    QVERIFY(loadInTab(first, m_server->url("/onload.html")));
    QTRY_VERIFY(barOpen());
    QVERIFY(loadInTab(first, otherDomainUrl("/plain.html")));
    QTRY_VERIFY(barClosed());
    QCOMPARE(refused(first), domainOf(m_server->url("/")));
    QVERIFY(loadInTab(first, m_server->url("/plain.html")));
    QTRY_VERIFY(barOpen());
    QCOMPARE(notice()->text(), noticeFor(domainOf(m_server->url("/"))));
}

void tst_PopupBlocker::clickHereAllowsAndReloads()
{
    TBrowserTab *first = tab(0);
    const QUrl url = m_server->url("/onload.html");
    QVERIFY(loadInTab(first, url));
    QTRY_VERIFY(barOpen());
    const int loads = m_server->requestCount("/onload.html");
    const int popups = m_server->requestCount("/popup-onload.html");

    // The browser starts locked; the link asks for no login.
    QVERIFY(!m_browser->address()->isEnabled());
    QTest::mouseClick(link(), Qt::LeftButton, {}, link()->rect().center());

    QCOMPARE(PopupStore::ListSites(), QStringList{domainOf(url).toLower()});
    QVERIFY(form().AllowedSites().contains(domainOf(url).toLower()));
    QVERIFY(refused(first).isEmpty());
    QTRY_COMPARE(m_server->requestCount("/onload.html"), loads + 1);
    QTRY_COMPARE(tabCount(), 2);
    QTRY_COMPARE(m_server->requestCount("/popup-onload.html"), popups + 1);
    QTRY_VERIFY(barClosed());
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PopupBlocker::clickRefusalOpensTheBarAndClickHereLetsTheNextThrough()
{
    TBrowserTab *first = tab(0);
    const QUrl url = m_server->url("/click.html");
    QVERIFY(loadInTab(first, url));
    const int popups = m_server->requestCount("/popup-click.html");
    QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
    QTRY_VERIFY_WITH_TIMEOUT(barOpen(), 1000);
    QCOMPARE(tabCount(), 1);

    QSignalSpy reloaded(first->WebView.data(), &TWebView::NavigateComplete2);
    QTest::mouseClick(link(), Qt::LeftButton, {}, link()->rect().center());
    QTRY_VERIFY(barClosed());
    QTRY_VERIFY(!reloaded.isEmpty() && !first->WebView->Busy());
    QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
    QTRY_COMPARE_WITH_TIMEOUT(tabCount(), 2, 5000);
    QTRY_COMPARE(m_server->requestCount("/popup-click.html"), popups + 1);
    QVERIFY(barClosed());
}

void tst_PopupBlocker::barFollowsQuickTabSwitches()
{
    TBrowserTab *blocked = tab(0);
    QVERIFY(loadInTab(blocked, m_server->url("/onload.html")));
    QTRY_VERIFY(barOpen());
    TBrowserTab *clean = open(TTabControl::TOpen::InFront);
    QVERIFY(loadInTab(clean, m_server->url("/plain.html")));
    QTRY_VERIFY(barClosed());

    // Switch faster than the bar moves; it must end as the last active tab wants.
    for (int round = 0; round < 7; ++round) {
        form().pcMain->setCurrentWidget(blocked->Sheet);
        QTest::qWait(30 + round * 7);
        form().pcMain->setCurrentWidget(clean->Sheet);
        QTest::qWait(20 + round * 5);
    }
    QTRY_VERIFY(barClosed());
    form().pcMain->setCurrentWidget(blocked->Sheet);
    QTest::qWait(40);
    form().pcMain->setCurrentWidget(clean->Sheet);
    QTest::qWait(40);
    form().pcMain->setCurrentWidget(blocked->Sheet);
    QTRY_VERIFY(barOpen());
    QCOMPARE(popupBar()->TargetHeight(), 30);
}

// Every refused request costs the engine a new page's creation (about half a second here),
// so the loop is kept short; what matters is that each one is refused without the window
// freezing and that the bar stays one bar.
void tst_PopupBlocker::manyWindowsInALoopKeepOneBar()
{
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestPause = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this,
            [&] { longestPause = qMax(longestPause, sinceTick.restart()); });
    TBrowserTab *first = tab(0);
    int requests = 0;
    first->WebView->SetNewWindowQuestion([&] {
        ++requests;
        return first->HandleNewWindow();
    });
    ticker.start();

    QVERIFY(loadInTab(first, m_server->url("/loop.html")));
    QCOMPARE(requests, LoopWindows);
    QTRY_VERIFY(barOpen());
    QCOMPARE(tabCount(), 1);
    QCOMPARE(notice()->text(), noticeFor(domainOf(m_server->url("/"))));
    ticker.stop();
    QVERIFY2(longestPause < 500, qPrintable(QString::number(longestPause)));
    QVERIFY(sentinel(first));
    QCOMPARE(m_server->requestCount("/popup-loop.html"), 0);
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_PopupBlocker::popupBlockerCommandReloadsTheList()
{
    QVERIFY(form().AllowedSites().isEmpty());
    QWidget *owner = nullptr;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        owner = dialog->parentWidget();
        auto *popups = qobject_cast<TfrmPopups *>(dialog);
        if (!popups)
            return int(QDialog::Rejected);
        popups->edtWebsite->setText(QStringLiteral("http://Added.Example/page"));
        popups->cbAllowClick();
        return int(QDialog::Rejected);
    };
    form().PopupBlocker1Click();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("frmPopups")});
    QCOMPARE(owner, &form());
    QCOMPARE(form().AllowedSites(), QStringList{QStringLiteral("added.example")});
    QVERIFY(m_dialogs->messages.isEmpty()); // no login asked, nothing shown
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PopupBlocker)
#include "tst_popupblocker.moc"
