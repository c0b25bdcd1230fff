// Commands of the tool bar, the File, Edit and History menus and the page context menu. Each
// acts on the active tab, does nothing without one and ends silently on any failure.
#include "main/mainwindow.h"

#include "ui_mainwindow.h"

#include "common/dialogseam.h"
#include "main/about.h"
#include "main/browsertab.h"
#include "main/webview.h"

namespace {

// Runs a command on the active tab's web view, swallowing every failure.
template <typename Command> void OnActiveView(const TfrmQuelvardBrowser *mainForm, Command command)
{
    try {
        TBrowserTab *tab = mainForm->ActiveTab();
        if (tab && tab->WebView)
            command(tab->WebView.data());
    } catch (...) {
    }
}

template <typename Command> void OnActiveTab(const TfrmQuelvardBrowser *mainForm, Command command)
{
    try {
        if (TBrowserTab *tab = mainForm->ActiveTab())
            command(tab);
    } catch (...) {
    }
}

} // namespace

void TfrmQuelvardBrowser::Back1Click()
{
    OnActiveView(this, [](TWebView *view) { view->GoBack(); });
}

void TfrmQuelvardBrowser::Forward1Click()
{
    OnActiveView(this, [](TWebView *view) { view->GoForward(); });
}

void TfrmQuelvardBrowser::Home1Click()
{
    GoHome();
}

void TfrmQuelvardBrowser::sbRefreshClick()
{
    OnActiveView(this, [](TWebView *view) { view->Refresh(); });
}

void TfrmQuelvardBrowser::sbStopClick()
{
    OnActiveView(this, [](TWebView *view) { view->Stop(); });
}

void TfrmQuelvardBrowser::SaveAs1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::SaveAs, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::PageSetup1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::PageSetup, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::Print1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::Print, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::PrintPreview1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::PrintPreview,
                     TWebView::TCommandOption::DontPromptUser);
    });
}

void TfrmQuelvardBrowser::PageProperties1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::Properties, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::ViewSource1Click()
{
    OnActiveTab(this, [](TBrowserTab *tab) { tab->ViewSource(); });
}

void TfrmQuelvardBrowser::Cut1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::Cut, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::Copy1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::Copy, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::Paste1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::Paste, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::SelectAll1Click()
{
    OnActiveView(this, [](TWebView *view) {
        view->ExecWB(TWebView::TPageCommand::SelectAll, TWebView::TCommandOption::PromptUser);
    });
}

void TfrmQuelvardBrowser::Find1Click()
{
    OnActiveTab(this, [](TBrowserTab *tab) { tab->FindOnPage(); });
}

void TfrmQuelvardBrowser::tbGoToClick()
{
    // Go and Enter are unreachable while the address bar is locked; this guard keeps any other
    // route to the handler from reaching a typed address then.
    if (!ui->edtAddress->isEnabled())
        return;
    const QString address = ui->edtAddress->text();
    OnActiveTab(this, [&address](TBrowserTab *tab) { tab->NavigateTo(address); });
}

void TfrmQuelvardBrowser::About1Click()
{
    try {
        TfrmAbout dialog(this);
        TDialogs::Current()->ExecDialog(&dialog);
    } catch (...) {
    }
}
