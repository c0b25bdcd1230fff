// The navigation, editing and About commands of the tool bar, the menus and the keys, against
// real pages on a loopback server.
#include "app/schemehandler.h"
#include "config.h"
#include "page/finddialog.h"
#include "page/sourceview.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "tabs/tabcontrol.h"
#include "ui_about.h"
#include "window/about.h"
#include "window/keyhook.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QtTest>

using namespace TestPages;

class tst_PageCommands : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();

    void commandsWithoutActiveTabDoNothing_data();
    void commandsWithoutActiveTabDoNothing();
    void backAndForwardAcrossThreePages();
    void backWithoutHistoryIsSilent();
    void refreshReloads();
    void stopEndsASlowLoad();
    void goAndEnterNavigateAlike();
    void refusedAddressShowsTheMessage_data();
    void refusedAddressShowsTheMessage();
    void selectAllThenCopy();
    void pasteAndCutInAField();
    void pasteIntoNothingIsSilent();
    void aboutBox();
    void acceleratorsReachThePage();
    void editingKeysAreNotDoubled();
    void backspaceDoesNotGoBack();

private:
    TestHttpServer m_server;
};

void tst_PageCommands::initTestCase()
{
    TQuelvardSchemeHandler::Install(QWebEngineProfile::defaultProfile());
    QVERIFY(m_server.start());
    for (const char *name : {"one", "two", "three"}) {
        const QString title = QString::fromLatin1(name);
        m_server.setHtml(QLatin1Char('/') + title, title.toUpper(),
                         QStringLiteral("<p>page %1</p>").arg(title));
    }
    for (const char *path : {"/go", "/enter"})
        m_server.setHtml(QLatin1String(path), QLatin1String(path + 1));
    // Answered long after any test has given up on it, for a load that stays in progress.
    m_server.setHtml(QStringLiteral("/slow"), QStringLiteral("Slow"));
    m_server.setDelay(QStringLiteral("/slow"), 600000);
    m_server.setHtml(QStringLiteral("/text"), QStringLiteral("Text Page"),
                     QStringLiteral("<p id=\"text\">%1</p>").arg(PageText));
    m_server.setHtml(QStringLiteral("/field"), QStringLiteral("Field Page"),
                     QStringLiteral("<input id=\"field\" value=\"\" style=\"width:300px\">"
                                    "<p>%1</p>")
                         .arg(PageText));
}

void tst_PageCommands::commandsWithoutActiveTabDoNothing_data()
{
    QTest::addColumn<int>("command");
    const QStringList names = {"Back",       "Forward",   "Home",  "Refresh",      "Stop",
                               "SaveAs",     "PageSetup", "Print", "PrintPreview", "Properties",
                               "ViewSource", "Cut",       "Copy",  "Paste",        "SelectAll",
                               "Find",       "GoTo"};
    for (int i = 0; i < names.size(); ++i)
        QTest::newRow(qPrintable(names.at(i))) << i;
}

void tst_PageCommands::commandsWithoutActiveTabDoNothing()
{
    QFETCH(int, command);
    using Handler = void (TfrmQuelvardBrowser::*)();
    const Handler handlers[] = {
        &TfrmQuelvardBrowser::Back1Click,         &TfrmQuelvardBrowser::Forward1Click,
        &TfrmQuelvardBrowser::Home1Click,         &TfrmQuelvardBrowser::sbRefreshClick,
        &TfrmQuelvardBrowser::sbStopClick,        &TfrmQuelvardBrowser::SaveAs1Click,
        &TfrmQuelvardBrowser::PageSetup1Click,    &TfrmQuelvardBrowser::Print1Click,
        &TfrmQuelvardBrowser::PrintPreview1Click, &TfrmQuelvardBrowser::PageProperties1Click,
        &TfrmQuelvardBrowser::ViewSource1Click,   &TfrmQuelvardBrowser::Cut1Click,
        &TfrmQuelvardBrowser::Copy1Click,         &TfrmQuelvardBrowser::Paste1Click,
        &TfrmQuelvardBrowser::SelectAll1Click,    &TfrmQuelvardBrowser::Find1Click,
        &TfrmQuelvardBrowser::tbGoToClick,
    };
    // Never shown, so no tab was ever opened.
    TfrmQuelvardBrowser window;
    auto *address = TestSupport::Control<QLineEdit>(&window, "edtAddress");
    address->setEnabled(true);
    address->setText(m_server.url(QStringLiteral("/one")).toString());
    const int dialogsBefore = m_dialogs->dialogsRun.size();
    QCOMPARE(window.pcMain->ActiveTabIndex(), -1);
    (window.*handlers[command])();
    QCoreApplication::sendPostedEvents(); // what the command queued has run
    QCOMPARE(m_dialogs->dialogsRun.size(), dialogsBefore);
    QVERIFY(m_dialogs->messages.isEmpty());
    QVERIFY(!window.findChild<TfrmFind *>());
    QVERIFY(!window.findChild<TfrmSource *>());
    QCOMPARE(window.pcMain->TabCount(), 0);
}

