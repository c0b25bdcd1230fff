// A page asking for the camera, the microphone, the screen or the location: the decision on its
// own, and the bar over a real page that asks the person once per site.
#include "common/machinepolicies.h"
#include "page/webview.h"
#include "permissions/permissionbar.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/browsertab.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using TAnswer = TPermissionPolicy::TAnswer;
using MachinePolicies::DeviceAccess;

class tst_Permissions : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain()
    {
        InitWebTestProcess();
        // A camera and a microphone the engine makes up, so an allowed request succeeds.
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --use-fake-device-for-media-stream");
    }

private slots:
    void initTestCase();
    void decide_data();
    void decide();
    void askedOncePerSite_data();
    void askedOncePerSite();
    void question_data();
    void question();
    void frameGone_data();
    void frameGone();
    void nextQuestionTakesNoClick_data();
    void nextQuestionTakesNoClick();

private:
    // A browser on the school's page, whose frame from another site (localhost) has asked for
    // the camera; the bar shows that question.
    struct Asked
    {
        std::unique_ptr<TestPages::Browser> browser;
        TPermissionBar *bar = nullptr;
    };
    bool openSchool(Asked &asked);
    QString frameSite() const { return QStringLiteral("localhost:%1").arg(m_server.url().port()); }
    QString pageSite() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.url().port()); }
    QString shownQuestion(TPermissionBar *bar) const
    {
        return bar->isHidden() ? QString() : bar->findChild<QLabel *>("lblPermission")->text();
    }

    TestHttpServer m_server;
};

void tst_Permissions::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml("/lesson", "Lesson", "<p>video lesson</p>");
    m_server.setHtml("/lesson2", "Lesson 2", "<p>video lesson</p>");
    // The frame asks when the page tells it to, and tells the page that it is there and how
    // its request ended.
    m_server.setHtml("/ads", "Ads",
                     "<script>parent.postMessage('ready', '*');"
                     " onmessage = e => { if (e.data === 'ask')"
                     " navigator.mediaDevices.getUserMedia({video: true})"
                     ".then(() => parent.postMessage('granted', '*'),"
                     " err => parent.postMessage(err.name, '*')); };</script>");
    m_server.setHtml(
        "/school", "School",
        QStringLiteral("<iframe id='ads' src='http://localhost:%1/ads' allow='camera'></iframe>"
                       "<iframe id='own' src='/lesson'></iframe>"
                       "<script>onmessage = e => document.title = 'frame ' + e.data;</script>")
            .arg(m_server.url().port()));
}

bool tst_Permissions::openSchool(Asked &asked)
{
    for (const auto &device : MachinePolicies::DeviceSettings)
        MachinePolicies::SetDeviceAccess(device, DeviceAccess::Ask);
    MachinePolicies::Forget();
    TPermissionPolicy::ForThisRun().ForgetAnswers();
    asked.browser = TestPages::Browser::open(*m_dialogs);
    if (!asked.browser || !asked.browser->load(m_server.url("/school")))
        return false;
    asked.bar = asked.browser->window.ActiveTab()->Sheet->findChild<TPermissionBar *>();
    if (!asked.bar)
        return false;
    TWebView *view = asked.browser->view();
    if (!QTest::qWaitFor([&] { return view->title() == QLatin1String("frame ready"); }, 20000))
        return false;
    TestPages::runScript(view->page(), "frames[0].postMessage('ask', '*')");
    const QString question =
        QStringLiteral("%1, inside %2, wants to use your camera.").arg(frameSite(), pageSite());
    return QTest::qWaitFor([&] { return shownQuestion(asked.bar) == question; }, 20000);
}

void tst_Permissions::decide_data()
{
    QTest::addColumn<QString>("machine");  // device=setting ...
    QTest::addColumn<QString>("answered"); // origin feature allow|deny, as the person answered
    QTest::addColumn<QString>("origin");
    QTest::addColumn<int>("feature");
    QTest::addColumn<TAnswer>("expected");
    const int both = QWebEnginePage::MediaAudioVideoCapture;
    const QString site = QStringLiteral("https://a.example:8443");
    QTest::newRow("nothing set asks") << ""
                                      << "" << site << both << TAnswer::Ask;
    QTest::newRow("both allowed") << "Camera=allow Microphone=allow"
                                  << "" << site << both << TAnswer::Allow;
    QTest::newRow("one blocked refuses both") << "Camera=allow Microphone=block"
                                              << "" << site << both << TAnswer::Deny;
    QTest::newRow("the one left was answered")
        << "Camera=allow" << site + " 2 allow" << site << both << TAnswer::Allow;
    QTest::newRow("camera answered, microphone still open")
        << "" << site + " 3 allow" << site << both << TAnswer::Ask;
    QTest::newRow("denied before") << "" << site + " 4 deny" << site << both << TAnswer::Deny;
    QTest::newRow("block beats an answer") << "Location=block" << site + " 1 allow" << site
                                           << int(QWebEnginePage::Geolocation) << TAnswer::Deny;
    QTest::newRow("another port is another site")
        << "" << site + " 4 allow"
        << "https://a.example:9443" << both << TAnswer::Ask;
    QTest::newRow("notifications never")
        << "Camera=allow Microphone=allow ScreenSharing=allow Location=allow" << site + " 0 allow"
        << site << int(QWebEnginePage::Notifications) << TAnswer::Deny;
}

