#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Settings an administrator makes once for every user of the machine, kept in the machine
// hive under "Software\Quelvard\Policies":
//   HomePage      (string)  address of the home page, replacing the built-in start page
//   BrowsingData  (string)  "keep" (the default) or "forget"
//   Downloads     (string)  "allow" (the default) or "forbid": whether pages may save files
//   Popups        (subkey)  one value per site allowed to open popups for everyone
// The browser reads them once at start; quelvard-admin writes them.
namespace MachinePolicies {

enum class BrowsingData { Keep, Forget };
enum class Downloads { Allow, Forbid };

struct recMachinePolicies
{
    QString HomePage;         // empty: the built-in start page
    QStringList AllowedSites; // normalised like a user's list
    BrowsingData browsingData = BrowsingData::Keep;
    Downloads downloads = Downloads::Allow;
};

QString KeyPath();
QString PopupsKeyPath();
extern const QString HomePageValue;
extern const QString BrowsingDataValue;
extern const QString DownloadsValue;

// Reads the settings from the machine hive without creating or changing anything. A value
// that cannot be read, or holds something it should not, is left at its default and
// described in `problems` (one line each); a hive that cannot be opened at all gives the
// defaults and one problem.
recMachinePolicies Read(QStringList *problems = nullptr);

// The settings of this run: read on first use, with problems written to stderr, then kept.
const recMachinePolicies &Current();
// Forgets the settings of this run, so the next Current() reads them again (tests).
void Forget();

// Null when `url` may be a home page (http, https, file or quelvard, with something after
// the scheme); otherwise why not.
std::optional<QString> HomePageProblem(const QString &url);
// The normalised site, or why `domain` is not a site name: a host with an optional port,
// no blank, scheme or path.
std::optional<QString> NormaliseSite(const QString &domain, QString *problem);

QString BrowsingDataName(BrowsingData value);
std::optional<BrowsingData> ParseBrowsingData(const QString &text);
QString DownloadsName(Downloads value);
std::optional<Downloads> ParseDownloads(const QString &text);

// Writers for the administrator's command; they raise EQuelvardError when the hive cannot
// be written.
void SetHomePage(const QString &url);
void UnsetHomePage();
void SetBrowsingData(BrowsingData value);
void SetDownloads(Downloads value);
void AllowSite(const QString &site);
// True when the site was on the list.
bool RemoveSite(const QString &site);
// Every stored site, as stored.
QStringList ListSites();

} // namespace MachinePolicies
