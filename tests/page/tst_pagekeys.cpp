// The page's own keys and Ctrl with the wheel (refresh, stop, zoom), pressed in the page and
// taken through the main window's accelerator path, against real pages on a loopback server.
#include "app/schemehandler.h"
#include "page/finddialog.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "tabs/tabcontrol.h"

#include <QLineEdit>
#include <QStatusBar>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWheelEvent>
#include <QtTest>

using namespace TestPages;

namespace {

const QString FieldValue = QStringLiteral("document.getElementById('field').value");

// The zoom the engine really renders the page at.
double RenderedZoom(TWebView *view)
{
    return runScript(view->page(), QStringLiteral("window.devicePixelRatio")).toDouble();
}

bool RendersAt(TWebView *view, int percent)
{
    return QTest::qWaitFor([&] { return qAbs(RenderedZoom(view) - percent / 100.0) < 0.01; }, 5000);
}

void FocusField(TWebView *view)
{
    runScript(view->page(), QStringLiteral("document.getElementById('field').focus()"));
}

} // namespace

class tst_PageKeys : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();

    void zoomStep_data();
    void zoomStep();
    void commandKeysReachThePage_data();
    void commandKeysReachThePage();
    void commandKeysWithNothingFocused();
    void escapeStopsALoadAndReachesThePage();
    void zoomKeys();
    void ctrlWheelZooms();
    void zoomBelongsToTheTab();
    void otherBrowsersKeysDoNothing();
    void keysLeaveATypedAddressAlone();

private:
    // A shown browser on /page, the page painted and focused.
    std::unique_ptr<Browser> openOnPage();

    TestHttpServer m_server;
};

void tst_PageKeys::initTestCase()
{
    TQuelvardSchemeHandler::Install(QWebEngineProfile::defaultProfile());
    QVERIFY(m_server.start());
    // Counts the Escape presses the page itself sees, as a page closing its own panel would, and
    // writes down every key where a reload or a step back does not wipe it.
    const QString page = QStringLiteral(
        "<input id=\"field\" style=\"width:300px\"><p>%1</p>"
        "<script>window.escapes = 0; document.addEventListener('keydown', function (e) {"
        " if (e.key === 'Escape') ++window.escapes;"
        " if (/^(Control|Alt|Shift)$/.test(e.key)) return;"
        " sessionStorage.keys = (sessionStorage.keys || '') + (e.ctrlKey ? 'Ctrl+' : '') +"
        " (e.altKey ? 'Alt+' : '') + e.key + ' '; });</script>");
    m_server.setHtml(QStringLiteral("/page"), QStringLiteral("Page"), page.arg(PageText));
    m_server.setHtml(QStringLiteral("/other"), QStringLiteral("Other"), page.arg(PageText));
    m_server.setHtml(QStringLiteral("/slow"), QStringLiteral("Slow"));
    m_server.setHtml(QStringLiteral("/sentinel"), QStringLiteral("Sentinel"));
    // Answered long after any test has given up on it.
    m_server.setDelay(QStringLiteral("/slow"), 600000);
}

std::unique_ptr<Browser> tst_PageKeys::openOnPage()
{
    auto browser = Browser::open(*m_dialogs);
    if (!browser || !browser->load(m_server.url(QStringLiteral("/page"))) ||
        !waitForPaint(browser->view()))
        return nullptr;
    browser->view()->setFocus();
    return browser;
}

void tst_PageKeys::zoomStep_data()
{
    // The levels themselves are a choice; what a step does between and beyond them is the rule.
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("expected");
    QTest::newRow("in between levels goes to the next") << 105 << 1 << 110;
    QTest::newRow("out between levels goes to the one below") << 105 << -1 << 100;
    QTest::newRow("in above the top comes down to it") << 900 << 1 << 500;
    QTest::newRow("out below the bottom comes up to it") << 10 << -1 << 25;
    QTest::newRow("reset from 300") << 300 << 0 << 100;
}

void tst_PageKeys::zoomStep()
{
    QFETCH(int, percent);
    QFETCH(int, direction);
    QFETCH(int, expected);
    QCOMPARE(TWebView::ZoomStep(percent, direction), expected);
}

