#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class TRegistry;

// Settings an administrator makes once for every user of the machine, kept in the machine
// hive under "Software\Quelvard\Policies":
//   HomePage      (string)  address of the home page, replacing the built-in start page
//   BrowsingData  (string)  "keep" (the default) or "forget"
//   UserChanges   (string)  "allow" (the default) or "forbid": whether users may change
//                           their own favorites and allowed sites
//   Downloads     (string)  "allow" (the default) or "forbid": whether pages may save files
//   Popups        (subkey)  one value per site allowed to open popups for everyone
//   URLBlocklist  (subkey)  one value per address pattern pages may not reach
//   URLAllowlist  (subkey)  one value per address pattern reachable despite the block list
//   Camera, Microphone, ScreenSharing, Location
//                 (string)  "ask" (the default), "allow" or "block": what a page's request
//                           for that device gets
//   SharedFavoritesName
//                 (string)  the caption of the machine's favorites in the Favorites menu
//   IdleReset     (string)  "off" (the default) or a number of minutes from 1 to 1440: after
//                           that long without input the visitor's session ends by itself
//   Window        (string)  "normal" (the default) or "full-screen": a kiosk's window fills the
//                           screen, has no frame and stays so while locked
// The browser reads them once at start; quelvard-admin writes them. A store that exists but
// cannot be read gives the safest value of every setting, never the most permissive.
namespace MachinePolicies {

enum class BrowsingData { Keep, Forget };
// What a page asking for a device gets: a question to the person, or the answer at once.
enum class DeviceAccess { Ask, Allow, Block };
enum class Downloads { Allow, Forbid };
enum class UrlList { Block, Allow };

extern const QString DefaultSharedFavoritesName;
enum class Window { Normal, FullScreen };

// The longest quiet spell an administrator can set: a day.
constexpr int MaxIdleResetMinutes = 1440;

struct recMachinePolicies
{
    QString HomePage;         // empty: the built-in start page
    QStringList AllowedSites; // normalised like a user's list
    BrowsingData browsingData = BrowsingData::Keep;
    QStringList BlockedUrls; // address patterns, as written
    QStringList AllowedUrls;
    bool UserChanges = true;
    DeviceAccess Camera = DeviceAccess::Ask;
    DeviceAccess Microphone = DeviceAccess::Ask;
    DeviceAccess ScreenSharing = DeviceAccess::Ask;
    DeviceAccess Location = DeviceAccess::Ask;
    Downloads downloads = Downloads::Allow;
    QString SharedFavoritesName = DefaultSharedFavoritesName;
    int IdleResetMinutes = 0; // 0: off
    Window window = Window::Normal;
    bool StoreUnreadable = false; // the store exists but gave nothing: Safest() applies

    bool UserChangesAllowed() const { return UserChanges; }
};

// Every setting at its safest: what a store that cannot be read gives. A setting added later
// gets its safest value here too.
recMachinePolicies Safest();

// One device setting: its name on the administrator's command line, its value in the hive and
// its field.
struct recDeviceSetting
{
    const char *settingName;
    const char *valueName;
    DeviceAccess recMachinePolicies::*field;
};
extern const recDeviceSetting DeviceSettings[4];

QString KeyPath();
QString PopupsKeyPath();
QString UrlListKeyPath(UrlList list);
extern const QString HomePageValue;
extern const QString BrowsingDataValue;
extern const QString UserChangesValue;
extern const QString DownloadsValue;
extern const QString SharedFavoritesNameValue;
extern const QString IdleResetValue;
extern const QString WindowValue;

// Reads the settings from the machine hive without creating or changing anything. A value
// that cannot be read, or holds something it should not, is left at its default and
// described in `problems` (one line each); a hive that cannot be opened at all gives the
// defaults and one problem.
recMachinePolicies Read(QStringList *problems = nullptr);

// The settings of this run: read on first use, with problems written to stderr, then kept.
const recMachinePolicies &Current();
// Forgets the settings of this run, so the next Current() reads them again (tests).
void Forget();
// The message a user is shown once at start when the store exists but cannot be read.
std::optional<QString> UnreadableStoreMessage();

// Null when `url` may be a home page (http, https, file or quelvard, with something after
// the scheme, no user name, at most 2048 characters); otherwise why not.
std::optional<QString> HomePageProblem(const QString &url);
// The same rules for an address the administrator gives every user in another place; `what`
// names that place in the answer ("a favorite").
std::optional<QString> AddressProblem(const QString &url, const QString &what);
// Null when `name` may name the shared favorites: not blank, at most 255 characters, no
// control character.
std::optional<QString> SharedFavoritesNameProblem(const QString &name);
// The normalised site, or why `domain` is not a site name: a host name (labels of letters,
// digits and hyphens, neither starting nor ending with one, at most 63 bytes each and 253 in
// all) or an IP address, with an optional port 1..65535. International names are stored in
// their ACE (punycode) form, which is what the browser compares.
std::optional<QString> NormaliseSite(const QString &domain, QString *problem);

QString BrowsingDataName(BrowsingData value);
std::optional<BrowsingData> ParseBrowsingData(const QString &text);
QString DownloadsName(Downloads value);
std::optional<Downloads> ParseDownloads(const QString &text);

// "off" is 0; otherwise whole minutes from 1 to MaxIdleResetMinutes, written in plain digits.
QString IdleResetName(int minutes);
std::optional<int> ParseIdleReset(const QString &text);
QString WindowName(Window value);
std::optional<Window> ParseWindow(const QString &text);

QString DeviceAccessName(DeviceAccess value);
std::optional<DeviceAccess> ParseDeviceAccess(const QString &text);

// Writers for the administrator's command; they raise EQuelvardError when the hive cannot
// be written. Given a machine-hive registry with a batch open, they write into that batch.
void SetHomePage(const QString &url, TRegistry *batch = nullptr);
void UnsetHomePage(TRegistry *batch = nullptr);
void SetBrowsingData(BrowsingData value, TRegistry *batch = nullptr);
void SetUserChanges(bool allowed, TRegistry *batch = nullptr);
void SetDeviceAccess(const recDeviceSetting &setting, DeviceAccess value,
                     TRegistry *batch = nullptr);
void SetDownloads(Downloads value, TRegistry *batch = nullptr);
void AllowSite(const QString &site, TRegistry *batch = nullptr);
// An empty name returns to the default.
void SetSharedFavoritesName(const QString &name);
void SetIdleReset(int minutes, TRegistry *batch = nullptr);
void SetWindow(Window value, TRegistry *batch = nullptr);
// True when the site was on the list.
bool RemoveSite(const QString &site, TRegistry *batch = nullptr);
// Every stored site, as stored.
QStringList ListSites();

// The address lists; a pattern is stored as written (UrlFilter::Parse checks it first).
void AddUrlPattern(UrlList list, const QString &pattern, TRegistry *batch = nullptr);
// True when the pattern was on the list.
bool RemoveUrlPattern(UrlList list, const QString &pattern, TRegistry *batch = nullptr);
QStringList ListUrlPatterns(UrlList list);

} // namespace MachinePolicies
