// What the administrator changes reaches a browser that is already running, within two
// seconds, and quelvard-admin names the browsers it told.
#include "admintool/admincommand.h"
#include "app/browsersession.h"
#include "app/timeguard.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"
#include "page/webview.h"
#include "popups/popupblocker.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/tabcontrol.h"

#include <QCursor>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTextStream>
#include <QWebEngineProfile>
#include <QtTest>
#include <functional>
#include <pwd.h>
#include <unistd.h>

namespace {

// The promise: a running browser has the change two seconds after the command.
constexpr int WithinMs = 2000;

struct TAdminRun
{
    int status = -1;
    QString err;
};

TAdminRun admin(const QStringList &arguments)
{
    TAdminRun result;
    QString out;
    QTextStream outStream(&out);
    QTextStream errStream(&result.err);
    AdminCommand::TConsole console{&outStream, &errStream,
                                   [](const QString &, bool, QString &) { return false; },
                                   [](QString &) { return false; }};
    result.status = AdminCommand::Run(arguments, console);
    errStream.flush();
    return result;
}

QString thisProcess()
{
    const passwd *entry = ::getpwuid(::geteuid());
    return QStringLiteral("%1 (process %2)")
        .arg(entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::geteuid()))
        .arg(::getpid());
}

} // namespace

using Check = std::function<void(TestPages::Browser &, TBrowserSession &)>;
Q_DECLARE_METATYPE(Check)

class tst_SettingsChange : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setHtml("/a.html", "A", "<p>Allowed before and after</p>");
        m_server.setHtml("/b.html", "B", "<p>Blocked while the browser runs</p>");
    }
    void init()
    {
        EnvironmentSuite::init();
        // The run's filter is the process's; each test starts from this one's empty store.
        MachinePolicies::Forget();
        TNavigationFilter::Reload();
    }
    void cleanup()
    {
        MachinePolicies::Forget();
        EnvironmentSuite::cleanup();
    }
    void blockReachesTheNextNavigation();
    void settingReachesTheRunningBrowser_data();
    void settingReachesTheRunningBrowser();

private:
    TestHttpServer m_server;
};

void tst_SettingsChange::blockReachesTheNextNavigation()
{
    // An installed machine has its store's folder from the start, as here; the other test's
    // browsers start before it exists.
    MachinePolicies::Set(&MachinePolicies::recMachinePolicies::downloads,
                         MachinePolicies::Downloads::Allow);
    MachinePolicies::Forget();
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser);
    auto *session = browser->window.findChild<TBrowserSession *>();
    QVERIFY(session);
    const QUrl allowed = m_server.url("/a.html");
    const QUrl blocked = m_server.url("/b.html");
    QVERIFY(browser->load(allowed));

    QSignalSpy told(session, &TBrowserSession::MachineSettingsChanged);
    const TAdminRun run = admin({"urls", "block", blocked.host() + "/b.html"});
    QCOMPARE(run.status, 0);
    // This process holds a browser's session, so it is the one named.
    QVERIFY2(run.err.contains("quelvard-admin: told the running browser: " + thisProcess()),
             qPrintable(run.err));
    QVERIFY2(told.wait(WithinMs), "the running browser was not told within two seconds");

    // The page on show stays; the next navigation to the blocked address is refused unfetched.
    QCOMPARE(browser->view()->url(), allowed);
    browser->view()->load(blocked);
    QVERIFY(TestPages::waitForUrl(browser->window, TNavigationFilter::BlockedPageUrl(blocked)));
    QCOMPARE(m_server.requestCount("/b.html"), 0);
    QCOMPARE(m_server.requestCount("/a.html"), 1);

    // And taken back the same way.
    QCOMPARE(admin({"urls", "remove", blocked.host() + "/b.html"}).status, 0);
    QVERIFY(told.wait(WithinMs));
    QVERIFY(browser->load(blocked));
    QCOMPARE(m_server.requestCount("/b.html"), 1);
}

