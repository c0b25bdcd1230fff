#include "tabs/browsertab.h"

#include "app/browsersession.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "config.h"
#include "favorites/favoritesmenu.h"
#include "page/dochostuihandler.h"
#include "page/pagecommands.h"
#include "page/pageguard.h"
#include "page/webview.h"
#include "popups/popupblocker.h"
#include "widgets/dialogseam.h"

#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <malloc.h>
#include <stdexcept>

void TrimWorkingSet()
{
    malloc_trim(0);
}

TBrowserTab::TBrowserTab(TTabSheet *sheet, TTabControl *tabs, TBrowserSession *session,
                         QMenu *contextMenu, QWidget *dialogParent, TWebView *adopted)
    : TTab(sheet), m_tabs(tabs), m_session(session), m_dialogParent(dialogParent)
{
    try {
        if (!m_session)
            throw std::logic_error("a tab is made for a session");
        if (adopted)
            adopted->setParent(Sheet);
        WebView = adopted ? adopted : new TWebView(Sheet);
        WebView->SetSilent(true);
        UIHandler = std::make_shared<TDocHostUIHandler>();
        UIHandler->WebView = WebView;
        WebView->SetPopupMenu(contextMenu);

        connect(WebView, &TWebView::NavigateComplete2, this, &TBrowserTab::HandleNavigateComplete);
        WebView->SetNewWindowQuestion([this] { return HandleNewWindow(); });
        WebView->SetNewViewFactory([this](bool background) { return holdNewView(background); });
        connect(WebView, &TWebView::CloseRequested, this, &TTab::CloseRequested);
        // A page's own Print button asks as the menu does.
        connect(WebView->page(), &QWebEnginePage::printRequested, this, &TTab::PrintRequested);

        auto *layout = new QVBoxLayout(Sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(WebView);
        WebView->show(); // an adopted view was held hidden
        // The permission bar and the crashed page's message.
        new TPageGuard(Sheet, WebView, m_session->Permissions());
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

bool TBrowserTab::IsPopupAllowed(const QString &url)
{
    // Every tab asks the one blocker, which keeps what a tab behind refused for when it is chosen.
    return m_session && m_session->PopupBlocker()->Decide(this, url);
}

// A page's window opens as a tab of ours, at the end of the row, without going home.
// The engine gives a window it asked for its settings only when something loads in it; one
// shown before that and written into by its opener takes the whole program down. So the
// window is held hidden, beside its opener, and becomes a tab once it has loaded an address;
// one that is only ever written into is never shown, and goes with its opener.
TWebView *TBrowserTab::holdNewView(bool background)
{
    QPointer<TWebView> opener = WebView;
    if (!opener || !m_tabs)
        return nullptr;
    auto *held = new TWebView(opener);
    held->hide();
    auto stillHeld = [held, opener] { return opener && held->parentWidget() == opener.data(); };
    connect(held, &TWebView::CloseRequested, held, [held, stillHeld] {
        if (stillHeld())
            held->deleteLater();
    });
    QPointer<TTabControl> tabs = m_tabs;
    connect(held->page(), &QWebEnginePage::loadFinished, held,
            [tabs, held, background, stillHeld](bool) {
                const QUrl url = held->page()->url();
                if (!stillHeld() || url.isEmpty() ||
                    url.scheme().compare(QLatin1String("about"), Qt::CaseInsensitive) == 0)
                    return;
                // Not from inside the page's own signal: a tab that cannot be made frees the view.
                QTimer::singleShot(0, held, [tabs, held, background, stillHeld] {
                    if (stillHeld() && tabs)
                        tabs->NewTab(background ? TTabControl::TOpen::Behind
                                                : TTabControl::TOpen::InFront,
                                     held);
                });
            });
    return held;
}

bool TBrowserTab::HandleNewWindow()
{
    bool allowed = false;
    Guard::Run("HandleNewWindow",
               [&] { allowed = IsPopupAllowed(WebView ? WebView->LocationURL() : QString()); });
    return allowed;
}
