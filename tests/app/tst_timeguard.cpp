// Time limits and schedules on real pages, with the real time keeper on a socket of its own and
// a fast clock: what a child sees when the time is up or the hours are over, that nothing of the
// web loads then, that a silent keeper closes browsing too, and what the log keeps.
#include "admin/adminlock.h"
#include "app/timeguard.h"
#include "common/adminloginstore.h"
#include "common/genutilities.h"
#include "common/keeperclient.h"
#include "common/machinepolicies.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/keeperprocess.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QFrame>
#include <QJsonArray>
#include <QLabel>
#include <QtTest>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

// A keeper minute, in real milliseconds: long enough for a page to load within one.
constexpr int MinuteMs = 600;

QJsonObject op(const char *name, const QJsonObject &fields = {})
{
    QJsonObject request = fields;
    request.insert(QStringLiteral("op"), QLatin1String(name));
    return request;
}

} // namespace

class tst_TimeGuard : public QObject
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        for (const char *path : {"/page.html", "/other.html", "/play.html"})
            m_server.setHtml(QLatin1String(path), QStringLiteral("A page"));
    }
    void init();
    void cleanup();
    void budgetWarnsThenEndsBrowsing();
    void outsideTheScheduleNothingLoadsUntilUnlocked();
    void silentKeeperClosesBrowsing();
    void refusedAddressIsLogged();
    void requestFromTheBlockedPageIsAnswered();
    void anotherProgramOnTheSocketIsRefused();

private:
    // Starts the keeper, has it hold `rules` (set by root) and opens the browser on a machine
    // that says it holds rules.
    void openWith(const QString &clockStart, const QList<QJsonObject> &rules, bool closed = false);
    QString text(const char *id) const;
    bool showsClosedPage(int timeout = 20000) const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<KeeperProcess> m_keeper;
    std::unique_ptr<TestPages::Browser> m_browser;
    TestHttpServer m_server;
};

void tst_TimeGuard::init()
{
    // Rules are root's to set, and the keeper believes only the kernel about who asks.
    if (::geteuid() != 0)
        QSKIP("setting the keeper's rules needs root");
    m_env = std::make_unique<TestEnvironment>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
    QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "", "", "", ""}));
    // The run's address filter is made once, by the first browser of the process. The block is
    // this account's own, so the browser must find it beside everyone's lists.
    MachinePolicies::AddAccountUrlPattern(
        "user:" + QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name),
        MachinePolicies::UrlList::Block, QStringLiteral("games.localhost"));
}

void tst_TimeGuard::cleanup()
{
    m_browser.reset();
    m_keeper.reset();
    m_dialogs.reset();
    m_env.reset();
    MachinePolicies::Forget();
}

void tst_TimeGuard::openWith(const QString &clockStart, const QList<QJsonObject> &rules,
                             bool closed)
{
    m_keeper = std::make_unique<KeeperProcess>(MinuteMs, clockStart);
    QString why;
    QVERIFY2(m_keeper->start(&why), qPrintable(why));
    for (const QJsonObject &rule : rules) {
        const QJsonObject answer = m_keeper->ask(rule);
        QVERIFY2(answer.value("ok").toBool(), qPrintable(answer.value("error").toString()));
    }
    // A machine that only logs gives the keeper no rules, and its browsers never ask it the time.
    MachinePolicies::SetTimeRules(!rules.isEmpty());
    MachinePolicies::Forget();
    if (closed) {
        // Its first page is the one saying browsing is closed, not the start page.
        GenUtilities::SavePosition(QStringLiteral("10,20,900,700"));
        m_browser = std::make_unique<TestPages::Browser>();
        m_browser->window.show();
        QVERIFY(TTimeGuard::Instance() && TTimeGuard::Instance()->Closed());
        QVERIFY(showsClosedPage());
    } else {
        m_browser = TestPages::Browser::open(*m_dialogs);
        QVERIFY(m_browser);
        QVERIFY(TTimeGuard::Instance());
    }
    QCOMPARE(m_browser->window.findChild<QFrame *>("timeBar") != nullptr, !rules.isEmpty());
}

QString tst_TimeGuard::text(const char *id) const
{
    return TestPages::runScript(m_browser->view()->page(),
                                QStringLiteral("(document.getElementById('%1') || {}).textContent "
                                               "|| ''")
                                    .arg(QLatin1String(id)))
        .toString();
}