void tst_PageCommands::backAndForwardAcrossThreePages()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    const QUrl one = m_server.url(QStringLiteral("/one"));
    const QUrl two = m_server.url(QStringLiteral("/two"));
    const QUrl three = m_server.url(QStringLiteral("/three"));
    QVERIFY(browser->load(one));
    QVERIFY(browser->load(two));
    QVERIFY(browser->load(three));

    w.Back1Click();
    QVERIFY(waitForUrl(w, two));
    QCOMPARE(w.windowTitle(), QStringLiteral("Quelvard - TWO"));
    QCOMPARE(browser->address()->text(), two.toString());
    browser->action("tbBack")->trigger();
    QVERIFY(waitForUrl(w, one));
    browser->menuItem("Forward2")->trigger();
    QVERIFY(waitForUrl(w, two));
    browser->action("Forward1")->trigger();
    QVERIFY(waitForUrl(w, three));
    // At the end of the history Forward does nothing.
    browser->action("tbNext")->trigger();
    QCOMPARE(runScript(browser->view()->page(), QStringLiteral("location.href")).toUrl(), three);
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageCommands::backWithoutHistoryIsSilent()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    w.NewTab1Click();
    QCOMPARE(w.pcMain->ActiveTabIndex(), 1);
    const QUrl start(QStringLiteral(QUELVARD_START_PAGE_URL));
    QVERIFY(waitForUrl(w, start));
    for (QAction *action :
         {browser->action("tbBack"), browser->action("Back1"), browser->action("tbNext")}) {
        action->trigger();
        QCOMPARE(runScript(browser->view()->page(), QStringLiteral("location.href")).toUrl(),
                 start);
    }
    QVERIFY(browser->view()->page()->history()->count() <= 1);
    QVERIFY(m_dialogs->messages.isEmpty());
    QVERIFY(m_dialogs->dialogsRun.isEmpty());
}

void tst_PageCommands::refreshReloads()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl one = m_server.url(QStringLiteral("/one"));
    QVERIFY(browser->load(one));
    const int before = m_server.requestCount(QStringLiteral("/one"));
    QSignalSpy loads(browser->view()->page(), &QWebEnginePage::loadFinished);
    browser->action("tbRefresh")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/one")), before + 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!loads.isEmpty(), 10000);
    // Reload from the context menu does the same.
    browser->menuItem("Reload1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/one")), before + 2, 10000);
}

void tst_PageCommands::stopEndsASlowLoad()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TWebView *view = browser->view();
    QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
    QSignalSpy finished(view->page(), &QWebEnginePage::loadFinished);
    browser->window.ActiveTab()->NavigateTo(m_server.url(QStringLiteral("/slow")).toString());
    QTRY_VERIFY_WITH_TIMEOUT(view->Busy(), 10000);
    runScript(view->page(), QStringLiteral("0"));
    QVERIFY(view->Busy());
    QVERIFY(finished.isEmpty());
    browser->action("tbStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!view->Busy(), 5000);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(m_dialogs->messages.isEmpty());
    // Stop with nothing loading does nothing: the next load is the only one to finish.
    browser->menuItem("Stop1")->trigger();
    QVERIFY(browser->load(m_server.url(QStringLiteral("/one"))));
    QCOMPARE(finished.size(), 2);
    QCOMPARE(finished.last().first().toBool(), true);
}

