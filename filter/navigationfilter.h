#pragma once

#include "common/safesearch.h"
#include "common/urlfilter.h"

#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>
#include <functional>
#include <memory>

class QWebEngineProfile;

// The administrator's address filter applied to pages: every navigation of a main frame or a
// subframe (links, form posts, each hop of a redirect, history, favorites, the home page,
// windows a page opens) is asked of it before the engine fetches anything. A refused one is
// sent to the program's own blocked page instead, which names the refused address. Images,
// scripts and other resources a page loads are not filtered.
class TNavigationFilter : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT

public:
    explicit TNavigationFilter(QObject *parent = nullptr);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // The page's own question before it navigates. A refused main frame is sent to the blocked
    // page; a refused frame is left where it is when the engine follows a server's redirect,
    // which the request filter above cannot stop reliably. True when refused.
    static bool RefuseNavigation(QWebEnginePage *page, const QUrl &url,
                                 QWebEnginePage::NavigationType type, bool isMainFrame);

    // The run's filter, built from the machine's lists on first use. The reference holds until
    // the next Reload().
    static const TUrlFilter &Current();
    // Puts the run's filter on `profile` unless it has it; without rules nothing is installed,
    // so a machine without lists starts and browses exactly as before.
    static void Install(QWebEngineProfile *profile);
    // Builds the filter again from the machine's settings as MachinePolicies::Current() now
    // has them; the next question of any page is decided by it. Install() then puts it on a
    // profile that had none.
    static void Reload();

    // While browsing is closed (the time keeper's hours), nothing but the program's own pages
    // loads, in any frame; set from the window's thread, read on the engine's.
    static void SetClosed(bool closed);
    static bool IsClosed();
    // Called with each address a page was refused and the rule or category that refused it.
    static void OnRefused(std::function<void(const QUrl &, const QString &)> report);

    // The blocked page naming `refused`, and back: the refused address a blocked page names
    // (an empty QUrl for any other page).
    static QUrl BlockedPageUrl(const QUrl &refused);
    static QUrl RefusedAddress(const QUrl &pageUrl);
    // The address the blocked page's request form asks for (an empty QUrl for any other page).
    static QUrl AskedAddress(const QUrl &askUrl);
    // The blocked page itself, for the program's own scheme; `home` is the home page's address.
    static QByteArray BlockedPageHtml(const QUrl &pageUrl, const QString &home);
};