void tst_PageKeys::commandKeysReachThePage_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("seen");
    QTest::addColumn<QString>("command");
    using S = QString;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("F5") << int(Qt::Key_F5) << 0 << S("F5") << S("reload");
    QTest::newRow("Ctrl+R") << int(Qt::Key_R) << ctrl << S("Ctrl+r") << S("reload");
    QTest::newRow("Ctrl+F5") << int(Qt::Key_F5) << ctrl << S("Ctrl+F5")
                             << S("reload past the cache");
    QTest::newRow("Ctrl+Shift+R") << int(Qt::Key_R) << int(ctrl | Qt::ShiftModifier) << S("Ctrl+r")
                                  << S("reload past the cache");
    QTest::newRow("Alt+Left") << int(Qt::Key_Left) << int(Qt::AltModifier) << S("Alt+ArrowLeft")
                              << S("back");
    QTest::newRow("Ctrl+F") << int(Qt::Key_F) << ctrl << S("Ctrl+f") << S("find");
    QTest::newRow("Ctrl+P") << int(Qt::Key_P) << ctrl << S("Ctrl+p") << S("print");
    QTest::newRow("Ctrl+=") << int(Qt::Key_Equal) << ctrl << S("Ctrl+=") << S("zoom");
}

void tst_PageKeys::commandKeysReachThePage()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, seen);
    QFETCH(QString, command);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl other = m_server.url(QStringLiteral("/other"));
    const QUrl page = m_server.url(QStringLiteral("/page"));
    QVERIFY(browser->load(other));
    QVERIFY(browser->load(page));
    TWebView *view = browser->view();
    QVERIFY(waitForPaint(view));
    view->setFocus();
    const int requests = m_server.requestCount(page.path());
    QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
    QTest::keyClick(view->focusProxy(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    if (command.startsWith(QLatin1String("reload"))) {
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(page.path()), requests + 1, 10000);
        QVERIFY(waitForUrl(browser->window, page));
        // A reload that may use the cache asks with max-age=0; one past it says no-cache.
        QCOMPARE(m_server.lastRequest(page.path()).toLower().contains("cache-control: no-cache"),
                 command.endsWith(QLatin1String("cache")));
    } else if (command == QLatin1String("back")) {
        QVERIFY(waitForUrl(browser->window, other));
    } else if (command == QLatin1String("find")) {
        QTRY_VERIFY_WITH_TIMEOUT(browser->window.findChild<TfrmFind *>(), 5000);
    } else if (command == QLatin1String("print")) {
        QTRY_VERIFY_WITH_TIMEOUT(m_dialogs->dialogsRun.contains(QStringLiteral("dlgPrint")), 5000);
    } else {
        QVERIFY(RendersAt(view, 110));
    }
    // The command may have shown first: the engine hands the key to the page's process on its
    // own channel, not ahead of ours.
    QTRY_COMPARE_WITH_TIMEOUT(
        runScript(view->page(), QStringLiteral("sessionStorage.keys")).toString(),
        seen + QLatin1Char(' '), 5000);
    // The command ran once: a second run would have left its own trace by the sentinel's load.
    const bool reload = command.startsWith(QLatin1String("reload"));
    const bool back = command == QLatin1String("back");
    QCOMPARE(started.size(), reload || back ? 1 : 0);
    QVERIFY(browser->load(m_server.url(QStringLiteral("/sentinel"))));
    QCOMPARE(view->page()->history()->currentItemIndex(), back ? 2 : 3);
    QCOMPARE(m_server.requestCount(page.path()), requests + (reload ? 1 : 0));
    QCOMPARE(m_dialogs->dialogsRun.size(), command == QLatin1String("print") ? 1 : 0);
    QCOMPARE(view->ZoomPercent(), command == QLatin1String("zoom") ? 110 : 100);
}

void tst_PageKeys::commandKeysWithNothingFocused()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    const QUrl other = m_server.url(QStringLiteral("/other"));
    QVERIFY(browser->load(other));
    QVERIFY(browser->load(m_server.url(QStringLiteral("/page"))));
    // As after a dialog closed: the window is active, and nothing in it has the focus.
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();
    QVERIFY(!QApplication::focusWidget());
    QTest::keyClick(&browser->window, Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgPrint")}, 5000);
    QTest::keyClick(&browser->window, Qt::Key_Left, Qt::AltModifier);
    QVERIFY(waitForUrl(browser->window, other));
}

