#pragma once

#include "main/tabcontrol.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class TfrmQuelvardBrowser;
class TWebView;
class TDocHostUIHandler;

// One tab: its page in pcMain and the web view filling it.
class TBrowserTab : public TTab
{
    Q_OBJECT

public:
    // Builds the web view into the page the tab control made. When that fails the tab says so in
    // the log and is left without a web view, and is then not added.
    TBrowserTab(TfrmQuelvardBrowser *mainForm, TTabSheet *sheet);
    ~TBrowserTab() override;

    TfrmQuelvardBrowser *MainForm = nullptr;
    QString BlockedDomain;
    std::shared_ptr<TDocHostUIHandler> UIHandler;
    QPointer<TWebView> WebView;

    void NavigateTo(const QString &url);
    void GoHome() override;
    void ViewSource();
    void FindOnPage();
    void UpdateTabCaption() override;
    void HandleNavigateComplete();

    // Popup blocker. The window decides whether a page at url may open a window; a tab that
    // has not been given the decision refuses every request.
    using PopupPolicy = std::function<bool(const QString &url)>;
    void SetPopupPolicy(PopupPolicy policy);
    bool IsPopupAllowed(const QString &url);
    // Refuses the request unless the page's address is allowed; a refusal raises PopupBlocked.
    void HandleNewWindow(bool *cancel);
    // Favorites: reads a favorite file and opens its address in this tab.
    void OpenFavorite(const QString &fileName);

    // Caption rule, kept free of widgets so it can be checked on its own: the longest prefix
    // whose width before its last character stays below limit; cut text is trimmed and "..."
    // appended. `measure` gives the pixel width of a text.
    static QString ShortenCaption(const QString &title, int limit,
                                  const std::function<int(const QString &)> &measure);

signals:
    // A request of this tab's page to open a window was refused; domain is the page's domain as
    // GetDomain gives it (empty for an address without one).
    void PopupBlocked(const QString &domain);

private:
    PopupPolicy m_popupPolicy;
};

// Trims the process's memory after a page completes; glibc's malloc_trim on this platform.
void TrimWorkingSet();
