#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <Qt>

class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class TBrowserTab;
class TfrmQuelvardBrowser;

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
bool loadInTab(TBrowserTab *tab, const QString &url, int timeout = 20000);
// Runs a script in the page (in the page's own world unless told) and returns its result
// (invalid after 10 s without one).
QVariant runScript(QWebEnginePage *page, const QString &script, quint32 world = 0);
// Waits until the page has drawn a frame, which comes a little after the load: input before
// it is lost. False when the view is not shown or the page draws nothing within 5 s.
bool waitForPaint(QWebEngineView *view);
// A real mouse click on the centre of the element with this id, once the page is drawn, so the
// page sees a user's gesture; false when the element or the view's surface is not there.
bool clickElement(QWebEngineView *view, const QString &id, Qt::MouseButton button = Qt::LeftButton);

// The saves a profile starts while this lives. A later save that has ended is the barrier after
// which an earlier one can no longer be writing, or be started late.
struct SaveWatch : QObject
{
    explicit SaveWatch(QWebEngineProfile *profile);
    // Waits until `count` saves have started and every one has ended, however it ended.
    bool ended(int count, int timeout = 20000) const;
    QList<QPointer<QWebEngineDownloadRequest>> started;
};

} // namespace TestPages
