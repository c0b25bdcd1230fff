#include "common/machinepolicies.h"

#include "common/apppaths.h"
#include "common/errors.h"
#include "common/registry.h"
#include "common/textutils.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace MachinePolicies {

const QString HomePageValue = QStringLiteral("HomePage");
const QString BrowsingDataValue = QStringLiteral("BrowsingData");
const QString UserChangesValue = QStringLiteral("UserChanges");
const recDeviceSetting DeviceSettings[4] = {
    {"camera", "Camera", &recMachinePolicies::Camera},
    {"microphone", "Microphone", &recMachinePolicies::Microphone},
    {"screen-sharing", "ScreenSharing", &recMachinePolicies::ScreenSharing},
    {"location", "Location", &recMachinePolicies::Location},
};
const QString DownloadsValue = QStringLiteral("Downloads");
const QString SharedFavoritesNameValue = QStringLiteral("SharedFavoritesName");
const QString DefaultSharedFavoritesName = QStringLiteral("Shared favorites");
const QString IdleResetValue = QStringLiteral("IdleReset");
const QString WindowValue = QStringLiteral("Window");

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

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

bool isPort(const QString &text)
{
    bool isNumber = false;
    const int value = text.toInt(&isNumber);
    return isNumber && value >= 1 && value <= 65535 && text == QString::number(value);
}

bool isIPv4(const QString &host)
{
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool isNumber = false;
        const int value = part.toInt(&isNumber);
        if (!isNumber || value < 0 || value > 255 || part != QString::number(value))
            return false;
    }
    return true;
}

// Host-name rules on the ACE form: what DNS can carry.
std::optional<QString> hostNameProblem(const QString &ace)
{
    if (ace.toUtf8().size() > 253)
        return QStringLiteral("a host name is at most 253 characters long");
    for (const QString &label : ace.split(QLatin1Char('.'))) {
        if (label.isEmpty())
            return QStringLiteral("a host name has no empty part (no leading, trailing or "
                                  "doubled dot)");
        if (label.toUtf8().size() > 63)
            return QStringLiteral("each part of a host name is at most 63 characters long");
        if (label.startsWith(QLatin1Char('-')) || label.endsWith(QLatin1Char('-')))
            return QStringLiteral("no part of a host name starts or ends with a hyphen");
        for (const QChar c : label) {
            if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                  c == QLatin1Char('-')))
                return QStringLiteral("a host name holds only letters, digits, hyphens and dots");
        }
    }
    return std::nullopt;
}

recMachinePolicies unreadable(QStringList *problems, const QString &file, const QString &why)
{
    note(problems,
         QStringLiteral("machine settings in %1 cannot be read (%2); the safest settings apply")
             .arg(file, why));
    recMachinePolicies policies = Safest();
    policies.StoreUnreadable = true;
    return policies;
}

void openForWriting(TRegistry &registry, const QString &path)
{
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(path, true))
        throw EQuelvardError(QStringLiteral("Cannot open %1.").arg(path));
}

// The registry a writer uses: the caller's batch, or one of its own for this write alone.
class TWriter
{
public:
    TWriter(TRegistry *batch, const QString &path) : m_registry(batch ? *batch : m_own)
    {
        openForWriting(m_registry, path);
        // A batch on another root was closed by openForWriting; its writes must not go on
        // one by one.
        if (batch && !batch->InBatch())
            throw EQuelvardError(QStringLiteral("The batch of machine settings was closed."));
    }
    TRegistry *operator->() { return &m_registry; }

private:
    TRegistry m_own;
    TRegistry &m_registry;
};

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
    return AddressProblem(url, QStringLiteral("a home page"));
}

