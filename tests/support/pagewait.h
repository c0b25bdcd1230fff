#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>
#include <Qt>

class QWebEnginePage;
class QWebEngineView;
class TBrowserTab;
class TfrmQuelvardBrowser;
class TWebView;

// Synchronous helpers for suites that drive real pages: loads, scripts and clicks.
namespace TestPages {

// Waits until the active tab has finished loading `url`.
bool waitForUrl(TfrmQuelvardBrowser &window, const QString &url, int timeout = 20000);
bool waitForUrl(TfrmQuelvardBrowser &window, const QUrl &url, int timeout = 20000);
// Waits until `tab` has finished loading `url`, active or not.
bool waitForTab(TBrowserTab *tab, const QString &url, int timeout = 20000);
// Navigates `tab` to `url` and waits for that navigation to complete; a tab already showing `url`
// does not count until it has loaded it again.
bool loadInTab(TBrowserTab *tab, const QUrl &url, int timeout = 20000);
// Runs a script in the page and returns its result (invalid after 10 s without one).
QVariant runScript(QWebEnginePage *page, const QString &script);
// The page's first paint arrives a little after the load; input before it is lost.
void waitForPaint(TWebView *view);
// A real mouse click on the centre of the element with this id, so the page sees a user's
// gesture; false when the element or the view's surface is not there.
bool clickElement(QWebEngineView *view, const QString &id, Qt::MouseButton button = Qt::LeftButton);

} // namespace TestPages
