#pragma once

#include <QString>
#include <QVariant>

class QWebEnginePage;
class QWebEngineView;
class TBrowserTab;
class TfrmQuelvardBrowser;

// Synchronous helpers for suites that drive real pages.
namespace TestPages {

// Waits until the active tab has finished loading `url`.
bool waitForUrl(TfrmQuelvardBrowser &window, const QString &url, int timeout = 20000);
// Waits until `tab` has finished loading `url`, active or not.
bool waitForTab(TBrowserTab *tab, const QString &url, int timeout = 20000);
// Sends `tab` to `url` and waits until that load has completed, its NavigateComplete2 included.
bool loadInTab(TBrowserTab *tab, const QString &url, int timeout = 20000);
// Runs a script in the page and returns its result (invalid after 10 s without one).
QVariant runScript(QWebEnginePage *page, const QString &script);
// Clicks the middle of the page's element with this id with the mouse, so the page sees a
// person's gesture. False when the element has no place on the page.
bool clickElement(QWebEngineView *view, const QString &id);

} // namespace TestPages
