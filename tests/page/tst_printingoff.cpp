// Printing turned off by the administrator, on every way to a printer a person or a page has:
// no print dialog opens, nothing is written, and the reason is said once.
#include "common/adminloginstore.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "page/pagecommands.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QtTest>
#include <functional>

using Route = std::function<void(TestPages::Browser &)>;
Q_DECLARE_METATYPE(Route)

class tst_PrintingOff : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setHtml("/page.html", "Page", "<p>Homework</p>");
    }
    void cleanup()
    {
        MachinePolicies::Forget();
        EnvironmentSuite::cleanup();
    }
    void everyRoute_data();
    void everyRoute();

private:
    TestHttpServer m_server;
};

void tst_PrintingOff::everyRoute_data()
{
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<Route>("route");
    QTest::addColumn<QString>("dialog");
    const Route menu = [](TestPages::Browser &b) { b.action("Print1")->trigger(); };
    const Route page = [](TestPages::Browser &b) {
        TestPages::runScript(b.view()->page(), "window.print()");
    };
    // Allowed, the same routes open their dialog: the refusals below are not a broken route.
    QTest::newRow("allowed: the menu") << true << menu << "dlgPrint";
    QTest::newRow("allowed: the page's print()") << true << page << "dlgPrint";
    QTest::newRow("the menu") << false << menu << "";
    QTest::newRow("print preview")
        << false << Route([](TestPages::Browser &b) { b.action("PrintPreview1")->trigger(); })
        << "";
    QTest::newRow("page setup") << false << Route([](TestPages::Browser &b) {
        b.action("PageSetup1")->trigger();
    }) << "";
    QTest::newRow("Ctrl+P") << false << Route([](TestPages::Browser &b) {
        QTest::keyClick(b.view()->focusProxy(), Qt::Key_P, Qt::ControlModifier);
    }) << "";
    QTest::newRow("the page's print()") << false << page << "";
}

void tst_PrintingOff::everyRoute()
{
    QFETCH(bool, allowed);
    QFETCH(Route, route);
    QFETCH(QString, dialog);
    if (!allowed)
        MachinePolicies::Set(&MachinePolicies::recMachinePolicies::printing,
                             MachinePolicies::Printing::Forbid);
    MachinePolicies::Forget();
    auto browser = TestPages::Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url("/page.html")));
    route(*browser);
    if (allowed) {
        QTRY_COMPARE(m_dialogs->dialogsRun, QStringList{dialog});
        return;
    }
    QTRY_COMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(), QStringLiteral("Printing is turned off on this computer."));
    // Said once: a page that keeps calling print() gets no second box, and no route a dialog.
    TestPages::runScript(browser->view()->page(), "window.print(); window.print()");
    browser->action("Print1")->trigger();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->dialogsRun, QStringList());
}

QUELVARD_TEST_MAIN(tst_PrintingOff)
#include "tst_printingoff.moc"
