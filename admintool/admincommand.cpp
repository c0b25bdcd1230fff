#include "admintool/admincommand.h"

#include "admintool/policyfile.h"
#include "admintool/timecommands.h"
#include "common/adminloginstore.h"
#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/categorylists.h"
#include "common/errors.h"
#include "common/favoritesstore.h"
#include "common/genutilities.h"
#include "common/loginrules.h"
#include "common/machinechange.h"
#include "common/machinefavorites.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "common/runasuser.h"
#include "common/urlfilter.h"
#include "config.h"

#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AdminCommand {

namespace {

// What --help says of every command but the settings, whose lines come from their rows: the
// first between the popups and the address commands, the rest after the favorites commands.
const char *const HelpHead =
    "Usage: quelvard-admin COMMAND [ARGUMENTS]\n"
    "Sets the Quelvard administrator login and the settings every user of this machine gets.\n"
    "\n"
    "Commands:\n"
    "  set-login [--stdin] [--if-unset]  set the administrator password and reminders\n"
    "  reset-login                  remove the administrator login\n"
    "  status                       show whether a login is set and every machine setting\n"
    "  popups allow DOMAIN...       allow sites to open popups for every user\n"
    "  popups remove DOMAIN...      stop allowing them\n"
    "  popups list                  list the sites allowed for every user\n"
    "  popups clear                 allow no site for every user\n"
    "  popups ACTION ... --user NAME | --all-users\n"
    "                               the same on one user's own list, or every user's\n";
const char *const HelpMiddle =
    "  urls block PATTERN...        refuse pages at these addresses for every user\n"
    "  urls allow PATTERN...        let these addresses through despite the block list\n"
    "  urls remove PATTERN...       take patterns off either list\n"
    "  urls list                    show both address lists\n"
    "  urls check URL...            say whether each address is allowed, and by which rule\n"
    "  urls import --block|--allow [--category NAME] PATH...\n"
    "                               take a category list (folder, host list or hosts file)\n"
    "  urls categories              list the imported categories\n"
    "  urls drop-category NAME      remove an imported category\n"
    "  urls rebuild                 compile the imported categories again\n"
    "  apply [--check] FILE.json|-  make the machine's settings equal to a policy file\n"
    "  export                       print the machine's settings as a policy file\n"
    "  favorites add NAME URL [--folder PATH]  give every user a favorite\n"
    "  favorites remove NAME [--folder PATH]   take a favorite or folder away\n"
    "  favorites list               list the favorites every user gets\n"
    "  favorites ACTION ... --user NAME | --all-users\n"
    "                               the same on one user's own favorites, or every user's\n";
const char *const HelpTail =
    "\n"
    "  --version                    show the version\n"
    "\n"
    "Run 'quelvard-admin COMMAND --help' for one command.\n"
    "Exit status: 0 done; 1 wrong usage or a refused value; 2 a store cannot be written\n"
    "(not root, or the store is read-only, full or locked); 3 the machine store cannot be\n"
    "read, or is unsafe (a link, not root's, or writable by others); 4 apply --check:\n"
    "something would change.\n";

using MachinePolicies::recMachinePolicies;
using MachinePolicies::recSetting;
using MachinePolicies::TKind;

const recSetting &caption()
{
    return MachinePolicies::SettingOf(&recMachinePolicies::SharedFavoritesName);
}

// The settings `place` gives a place, in its order.
std::vector<const recSetting *> settingsBy(int recSetting::*place)
{
    std::vector<const recSetting *> placed;
    for (const recSetting &setting : MachinePolicies::Settings()) {
        if (setting.*place > 0)
            placed.push_back(&setting);
    }
    std::stable_sort(
        placed.begin(), placed.end(),
        [place](const recSetting *a, const recSetting *b) { return a->*place < b->*place; });
    return placed;
}

// One command of --help and what it does, the words lined up in one column.
QString helpLine(const QString &command, const QString &what)
{
    constexpr int Column = 31;
    const QString gap = command.size() > 40 ? QLatin1Char('\n') + QString(Column, QLatin1Char(' '))
                        : command.size() > 28
                            ? QStringLiteral("  ")
                            : QString(Column - 2 - command.size(), QLatin1Char(' '));
    return QStringLiteral("  ") + command + gap + what + QLatin1Char('\n');
}

// The settings before or after the favorites commands; those sharing a place share a line:
// "set camera|microphone ask|allow|block".
QString settingsHelp(bool afterFavorites)
{
    std::vector<const recSetting *> shown = settingsBy(&recSetting::HelpPlace);
    shown.erase(std::remove_if(shown.begin(), shown.end(),
                               [afterFavorites](const recSetting *setting) {
                                   return (setting->HelpPlace >=
                                           MachinePolicies::HelpAfterFavorites) != afterFavorites;
                               }),
                shown.end());
    QString text;
    for (auto it = shown.begin(); it != shown.end();) {
        const recSetting &first = **it;
        QStringList names;
        for (; it != shown.end() && (*it)->HelpPlace == first.HelpPlace; ++it)
            names << QLatin1String((*it)->Name);
        text += helpLine(QStringLiteral("set %1 %2")
                             .arg(names.join(QLatin1Char('|')), MachinePolicies::Argument(first)),
                         first.Help);
        if (first.Unsettable())
            text += helpLine(QStringLiteral("unset ") + QLatin1String(first.Name),
                             QStringLiteral("back to ") +
                                 (first.Default.isEmpty()
                                      ? first.Nothing
                                      : QLatin1Char('"') + first.Default + QLatin1Char('"')));
    }
    return text;
}

// The time keeper's commands, one line each: the first line of their help.
QString keeperHelp()
{
    QString text = QStringLiteral("\n");
    for (const TimeCommands::TCommand &command : TimeCommands::Commands)
        text += helpLine(QString::fromLatin1(command.Usage).section(QLatin1Char(' '), 0, 0) +
                             QStringLiteral(" ..."),
                         QString::fromLatin1(command.Help).section(QLatin1Char('\n'), 0, 0));
    return text;
}

QString mainHelp()
{
    return QLatin1String(HelpHead) + settingsHelp(false) + QLatin1String(HelpMiddle) +
           settingsHelp(true) + keeperHelp() + QLatin1String(HelpTail);
}

QStringList unsettable()
{
    QStringList names;
    for (const recSetting &setting : MachinePolicies::Settings()) {
        if (setting.Unsettable())
            names << QLatin1String(setting.Name);
    }
    return names;
}

QString unsetUsage()
{
    return QStringLiteral("unset ") + unsettable().join(QLatin1String(" | unset "));
}

struct TSubcommand
{
    QString name;
    QString usage;
    QString help;
};

const TSubcommand Subcommands[] = {
    {QStringLiteral("set-login"), QStringLiteral("set-login [--stdin] [--if-unset]"),
     QStringLiteral(
         "Asks twice for the new administrator password (8 to 20 characters, not shown as\n"
         "typed), then for two reminder questions and their answers, both or neither. With\n"
         "--stdin (needed without a terminal), reads them from\n"
         "standard input instead, one per line: password, confirmation, question 1,\n"
         "answer 1, question 2, answer 2 (missing trailing lines are empty).\n"
         "With --if-unset, leaves a login already set as it is and prints unchanged;\n"
         "otherwise sets it and prints changed.\n")},
    {QStringLiteral("reset-login"), QStringLiteral("reset-login"),
     QStringLiteral("Removes the administrator login: the next start of Quelvard asks for a new\n"
                    "one from whoever may write the machine store.\n")},
    {QStringLiteral("status"), QStringLiteral("status [--for-user NAME]"),
     QStringLiteral("Shows whether a login is set (never the password), each machine-wide\n"
                    "setting and the paths of the machine store and the companion file.\n"
                    "With --for-user NAME, what applies to that account: its address lists\n"
                    "and its groups', and the time limit and schedule that hold for it.\n")},
    {QStringLiteral("popups"),
     QStringLiteral(
         "popups allow|remove DOMAIN... | popups list|clear  [--user NAME | --all-users]"),
     QStringLiteral("Edits the sites that may open popups for every user. A site is a host name\n"
                    "with an optional port (www.example.org, intranet:8080), stored trimmed and\n"
                    "in lower case. With --user NAME, edits that user's own list instead, as\n"
                    "that user; --all-users does so for every user with a home under /home.\n")},
    {QStringLiteral("set"), MachinePolicies::SetUsage(), MachinePolicies::SetHelp()},
    {QStringLiteral("unset"), unsetUsage(),
     QStringLiteral("Returns to %1, or to the caption \"%2\".\n")
         .arg(MachinePolicies::SettingOf(&recMachinePolicies::HomePage).Nothing,
              MachinePolicies::SettingOf(&recMachinePolicies::SharedFavoritesName).Default)},
    {QStringLiteral("urls"),
     QStringLiteral("urls block|allow|remove PATTERN... | urls list | urls check URL... |\n"
                    "       urls ... [--for-user NAME | --for-group NAME] |\n"
                    "       urls import --block|--allow [--category NAME] PATH... |\n"
                    "       urls categories | urls drop-category NAME | urls rebuild"),
     QStringLiteral(
         "Edits the addresses pages may not reach (block) and those reachable despite the\n"
         "block list (allow). A pattern is [scheme://][.]host[:port][/path][?query]:\n"
         "example.com covers that host and its subdomains, .example.com that host only,\n"
         "* every address; an IPv6 address is written in brackets ([::1]). A path is a\n"
         "prefix (no * in it); in the query, key=value* is a prefix of a value, key* a\n"
         "prefix of a key, * any query. The most specific matching rule decides; a tie goes\n"
         "to allow. A malformed pattern, or one that could never match, is refused with what\n"
         "to write instead, and nothing is written. remove takes a pattern off\n"
         "whichever list holds it. check prints, for each address, allowed or blocked and\n"
         "the rule or category that decided, exactly as the browser decides.\n"
         "With --for-user NAME or --for-group NAME, the lists of that account or group\n"
         "only, which its browsers use beside everyone's (check: as that account's).\n"
         "import takes a category list as a school's filter does: a folder holding a\n"
         "domains and a urls file, a list of hosts or host/path lines, or a hosts file\n"
         "(0.0.0.0 host). A host means that host and its subdomains. The category is named\n"
         "after the folder or file unless --category says; importing it again replaces it.\n"
         "Lines that are neither are skipped and counted. The categories are compiled into\n"
         "one file every browser reads as it stands; rebuild compiles it again.\n")},
    {QStringLiteral("apply"), QStringLiteral("apply [--check] FILE.json|-"),
     QStringLiteral(
         "Makes the machine's settings equal to the policy file, all in one change or none,\n"
         "and prints changed or unchanged. A key the file leaves out means that setting's\n"
         "default. An unknown key, a value of the wrong type or a refused value is named\n"
         "and nothing is written; so is a key given twice. - reads standard input. A file\n"
         "is at most 16 MB. --check prints what would change, writes nothing, and exits 4\n"
         "when something would change, 0 when nothing would. The administrator login is\n"
         "not part of the file.\n")},
    {QStringLiteral("export"), QStringLiteral("export"),
     QStringLiteral("Prints every machine setting as a policy file, the form apply takes.\n")},
    {QStringLiteral("favorites"),
     QStringLiteral("favorites add NAME URL | favorites remove NAME  [--folder PATH]\n"
                    "       favorites ... [--user NAME | --all-users] | favorites list"),
     QStringLiteral(
         "Edits the favorites every user finds first in the Favorites menu, in a submenu\n"
         "(\"%1\" unless set %2 says otherwise). Users cannot\n"
         "change them. NAME is the favorite's caption; URL an http, https, file or quelvard\n"
         "address. --folder PATH puts it in a folder of that menu, and nested folders are\n"
         "separated by \"/\" (Homework/Maths); missing ones are made. remove takes away a\n"
         "favorite, or else a folder with all it holds. list shows one line per folder\n"
         "(ending in \"/\") and per favorite (its path, a tab, its address).\n"
         "With --user NAME, edits that user's own favorites instead, as that user;\n"
         "--all-users does so for every user with a home under /home.\n")
         .arg(caption().Default, QLatin1String(caption().Name))},
};

const TSubcommand *findSubcommand(const QString &name)
{
    for (const TSubcommand &sub : Subcommands) {
        if (sub.name == name)
            return &sub;
    }
    return nullptr;
}

QString machineHive()
{
    return AppPaths::MachineHiveFile();
}

// Text with its control characters escaped, so an escape sequence is never sent to the
// terminal.
QString escaped(const QString &value)
{
    QString text;
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control)
            text += c.unicode() < 0x100
                        ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                        : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('\\'))
            text += QStringLiteral("\\\\");
        else
            text += c;
    }
    return text;
}