void tst_PageKeys::escapeStopsALoadAndReachesThePage()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    TWebView *view = browser->view();
    const QUrl page = m_server.url(QStringLiteral("/page"));
    auto escapesSeen = [view] {
        return runScript(view->page(), QStringLiteral("escapes")).toInt();
    };

    // Nothing loading: the page has the key to itself.
    QTest::keyClick(view->focusProxy(), Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(escapesSeen(), 1, 5000);

    // Pressed in the page's text field while the next page is held back by the server.
    FocusField(view);
    QSignalSpy finished(view->page(), &QWebEnginePage::loadFinished);
    browser->window.ActiveTab()->NavigateTo(m_server.url(QStringLiteral("/slow")).toString());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/slow")) == 1, 5000);
    QVERIFY(view->Busy());
    QTest::keyClick(view->focusProxy(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!view->Busy(), 5000);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QTRY_COMPARE_WITH_TIMEOUT(escapesSeen(), 2, 5000);
    QCOMPARE(view->url(), page);
}

void tst_PageKeys::zoomKeys()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    TWebView *view = browser->view();
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const struct
    {
        QKeyCombination keys;
        int from, expected;
    } presses[] = {
        {ctrl | Qt::ShiftModifier | Qt::Key_Plus, 100, 110},  {ctrl | Qt::Key_Equal, 100, 110},
        {ctrl | Qt::KeypadModifier | Qt::Key_Plus, 100, 110}, {ctrl | Qt::Key_Minus, 100, 90},
        {ctrl | Qt::KeypadModifier | Qt::Key_Minus, 100, 90}, {ctrl | Qt::Key_0, 150, 100},
    };
    for (bool inField : {false, true}) {
        view->setFocus();
        if (inField)
            FocusField(view);
        for (const auto &press : presses) {
            const QByteArray name =
                QKeySequence(press.keys).toString().toUtf8() + (inField ? " in a field" : "");
            view->SetZoomPercent(press.from);
            QVERIFY2(RendersAt(view, press.from), name);
            QTest::keyClick(view->focusProxy(), press.keys.key(), press.keys.keyboardModifiers());
            QVERIFY2(RendersAt(view, press.expected), name);
            QVERIFY2(view->ZoomPercent() == press.expected, name);
        }
        // The keys zoomed and did nothing more: no character was typed into the field.
        QCOMPARE(runScript(view->page(), FieldValue).toString(), QString());
        QCOMPARE(runScript(view->page(), QStringLiteral("document.activeElement.id")).toString(),
                 inField ? QStringLiteral("field") : QString());
    }
    auto *status = TestSupport::Control<QStatusBar>(&browser->window, "statusMain");
    QVERIFY(status->currentMessage().isEmpty());
}

void tst_PageKeys::ctrlWheelZooms()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    TWebView *view = browser->view();
    QWidget *target = view->focusProxy();
    auto turn = [target](int delta, Qt::KeyboardModifiers modifiers) {
        const QPointF position(100, 100);
        QWheelEvent event(position, target->mapToGlobal(position), QPoint(), QPoint(0, delta),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    };
    turn(QWheelEvent::DefaultDeltasPerStep, Qt::ControlModifier);
    QCOMPARE(view->ZoomPercent(), 110);
    turn(-QWheelEvent::DefaultDeltasPerStep, Qt::ControlModifier);
    turn(-QWheelEvent::DefaultDeltasPerStep, Qt::ControlModifier);
    QCOMPARE(view->ZoomPercent(), 90);
    // A fine-grained wheel steps once a whole notch has turned.
    turn(60, Qt::ControlModifier);
    QCOMPARE(view->ZoomPercent(), 90);
    turn(60, Qt::ControlModifier);
    QCOMPARE(view->ZoomPercent(), 100);
    turn(-QWheelEvent::DefaultDeltasPerStep, Qt::ControlModifier);
    QCOMPARE(view->ZoomPercent(), 90);
    QVERIFY(RendersAt(view, 90));
    // Without Ctrl the wheel is the page's.
    turn(-QWheelEvent::DefaultDeltasPerStep, Qt::NoModifier);
    QCOMPARE(view->ZoomPercent(), 90);
    QVERIFY(RendersAt(view, 90));
}

void tst_PageKeys::zoomBelongsToTheTab()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    TBrowserTab *first = w.ActiveTab();
    TWebView *firstView = first->WebView;
    QTest::keyClick(firstView->focusProxy(), Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(firstView->focusProxy(), Qt::Key_Equal, Qt::ControlModifier);
    QVERIFY(RendersAt(firstView, 125));

    // A second tab on the same site starts at 100%.
    w.NewTab1Click();
    TBrowserTab *second = w.ActiveTab();
    QVERIFY(second && second != first);
    QVERIFY(browser->load(m_server.url(QStringLiteral("/other"))));
    QVERIFY(RendersAt(second->WebView, 100));

    // Back on the first tab its zoom is still there, and stays through its navigations, to
    // the same site and to another one.
    w.pcMain->setCurrentWidget(first->Sheet);
    QCOMPARE(w.ActiveTab(), first);
    QVERIFY(RendersAt(firstView, 125));
    QUrl otherSite = m_server.url(QStringLiteral("/page"));
    otherSite.setHost(QStringLiteral("localhost"));
    for (const QUrl &url : {m_server.url(QStringLiteral("/other")), otherSite}) {
        QVERIFY(browser->load(url));
        QVERIFY2(RendersAt(firstView, 125), qPrintable(url.toString()));
    }
    QCOMPARE(firstView->ZoomPercent(), 125);
    QVERIFY(RendersAt(second->WebView, 100));
}

