#pragma once

#include "tabs/tabcontrol.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class TBrowserSession;
class TWebView;
class TDocHostUIHandler;
class TPageCommands;

// One tab: its page in pcMain and the web view filling it.
class TBrowserTab : public TTab
{
    Q_OBJECT

public:
    // Builds the web view into the page the tab control made. When that fails the tab says so in
    // the log and is left without a web view, and is then not added. `tabs` shows the caption,
    // `session` answers the page's requests, `contextMenu` is the page's context menu and
    // `dialogParent` owns the tab's messages. `adopted`, when given, is a view the engine
    // already holds a window in; the tab takes it instead of making one.
    TBrowserTab(TTabSheet *sheet, TTabControl *tabs, TBrowserSession *session, QMenu *contextMenu,
                QWidget *dialogParent, TWebView *adopted = nullptr);
    ~TBrowserTab() override;

    std::shared_ptr<TDocHostUIHandler> UIHandler;
    QPointer<TWebView> WebView;

    void NavigateTo(const QString &url);
    void GoHome() override;
    // Run on this tab's page by the window's page commands, as their actions run on the active
    // page; a tab not given them does nothing.
    void ViewSource();
    void FindOnPage();
    void SetPageCommands(TPageCommands *commands);
    void UpdateTabCaption() override;
    void HandleNavigateComplete();

    // The session's popup blocker decides whether a page at url may open a window; a tab
    // without a session refuses every request.
    bool IsPopupAllowed(const QString &url);
    // The web view's question for each request of the page to open a window: whether the page's
    // address is allowed. Whatever goes wrong, the answer is no.
    bool HandleNewWindow();

private:
    TWebView *holdNewView(bool background);

    QPointer<TTabControl> m_tabs;
    QPointer<TBrowserSession> m_session;
    QPointer<QWidget> m_dialogParent;
    QPointer<TPageCommands> m_pageCommands;
};

// Trims the process's memory after a page completes; glibc's malloc_trim on this platform.
void TrimWorkingSet();
