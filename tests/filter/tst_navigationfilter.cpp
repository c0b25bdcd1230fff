// The administrator's address lists on real pages: what a refused navigation shows, and that
// nothing is fetched from a refused host, whichever route the page took there.
#include "common/adminloginstore.h"
#include "common/categorylists.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/browsertab.h"

#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>
#include <QWebEngineFindTextResult>
#include <QtTest>
#include <memory>

namespace {
const QString Message = QStringLiteral("The administrator of this computer has blocked this page.");
const QString ViewerPage =
    QStringLiteral("chrome-extension://mhjfbmdgcfjbbpaeojofohoefgiehjai/index.html");

// A one-page PDF saying `words` (the viewer rebuilds the missing cross-reference table).
QByteArray pdfSaying(const QByteArray &words)
{
    const QByteArray content = "BT /F1 36 Tf 72 700 Td (" + words + ") Tj ET";
    return "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
           "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
           "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents 4 0 R"
           "/Resources<</Font<</F1 5 0 R>>>>>>endobj\n"
           "4 0 obj<</Length " +
           QByteArray::number(content.size()) + ">>stream\n" + content +
           "\nendstream endobj\n"
           "5 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
           "trailer<</Root 1 0 R>>\n%%EOF\n";
}
} // namespace

class tst_NavigationFilter : public QObject
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusedNavigationShowsTheBlockedPage_data();
    void refusedNavigationShowsTheBlockedPage();
    void categoryRefusesAndIsNamed();
    void refusedFrameShowsTheMessageInside();
    void downloadFromABlockedAddressIsRefused();
    void allowListLetsExactlyItsHostsThrough_data();
    void allowListLetsExactlyItsHostsThrough();
    void mappedSpellingsOfABlockedAddress_data();
    void mappedSpellingsOfABlockedAddress();
    void allowedPdfShowsInTheViewer();
    void pageCannotOpenTheViewerItself_data();
    void pageCannotOpenTheViewerItself();

private:
    // The loopback server under a name of its own: every *.localhost name is this machine.
    QUrl at(const char *host, const char *path) const;
    QString shownText(const char *id);
    // How often the page and its frames show `text`.
    int matchesOf(const QString &text);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TestPages::Browser> m_browser;
    TestHttpServer m_server;
};

QUrl tst_NavigationFilter::at(const char *host, const char *path) const
{
    QUrl url = m_server.url(QLatin1String(path));
    url.setHost(QLatin1String(host));
    return url;
}

QString tst_NavigationFilter::shownText(const char *id)
{
    return TestPages::runScript(
               m_browser->view()->page(),
               QStringLiteral("(document.getElementById('%1') || {}).textContent || ''")
                   .arg(QLatin1String(id)))
        .toString();
}

int tst_NavigationFilter::matchesOf(const QString &text)
{
    int matches = -1;
    m_browser->view()->page()->findText(
        text, {},
        [&matches](const QWebEngineFindTextResult &result) { matches = result.numberOfMatches(); });
    if (!QTest::qWaitFor([&matches] { return matches >= 0; }, 5000))
        return -1;
    m_browser->view()->page()->findText(QString());
    return matches;
}

void tst_NavigationFilter::initTestCase()
{
    QVERIFY(m_server.start());
    m_env = std::make_unique<TestEnvironment>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
    QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "", "", "", ""}));
    // Everything under localhost is refused but the school's own host, as an allow-list is set.
    MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Block, QStringLiteral("localhost"));
    MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Allow,
                                   QStringLiteral("school.localhost"));
    MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Block,
                                   QStringLiteral("school.localhost/private"));
    // The engine's pages are what an allow-list's block * keeps out; the PDF viewer is not one.
    MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Block,
                                   QStringLiteral("chrome-extension://*"));
    MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Block,
                                   QStringLiteral("127.0.0.1/mapped"));
    MachinePolicies::AllowSite(QStringLiteral("school.localhost:%1").arg(m_server.url().port()));
    MachinePolicies::Forget();
    // An imported category inside the allowed host, more specific than its allow rule.
    QString why;
    QVERIFY2(CategoryLists::Save("gambling", false, {{"casino.school.localhost", "", 0}}, &why),
             qPrintable(why));

    const QByteArray refused = at("games.localhost", "/target").toEncoded();
    m_server.setHtml("/links.html", "Links",
                     "<a id='link' href='" + refused +
                         "'>games</a>"
                         "<button id='open' onclick=\"window.open('" +
                         refused + "')\">open</button>");
    m_server.setRedirect("/redirect", at("games.localhost", "/target"));
    m_server.setHtml("/framed.html", "Framed", "<iframe src='" + refused + "'></iframe>");
    m_server.setHtml("/target", "Games", "<p>games</p>");
    m_server.setHtml("/save.html", "Save",
                     "<a id='save' download href='/private/file.txt'>save</a>");
    m_server.setPage("/private/file.txt", "answers", "text/plain");
    m_server.setHtml("/page.html", "Page", "<p>page</p>");
    m_server.setHtml("/mapped/page.html", "Mapped", "<p>mapped</p>");
    m_server.setPage("/doc.pdf", pdfSaying("Viewer shows words"), "application/pdf");
    m_server.setHtml("/viewer-link.html", "Viewer link",
                     "<a id='link' href='" + ViewerPage.toUtf8() + "'>viewer</a>");
    m_server.setHtml("/viewer-frame.html", "Viewer frame",
                     "<iframe src='" + ViewerPage.toUtf8() + "'></iframe>");

    m_browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(m_browser);
}

