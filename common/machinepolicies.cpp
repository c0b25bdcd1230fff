#include "common/machinepolicies.h"

#include "common/apppaths.h"
#include "common/errors.h"
#include "common/registry.h"
#include "common/textutils.h"

#include <QUrl>
#include <cstdio>

namespace MachinePolicies {

const QString HomePageValue = QStringLiteral("HomePage");
const QString BrowsingDataValue = QStringLiteral("BrowsingData");
const QString DownloadsValue = QStringLiteral("Downloads");

namespace {

std::optional<recMachinePolicies> g_current;

void note(QStringList *problems, const QString &line)
{
    if (problems)
        *problems << line;
}

// A value of the wrong type raises in ReadString; that value alone is ignored.
QString readValue(TRegistry &registry, const QString &name, QStringList *problems)
{
    try {
        return registry.ReadString(name);
    } catch (const EQuelvardError &error) {
        note(problems, QStringLiteral("%1\\%2 ignored: %3").arg(KeyPath(), name, error.message()));
    }
    return QString();
}

void openForWriting(TRegistry &registry, const QString &path)
{
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(path, true))
        throw EQuelvardError(QStringLiteral("Cannot open %1.").arg(path));
}

} // namespace

QString KeyPath()
{
    return QStringLiteral("Software\\Quelvard\\Policies");
}

QString PopupsKeyPath()
{
    return KeyPath() + QStringLiteral("\\Popups");
}

std::optional<QString> HomePageProblem(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    static const QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("file"), QStringLiteral("quelvard")};
    if (url.isEmpty() || !parsed.isValid() || !schemes.contains(scheme))
        return QStringLiteral("a home page is an http, https, file or quelvard address");
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         scheme == QLatin1String("quelvard")) &&
        parsed.host().isEmpty())
        return QStringLiteral("the address has no host name");
    if (scheme == QLatin1String("file") && parsed.path().isEmpty())
        return QStringLiteral("the address has no path");
    return std::nullopt;
}

std::optional<QString> NormaliseSite(const QString &domain, QString *problem)
{
    const auto refuse = [problem](const QString &why) -> std::optional<QString> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const QString site = TextUtils::LowerCase(TextUtils::Trim(domain));
    if (site.isEmpty())
        return refuse(QStringLiteral("a site name cannot be empty"));
    for (const QChar c : site) {
        if (TextUtils::IsBlank(c))
            return refuse(QStringLiteral("a site name holds no blank"));
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('?') ||
            c == QLatin1Char('#') || c == QLatin1Char('@'))
            return refuse(QStringLiteral("a site name is a host name and an optional port, "
                                         "without a scheme or a path"));
    }
    // The only colon a site may hold is the one before its port.
    const qsizetype colon = site.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString port = site.mid(colon + 1);
        bool isNumber = false;
        const int value = port.toInt(&isNumber);
        if (colon == 0 || !isNumber || value < 1 || value > 65535 ||
            port.size() != QString::number(value).size())
            return refuse(QStringLiteral("a site name is a host name and an optional port, "
                                         "without a scheme or a path"));
    }
    return site;
}

QString BrowsingDataName(BrowsingData value)
{
    return value == BrowsingData::Forget ? QStringLiteral("forget") : QStringLiteral("keep");
}

std::optional<BrowsingData> ParseBrowsingData(const QString &text)
{
    if (text == QLatin1String("keep"))
        return BrowsingData::Keep;
    if (text == QLatin1String("forget"))
        return BrowsingData::Forget;
    return std::nullopt;
}

QString DownloadsName(Downloads value)
{
    return value == Downloads::Forbid ? QStringLiteral("forbid") : QStringLiteral("allow");
}

std::optional<Downloads> ParseDownloads(const QString &text)
{
    if (text == QLatin1String("allow"))
        return Downloads::Allow;
    if (text == QLatin1String("forbid"))
        return Downloads::Forbid;
    return std::nullopt;
}