// A refused value, escaped and cut short when long.
QString shown(const QString &value)
{
    constexpr qsizetype Longest = 80;
    QString text = escaped(value.left(Longest));
    if (value.size() > Longest)
        text += QStringLiteral("... (%1 characters)").arg(value.size());
    return QLatin1Char('"') + text + QLatin1Char('"');
}

int usage(TConsole &console, const QString &message, const TSubcommand *sub = nullptr)
{
    *console.err << "quelvard-admin: " << message << "\n";
    if (sub)
        *console.err << "Usage: quelvard-admin " << sub->usage << "\n";
    else
        *console.err << "Run 'quelvard-admin --help' for the commands.\n";
    console.err->flush();
    return Usage;
}

bool runByRoot()
{
    return ::geteuid() == 0;
}

int notPermitted(TConsole &console, const QString &why)
{
    *console.err << "quelvard-admin: cannot write " << machineHive() << ": " << why
                 << (runByRoot() ? "" : "; run as root") << "\n";
    console.err->flush();
    return NotPermitted;
}

// What makes the machine folder or store unsafe to trust: anyone but root able to change
// what every user's browser obeys. Each line says how to mend it.
QStringList unsafeStore()
{
    QStringList problems;
    const QString file = machineHive();
    const QString folder = QFileInfo(file).absolutePath();
    for (const QString &path : {folder, file})
        problems << AppPaths::UnsafeMachinePath(path);
    return problems;
}

// A store others can read nothing from gives every user the safest settings; worth saying,
// not worth refusing.
QStringList unreadableByUsers()
{
    QStringList problems;
    const QString file = machineHive();
    const QString folder = QFileInfo(file).absolutePath();
    const struct
    {
        QString path;
        mode_t needed;
        const char *mode;
    } checks[] = {{folder, S_IROTH | S_IXOTH, "755"}, {file, S_IROTH, "644"}};
    for (const auto &check : checks) {
        struct stat info = {};
        if (::stat(QFile::encodeName(check.path).constData(), &info) == 0 &&
            (info.st_mode & check.needed) != check.needed)
            problems << QStringLiteral("%1 cannot be read by other users, so their browsers use "
                                       "the safest settings; mend it with: chmod %2 %1")
                            .arg(check.path, QLatin1String(check.mode));
    }
    return problems;
}

// Run by root, nothing is written to a store (or into a folder beside it) someone else could
// have prepared.
std::optional<int> refuseUnsafeStore(TConsole &console, const QStringList &folders = {})
{
    if (!runByRoot())
        return std::nullopt;
    const QStringList problems = unsafeStore() + folders;
    if (problems.isEmpty())
        return std::nullopt;
    for (const QString &problem : problems)
        *console.err << "quelvard-admin: refused: " << problem << "\n";
    console.err->flush();
    return Unreadable;
}

// A store that opens but is not a database, or is a damaged one; a busy or forbidden store is
// not, and moving one of those aside would lose a good store.
bool damagedStore(const QString &why)
{
    QFile file(machineHive());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QByteArray header("SQLite format 3", 16); // with its closing zero byte
    return file.read(header.size()) != header ||
           why.contains(QString::fromUtf8(sqlite3_errstr(SQLITE_CORRUPT))) ||
           why.contains(QString::fromUtf8(sqlite3_errstr(SQLITE_NOTADB)));
}

