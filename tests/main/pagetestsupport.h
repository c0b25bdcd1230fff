#pragma once

// Helpers shared by the page command suites: a main window on an ordinary run, waits for loads
// and scripts, and a server that never answers.
#include "common/genutilities.h"
#include "config.h"
#include "main/browsertab.h"
#include "main/mainwindow.h"
#include "main/webview.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QMenu>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QtTest>
#include <memory>

namespace PageTest {

inline const QString PageText = QStringLiteral("Quelvard page text alpha beta");

// Accepts connections and never answers, for a load that stays in progress.
class SilentServer : public QObject
{
public:
    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                m_sockets << socket;
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/slow").arg(m_server.serverPort()));
    }

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
};

inline QVariant runScript(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        return QVariant();
    return result;
}

inline bool waitForUrl(TfrmQuelvardBrowser &window, const QUrl &url, int timeout = 20000)
{
    return QTest::qWaitFor(
        [&] {
            TBrowserTab *tab = window.ActiveTab();
            return tab && tab->WebView && tab->WebView->url() == url && !tab->WebView->Busy();
        },
        timeout);
}

// The page's first paint arrives a little after the load; input before it is lost.
inline void waitForPaint(TWebView *view)
{
    if (QTest::qWaitFor([view] { return view->focusProxy() && view->focusProxy()->isVisible(); },
                        5000))
        QTest::qWait(300);
}

// One main window on an ordinary run (a position is stored, so no first-run page), shown,
// active, its first tab on the start page.
struct Browser
{
    TfrmQuelvardBrowser window;

    TWebView *view() const
    {
        TBrowserTab *tab = window.ActiveTab();
        return tab ? tab->WebView.data() : nullptr;
    }
    bool load(const QUrl &url)
    {
        window.ActiveTab()->NavigateTo(url.toString());
        return waitForUrl(window, url);
    }
    QAction *menuItem(const char *name) const
    {
        return window.pmBrowser->findChild<QAction *>(QLatin1String(name));
    }

    // `dialogs` forgets what ran before the window was ready (the administrator's first run).
    static std::unique_ptr<Browser> open(ScriptedDialogs &dialogs)
    {
        GenUtilities::SavePosition(QStringLiteral("10,20,900,700"));
        auto browser = std::make_unique<Browser>();
        browser->window.show();
        browser->window.activateWindow();
        if (!QTest::qWaitForWindowActive(&browser->window))
            return nullptr;
        if (!waitForUrl(browser->window, QUrl(QStringLiteral(QUELVARD_START_PAGE_URL))))
            return nullptr;
        dialogs.dialogsRun.clear();
        dialogs.messages.clear();
        return browser;
    }
};

} // namespace PageTest
