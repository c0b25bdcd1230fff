#pragma once

#include "main/tabcontrol.h"

#include <QPointer>
#include <QString>
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

    // Popup blocker.
    bool IsPopupAllowed(const QString &url);
    void HandleNewWindow(bool *cancel);
    // Favorites: reads a favorite file and opens its address in this tab.
    void OpenFavorite(const QString &fileName);

    // Caption rule, kept free of widgets so it can be checked on its own: the longest prefix
    // whose width before its last character stays below limit; cut text is trimmed and "..."
    // appended. `measure` gives the pixel width of a text.
    static QString ShortenCaption(const QString &title, int limit,
                                  const std::function<int(const QString &)> &measure);
};

// Trims the process's memory after a page completes; glibc's malloc_trim on this platform.
void TrimWorkingSet();