int unreadable(TConsole &console, const QString &why)
{
    const QString store = machineHive();
    *console.err << "quelvard-admin: cannot read " << store << ": " << why << "\n";
    if (damagedStore(why))
        *console.err << "quelvard-admin: the store is damaged and is never written over; mend it "
                        "by moving it aside and setting the machine up again: mv "
                     << store << " " << store
                     << ".damaged, then quelvard-admin set-login and the machine's settings\n";
    console.err->flush();
    return Unreadable;
}

// The store must read before anything is written, so a damaged file is never touched and
// is reported as what it is rather than as a missing permission.
// The time limits of a policy live in the time keeper, which did not answer.
int keeperUnreadable(TConsole &console, const QString &why)
{
    *console.err << "quelvard-admin: cannot read the time limits: " << why << "\n";
    console.err->flush();
    return Unreadable;
}

std::optional<QString> readProblem()
{
    try {
        TRegistry registry(TRegistry::KEY_READ);
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        registry.KeyExists(MachinePolicies::KeyPath());
        recAdminLogin login;
        GenUtilities::LoadAdminLogin(login, false);
    } catch (const EQuelvardError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
    return std::nullopt;
}

// Runs a write; its failure means the store could not be written.
template <typename Write> int write(TConsole &console, Write &&writeToStore)
{
    if (const auto refused = refuseUnsafeStore(console))
        return *refused;
    if (const auto why = readProblem())
        return unreadable(console, *why);
    // A write that would find nothing to change (removing a login that is not there) still
    // needs the right to write, so a command run without root fails the same way every time.
    if (!TRegistry::CanWrite(machineHive()))
        return notPermitted(console, QStringLiteral("permission denied"));
    try {
        writeToStore();
    } catch (const EQuelvardError &error) {
        return notPermitted(console, error.message());
    } catch (const std::exception &error) {
        return notPermitted(console, QString::fromLocal8Bit(error.what()));
    }
    return Success;
}

// The rule the stored lists refuse `address` by, decided as the browser decides; null when
// they let it through.
std::optional<QString> blockingRule(const MachinePolicies::recMachinePolicies &policies,
                                    const QString &address)
{
    TUrlFilter filter;
    filter.SetRules(policies.BlockedUrls, policies.AllowedUrls);
    CategoryLists::Apply(filter, nullptr);
    const TUrlFilter::TDecision decision = filter.Decide(QUrl(address));
    if (decision.Allowed)
        return std::nullopt;
    if (!decision.Category.isEmpty())
        return QStringLiteral("category %1").arg(decision.Category);
    return decision.Rule;
}

// Said after a change, never refused: the administrator may be about to allow it.
void warnIfHomePageBlocked(TConsole &console)
{
    const MachinePolicies::recMachinePolicies policies = MachinePolicies::Read();
    if (policies.HomePage.isEmpty())
        return;
    if (const auto rule = blockingRule(policies, policies.HomePage)) {
        *console.err << "quelvard-admin: warning: the home page " << shown(policies.HomePage)
                     << " is blocked by the rule " << shown(*rule)
                     << "; every user will see the blocked page at start\n";
        console.err->flush();
    }
}

// The dialog's words name one limit at a time; the command names both, from the same rules.
QString loginMessage(LoginRules::NewLoginCheck check)
{
    using LoginRules::NewLoginCheck;
    if (check == NewLoginCheck::PasswordTooShort || check == NewLoginCheck::PasswordTooLong)
        return QStringLiteral("The password must be %1 to %2 characters long")
            .arg(LoginRules::MinimumPasswordLength)
            .arg(LoginRules::MaximumPasswordLength);
    return LoginRules::Message(check);
}

int refuseLogin(TConsole &console, const QString &message)
{
    *console.err << "quelvard-admin: " << message << "\n";
    console.err->flush();
    return Usage;
}

// The password is checked as soon as it is confirmed, so nobody types reminders for a login
// that will be refused.
std::optional<int> askLogin(TConsole &console, QString (&lines)[6])
{
    const auto ask = [&](const char *prompt, bool secret, QString &line) {
        return console.ask(QString::fromLatin1(prompt), secret, line);
    };
    if (!ask("New administrator password: ", true, lines[0]) ||
        !ask("Confirm the password: ", true, lines[1]))
        return refuseLogin(console, QStringLiteral("the input ended; nothing was changed"));
    recAdminLogin password{lines[0], {}, {}, {}, {}};
    QString confirmation = lines[1];
    const LoginRules::NewLoginCheck check = LoginRules::CheckNewLogin(password, confirmation);
    if (check != LoginRules::NewLoginCheck::Accepted)
        return refuseLogin(console, loginMessage(check));
    if (!ask("First reminder question (empty for none): ", false, lines[2]))
        return refuseLogin(console, QStringLiteral("the input ended; nothing was changed"));
    if (lines[2].trimmed().isEmpty())
        return std::nullopt;
    if (!ask("Its answer: ", true, lines[3]) ||
        !ask("Second reminder question: ", false, lines[4]) ||
        (!lines[4].trimmed().isEmpty() && !ask("Its answer: ", true, lines[5])))
        return refuseLogin(console, QStringLiteral("the input ended; nothing was changed"));
    return std::nullopt;
}

int setLogin(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    bool fromStdin = false;
    bool ifUnset = false;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--stdin"))
            fromStdin = true;
        else if (arg == QLatin1String("--if-unset"))
            ifUnset = true;
        else
            return usage(console, QStringLiteral("unexpected argument %1").arg(shown(arg)), sub);
    }
    if (!fromStdin && !console.ask)
        return usage(console,
                     QStringLiteral("there is no terminal to type the password on; a script "
                                    "gives the lines on standard input with --stdin, as in: "
                                    "printf '%s\\n' \"$pw\" \"$pw\" | quelvard-admin set-login "
                                    "--stdin"),
                     sub);
    if (const auto refused = refuseUnsafeStore(console))
        return *refused;
    if (const auto why = readProblem())
        return unreadable(console, *why);
    // A playbook run again must not replace the login (and drop its reminders) every time.
    if (ifUnset) {
        recAdminLogin existing;
        GenUtilities::LoadAdminLogin(existing, false);
        if (!existing.Password.isEmpty()) {
            *console.out << "unchanged\n";
            console.out->flush();
            return Success;
        }
    }

    QString lines[6];
    if (fromStdin) {
        for (QString &line : lines) {
            if (!console.readLine(line))
                break;
        }
    } else if (const auto refused = askLogin(console, lines)) {
        return *refused;
    }

    recAdminLogin login{lines[0], lines[2], lines[3], lines[4], lines[5]};
    QString confirmation = lines[1];
    const LoginRules::NewLoginCheck check = LoginRules::CheckNewLogin(login, confirmation);
    if (check != LoginRules::NewLoginCheck::Accepted)
        return refuseLogin(console, loginMessage(check));
    // Forgot Password asks for both answers, so a single question could never unlock.
    if (login.Question1.isEmpty() != login.Question2.isEmpty())
        return refuseLogin(console,
                           QStringLiteral("Give both reminder questions or neither: Forgot "
                                          "Password asks for both answers, so one question "
                                          "alone can never unlock"));
    if (!GenUtilities::SaveAdminLogin(login))
        return notPermitted(console, QStringLiteral("the login was not saved"));
    if (ifUnset) {
        *console.out << "changed\n";
        console.out->flush();
    }
    return Success;
}

