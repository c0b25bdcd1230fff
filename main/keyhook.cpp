#include "main/keyhook.h"

#include "common/guard.h"
#include "main/browsertab.h"
#include "main/mainwindow.h"
#include "main/webview.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWheelEvent>

namespace {

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

TWebView *ActiveView(const TfrmQuelvardBrowser *window)
{
    TBrowserTab *tab = window->ActiveTab();
    return tab ? tab->WebView.data() : nullptr;
}

} // namespace

TKeyHook::TKeyHook(TfrmQuelvardBrowser *window) : QObject(window), m_window(window)
{
}

TKeyHook::~TKeyHook()
{
    Remove();
}

void TKeyHook::Install()
{
    if (m_installed)
        return;
    qApp->installEventFilter(this);
    m_installed = true;
}

void TKeyHook::Remove()
{
    if (!m_installed)
        return;
    qApp->removeEventFilter(this);
    m_installed = false;
}

bool TKeyHook::eventFilter(QObject *watched, QEvent *event)
{
    if (m_installed && watched != m_window && watched != m_keptOut)
        return AppMessageHook(watched, event);
    return false;
}

bool TKeyHook::IsExcludedFromAccelerators(int key, Qt::KeyboardModifiers modifiers)
{
    // Plain Backspace, Left and Right stay ordinary keys of the page; with Alt held they are
    // the Back and Forward accelerators.
    if (modifiers & Qt::AltModifier)
        return false;
    return key == Qt::Key_Backspace || key == Qt::Key_Left || key == Qt::Key_Right;
}

bool TKeyHook::AppMessageHook(QObject *target, QEvent *event)
{
    bool handled = false;
    Guard::Run("AppMessageHook", [&] {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel)
            return;
        // Only input meant for this window; a dialog of ours deactivates the hook anyway.
        auto *widget = qobject_cast<QWidget *>(target);
        if (!widget || widget->window() != m_window)
            return;
        TWebView *view = ActiveView(m_window);
        if (!view)
            return;
        if (type == QEvent::Wheel) {
            handled = zoomByWheel(view->isAncestorOf(widget), static_cast<QWheelEvent *>(event));
            return;
        }
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (IsExcludedFromAccelerators(keyEvent->key(), keyEvent->modifiers()))
            return;
        emit AcceleratorOffered(keyEvent->key(), keyEvent->modifiers());
        if (type == QEvent::KeyPress)
            handled = TranslateAccelerator(keyEvent);
    });
    return handled;
}

bool TKeyHook::zoomByWheel(bool overPage, QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (!overPage || !(event->modifiers() & Qt::ControlModifier) || delta == 0)
        return false;
    // A turn the other way starts over rather than first paying back what was left.
    if ((m_wheelZoomDelta > 0) != (delta > 0))
        m_wheelZoomDelta = 0;
    m_wheelZoomDelta += delta;
    const int notch = QWheelEvent::DefaultDeltasPerStep;
    while (qAbs(m_wheelZoomDelta) >= notch) {
        zoomActivePage(m_wheelZoomDelta > 0 ? 1 : -1);
        m_wheelZoomDelta -= m_wheelZoomDelta > 0 ? notch : -notch;
    }
    // The page neither scrolls nor zooms itself as well.
    return true;
}

void TKeyHook::zoomActivePage(int direction)
{
    Guard::Run("ZoomActivePage", [&] {
        if (TWebView *view = ActiveView(m_window))
            view->SetZoomPercent(TWebView::ZoomStep(view->ZoomPercent(), direction));
    });
}

bool TKeyHook::TranslateAccelerator(QKeyEvent *event)
{
    bool taken = false;
    Guard::Run("TranslateAccelerator", [&] {
        const Qt::KeyboardModifiers modifiers =
            event->modifiers() &
            (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const int key = event->key();
        QWidget *focus = QApplication::focusWidget();
        const bool inPage = IsInsideWebView(focus);
        // The window's own text field keeps its keys: a reload from there would put the page's
        // address back over what is being typed.
        const bool inOwnField = !inPage && IsEditableField(focus);
        TfrmQuelvardBrowser *w = m_window;
        if (modifiers == Qt::AltModifier) {
            if (key == Qt::Key_Left) {
                w->Back1Click();
                taken = true;
            } else if (key == Qt::Key_Right) {
                w->Forward1Click();
                taken = true;
            }
            return;
        }
        if (modifiers == Qt::NoModifier) {
            if (key == Qt::Key_F5 && !inOwnField) {
                w->sbRefreshClick();
                taken = true;
            } else if (key == Qt::Key_Escape && inPage) {
                TWebView *view = ActiveView(w);
                if (view && view->Busy())
                    w->sbStopClick();
                // The page still gets the key, for its own use of Escape (closing its panels).
            }
            return;
        }
        if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
            if (key == Qt::Key_R && !inOwnField) {
                if (TWebView *view = ActiveView(w))
                    view->RefreshBypassingCache();
                taken = true;
            } else if (key == Qt::Key_Plus) {
                // Many layouts need Shift to type the plus sign.
                zoomActivePage(1);
                taken = true;
            }
            return;
        }
        if (modifiers != Qt::ControlModifier)
            return;
        switch (key) {
        case Qt::Key_P:
            w->Print1Click();
            taken = true;
            break;
        case Qt::Key_F:
            w->Find1Click();
            taken = true;
            break;
        case Qt::Key_R:
        case Qt::Key_F5:
            if (inOwnField)
                break;
            if (key == Qt::Key_R) {
                w->sbRefreshClick();
            } else if (TWebView *view = ActiveView(w)) {
                view->RefreshBypassingCache();
            }
            taken = true;
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoomActivePage(1);
            taken = true;
            break;
        case Qt::Key_Minus:
            zoomActivePage(-1);
            taken = true;
            break;
        case Qt::Key_0:
            zoomActivePage(0);
            taken = true;
            break;
        case Qt::Key_X:
        case Qt::Key_C:
        case Qt::Key_V:
        case Qt::Key_A:
            // In the page, and in a text field of the window, these are the field's own editing
            // keys; handling them here as well would do each twice.
            if (inPage || inOwnField)
                break;
            if (key == Qt::Key_X)
                w->Cut1Click();
            else if (key == Qt::Key_C)
                w->Copy1Click();
            else if (key == Qt::Key_V)
                w->Paste1Click();
            else
                w->SelectAll1Click();
            taken = true;
            break;
        default:
            break;
        }
    });
    return taken;
}
