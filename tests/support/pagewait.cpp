#include "support/pagewait.h"

#include "main/browsertab.h"
#include "main/mainwindow.h"
#include "main/webview.h"

#include <QTest>
#include <QWebEnginePage>

namespace TestPages {

namespace {
bool loaded(TBrowserTab *tab, const QString &url)
{
    return tab && tab->WebView && tab->WebView->LocationURL() == url && !tab->WebView->Busy();
}
} // namespace

bool waitForUrl(TfrmQuelvardBrowser &window, const QString &url, int timeout)
{
    return QTest::qWaitFor([&] { return loaded(window.ActiveTab(), url); }, timeout);
}

bool waitForTab(TBrowserTab *tab, const QString &url, int timeout)
{
    return QTest::qWaitFor([&] { return loaded(tab, url); }, timeout);
}

QVariant runScript(QWebEnginePage *page, const QString &script)
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

} // namespace TestPages
