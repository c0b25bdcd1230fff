// A page asking for the camera, the microphone, the screen or the location: the decision on its
// own, and the bar over a real page that asks the person once per site.
#include "common/machinepolicies.h"
#include "main/browsertab.h"
#include "main/webview.h"
#include "permissions/permissionbar.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QLabel>
#include <QPushButton>

using TAnswer = TPermissionPolicy::TAnswer;
using MachinePolicies::DeviceAccess;

class tst_Permissions : public QObject
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

private:
    TestHttpServer m_server;
};

void tst_Permissions::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml("/lesson", "Lesson", "<p>video lesson</p>");
    m_server.setHtml("/lesson2", "Lesson 2", "<p>video lesson</p>");
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
    TestEnvironment env;
    ScriptedDialogs dialogs;
    for (const auto &device : MachinePolicies::DeviceSettings)
        MachinePolicies::SetDeviceAccess(device, *MachinePolicies::ParseDeviceAccess(setting));
    MachinePolicies::Forget();
    TPermissionPolicy::ForThisRun().ForgetAnswers();
    auto browser = TestPages::Browser::open(dialogs);
    QVERIFY(browser);
    QVERIFY(browser->load(m_server.url("/lesson")));
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
        QTest::mouseClick(bar->findChild<QPushButton *>(click), Qt::LeftButton);
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

QUELVARD_TEST_MAIN(tst_Permissions)

#include "tst_permissions.moc"
