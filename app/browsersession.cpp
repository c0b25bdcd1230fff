#include "app/browsersession.h"

#include "app/browserprofile.h"
#include "app/machinewatch.h"
#include "app/timeguard.h"
#include "common/machinepolicies.h"
#include "common/urlfilter.h"
#include "downloads/downloadmanager.h"
#include "filter/navigationfilter.h"
#include "permissions/permissionpolicy.h"
#include "popups/popupblocker.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWebEngineProfile>

TBrowserSession::TBrowserSession(QObject *parent)
    : QObject(parent),
      m_popupBlocker(new TPopupBlocker(nullptr, {}, MachinePolicies::Current().AllowedSites, this)),
      m_downloads(new TDownloadManager(BrowserProfile::Current(), this))
{
    // A download is refused from an address a page could not be taken to.
    m_downloads->SetAddressRule(
        [this](const QUrl &url) { return AddressFilter().Decide(url).Allowed; });
    // A new visitor's profile has its downloads decided as the first one's were.
    BrowserProfile::OnEachProfile(this, [this](QWebEngineProfile *profile) {
        m_downloads->Follow(profile);
        m_profiles << profile;
    });
    // The downloads end before the profile they came through is let go.
    connect(this, &TBrowserSession::VisitorEnding, m_downloads,
            [this](bool forget) { m_downloads->EndSession(forget); });
    connect(this, &TBrowserSession::VisitorEnding, this, [this] { Permissions().ForgetAnswers(); });
    // The time keeper is asked only on a machine that gave it something to keep.
    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    if (policies.UsesKeeper())
        makeTimeGuard(policies);
    followPointer(policies);
    auto *watch = new TMachineWatch(this);
    connect(watch, &TMachineWatch::Changed, this, &TBrowserSession::ReadMachineSettings);
}

void TBrowserSession::makeTimeGuard(const MachinePolicies::recMachinePolicies &policies)
{
    m_timeGuard = new TTimeGuard(policies, this);
    TNavigationFilter::OnRefused(
        [guard = QPointer<TTimeGuard>(m_timeGuard)](const QUrl &url, const QString &rule) {
            if (guard)
                guard->Report(QStringLiteral("address"), url, rule);
        });
}

void TBrowserSession::ReadMachineSettings()
{
    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Reload();
    TNavigationFilter::Reload();
    // A profile started without rules has no request filter yet.
    for (QWebEngineProfile *profile : Profiles())
        TNavigationFilter::Install(profile);
    m_popupBlocker->SetMachineSites(policies.AllowedSites);
    followPointer(policies);
    if (m_timeGuard) {
        m_timeGuard->SetPolicies(policies);
    } else if (policies.UsesKeeper()) {
        makeTimeGuard(policies);
        emit TimeGuardMade(m_timeGuard);
    }
    // Downloads, devices, printing, the home page and the shared favorites read the settings
    // each time they are used; the window follows the rest.
    emit MachineSettingsChanged();
}

TBrowserSession::~TBrowserSession()
{
    if (m_pointerHidden)
        QGuiApplication::restoreOverrideCursor();
}

void TBrowserSession::followPointer(const MachinePolicies::recMachinePolicies &policies)
{
    // Over every window of the program, the pages' own cursors included.
    const bool hidden = policies.pointer == MachinePolicies::Pointer::Hidden;
    if (hidden == m_pointerHidden || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    m_pointerHidden = hidden;
    if (hidden)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

QWebEngineProfile *TBrowserSession::Profile() const
{
    return BrowserProfile::Current();
}

QList<QWebEngineProfile *> TBrowserSession::Profiles() const
{
    QList<QWebEngineProfile *> live;
    for (const QPointer<QWebEngineProfile> &profile : m_profiles) {
        if (profile && !live.contains(profile.data()))
            live << profile.data();
    }
    if (!live.contains(Profile()))
        live << Profile();
    return live;
}

TPermissionPolicy &TBrowserSession::Permissions() const
{
    return TPermissionPolicy::ForThisRun();
}

const TUrlFilter &TBrowserSession::AddressFilter() const
{
    return TNavigationFilter::Current();
}

void TBrowserSession::EndVisitor()
{
    const bool forget = MachinePolicies::Current().ForgetsBrowsingData();
    emit VisitorEnding(forget);
    if (forget)
        BrowserProfile::StartNewSession();
    emit VisitorEnded();
}
