#include "common/machinepolicies.h"

#include "common/apppaths.h"
#include "common/errors.h"
#include "common/registry.h"
#include "common/textutils.h"
#include "common/urlfilter.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace MachinePolicies {

namespace {

using R = recMachinePolicies;

// One row as the table writes it.
struct TRow
{
    recSetting setting;

    TRow(const char *name, const char *valueName, TField field)
    {
        setting.Name = name;
        setting.ValueName = valueName;
        setting.Field = field;
    }
    TRow &words(const QStringList &words, const char *byDefault)
    {
        setting.Kind = TKind::Words;
        setting.Words = words;
        setting.Default = setting.Safest = QLatin1String(byDefault);
        return *this;
    }
    TRow &minutes(const char *none, int least, int most)
    {
        setting.Kind = TKind::Number;
        setting.Words = QStringList{QLatin1String(none)};
        setting.Least = least;
        setting.Most = most;
        setting.Default = setting.Safest = QLatin1String(none);
        return *this;
    }
    TRow &number(const char *unit, int least, int most, int byDefault)
    {
        setting.Kind = TKind::Number;
        setting.Unit = unit;
        setting.Least = least;
        setting.Most = most;
        setting.Default = setting.Safest = QString::number(byDefault);
        return *this;
    }
    // `words` begins with the word for none, which is the default.
    TRow &groups(const QStringList &words)
    {
        setting.Kind = TKind::Groups;
        setting.Words = words;
        setting.Default = setting.Safest = words.value(0);
        return *this;
    }
    TRow &kind(TKind kind, const char *byDefault, const char *nothing = "")
    {
        setting.Kind = kind;
        setting.Default = setting.Safest = QLatin1String(byDefault);
        setting.Nothing = QLatin1String(nothing);
        return *this;
    }
    TRow &safest(const char *value, bool unclearIsSafest = false)
    {
        setting.Safest = QLatin1String(value);
        setting.UnclearIsSafest = unclearIsSafest;
        return *this;
    }
    TRow &help(int place, const char *line)
    {
        setting.HelpPlace = place;
        setting.Help = QLatin1String(line);
        return *this;
    }
    TRow &status(int place, const char *shown)
    {
        setting.StatusPlace = place;
        setting.Shown = QLatin1String(shown);
        return *this;
    }
    // A running browser keeps the value it started with.
    TRow &atStart()
    {
        setting.AtStartOnly = true;
        return *this;
    }
    operator recSetting() const { return setting; }
};

} // namespace