bool tst_TimeGuard::showsClosedPage(int timeout) const
{
    return QTest::qWaitFor(
        [this] { return m_browser->view()->url() == TTimeGuard::ClosedPageUrl(); }, timeout);
}

void tst_TimeGuard::budgetWarnsThenEndsBrowsing()
{
    openWith(QStringLiteral("2026-12-07T10:00"),
             {op("set-limit", {{"who", "everyone"}, {"minutes", 600}})});
    QVERIFY(m_browser->load(m_server.url("/page.html")));
    // Six minutes more than the start took, whatever it took.
    const int used = 600 - m_keeper->ask(op("status")).value("left").toInt();
    QVERIFY(m_keeper->ask(op("set-limit", {{"who", "everyone"}, {"minutes", used + 6}}))
                .value("ok")
                .toBool());

    // The bar comes once five minutes or fewer are left, before the end.
    auto *bar = m_browser->window.findChild<QFrame *>("timeBar");
    QVERIFY(bar);
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 20000);
    QCOMPARE(bar->findChild<QLabel *>("timeBarText")->text(),
             QStringLiteral("Browsing ends in 5 minutes."));
    QCOMPARE(m_browser->view()->url(), m_server.url("/page.html"));

    QVERIFY(showsClosedPage());
    QTRY_COMPARE_WITH_TIMEOUT(text("message"), QStringLiteral("Browsing is not available now."),
                              10000);
    QCOMPARE(text("opens"), QStringLiteral("It opens again tomorrow at 00:00."));
    QVERIFY(!bar->isVisible());

    // A link, a favorite or the address of a page: none of them reaches the web now.
    const int before = m_server.requestCount("/other.html");
    m_browser->view()->load(m_server.url("/other.html"));
    QVERIFY(showsClosedPage());
    QTRY_COMPARE_WITH_TIMEOUT(text("message"), QStringLiteral("Browsing is not available now."),
                              10000);
    QCOMPARE(m_server.requestCount("/other.html"), before);

    // Extra time from the parent opens it again.
    const QString account = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    QVERIFY(
        m_keeper->ask(op("add-time", {{"user", account}, {"minutes", 30}})).value("ok").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(!TTimeGuard::Instance()->Closed(), 10000);
    QVERIFY(m_browser->load(m_server.url("/other.html")));
}

void tst_TimeGuard::outsideTheScheduleNothingLoadsUntilUnlocked()
{
    // A Monday evening, after school-day hours.
    openWith(
        QStringLiteral("2026-12-07T20:05"),
        {op("set-schedule", {{"who", "everyone"}, {"spans", QJsonArray{"mon-fri 07:30-20:00"}}})},
        true);
    QTRY_COMPARE_WITH_TIMEOUT(text("opens"), QStringLiteral("It opens again tomorrow at 07:30."),
                              10000);
    const int before = m_server.requestCount("/page.html");
    m_browser->view()->load(m_server.url("/page.html"));
    QVERIFY(showsClosedPage());
    QCOMPARE(m_server.requestCount("/page.html"), before);

    // The parent at the keyboard browses; locking again closes it again.
    QVERIFY(m_browser->unlock(*m_dialogs));
    QVERIFY(m_browser->load(m_server.url("/page.html")));
    m_browser->window.AdminLock()->Lock();
    QVERIFY(showsClosedPage());
}

void tst_TimeGuard::silentKeeperClosesBrowsing()
{
    openWith(QString(), {op("set-limit", {{"who", "everyone"}, {"minutes", 600}})});
    QVERIFY(m_browser->load(m_server.url("/page.html")));
    QVERIFY(!TTimeGuard::Instance()->Closed());
    m_keeper->stop();
    QVERIFY(showsClosedPage());
    QTRY_COMPARE_WITH_TIMEOUT(
        text("opens"),
        QStringLiteral("The time keeper of this computer is not running. Ask the administrator."),
        10000);
}

void tst_TimeGuard::refusedAddressIsLogged()
{
    MachinePolicies::Set(&MachinePolicies::recMachinePolicies::log, MachinePolicies::Log::Blocked);
    openWith(QString(), {});
    QUrl refused = m_server.url("/play.html");
    refused.setHost("games.localhost");
    refused.setQuery("child=secret");
    m_browser->view()->load(refused);
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url().toString().contains("blocked.html"), 20000);

    // Kept without its query: what a child typed into a form is not the parent's log.
    QJsonArray entries;
    QTRY_VERIFY_WITH_TIMEOUT(
        (entries = m_keeper->ask(op("read-log")).value("entries").toArray()).size() == 1, 10000);
    const QJsonObject entry = entries.first().toObject();
    QCOMPARE(entry.value("kind").toString(), QStringLiteral("address"));
    QCOMPARE(entry.value("address").toString(),
             refused.adjusted(QUrl::RemoveQuery).toString(QUrl::FullyEncoded));
    QCOMPARE(entry.value("rule").toString(), QStringLiteral("games.localhost"));
}

