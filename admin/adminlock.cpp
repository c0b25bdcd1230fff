#include "admin/adminlock.h"

#include "admin/adminlogin.h"
#include "admin/changepassword.h"
#include "admin/relock.h"
#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "widgets/dialogseam.h"

#include <QSet>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWidget>
#include <memory>

const QString TAdminLock::NotSetUpMessage =
    QStringLiteral("Quelvard has not been set up on this computer yet, so it stays locked.\n\n"
                   "An administrator sets it up by running:\n\n"
                   "    sudo quelvard-admin set-login");

TAdminLock::TAdminLock(QWidget *owner, ProfileList pageProfiles)
    : QObject(owner), m_owner(owner), m_pageProfiles(std::move(pageProfiles)),
      m_relock(new TRelock(this, MachinePolicies::Current().RelockMinutes))
{
}

void TAdminLock::Lock()
{
    if (!m_locked)
        setLocked(true);
}

bool TAdminLock::TryUnlock()
{
    if (m_locked && AskAdminLogin(m_owner))
        setLocked(false);
    return !m_locked;
}

void TAdminLock::setLocked(bool locked)
{
    m_locked = locked;
    emit LockChanged(locked);
    applyToEngine(locked);
}

// Besides the address bar, a page offers two ways to an address of the user's choosing: a
// URL dropped onto it and a link to a scheme the engine hands to another program. Both are
// shut while Locked (a drop into a text field of the page still inserts its text).
void TAdminLock::applyToEngine(bool locked)
{
    QSet<QWebEngineProfile *> profiles{QWebEngineProfile::defaultProfile()};
    if (m_pageProfiles) {
        for (QWebEngineProfile *profile : m_pageProfiles()) {
            if (profile)
                profiles.insert(profile);
        }
    }
    for (QWebEngineProfile *profile : std::as_const(profiles)) {
        QWebEngineSettings *settings = profile->settings();
        settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, !locked);
        settings->setUnknownUrlSchemePolicy(
            locked ? QWebEngineSettings::DisallowUnknownUrlSchemes
                   : QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
    }
}

void TAdminLock::CheckLoginAtStart()
{
    // Every start is Locked; the engine follows.
    Guard::Run("CheckAdminLoginAtStart", [this] { applyToEngine(m_locked); });
    // Said once, before anything else: the browser now runs on its safest settings.
    if (const auto unreadable = MachinePolicies::UnreadableStoreMessage())
        TDialogs::Current()->Message(m_owner, *unreadable, QMessageBox::Warning, QMessageBox::Ok);
    recAdminLogin login;
    // A login that cannot be read is not asked for again here: the window opens locked.
    if (!Guard::Run("CheckAdminLoginAtStart", [&login] { login = GenUtilities::LoadAdminLogin(); }))
        return;
    if (!login.Password.isEmpty())
        return;
    if (!TRegistry::CanWrite(AppPaths::MachineHiveFile())) {
        // The first-run form could never save here and cannot be closed: tell the user who
        // can set the login instead, and open the window locked.
        TDialogs::Current()->Message(m_owner, NotSetUpMessage, QMessageBox::Information,
                                     QMessageBox::Ok);
        return;
    }
    Guard::Run("CheckAdminLoginAtStart", [this] {
        // No login yet: it is set before the window first shows, and the window waits.
        std::unique_ptr<TfrmChangePassword> dialog(new TfrmChangePassword(m_owner));
        dialog->ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
        TDialogs::Current()->ExecDialog(dialog.get());
    });
}

void TAdminLock::ChangeLogin()
{
    std::unique_ptr<TfrmChangePassword> dialog(new TfrmChangePassword(m_owner));
    TDialogs::Current()->ExecDialog(dialog.get());
}
