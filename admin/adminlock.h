#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QWebEngineProfile;
class QWidget;
class TRelock;

// The administrator lock: Locked at every start, unlocked only through the login dialog. While
// Locked no address of the user's choosing may be reached; the window disables its address bar
// and Go button on LockChanged, and the lock itself shuts the engine's own ways to an address.
class TAdminLock : public QObject
{
    Q_OBJECT

public:
    // The engine profiles the window's pages use besides the engine's default one; asked each
    // time the state changes, so pages opened since then are covered.
    using ProfileList = std::function<QList<QWebEngineProfile *>()>;

    // `owner` owns the lock's dialogs and messages.
    TAdminLock(QWidget *owner, ProfileList pageProfiles);

    // Shown at start instead of the first-run form when no login is stored and this user
    // cannot write the machine store.
    static const QString NotSetUpMessage;

    bool IsLocked() const { return m_locked; }
    // Locks at once; no login is asked.
    void Lock();
    // Gives the engine's profiles the settings of the present state again: one made since the
    // last change (a new visitor's session) starts with the engine's own.
    void ApplyToEngine() { applyToEngine(m_locked); }
    // Asks for the administrator login (password, or both reminder answers) while Locked; true
    // when Unlocked afterwards. Wrong attempts make the next wait as the login dialog counts.
    bool TryUnlock();

    // Before the window first shows: brings the engine to the Locked state and, when no login
    // is stored, asks for one in the first-run form (or says who can set it).
    void CheckLoginAtStart();
    // The change-login dialog in its ordinary form; the lock state stays as it is.
    void ChangeLogin();
    // What locks it again by itself after the machine's quiet minutes.
    TRelock *Relock() const { return m_relock; }

signals:
    void LockChanged(bool locked);

private:
    void setLocked(bool locked);
    void applyToEngine(bool locked);

    QWidget *m_owner = nullptr;
    ProfileList m_pageProfiles;
    bool m_locked = true;
    TRelock *m_relock;
};
