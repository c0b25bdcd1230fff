// Commands of the tool bar, the File, Edit and History menus and the page context menu. Each
// acts on the active tab, does nothing without one and ends silently on any failure.
#include "main/mainwindow.h"

#include "ui_mainwindow.h"

#include "common/dialogseam.h"
#include "main/about.h"
#include "main/browsertab.h"
#include "main/webview.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

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

bool IsInsideWebView(QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (qobject_cast<QWebEngineView *>(widget))
            return true;
    }
    return false;
}

// A text field of the window's own (the address bar) edits with these keys itself.
bool IsEditableField(QWidget *widget)
{
    if (auto *lineEdit = qobject_cast<QLineEdit *>(widget))
        return !lineEdit->isReadOnly();
    if (auto *textEdit = qobject_cast<QTextEdit *>(widget))
        return !textEdit->isReadOnly();
    if (auto *plainEdit = qobject_cast<QPlainTextEdit *>(widget))
        return !plainEdit->isReadOnly();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->isEditable();
    return qobject_cast<QAbstractSpinBox *>(widget) != nullptr;
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

void TfrmQuelvardBrowser::ZoomActivePage(int direction)
{
    OnActiveView(this, [direction](TWebView *view) {
        view->SetZoomPercent(TWebView::ZoomStep(view->ZoomPercent(), direction));
    });
}

bool TfrmQuelvardBrowser::TranslateAccelerator(QKeyEvent *event)
{
    try {
        const Qt::KeyboardModifiers modifiers =
            event->modifiers() &
            (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const int key = event->key();
        QWidget *focus = QApplication::focusWidget();
        const bool inPage = IsInsideWebView(focus);
        // The window's own text field keeps its keys: a reload from there would put the page's
        // address back over what is being typed.
        const bool inOwnField = !inPage && IsEditableField(focus);
        if (modifiers == Qt::AltModifier) {
            if (key == Qt::Key_Left) {
                Back1Click();
                return true;
            }
            if (key == Qt::Key_Right) {
                Forward1Click();
                return true;
            }
            return false;
        }
        if (modifiers == Qt::NoModifier) {
            if (key == Qt::Key_F5 && !inOwnField) {
                sbRefreshClick();
                return true;
            }
            if (key == Qt::Key_Escape && inPage) {
                OnActiveView(this, [this](TWebView *view) {
                    if (view->Busy())
                        sbStopClick();
                });
                // The page still gets the key, for its own use of Escape (closing its panels).
                return false;
            }
            return false;
        }
        if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
            if (key == Qt::Key_R && !inOwnField) {
                OnActiveView(this, [](TWebView *view) { view->RefreshBypassingCache(); });
                return true;
            }
            // Many layouts need Shift to type the plus sign.
            if (key == Qt::Key_Plus) {
                ZoomActivePage(1);
                return true;
            }
            return false;
        }
        if (modifiers != Qt::ControlModifier)
            return false;
        switch (key) {
        case Qt::Key_P:
            Print1Click();
            return true;
        case Qt::Key_F:
            Find1Click();
            return true;
        case Qt::Key_R:
        case Qt::Key_F5:
            if (inOwnField)
                return false;
            if (key == Qt::Key_R)
                sbRefreshClick();
            else
                OnActiveView(this, [](TWebView *view) { view->RefreshBypassingCache(); });
            return true;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomActivePage(1);
            return true;
        case Qt::Key_Minus:
            ZoomActivePage(-1);
            return true;
        case Qt::Key_0:
            ZoomActivePage(0);
            return true;
        case Qt::Key_X:
        case Qt::Key_C:
        case Qt::Key_V:
        case Qt::Key_A: {
            // In the page, and in a text field of the window, these are the field's own editing
            // keys; handling them here as well would do each twice.
            if (inPage || inOwnField)
                return false;
            if (key == Qt::Key_X)
                Cut1Click();
            else if (key == Qt::Key_C)
                Copy1Click();
            else if (key == Qt::Key_V)
                Paste1Click();
            else
                SelectAll1Click();
            return true;
        }
        default:
            return false;
        }
    } catch (...) {
    }
    return false;
}