// A setting as status shows it: a list's sites, or how many patterns it holds; a number of
// minutes; what an empty value stands for, in brackets.
QString statusValue(const recSetting &setting, const recMachinePolicies &policies)
{
    const QStringList items = MachinePolicies::ItemsOf(setting, policies);
    const QString value = MachinePolicies::ValueOf(setting, policies);
    const QString nothing = QLatin1Char('(') + setting.Nothing + QLatin1Char(')');
    switch (setting.Kind) {
    case TKind::Patterns:
        return items.isEmpty() ? setting.Nothing
                               : QStringLiteral("%1 pattern%2")
                                     .arg(items.size())
                                     .arg(items.size() == 1 ? "" : "s");
    case TKind::Sites:
        return items.isEmpty() ? nothing : items.join(QLatin1Char(' '));
    case TKind::Number:
        if (QLatin1String(setting.Unit) == QLatin1String("percent"))
            return value + QLatin1Char('%');
        if (!setting.Words.isEmpty() && value == setting.Words.value(0))
            return value;
        return value.toInt() == 1
                   ? QStringLiteral("1 %1").arg(QLatin1String(setting.Unit).chopped(1))
                   : QStringLiteral("%1 %2").arg(value, QLatin1String(setting.Unit));
    case TKind::Groups:
    case TKind::Words:
    case TKind::Address:
    case TKind::Caption:
        break;
    }
    return value.isEmpty() ? nothing : value;
}

int status(TConsole &console)
{
    if (const auto why = readProblem())
        return unreadable(console, *why);
    recAdminLogin login;
    GenUtilities::LoadAdminLogin(login, false);
    QStringList problems;
    const MachinePolicies::recMachinePolicies policies = MachinePolicies::Read(&problems);
    TUrlFilter().SetRules(policies.BlockedUrls, policies.AllowedUrls, &problems);
    problems << unsafeStore() << unreadableByUsers();
    TUrlFilter lists;
    QString listsProblem;
    CategoryLists::Apply(lists, &listsProblem, true);
    if (!listsProblem.isEmpty())
        problems << listsProblem;
    const QVector<CategoryLists::TStored> categories = CategoryLists::Stored();
    for (const QString &problem : problems)
        *console.err << "quelvard-admin: " << problem << "\n";

    QTextStream &out = *console.out;
    out << "login set: " << (login.Password.isEmpty() ? "no" : "yes") << "\n";
    for (const recSetting *setting : settingsBy(&recSetting::StatusPlace))
        out << setting->Shown << ": " << statusValue(*setting, policies) << "\n";
    out << "machine store: " << machineHive() << "\n";
    out << "companion file: " << GenUtilities::GetCompanionSettingsFile() << "\n";
    // Only a machine with imported lists has a line for them.
    if (!categories.isEmpty() || !listsProblem.isEmpty()) {
        out << "address categories: " << categories.size() << " in "
            << CategoryLists::CompiledFile() << (listsProblem.isEmpty() ? "" : " (unusable)")
            << "\n";
    }
    // Only a machine whose time keeper holds rules has lines for them: whom each applies to.
    if (policies.TimeRules)
        out << TimeCommands::RulesText();
    out.flush();
    console.err->flush();
    return Success;
}

// Takes "--user NAME" (or --user=NAME) and "--all-users" out of args. Null when neither was
// given; otherwise the accounts, or the usage error already reported.
std::optional<QList<RunAsUser::TAccount>> takeUsers(QStringList &args, TConsole &console,
                                                    const TSubcommand *sub, int &failure)
{
    std::optional<QList<RunAsUser::TAccount>> accounts;
    failure = Success;
    for (qsizetype i = 0; i < args.size() && args.at(i) != QLatin1String("--");) {
        const QString arg = args.at(i);
        QString name;
        if (arg == QLatin1String("--all-users")) {
            args.removeAt(i);
            if (accounts) {
                failure = usage(console, QStringLiteral("name one user or all users"), sub);
                return std::nullopt;
            }
            accounts = RunAsUser::AccountsWithHomes();
            continue;
        }
        if (arg == QLatin1String("--user") && i + 1 < args.size()) {
            name = args.at(i + 1);
            args.remove(i, 2);
        } else if (arg.startsWith(QLatin1String("--user="))) {
            name = arg.mid(7);
            args.removeAt(i);
        } else if (arg == QLatin1String("--user")) {
            failure = usage(console, QStringLiteral("--user needs a user name"), sub);
            return std::nullopt;
        } else {
            ++i;
            continue;
        }
        const auto account = RunAsUser::FindAccount(name, nullptr);
        if (accounts || !account) {
            failure = usage(console,
                            account ? QStringLiteral("name one user or all users")
                                    : QStringLiteral("there is no user %1").arg(shown(name)),
                            sub);
            return std::nullopt;
        }
        accounts = QList<RunAsUser::TAccount>{*account};
    }
    return accounts;
}

// Does `work` on each account's own store, as that account; lines it prints are prefixed with
// the account's name when there are several. The worst status of all is returned.
int forEachUser(const QList<RunAsUser::TAccount> &accounts, bool several, TConsole &console,
                const std::function<void(QTextStream &out, QTextStream &err)> &work)
{
    int worst = Success;
    for (const RunAsUser::TAccount &account : accounts) {
        if (!runByRoot() && account.Uid != ::getuid()) {
            *console.err << "quelvard-admin: only root may change the files of " << account.Name
                         << "; run as root\n";
            worst = std::max(worst, int(NotPermitted));
            continue;
        }
        QString printed;
        QTextStream out(&printed);
        const int status = RunAsUser::Run(
            account, out, *console.err,
            [&](QTextStream &userOut, QTextStream &userErr) {
                try {
                    work(userOut, userErr);
                } catch (const EQuelvardError &error) {
                    userErr << "quelvard-admin: " << account.Name << ": "
                            << AppPaths::UserHiveFile() << ": " << error.message() << "\n";
                    return int(NotPermitted);
                } catch (const std::exception &error) {
                    userErr << "quelvard-admin: " << account.Name << ": " << error.what() << "\n";
                    return int(NotPermitted);
                }
                return int(Success);
            },
            NotPermitted);
        out.flush();
        for (const QString &line : printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            *console.out << (several ? account.Name + QStringLiteral(": ") : QString()) << line
                         << "\n";
        worst = std::max(worst, status);
    }
    console.out->flush();
    console.err->flush();
    return worst;
}

// A user's own list, read without creating their store when they have none.
QStringList userSites()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_CURRENT_USER);
    if (!registry.OpenKeyReadOnly(PopupStore::KeyPath()))
        return QStringList();
    return registry.GetValueNames();
}

int userPopups(const QString &action, const QStringList &sites,
               const QList<RunAsUser::TAccount> &accounts, TConsole &console)
{
    return forEachUser(
        accounts, accounts.size() > 1, console, [&](QTextStream &out, QTextStream &err) {
            if (action == QLatin1String("list")) {
                for (const QString &site : userSites())
                    out << site << "\n";
                return;
            }
            const QStringList names = action == QLatin1String("clear") ? userSites() : sites;
            for (const QString &site : names) {
                if (action == QLatin1String("allow"))
                    PopupStore::AddSite(site, PopupStore::TBy::Administrator);
                else if (!userSites().contains(site, Qt::CaseInsensitive))
                    err << "quelvard-admin: " << shown(site) << " was not listed\n";
                else
                    PopupStore::RemoveSite(site, PopupStore::TBy::Administrator);
            }
        });
}

