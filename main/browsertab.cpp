#include "main/browsertab.h"

#include "common/dialogseam.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "config.h"
#include "favorites/favoritesmenu.h"
#include "main/dochostuihandler.h"
#include "main/pagecommands.h"
#include "main/pageguard.h"
#include "main/webview.h"

#include <QVBoxLayout>
#include <QWebEnginePage>
#include <malloc.h>

void TrimWorkingSet()
{
    malloc_trim(0);
}

TBrowserTab::TBrowserTab(TTabSheet *sheet, TTabControl *tabs, QMenu *contextMenu,
                         QWidget *dialogParent, TWebView *adopted)
    : TTab(sheet), m_tabs(tabs), m_dialogParent(dialogParent)
{
    try {
        if (adopted)
            adopted->setParent(Sheet);
        WebView = adopted ? adopted : new TWebView(Sheet);
        WebView->SetSilent(true);
        UIHandler = std::make_shared<TDocHostUIHandler>();
        UIHandler->WebView = WebView;
        WebView->SetPopupMenu(contextMenu);

        connect(WebView, &TWebView::NavigateComplete2, this, &TBrowserTab::HandleNavigateComplete);
        WebView->SetNewWindowQuestion([this] { return HandleNewWindow(); });
        connect(WebView, &TWebView::CloseRequested, this, &TTab::CloseRequested);
        // A page's own Print button asks as the menu does.
        connect(WebView->page(), &QWebEnginePage::printRequested, this, &TTab::PrintRequested);

        auto *layout = new QVBoxLayout(Sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(WebView);
        WebView->show();                // an adopted view was held hidden
        new TPageGuard(Sheet, WebView); // the permission bar and the crashed page's message
    } catch (...) {
        Guard::LogCurrentException("TBrowserTab");
        // A tab without its whole web view is no tab: the tab control does not add it.
        delete WebView.data();
    }
}

TBrowserTab::~TBrowserTab()
{
    Guard::Run("~TBrowserTab", [this] {
        if (Sheet && WebView)
            WebView->setParent(nullptr);
        delete WebView.data();
    });
}

void TBrowserTab::NavigateTo(const QString &url)
{
    // Every navigation reports a refusal in these words, whatever the address came from.
    try {
        WebView->Navigate(url);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(m_dialogParent, FavoritesMenu::OpenError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(m_dialogParent, FavoritesMenu::OpenError + QString::fromUtf8(error.what()));
    }
}

void TBrowserTab::GoHome()
{
    Guard::Run("GoHome", [this] { NavigateTo(GenUtilities::GetHomePage()); });
}

void TBrowserTab::SetPageCommands(TPageCommands *commands)
{
    m_pageCommands = commands;
}

void TBrowserTab::ViewSource()
{
    if (m_pageCommands)
        m_pageCommands->Run(TPageCommands::TCommand::ViewSource, WebView);
}

void TBrowserTab::FindOnPage()
{
    if (m_pageCommands)
        m_pageCommands->Run(TPageCommands::TCommand::Find, WebView);
}

void TBrowserTab::UpdateTabCaption()
{
    Guard::Run("UpdateTabCaption", [this] {
        if (!WebView || !Sheet || !m_tabs)
            return;
        QString title = WebView->LocationName();
        if (WebView->LocationURL().contains(QStringLiteral(QUELVARD_SEARCH_SITE_DOMAIN_SUFFIX)))
            title = QStringLiteral("Quelvard Search Engine");
        m_tabs->ShowCaption(Sheet, title);
    });
}

void TBrowserTab::HandleNavigateComplete()
{
    Guard::Run("HandleNavigateComplete", [this] {
        // The window describes its active tab again (popup notice bar, caption, address bar),
        // whichever tab completed.
        emit NavigateComplete();
        UpdateTabCaption();
        if (WebView)
            WebView->SetUIHandler(UIHandler);
        TrimWorkingSet();
    });
}

void TBrowserTab::SetPopupPolicy(PopupPolicy policy)
{
    m_popupPolicy = std::move(policy);
}

bool TBrowserTab::IsPopupAllowed(const QString &url)
{
    return m_popupPolicy && m_popupPolicy(url);
}

bool TBrowserTab::HandleNewWindow()
{
    bool allowed = false;
    Guard::Run("HandleNewWindow",
               [&] { allowed = IsPopupAllowed(WebView ? WebView->LocationURL() : QString()); });
    return allowed;
}
