#include "support/pagewait.h"

#include "page/webview.h"
#include "tabs/browsertab.h"
#include "window/mainwindow.h"

#include <QSignalSpy>
#include <QTest>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <algorithm>

namespace TestPages {

namespace {
bool loaded(TBrowserTab *tab, const QString &url)
{
    return tab && tab->WebView && tab->WebView->LocationURL() == url && !tab->WebView->Busy();
}
bool loaded(TBrowserTab *tab, const QUrl &url)
{
    return tab && tab->WebView && tab->WebView->url() == url && !tab->WebView->Busy();
}
} // namespace

bool waitForUrl(TfrmQuelvardBrowser &window, const QString &url, int timeout)
{
    return QTest::qWaitFor([&] { return loaded(window.ActiveTab(), url); }, timeout);
}

bool waitForUrl(TfrmQuelvardBrowser &window, const QUrl &url, int timeout)
{
    return QTest::qWaitFor([&] { return loaded(window.ActiveTab(), url); }, timeout);
}

bool waitForTab(TBrowserTab *tab, const QString &url, int timeout)
{
    return QTest::qWaitFor([&] { return loaded(tab, url); }, timeout);
}

bool loadInTab(TBrowserTab *tab, const QUrl &url, int timeout)
{
    if (!tab || !tab->WebView)
        return false;
    QSignalSpy completed(tab->WebView.data(), &TWebView::NavigateComplete2);
    tab->NavigateTo(url.toString());
    return QTest::qWaitFor([&] { return !completed.isEmpty() && loaded(tab, url); }, timeout);
}

bool loadInTab(TBrowserTab *tab, const QString &url, int timeout)
{
    return loadInTab(tab, QUrl(url), timeout);
}

QVariant runScript(QWebEnginePage *page, const QString &script, quint32 world)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, world, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        return QVariant();
    return result;
}

bool waitForPaint(QWebEngineView *view)
{
    if (!QTest::qWaitFor([view] { return view->focusProxy() && view->focusProxy()->isVisible(); },
                         5000))
        return false;
    // A frame's callbacks run before it is drawn, so the second frame's come after the first
    // has been drawn. In the program's own world, so the page sees none of it.
    const auto world = QWebEngineScript::ApplicationWorld;
    runScript(view->page(),
              QStringLiteral("self.painted = false; requestAnimationFrame(() => "
                             "requestAnimationFrame(() => { self.painted = true; }))"),
              world);
    return QTest::qWaitFor(
        [&] { return runScript(view->page(), QStringLiteral("self.painted"), world).toBool(); },
        5000);
}

bool clickElement(QWebEngineView *view, const QString &id, Qt::MouseButton button)
{
    if (!waitForPaint(view))
        return false;
    const QVariantList centre =
        runScript(
            view->page(),
            QStringLiteral("(function(){var e=document.getElementById('%1');if(!e)return null;"
                           "var r=e.getBoundingClientRect();"
                           "return [r.left+r.width/2, r.top+r.height/2];})()")
                .arg(id))
            .toList();
    QWidget *surface = view->focusProxy();
    if (centre.size() != 2 || !surface)
        return false;
    const QPoint point(centre.at(0).toInt(), centre.at(1).toInt());
    QTest::mouseMove(surface, point);
    QTest::mouseClick(surface, button, {}, point);
    return true;
}

SaveWatch::SaveWatch(QWebEngineProfile *profile)
{
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest *request) { started << request; });
}

bool SaveWatch::ended(int count, int timeout) const
{
    const auto over = [](const auto &request) { return !request || request->isFinished(); };
    return QTest::qWaitFor(
        [&] {
            return started.size() >= count && std::all_of(started.begin(), started.end(), over);
        },
        timeout);
}

} // namespace TestPages
