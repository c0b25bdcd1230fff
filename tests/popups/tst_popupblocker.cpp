#include "common/genutilities.h"
#include "main/browsertab.h"
#include "main/mainwindow.h"
#include "main/tabcontrol.h"
#include "main/webview.h"
#include "popups/allowedsites.h"
#include "popups/popupbar.h"
#include "popups/popups.h"
#include "support/controls.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QtTest>

// Popup requests of real pages from a loopback server, refused or let through, and the notice
// bar that follows the active tab.
constexpr int LoopWindows = 20;

using TestPages::clickElement;
using TestPages::loadInTab;
using TestPages::runScript;
using TestSupport::Control;

class tst_PopupBlocker : public QObject
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusedRequests_data();
    void refusedRequests();
    void pageWithoutADomainIsRefusedWithoutABar();
    void allowedDomainOpensANewTab();
    void backgroundRefusalWaitsForItsTab();
    void navigatingAwayClosesTheBarAndComingBackReopensIt();
    void clickHereAllowsAndReloads();
    void clickRefusalOpensTheBarAndClickHereLetsTheNextThrough();
    void noticeKeepsItsLinkInANarrowWindow();
    void barStepsOnePixelAtATimeAndTurnsRound();
    void barFollowsQuickTabSwitches();
    void manyWindowsInALoopKeepOneBar();
    void popupBlockerCommandReloadsTheList();

private:
    TBrowserTab *tab(int index) const { return m_form->Tabs().value(index); }
    QFrame *bar() const { return Control<QFrame>(m_form.get(), "pnlPopups"); }
    QLabel *notice() const { return Control<QLabel>(m_form.get(), "lblPopups"); }
    QLabel *link() const { return Control<QLabel>(m_form.get(), "lblClickHere"); }
    TPopupBar *popupBar() const { return m_form->findChild<TPopupBar *>(); }
    bool barOpen() const;
    bool barClosed() const;
    QString barState() const;
    QString domainOf(const QUrl &url) const { return GenUtilities::GetDomain(url.toString()); }
    QString noticeFor(const QString &domain) const;
    QUrl otherDomainUrl(const QString &path) const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<TfrmQuelvardBrowser> m_form;
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
    m_env = std::make_unique<TestEnvironment>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
    m_form = std::make_unique<TfrmQuelvardBrowser>();
    m_form->resize(900, 600);
    m_form->show();
    QTRY_VERIFY(m_form->TabCount() == 1 && tab(0)->WebView);
    QVERIFY(popupBar());
    QVERIFY(barClosed());
}

void tst_PopupBlocker::cleanup()
{
    m_form.reset();
    m_dialogs.reset();
    m_env.reset();
}

bool tst_PopupBlocker::barOpen() const
{
    return !bar()->isHidden() && bar()->maximumHeight() == 30 && bar()->height() == 30 &&
           !popupBar()->IsMoving();
}

QString tst_PopupBlocker::barState() const
{
    return QStringLiteral("hidden %1 max %2 height %3 moving %4 target %5 url %6 blocked %7")
        .arg(bar()->isHidden())
        .arg(bar()->maximumHeight())
        .arg(bar()->height())
        .arg(popupBar()->IsMoving())
        .arg(popupBar()->TargetHeight())
        .arg(m_form->CurrentURL(),
             m_form->ActiveTab() ? m_form->ActiveTab()->BlockedDomain : QStringLiteral("(no tab)"));
}

bool tst_PopupBlocker::barClosed() const
{
    return bar()->isHidden();
}

QString tst_PopupBlocker::noticeFor(const QString &domain) const
{
    return QStringLiteral("Quelvard prevented \"%1\" from opening popup windows. To view popups")
        .arg(domain);
}

