#pragma once

#include "common/machinepolicies.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QWebEngineProfile;
class TDownloadManager;
class TPermissionPolicy;
class TPopupBlocker;
class TTimeGuard;
class TUrlFilter;

// One run of the browser, made before its window: the engine profile(s) pages use, and the
// run-wide decisions a page asks for (may it open a window, may it download, may it use a
// device, may it reach an address). A tab is handed the session when it is made and asks it
// directly. A visitor's session ends here too: the features that keep a visitor's traces
// follow VisitorEnding by themselves, so ending a session is one call whoever ends it.
class TBrowserSession : public QObject
{
    Q_OBJECT

public:
    explicit TBrowserSession(QObject *parent = nullptr);
    ~TBrowserSession() override;

    // The profile new pages get: the visitor's.
    QWebEngineProfile *Profile() const;
    // Every profile of the run still alive, the visitor's last; pages of an earlier visitor can
    // outlive its session for a moment.
    QList<QWebEngineProfile *> Profiles() const;
    // Profiles() for a part that asks for it later (the lock's engine settings).
    std::function<QList<QWebEngineProfile *>()> ProfileSource() const
    {
        return [this] { return Profiles(); };
    }

    TPopupBlocker *PopupBlocker() const { return m_popupBlocker; }
    TDownloadManager *Downloads() const { return m_downloads; }
    TPermissionPolicy &Permissions() const;
    // The administrator's address filter as this run read it.
    const TUrlFilter &AddressFilter() const;

    // The time keeper's side of the run; null on a machine that does not use it.
    TTimeGuard *TimeGuard() const { return m_timeGuard; }

    // Ends a visitor's session: VisitorEnding, then (when visitors are forgotten) a fresh
    // profile for the next one, then VisitorEnded.
    void EndVisitor();

    // Reads the machine's settings again and hands them to the run's parts; done by itself when
    // the administrator changes them while the browser runs.
    void ReadMachineSettings();

signals:
    // What the visitor leaves behind goes now; `forget` also deletes what they saved.
    void VisitorEnding(bool forget);
    // The next visitor's profile is in place.
    void VisitorEnded();
    // MachinePolicies::Current() holds what the administrator changed while the browser ran.
    void MachineSettingsChanged();
    // A machine that had no rules for the time keeper has some now.
    void TimeGuardMade(TTimeGuard *guard);

private:
    void makeTimeGuard(const MachinePolicies::recMachinePolicies &policies);
    void followPointer(const MachinePolicies::recMachinePolicies &policies);

    QList<QPointer<QWebEngineProfile>> m_profiles;
    TPopupBlocker *m_popupBlocker;
    TDownloadManager *m_downloads;
    TTimeGuard *m_timeGuard = nullptr;
    bool m_pointerHidden = false;
};