void tst_Permissions::decide()
{
    QFETCH(QString, machine);
    QFETCH(QString, answered);
    QFETCH(QString, origin);
    QFETCH(int, feature);
    QFETCH(TAnswer, expected);
    MachinePolicies::recMachinePolicies settings;
    for (const QString &pair : machine.split(' ', Qt::SkipEmptyParts)) {
        for (const auto &setting : MachinePolicies::DeviceSettings) {
            if (pair.section('=', 0, 0) == QLatin1String(setting.valueName))
                settings.*setting.field = *MachinePolicies::ParseDeviceAccess(pair.section('=', 1));
        }
    }
    TPermissionPolicy policy([&] { return settings; });
    const QStringList answer = answered.split(' ', Qt::SkipEmptyParts);
    if (!answer.isEmpty())
        policy.Remember(QUrl(answer.at(0)), QWebEnginePage::Feature(answer.at(1).toInt()),
                        answer.at(2) == QLatin1String("allow"));
    QCOMPARE(policy.Decide(QUrl(origin), QWebEnginePage::Feature(feature)), expected);
}

void tst_Permissions::askedOncePerSite_data()
{
    QTest::addColumn<QString>("setting"); // camera and microphone
    QTest::addColumn<QString>("click");   // the bar's button, or none when nothing is asked
    QTest::addColumn<QString>("outcome"); // what the page's request ends in
    QTest::newRow("ask, Allow") << "ask"
                                << "btnPermissionAllow"
                                << "granted";
    QTest::newRow("ask, Deny") << "ask"
                               << "btnPermissionDeny"
                               << "NotAllowedError";
    QTest::newRow("allow") << "allow"
                           << ""
                           << "granted";
    QTest::newRow("block") << "block"
                           << ""
                           << "NotAllowedError";
}

void tst_Permissions::askedOncePerSite()
{
    QFETCH(QString, setting);
    QFETCH(QString, click);
    QFETCH(QString, outcome);
    for (const auto &device : MachinePolicies::DeviceSettings)
        MachinePolicies::SetDeviceAccess(device, *MachinePolicies::ParseDeviceAccess(setting));
    MachinePolicies::Forget();
    TPermissionPolicy::ForThisRun().ForgetAnswers();
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url("/lesson")));
    TWebView *view = browser->view();
    auto *bar = browser->window.ActiveTab()->Sheet->findChild<TPermissionBar *>();
    QVERIFY(bar);

    const auto request = [&](const QString &mark) {
        TestPages::runScript(
            view->page(),
            QStringLiteral("navigator.mediaDevices.getUserMedia({video: true, audio: true})"
                           ".then(() => document.title = '%1granted',"
                           " e => document.title = '%1' + e.name)")
                .arg(mark));
    };
    // The page asks from behind another tab: the question waits until its tab is shown.
    browser->window.NewTab1Click();
    request("1 ");
    if (!click.isEmpty()) {
        QTRY_VERIFY(!bar->isHidden());
        QVERIFY(!bar->isVisible());
        browser->window.pcMain->setCurrentIndex(0);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->findChild<QLabel *>()->text(),
                 QStringLiteral("127.0.0.1:%1 wants to use your camera and microphone.")
                     .arg(m_server.url().port()));
        // Shown only now, so the question is new to the person now.
        auto *button = bar->findChild<QPushButton *>(click);
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), "1 " + outcome, 15000);
    QVERIFY(bar->isHidden());
    // Asked again, from a new page of the same site: the answer stands, no question.
    QVERIFY(TestPages::loadInTab(qobject_cast<TBrowserTab *>(browser->window.pcMain->Tabs().at(0)),
                                 m_server.url("/lesson2")));
    request("2 ");
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), "2 " + outcome, 15000);
    QVERIFY(bar->isHidden());
}

void tst_Permissions::question_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a frame of another site")
        << "https://ads.example"
        << "https://school.example/lesson"
        << "ads.example, inside school.example, wants to use your camera.";
    QTest::newRow("the page's own site") << "https://school.example"
                                         << "https://school.example/lesson"
                                         << "school.example wants to use your camera.";
    QTest::newRow("another port is another site")
        << "https://school.example:8443"
        << "https://school.example/lesson"
        << "school.example:8443, inside school.example, wants to use your camera.";
    QTest::newRow("no page known") << "https://ads.example"
                                   << ""
                                   << "ads.example wants to use your camera.";
}

void tst_Permissions::question()
{
    QFETCH(QString, origin);
    QFETCH(QString, page);
    QTEST(TPermissionPolicy::Question(QUrl(origin), QWebEnginePage::MediaVideoCapture, QUrl(page)),
          "expected");
}

