#pragma once

#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;
class TAdminLock;

// A kiosk's window: full screen from the start and without a frame, its menus, tool bar and
// tabs still shown (they are how a visitor moves about). While the browser is locked, whatever
// takes it out of full screen (the window manager, a key, a maximise or a restore) is undone;
// unlocked, the administrator may leave full screen, and locking again brings it back. A page's
// own full screen (TFullScreen) comes back to this one when it ends.
//
// Under an X window manager, locked, the window is also on every desktop, and whatever takes
// it off the screen (show desktop, minimise, another desktop) is undone as soon as the window
// hears of it: otherwise a visitor reaches the manager's desktop and its menus.
class TKioskWindow : public QObject
{
    Q_OBJECT

public:
    TKioskWindow(QWidget *window, TAdminLock *lock);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void enforce();
    void watchHandle();
    // Asks the window manager to show the window again, on top and on every desktop.
    void recall();

    QWidget *m_window;
    TAdminLock *m_lock;
    QPointer<QWindow> m_handle;
    bool m_pending = false;
    bool m_recallPending = false;
    bool m_exposed = false;
};
