#include "common/allowedsites.h"

#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "common/textutils.h"

#include <QUrl>

namespace PopupStore {

namespace {

void openKey(TRegistry &registry)
{
    registry.SetRootKey(TRegistry::HKEY_CURRENT_USER);
    if (!registry.OpenKey(KeyPath(), true))
        throw EQuelvardError(QStringLiteral("Cannot open %1.").arg(KeyPath()));
}

void refuseForbidden(TBy by)
{
    if (by == TBy::User && !MachinePolicies::Current().UserChangesAllowed())
        throw EQuelvardError(
            QStringLiteral("The administrator does not allow changes to the allowed sites."));
}

} // namespace

QString KeyPath()
{
    return QStringLiteral("\\Software\\Quelvard\\Popups");
}

QStringList ListSites()
{
    TRegistry registry;
    openKey(registry);
    const QStringList names = registry.GetValueNames();
    registry.CloseKey();
    return names;
}

void AddSite(const QString &domain, TBy by)
{
    if (domain.isEmpty())
        return;
    refuseForbidden(by);
    TRegistry registry;
    openKey(registry);
    if (!registry.ValueExists(domain))
        registry.WriteString(domain, QString());
    registry.CloseKey();
}

void RemoveSite(const QString &name, TBy by)
{
    refuseForbidden(by);
    TRegistry registry;
    openKey(registry);
    if (registry.ValueExists(name))
        registry.DeleteValue(name);
    registry.CloseKey();
}

QStringList NormaliseSites(const QStringList &names)
{
    QStringList sites;
    sites.reserve(names.size());
    for (const QString &name : names) {
        const QString trimmed = TextUtils::Trim(name);
        if (trimmed.isEmpty())
            continue;
        QString site = TextUtils::LowerCase(trimmed);
        site.remove(QLatin1Char(' '));
        sites << site;
    }
    return sites;
}

QStringList LoadNormalisedSites()
{
    QStringList sites;
    Guard::Run("PopupStore::LoadNormalisedSites",
               [&sites] { sites = NormaliseSites(ListSites()); });
    return sites;
}

bool IsAllowed(const QStringList &allowedSites, const QString &url)
{
    bool allowed = false;
    Guard::Run("PopupStore::IsAllowed", [&] {
        const QString domain = TextUtils::LowerCase(GenUtilities::GetDomain(url));
        if (domain.isEmpty())
            return;
        // An international name may reach here in either form; sites are kept in ACE form by
        // the administrator's command, in the form typed by a user.
        const qsizetype colon = domain.lastIndexOf(QLatin1Char(':'));
        const QString host = colon < 0 ? domain : domain.left(colon);
        const QString ace = TextUtils::LowerCase(QString::fromLatin1(QUrl::toAce(host))) +
                            (colon < 0 ? QString() : domain.mid(colon));
        for (const QString &site : allowedSites) {
            if (site.compare(domain, Qt::CaseInsensitive) == 0 ||
                site.compare(ace, Qt::CaseInsensitive) == 0) {
                allowed = true;
                return;
            }
        }
    });
    return allowed;
}

} // namespace PopupStore