int popups(QStringList args, TConsole &console, const TSubcommand *sub)
{
    int failure = Success;
    const auto accounts = takeUsers(args, console, sub, failure);
    if (failure != Success)
        return failure;
    args.removeOne(QStringLiteral("--"));
    if (args.isEmpty())
        return usage(console, QStringLiteral("popups needs allow, remove, clear or list"), sub);
    const QString action = args.first();
    const QStringList names = args.mid(1);
    if (action == QLatin1String("list") || action == QLatin1String("clear")) {
        if (!names.isEmpty())
            return usage(console, QStringLiteral("popups %1 takes no site").arg(action), sub);
        if (accounts)
            return userPopups(action, {}, *accounts, console);
        if (action == QLatin1String("clear")) {
            return write(console, [] {
                for (const QString &site : MachinePolicies::ListSites())
                    MachinePolicies::RemoveSite(site);
            });
        }
        if (const auto why = readProblem())
            return unreadable(console, *why);
        QStringList sites;
        try {
            sites = MachinePolicies::ListSites();
        } catch (const EQuelvardError &error) {
            return unreadable(console, error.message());
        }
        for (const QString &site : sites)
            *console.out << site << "\n";
        console.out->flush();
        return Success;
    }
    if (action != QLatin1String("allow") && action != QLatin1String("remove"))
        return usage(console, QStringLiteral("unknown popups action %1").arg(shown(action)), sub);
    if (names.isEmpty())
        return usage(console, QStringLiteral("popups %1 needs at least one site").arg(action), sub);

    // Every name is checked before any is written, so a typo changes nothing.
    QStringList sites;
    for (const QString &name : names) {
        QString why;
        const auto site = MachinePolicies::NormaliseSite(name, &why);
        if (!site)
            return usage(console, QStringLiteral("%1 refused: %2").arg(shown(name), why));
        sites << *site;
    }
    if (accounts)
        return userPopups(action, sites, *accounts, console);
    return write(console, [&] {
        for (const QString &site : sites) {
            if (action == QLatin1String("allow"))
                MachinePolicies::AllowSite(site);
            else if (!MachinePolicies::RemoveSite(site))
                *console.err << "quelvard-admin: " << shown(site) << " was not listed\n";
        }
    });
}

// One line per folder (its path and "/") and per favorite (its path, a tab, its address).
void printFavorites(QTextStream &out, const QVector<MachineFavorites::TNode> &nodes,
                    const QString &within = QString())
{
    for (const MachineFavorites::TNode &node : nodes) {
        const QString path = within + escaped(node.Name);
        if (node.IsFolder) {
            out << path << "/\n";
            printFavorites(out, node.Children, path + QLatin1Char('/'));
        } else {
            out << path << "\t" << escaped(node.Url) << "\n";
        }
    }
}

// Said when `favorites add` writes over a favorite of the same name, with what it led to.
QString replacedText(const QString &name, const QString &file)
{
    const QString before = FavoritesStore::ReadFavoriteURL(file);
    return before.isEmpty()
               ? QStringLiteral("replaced %1").arg(shown(name))
               : QStringLiteral("replaced %1, which led to %2").arg(shown(name), shown(before));
}

// The same change in a user's own favorites, made as that user.
int userFavorites(const QString &action, const QStringList &folders, const QString &name,
                  const QString &url, const QList<RunAsUser::TAccount> &accounts, TConsole &console)
{
    return forEachUser(
        accounts, accounts.size() > 1, console, [&](QTextStream &out, QTextStream &err) {
            const QString root = FavoritesStore::FavoritesFolder();
            if (action == QLatin1String("list")) {
                printFavorites(out, MachineFavorites::ReadTree(root));
                return;
            }
            QString folder = root;
            for (const QString &part : folders)
                folder += part + QLatin1Char('/');
            const QString file = folder + name + QStringLiteral(".irl");
            try {
                if (action == QLatin1String("add")) {
                    if (!FavoritesStore::CreateFolderPath(folder))
                        throw EQuelvardError(folder + QStringLiteral(": cannot be made"));
                    if (FavoritesStore::EntryExists(file) && !FavoritesStore::IsFolder(file))
                        err << "quelvard-admin: " << replacedText(name, file) << "\n";
                    FavoritesStore::WriteFileAtomically(
                        file,
                        FavoritesStore::FavoriteFileContent(url, FavoritesStore::GetWindowsDir(),
                                                            FavoritesStore::GetSystemDir()));
                } else if (FavoritesStore::EntryExists(file) && !FavoritesStore::IsFolder(file)) {
                    if (!FavoritesStore::DeleteFavoriteFile(file))
                        throw EQuelvardError(file + QStringLiteral(": cannot be removed"));
                } else if (FavoritesStore::IsFolder(folder + name)) {
                    FavoritesStore::DeleteFolderTree(folder + name);
                    if (FavoritesStore::EntryExists(folder + name))
                        throw EQuelvardError(folder + name + QStringLiteral(": cannot be removed"));
                } else {
                    err << "quelvard-admin: " << shown(name) << " was not listed\n";
                }
            } catch (const EQuelvardError &error) {
                // Named by its own path, not the user's store.
                throw std::runtime_error(error.message().toStdString());
            }
        });
}

int favorites(QStringList args, TConsole &console, const TSubcommand *sub)
{
    int failure = Success;
    const auto accounts = takeUsers(args, console, sub, failure);
    if (failure != Success)
        return failure;
    QStringList folders;
    for (qsizetype i = 0; i < args.size() && args.at(i) != QLatin1String("--");) {
        QString path;
        if (args.at(i) == QLatin1String("--folder") && i + 1 < args.size()) {
            path = args.at(i + 1);
            args.remove(i, 2);
        } else if (args.at(i).startsWith(QLatin1String("--folder="))) {
            path = args.takeAt(i).mid(9);
        } else if (args.at(i) == QLatin1String("--folder")) {
            return usage(console, QStringLiteral("--folder needs a folder"), sub);
        } else {
            ++i;
            continue;
        }
        folders = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (folders.isEmpty())
            return usage(console, QStringLiteral("--folder needs a folder"), sub);
    }
    args.removeOne(QStringLiteral("--"));
    const QString action = args.value(0);
    const qsizetype wanted = action == QLatin1String("add")      ? 2
                             : action == QLatin1String("remove") ? 1
                             : action == QLatin1String("list")   ? 0
                                                                 : -1;
    if (wanted < 0)
        return usage(console, QStringLiteral("favorites needs add, remove or list"), sub);
    if (args.size() != wanted + 1 || (wanted == 0 && !folders.isEmpty()))
        return usage(console, QStringLiteral("wrong arguments for favorites %1").arg(action), sub);
    const QString name = args.value(1).trimmed();
    const QString url = args.value(2).trimmed();
    // Everything is checked before anything is written, so a typo changes nothing.
    for (const QString &entry : wanted > 0 ? folders + QStringList{name} : QStringList()) {
        if (const auto why = MachineFavorites::NameProblem(entry))
            return usage(console, QStringLiteral("%1 refused: %2").arg(shown(entry), *why));
    }
    if (wanted == 2 && !accounts) {
        if (const auto why = MachineFavorites::PlaceProblem(folders, name))
            return usage(console, QStringLiteral("%1 refused: %2").arg(shown(name), *why));
    }
    if (wanted == 2) {
        if (const auto why = MachineFavorites::UrlProblem(url))
            return usage(console, QStringLiteral("%1 refused: %2").arg(shown(url), *why));
    }
    if (accounts)
        return userFavorites(action, folders, name, url, *accounts, console);
    if (action == QLatin1String("list")) {
        printFavorites(*console.out, MachineFavorites::ReadTree(MachineFavorites::Folder()));
        console.out->flush();
        return Success;
    }
    if (const auto refused = refuseUnsafeStore(console, MachineFavorites::UnsafeFolders(folders)))
        return *refused;
    try {
        if (action == QLatin1String("add")) {
            // Read by path before the write: only what it says depends on it.
            const QString file = (QStringList{MachineFavorites::Folder()} + folders +
                                  QStringList{name + QStringLiteral(".irl")})
                                     .join(QLatin1Char('/'));
            const bool there = QFileInfo(file).isFile() && !QFileInfo(file).isSymLink();
            const QString replaced = there ? replacedText(name, file) : QString();
            MachineFavorites::Add(folders, name, url);
            if (there)
                *console.err << "quelvard-admin: " << replaced << "\n";
        } else if (!MachineFavorites::Remove(folders, name)) {
            *console.err << "quelvard-admin: " << shown(name) << " was not listed\n";
        }
    } catch (const EQuelvardError &error) {
        *console.err << "quelvard-admin: cannot change the shared favorites: " << error.message()
                     << (runByRoot() ? "" : "; run as root") << "\n";
        console.err->flush();
        return NotPermitted;
    }
    console.err->flush();
    return Success;
}