void tst_TimeGuard::requestFromTheBlockedPageIsAnswered()
{
    MachinePolicies::Set(&MachinePolicies::recMachinePolicies::unblockRequests,
                         MachinePolicies::UnblockRequests::On);
    openWith(QString(), {});
    QUrl wanted = m_server.url("/play.html");
    wanted.setHost("games.localhost");

    // A page of the web cannot ask in the child's name: only the blocked page's own form may.
    QUrl other = wanted;
    other.setPath("/other.html");
    QUrl forged(QStringLiteral("quelvard://home/ask.html"));
    forged.setQuery("url=" + QString::fromLatin1(QUrl::toPercentEncoding(
                                 QString::fromLatin1(other.toEncoded().toPercentEncoding()))));
    m_server.setHtml("/forger.html", "Forger",
                     TestHttpServer::link("forged", forged.toString(QUrl::FullyEncoded)));
    QVERIFY(m_browser->load(m_server.url("/forger.html")));
    QVERIFY(TestPages::clickElement(m_browser->view(), "forged"));
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->view()->url(), forged, 20000);

    m_browser->view()->load(wanted);
    QTRY_COMPARE_WITH_TIMEOUT(text("askButton"), QStringLiteral("Ask to open this page"), 20000);
    TestPages::runScript(m_browser->view()->page(),
                         "document.getElementById('reason').value = 'for my homework'");
    QVERIFY(TestPages::clickElement(m_browser->view(), "askButton"));
    QTRY_VERIFY_WITH_TIMEOUT(text("asked").endsWith("Not answered yet."), 20000);
    QVERIFY2(text("asked").startsWith("Asked today at "), qPrintable(text("asked")));

    const QJsonArray open = m_keeper->ask(op("requests")).value("requests").toArray();
    QCOMPARE(open.size(), 1);
    const QJsonObject request = open.first().toObject();
    QCOMPARE(request.value("address").toString(), wanted.toString(QUrl::FullyEncoded));
    QCOMPARE(request.value("reason").toString(), QStringLiteral("for my homework"));

    // Allowed by the parent: the page opens in this run, without a restart.
    QVERIFY(m_keeper->ask(op("answer", {{"id", request.value("id")}, {"allow", true}}))
                .value("ok")
                .toBool());
    m_browser->view()->reload();
    QTRY_COMPARE_WITH_TIMEOUT(text("asked"), QStringLiteral("Allowed."), 20000);
    QVERIFY(TestPages::clickElement(m_browser->view(), "open"));
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->view()->url(), wanted, 20000);
    QCOMPARE(m_server.requestCount("/play.html"), 1);
}

void tst_TimeGuard::anotherProgramOnTheSocketIsRefused()
{
    // A program of another user listening where the keeper would: the browser must not take its
    // word that browsing is open.
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    const QString path = dir.path() + "/keeper.socket";
    QProcess impostor;
    impostor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    impostor.start(
        "runuser",
        {"-u", "nobody", "--", "python3", "-c",
         "import socket,sys,os\n"
         "s=socket.socket(socket.AF_UNIX);s.bind(sys.argv[1]);os.chmod(sys.argv[1],0o666)\n"
         "s.listen(4);print('ready',flush=True)\n"
         "while True:\n c,_=s.accept();c.recv(65536)\n"
         " b=b'{\"v\":1,\"ok\":true,\"allowed\":true}';c.sendall(len(b).to_bytes(4,'big')+b)\n",
         path});
    if (!impostor.waitForStarted(5000))
        QSKIP("runuser is not available to start a program as another user");
    QVERIFY(impostor.waitForReadyRead(10000));
    bool reached = true;
    const QJsonObject answer = KeeperClient::Call(op("status"), &reached, 3000, path);
    impostor.kill();
    impostor.waitForFinished();
    QVERIFY(!reached);
    QVERIFY2(answer.value("error").toString().contains("is not the time keeper"),
             qPrintable(answer.value("error").toString()));
}

QUELVARD_TEST_MAIN(tst_TimeGuard)
#include "tst_timeguard.moc"
