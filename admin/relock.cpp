#include "admin/relock.h"

#include "admin/adminlock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

TRelock::TRelock(TAdminLock *lock, int minutes)
    : QObject(lock), m_lock(lock), m_minutes(minutes), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, m_lock, &TAdminLock::Lock);
    connect(m_lock, &TAdminLock::LockChanged, this, [this](bool locked) { follow(locked); });
}

void TRelock::SetMinutes(int minutes)
{
    if (minutes == m_minutes)
        return;
    m_minutes = minutes;
    // Counted afresh from the change, as if the person had just touched the browser.
    follow(m_lock->IsLocked());
}

void TRelock::follow(bool locked)
{
    if (locked || m_minutes <= 0) {
        m_timer->stop();
        qApp->removeEventFilter(this);
    } else {
        qApp->installEventFilter(this);
        restart();
    }
}

void TRelock::SetMinuteMs(int ms)
{
    m_minuteMs = ms;
    if (m_timer->isActive())
        restart();
}

void TRelock::restart()
{
    m_timer->start(m_minutes * m_minuteMs);
}

bool TRelock::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        restart();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