// The settings, in the policy file's order. A setting's safest value is its default unless
// the row says otherwise. Its line of quelvard-admin --help comes before the address commands,
// or, from the help place HelpAfterFavorites on, after the favorites commands.
const std::vector<recSetting> &Settings()
{
    static const std::vector<recSetting> table = [] {
        const QStringList allowOrForbid{QStringLiteral("allow"), QStringLiteral("forbid")};
        const QStringList access{QStringLiteral("ask"), QStringLiteral("allow"),
                                 QStringLiteral("block")};
        // Each device's setting is shown by its name, and they share one line of --help.
        const auto device = [&access](const char *name, const char *valueName,
                                      DeviceAccess R::*field, int place) {
            return TRow(name, valueName, field)
                .words(access, "ask")
                .safest("block")
                .help(4, "what a page asking for that device gets")
                .status(place, name);
        };
        return std::vector<recSetting>{
            TRow("home-page", "HomePage", &R::HomePage)
                .kind(TKind::Address, "", "the built-in start page")
                .help(1, "the home page of every user")
                .status(1, "home page"),
            TRow("browsing-data", "BrowsingData", &R::browsingData)
                .words({QStringLiteral("keep"), QStringLiteral("forget")}, "keep")
                .safest("forget")
                .help(2, "keep cookies and site data between runs, or not")
                .status(2, "browsing data")
                .atStart(),
            // Files a page may write are refused on a doubt.
            TRow("downloads", "Downloads", &R::downloads)
                .words(allowOrForbid, "allow")
                .safest("forbid", true)
                .help(3, "let pages save files into each user's Downloads, or not")
                .status(3, "downloads"),
            TRow("user-changes", "UserChanges", &R::userChanges)
                .words(allowOrForbid, "allow")
                .safest("forbid")
                .help(5, "let users change their favorites and popup sites")
                .status(4, "user changes"),
            device("camera", "Camera", &R::Camera, 9),
            device("microphone", "Microphone", &R::Microphone, 10),
            device("screen-sharing", "ScreenSharing", &R::ScreenSharing, 11),
            device("location", "Location", &R::Location, 12),
            // The idle reset and the kiosk window stay as on a machine that never set them, even at
            // their safest: they are about how the machine is used, not about what a page may do or
            // what is kept, and no interval can be guessed that would not end someone's work on a
            // machine never meant to reset. What a run keeps is already forgotten when it ends.
            TRow("idle-reset", "IdleReset", &R::IdleResetMinutes)
                .minutes("off", 1, 24 * 60) // a day at most
                .help(11, "end a visitor's session after that many quiet minutes")
                .status(6, "idle reset"),
            TRow("window", "Window", &R::window)
                .words({QStringLiteral("full-screen"), QStringLiteral("normal")}, "normal")
                .help(12, "a kiosk's window: full screen while locked, or not")
                .status(7, "window")
                .atStart(),
            TRow("log", "Log", &R::log)
                .words({QStringLiteral("off"), QStringLiteral("blocked"), QStringLiteral("full")},
                       "off")
                .help(13, "report refused addresses to the time keeper, or not")
                .status(15, "log"),
            TRow("unblock-requests", "UnblockRequests", &R::unblockRequests)
                .words({QStringLiteral("off"), QStringLiteral("on")}, "off")
                .help(14, "let the blocked page ask the administrator for the page, or not")
                .status(16, "unblock requests"),
            // A print can be a file too; refused on a doubt, as downloads are.
            TRow("printing", "Printing", &R::printing)
                .words(allowOrForbid, "allow")
                .safest("forbid", true)
                .help(15, "let pages be printed, or not")
                .status(17, "printing"),
            TRow("safe-search", "SafeSearch", &R::safeSearch)
                .words({QStringLiteral("off"), QStringLiteral("on"), QStringLiteral("moderate")},
                       "off")
                .help(17, "force safe search on Google, Bing, DuckDuckGo and YouTube, or not")
                .status(19, "safe search"),
            // Like the idle reset, about how the machine is used, so left off at its safest.
            TRow("relock-after", "RelockAfter", &R::RelockMinutes)
                .minutes("off", 1, 24 * 60)
                .help(16, "lock an unlocked browser again after that many quiet minutes")
                .status(18, "relock after"),
            TRow("pointer", "Pointer", &R::pointer)
                .words({QStringLiteral("shown"), QStringLiteral("hidden")}, "shown")
                .help(18, "hide the pointer over the window (a touch screen), or not")
                .status(20, "pointer"),
            TRow("zoom", "Zoom", &R::ZoomPercent)
                .number("percent", 25, 500, 100)
                .help(19, "the zoom every page opens at")
                .status(21, "zoom"),
            TRow("idle-countdown", "IdleCountdown", &R::IdleCountdownSeconds)
                .number("seconds", 10, 120, 30)
                .help(20, "how long the idle reset's bar counts down")
                .status(22, "idle countdown"),
            TRow("removed-commands", "RemovedCommands", &R::RemovedCommands)
                .groups({QStringLiteral("none"), QStringLiteral("save"), QStringLiteral("exit"),
                         QStringLiteral("admin-menu"), QStringLiteral("new-tab"),
                         QStringLiteral("view-source"), QStringLiteral("print")})
                .help(21, "take those commands away from menus, keys and the context menu")
                .status(23, "removed commands"),
            TRow("shared-favorites-name", "SharedFavoritesName", &R::SharedFavoritesName)
                .kind(TKind::Caption, "Shared favorites")
                .help(10, "the caption of those favorites in the menu")
                .status(5, "shared favorites name"),
            TRow("popup-sites", "Popups", &R::AllowedSites)
                .kind(TKind::Sites, "", "none")
                .status(8, "popups allowed for everyone"),
            // Only the program's own pages, which no list can refuse, at the safest.
            TRow("blocked-urls", "URLBlocklist", &R::BlockedUrls)
                .kind(TKind::Patterns, "", "none")
                .safest("*")
                .status(13, "blocked addresses"),
            TRow("allowed-urls", "URLAllowlist", &R::AllowedUrls)
                .kind(TKind::Patterns, "", "none")
                .status(14, "allowed addresses"),
        };
    }();
    return table;
}

