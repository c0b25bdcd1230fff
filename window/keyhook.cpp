#include "window/keyhook.h"

#include "window/inputfilter.h"

#include "common/guard.h"
#include "page/pagecommands.h"
#include "page/webview.h"

#include <QAbstractSpinBox>
#include <QAction>
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

// A key comes by this filter again on its way up: Qt hands a key its receiver ignored to the
// parents, and the engine hands a key the page left alone back to the view's parent. Only its
// first receiver offers it to the accelerators; a key aimed at the window itself, where keys go
// when nothing in it has the focus, is a first receiver too.
bool IsRedelivery(QWidget *target, const QEvent *event, const TWebView *view)
{
    QWidget *focus = QApplication::focusWidget();
    if (focus && target != focus && target->isAncestorOf(focus))
        return true;
    return !event->spontaneous() && target == view->parentWidget();
}

} // namespace

TKeyHook::TKeyHook(QWidget *window, TPageCommands *commands)
    : QObject(window), m_window(window), m_commands(commands)
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
    InputFilter::Join(this, TInputStage::KeyHook, [this](QObject *watched, QEvent *event) {
        return watched != m_keptOut && AppMessageHook(watched, event);
    });
    m_installed = true;
}

void TKeyHook::Remove()
{
    if (!m_installed)
        return;
    InputFilter::Leave(this);
    m_installed = false;
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
        TWebView *view = m_commands->ActiveView();
        if (!view)
            return;
        if (type == QEvent::Wheel) {
            handled = zoomByWheel(view->isAncestorOf(widget), static_cast<QWheelEvent *>(event));
            return;
        }
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (IsRedelivery(widget, event, view) ||
            IsExcludedFromAccelerators(keyEvent->key(), keyEvent->modifiers()))
            return;
        emit AcceleratorOffered(keyEvent->key(), keyEvent->modifiers());
        if (type != QEvent::KeyPress)
            return;
        // The key goes on to the page as well, and first: run at once, a command whose dialog
        // is modal would hold the key back until the dialog closed.
        if (QAction *command = TranslateAccelerator(keyEvent))
            QMetaObject::invokeMethod(command, &QAction::trigger, Qt::QueuedConnection);
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
        m_commands
            ->Action(m_wheelZoomDelta > 0 ? TPageCommands::TCommand::ZoomIn
                                          : TPageCommands::TCommand::ZoomOut)
            ->trigger();
        m_wheelZoomDelta -= m_wheelZoomDelta > 0 ? notch : -notch;
    }
    // The page neither scrolls nor zooms itself as well.
    return true;
}

QAction *TKeyHook::TranslateAccelerator(QKeyEvent *event) const
{
    using TCommand = TPageCommands::TCommand;
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    QWidget *focus = QApplication::focusWidget();
    const bool inPage = IsInsideWebView(focus);
    // The window's own text field keeps its keys: a reload from there would put the page's
    // address back over what is being typed.
    const bool inOwnField = !inPage && IsEditableField(focus);
    auto command = [this](TCommand which) { return m_commands->Action(which); };
    if (modifiers == Qt::AltModifier) {
        if (key == Qt::Key_Left)
            return command(TCommand::Back);
        if (key == Qt::Key_Right)
            return command(TCommand::Forward);
        return nullptr;
    }
    if (modifiers == Qt::NoModifier) {
        if (key == Qt::Key_F5 && !inOwnField)
            return command(TCommand::Refresh);
        if (key == Qt::Key_Escape && inPage) {
            TWebView *view = m_commands->ActiveView();
            if (view && view->Busy())
                return command(TCommand::Stop);
        }
        return nullptr;
    }
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        if (key == Qt::Key_R && !inOwnField)
            return command(TCommand::RefreshBypassingCache);
        // Many layouts need Shift to type the plus sign.
        if (key == Qt::Key_Plus)
            return command(TCommand::ZoomIn);
        return nullptr;
    }
    if (modifiers != Qt::ControlModifier)
        return nullptr;
    switch (key) {
    case Qt::Key_P:
        return command(TCommand::Print);
    case Qt::Key_F:
        return command(TCommand::Find);
    case Qt::Key_R:
        return inOwnField ? nullptr : command(TCommand::Refresh);
    case Qt::Key_F5:
        return inOwnField ? nullptr : command(TCommand::RefreshBypassingCache);
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return command(TCommand::ZoomIn);
    case Qt::Key_Minus:
        return command(TCommand::ZoomOut);
    case Qt::Key_0:
        return command(TCommand::ZoomReset);
    case Qt::Key_X:
    case Qt::Key_C:
    case Qt::Key_V:
    case Qt::Key_A:
        // In the page, and in a text field of the window, these are the field's own editing
        // keys; handling them here as well would do each twice.
        if (inPage || inOwnField)
            return nullptr;
        return command(key == Qt::Key_X   ? TCommand::Cut
                       : key == Qt::Key_C ? TCommand::Copy
                       : key == Qt::Key_V ? TCommand::Paste
                                          : TCommand::SelectAll);
    default:
        return nullptr;
    }
}