int set(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    const recSetting *setting =
        args.isEmpty() ? nullptr : MachinePolicies::FindSetting(args.first());
    // A setting of groups takes them as words of their own.
    const bool groups = setting && setting->Kind == TKind::Groups;
    if (groups ? args.size() < 2 : args.size() != 2)
        return usage(console, QStringLiteral("set needs a setting and a value"), sub);
    const QString value = groups ? args.mid(1).join(QLatin1Char(' ')) : args.at(1);
    if (!setting || setting->IsList())
        return usage(console, QStringLiteral("unknown setting %1").arg(shown(args.first())), sub);
    QString why;
    const auto stored = MachinePolicies::Normalise(*setting, value, &why);
    if (!stored && setting->TakesWords())
        return usage(console,
                     QStringLiteral("%1 is %2, not %3")
                         .arg(args.first(), MachinePolicies::Choices(*setting), shown(value)),
                     sub);
    if (!stored)
        return usage(console, QStringLiteral("%1 refused: %2").arg(shown(value), why));
    const int status = write(console, [&] { MachinePolicies::Write(*setting, *stored); });
    if (status == Success &&
        setting->Field == MachinePolicies::TField(&recMachinePolicies::HomePage))
        warnIfHomePageBlocked(console);
    return status;
}

// Runs `work` on one batch of the machine hive, so several patterns are written together or
// not at all.
template <typename Work> int writeBatch(TConsole &console, Work &&work)
{
    return write(console, [&] {
        TRegistry batch;
        batch.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        batch.BeginBatch();
        work(batch);
        batch.CommitBatch();
    });
}

int urlCheck(const QStringList &addresses, TConsole &console, const QString &who)
{
    // Every address is read before anything is printed, so a typo is not half answered.
    QList<QUrl> urls;
    for (const QString &text : addresses) {
        const QUrl url = QUrl::fromUserInput(text);
        if (text.trimmed().isEmpty() || !url.isValid())
            return usage(console, QStringLiteral("%1 is not an address").arg(shown(text)));
        urls << url;
    }
    if (const auto why = readProblem())
        return unreadable(console, *why);
    const MachinePolicies::recMachinePolicies policies = MachinePolicies::Read();
    TUrlFilter filter;
    QStringList problems;
    QStringList blocked = policies.BlockedUrls;
    QStringList allowed = policies.AllowedUrls;
    // As that account's browser decides: its own lists and its groups' beside everyone's.
    const QStringList accounts = who.startsWith(QLatin1String("user:"))
                                     ? MachinePolicies::AccountNames(who.mid(5))
                                     : QStringList{who};
    for (const QString &account : accounts) {
        if (account.isEmpty())
            continue;
        blocked << MachinePolicies::ListAccountUrlPatterns(account,
                                                           MachinePolicies::UrlList::Block);
        allowed << MachinePolicies::ListAccountUrlPatterns(account,
                                                           MachinePolicies::UrlList::Allow);
    }
    filter.SetRules(blocked, allowed, &problems);
    for (const QString &problem : problems)
        *console.err << "quelvard-admin: a stored rule is ignored: " << problem << "\n";
    QString listsProblem;
    CategoryLists::Apply(filter, &listsProblem, true);
    if (!listsProblem.isEmpty())
        *console.err << "quelvard-admin: " << listsProblem << "\n";
    for (const QUrl &url : urls) {
        const TUrlFilter::TDecision decision = filter.Decide(url);
        *console.out << (decision.Allowed ? "allowed " : "blocked ") << url.toString() << " ";
        if (!decision.Category.isEmpty())
            *console.out << "by the category " << shown(decision.Category) << "\n";
        else if (!decision.Rule.isEmpty())
            *console.out << "by " << shown(decision.Rule) << "\n";
        else if (!filter.RefusesAll().isEmpty() && !UrlFilter::AlwaysAllowed(url))
            *console.out << "(the compiled lists cannot be used)\n";
        else if (UrlFilter::AlwaysAllowed(url))
            *console.out << "(the program's own pages are always allowed)\n";
        else
            *console.out << "(no rule matches)\n";
    }
    console.out->flush();
    console.err->flush();
    return Success;
}

int urlImport(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    std::optional<bool> allow;
    QString category;
    QStringList paths;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--block") || arg == QLatin1String("--allow")) {
            if (allow)
                return usage(console, QStringLiteral("say --block or --allow once"), sub);
            allow = arg == QLatin1String("--allow");
        } else if (arg == QLatin1String("--category") ||
                   arg.startsWith(QLatin1String("--category="))) {
            if (arg.contains(QLatin1Char('=')))
                category = arg.section(QLatin1Char('='), 1);
            else if (++i >= args.size())
                return usage(console, QStringLiteral("--category needs a name"), sub);
            else
                category = args.at(i);
            if (!CategoryLists::ValidName(category))
                return usage(console,
                             QStringLiteral("%1 is not a category name (lower-case letters, "
                                            "digits, - and _, at most 64)")
                                 .arg(shown(category)),
                             sub);
        } else if (arg == QLatin1String("--")) {
            paths << args.mid(i + 1);
            break;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return usage(console, QStringLiteral("unexpected argument %1").arg(shown(arg)), sub);
        } else {
            paths << arg;
        }
    }
    if (!allow)
        return usage(console, QStringLiteral("urls import needs --block or --allow"), sub);
    if (paths.isEmpty())
        return usage(console, QStringLiteral("urls import needs a folder or a file"), sub);
    if (category.isEmpty())
        category = CategoryLists::NameOf(paths.first());
    if (!CategoryLists::ValidName(category))
        return usage(console, QStringLiteral("name the category with --category"), sub);
    CategoryLists::TRead read;
    for (const QString &path : paths) {
        CategoryLists::ReadSource(path, read);
        if (!read.Error.isEmpty()) {
            *console.err << "quelvard-admin: " << read.Error << "\n";
            console.err->flush();
            return 1;
        }
    }
    if (read.Skipped > 0) {
        *console.err << "quelvard-admin: skipped " << read.Skipped
                     << (read.Skipped == 1 ? " line" : " lines")
                     << " that are neither a host nor a host and path (first at "
                     << read.FirstSkipped.join(QLatin1String(", ")) << ")\n";
        console.err->flush();
    }
    if (read.Entries.isEmpty()) {
        *console.err << "quelvard-admin: nothing to import: no line is a host\n";
        console.err->flush();
        return 1;
    }
    const qsizetype taken = read.Entries.size();
    QString why;
    const int status = write(console, [&] {
        if (!CategoryLists::Save(category, *allow, read.Entries, &why,
                                 paths.size() == 1 ? QFileInfo(paths.first()).absoluteFilePath()
                                                   : QString()))
            throw EQuelvardError(why);
    });
    if (status != Success)
        return status;
    *console.out << "imported " << taken << (taken == 1 ? " entry" : " entries")
                 << " into the category " << category << " (" << (*allow ? "allow" : "block")
                 << ")\n";
    console.out->flush();
    warnIfHomePageBlocked(console);
    return Success;
}