void tst_PageCommands::goAndEnterNavigateAlike()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    QVERIFY(browser->unlock(*m_dialogs));

    const QUrl go = m_server.url(QStringLiteral("/go"));
    // Typed with the scheme in capitals, so the box shows the loaded page's address only when
    // the window wrote it there.
    const auto typed = [](const QUrl &url) {
        return url.toString().replace(QLatin1String("http:"), QLatin1String("HTTP:"));
    };
    browser->address()->setText(typed(go));
    browser->action("tbGoTo")->trigger();
    QVERIFY(waitForUrl(w, go));
    QCOMPARE(browser->address()->text(), go.toString());

    const QUrl enter = m_server.url(QStringLiteral("/enter"));
    browser->address()->setText(typed(enter));
    browser->address()->setFocus();
    QTest::keyClick(browser->address(), Qt::Key_Return);
    QVERIFY(waitForUrl(w, enter));
    QCOMPARE(browser->address()->text(), enter.toString());
    QCOMPARE(m_server.requestCount(QStringLiteral("/go")), 1);
    QCOMPARE(m_server.requestCount(QStringLiteral("/enter")), 1);
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageCommands::refusedAddressShowsTheMessage_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("   ");
    QTest::newRow("script") << QStringLiteral("javascript:alert(1)");
}

void tst_PageCommands::refusedAddressShowsTheMessage()
{
    QFETCH(QString, address);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->unlock(*m_dialogs));
    m_dialogs->dialogsRun.clear();
    browser->address()->setText(address);
    browser->action("tbGoTo")->trigger();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QVERIFY(m_dialogs->lastMessage().startsWith(
        QStringLiteral("Opening the selected favorite caused an error: ")));
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
    QCOMPARE(runScript(browser->view()->page(), QStringLiteral("location.href")).toUrl(),
             QUrl(QStringLiteral(QUELVARD_START_PAGE_URL)));
}

void tst_PageCommands::selectAllThenCopy()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/text"))));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    browser->action("SelectAll1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(browser->view()->selectedText().trimmed(), PageText, 5000);
    browser->action("Copy1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text().trimmed(), PageText, 5000);
}

void tst_PageCommands::pasteAndCutInAField()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/field"))));
    QWebEnginePage *page = browser->view()->page();
    runScript(page, QStringLiteral("document.getElementById('field').focus()"));
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted words"));
    browser->action("Paste1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(
        runScript(page, QStringLiteral("document.getElementById('field').value")).toString(),
        QStringLiteral("pasted words"), 5000);

    runScript(page, QStringLiteral("document.getElementById('field').select()"));
    browser->action("Cut1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(
        runScript(page, QStringLiteral("document.getElementById('field').value")).toString(),
        QString(), 5000);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("pasted words"));
}

