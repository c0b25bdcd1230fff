// Safe search on real pages: the engines' names are sent to the loopback server, which sees
// what the browser asked for when a link tried to turn safe search off.
#include "common/adminloginstore.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QtTest>
#include <memory>

class tst_SafeSearchPages : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        InitWebTestProcess();
        // The engines' hosts are this machine, for this test process only.
        // Quoted: the engine splits its flags at spaces outside quotes.
        QByteArray rules = "\"--host-resolver-rules=";
        for (const char *host : {"www.google.com", "www.google.co.uk", "www.bing.com",
                                 "duckduckgo.com", "www.youtube.com", "search.example",
                                 "www.youtube-nocookie.com", "youtubei.googleapis.com"})
            rules += QByteArray("MAP ") + host + " 127.0.0.1,";
        rules.chop(1);
        rules += '"';
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " " + rules);
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void forcedOnEveryEngine_data();
    void forcedOnEveryEngine();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TestPages::Browser> m_browser;
    TestHttpServer m_server;
};

void tst_SafeSearchPages::initTestCase()
{
    QVERIFY(m_server.start());
    for (const char *path : {"/search", "/watch", "/"})
        m_server.setHtml(QLatin1String(path), QStringLiteral("Results"));
    m_env = std::make_unique<TestEnvironment>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
    QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "", "", "", ""}));
    MachinePolicies::Set(&MachinePolicies::recMachinePolicies::safeSearch,
                         MachinePolicies::SafeSearchLevel::On);
    MachinePolicies::Forget();
    m_browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(m_browser);
}

void tst_SafeSearchPages::cleanupTestCase()
{
    m_browser.reset();
    m_dialogs.reset();
    m_env.reset();
    MachinePolicies::Forget();
}

void tst_SafeSearchPages::forcedOnEveryEngine_data()
{
    // The engines' own names are on the engine's list of hosts reached only over https, which
    // the loopback server does not speak: for those the address the browser went to is what
    // is checked; the server sees the rest.
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("seen");
    QTest::addColumn<QByteArray>("notSeen");
    QTest::addColumn<bool>("onServer");
    QTest::newRow("google") << "www.google.com"
                            << "/search?q=cats&safe=off"
                            << "/search" << QByteArray("/search?q=cats&safe=active")
                            << QByteArray("safe=off") << false;
    QTest::newRow("google, a country")
        << "www.google.co.uk"
        << "/search?safe=off&q=cats"
        << "/search" << QByteArray("/search?q=cats&safe=active") << QByteArray("safe=off") << false;
    QTest::newRow("bing") << "www.bing.com"
                          << "/search?q=cats&adlt=off"
                          << "/search" << QByteArray("/search?q=cats&adlt=strict")
                          << QByteArray("adlt=off") << false;
    QTest::newRow("duckduckgo") << "duckduckgo.com"
                                << "/?q=cats&kp=-2"
                                << "/" << QByteArray("/?q=cats&kp=1") << QByteArray("kp=-2")
                                << false;
    QTest::newRow("youtube") << "www.youtube-nocookie.com"
                             << "/watch?v=1"
                             << "/watch" << QByteArray("\r\nYouTube-Restrict: Strict")
                             << QByteArray("safe=") << true;
    QTest::newRow("youtube's API")
        << "youtubei.googleapis.com"
        << "/watch?v=2"
        << "/watch" << QByteArray("\r\nYouTube-Restrict: Strict") << QByteArray("safe=") << true;
    // Another engine is left as the link has it.
    QTest::newRow("another engine") << "search.example"
                                    << "/search?q=cats&safe=off"
                                    << "/search" << QByteArray("GET /search?q=cats&safe=off ")
                                    << QByteArray("safe=active") << true;
}

void tst_SafeSearchPages::forcedOnEveryEngine()
{
    QFETCH(QString, host);
    QFETCH(QString, pathAndQuery);
    QFETCH(QString, path);
    QFETCH(QByteArray, seen);
    QFETCH(QByteArray, notSeen);
    QFETCH(bool, onServer);
    const QUrl target(
        QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.url().port()).arg(pathAndQuery));
    m_server.setHtml("/links.html", "Links",
                     TestHttpServer::link("engine", target.toString(QUrl::FullyEncoded)));
    QVERIFY(m_browser->load(m_server.url("/links.html")));
    const int before = m_server.requestCount(path);
    QVERIFY(TestPages::clickElement(m_browser->view(), "engine"));
    if (!onServer) {
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->view()->url().host() == host, 20000);
        const QByteArray went = m_browser->view()->url().toEncoded();
        QVERIFY2(went.contains(seen) && !went.contains(notSeen), went.constData());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(path) > before, 20000);
    const QByteArray request = m_server.lastRequest(path);
    QVERIFY2(request.contains(seen), request.constData());
    QVERIFY2(!request.contains(notSeen), request.constData());
}

QUELVARD_TEST_MAIN(tst_SafeSearchPages)
#include "tst_safesearchpages.moc"
