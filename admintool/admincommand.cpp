#include "admintool/admincommand.h"

#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/loginrules.h"
#include "common/machinepolicies.h"
#include "common/registry.h"

#include <QTextStream>

namespace AdminCommand {

namespace {

const char *const MainHelp =
    "Usage: quelvard-admin COMMAND [ARGUMENTS]\n"
    "Sets the Quelvard administrator login and the settings every user of this machine gets.\n"
    "\n"
    "Commands:\n"
    "  set-login [--stdin]          set the administrator password and reminders\n"
    "  reset-login                  remove the administrator login\n"
    "  status                       show whether a login is set and every machine setting\n"
    "  popups allow DOMAIN...       allow sites to open popups for every user\n"
    "  popups remove DOMAIN...      stop allowing them\n"
    "  popups list                  list the sites allowed for every user\n"
    "  set home-page URL            the home page of every user\n"
    "  unset home-page              back to the built-in start page\n"
    "  set browsing-data keep|forget  keep cookies and site data between runs, or not\n"
    "  set downloads allow|forbid   let pages save files into each user's Downloads, or not\n"
    "\n"
    "Run 'quelvard-admin COMMAND --help' for one command.\n"
    "Exit status: 0 done, 1 wrong usage or value, 2 not permitted, 3 store unreadable.\n";

struct TSubcommand
{
    QString name;
    QString usage;
    QString help;
};

const TSubcommand Subcommands[] = {
    {QStringLiteral("set-login"), QStringLiteral("set-login [--stdin]"),
     QStringLiteral(
         "Asks twice for the new administrator password (not shown as typed), then for two\n"
         "optional reminder questions and their answers. With --stdin, reads them from\n"
         "standard input instead, one per line: password, confirmation, question 1,\n"
         "answer 1, question 2, answer 2 (missing trailing lines are empty).\n")},
    {QStringLiteral("reset-login"), QStringLiteral("reset-login"),
     QStringLiteral("Removes the administrator login: the next start of Quelvard asks for a new\n"
                    "one from whoever may write the machine store.\n")},
    {QStringLiteral("status"), QStringLiteral("status"),
     QStringLiteral("Shows whether a login is set (never the password), each machine-wide\n"
                    "setting and the paths of the machine store and the companion file.\n")},
    {QStringLiteral("popups"), QStringLiteral("popups allow|remove DOMAIN... | popups list"),
     QStringLiteral("Edits the sites that may open popups for every user. A site is a host name\n"
                    "with an optional port (www.example.org, intranet:8080), stored trimmed and\n"
                    "in lower case.\n")},
    {QStringLiteral("set"),
     QStringLiteral("set home-page URL | set browsing-data keep|forget | "
                    "set downloads allow|forbid"),
     QStringLiteral("home-page: an http, https, file or quelvard address shown at start and by\n"
                    "the Home button. browsing-data keep: cookies, site storage and the cache\n"
                    "survive restarts; forget: nothing of a page outlives the run.\n"
                    "downloads allow: a file a page offers is saved into the user's Downloads\n"
                    "folder; forbid: it is refused and nothing is written.\n")},
    {QStringLiteral("unset"), QStringLiteral("unset home-page"),
     QStringLiteral("Returns to the built-in start page.\n")},
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

int notPermitted(TConsole &console, const QString &why)
{
    *console.err << "quelvard-admin: cannot write " << machineHive() << ": " << why
                 << "; run as root\n";
    console.err->flush();
    return NotPermitted;
}

int unreadable(TConsole &console, const QString &why)
{
    *console.err << "quelvard-admin: cannot read " << machineHive() << ": " << why << "\n";
    console.err->flush();
    return Unreadable;
}

// The store must read before anything is written, so a damaged file is never touched and
// is reported as what it is rather than as a missing permission.
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

int setLogin(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    bool fromStdin = false;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--stdin"))
            fromStdin = true;
        else
            return usage(console, QStringLiteral("unexpected argument \"%1\"").arg(arg), sub);
    }
    if (const auto why = readProblem())
        return unreadable(console, *why);

    QString lines[6];
    if (fromStdin) {
        for (QString &line : lines) {
            if (!console.readLine(line))
                break;
        }
    } else {
        const struct
        {
            const char *prompt;
            bool secret;
        } prompts[] = {
            {"New administrator password: ", true},
            {"Confirm the password: ", true},
            {"First reminder question (empty for none): ", false},
            {"Its answer: ", true},
            {"Second reminder question (empty for none): ", false},
            {"Its answer: ", true},
        };
        for (int i = 0; i < 6; ++i) {
            // No answer is asked for a question left empty.
            if ((i == 3 || i == 5) && lines[i - 1].trimmed().isEmpty())
                continue;
            if (!console.ask(QString::fromLatin1(prompts[i].prompt), prompts[i].secret, lines[i]))
                break;
        }
    }

    recAdminLogin login{lines[0], lines[2], lines[3], lines[4], lines[5]};
    QString confirmation = lines[1];
    const LoginRules::NewLoginCheck check = LoginRules::CheckNewLogin(login, confirmation);
    if (check != LoginRules::NewLoginCheck::Accepted) {
        *console.err << "quelvard-admin: " << LoginRules::Message(check) << "\n";
        console.err->flush();
        return Usage;
    }
    if (!GenUtilities::SaveAdminLogin(login))
        return notPermitted(console, QStringLiteral("the login was not saved"));
    return Success;
}

int status(TConsole &console)
{
    if (const auto why = readProblem())
        return unreadable(console, *why);
    recAdminLogin login;
    GenUtilities::LoadAdminLogin(login, false);
    QStringList problems;
    const MachinePolicies::recMachinePolicies policies = MachinePolicies::Read(&problems);
    for (const QString &problem : problems)
        *console.err << "quelvard-admin: " << problem << "\n";

    QTextStream &out = *console.out;
    out << "login set: " << (login.Password.isEmpty() ? "no" : "yes") << "\n";
    out << "home page: "
        << (policies.HomePage.isEmpty() ? QStringLiteral("(the built-in start page)")
                                        : policies.HomePage)
        << "\n";
    out << "browsing data: " << MachinePolicies::BrowsingDataName(policies.browsingData) << "\n";
    out << "downloads: " << MachinePolicies::DownloadsName(policies.downloads) << "\n";
    out << "popups allowed for everyone: "
        << (policies.AllowedSites.isEmpty() ? QStringLiteral("(none)")
                                            : policies.AllowedSites.join(QLatin1Char(' ')))
        << "\n";
    out << "machine store: " << machineHive() << "\n";
    out << "companion file: " << GenUtilities::GetCompanionSettingsFile() << "\n";
    out.flush();
    console.err->flush();
    return Success;
}

int popups(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    if (args.isEmpty())
        return usage(console, QStringLiteral("popups needs allow, remove or list"), sub);
    const QString action = args.first();
    const QStringList names = args.mid(1);
    if (action == QLatin1String("list")) {
        if (!names.isEmpty())
            return usage(console, QStringLiteral("popups list takes no argument"), sub);
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
        return usage(console, QStringLiteral("unknown popups action \"%1\"").arg(action), sub);
    if (names.isEmpty())
        return usage(console, QStringLiteral("popups %1 needs at least one site").arg(action), sub);

    // Every name is checked before any is written, so a typo changes nothing.
    QStringList sites;
    for (const QString &name : names) {
        QString why;
        const auto site = MachinePolicies::NormaliseSite(name, &why);
        if (!site)
            return usage(console, QStringLiteral("\"%1\" refused: %2").arg(name, why));
        sites << *site;
    }
    return write(console, [&] {
        for (const QString &site : sites) {
            if (action == QLatin1String("allow"))
                MachinePolicies::AllowSite(site);
            else if (!MachinePolicies::RemoveSite(site))
                *console.err << "quelvard-admin: \"" << site << "\" was not on the list\n";
        }
    });
}

int set(const QStringList &args, TConsole &console, const TSubcommand *sub)
{
    if (args.size() != 2)
        return usage(console, QStringLiteral("set needs a setting and a value"), sub);
    const QString &value = args.at(1);
    if (args.first() == QLatin1String("home-page")) {
        if (const auto why = MachinePolicies::HomePageProblem(value))
            return usage(console, QStringLiteral("\"%1\" refused: %2").arg(value, *why));
        return write(console, [&] { MachinePolicies::SetHomePage(value); });
    }
    if (args.first() == QLatin1String("browsing-data")) {
        const auto parsed = MachinePolicies::ParseBrowsingData(value);
        if (!parsed)
            return usage(console,
                         QStringLiteral("browsing-data is keep or forget, not \"%1\"").arg(value),
                         sub);
        return write(console, [&] { MachinePolicies::SetBrowsingData(*parsed); });
    }
    if (args.first() == QLatin1String("downloads")) {
        const auto parsed = MachinePolicies::ParseDownloads(value);
        if (!parsed)
            return usage(console,
                         QStringLiteral("downloads is allow or forbid, not \"%1\"").arg(value),
                         sub);
        return write(console, [&] { MachinePolicies::SetDownloads(*parsed); });
    }
    return usage(console, QStringLiteral("unknown setting \"%1\"").arg(args.first()), sub);
}

} // namespace

int Run(const QStringList &arguments, TConsole &console)
{
    if (arguments.isEmpty())
        return usage(console, QStringLiteral("a command is needed"));
    const QString command = arguments.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        *console.out << MainHelp;
        console.out->flush();
        return Success;
    }
    const TSubcommand *sub = findSubcommand(command);
    if (!sub)
        return usage(console, QStringLiteral("unknown command \"%1\"").arg(command));
    const QStringList args = arguments.mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        *console.out << "Usage: quelvard-admin " << sub->usage << "\n" << sub->help;
        console.out->flush();
        return Success;
    }

    if (command == QLatin1String("set-login"))
        return setLogin(args, console, sub);
    if (command == QLatin1String("reset-login")) {
        if (!args.isEmpty())
            return usage(console, QStringLiteral("reset-login takes no argument"), sub);
        return write(console, [] { GenUtilities::RemoveAdminLogin(); });
    }
    if (command == QLatin1String("status")) {
        if (!args.isEmpty())
            return usage(console, QStringLiteral("status takes no argument"), sub);
        return status(console);
    }
    if (command == QLatin1String("popups"))
        return popups(args, console, sub);
    if (command == QLatin1String("set"))
        return set(args, console, sub);
    // unset
    if (args != QStringList{QStringLiteral("home-page")})
        return usage(console, QStringLiteral("only home-page can be unset"), sub);
    return write(console, [] { MachinePolicies::UnsetHomePage(); });
}

} // namespace AdminCommand