std::optional<QString> AddressProblem(const QString &url, const QString &what)
{
    if (url.size() > 2048)
        return QStringLiteral("%1 address is at most 2048 characters long").arg(what);
    if (url.contains(QChar::ReplacementCharacter))
        return QStringLiteral("the address is not valid UTF-8");
    if (hasControlCharacter(url))
        return QStringLiteral("the address holds a control character");
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    static const QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("file"), QStringLiteral("quelvard")};
    if (url.isEmpty() || !parsed.isValid() || !schemes.contains(scheme))
        return QStringLiteral("%1 is an http, https, file or quelvard address").arg(what);
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         scheme == QLatin1String("quelvard")) &&
        parsed.host().isEmpty())
        return QStringLiteral("the address has no host name");
    if (scheme == QLatin1String("file") && parsed.path().isEmpty())
        return QStringLiteral("the address has no path");
    // "https://good.example@evil.example/" reads as one site and opens another; an "@" in the
    // part before the host is refused even where the parser would not call it a user name.
    const qsizetype hostStart = url.indexOf(QLatin1String("://"));
    const QString authority =
        hostStart < 0
            ? QString()
            : url.mid(hostStart + 3).section(QRegularExpression(QStringLiteral("[/?#]")), 0, 0);
    if (!parsed.userInfo().isEmpty() || authority.contains(QLatin1Char('@')))
        return QStringLiteral("%1 holds no user name or password").arg(what);
    return std::nullopt;
}

std::optional<QString> SharedFavoritesNameProblem(const QString &name)
{
    if (TextUtils::Trim(name).isEmpty())
        return QStringLiteral("the name cannot be blank");
    if (name.size() > 255)
        return QStringLiteral("the name is at most 255 characters long");
    if (name.contains(QChar::ReplacementCharacter) || hasControlCharacter(name))
        return QStringLiteral("the name holds no control character and is valid UTF-8");
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
    // A host of 253 characters, a colon and a port; checked first so nothing long is parsed.
    if (site.size() > 253 + 6)
        return refuse(QStringLiteral("a host name is at most 253 characters long"));
    if (site.contains(QChar::ReplacementCharacter))
        return refuse(QStringLiteral("a site name must be valid UTF-8"));
    for (const QChar c : site) {
        if (c.category() == QChar::Other_Control)
            return refuse(QStringLiteral("a site name holds no control character"));
        if (TextUtils::IsBlank(c))
            return refuse(QStringLiteral("a site name holds no blank"));
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('?') ||
            c == QLatin1Char('#') || c == QLatin1Char('@'))
            return refuse(QStringLiteral("a site name is a host name and an optional port, "
                                         "without a scheme or a path"));
    }
    QString host = site;
    QString port;
    if (site.startsWith(QLatin1Char('['))) {
        const qsizetype close = site.indexOf(QLatin1Char(']'));
        const QString rest = close < 0 ? QString() : site.mid(close + 1);
        const QUrl probe(QStringLiteral("http://") + site.left(close + 1) + QLatin1Char('/'),
                         QUrl::StrictMode);
        if (close < 0 || !probe.isValid() || probe.host().isEmpty() ||
            (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))))
            return refuse(QStringLiteral("\"%1\" is not an IP address").arg(site.left(close + 1)));
        host = QLatin1Char('[') + probe.host() + QLatin1Char(']');
        port = rest.mid(1);
        if (!rest.isEmpty() && !isPort(port))
            return refuse(QStringLiteral("a port is a number from 1 to 65535"));
        return port.isEmpty() ? host : host + QLatin1Char(':') + port;
    }
    const qsizetype colon = site.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = site.left(colon);
        port = site.mid(colon + 1);
        if (!isPort(port))
            return refuse(QStringLiteral("a port is a number from 1 to 65535"));
    }
    if (host.isEmpty())
        return refuse(QStringLiteral("a site name needs a host name"));
    if (!isIPv4(host)) {
        bool ascii = true;
        for (const QChar c : host)
            ascii = ascii && c.unicode() < 0x80;
        if (!ascii) {
            const QByteArray ace = QUrl::toAce(host, QUrl::AceTransitionalProcessing);
            if (ace.isEmpty())
                return refuse(QStringLiteral("the international name has no ACE form"));
            host = TextUtils::LowerCase(QString::fromLatin1(ace));
        }
        if (const auto why = hostNameProblem(host))
            return refuse(*why);
    }
    return port.isEmpty() ? host : host + QLatin1Char(':') + port;
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

