// The administrator's machine-wide settings as the browser uses them: the home page, popup
// sites allowed for everyone, and whether browsing data outlives a run.
#include "app/browserprofile.h"
#include "app/schemehandler.h"
#include "common/adminloginstore.h"
#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "page/webview.h"
#include "popups/popupblocker.h"
#include "popups/popups.h"
#include "support/controls.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/browsertab.h"
#include "ui_popups.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTableWidget>
#include <QWebEngineProfile>
#include <QtTest>

using TestSupport::Control;

namespace {

// Run in a child process, which is a whole run of the browser's engine with the folders a
// real run uses (the parent points XDG_DATA_HOME and XDG_CACHE_HOME at a temporary folder):
// loads `url` with the browsing-data setting of `machineHive`, then prints the page's cookies.
int childRun(const QString &machineHive, const QString &url)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TQuelvardSchemeHandler::RegisterScheme();
    int argc = 1;
    char name[] = "quelvard";
    char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quelvard"));
    AppPaths::OverrideMachineHiveFile(machineHive);
    int status = 1;
    {
        TWebView view;
        view.Navigate(url);
        if (QTest::qWaitFor([&] { return view.LocationURL() == url && !view.Busy(); }, 20000)) {
            const QVariant cookies = TestPages::runScript(view.page(), "document.cookie");
            std::printf("cookies=[%s]\n", qPrintable(cookies.toString()));
            status = 0;
        }
    }
    std::fflush(stdout);
    return status;
}

} // namespace

class tst_MachineSettings : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void homePageReplacesTheStartPage();
    void machineListLetsAPopupThrough();
    void browsingDataAcrossRestarts_data();
    void browsingDataAcrossRestarts();

private:
    TestHttpServer m_server;
};

void tst_MachineSettings::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml("/home.html", "School home", "<p>home</p>");
    m_server.setHtml("/onload.html", "On load", "<script>window.open('/popup.html');</script>");
    m_server.setHtml("/popup.html", "Popup", "<p>popup</p>");
    m_server.setHtml("/set-cookie.html", "Set",
                     "<script>document.cookie = 'kept=yes; max-age=86400; path=/';</script>");
    m_server.setHtml("/read-cookie.html", "Read", "<p>read</p>");
}

void tst_MachineSettings::init()
{
    EnvironmentSuite::init();
    QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "", "", "", ""}));
    GenUtilities::SavePosition(QStringLiteral("10,20,900,600")); // not a first run
}

void tst_MachineSettings::homePageReplacesTheStartPage()
{
    const QString home = m_server.url("/home.html").toString();
    MachinePolicies::SetHomePage(home);
    MachinePolicies::Forget();

    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(TestPages::waitForUrl(window, home));
    // Its own address, not the stand-in the built-in pages show.
    QCOMPARE(Control<QLineEdit>(&window, "edtAddress")->text(), home);

    window.ActiveTab()->NavigateTo(m_server.url("/popup.html").toString());
    QVERIFY(TestPages::waitForUrl(window, m_server.url("/popup.html").toString()));
    window.Home1Click();
    QVERIFY(TestPages::waitForUrl(window, home));
}

void tst_MachineSettings::machineListLetsAPopupThrough()
{
    MachinePolicies::AllowSite(GenUtilities::GetDomain(m_server.url().toString()));
    MachinePolicies::AllowSite(QStringLiteral("other.example"));
    MachinePolicies::Forget();

    TfrmQuelvardBrowser window;
    window.show();
    QTRY_VERIFY(window.pcMain->TabCount() == 1 && window.ActiveTab()->WebView);
    window.ActiveTab()->NavigateTo(m_server.url("/onload.html").toString());
    QTRY_COMPARE_WITH_TIMEOUT(window.pcMain->TabCount(), 2, 15000);
    QVERIFY(window.PopupBlocker()->RefusedSite(window.pcMain->Tabs().value(0)).isEmpty());
    // The user's own list is untouched, and its dialog says what the administrator allows.
    QVERIFY(PopupStore::ListSites().isEmpty());
    TfrmPopups dialog(&window);
    QCOMPARE(dialog.gridSites->rowCount(), 1); // only the empty row
    QVERIFY(!dialog.ui->lblMachineSites->isHidden());
    // Both of the administrator's sites are named, read-only, beside the user's own list.
    const QString named = dialog.ui->lblMachineSites->text();
    QVERIFY2(named.contains(GenUtilities::GetDomain(m_server.url().toString())) &&
                 named.contains(QStringLiteral("other.example")),
             qPrintable(named));
}

void tst_MachineSettings::browsingDataAcrossRestarts_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("cookiesAfterRestart");
    QTest::newRow("keep") << "keep"
                          << "kept=yes";
    QTest::newRow("forget") << "forget"
                            << "";
}

void tst_MachineSettings::browsingDataAcrossRestarts()
{
    QFETCH(QString, setting);
    QFETCH(QString, cookiesAfterRestart);
    MachinePolicies::SetBrowsingData(*MachinePolicies::ParseBrowsingData(setting));
    const QString xdg = m_env->root() + QStringLiteral("/xdg");

    const auto run = [&](const QString &path) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", xdg + "/data");
        environment.insert("XDG_CACHE_HOME", xdg + "/cache");
        environment.insert("XDG_CONFIG_HOME", xdg + "/config");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--child", m_env->machineHive(), m_server.url(path).toString()});
        // The loopback server answers from this process's event loop.
        const bool ended =
            QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 60000);
        if (!ended) {
            child.kill();
            child.waitForFinished();
        }
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
        const qsizetype at = out.indexOf("cookies=[");
        return at < 0 ? QStringLiteral("(no run: %1)")
                            .arg(QString::fromLocal8Bit(child.readAllStandardError()).right(2000))
                      : out.mid(at + 9, out.indexOf(']', at) - at - 9);
    };
    QCOMPARE(run("/set-cookie.html"), QStringLiteral("kept=yes"));
    QCOMPARE(run("/read-cookie.html"), cookiesAfterRestart);

    // The engine keeps its data in folders of its own, never in the favorites folder.
    QCOMPARE(QFileInfo::exists(xdg + "/data/quelvard-browsing-data"), setting == "keep");
    const QDir favorites(xdg + "/data/Quelvard");
    const QStringList gained = favorites.entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    QVERIFY2(gained.isEmpty(), qPrintable(gained.join(' ')));
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--child") == 0)
        return childRun(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    InitWebTestProcess();
    QApplication application(argc, argv);
    tst_MachineSettings test;
    return TestSupport::RunSuite(&test, argc, argv);
}

#include "tst_machinesettings.moc"