void tst_NavigationFilter::cleanupTestCase()
{
    m_browser.reset();
    m_dialogs.reset();
    m_env.reset();
}

void tst_NavigationFilter::refusedNavigationShowsTheBlockedPage_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("link") << "link";
    QTest::newRow("redirect hop") << "redirect";
    QTest::newRow("window the popup list lets open") << "open";
    QTest::newRow("address given to the tab") << "navigate";
}

void tst_NavigationFilter::refusedNavigationShowsTheBlockedPage()
{
    QFETCH(QString, route);
    const QUrl refused = at("games.localhost", "/target");
    QVERIFY(m_browser->load(at("school.localhost", "/links.html")));
    if (route == QLatin1String("link"))
        QVERIFY(TestPages::clickElement(m_browser->view(), "link"));
    else if (route == QLatin1String("open"))
        QVERIFY(TestPages::clickElement(m_browser->view(), "open"));
    else if (route == QLatin1String("redirect"))
        m_browser->view()->load(at("school.localhost", "/redirect"));
    else
        m_browser->window.ActiveTab()->NavigateTo(refused.toString());

    // The blocked page in front is what comes after the decision; then nothing may have been
    // asked of the refused host.
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url() ==
                                     TNavigationFilter::BlockedPageUrl(refused) &&
                                 !m_browser->view()->Busy(),
                             15000);
    // After a redirect the dropped hop's end can come before the blocked page has drawn.
    QTRY_COMPARE(shownText("message"), Message);
    QCOMPARE(shownText("address"), refused.toString());
    QTRY_COMPARE(m_browser->address()->text(), refused.toString());
    QCOMPARE(m_server.requestCount("/target"), 0);
    if (route == QLatin1String("redirect"))
        QCOMPARE(m_server.requestCount("/redirect"), 1);
}

void tst_NavigationFilter::categoryRefusesAndIsNamed()
{
    const QUrl refused = at("www.casino.school.localhost", "/page.html");
    const int before = m_server.requestCount("/page.html");
    m_browser->window.ActiveTab()->NavigateTo(refused.toString());
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url() ==
                                     TNavigationFilter::BlockedPageUrl(refused) &&
                                 !m_browser->view()->Busy(),
                             15000);
    QTRY_COMPARE(shownText("category"), QStringLiteral("blocked: gambling"));
    QCOMPARE(shownText("address"), refused.toString());
    QCOMPARE(m_server.requestCount("/page.html"), before);
    // The host the category sits under is still decided by its allow rule.
    QVERIFY(m_browser->load(at("school.localhost", "/page.html")));
    QCOMPARE(shownText("category"), QString());
}

void tst_NavigationFilter::refusedFrameShowsTheMessageInside()
{
    const int before = m_server.requestCount("/target");
    QVERIFY(m_browser->load(at("school.localhost", "/framed.html")));
    // The frame's page belongs to the program, so the page around it cannot read it; the
    // engine's search over every frame can.
    QTRY_VERIFY_WITH_TIMEOUT(matchesOf(Message) > 0, 15000);
    QCOMPARE(m_browser->view()->url(), at("school.localhost", "/framed.html"));
    QCOMPARE(m_server.requestCount("/target"), before);
}

void tst_NavigationFilter::downloadFromABlockedAddressIsRefused()
{
    QVERIFY(m_browser->load(at("school.localhost", "/save.html")));
    QVERIFY(TestPages::clickElement(m_browser->view(), "save"));
    const auto stateShown = [this] {
        for (QLabel *state : m_browser->window.findChildren<QLabel *>("lblDownloadState")) {
            if (state->text() ==
                QStringLiteral("The administrator of this computer has blocked this address."))
                return true;
        }
        return false;
    };
    // A download that starts as a navigation is refused as one; one the engine hands over as
    // a download is refused by the download bar's rule.
    const QUrl refused = at("school.localhost", "/private/file.txt");
    QTRY_VERIFY_WITH_TIMEOUT(stateShown() || m_browser->view()->url() ==
                                                 TNavigationFilter::BlockedPageUrl(refused),
                             15000);
    QVERIFY(!QFileInfo::exists(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) +
                               "/file.txt"));
}