recMachinePolicies Safest()
{
    recMachinePolicies policies;
    policies.browsingData = BrowsingData::Forget;
    policies.UserChanges = false;
    for (const recDeviceSetting &setting : DeviceSettings)
        policies.*setting.field = DeviceAccess::Block;
    policies.downloads = Downloads::Forbid;
    // Only the program's own pages, which no list can refuse.
    policies.BlockedUrls = QStringList{QStringLiteral("*")};
    // The idle reset and the kiosk window stay as on a machine that never set them: they are
    // about how the machine is used, not about what a page may do or what is kept, and no
    // interval can be guessed that would not end someone's work on a machine never meant to
    // reset. What a run keeps is already forgotten when it ends (browsing data above).
    policies.IdleResetMinutes = 0;
    policies.window = Window::Normal;
    return policies;
}

QString IdleResetName(int minutes)
{
    return minutes <= 0 ? QStringLiteral("off") : QString::number(minutes);
}

std::optional<int> ParseIdleReset(const QString &text)
{
    if (text == QLatin1String("off"))
        return 0;
    // Plain digits only: no sign, blank, leading zero or exponent slips through.
    if (text.isEmpty() || text.size() > 4 || text.startsWith(QLatin1Char('0')))
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int minutes = text.toInt();
    if (minutes < 1 || minutes > MaxIdleResetMinutes)
        return std::nullopt;
    return minutes;
}

QString WindowName(Window value)
{
    return value == Window::FullScreen ? QStringLiteral("full-screen") : QStringLiteral("normal");
}

std::optional<Window> ParseWindow(const QString &text)
{
    if (text == QLatin1String("normal"))
        return Window::Normal;
    if (text == QLatin1String("full-screen"))
        return Window::FullScreen;
    return std::nullopt;
}

QString DeviceAccessName(DeviceAccess value)
{
    switch (value) {
    case DeviceAccess::Allow:
        return QStringLiteral("allow");
    case DeviceAccess::Block:
        return QStringLiteral("block");
    case DeviceAccess::Ask:
        break;
    }
    return QStringLiteral("ask");
}