void tst_SettingsChange::settingReachesTheRunningBrowser_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("said");
    QTest::addColumn<Check>("check");
    QTest::newRow("popup sites") << QStringList{"popups", "allow", "pop.example"} << QString()
                                 << Check([](TestPages::Browser &, TBrowserSession &session) {
                                        QVERIFY(session.PopupBlocker()->Allows(
                                            "https://pop.example/page"));
                                    });
    QTest::newRow("user changes") << QStringList{"set", "user-changes", "forbid"} << QString()
                                  << Check([](TestPages::Browser &b, TBrowserSession &) {
                                         QVERIFY(!b.action("AddToFavorites1")->isEnabled());
                                         QVERIFY(!b.action("OrganizeFavorites1")->isEnabled());
                                     });
    QTest::newRow("safe search on a machine without lists")
        << QStringList{"set", "safe-search", "on"} << QString()
        << Check([](TestPages::Browser &, TBrowserSession &session) {
               QVERIFY(session.Profile()->findChild<TNavigationFilter *>());
           });
    QTest::newRow("printing") << QStringList{"set", "printing", "forbid"} << QString()
                              << Check([](TestPages::Browser &b, TBrowserSession &) {
                                     b.action("Print1")->trigger();
                                 });
    QTest::newRow("a log: the time keeper is asked from now on")
        << QStringList{"set", "log", "blocked"} << QString()
        << Check([](TestPages::Browser &, TBrowserSession &session) {
               QVERIFY(session.TimeGuard());
           });
    QTest::newRow("pointer hidden")
        << QStringList{"set", "pointer", "hidden"} << QString()
        << Check([](TestPages::Browser &, TBrowserSession &) {
               QVERIFY(QGuiApplication::overrideCursor());
               QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
           });
    // The page on show keeps its zoom; the next one opens at the machine's.
    QTest::newRow("zoom")
        << QStringList{"set", "zoom", "200"} << QString()
        << Check([](TestPages::Browser &b, TBrowserSession &) {
               QCOMPARE(b.view()->ZoomPercent(), 100);
               b.window.pcMain->NewTab(TTabControl::TOpen::Home);
               QCOMPARE(b.view()->ZoomPercent(), 200);
               // Twice the zoom leaves half the room in CSS pixels.
               const auto room = [&b] {
                   return TestPages::runScript(b.view()->page(), "window.innerWidth").toInt();
               };
               QTRY_VERIFY_WITH_TIMEOUT(room() > 0 && qAbs(room() - b.view()->width() / 2) <= 1,
                                        10000);
           });
    // Kept as the run began: the profile and the window were made from them.
    QTest::newRow("browsing data waits for a new start")
        << QStringList{"set", "browsing-data", "forget"}
        << "quelvard-admin: browsing-data: Takes effect when Quelvard is started again."
        << Check([](TestPages::Browser &, TBrowserSession &) {
               QVERIFY(!MachinePolicies::Current().ForgetsBrowsingData());
               QCOMPARE(MachinePolicies::Read().browsingData,
                        MachinePolicies::BrowsingData::Forget);
           });
    QTest::newRow("the window waits for a new start")
        << QStringList{"set", "window", "full-screen"}
        << "quelvard-admin: window: Takes effect when Quelvard is started again."
        << Check([](TestPages::Browser &b, TBrowserSession &) {
               QCOMPARE(MachinePolicies::Current().window, MachinePolicies::Window::Normal);
               QVERIFY(!b.window.isFullScreen());
           });
}

void tst_SettingsChange::settingReachesTheRunningBrowser()
{
    QFETCH(QStringList, command);
    QFETCH(QString, said);
    QFETCH(Check, check);
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url("/a.html")));
    auto *session = browser->window.findChild<TBrowserSession *>();
    QVERIFY(session);
    QSignalSpy told(session, &TBrowserSession::MachineSettingsChanged);
    const TAdminRun run = admin(command);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err.contains("Takes effect when Quelvard is started again."), !said.isEmpty());
    if (!said.isEmpty())
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QVERIFY2(told.wait(WithinMs), "the running browser was not told within two seconds");
    check(*browser, *session);
    if (command.value(1) == QLatin1String("printing")) {
        QTRY_COMPARE(m_dialogs->messages.size(), 1);
        QCOMPARE(m_dialogs->lastMessage(),
                 QStringLiteral("Printing is turned off on this computer."));
        QCOMPARE(m_dialogs->dialogsRun, QStringList());
    }
}

QUELVARD_TEST_MAIN(tst_SettingsChange)
#include "tst_settingschange.moc"