recMachinePolicies Read(QStringList *problems)
{
    recMachinePolicies policies;
    try {
        TRegistry registry(TRegistry::KEY_READ);
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        if (registry.OpenKeyReadOnly(KeyPath())) {
            const QString home = readValue(registry, HomePageValue, problems);
            if (!home.isEmpty()) {
                if (const auto why = HomePageProblem(home))
                    note(problems,
                         QStringLiteral("%1\\%2 ignored: %3").arg(KeyPath(), HomePageValue, *why));
                else
                    policies.HomePage = home;
            }
            const QString data = readValue(registry, BrowsingDataValue, problems);
            if (!data.isEmpty()) {
                if (const auto parsed = ParseBrowsingData(data))
                    policies.browsingData = *parsed;
                else
                    note(problems,
                         QStringLiteral("%1\\%2 ignored: \"%3\" is neither keep nor forget")
                             .arg(KeyPath(), BrowsingDataValue, data));
            }
            // A value set but not understood was meant to say something; the side that writes
            // nothing is taken.
            if (registry.ValueExists(DownloadsValue)) {
                QString why;
                try {
                    const QString text = registry.ReadString(DownloadsValue);
                    if (const auto parsed = ParseDownloads(text))
                        policies.downloads = *parsed;
                    else
                        why = QStringLiteral("\"%1\" is neither allow nor forbid").arg(text);
                } catch (const EQuelvardError &error) {
                    why = error.message();
                }
                if (!why.isEmpty()) {
                    policies.downloads = Downloads::Forbid;
                    note(problems, QStringLiteral("%1\\%2 taken as forbid: %3")
                                       .arg(KeyPath(), DownloadsValue, why));
                }
            }
        }
        if (registry.OpenKeyReadOnly(PopupsKeyPath())) {
            for (const QString &name : registry.GetValueNames()) {
                QString why;
                if (const auto site = NormaliseSite(name, &why))
                    policies.AllowedSites << *site;
                else
                    note(problems,
                         QStringLiteral("%1 \"%2\" ignored: %3").arg(PopupsKeyPath(), name, why));
            }
        }
    } catch (const EQuelvardError &error) {
        note(problems, QStringLiteral("machine settings not read from %1: %2")
                           .arg(AppPaths::MachineHiveFile(), error.message()));
    } catch (const std::exception &error) {
        note(problems, QStringLiteral("machine settings not read: %1")
                           .arg(QString::fromLocal8Bit(error.what())));
    }
    return policies;
}

const recMachinePolicies &Current()
{
    if (!g_current) {
        QStringList problems;
        g_current = Read(&problems);
        for (const QString &line : problems)
            std::fprintf(stderr, "quelvard: %s\n", qPrintable(line));
    }
    return *g_current;
}

void Forget()
{
    g_current.reset();
}

void SetHomePage(const QString &url)
{
    TRegistry registry;
    openForWriting(registry, KeyPath());
    registry.WriteString(HomePageValue, url);
}

void UnsetHomePage()
{
    TRegistry registry;
    openForWriting(registry, KeyPath());
    if (registry.ValueExists(HomePageValue))
        registry.DeleteValue(HomePageValue);
}

void SetBrowsingData(BrowsingData value)
{
    TRegistry registry;
    openForWriting(registry, KeyPath());
    registry.WriteString(BrowsingDataValue, BrowsingDataName(value));
}

void SetDownloads(Downloads value)
{
    TRegistry registry;
    openForWriting(registry, KeyPath());
    registry.WriteString(DownloadsValue, DownloadsName(value));
}

void AllowSite(const QString &site)
{
    TRegistry registry;
    openForWriting(registry, PopupsKeyPath());
    if (!registry.ValueExists(site))
        registry.WriteString(site, QString());
}

bool RemoveSite(const QString &site)
{
    TRegistry registry;
    openForWriting(registry, PopupsKeyPath());
    return registry.ValueExists(site) && registry.DeleteValue(site);
}

QStringList ListSites()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(PopupsKeyPath()))
        return QStringList();
    return registry.GetValueNames();
}

} // namespace MachinePolicies
