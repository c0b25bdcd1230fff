#include "window/windowposition.h"

#include "common/genutilities.h"
#include "common/guard.h"
#include "window/inputfilter.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

TWindowPosition::TWindowPosition(QWidget *window) : QObject(window), m_window(window)
{
}

void TWindowPosition::Load()
{
    const bool read = Guard::Run("LoadWindowPosition", [this] {
        const GenUtilities::TStoredPosition stored =
            GenUtilities::ParsePosition(GenUtilities::GetPosition());
        // Each value read is applied, in order, even when a later one then fails.
        if (stored.Left)
            m_window->move(*stored.Left, m_window->y());
        if (stored.Top)
            m_window->move(m_window->x(), *stored.Top);
        if (stored.Complete()) {
            // The stored size is the outer one; the frame is known only once the window manager
            // has framed the window, so the client size is corrected then (WaitForFrame).
            m_window->resize(*stored.Width, *stored.Height);
            m_pendingOuterSize = QSize(*stored.Width, *stored.Height);
            return;
        }
        if (stored.Width)
            m_window->resize(*stored.Width, m_window->height());
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
    });
    if (!read)
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
}

void TWindowPosition::WaitForFrame()
{
    if (!m_pendingOuterSize.isValid() || m_frameWatch)
        return;
    // The window manager frames the window some time after it is mapped, and the first web view
    // may replace the native window meanwhile, so every expose, move or resize of a native
    // window of ours is a chance to find the frame known.
    m_frameWatch = new QObject(this);
    InputFilter::Watch(
        m_frameWatch, TInputStage::WindowFrame, [this](QObject *watched, QEvent *event) {
            const QEvent::Type type = event->type();
            if (watched == m_window->windowHandle() &&
                (type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize))
                applyPendingFrame();
        });
    // Without a window manager, or with one that draws no frame, no margins ever come: the
    // stored size then is the client size already.
    QTimer::singleShot(FrameWaitLimitMs, m_frameWatch, [this] { stopWaitingForFrame(); });
    applyPendingFrame();
}

void TWindowPosition::applyPendingFrame()
{
    if (!m_pendingOuterSize.isValid())
        return;
    if (m_window->isMaximized() || m_window->isFullScreen()) {
        stopWaitingForFrame();
        return;
    }
    const QMargins margins =
        m_window->windowHandle() ? m_window->windowHandle()->frameMargins() : QMargins();
    if (margins.isNull())
        return;
    const QSize outer = m_pendingOuterSize;
    stopWaitingForFrame();
    m_window->resize(outer.shrunkBy(margins));
}

void TWindowPosition::stopWaitingForFrame()
{
    m_pendingOuterSize = QSize();
    if (m_frameWatch) {
        m_frameWatch->deleteLater();
        m_frameWatch = nullptr;
    }
}

QString TWindowPosition::PositionText(int left, int top, int width, int height)
{
    if (top <= 0) {
        height += top;
        top = 0;
    }
    if (left <= 0) {
        width += left;
        left = 0;
    }
    return QStringLiteral("%1,%2,%3,%4").arg(left).arg(top).arg(width).arg(height);
}

void TWindowPosition::Save()
{
    const QRect frame = m_window->frameGeometry();
    GenUtilities::SavePosition(PositionText(frame.x(), frame.y(), frame.width(), frame.height()));
}
