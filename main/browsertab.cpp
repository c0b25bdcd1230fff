#include "main/browsertab.h"

#include "common/dialogseam.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/plaintooltip.h"
#include "common/textutils.h"
#include "config.h"
#include "favorites/favoritesmenu.h"
#include "favorites/favoritesstore.h"
#include "main/dochostuihandler.h"
#include "main/mainwindow.h"
#include "main/pageguard.h"
#include "main/webview.h"

#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <malloc.h>

void TrimWorkingSet()
{
    malloc_trim(0);
}

TBrowserTab::TBrowserTab(TfrmQuelvardBrowser *mainForm, TTabSheet *sheet) : TTab(sheet)
{
    MainForm = mainForm;
    try {
        WebView = new TWebView(Sheet);
        WebView->SetSilent(true);
        UIHandler = std::make_shared<TDocHostUIHandler>();
        UIHandler->WebView = WebView;
        WebView->SetPopupMenu(mainForm->pmBrowser);

        connect(WebView, &TWebView::NavigateComplete2, this, &TBrowserTab::HandleNavigateComplete);
        connect(WebView, &TWebView::NewWindow2, this, &TBrowserTab::HandleNewWindow);
        connect(WebView, &TWebView::CloseRequested, this, &TTab::CloseRequested);
        // A page's own Print button asks as the menu does.
        connect(WebView->page(), &QWebEnginePage::printRequested, this, &TTab::PrintRequested);

        auto *layout = new QVBoxLayout(Sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(WebView);
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
    try {
        WebView->Navigate(url);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(MainForm,
                        QStringLiteral("Opening the selected favorite caused an error: ") +
                            error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(MainForm,
                        QStringLiteral("Opening the selected favorite caused an error: ") +
                            QString::fromUtf8(error.what()));
    }
}

void TBrowserTab::GoHome()
{
    Guard::Run("GoHome", [this] { NavigateTo(GenUtilities::GetHomePage()); });
}

void TBrowserTab::ViewSource()
{
    Guard::Run("ViewSource", [this] {
        if (WebView)
            WebView->ExecDocumentCommand(TWebView::TDocumentCommand::ViewSource);
    });
}

void TBrowserTab::FindOnPage()
{
    Guard::Run("FindOnPage", [this] {
        if (WebView)
            WebView->ExecDocumentCommand(TWebView::TDocumentCommand::Find);
    });
}

QString TBrowserTab::ShortenCaption(const QString &title, int limit,
                                    const std::function<int(const QString &)> &measure)
{
    QString text;
    qsizetype taken = 0;
    while (taken < title.size() && measure(text) < limit) {
        text += title.at(taken);
        ++taken;
    }
    if (taken < title.size())
        text = TextUtils::Trim(text) + QStringLiteral("...");
    return text;
}

void TBrowserTab::UpdateTabCaption()
{
    Guard::Run("UpdateTabCaption", [this] {
        if (!WebView || !Sheet)
            return;
        QString title = WebView->LocationName();
        if (WebView->LocationURL().contains(QStringLiteral(QUELVARD_SEARCH_SITE_DOMAIN_SUFFIX)))
            title = QStringLiteral("Quelvard Search Engine");
        TTabControl *pcMain = MainForm->pcMain;
        const int limit = pcMain->TabWidth() - 25;
        const QFontMetrics metrics(MainForm->lblTabCanvas->font());
        const QString caption = ShortenCaption(title, limit, [&metrics](const QString &text) {
            return metrics.horizontalAdvance(text);
        });
        Sheet->Caption = caption;
        const int pageIndex = pcMain->indexOf(Sheet);
        if (pageIndex >= 0) {
            // The tab bar reads "&" as a mnemonic; titles must show as they are.
            pcMain->setTabText(pageIndex,
                               QString(caption).replace(QLatin1Char('&'), QStringLiteral("&&")));
            pcMain->setTabToolTip(pageIndex, TextUtils::PlainToolTip(title));
        }
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

void TBrowserTab::HandleNewWindow(bool *cancel)
{
    bool allowed = false;
    // Whatever goes wrong, the window stays unopened.
    Guard::Run("HandleNewWindow", [&] {
        const QString url = WebView ? WebView->LocationURL() : QString();
        allowed = IsPopupAllowed(url);
        if (!allowed)
            emit PopupBlocked(GenUtilities::GetDomain(url));
    });
    if (!allowed && cancel)
        *cancel = true;
}

void TBrowserTab::OpenFavorite(const QString &fileName)
{
    using FavoritesMenu::OpenError;
    try {
        const QString url = FavoritesStore::ReadFavoriteURL(fileName);
        if (url.isEmpty()) {
            TDialogs::Error(MainForm,
                            FavoritesMenu::OpenFailed + QStringLiteral("No URL available"));
            return;
        }
        NavigateTo(url);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(MainForm, OpenError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(MainForm, OpenError + QString::fromLocal8Bit(error.what()));
    }
}
