#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

class TRegistry;

// Settings an administrator makes once for every user of the machine, kept in the machine hive
// under "Software\Quelvard\Policies". Each is one row of Settings() (machinepolicies.cpp), which
// says all the program knows of it: its name on quelvard-admin's command line and in the policy
// file, its value in the store, the values it takes, its default and its safest value, its line
// in quelvard-admin --help and how status shows it. The browser reads them once at start;
// quelvard-admin writes them. A store that exists but cannot be read gives the safest value of
// every setting, never the most permissive.
namespace MachinePolicies {

// A setting of a few words keeps them in an enumeration in the order of its row's words.
enum class BrowsingData { Keep, Forget };
// What a page asking for a device gets: a question to the person, or the answer at once.
enum class DeviceAccess { Ask, Allow, Block };
enum class Downloads { Allow, Forbid };
// Whether users may change their own favorites and allowed sites.
enum class UserChanges { Allow, Forbid };
enum class Window { FullScreen, Normal };
// Whether the blocked page offers to ask the administrator for the page.
enum class UnblockRequests { Off, On };
enum class Printing { Allow, Forbid };
// Safe search forced on the engines that have it: off, strict, or moderate on YouTube.
enum class SafeSearchLevel { Off, On, Moderate };
// Whether the pointer shows over the window: a touch-only kiosk has no use for it.
enum class Pointer { Shown, Hidden };
enum class UrlList { Block, Allow };
// What the browser reports to the time keeper: nothing, refusals without an address's query,
// or refusals whole.
enum class Log { Off, Blocked, Full };

// Every setting of a run; made with each at its row's default.
struct recMachinePolicies
{
    recMachinePolicies();

    QString HomePage;         // empty: the built-in start page
    QStringList AllowedSites; // normalised like a user's list
    BrowsingData browsingData{};
    QStringList BlockedUrls; // address patterns, as written
    QStringList AllowedUrls;
    UserChanges userChanges{};
    DeviceAccess Camera{};
    DeviceAccess Microphone{};
    DeviceAccess ScreenSharing{};
    DeviceAccess Location{};
    Downloads downloads{};
    QString SharedFavoritesName;
    int IdleResetMinutes = 0; // 0: off
    Window window{};
    Log log{};
    UnblockRequests unblockRequests{};
    Printing printing{};
    SafeSearchLevel safeSearch{};
    int RelockMinutes = 0; // 0: off
    Pointer pointer{};
    int ZoomPercent = 100;         // every page's zoom as it opens
    int IdleCountdownSeconds = 30; // the idle reset's bar before a session ends
    QString RemovedCommands;       // "none", or groups of commands a visitor does not get
    // The time keeper holds a time limit or a schedule for some account: the browser asks it.
    // Kept beside the settings by the commands that change those, not set on its own.
    bool TimeRules = false;
    bool StoreUnreadable = false; // the store exists but gave nothing: Safest() applies