int urlCategories(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    const QString action = args.first();
    if (action == QLatin1String("categories")) {
        if (args.size() != 1)
            return usage(console, QStringLiteral("urls categories takes nothing more"), sub);
        for (const CategoryLists::TStored &stored : CategoryLists::Stored())
            *console.out << stored.Name << " " << (stored.Allow ? "allow" : "block") << " "
                         << stored.Count << "\n";
        console.out->flush();
        return Success;
    }
    if (action == QLatin1String("rebuild")) {
        if (args.size() != 1)
            return usage(console, QStringLiteral("urls rebuild takes nothing more"), sub);
        QString why;
        return write(console, [&] {
            if (!CategoryLists::Rebuild(&why))
                throw EQuelvardError(why);
        });
    }
    if (args.size() != 2)
        return usage(console, QStringLiteral("urls drop-category needs one name"), sub);
    const QString name = args.at(1);
    const QVector<CategoryLists::TStored> stored = CategoryLists::Stored();
    if (!CategoryLists::ValidName(name) ||
        std::none_of(stored.cbegin(), stored.cend(),
                     [&name](const CategoryLists::TStored &one) { return one.Name == name; })) {
        *console.err << "quelvard-admin: there is no category " << shown(name) << "\n";
        console.err->flush();
        return 1;
    }
    QString why;
    const int status = write(console, [&] {
        if (!CategoryLists::Drop(name, &why))
            throw EQuelvardError(why);
    });
    if (status == Success) {
        *console.out << "dropped the category " << name << "\n";
        console.out->flush();
    }
    return status;
}

int urls(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    using MachinePolicies::UrlList;
    if (args.isEmpty())
        return usage(console,
                     QStringLiteral("urls needs block, allow, remove, list, check, import, "
                                    "categories, drop-category or rebuild"),
                     sub);
    const QString action = args.first();
    QStringList items = args.mid(1);
    // --for-user NAME or --for-group NAME: that account's own lists instead of everyone's.
    QString who;
    if (action != QLatin1String("import")) {
        for (qsizetype i = 0; i < items.size(); ++i) {
            QString arg = items.at(i);
            QString name;
            const qsizetype equals = arg.indexOf(QLatin1Char('='));
            if (arg.startsWith(QLatin1String("--for-")) && equals > 0) {
                name = arg.mid(equals + 1);
                arg.truncate(equals);
                items.insert(i + 1, name);
            }
            const bool user = arg == QLatin1String("--for-user");
            if (!user && arg != QLatin1String("--for-group"))
                continue;
            if (i + 1 >= items.size())
                return usage(console, QStringLiteral("%1 needs a name").arg(arg), sub);
            name = items.at(i + 1);
            const QByteArray local = name.toLocal8Bit();
            if (user ? !::getpwnam(local.constData()) : !::getgrnam(local.constData()))
                return usage(console,
                             QStringLiteral("there is no %1 %2")
                                 .arg(user ? QStringLiteral("account") : QStringLiteral("group"),
                                      shown(name)),
                             sub);
            if (!who.isEmpty())
                return usage(console, QStringLiteral("name one account or one group"), sub);
            who = (user ? QStringLiteral("user:") : QStringLiteral("group:")) + name;
            items.remove(i, 2);
            --i;
        }
    }
    const auto listOf = [&who](UrlList list) {
        return who.isEmpty() ? MachinePolicies::ListUrlPatterns(list)
                             : MachinePolicies::ListAccountUrlPatterns(who, list);
    };
    const auto removeFrom = [&who](UrlList list, const QString &pattern, TRegistry &batch) {
        return who.isEmpty() ? MachinePolicies::RemoveUrlPattern(list, pattern, &batch)
                             : MachinePolicies::RemoveAccountUrlPattern(who, list, pattern, &batch);
    };
    if (action == QLatin1String("import"))
        return urlImport(items, console, sub);
    if (action == QLatin1String("categories") || action == QLatin1String("drop-category") ||
        action == QLatin1String("rebuild"))
        return urlCategories(args, console, sub);
    if (action == QLatin1String("list")) {
        if (!items.isEmpty())
            return usage(console, QStringLiteral("urls list takes no pattern"), sub);
        if (const auto why = readProblem())
            return unreadable(console, *why);
        for (const UrlList list : {UrlList::Block, UrlList::Allow}) {
            for (const QString &pattern : listOf(list))
                *console.out << (list == UrlList::Block ? "block " : "allow ") << pattern << "\n";
        }
        console.out->flush();
        return Success;
    }
    const bool known = action == QLatin1String("block") || action == QLatin1String("allow") ||
                       action == QLatin1String("remove") || action == QLatin1String("check");
    if (!known)
        return usage(console, QStringLiteral("unknown urls action %1").arg(shown(action)), sub);
    if (items.isEmpty())
        return usage(console,
                     QStringLiteral("urls %1 needs at least one %2")
                         .arg(action, action == QLatin1String("check") ? "address" : "pattern"),
                     sub);
    if (action == QLatin1String("check"))
        return urlCheck(items, console, who);

    if (action == QLatin1String("remove")) {
        QStringList said;
        const int status = writeBatch(console, [&](TRegistry &batch) {
            for (const QString &pattern : items) {
                QStringList from;
                if (removeFrom(UrlList::Block, pattern, batch))
                    from << QStringLiteral("the block list");
                if (removeFrom(UrlList::Allow, pattern, batch))
                    from << QStringLiteral("the allow list");
                said << (from.isEmpty()
                             ? QStringLiteral("%1 was on neither list").arg(shown(pattern))
                             : QStringLiteral("removed %1 from %2")
                                   .arg(shown(pattern), from.join(QLatin1String(" and "))));
            }
        });
        if (status != Success)
            return status;
        for (const QString &line : said)
            *console.out << line << "\n";
        console.out->flush();
        warnIfHomePageBlocked(console);
        return Success;
    }

    // Every pattern is checked before any is written, so a typo changes nothing.
    for (const QString &pattern : items) {
        QString why;
        if (!UrlFilter::Parse(pattern, &why))
            return usage(console, QStringLiteral("%1 refused: %2").arg(shown(pattern), why));
    }
    const UrlList list = action == QLatin1String("block") ? UrlList::Block : UrlList::Allow;
    const int status = writeBatch(console, [&](TRegistry &batch) {
        for (const QString &pattern : items) {
            if (who.isEmpty())
                MachinePolicies::AddUrlPattern(list, pattern, &batch);
            else
                MachinePolicies::AddAccountUrlPattern(who, list, pattern, &batch);
        }
    });
    if (status == Success && list == UrlList::Block)
        warnIfHomePageBlocked(console);
    return status;
}

int apply(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    bool checkOnly = false;
    QString file;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--check"))
            checkOnly = true;
        else if (file.isEmpty() && (arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))))
            file = arg;
        else
            return usage(console, QStringLiteral("unexpected argument %1").arg(shown(arg)), sub);
    }
    if (file.isEmpty())
        return usage(console, QStringLiteral("apply needs a policy file"), sub);
    const QString named =
        file == QLatin1String("-") ? QStringLiteral("standard input") : shown(file);
    QString problem;
    const auto text = PolicyFile::ReadText(file, &problem);
    if (!text)
        return usage(console, QStringLiteral("%1 %2").arg(named, problem));
    const auto wanted = PolicyFile::Parse(*text, &problem);
    if (!wanted)
        return usage(console, QStringLiteral("%1 refused: %2").arg(named, problem));

    if (const auto why = readProblem())
        return unreadable(console, *why);
    QJsonObject current;
    try {
        current = PolicyFile::FromPolicies(MachinePolicies::Read());
    } catch (const EQuelvardError &error) {
        return keeperUnreadable(console, error.message());
    }
    const QStringList differences = PolicyFile::Differences(current, *wanted);
    if (checkOnly || differences.isEmpty()) {
        for (const QString &line : differences)
            *console.out << line << "\n";
        if (differences.isEmpty())
            *console.out << "unchanged\n";
        console.out->flush();
        return differences.isEmpty() ? Success : WouldChange;
    }
    const int status = write(console, [&] { PolicyFile::Write(current, *wanted); });
    if (status != Success)
        return status;
    *console.out << "changed\n";
    console.out->flush();
    warnIfHomePageBlocked(console);
    return Success;
}