void tst_NavigationFilter::allowListLetsExactlyItsHostsThrough_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("reached");
    QTest::newRow("the allowed host") << "school.localhost" << true;
    QTest::newRow("below the allowed host") << "maths.school.localhost" << true;
    QTest::newRow("another host") << "news.localhost" << false;
    QTest::newRow("a host ending in the allowed name") << "myschool.localhost" << false;
    QTest::newRow("an address on no list") << "127.0.0.1" << true;
}

void tst_NavigationFilter::allowListLetsExactlyItsHostsThrough()
{
    QFETCH(QString, host);
    QFETCH(bool, reached);
    const int before = m_server.requestCount("/page.html");
    QUrl url = m_server.url("/page.html");
    url.setHost(host);
    m_browser->window.ActiveTab()->NavigateTo(url.toString());
    const QUrl expected = reached ? url : TNavigationFilter::BlockedPageUrl(url);
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url() == expected && !m_browser->view()->Busy(),
                             15000);
    QCOMPARE(m_server.requestCount("/page.html"), before + (reached ? 1 : 0));
}

// The engine connects to an IPv4-mapped IPv6 address as to the IPv4 one, so each spelling of a
// blocked address is refused before anything is asked of it.
void tst_NavigationFilter::mappedSpellingsOfABlockedAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("the address itself") << "127.0.0.1";
    QTest::newRow("IPv4-mapped, dotted") << "[::ffff:127.0.0.1]";
    QTest::newRow("IPv4-mapped, hexadecimal") << "[::ffff:7f00:1]";
    QTest::newRow("IPv4-mapped, written out") << "[0:0:0:0:0:FFFF:7F00:1]";
}

void tst_NavigationFilter::mappedSpellingsOfABlockedAddress()
{
    QFETCH(QString, host);
    const QString address =
        QStringLiteral("http://%1:%2/mapped/page.html").arg(host).arg(m_server.url().port());
    // From a page of its own, so the blocked page of the row before cannot count.
    QVERIFY(m_browser->load(at("school.localhost", "/page.html")));
    m_browser->window.ActiveTab()->NavigateTo(address);
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url() ==
                                     TNavigationFilter::BlockedPageUrl(QUrl(address)) &&
                                 !m_browser->view()->Busy(),
                             15000);
    QCOMPARE(m_server.requestCount("/mapped/page.html"), 0);
}

void tst_NavigationFilter::allowedPdfShowsInTheViewer()
{
    QVERIFY(m_browser->load(at("school.localhost", "/doc.pdf")));
    // The viewer's own search finds the document's words once it shows them; a refused viewer
    // frame would show the blocked page instead.
    QTRY_VERIFY_WITH_TIMEOUT(matchesOf(QStringLiteral("Viewer shows words")) > 0, 15000);
    QCOMPARE(matchesOf(Message), 0);
}

// Only the engine opens its viewer: a page's link to the viewer's address, or a favorite naming
// it, ends on the blocked page (chrome-extension://* is on the list), never in the viewer.
void tst_NavigationFilter::pageCannotOpenTheViewerItself_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("link") << "link";
    QTest::newRow("address given to the tab") << "navigate";
}

void tst_NavigationFilter::pageCannotOpenTheViewerItself()
{
    QFETCH(QString, route);
    if (route == QLatin1String("link")) {
        QVERIFY(m_browser->load(at("school.localhost", "/viewer-link.html")));
        QVERIFY(TestPages::clickElement(m_browser->view(), "link"));
    } else {
        m_browser->window.ActiveTab()->NavigateTo(ViewerPage);
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        !TNavigationFilter::RefusedAddress(m_browser->view()->url()).isEmpty() &&
            !m_browser->view()->Busy(),
        15000);
    // The lists are asked only for the engine's stand-in address, never for the viewer's.
    const QUrl refused = TNavigationFilter::RefusedAddress(m_browser->view()->url());
    QCOMPARE(refused.scheme(), QStringLiteral("chrome-extension"));
    QVERIFY2(!UrlFilter::IsPdfViewer(refused), qPrintable(refused.toString()));
}

QUELVARD_TEST_MAIN(tst_NavigationFilter)
#include "tst_navigationfilter.moc"