    bool UserChangesAllowed() const { return userChanges == UserChanges::Allow; }
    bool ForgetsBrowsingData() const { return browsingData == BrowsingData::Forget; }
    bool PrintingAllowed() const { return printing == Printing::Allow; }
    // Whether the administrator took away a group of commands ("save", "exit", "admin-menu",
    // "new-tab", "view-source", "print").
    bool Removed(const QString &group) const
    {
        return RemovedCommands.split(QLatin1Char(' ')).contains(group);
    }
    // Whether the browser speaks to the time keeper at all.
    bool UsesKeeper() const
    {
        return TimeRules || log != Log::Off || unblockRequests == UnblockRequests::On;
    }
};

// What a setting's value is, and so how it is checked, stored and shown.
enum class TKind {
    Words,    // one of its words
    Number,   // its word for none if it has one, or a whole number of its Unit from Least to
              // Most in plain digits
    Groups,   // none (its first word), or some of its other words, stored in their order
    Address,  // an address as HomePageProblem allows it
    Caption,  // a name as SharedFavoritesNameProblem allows it, stored trimmed
    Sites,    // a subkey of one value per site, normalised by NormaliseSite
    Patterns, // a subkey of one value per address pattern, as written
};

// The field of recMachinePolicies that holds a setting.
using TField = std::variant<QString recMachinePolicies::*, QStringList recMachinePolicies::*,
                            int recMachinePolicies::*, BrowsingData recMachinePolicies::*,
                            DeviceAccess recMachinePolicies::*, Downloads recMachinePolicies::*,
                            UserChanges recMachinePolicies::*, Window recMachinePolicies::*,
                            Log recMachinePolicies::*, UnblockRequests recMachinePolicies::*,
                            Printing recMachinePolicies::*, SafeSearchLevel recMachinePolicies::*,
                            Pointer recMachinePolicies::*>;

struct recSetting
{
    const char *Name = "";      // on the command line and in the policy file
    const char *ValueName = ""; // in the store under KeyPath(): a value, or a list's subkey
    TField Field;
    TKind Kind = TKind::Words;
    QStringList Words; // the values of a Words setting; a Number setting's word for none
    int Least = 0;     // a Number setting's range, in its unit ("minutes", "seconds", "percent")
    int Most = 0;
    const char *Unit = "minutes";
    QString Default; // as stored; a list's one item, or none when empty
    QString Safest;  // what a store that cannot be read gives, in the same form
    QString Nothing; // what an empty value stands for, as status names it
    // A value that is there but not understood counts as the safest, not as the default: it
    // was meant to say something.
    bool UnclearIsSafest = false;
    QString Help;        // its line in quelvard-admin --help
    int HelpPlace = 0;   // where that line comes; 0 for a setting with a command of its own
    QString Shown;       // its name in quelvard-admin status
    int StatusPlace = 0; // where status shows it
    // Only a new start of the browser takes a change of it (the profile and the window are made
    // from it); a running one is told everything else.
    bool AtStartOnly = false;

