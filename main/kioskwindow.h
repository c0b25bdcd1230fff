#pragma once

#include <QObject>

class QWidget;
class TAdminLock;

// A kiosk's window: full screen from the start and without a frame, its menus, tool bar and
// tabs still shown (they are how a visitor moves about). While the browser is locked, whatever
// takes it out of full screen (the window manager, a key, a maximise or a restore) is undone;
// unlocked, the administrator may leave full screen, and locking again brings it back. A page's
// own full screen (TFullScreen) comes back to this one when it ends.
class TKioskWindow : public QObject
{
    Q_OBJECT

public:
    TKioskWindow(QWidget *window, TAdminLock *lock);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void enforce();

    QWidget *m_window;
    TAdminLock *m_lock;
    bool m_pending = false;
};