void tst_PageKeys::otherBrowsersKeysDoNothing()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    TWebView *view = browser->view();
    const QUrl page = m_server.url(QStringLiteral("/page"));
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
    const QKeyCombination keys[] = {
        ctrl | Qt::Key_N,
        ctrl | Qt::ShiftModifier | Qt::Key_N,
        ctrl | Qt::Key_T,
        ctrl | Qt::Key_W,
        ctrl | Qt::Key_O,
        ctrl | Qt::Key_L,
        ctrl | Qt::Key_K,
        ctrl | Qt::Key_S,
        ctrl | Qt::Key_U,
        ctrl | Qt::Key_H,
        ctrl | Qt::Key_D,
        ctrl | Qt::Key_J,
        ctrl | Qt::ShiftModifier | Qt::Key_I,
        alt | Qt::Key_D,
        alt | Qt::Key_Home,
        QKeyCombination(Qt::Key_F6),
        QKeyCombination(Qt::Key_F11),
        QKeyCombination(Qt::Key_F12),
        QKeyCombination(Qt::Key_F1),
    };
    for (bool locked : {true, false}) {
        browser->address()->setEnabled(!locked);
        const QString address = browser->address()->text();
        const int requests = m_server.requestedPaths().size();
        const int windows = QApplication::topLevelWidgets().size();
        QSignalSpy started(view->page(), &QWebEnginePage::loadStarted);
        for (const auto &press : keys) {
            const QString name =
                QKeySequence(press).toString() + (locked ? QStringLiteral(" locked") : QString());
            view->setFocus();
            QTest::keyClick(view->focusProxy(), press.key(), press.keyboardModifiers());
            runScript(view->page(), QStringLiteral("0")); // the page has had the key
            QVERIFY2(QApplication::focusWidget() != browser->address(), qPrintable(name));
            QVERIFY2(browser->address()->text() == address, qPrintable(name));
            QVERIFY2(w.pcMain->TabCount() == 1, qPrintable(name));
            QVERIFY2(QApplication::topLevelWidgets().size() == windows, qPrintable(name));
            QVERIFY2(QApplication::activeWindow() == &w, qPrintable(name));
        }
        QCOMPARE(started.size(), 0);
        QVERIFY(browser->load(page));
        QCOMPARE(m_server.requestedPaths().mid(requests), QStringList{page.path()});
    }
    QVERIFY(m_dialogs->dialogsRun.isEmpty());
    QVERIFY(m_dialogs->messages.isEmpty());
    QCOMPARE(view->ZoomPercent(), 100);
}

void tst_PageKeys::keysLeaveATypedAddressAlone()
{
    auto browser = openOnPage();
    QVERIFY(browser);
    QLineEdit *address = browser->address();
    address->setEnabled(true);
    const QString typed = m_server.url(QStringLiteral("/other")).toString();
    address->setText(typed);
    address->setFocus();
    const int requests = m_server.requestedPaths().size();
    QSignalSpy started(browser->view()->page(), &QWebEnginePage::loadStarted);
    const QList<QPair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {Qt::Key_F5, Qt::NoModifier},      {Qt::Key_R, Qt::ControlModifier},
        {Qt::Key_F5, Qt::ControlModifier}, {Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Escape, Qt::NoModifier},  {Qt::Key_Equal, Qt::ControlModifier},
        {Qt::Key_0, Qt::ControlModifier},
    };
    for (const auto &press : keys)
        QTest::keyClick(address, press.first, press.second);
    runScript(browser->view()->page(), QStringLiteral("0")); // after anything the keys started
    QCOMPARE(address->text(), typed);
    QCOMPARE(browser->view()->ZoomPercent(), 100);
    QCOMPARE(started.size(), 0);
    const QUrl page = m_server.url(QStringLiteral("/page"));
    QVERIFY(browser->load(page));
    QCOMPARE(m_server.requestedPaths().mid(requests), QStringList{page.path()});
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PageKeys)
#include "tst_pagekeys.moc"