    bool IsList() const { return Kind == TKind::Sites || Kind == TKind::Patterns; }
    // A refused value is answered with the choices rather than with what is wrong with it.
    bool TakesWords() const
    {
        return Kind == TKind::Words || Kind == TKind::Number || Kind == TKind::Groups;
    }
    // Unset returns it to its default.
    bool Unsettable() const { return Kind == TKind::Address || Kind == TKind::Caption; }
};

// Every setting, in the order the policy file lists them.
const std::vector<recSetting> &Settings();
// The help places from which a setting's line in --help follows the favorites commands.
constexpr int HelpAfterFavorites = 10;
// The setting of that name, or null.
const recSetting *FindSetting(const QString &name);
// The setting kept in `field`.
const recSetting &SettingOf(const TField &field);

// What the setting takes, as a refusal names it: "keep or forget", "ask, allow or block",
// "off or a number of minutes from 1 to 1440".
QString Choices(const recSetting &setting);
// How a command line gives its value: "keep|forget", "MINUTES|off", "URL", "NAME".
QString Argument(const recSetting &setting);
// The form `text` (one item, for a list) is stored in; or null. `problem` then says what is
// wrong, except for a setting that TakesWords(), whose refusal names the Choices().
std::optional<QString> Normalise(const recSetting &setting, const QString &text,
                                 QString *problem = nullptr);
// A setting's value as stored; a list's items, as read.
QString ValueOf(const recSetting &setting, const recMachinePolicies &policies);
QStringList ItemsOf(const recSetting &setting, const recMachinePolicies &policies);

// How quelvard-admin's set command describes all of them: its usage and its help, written out
// for their order and line breaks (tst_machinepolicies checks they name every setting).
QString SetUsage();
QString SetHelp();

// Every setting at its safest: what a store that cannot be read gives.
recMachinePolicies Safest();

// One device setting: its name on the administrator's command line, its value in the hive and
// its field; the rows of Settings() that hold a device.
struct recDeviceSetting
{
    const char *settingName;
    const char *valueName;
    DeviceAccess recMachinePolicies::*field;
};
extern const std::vector<recDeviceSetting> DeviceSettings;

QString KeyPath();
// The subkey of a list.
QString ListKeyPath(const recSetting &setting);
QString PopupsKeyPath();
QString UrlListKeyPath(UrlList list);

// Reads the settings from the machine hive without creating or changing anything. A value
// that cannot be read, or holds something it should not, is left at its default and
// described in `problems` (one line each); a hive that cannot be opened at all gives the
// defaults and one problem.
recMachinePolicies Read(QStringList *problems = nullptr);

// The settings of this run: read on first use, with problems written to stderr, then kept.
const recMachinePolicies &Current();
// Forgets the settings of this run, so the next Current() reads them again (tests).
void Forget();
// Reads the settings of this run again, for a change the administrator made while it runs;
// the settings AtStartOnly keep the values the run started with.
const recMachinePolicies &Reload();
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

std::optional<BrowsingData> ParseBrowsingData(const QString &text);
std::optional<DeviceAccess> ParseDeviceAccess(const QString &text);

// Writers for the administrator's command; they raise EQuelvardError when the hive cannot
// be written. Given a machine-hive registry with a batch open, they write into that batch.
// `stored` is a value Normalise() gave.
void Write(const recSetting &setting, const QString &stored, TRegistry *batch = nullptr);
// Notes whether the time keeper holds a rule for some account, so browsers know to ask it.
void SetTimeRules(bool any, TRegistry *batch = nullptr);
// Back to the default: the value is removed.
void Unset(const recSetting &setting, TRegistry *batch = nullptr);

// A value of a setting's own type, written as Write() writes its text.
template <typename T> void Set(T recMachinePolicies::*field, T value, TRegistry *batch = nullptr)
{
    recMachinePolicies policies;
    policies.*field = value;
    const recSetting &setting = SettingOf(field);
    Write(setting, ValueOf(setting, policies), batch);
}
inline void SetHomePage(const QString &url, TRegistry *batch = nullptr)
{
    Set(&recMachinePolicies::HomePage, url, batch);
}
inline void SetBrowsingData(BrowsingData value, TRegistry *batch = nullptr)
{
    Set(&recMachinePolicies::browsingData, value, batch);
}
inline void SetUserChanges(bool allowed, TRegistry *batch = nullptr)
{
    Set(&recMachinePolicies::userChanges, allowed ? UserChanges::Allow : UserChanges::Forbid,
        batch);
}
inline void SetDeviceAccess(const recDeviceSetting &setting, DeviceAccess value,
                            TRegistry *batch = nullptr)
{
    Set(setting.field, value, batch);
}
inline void SetDownloads(Downloads value, TRegistry *batch = nullptr)
{
    Set(&recMachinePolicies::downloads, value, batch);
}
inline void SetWindow(Window value, TRegistry *batch = nullptr)
{
    Set(&recMachinePolicies::window, value, batch);
}
// An empty name returns to the default.
void SetSharedFavoritesName(const QString &name);

void AllowSite(const QString &site, TRegistry *batch = nullptr);
// True when the site was on the list.
bool RemoveSite(const QString &site, TRegistry *batch = nullptr);
// Every stored site, as stored.
QStringList ListSites();

// The address lists; a pattern is stored as written (UrlFilter::Parse checks it first).
void AddUrlPattern(UrlList list, const QString &pattern, TRegistry *batch = nullptr);
// Lists of some accounts only, beside everyone's: `who` is "user:NAME" or "group:NAME". Each
// account's browser decides by everyone's patterns and those of its own and its groups', by
// the same rule of precedence.
QString AccountUrlListKeyPath(UrlList list, const QString &who);
void AddAccountUrlPattern(const QString &who, UrlList list, const QString &pattern,
                          TRegistry *batch = nullptr);
bool RemoveAccountUrlPattern(const QString &who, UrlList list, const QString &pattern,
                             TRegistry *batch = nullptr);
QStringList ListAccountUrlPatterns(const QString &who, UrlList list);
// Every account or group that has lists of its own, as "user:NAME" or "group:NAME".
QStringList AccountsWithLists();
// The patterns for the account running this process (its own and its groups'), appended.
void AddOwnAccountUrls(QStringList &blocked, QStringList &allowed);
// "user:NAME" and "group:NAME" for an account and each of its groups.
QStringList AccountNames(const QString &user);
// True when the pattern was on the list.
bool RemoveUrlPattern(UrlList list, const QString &pattern, TRegistry *batch = nullptr);
QStringList ListUrlPatterns(UrlList list);

} // namespace MachinePolicies
