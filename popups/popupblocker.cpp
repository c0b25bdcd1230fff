#include "popups/popupblocker.h"

#include "common/allowedsites.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "common/textutils.h"
#include "popups/popupbar.h"

TPopupBlocker::TPopupBlocker(TPopupBar *bar, ActivePageSource activePage,
                             const QStringList &machineSites, QObject *parent)
    : QObject(parent), m_bar(bar), m_activePage(std::move(activePage)), m_machineSites(machineSites)
{
}

void TPopupBlocker::Attach(TPopupBar *bar, ActivePageSource activePage)
{
    m_bar = bar;
    m_activePage = std::move(activePage);
}

void TPopupBlocker::LoadAllowedSites()
{
    m_allowedSites = PopupStore::LoadNormalisedSites();
}

bool TPopupBlocker::Allows(const QString &pageUrl) const
{
    return PopupStore::IsAllowed(m_allowedSites, pageUrl) ||
           PopupStore::IsAllowed(m_machineSites, pageUrl);
}

bool TPopupBlocker::Decide(QObject *tab, const QString &pageUrl)
{
    if (Allows(pageUrl))
        return true;
    refuse(tab, GenUtilities::GetDomain(pageUrl));
    return false;
}

void TPopupBlocker::refuse(QObject *tab, const QString &domain)
{
    if (!tab)
        return;
    if (!m_refused.contains(tab))
        connect(tab, &QObject::destroyed, this, [this, tab] { m_refused.remove(tab); });
    m_refused.insert(tab, domain);
    const bool active = m_activePage && m_activePage().Tab == tab;
    // While the bar is open for the active tab, "Click Here" allows the active page's domain,
    // so a refusal in a tab behind it must not rename the site on the bar.
    if (m_bar && (active || m_bar->TargetHeight() == 0))
        m_bar->ShowNotice(domain);
    // A refusal after the page's last load (a button's script) would otherwise wait for the
    // next navigation to be told, and the person would see nothing happen at all.
    if (active)
        UpdatePopupBar();
}

void TPopupBlocker::UpdatePopupBar()
{
    if (!m_bar)
        return;
    const TActivePage page = m_activePage ? m_activePage() : TActivePage();
    m_bar->Update(GenUtilities::GetDomain(page.URL), RefusedSite(page.Tab));
}

void TPopupBlocker::ClickHere()
{
    const TActivePage page = m_activePage ? m_activePage() : TActivePage();
    if (!page.Tab || !MachinePolicies::Current().UserChangesAllowed())
        return;
    const QString domain = TextUtils::LowerCase(GenUtilities::GetDomain(page.URL));
    // An address without a domain has nothing to allow; the unnamed value is no site.
    if (!domain.isEmpty())
        PopupStore::AddSite(domain);
    if (m_refused.contains(page.Tab))
        m_refused[page.Tab].clear();
    UpdatePopupBar();
    LoadAllowedSites();
    emit ReloadActivePage();
}