std::optional<DeviceAccess> ParseDeviceAccess(const QString &text)
{
    for (const DeviceAccess value : {DeviceAccess::Ask, DeviceAccess::Allow, DeviceAccess::Block}) {
        if (text == DeviceAccessName(value))
            return value;
    }
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
    // A store that is there but cannot be read (a umask of 077, a damaged file) must not give
    // the most permissive settings: a kiosk set to forget would keep everything.
    const QString file = AppPaths::MachineHiveFile();
    struct stat info = {};
    const int statError = ::stat(QFile::encodeName(file).constData(), &info) == 0 ? 0 : errno;
    if (statError != 0 && statError != ENOENT && statError != ENOTDIR) {
        note(problems, QStringLiteral("machine settings in %1 cannot be read (%2); the safest "
                                      "settings apply")
                           .arg(file, QString::fromLocal8Bit(std::strerror(statError))));
        policies = Safest();
        policies.StoreUnreadable = true;
        return policies;
    }
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
            const QString shared = readValue(registry, SharedFavoritesNameValue, problems);
            if (!shared.isEmpty()) {
                if (const auto why = SharedFavoritesNameProblem(shared))
                    note(problems, QStringLiteral("%1\\%2 ignored: %3")
                                       .arg(KeyPath(), SharedFavoritesNameValue, *why));
                else
                    policies.SharedFavoritesName = TextUtils::Trim(shared);
            }
            const QString changes = readValue(registry, UserChangesValue, problems);
            if (changes == QLatin1String("forbid"))
                policies.UserChanges = false;
            else if (!changes.isEmpty() && changes != QLatin1String("allow"))
                note(problems, QStringLiteral("%1\\%2 ignored: \"%3\" is neither allow nor forbid")
                                   .arg(KeyPath(), UserChangesValue, changes));
            const QString idle = readValue(registry, IdleResetValue, problems);
            if (!idle.isEmpty()) {
                if (const auto minutes = ParseIdleReset(idle))
                    policies.IdleResetMinutes = *minutes;
                else
                    note(problems,
                         QStringLiteral("%1\\%2 ignored: \"%3\" is neither off nor a number of "
                                        "minutes from 1 to %4")
                             .arg(KeyPath(), IdleResetValue, idle)
                             .arg(MaxIdleResetMinutes));
            }
            const QString window = readValue(registry, WindowValue, problems);
            if (!window.isEmpty()) {
                if (const auto parsed = ParseWindow(window))
                    policies.window = *parsed;
                else
                    note(problems,
                         QStringLiteral("%1\\%2 ignored: \"%3\" is neither normal nor full-screen")
                             .arg(KeyPath(), WindowValue, window));
            }
            for (const recDeviceSetting &setting : DeviceSettings) {
                const QString name = QLatin1String(setting.valueName);
                const QString text = readValue(registry, name, problems);
                if (text.isEmpty())
                    continue;
                if (const auto parsed = ParseDeviceAccess(text))
                    policies.*setting.field = *parsed;
                else
                    note(problems,
                         QStringLiteral("%1\\%2 ignored: \"%3\" is not ask, allow or block")
                             .arg(KeyPath(), name, text));
            }
        }
        for (const UrlList list : {UrlList::Block, UrlList::Allow}) {
            QStringList &patterns =
                list == UrlList::Block ? policies.BlockedUrls : policies.AllowedUrls;
            if (registry.OpenKeyReadOnly(UrlListKeyPath(list)))
                patterns = registry.GetValueNames();
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
        return unreadable(problems, file, error.message());
    } catch (const std::exception &error) {
        return unreadable(problems, file, QString::fromLocal8Bit(error.what()));
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

std::optional<QString> UnreadableStoreMessage()
{
    if (!Current().StoreUnreadable)
        return std::nullopt;
    return QStringLiteral("The machine settings in %1 cannot be read, so Quelvard uses its safest "
                          "settings: nothing a page stores is kept, and your favorites and allowed "
                          "sites cannot be changed. Ask the administrator to run: quelvard-admin "
                          "status")
        .arg(AppPaths::MachineHiveFile());
}

void SetHomePage(const QString &url, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(HomePageValue, url);
}

void UnsetHomePage(TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    if (registry->ValueExists(HomePageValue))
        registry->DeleteValue(HomePageValue);
}

void SetBrowsingData(BrowsingData value, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(BrowsingDataValue, BrowsingDataName(value));
}

void SetUserChanges(bool allowed, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(UserChangesValue,
                          allowed ? QStringLiteral("allow") : QStringLiteral("forbid"));
}

void SetDeviceAccess(const recDeviceSetting &setting, DeviceAccess value, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(QLatin1String(setting.valueName), DeviceAccessName(value));
}

void SetDownloads(Downloads value, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(DownloadsValue, DownloadsName(value));
}

void SetSharedFavoritesName(const QString &name)
{
    TRegistry registry;
    openForWriting(registry, KeyPath());
    if (!name.isEmpty())
        registry.WriteString(SharedFavoritesNameValue, name);
    else if (registry.ValueExists(SharedFavoritesNameValue))
        registry.DeleteValue(SharedFavoritesNameValue);
}

void AllowSite(const QString &site, TRegistry *batch)
{
    TWriter registry(batch, PopupsKeyPath());
    if (!registry->ValueExists(site))
        registry->WriteString(site, QString());
}

bool RemoveSite(const QString &site, TRegistry *batch)
{
    TWriter registry(batch, PopupsKeyPath());
    return registry->ValueExists(site) && registry->DeleteValue(site);
}

void SetIdleReset(int minutes, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(IdleResetValue, IdleResetName(minutes));
}

void SetWindow(Window value, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(WindowValue, WindowName(value));
}

QStringList ListSites()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(PopupsKeyPath()))
        return QStringList();
    return registry.GetValueNames();
}

QString UrlListKeyPath(UrlList list)
{
    return KeyPath() + (list == UrlList::Block ? QStringLiteral("\\URLBlocklist")
                                               : QStringLiteral("\\URLAllowlist"));
}

void AddUrlPattern(UrlList list, const QString &pattern, TRegistry *batch)
{
    TWriter registry(batch, UrlListKeyPath(list));
    if (!registry->ValueExists(pattern))
        registry->WriteString(pattern, QString());
}

bool RemoveUrlPattern(UrlList list, const QString &pattern, TRegistry *batch)
{
    TWriter registry(batch, UrlListKeyPath(list));
    return registry->ValueExists(pattern) && registry->DeleteValue(pattern);
}

QStringList ListUrlPatterns(UrlList list)
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(UrlListKeyPath(list)))
        return QStringList();
    return registry.GetValueNames();
}

} // namespace MachinePolicies