QString SetUsage()
{
    return QStringLiteral("set home-page URL | set browsing-data keep|forget |\n"
                          "       set downloads allow|forbid | set user-changes allow|forbid |\n"
                          "       set camera|microphone|screen-sharing|location ask|allow|block |\n"
                          "       set shared-favorites-name NAME |\n"
                          "       set idle-reset MINUTES|off | set window full-screen|normal |\n"
                          "       set log off|blocked|full | set unblock-requests off|on |\n"
                          "       set printing allow|forbid | set relock-after MINUTES|off |\n"
                          "       set safe-search off|on|moderate | set pointer shown|hidden |\n"
                          "       set zoom PERCENT | set idle-countdown SECONDS |\n"
                          "       set removed-commands GROUP...|none");
}

QString SetHelp()
{
    const recSetting &idle = SettingOf(&R::IdleResetMinutes);
    return QStringLiteral(
               "home-page: an http, https, file or quelvard address shown at start and by\n"
               "the Home button. browsing-data keep: cookies, site storage and the cache\n"
               "survive restarts; forget: nothing of a page outlives the run.\n"
               "user-changes forbid: users cannot add or organize favorites or change\n"
               "their allowed sites (a shared kiosk account); allow is the default.\n"
               "downloads allow: a file a page offers is saved into the user's Downloads\n"
               "folder; forbid: it is refused and nothing is written.\n"
               "camera, microphone, screen-sharing, location: ask (the default) lets the\n"
               "person answer a page's request, once per site and run; allow and block\n"
               "answer it without a question.\n"
               "idle-reset MINUTES (%1 to %2): after that long without a key, click,\n"
               "wheel or pointer movement, a bar counts down (idle-countdown), then the visitor's\n"
               "session ends: one tab at the home page, locked, its data gone when\n"
               "browsing data is forget; off (the default) never resets.\n"
               "window full-screen: the window starts full screen without a frame and\n"
               "cannot leave full screen while locked; normal is the default.\n"
               "shared-favorites-name: the caption of the favorites every user gets.\n"
               "log blocked: every refused address, download and time refusal goes to the\n"
               "time keeper (read with quelvard-admin log), without the address's query;\n"
               "full keeps the query too; off (the default) reports nothing.\n"
               "unblock-requests on: the blocked page offers \"Ask to open this page\" with a\n"
               "reason; the requests are listed by quelvard-admin requests. off is the default.\n"
               "printing forbid: Print, Print Preview, Page Setup and a page's own print\n"
               "do nothing but say printing is turned off; allow is the default.\n"
               "relock-after MINUTES (%1 to %2): an unlocked browser locks itself again after\n"
               "that long without input or in the background; off (the default) never does.\n"
               "safe-search on: Google and Bing searches, DuckDuckGo and YouTube show only safe\n"
               "results, whatever a link asks; moderate is on with YouTube's moderate level.\n"
               "pointer hidden: no pointer over the window, for a touch screen.\n"
               "zoom PERCENT (25 to 500): every page opens at it; the zoom keys still work\n"
               "and a visitor's session end returns to it. 100 is the default.\n"
               "idle-countdown SECONDS (10 to 120): how long the idle reset's bar counts\n"
               "down before the session ends; 30 is the default.\n"
               "removed-commands GROUP...: save (Save As, print to a file), exit, admin-menu,\n"
               "new-tab, view-source and print are taken from menus, keys and the context\n"
               "menu and do nothing from any route; none (the default) keeps them all.\n")
        .arg(idle.Least)
        .arg(idle.Most);
}