void tst_PageCommands::pasteIntoNothingIsSilent()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/text"))));
    QGuiApplication::clipboard()->setText(QStringLiteral("nowhere to go"));
    browser->action("Paste1")->trigger();
    browser->action("Cut1")->trigger();
    QCOMPARE(runScript(browser->view()->page(), QStringLiteral("document.body.innerText"))
                 .toString()
                 .trimmed(),
             PageText);
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageCommands::aboutBox()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    int result = -1;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *about = qobject_cast<TfrmAbout *>(dialog);
        if (!about)
            return int(QDialog::Accepted);
        [&] {
            QCOMPARE(about->parentWidget(), &browser->window);
            QCOMPARE(about->windowTitle(), QStringLiteral("About Quelvard"));
            QCOMPARE(about->size(), QSize(265, 161));
            QCOMPARE(about->minimumSize(), about->maximumSize());
            QVERIFY(!(about->windowFlags() & Qt::WindowMinMaxButtonsHint));
            QVERIFY(about->windowFlags() & Qt::WindowCloseButtonHint);
            QCOMPARE(about->ui->imgQuelvard->geometry(), QRect(8, 8, 249, 73));
            QVERIFY(!about->ui->imgQuelvard->pixmap().isNull());
            QCOMPARE(about->ui->imgQuelvard->pixmap().size(), QSize(249, 73));
            QCOMPARE(about->ui->lblVersion->text(), QStringLiteral("Version 2.0.321"));
            QCOMPARE(about->ui->lblVersion->geometry(), QRect(80, 72, 178, 16));
            QVERIFY(about->ui->lblVersion->font().bold());
            QVERIFY(about->ui->lblVersion->alignment() & Qt::AlignRight);
            QCOMPARE(about->ui->Panel1->geometry(), QRect(8, 112, 249, 2));
            QCOMPARE(about->ui->cbClose->geometry(), QRect(96, 124, 75, 25));
            QCOMPARE(about->ui->cbClose->text(), QStringLiteral("&Close"));
            QVERIFY(about->ui->cbClose->isDefault());
        }();
        about->ui->cbClose->click();
        result = about->result();
        return about->result();
    };
    browser->action("About1")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmAbout")});
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!browser->window.findChild<TfrmAbout *>());
}

void tst_PageCommands::acceleratorsReachThePage()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    TWebView *view = browser->view();
    // Ctrl+A from the tab row selects the page, which takes the focus.
    QVERIFY(browser->load(m_server.url(QStringLiteral("/text"))));
    w.pcMain->tabBar()->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(w.pcMain->tabBar(), Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(view->selectedText().trimmed(), PageText, 5000);
    QVERIFY(view->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text().trimmed(), PageText, 5000);
    // Ctrl+C from the tab row copies the page's selection too.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    w.pcMain->tabBar()->setFocus();
    QTest::keyClick(w.pcMain->tabBar(), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text().trimmed(), PageText, 5000);
}

void tst_PageCommands::editingKeysAreNotDoubled()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/field"))));
    TWebView *view = browser->view();
    QVERIFY(waitForPaint(view));
    view->setFocus();
    QWebEnginePage *page = view->page();
    runScript(page, QStringLiteral("document.getElementById('field').focus()"));
    QGuiApplication::clipboard()->setText(QStringLiteral("once"));
    QTest::keyClick(view->focusProxy(), Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(
        runScript(page, QStringLiteral("document.getElementById('field').value")).toString(),
        QStringLiteral("once"), 5000);
    runScript(page, QStringLiteral("0")); // after a second paste, if there were one
    QCOMPARE(runScript(page, QStringLiteral("document.getElementById('field').value")).toString(),
             QStringLiteral("once"));

    // In the unlocked address bar the keys edit the address, not the page.
    browser->address()->setEnabled(true);
    browser->address()->setText(QStringLiteral("typed"));
    browser->address()->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral(" more"));
    browser->address()->end(false);
    QTest::keyClick(browser->address(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(browser->address()->text(), QStringLiteral("typed more"));
    QCOMPARE(runScript(page, QStringLiteral("document.getElementById('field').value")).toString(),
             QStringLiteral("once"));
}

void tst_PageCommands::backspaceDoesNotGoBack()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl one = m_server.url(QStringLiteral("/one"));
    const QUrl two = m_server.url(QStringLiteral("/two"));
    QVERIFY(browser->load(one));
    QVERIFY(browser->load(two));
    const int requestsBefore = m_server.requestCount(QStringLiteral("/one"));
    TWebView *view = browser->view();
    QVERIFY(waitForPaint(view));
    view->setFocus();
    QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Right})
        QTest::keyClick(view->focusProxy(), key);
    runScript(view->page(), QStringLiteral("0")); // a step back would have started by now
    QCOMPARE(started.size(), 0);
    QCOMPARE(view->url(), two);
    QCOMPARE(m_server.requestCount(QStringLiteral("/one")), requestsBefore);
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PageCommands)
#include "tst_pagecommands.moc"
