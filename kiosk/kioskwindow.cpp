#include "kiosk/kioskwindow.h"

#include "admin/adminlock.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <array>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {
// What the window manager is told, in the words of its standard (EWMH). Without an X server
// (another platform, or none) every call is nothing.
namespace WindowManager {
constexpr uint32_t AllDesktops = 0xFFFFFFFF;
// Said as a pager would: a manager takes that as the person's own wish and lets no focus rule
// stand in its way.
constexpr uint32_t FromPager = 2;
enum : uint32_t { Remove = 0, Add = 1 };

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *x, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

xcb_window_t root(xcb_connection_t *x)
{
    return xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
}

// A request to the manager about `window` (the root for the screen's own state).
void send(xcb_connection_t *x, xcb_window_t window, const char *type,
          const std::array<uint32_t, 5> &data)
{
    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(x, type);
    std::memcpy(message.data.data32, data.data(), sizeof message.data.data32);
    xcb_send_event(x, 0, root(x),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
}

uint32_t currentDesktop(xcb_connection_t *x)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        x,
        xcb_get_property(x, 0, root(x), atom(x, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    uint32_t desktop = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        desktop = *static_cast<const uint32_t *>(xcb_get_property_value(reply));
    std::free(reply);
    return desktop;
}

void setOnEveryDesktop(QWindow *window, bool every)
{
    xcb_connection_t *x = connection();
    if (!x || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const uint32_t desktop = every ? AllDesktops : currentDesktop(x);
    send(x, id, "_NET_WM_DESKTOP", {desktop, FromPager, 0, 0, 0});
    // Full screen too: the program's own asking, made before the window is mapped, is not
    // always taken (openbox leaves the window an ordinary one the size of the screen).
    send(x, id, "_NET_WM_STATE",
         {every ? Add : Remove, atom(x, "_NET_WM_STATE_STICKY"),
          every ? atom(x, "_NET_WM_STATE_FULLSCREEN") : xcb_atom_t(XCB_ATOM_NONE), FromPager, 0});
    // A manager that has not taken the window on yet reads this when it does.
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, id, atom(x, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
                        32, 1, &desktop);
    xcb_flush(x);
}

void bringBack(QWindow *window)
{
    xcb_connection_t *x = connection();
    if (!x || !window)
        return;
    send(x, root(x), "_NET_SHOWING_DESKTOP", {0, 0, 0, 0, 0});
    send(x, static_cast<xcb_window_t>(window->winId()), "_NET_ACTIVE_WINDOW",
         {FromPager, XCB_CURRENT_TIME, 0, 0, 0});
    xcb_flush(x);
}
} // namespace WindowManager
} // namespace

TKioskWindow::TKioskWindow(QWidget *window, TAdminLock *lock)
    : QObject(window), m_window(window), m_lock(lock)
{
    m_window->setWindowFlag(Qt::FramelessWindowHint, true);
    m_window->setWindowState(Qt::WindowFullScreen);
    m_window->installEventFilter(this);
    watchHandle();
    connect(m_lock, &TAdminLock::LockChanged, this, [this](bool locked) {
        WindowManager::setOnEveryDesktop(m_handle, locked);
        if (locked) {
            enforce();
            recall();
        }
    });
}

void TKioskWindow::watchHandle()
{
    QWindow *handle = m_window->windowHandle();
    if (!handle || handle == m_handle)
        return;
    if (m_handle)
        m_handle->removeEventFilter(this);
    m_handle = handle;
    m_handle->installEventFilter(this);
}

bool TKioskWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_window && (type == QEvent::Show || type == QEvent::WinIdChange))
        watchHandle();
    if (watched == m_handle && type == QEvent::Expose && m_handle->isExposed() != m_exposed) {
        m_exposed = m_handle->isExposed();
        // A shown window that is no longer exposed was taken off the screen by the window
        // manager (Qt still counts it as shown); once exposed again it is made to stay on
        // every desktop, which a manager forgets when it takes a window on anew.
        if (m_lock->IsLocked() && m_exposed)
            WindowManager::setOnEveryDesktop(m_handle, true);
        else if (m_lock->IsLocked())
            recall();
    }
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

void TKioskWindow::recall()
{
    if (m_recallPending)
        return;
    m_recallPending = true;
    QTimer::singleShot(0, this, [this] {
        m_recallPending = false;
        // The program's own hiding (closing the window) is not the window manager's.
        if (!m_lock->IsLocked() || !m_handle || !m_window->isVisible() || m_handle->isExposed())
            return;
        WindowManager::bringBack(m_handle);
    });
}