const std::vector<recDeviceSetting> DeviceSettings = [] {
    std::vector<recDeviceSetting> devices;
    for (const recSetting &setting : Settings()) {
        if (const auto field = std::get_if<DeviceAccess R::*>(&setting.Field))
            devices.push_back({setting.Name, setting.ValueName, *field});
    }
    return devices;
}();

namespace {

std::optional<recMachinePolicies> g_current;
// Whether the time keeper holds rules: "1", or no value.
const QString TimeRulesValue = QStringLiteral("TimeRules");

// "a or b", "a, b or c".
QString oneOf(const QStringList &choices)
{
    return choices.size() < 2 ? choices.value(0)
                              : choices.mid(0, choices.size() - 1).join(QLatin1String(", ")) +
                                    QStringLiteral(" or ") + choices.last();
}

QStringList choiceList(const recSetting &setting)
{
    if (setting.Kind == TKind::Groups) {
        const QStringList some = setting.Words.mid(1);
        return {setting.Words.value(0), QStringLiteral("some of ") +
                                            some.mid(0, some.size() - 1).join(QLatin1String(", ")) +
                                            QStringLiteral(" and ") + some.value(some.size() - 1)};
    }
    if (setting.Kind != TKind::Number)
        return setting.Words;
    QStringList choices = setting.Words.mid(0, 1);
    choices << QStringLiteral("a number of %1 from %2 to %3")
                   .arg(QLatin1String(setting.Unit))
                   .arg(setting.Least)
                   .arg(setting.Most);
    return choices;
}

// The groups `text` names (spaces or commas between them) in the setting's order, "none" for
// none; or null for a word it does not have, or none beside others.
std::optional<QString> groupsOf(const recSetting &setting, const QString &text)
{
    static const QRegularExpression between(QStringLiteral("[\\s,]+"));
    const QStringList given = text.split(between, Qt::SkipEmptyParts);
    const QString none = setting.Words.value(0);
    if (given.isEmpty() || given == QStringList{none})
        return none;
    QStringList kept;
    for (const QString &word : setting.Words.mid(1)) {
        if (given.contains(word))
            kept << word;
    }
    for (const QString &word : given) {
        if (!kept.contains(word))
            return std::nullopt;
    }
    return kept.join(QLatin1Char(' '));
}

// The minutes `text` gives, or null.
std::optional<int> minutesOf(const recSetting &setting, const QString &text)
{
    if (!setting.Words.isEmpty() && text == setting.Words.value(0))
        return 0;
    // Plain digits only: no sign, blank, leading zero or exponent slips through.
    if (text.isEmpty() || text.size() > QString::number(setting.Most).size() ||
        text.startsWith(QLatin1Char('0')))
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int minutes = text.toInt();
    if (minutes < setting.Least || minutes > setting.Most)
        return std::nullopt;
    return minutes;
}

// Puts a value Normalise() gave into the setting's field; a list's value is its one item, or
// none when empty.
void put(const recSetting &setting, recMachinePolicies &policies, const QString &stored)
{
    std::visit(
        [&](auto field) {
            auto &value = policies.*field;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                value = stored;
            else if constexpr (std::is_same_v<T, QStringList>)
                value = stored.isEmpty() ? QStringList() : QStringList{stored};
            else if constexpr (std::is_same_v<T, int>)
                value = minutesOf(setting, stored)
                            .value_or(minutesOf(setting, setting.Default).value_or(0));
            else
                value = T(std::max<qsizetype>(0, setting.Words.indexOf(stored)));
        },
        setting.Field);
}

void note(QStringList *problems, const QString &line)
{
    if (problems)
        *problems << line;
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

// What the reader says of a word it does not take, the default named first: "is neither keep
// nor forget".
QString notAChoice(const recSetting &setting, const QString &text)
{
    QStringList choices = choiceList(setting);
    choices.move(std::max<qsizetype>(0, choices.indexOf(setting.Default)), 0);
    return QStringLiteral("\"%1\" is %2")
        .arg(text, choices.size() == 2
                       ? QStringLiteral("neither %1 nor %2").arg(choices.at(0), choices.at(1))
                       : QStringLiteral("not ") + oneOf(choices));
}

// One value under the policies key into its field; a value of the wrong type raises in
// ReadString, and that value alone is ignored.
void readValue(TRegistry &registry, const recSetting &setting, recMachinePolicies &policies,
               QStringList *problems)
{
    const QString name = QLatin1String(setting.ValueName);
    if (setting.UnclearIsSafest && !registry.ValueExists(name))
        return;
    QString text;
    QString why;
    try {
        text = registry.ReadString(name);
    } catch (const EQuelvardError &error) {
        why = error.message();
    }
    if (why.isEmpty() && text.isEmpty() && !setting.UnclearIsSafest)
        return;
    if (why.isEmpty()) {
        if (const auto stored = Normalise(setting, text, &why)) {
            put(setting, policies, *stored);
            return;
        }
        if (setting.TakesWords())
            why = notAChoice(setting, text);
    }
    if (setting.UnclearIsSafest) {
        put(setting, policies, setting.Safest);
        note(problems,
             QStringLiteral("%1\\%2 taken as %3: %4").arg(KeyPath(), name, setting.Safest, why));
    } else {
        note(problems, QStringLiteral("%1\\%2 ignored: %3").arg(KeyPath(), name, why));
    }
}

// A list's subkey into its field. Patterns are taken as written: the filter that uses them
// names those it cannot.
void readList(TRegistry &registry, const recSetting &setting, recMachinePolicies &policies,
              QStringList *problems)
{
    QStringList items;
    for (const QString &name : registry.GetValueNames()) {
        QString why;
        const auto stored = setting.Kind == TKind::Patterns ? name : Normalise(setting, name, &why);
        if (stored)
            items << *stored;
        else
            note(problems,
                 QStringLiteral("%1 \"%2\" ignored: %3").arg(ListKeyPath(setting), name, why));
    }
    policies.*std::get<QStringList R::*>(setting.Field) = items;
}

} // namespace

recMachinePolicies::recMachinePolicies()
{
    for (const recSetting &setting : Settings())
        put(setting, *this, setting.Default);
}

const recSetting *FindSetting(const QString &name)
{
    for (const recSetting &setting : Settings()) {
        if (name == QLatin1String(setting.Name))
            return &setting;
    }
    return nullptr;
}

const recSetting &SettingOf(const TField &field)
{
    for (const recSetting &setting : Settings()) {
        if (setting.Field == field)
            return setting;
    }
    qFatal("a field of the machine's settings has no row");
}

QString Choices(const recSetting &setting)
{
    return oneOf(choiceList(setting));
}

QString Argument(const recSetting &setting)
{
    switch (setting.Kind) {
    case TKind::Words:
        return setting.Words.join(QLatin1Char('|'));
    case TKind::Number:
        return QString::fromLatin1(setting.Unit).toUpper() +
               (setting.Words.isEmpty() ? QString() : QLatin1Char('|') + setting.Words.value(0));
    case TKind::Groups:
        return QStringLiteral("GROUP...|") + setting.Words.value(0);
    case TKind::Address:
        return QStringLiteral("URL");
    case TKind::Caption:
        return QStringLiteral("NAME");
    case TKind::Sites:
    case TKind::Patterns:
        break;
    }
    return QString();
}

std::optional<QString> Normalise(const recSetting &setting, const QString &text, QString *problem)
{
    std::optional<QString> stored;
    std::optional<QString> why;
    switch (setting.Kind) {
    case TKind::Words:
        if (setting.Words.contains(text))
            stored = text;
        break;
    case TKind::Number:
        if (minutesOf(setting, text))
            stored = text;
        break;
    case TKind::Groups:
        stored = groupsOf(setting, text);
        break;
    case TKind::Address:
        why = HomePageProblem(text);
        if (!why)
            stored = text;
        break;
    case TKind::Caption:
        why = SharedFavoritesNameProblem(text);
        if (!why)
            stored = text.trimmed();
        break;
    case TKind::Sites:
        why = QString();
        stored = NormaliseSite(text, &*why);
        break;
    case TKind::Patterns:
        why = QString();
        if (UrlFilter::Parse(text, &*why))
            stored = text;
        break;
    }
    if (!stored && problem)
        *problem = why.value_or(QString());
    return stored;
}

QString ValueOf(const recSetting &setting, const recMachinePolicies &policies)
{
    return std::visit(
        [&](auto field) {
            const auto &value = policies.*field;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                return value;
            else if constexpr (std::is_same_v<T, QStringList>)
                return QString();
            else if constexpr (std::is_same_v<T, int>)
                return value <= 0 ? setting.Words.value(0) : QString::number(value);
            else
                return setting.Words.value(int(value));
        },
        setting.Field);
}

QStringList ItemsOf(const recSetting &setting, const recMachinePolicies &policies)
{
    const auto field = std::get_if<QStringList R::*>(&setting.Field);
    return field ? policies.**field : QStringList();
}

recMachinePolicies Safest()
{
    recMachinePolicies policies;
    for (const recSetting &setting : Settings())
        put(setting, policies, setting.Safest);
    return policies;
}

namespace {

template <typename T> std::optional<T> parseWord(T R::*field, const QString &text)
{
    const qsizetype index = SettingOf(field).Words.indexOf(text);
    if (index < 0)
        return std::nullopt;
    return T(index);
}

} // namespace

std::optional<BrowsingData> ParseBrowsingData(const QString &text)
{
    return parseWord(&R::browsingData, text);
}

std::optional<DeviceAccess> ParseDeviceAccess(const QString &text)
{
    return parseWord(&R::Camera, text);
}

void SetTimeRules(bool any, TRegistry *batch)
{
    auto write = [any](TRegistry &registry) {
        registry.OpenKey(KeyPath(), true);
        if (any)
            registry.WriteString(TimeRulesValue, QStringLiteral("1"));
        else
            registry.DeleteValue(TimeRulesValue);
    };
    if (batch) {
        write(*batch);
        return;
    }
    TRegistry registry(TRegistry::KEY_ALL_ACCESS);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    write(registry);
}

QString KeyPath()
{
    return QStringLiteral("Software\\Quelvard\\Policies");
}

QString ListKeyPath(const recSetting &setting)
{
    return KeyPath() + QLatin1Char('\\') + QLatin1String(setting.ValueName);
}

QString PopupsKeyPath()
{
    return ListKeyPath(SettingOf(&R::AllowedSites));
}

QString UrlListKeyPath(UrlList list)
{
    return ListKeyPath(SettingOf(list == UrlList::Block ? &R::BlockedUrls : &R::AllowedUrls));
}

recMachinePolicies Read(QStringList *problems)
{
    // A store that is there but cannot be read (a umask of 077, a damaged file) must not give
    // the most permissive settings: a kiosk set to forget would keep everything.
    const QString file = AppPaths::MachineHiveFile();
    struct stat info = {};
    const int statError = ::stat(QFile::encodeName(file).constData(), &info) == 0 ? 0 : errno;
    if (statError != 0 && statError != ENOENT && statError != ENOTDIR)
        return unreadable(problems, file, QString::fromLocal8Bit(std::strerror(statError)));
    recMachinePolicies policies;
    try {
        TRegistry registry(TRegistry::KEY_READ);
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        if (registry.OpenKeyReadOnly(KeyPath())) {
            for (const recSetting &setting : Settings()) {
                if (!setting.IsList())
                    readValue(registry, setting, policies, problems);
            }
        }
        for (const recSetting &setting : Settings()) {
            if (setting.IsList() && registry.OpenKeyReadOnly(ListKeyPath(setting)))
                readList(registry, setting, policies, problems);
        }
        if (registry.OpenKeyReadOnly(KeyPath()))
            policies.TimeRules = registry.ReadString(TimeRulesValue) == QLatin1String("1");
    } catch (const EQuelvardError &error) {
        return unreadable(problems, file, error.message());
    } catch (const std::exception &error) {
        return unreadable(problems, file, QString::fromLocal8Bit(error.what()));
    }
    return policies;
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
    // Nothing but blanks of any kind, or characters below a space; the name is stored trimmed.
    if (TextUtils::Trim(name.trimmed()).isEmpty())
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

const recMachinePolicies &Reload()
{
    if (!g_current)
        return Current();
    QStringList problems;
    recMachinePolicies read = Read(&problems);
    for (const QString &line : problems)
        std::fprintf(stderr, "quelvard: %s\n", qPrintable(line));
    // The profile and the window were made from these; a changed value would only half apply.
    for (const recSetting &setting : Settings()) {
        if (setting.AtStartOnly)
            put(setting, read, ValueOf(setting, *g_current));
    }
    *g_current = std::move(read);
    return *g_current;
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

void Write(const recSetting &setting, const QString &stored, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    registry->WriteString(QLatin1String(setting.ValueName), stored);
}

void Unset(const recSetting &setting, TRegistry *batch)
{
    TWriter registry(batch, KeyPath());
    const QString name = QLatin1String(setting.ValueName);
    if (registry->ValueExists(name))
        registry->DeleteValue(name);
}

void SetSharedFavoritesName(const QString &name)
{
    const recSetting &setting = SettingOf(&R::SharedFavoritesName);
    if (name.isEmpty())
        Unset(setting);
    else
        Write(setting, name);
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

QStringList ListSites()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(PopupsKeyPath()))
        return QStringList();
    return registry.GetValueNames();
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

QString AccountUrlListKeyPath(UrlList list, const QString &who)
{
    return KeyPath() + QStringLiteral("\\Accounts\\") + who + QLatin1Char('\\') +
           QLatin1String(
               SettingOf(list == UrlList::Block ? &R::BlockedUrls : &R::AllowedUrls).ValueName);
}

namespace {
// The accounts with lists of their own are named as values of this key, since the store lists
// the values of a key but not its subkeys.
QString accountsKey()
{
    return KeyPath() + QStringLiteral("\\Accounts");
}
} // namespace

void AddAccountUrlPattern(const QString &who, UrlList list, const QString &pattern,
                          TRegistry *batch)
{
    {
        TWriter index(batch, accountsKey());
        if (!index->ValueExists(who))
            index->WriteString(who, QString());
    }
    TWriter registry(batch, AccountUrlListKeyPath(list, who));
    if (!registry->ValueExists(pattern))
        registry->WriteString(pattern, QString());
}

bool RemoveAccountUrlPattern(const QString &who, UrlList list, const QString &pattern,
                             TRegistry *batch)
{
    TWriter registry(batch, AccountUrlListKeyPath(list, who));
    return registry->ValueExists(pattern) && registry->DeleteValue(pattern);
}

QStringList ListAccountUrlPatterns(const QString &who, UrlList list)
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(AccountUrlListKeyPath(list, who)))
        return QStringList();
    return registry.GetValueNames();
}

QStringList AccountsWithLists()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(accountsKey()))
        return QStringList();
    QStringList named = registry.GetValueNames();
    named.sort();
    return named;
}

QStringList AccountNames(const QString &user)
{
    QStringList names{QStringLiteral("user:") + user};
    const QByteArray name = user.toLocal8Bit();
    struct passwd *entry = ::getpwnam(name.constData());
    if (!entry)
        return names;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(name.constData(), entry->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (::getgrouplist(name.constData(), entry->pw_gid, groups.data(), &count) < 0)
            count = 0;
    }
    for (int i = 0; i < count; ++i) {
        if (const struct group *group = ::getgrgid(groups[size_t(i)]))
            names << QStringLiteral("group:") + QString::fromLocal8Bit(group->gr_name);
    }
    return names;
}

void AddOwnAccountUrls(QStringList &blocked, QStringList &allowed)
{
    const QStringList withLists = AccountsWithLists();
    if (withLists.isEmpty())
        return;
    const struct passwd *me = ::getpwuid(::geteuid());
    if (!me)
        return;
    for (const QString &who : AccountNames(QString::fromLocal8Bit(me->pw_name))) {
        if (!withLists.contains(who))
            continue;
        blocked << ListAccountUrlPatterns(who, UrlList::Block);
        allowed << ListAccountUrlPatterns(who, UrlList::Allow);
    }
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