int exportPolicy(TConsole &console)
{
    if (const auto why = readProblem())
        return unreadable(console, *why);
    QStringList problems;
    MachinePolicies::recMachinePolicies policies = MachinePolicies::Read(&problems);
    // A stored pattern the browser ignores is left out, so what export prints, apply takes.
    for (QStringList *patterns : {&policies.BlockedUrls, &policies.AllowedUrls}) {
        patterns->removeIf([&problems](const QString &pattern) {
            QString why;
            if (UrlFilter::Parse(pattern, &why))
                return false;
            problems
                << QStringLiteral("the stored pattern %1 is left out: %2").arg(shown(pattern), why);
            return true;
        });
    }
    QJsonObject settings;
    try {
        settings = PolicyFile::FromPolicies(policies, &problems);
    } catch (const EQuelvardError &error) {
        return keeperUnreadable(console, error.message());
    }
    for (const QString &problem : problems)
        *console.err << "quelvard-admin: " << problem << "\n";
    *console.out << PolicyFile::Text(settings);
    console.out->flush();
    console.err->flush();
    return Success;
}

// A mistyped option (--all-user) is refused by name rather than taken for a site, a name or a
// value. "--" ends the options, so a value may start with "-"; "-" alone is an ordinary
// argument. set-login and apply name what they refuse themselves.
std::optional<int> refuseUnknownOption(const QString &command, const QStringList &args,
                                       TConsole &console, const TSubcommand *sub)
{
    QStringList flags;
    QStringList valued; // take the next argument, or "=VALUE"
    if (command == QLatin1String("status"))
        valued << QStringLiteral("--for-user");
    if (command == QLatin1String("popups") || command == QLatin1String("favorites")) {
        flags << QStringLiteral("--all-users");
        valued << QStringLiteral("--user");
    }
    if (command == QLatin1String("favorites"))
        valued << QStringLiteral("--folder");
    if (command == QLatin1String("urls") && args.value(0) != QLatin1String("import"))
        valued << QStringLiteral("--for-user") << QStringLiteral("--for-group");
    if (command == QLatin1String("urls") && args.value(0) == QLatin1String("import")) {
        flags << QStringLiteral("--block") << QStringLiteral("--allow");
        valued << QStringLiteral("--category");
    }
    const QStringList checked{QStringLiteral("popups"), QStringLiteral("favorites"),
                              QStringLiteral("set"), QStringLiteral("unset"),
                              QStringLiteral("urls")};
    if (!checked.contains(command))
        return std::nullopt;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--"))
            break;
        if (valued.contains(arg)) {
            ++i;
            continue;
        }
        const bool withValue = std::any_of(valued.begin(), valued.end(), [&](const QString &o) {
            return arg.startsWith(o + QLatin1Char('='));
        });
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-") || flags.contains(arg) ||
            withValue)
            continue;
        const QString known = (flags + valued).isEmpty()
                                  ? QStringLiteral("%1 takes no option").arg(command)
                                  : QStringLiteral("%1 takes %2")
                                        .arg(command, (valued + flags).join(QLatin1String(", ")));
        return usage(console,
                     QStringLiteral("unknown option %1 (%2; put -- before a value that starts "
                                    "with \"-\")")
                         .arg(shown(arg), known),
                     sub);
    }
    return std::nullopt;
}

// The settings only a new start of the browser takes, as they are now.
QStringList atStartValues()
{
    QStringList values;
    const MachinePolicies::recMachinePolicies policies = MachinePolicies::Read();
    for (const recSetting &setting : MachinePolicies::Settings()) {
        if (setting.AtStartOnly)
            values << MachinePolicies::ValueOf(setting, policies);
    }
    return values;
}

// After a command that changed the machine's settings: which running browsers take it, and
// which of the settings wait for the next start.
void tellBrowsers(TConsole &console, const QStringList &atStartBefore)
{
    const QStringList atStartAfter = atStartValues();
    int at = 0;
    for (const recSetting &setting : MachinePolicies::Settings()) {
        if (!setting.AtStartOnly)
            continue;
        if (atStartBefore.value(at) != atStartAfter.value(at))
            *console.err << "quelvard-admin: " << setting.Name
                         << ": Takes effect when Quelvard is started again.\n";
        ++at;
    }
    *console.err << "quelvard-admin: " << MachineChange::ToldText(MachineChange::RunningBrowsers())
                 << "\n";
    console.err->flush();
}

int runCommand(const QStringList &arguments, TConsole &console);

} // namespace

int Run(const QStringList &arguments, TConsole &console)
{
    // Only a command that can change what a running browser follows says whom it told, and only
    // when it did change something.
    static const QStringList changing{"set",       "unset", "urls",       "popups",
                                      "favorites", "apply", "time-limit", "schedule"};
    if (arguments.isEmpty() || !changing.contains(arguments.first()))
        return runCommand(arguments, console);
    const QString before = MachineChange::Fingerprint();
    const QStringList atStartBefore = atStartValues();
    const int status = runCommand(arguments, console);
    if (status == Success && MachineChange::Fingerprint() != before)
        tellBrowsers(console, atStartBefore);
    return status;
}

namespace {

int runCommand(const QStringList &arguments, TConsole &console)
{
    if (arguments.isEmpty())
        return usage(console, QStringLiteral("a command is needed"));
    const QString command = arguments.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        *console.out << mainHelp();
        console.out->flush();
        return Success;
    }
    if (command == QLatin1String("--version")) {
        *console.out << "quelvard-admin " << QUELVARD_VERSION << "\n";
        console.out->flush();
        return Success;
    }
    if (const TimeCommands::TCommand *timed = TimeCommands::Find(command)) {
        const QStringList args = arguments.mid(1);
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            *console.out << "Usage: quelvard-admin " << timed->Usage << "\n" << timed->Help;
            console.out->flush();
            return Success;
        }
        return TimeCommands::Run(command, args, console);
    }
    const TSubcommand *sub = findSubcommand(command);
    if (!sub)
        return usage(console, QStringLiteral("unknown command %1").arg(shown(command)));
    QStringList args = arguments.mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        *console.out << "Usage: quelvard-admin " << sub->usage << "\n" << sub->help;
        console.out->flush();
        return Success;
    }
    if (const auto refused = refuseUnknownOption(command, args, console, sub))
        return *refused;
    // Commands that take no option have nothing left to tell "--" from.
    if (command == QLatin1String("set") || command == QLatin1String("unset") ||
        command == QLatin1String("urls"))
        args.removeOne(QStringLiteral("--"));

    if (command == QLatin1String("set-login"))
        return setLogin(args, console, sub);
    if (command == QLatin1String("reset-login")) {
        if (!args.isEmpty())
            return usage(console, QStringLiteral("reset-login takes no argument"), sub);
        return write(console, [] { GenUtilities::RemoveAdminLogin(); });
    }
    if (command == QLatin1String("status")) {
        if (args.size() == 2 && args.first() == QLatin1String("--for-user")) {
            if (const auto why = readProblem())
                return unreadable(console, *why);
            return TimeCommands::AccountStatus(args.at(1), console);
        }
        if (!args.isEmpty())
            return usage(console, QStringLiteral("status takes no argument but --for-user NAME"),
                         sub);
        return status(console);
    }
    if (command == QLatin1String("popups"))
        return popups(args, console, sub);
    if (command == QLatin1String("set"))
        return set(args, console, sub);
    if (command == QLatin1String("urls"))
        return urls(args, console, sub);
    if (command == QLatin1String("apply"))
        return apply(args, console, sub);
    if (command == QLatin1String("export")) {
        if (!args.isEmpty())
            return usage(console, QStringLiteral("export takes no argument"), sub);
        return exportPolicy(console);
    }
    if (command == QLatin1String("favorites"))
        return favorites(args, console, sub);
    // unset
    const recSetting *setting =
        args.size() == 1 ? MachinePolicies::FindSetting(args.first()) : nullptr;
    if (!setting || !setting->Unsettable())
        return usage(
            console,
            QStringLiteral("only %1 can be unset").arg(unsettable().join(QLatin1String(" and "))),
            sub);
    return write(console, [&] { MachinePolicies::Unset(*setting); });
}

} // namespace

} // namespace AdminCommand
