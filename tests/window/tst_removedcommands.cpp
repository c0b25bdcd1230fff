// Commands the administrator took away from a visitor: hidden wherever they show, and doing
// nothing from any route, while the same routes work on a machine that keeps them.
#include "common/machinepolicies.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "tabs/tabcontrol.h"

#include <QApplication>
#include <QMenuBar>
#include <QtTest>
#include <functional>

using Route = std::function<void(TestPages::Browser &)>;
Q_DECLARE_METATYPE(Route)

namespace {

// What any of the routes below changes when it works: a dialog, a tab or a window.
int effects(TestPages::Browser &b, const ScriptedDialogs &dialogs)
{
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows += widget->isVisible() && widget->isWindow() && !qobject_cast<QMenu *>(widget);
    return int(dialogs.dialogsRun.size()) + b.window.pcMain->TabCount() + windows;
}

Route trigger(const char *name)
{
    return [name](TestPages::Browser &b) { b.action(name)->trigger(); };
}

} // namespace

class tst_RemovedCommands : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setHtml("/page.html", "Page", "<p>Catalogue</p>");
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

void tst_RemovedCommands::everyRoute_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("items"); // every place the command shows
    QTest::addColumn<Route>("route");
    const QStringList save{"SaveAs1", "SaveAs2"};
    const QStringList print{"Print1", "PrintPreview1", "PageSetup1"};
    const QStringList source{"ViewSource1", "ViewSource2"};
    QTest::newRow("save: the menu") << "save" << save << trigger("SaveAs1");
    QTest::newRow("save: the context menu") << "save" << save << trigger("SaveAs2");
    QTest::newRow("print: the menu") << "print" << print << trigger("Print1");
    QTest::newRow("print: preview") << "print" << print << trigger("PrintPreview1");
    QTest::newRow("print: Ctrl+P") << "print" << print << Route([](TestPages::Browser &b) {
        QTest::keyClick(b.view()->focusProxy(), Qt::Key_P, Qt::ControlModifier);
    });
    QTest::newRow("print: the page's print()")
        << "print" << print << Route([](TestPages::Browser &b) {
               TestPages::runScript(b.view()->page(), "window.print()");
           });
    QTest::newRow("view source: the menu") << "view-source" << source << trigger("ViewSource1");
    QTest::newRow("view source: the context menu")
        << "view-source" << source << trigger("ViewSource2");
    QTest::newRow("new tab") << "new-tab" << QStringList{"NewTab1"} << trigger("NewTab1");
    QTest::newRow("admin menu") << "admin-menu" << QStringList{"ChangeAdminLogin1"}
                                << trigger("ChangeAdminLogin1");
}

void tst_RemovedCommands::everyRoute()
{
    QFETCH(QString, group);
    QFETCH(QStringList, items);
    QFETCH(Route, route);
    for (const bool removed : {false, true}) {
        MachinePolicies::Write(*MachinePolicies::FindSetting("removed-commands"),
                               removed ? group : QStringLiteral("none"));
        MachinePolicies::Forget();
        m_dialogs->dialogsRun.clear();
        auto browser = TestPages::Browser::open(*m_dialogs);
        QVERIFY(browser && browser->load(m_server.url("/page.html")));
        for (const QString &item : items) {
            QAction *action = browser->window.findChild<QAction *>(item);
            if (!action)
                action = browser->menuItem(qPrintable(item));
            QVERIFY2(action && action->isVisible() == !removed, qPrintable(item));
        }
        if (group == QLatin1String("admin-menu")) {
            auto *admin = browser->window.findChild<QMenu *>("Admin1");
            QCOMPARE(admin->menuAction()->isVisible(), !removed);
        }
        const int before = effects(*browser, *m_dialogs);
        route(*browser);
        if (!removed) {
            QTRY_VERIFY2(effects(*browser, *m_dialogs) > before, "the route itself does nothing");
            continue;
        }
        // A command that still works, after the refused one: when its dialog has come, the
        // refused one had its turn.
        browser->action("PageProperties1")->trigger();
        QTRY_COMPARE(m_dialogs->dialogsRun, QStringList{"TfrmPageProperties"});
        QCOMPARE(effects(*browser, *m_dialogs), before + 1);
    }
}

QUELVARD_TEST_MAIN(tst_RemovedCommands)
#include "tst_removedcommands.moc"