// The same server under a second domain.
QUrl tst_PopupBlocker::otherDomainUrl(const QString &path) const
{
    QUrl url = m_server->url(path);
    url.setHost(QStringLiteral("localhost"));
    return url;
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
    QVERIFY(loadInTab(first, url.toString()));
    if (byClick) {
        QVERIFY(first->BlockedDomain.isEmpty());
        QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
        // Refused after the page completed, with no navigation to follow: told at once.
        QTRY_VERIFY2_WITH_TIMEOUT(barOpen(), qPrintable(barState()), 1000);
    }
    QTRY_VERIFY(barOpen());
    QCOMPARE(first->BlockedDomain, domainOf(url));
    QCOMPARE(notice()->text(), noticeFor(domainOf(url)));
    QCOMPARE(m_form->TabCount(), 1);
    QTest::qWait(500);
    QCOMPARE(m_server->requestCount(popup), popupsBefore);
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_PopupBlocker::pageWithoutADomainIsRefusedWithoutABar()
{
    TBrowserTab *first = tab(0);
    int requests = 0;
    connect(first->WebView.data(), &TWebView::NewWindow2, this, [&](bool *) { ++requests; });
    QSignalSpy completed(first->WebView.data(), &TWebView::NavigateComplete2);
    const int popupsBefore = m_server->requestCount("/popup-onload.html");
    first->WebView->setHtml(QStringLiteral("<script>window.open('%1');</script>")
                                .arg(m_server->url("/popup-onload.html").toString()));
    QTRY_VERIFY(!completed.isEmpty() && requests == 1);
    QVERIFY(GenUtilities::GetDomain(first->WebView->LocationURL()).isEmpty());
    QVERIFY(first->BlockedDomain.isEmpty());
    QTest::qWait(300);
    QVERIFY(barClosed());
    QCOMPARE(m_form->TabCount(), 1);
    QCOMPARE(m_server->requestCount("/popup-onload.html"), popupsBefore);
}

void tst_PopupBlocker::allowedDomainOpensANewTab()
{
    const QUrl url = m_server->url("/onload.html");
    const int popups = m_server->requestCount("/popup-onload.html");
    PopupStore::AddSite(domainOf(url));
    m_form->LoadAllowedSites();
    QVERIFY(loadInTab(tab(0), url.toString()));
    QTRY_COMPARE(m_form->TabCount(), 2);
    QTRY_COMPARE(m_server->requestCount("/popup-onload.html"), popups + 1);
    QVERIFY(tab(0)->BlockedDomain.isEmpty());
    QVERIFY(barClosed());
}

void tst_PopupBlocker::backgroundRefusalWaitsForItsTab()
{
    TBrowserTab *front = tab(0);
    QVERIFY(loadInTab(front, m_server->url("/plain.html").toString()));
    TBrowserTab *back = m_form->NewTab(TTabControl::TOpen::Behind);
    QVERIFY(back && m_form->ActiveTab() == front);
    const QUrl backUrl = otherDomainUrl("/plain.html");
    QVERIFY(loadInTab(back, backUrl.toString()));
    QVERIFY(runScript(back->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_COMPARE(back->BlockedDomain, domainOf(backUrl));
    QCOMPARE(notice()->text(), noticeFor(domainOf(backUrl)));
    QTest::qWait(200);
    QVERIFY(barClosed());

    m_form->pcMain->setCurrentWidget(back->Sheet);
    QTRY_VERIFY(barOpen());
    QCOMPARE(notice()->text(), noticeFor(domainOf(backUrl)));

    // With the bar open for the front tab, a refusal behind it must not rename the site that
    // "Click Here" would allow: the bar keeps naming the front page's domain.
    m_form->pcMain->setCurrentWidget(front->Sheet);
    QTRY_VERIFY(barClosed());
    QVERIFY(runScript(front->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_VERIFY(!front->BlockedDomain.isEmpty());
    m_form->UpdatePopupBar();
    QTRY_VERIFY(barOpen());
    back->BlockedDomain.clear();
    QVERIFY(runScript(back->WebView->page(), "window.open('/popup-click.html'); true").toBool());
    QTRY_COMPARE(back->BlockedDomain, domainOf(backUrl));
    QCOMPARE(notice()->text(), noticeFor(front->BlockedDomain));
    QVERIFY(barOpen());
    QCOMPARE(m_server->requestCount("/popup-click.html"), 0);
}

void tst_PopupBlocker::navigatingAwayClosesTheBarAndComingBackReopensIt()
{
    TBrowserTab *first = tab(0);
    QVERIFY(loadInTab(first, m_server->url("/onload.html").toString()));
    QTRY_VERIFY(barOpen());
    QVERIFY(loadInTab(first, otherDomainUrl("/plain.html").toString()));
    QTRY_VERIFY(barClosed());
    QCOMPARE(first->BlockedDomain, domainOf(m_server->url("/")));
    QVERIFY(loadInTab(first, m_server->url("/plain.html").toString()));
    QTRY_VERIFY2(barOpen(), qPrintable(barState()));
    QCOMPARE(notice()->text(), noticeFor(domainOf(m_server->url("/"))));
}

void tst_PopupBlocker::clickHereAllowsAndReloads()
{
    TBrowserTab *first = tab(0);
    const QUrl url = m_server->url("/onload.html");
    QVERIFY(loadInTab(first, url.toString()));
    QTRY_VERIFY(barOpen());
    const int loads = m_server->requestCount("/onload.html");
    const int popups = m_server->requestCount("/popup-onload.html");

    QVERIFY(link()->isVisible());
    QCOMPARE(link()->x(), notice()->width() + 17);
    // The browser starts locked; the link asks for no login.
    QVERIFY(!Control<QLineEdit>(m_form.get(), "edtAddress")->isEnabled());
    const int messages = m_dialogs->messages.size();
    QTest::mouseClick(link(), Qt::LeftButton, {}, link()->rect().center());

    QCOMPARE(PopupStore::ListSites(), QStringList{domainOf(url).toLower()});
    QVERIFY(m_form->AllowedSites.contains(domainOf(url).toLower()));
    QVERIFY(first->BlockedDomain.isEmpty());
    QTRY_COMPARE(m_server->requestCount("/onload.html"), loads + 1);
    QTRY_COMPARE(m_form->TabCount(), 2);
    QTRY_COMPARE(m_server->requestCount("/popup-onload.html"), popups + 1);
    QTRY_VERIFY(barClosed());
    QCOMPARE(m_dialogs->messages.size(), messages);
}

void tst_PopupBlocker::clickRefusalOpensTheBarAndClickHereLetsTheNextThrough()
{
    TBrowserTab *first = tab(0);
    const QUrl url = m_server->url("/click.html");
    QVERIFY(loadInTab(first, url.toString()));
    const int popups = m_server->requestCount("/popup-click.html");
    QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
    QTRY_VERIFY2_WITH_TIMEOUT(barOpen(), qPrintable(barState()), 1000);
    QCOMPARE(notice()->text(), noticeFor(domainOf(url)));
    QCOMPARE(m_form->TabCount(), 1);

    QTest::mouseClick(link(), Qt::LeftButton, {}, link()->rect().center());
    QTRY_VERIFY(barClosed());
    QVERIFY(QTest::qWaitFor([&] { return !first->WebView->Busy(); }, 15000));
    QTest::qWait(300); // the reloaded page's first paint, before which a click is lost
    QVERIFY(clickElement(first->WebView, QStringLiteral("b")));
    QTRY_COMPARE_WITH_TIMEOUT(m_form->TabCount(), 2, 5000);
    QTRY_COMPARE(m_server->requestCount("/popup-click.html"), popups + 1);
    QVERIFY(barClosed());
}

void tst_PopupBlocker::noticeKeepsItsLinkInANarrowWindow()
{
    const QString domain = domainOf(m_server->url("/"));
    QVERIFY(loadInTab(tab(0), m_server->url("/onload.html").toString()));
    QTRY_VERIFY(barOpen());
    QCOMPARE(notice()->text(), noticeFor(domain));
    QVERIFY(notice()->toolTip().isEmpty());

    for (int width : {420, 360, 300}) {
        m_form->resize(width, 600);
        QTRY_COMPARE(bar()->width(), width);
        QVERIFY2(link()->geometry().right() < width, qPrintable(QString::number(width)));
        QVERIFY(notice()->text().contains(QChar(0x2026)));
        QCOMPARE(notice()->toolTip(), noticeFor(domain));
        QCOMPARE(link()->x(), notice()->width() + 17);
    }
    m_form->resize(1000, 600);
    QTRY_COMPARE(notice()->text(), noticeFor(domain));
    QVERIFY(notice()->toolTip().isEmpty());
}

void tst_PopupBlocker::barStepsOnePixelAtATimeAndTurnsRound()
{
    QList<int> heights;
    QFrame *strip = bar();
    connect(popupBar(), &TPopupBar::HeightChanged, this,
            [&] { heights << strip->maximumHeight(); });

    TBrowserTab *first = tab(0);
    QVERIFY(loadInTab(first, m_server->url("/plain.html").toString()));
    first->BlockedDomain = domainOf(m_server->url("/"));
    m_form->UpdatePopupBar();
    QTRY_VERIFY(barOpen());
    QList<int> opening;
    for (int h = 0; h <= 30; ++h)
        opening << h;
    QCOMPARE(heights, opening);

    // The close button rides with the tab strip.
    m_form->NewTab(TTabControl::TOpen::Behind);
    QTRY_VERIFY(m_form->tbCloseTab->isVisible());
    QCOMPARE(m_form->tbCloseTab->y(), m_form->pcMain->mapTo(m_form.get(), QPoint()).y() - 3);

    // Closing part-way, then asked to open again: it turns round where it stands.
    heights.clear();
    first->BlockedDomain.clear();
    m_form->UpdatePopupBar();
    QTRY_VERIFY(heights.size() >= 10);
    first->BlockedDomain = domainOf(m_server->url("/"));
    m_form->UpdatePopupBar();
    QTRY_VERIFY(barOpen());
    for (int i = 1; i < heights.size(); ++i)
        QCOMPARE(qAbs(heights.at(i) - heights.at(i - 1)), 1);
    QVERIFY(heights.first() == 29 && heights.last() == 30);
    QCOMPARE(m_form->tbCloseTab->y(), m_form->pcMain->mapTo(m_form.get(), QPoint()).y() - 3);

    heights.clear();
    first->BlockedDomain.clear();
    m_form->UpdatePopupBar();
    QTRY_VERIFY(barClosed());
    QList<int> closing;
    for (int h = 29; h >= 0; --h)
        closing << h;
    QCOMPARE(heights, closing);
}

void tst_PopupBlocker::barFollowsQuickTabSwitches()
{
    TBrowserTab *blocked = tab(0);
    QVERIFY(loadInTab(blocked, m_server->url("/onload.html").toString()));
    QTRY_VERIFY(barOpen());
    TBrowserTab *clean = m_form->NewTab(TTabControl::TOpen::InFront);
    QVERIFY(loadInTab(clean, m_server->url("/plain.html").toString()));
    QTRY_VERIFY(barClosed());

    // Switch faster than the bar moves; it must end as the last active tab wants.
    for (int round = 0; round < 7; ++round) {
        m_form->pcMain->setCurrentWidget(blocked->Sheet);
        QTest::qWait(30 + round * 7);
        m_form->pcMain->setCurrentWidget(clean->Sheet);
        QTest::qWait(20 + round * 5);
    }
    QTRY_VERIFY(barClosed());
    m_form->pcMain->setCurrentWidget(blocked->Sheet);
    QTest::qWait(40);
    m_form->pcMain->setCurrentWidget(clean->Sheet);
    QTest::qWait(40);
    m_form->pcMain->setCurrentWidget(blocked->Sheet);
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
    int requests = 0;
    connect(tab(0)->WebView.data(), &TWebView::NewWindow2, this, [&](bool *) { ++requests; });
    ticker.start();

    QVERIFY(loadInTab(tab(0), m_server->url("/loop.html").toString()));
    QCOMPARE(requests, LoopWindows);
    QTRY_VERIFY(barOpen());
    QCOMPARE(m_form->TabCount(), 1);
    QCOMPARE(m_form->findChildren<QFrame *>(QStringLiteral("pnlPopups")).size(), 1);
    QCOMPARE(notice()->text(), noticeFor(domainOf(m_server->url("/"))));
    QTest::qWait(300);
    QCOMPARE(m_server->requestCount("/popup-loop.html"), 0);
    QVERIFY(PopupStore::ListSites().isEmpty());
    QVERIFY2(longestPause < 500, qPrintable(QString::number(longestPause)));
}

void tst_PopupBlocker::popupBlockerCommandReloadsTheList()
{
    QVERIFY(m_form->AllowedSites.isEmpty());
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
    const int dialogsBefore = m_dialogs->dialogsRun.size();
    const int messagesBefore = m_dialogs->messages.size();
    m_form->PopupBlocker1Click();
    QCOMPARE(m_dialogs->dialogsRun.mid(dialogsBefore), QStringList{QStringLiteral("frmPopups")});
    QCOMPARE(owner, m_form.get());
    QCOMPARE(m_form->AllowedSites, QStringList{QStringLiteral("added.example")});
    QCOMPARE(m_dialogs->messages.size(), messagesBefore); // no login asked, nothing shown
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PopupBlocker)
#include "tst_popupblocker.moc"
