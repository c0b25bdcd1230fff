// The administrator's address lists on real pages: what a refused navigation shows, and that
// nothing is fetched from a refused host, whichever route the page took there.
#include "common/adminloginstore.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"
#include "main/browsertab.h"
#include "main/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>
#include <QWebEngineFindTextResult>
#include <QtTest>
#include <memory>

namespace {
const QString Message = QStringLiteral("The administrator of this computer has blocked this page.");
}

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
    void refusedFrameShowsTheMessageInside();
    void downloadFromABlockedAddressIsRefused();
    void allowListLetsExactlyItsHostsThrough_data();
    void allowListLetsExactlyItsHostsThrough();

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
               QStringLiteral("document.getElementById('%1').textContent").arg(QLatin1String(id)))
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
    MachinePolicies::AllowSite(QStringLiteral("school.localhost:%1").arg(m_server.url().port()));
    MachinePolicies::Forget();

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
    TestPages::waitForPaint(m_browser->view());
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
    QCOMPARE(shownText("message"), Message);
    QCOMPARE(shownText("address"), refused.toString());
    QTRY_COMPARE(m_browser->address()->text(), refused.toString());
    QCOMPARE(m_server.requestCount("/target"), 0);
    if (route == QLatin1String("redirect"))
        QCOMPARE(m_server.requestCount("/redirect"), 1);
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
    TestPages::waitForPaint(m_browser->view());
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

QUELVARD_TEST_MAIN(tst_NavigationFilter)
#include "tst_navigationfilter.moc"
