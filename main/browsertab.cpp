#include "main/browsertab.h"

#include "common/dialogseam.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/plaintooltip.h"
#include "common/textutils.h"
#include "config.h"
#include "main/dochostuihandler.h"
#include "main/mainwindow.h"
#include "main/tabcontrol.h"
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

TBrowserTab::TBrowserTab(TfrmQuelvardBrowser *mainForm, int index, bool activate)
{
    try {
        MainForm = mainForm;
        TTabControl *pcMain = mainForm->pcMain;
        Sheet = new TTabSheet(pcMain);
        Sheet->Tag = index;
        Sheet->Caption = QStringLiteral("Loading...");
        pcMain->addTab(Sheet, Sheet->Caption);
        if (activate)
            pcMain->setCurrentIndex(pcMain->count() - 1);
        mainForm->SetTabWidth(150);

        WebView = new TWebView(Sheet);
        WebView->SetSilent(true);
        UIHandler = std::make_shared<TDocHostUIHandler>();
        UIHandler->WebView = WebView;
        WebView->SetPopupMenu(mainForm->pmBrowser);

        connect(WebView, &TWebView::NavigateComplete2, this, &TBrowserTab::HandleNavigateComplete);
        connect(WebView, &TWebView::NewWindow2, this, &TBrowserTab::HandleNewWindow);
        connect(WebView, &TWebView::CloseRequested, this, [this] { MainForm->CloseTabOf(this); });
        // A page's own Print button asks as the menu does; only the page in front may ask.
        connect(WebView->page(), &QWebEnginePage::printRequested, this, [this] {
            if (MainForm->ActiveTab() == this)
                MainForm->Print1Click();
        });
        WebView->SetNewViewFactory([mainForm](bool background) -> TWebView * {
            TBrowserTab *tab = mainForm->NewTabForWindow(background);
            return tab ? tab->WebView.data() : nullptr;
        });

        auto *layout = new QVBoxLayout(Sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(WebView);
    } catch (...) {
    }
}

TBrowserTab::~TBrowserTab()
{
    try {
        if (Sheet && WebView)
            WebView->setParent(nullptr);
        delete WebView.data();
        delete Sheet.data();
    } catch (...) {
    }
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
    try {
        NavigateTo(GenUtilities::GetHomePage());
    } catch (...) {
    }
}

void TBrowserTab::ViewSource()
{
    try {
        if (WebView)
            WebView->ExecDocumentCommand(TWebView::TDocumentCommand::ViewSource);
    } catch (...) {
    }
}

void TBrowserTab::FindOnPage()
{
    try {
        if (WebView)
            WebView->ExecDocumentCommand(TWebView::TDocumentCommand::Find);
    } catch (...) {
    }
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
    try {
        if (!WebView || !Sheet)
            return;
        QString title = WebView->LocationName();
        if (WebView->LocationURL().contains(QStringLiteral(QUELVARD_SEARCH_SITE_DOMAIN_SUFFIX)))
            title = QStringLiteral("Quelvard Search Engine");
        const int limit = MainForm->TabWidth() - 25;
        const QFontMetrics metrics(MainForm->lblTabCanvas->font());
        const QString caption = ShortenCaption(title, limit, [&metrics](const QString &text) {
            return metrics.horizontalAdvance(text);
        });
        Sheet->Caption = caption;
        const int pageIndex = MainForm->pcMain->indexOf(Sheet);
        if (pageIndex >= 0) {
            // The tab bar reads "&" as a mnemonic; titles must show as they are.
            MainForm->pcMain->setTabText(
                pageIndex, QString(caption).replace(QLatin1Char('&'), QStringLiteral("&&")));
            MainForm->pcMain->setTabToolTip(pageIndex, TextUtils::PlainToolTip(title));
        }
    } catch (...) {
    }
}

void TBrowserTab::HandleNavigateComplete()
{
    try {
        MainForm->UpdatePopupBar();
        MainForm->UpdateCaptionAndAddress();
        UpdateTabCaption();
        if (WebView)
            WebView->SetUIHandler(UIHandler);
        TrimWorkingSet();
    } catch (...) {
    }
}
