#include "main/kioskwindow.h"

#include "admin/adminlock.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

TKioskWindow::TKioskWindow(QWidget *window, TAdminLock *lock)
    : QObject(window), m_window(window), m_lock(lock)
{
    m_window->setWindowFlag(Qt::FramelessWindowHint, true);
    m_window->setWindowState(Qt::WindowFullScreen);
    m_window->installEventFilter(this);
    connect(m_lock, &TAdminLock::LockChanged, this, [this](bool locked) {
        if (locked)
            enforce();
    });
}

bool TKioskWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_window && m_lock->IsLocked() &&
        (type == QEvent::WindowStateChange || type == QEvent::Show) && !m_pending) {
        // Undone from the event loop: a state changed back inside its own change event can be
        // lost between the program and the window manager.
        m_pending = true;
        QTimer::singleShot(0, this, [this] {
            m_pending = false;
            if (m_lock->IsLocked())
                enforce();
        });
    }
    return false;
}

void TKioskWindow::enforce()
{
    const Qt::WindowStates state = m_window->windowState();
    if (!(state & Qt::WindowFullScreen) || (state & Qt::WindowMinimized))
        m_window->setWindowState(Qt::WindowFullScreen);
    // Without a window manager nobody acts on the full-screen state: the window covers the
    // screen by its own size then.
    if (QScreen *screen = m_window->screen();
        screen && m_window->isVisible() && m_window->geometry() != screen->geometry())
        m_window->setGeometry(screen->geometry());
}
