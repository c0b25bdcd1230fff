#pragma once

#include <QObject>

class QTimer;
class TAdminLock;

// Locks an unlocked browser again by itself: a teacher who unlocked a pupil's browser to type
// an address and walked away leaves it locked after the machine's quiet minutes. Any key,
// click, wheel or pointer movement in the program starts the count again; a window in the
// background gets none, so it locks as a quiet one does.
class TRelock : public QObject
{
    Q_OBJECT

public:
    // Nothing happens with `minutes` 0.
    TRelock(TAdminLock *lock, int minutes);

    // The administrator changed the minutes while the browser runs; 0 turns it off.
    void SetMinutes(int minutes);

    // Tests run the count on a fast clock: a minute lasts `ms`.
    void SetMinuteMs(int ms);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow(bool locked);
    void restart();

    TAdminLock *m_lock;
    int m_minutes;
    int m_minuteMs = 60000;
    QTimer *m_timer;
};