void tst_Permissions::frameGone_data()
{
    QTest::addColumn<QString>("script"); // what the page does while its frame's question waits
    QTest::addColumn<bool>("dropped");
    QTest::newRow("the frame is removed") << "document.getElementById('ads').remove()" << true;
    QTest::newRow("the frame goes to the page's own site")
        << "document.getElementById('ads').src = '/lesson2'" << true;
    QTest::newRow("the page goes elsewhere") << "location.href = '/lesson2'" << true;
    QTest::newRow("another frame is removed") << "document.getElementById('own').remove()" << false;
}

void tst_Permissions::frameGone()
{
    QFETCH(QString, script);
    QFETCH(bool, dropped);
    Asked asked;
    QVERIFY(openSchool(asked));
    QWebEnginePage *page = asked.browser->view()->page();
    // The page's own question waits behind the frame's.
    QSignalSpy requested(page, &QWebEnginePage::featurePermissionRequested);
    TestPages::runScript(page, "navigator.mediaDevices.getUserMedia({audio: true}).catch(e => 0)");
    QTRY_COMPARE(requested.count(), 1);
    QSignalSpy checked(asked.bar, &TPermissionBar::FramesChecked);
    TestPages::runScript(page, script);
    if (dropped) {
        QTRY_VERIFY_WITH_TIMEOUT(
            asked.bar->isHidden() || !shownQuestion(asked.bar).startsWith(frameSite()), 10000);
        // Refused, not answered for the person: the site is asked again next time.
        QCOMPARE(TPermissionPolicy::ForThisRun().Decide(QUrl("http://" + frameSite()),
                                                        QWebEnginePage::MediaVideoCapture),
                 TAnswer::Ask);
        if (script.startsWith("location"))
            QTRY_VERIFY(asked.bar->isHidden()); // the page's own question went with the page
        else
            QCOMPARE(shownQuestion(asked.bar), pageSite() + " wants to use your microphone.");
    } else {
        // Two looks at the frames, so the second began after the removal.
        QTRY_VERIFY_WITH_TIMEOUT(checked.count() >= 2, 10000);
        QVERIFY(shownQuestion(asked.bar).startsWith(frameSite() + ", inside "));
    }
}

void tst_Permissions::nextQuestionTakesNoClick_data()
{
    QTest::addColumn<QString>("first"); // the button that answers the frame's question
    QTest::addColumn<QString>("frameHears");
    QTest::newRow("Allow") << "btnPermissionAllow"
                           << "frame granted";
    QTest::newRow("Deny") << "btnPermissionDeny"
                          << "frame NotAllowedError";
}

void tst_Permissions::nextQuestionTakesNoClick()
{
    QFETCH(QString, first);
    QFETCH(QString, frameHears);
    Asked asked;
    QVERIFY(openSchool(asked));
    QWebEnginePage *page = asked.browser->view()->page();
    auto *allow = asked.bar->findChild<QPushButton *>("btnPermissionAllow");
    auto *deny = asked.bar->findChild<QPushButton *>("btnPermissionDeny");
    const QString frameQuestion = shownQuestion(asked.bar);
    QSignalSpy requested(page, &QWebEnginePage::featurePermissionRequested);
    TestPages::runScript(page, "navigator.mediaDevices.getUserMedia({audio: true})"
                               ".then(() => document.title = 'page granted')");
    QTRY_COMPARE(requested.count(), 1);

    // The frame's question is new: a click on it now does nothing.
    QVERIFY(!allow->isEnabled() && !deny->isEnabled());
    QTest::mouseClick(allow, Qt::LeftButton);
    QCOMPARE(shownQuestion(asked.bar), frameQuestion);
    QTRY_VERIFY(allow->isEnabled() && deny->isEnabled());

    // Answered, the page's own question takes its place; the second click of a double click
    // lands on it and does nothing, for a whole second.
    QElapsedTimer since;
    since.start();
    QTest::mouseClick(asked.bar->findChild<QPushButton *>(first), Qt::LeftButton);
    const QString pageQuestion = pageSite() + " wants to use your microphone.";
    QCOMPARE(shownQuestion(asked.bar), pageQuestion);
    QTest::mouseClick(allow, Qt::LeftButton);
    QCOMPARE(shownQuestion(asked.bar), pageQuestion);
    QTRY_COMPARE_WITH_TIMEOUT(asked.browser->view()->title(), frameHears, 15000);
    QTRY_VERIFY(allow->isEnabled());
    QVERIFY2(since.elapsed() >= 1000, qPrintable(QString::number(since.elapsed())));
    QCOMPARE(shownQuestion(asked.bar), pageQuestion);
    QTest::mouseClick(allow, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(asked.browser->view()->title(), "page granted", 15000);
    QVERIFY(asked.bar->isHidden());
}

QUELVARD_TEST_MAIN(tst_Permissions)

#include "tst_permissions.moc"
