#include "admintool/timecommands.h"

#include "common/errors.h"
#include "common/keeperclient.h"
#include "common/machinepolicies.h"
#include "common/urlfilter.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrl>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace TimeCommands {

using AdminCommand::TConsole;

const TCommand Commands[6] = {
    {"time-limit", "time-limit --for-user NAME|--for-group NAME|--everyone MINUTES|off",
     "Sets how many minutes a day an account may browse (1 to 1440), counted while a\n"
     "Quelvard window of it is shown. An account's own limit beats its groups' (the\n"
     "smallest of them), which beat --everyone's. off removes that limit.\n"},
    {"schedule", "schedule --for-user NAME|--for-group NAME|--everyone SPAN...|off",
     "Sets when an account may browse: each SPAN is days and hours, as\n"
     "\"mon-fri 07:30-20:00\" or \"sat,sun 09:00-21:00\". off removes the schedule.\n"},
    {"time", "time add --for-user NAME MINUTES",
     "Gives an account that many more minutes today.\n"},
    {"usage", "usage [--for-user NAME]",
     "Prints today's and this week's browsing minutes of each account.\n"},
    {"log", "log [--for-user NAME] [--since DATE|HOURSh] [--json]",
     "Prints what the browsers refused (with set log blocked or full), newest last;\n"
     "--since takes a date (2026-12-01), a date and time, or hours back (2h); --json\n"
     "prints one object a line.\n"},
    {"requests", "requests [--all] | requests allow N | requests deny N",
     "Lists the open requests to open a blocked page, each with its number (--all also\n"
     "the answered ones); allow N lets that page's host through for every user, deny N\n"
     "refuses the request.\n"},
};

const TCommand *Find(const QString &name)
{
    for (const TCommand &command : Commands) {
        if (name == QLatin1String(command.Name))
            return &command;
    }
    return nullptr;
}

namespace {

int usage(TConsole &console, const TCommand &command, const QString &message)
{
    *console.err << "quelvard-admin: " << message << "\n"
                 << "Usage: quelvard-admin " << command.Usage << "\n";
    console.err->flush();
    return AdminCommand::Usage;
}

int fail(TConsole &console, const QString &message, int status)
{
    *console.err << "quelvard-admin: " << message << "\n";
    console.err->flush();
    return status;
}

// One request to the keeper; an error answer is printed and gives the exit status.
std::optional<QJsonObject> ask(TConsole &console, const QJsonObject &request, int *status)
{
    bool reached = false;
    const QJsonObject answer = KeeperClient::Call(request, &reached);
    if (answer.value(QStringLiteral("ok")).toBool())
        return answer;
    const QString error = answer.value(QStringLiteral("error")).toString();
    *status = fail(console,
                   reached ? error
                           : QStringLiteral("%1; it is started by systemctl start "
                                            "quelvard-keeper.socket")
                                 .arg(error),
                   reached ? AdminCommand::Usage : AdminCommand::Unreadable);
    return std::nullopt;
}

bool accountExists(const QString &name)
{
    return ::getpwnam(name.toLocal8Bit().constData()) != nullptr;
}

// The "who" of a rule from --for-user NAME, --for-group NAME or --everyone, taken out of
// `args`; empty with `problem` set when there is none or the account is unknown.
QString takeWho(QStringList &args, QString *problem, bool usersOnly = false)
{
    QString who;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        QString value;
        QString kind;
        if ((arg == QLatin1String("--for-user") || arg == QLatin1String("--for-group")) &&
            i + 1 < args.size()) {
            kind = arg.mid(6);
            value = args.at(i + 1);
            args.remove(i, 2);
        } else if (arg.startsWith(QLatin1String("--for-user=")) ||
                   arg.startsWith(QLatin1String("--for-group="))) {
            kind = arg.mid(6, arg.indexOf(QLatin1Char('=')) - 6);
            value = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            args.removeAt(i);
        } else if (arg == QLatin1String("--everyone") && !usersOnly) {
            kind = QStringLiteral("everyone");
            args.removeAt(i);
        } else {
            continue;
        }
        --i;
        if (!who.isEmpty()) {
            *problem = QStringLiteral("name one account, one group or everyone");
            return QString();
        }
        if (kind == QLatin1String("everyone")) {
            who = kind;
        } else if (kind == QLatin1String("group") && usersOnly) {
            *problem = QStringLiteral("extra time is given to one account (--for-user NAME)");
            return QString();
        } else if (kind == QLatin1String("user")) {
            if (!accountExists(value)) {
                *problem = QStringLiteral("there is no account %1").arg(value);
                return QString();
            }
            who = QStringLiteral("user:") + value;
        } else {
            if (!::getgrnam(value.toLocal8Bit().constData())) {
                *problem = QStringLiteral("there is no group %1").arg(value);
                return QString();
            }
            who = QStringLiteral("group:") + value;
        }
    }
    if (who.isEmpty() && problem->isEmpty())
        *problem = usersOnly ? QStringLiteral("name the account: --for-user NAME")
                             : QStringLiteral("name the account (--for-user NAME), the group "
                                              "(--for-group NAME) or --everyone");
    return who;
}

std::optional<int> minutesOf(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,3}$"));
    if (!digits.match(text).hasMatch() || text.toInt() > 24 * 60)
        return std::nullopt;
    return text.toInt();
}

// After a rule changed: the machine store notes whether the keeper holds any, so browsers of
// accounts without rules never ask it.
int noteRules(TConsole &console)
{
    int status = AdminCommand::Success;
    const auto rules = ask(console, {{QStringLiteral("op"), QStringLiteral("rules")}}, &status);
    if (!rules)
        return status;
    const bool any = !rules->value(QStringLiteral("limits")).toArray().isEmpty() ||
                     !rules->value(QStringLiteral("schedules")).toArray().isEmpty();
    try {
        MachinePolicies::SetTimeRules(any);
    } catch (const EQuelvardError &error) {
        return fail(console, error.message(), AdminCommand::NotPermitted);
    }
    *console.out << "changed\n";
    console.out->flush();
    return AdminCommand::Success;
}

int needsRoot(TConsole &console)
{
    return fail(console,
                QStringLiteral("only root may change or read what the time keeper holds; "
                               "run as root"),
                AdminCommand::NotPermitted);
}

QString minutesText(int minutes)
{
    return minutes < 60 ? QStringLiteral("%1 min").arg(minutes)
                        : QStringLiteral("%1 h %2 min")
                              .arg(minutes / 60)
                              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

int timeLimit(QStringList args, TConsole &console, const TCommand &command)
{
    QString problem;
    const QString who = takeWho(args, &problem);
    if (who.isEmpty())
        return usage(console, command, problem);
    if (args.size() != 1)
        return usage(console, command, QStringLiteral("give MINUTES or off"));
    const std::optional<int> minutes =
        args.first() == QLatin1String("off") ? std::optional<int>(0) : minutesOf(args.first());
    if (!minutes)
        return usage(console, command,
                     QStringLiteral("\"%1\" is not off or a number of minutes from 1 to 1440")
                         .arg(args.first()));
    int status = AdminCommand::Success;
    if (!ask(console,
             {{QStringLiteral("op"), QStringLiteral("set-limit")},
              {QStringLiteral("who"), who},
              {QStringLiteral("minutes"), *minutes}},
             &status))
        return status;
    return noteRules(console);
}

int schedule(QStringList args, TConsole &console, const TCommand &command)
{
    QString problem;
    const QString who = takeWho(args, &problem);
    if (who.isEmpty())
        return usage(console, command, problem);
    args.removeOne(QStringLiteral("--"));
    if (args.isEmpty())
        return usage(console, command, QStringLiteral("give the spans, or off"));
    const QStringList spans = args == QStringList{QStringLiteral("off")} ? QStringList() : args;
    int status = AdminCommand::Success;
    if (!ask(console,
             {{QStringLiteral("op"), QStringLiteral("set-schedule")},
              {QStringLiteral("who"), who},
              {QStringLiteral("spans"), QJsonArray::fromStringList(spans)}},
             &status))
        return status;
    return noteRules(console);
}

int timeAdd(QStringList args, TConsole &console, const TCommand &command)
{
    if (args.value(0) != QLatin1String("add"))
        return usage(console, command, QStringLiteral("the time command is: time add"));
    args.removeFirst();
    QString problem;
    const QString who = takeWho(args, &problem, true);
    if (who.isEmpty())
        return usage(console, command, problem);
    const std::optional<int> minutes = args.size() == 1 ? minutesOf(args.first()) : std::nullopt;
    if (!minutes)
        return usage(console, command, QStringLiteral("give a number of minutes from 1 to 1440"));
    int status = AdminCommand::Success;
    if (!ask(console,
             {{QStringLiteral("op"), QStringLiteral("add-time")},
              {QStringLiteral("user"), who.mid(5)},
              {QStringLiteral("minutes"), *minutes}},
             &status))
        return status;
    *console.out << "changed\n";
    console.out->flush();
    return AdminCommand::Success;
}

int usageOf(QStringList args, TConsole &console, const TCommand &command)
{
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("usage")}};
    if (!args.isEmpty()) {
        QString problem;
        const QString who = takeWho(args, &problem, true);
        if (who.isEmpty() || !args.isEmpty())
            return usage(console, command,
                         problem.isEmpty() ? QStringLiteral("unknown argument") : problem);
        request.insert(QStringLiteral("user"), who.mid(5));
    }
    int status = AdminCommand::Success;
    const auto answer = ask(console, request, &status);
    if (!answer)
        return status;
    const QJsonArray accounts = answer->value(QStringLiteral("accounts")).toArray();
    if (accounts.isEmpty())
        *console.out << "no browsing counted\n";
    for (const QJsonValue &value : accounts) {
        const QJsonObject account = value.toObject();
        *console.out << account.value(QStringLiteral("user")).toString() << ": today "
                     << minutesText(account.value(QStringLiteral("today")).toInt())
                     << ", this week " << minutesText(account.value(QStringLiteral("week")).toInt())
                     << "\n";
    }
    console.out->flush();
    return AdminCommand::Success;
}

// "2h", a date or a date and time, as the keeper's ISO form; empty when it is none of them.
QString sinceOf(const QString &text)
{
    static const QRegularExpression hours(QStringLiteral("^([1-9][0-9]{0,4})h$"));
    const QRegularExpressionMatch back = hours.match(text);
    if (back.hasMatch())
        return QDateTime::currentDateTime()
            .addSecs(-3600LL * back.captured(1).toLongLong())
            .toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
    QDateTime when = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm"));
    if (!when.isValid())
        when = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm"));
    if (!when.isValid()) {
        const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (day.isValid())
            when = day.startOfDay();
    }
    return when.isValid() ? when.toString(QStringLiteral("yyyy-MM-ddTHH:mm")) : QString();
}

// Text from the keeper, which a page may have written, with nothing the terminal would obey.
QString printable(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return text;
}

int log(QStringList args, TConsole &console, const TCommand &command)
{
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("read-log")}};
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--since") && i + 1 < args.size()) {
            const QString since = sinceOf(args.at(i + 1));
            if (since.isEmpty())
                return usage(console, command,
                             QStringLiteral("\"%1\" is not a date, a date and time or a number "
                                            "of hours (2h)")
                                 .arg(args.at(i + 1)));
            request.insert(QStringLiteral("since"), since);
            args.remove(i, 2);
            --i;
        }
    }
    if (args.contains(QLatin1String("--for-user")) ||
        std::any_of(args.begin(), args.end(),
                    [](const QString &a) { return a.startsWith(QLatin1String("--for-user=")); })) {
        QString problem;
        const QString who = takeWho(args, &problem, true);
        if (who.isEmpty())
            return usage(console, command, problem);
        request.insert(QStringLiteral("user"), who.mid(5));
    }
    if (!args.isEmpty())
        return usage(console, command, QStringLiteral("unknown argument %1").arg(args.first()));
    for (;;) {
        int status = AdminCommand::Success;
        const auto answer = ask(console, request, &status);
        if (!answer)
            return status;
        const QJsonArray entries = answer->value(QStringLiteral("entries")).toArray();
        for (const QJsonValue &value : entries) {
            const QJsonObject entry = value.toObject();
            if (json) {
                QJsonObject line = entry;
                line.remove(QStringLiteral("id"));
                *console.out << QJsonDocument(line).toJson(QJsonDocument::Compact) << "\n";
                continue;
            }
            const QString rule = entry.value(QStringLiteral("rule")).toString();
            *console.out << entry.value(QStringLiteral("at"))
                                .toString()
                                .replace(QLatin1Char('T'), QLatin1Char(' '))
                         << "  " << printable(entry.value(QStringLiteral("user")).toString())
                         << "  " << printable(entry.value(QStringLiteral("kind")).toString())
                         << "  " << printable(entry.value(QStringLiteral("address")).toString())
                         << (rule.isEmpty() ? QString()
                                            : QStringLiteral("  (%1)").arg(printable(rule)))
                         << "\n";
        }
        if (!answer->value(QStringLiteral("more")).toBool() || entries.isEmpty())
            break;
        request.insert(QStringLiteral("after"),
                       entries.last().toObject().value(QStringLiteral("id")));
    }
    console.out->flush();
    return AdminCommand::Success;
}

int requests(QStringList args, TConsole &console, const TCommand &command)
{
    const QString action = args.value(0);
    if (action == QLatin1String("allow") || action == QLatin1String("deny")) {
        args.removeFirst();
        args.removeAll(QStringLiteral("--everyone"));
        bool number = false;
        const int id = args.size() == 1 ? args.first().toInt(&number) : 0;
        if (!number || id <= 0)
            return usage(console, command, QStringLiteral("give the request's number"));
        int status = AdminCommand::Success;
        const auto answer = ask(console,
                                {{QStringLiteral("op"), QStringLiteral("answer")},
                                 {QStringLiteral("id"), id},
                                 {QStringLiteral("allow"), action == QLatin1String("allow")}},
                                &status);
        if (!answer)
            return status;
        if (action == QLatin1String("allow")) {
            const QUrl address(answer->value(QStringLiteral("address")).toString());
            const QString host = address.host(QUrl::FullyEncoded);
            if (host.isEmpty())
                return fail(console, QStringLiteral("the request names no host to allow"),
                            AdminCommand::Usage);
            try {
                MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Allow, host);
            } catch (const EQuelvardError &error) {
                return fail(console, error.message(), AdminCommand::NotPermitted);
            }
            *console.out << "allowed " << host << "\n";
        } else {
            *console.out << "refused\n";
        }
        console.out->flush();
        return AdminCommand::Success;
    }
    const bool all = args.removeAll(QStringLiteral("--all")) > 0;
    if (!args.isEmpty())
        return usage(console, command, QStringLiteral("unknown argument %1").arg(args.first()));
    int status = AdminCommand::Success;
    const auto answer = ask(
        console, {{QStringLiteral("op"), QStringLiteral("requests")}, {QStringLiteral("all"), all}},
        &status);
    if (!answer)
        return status;
    const QJsonArray listed = answer->value(QStringLiteral("requests")).toArray();
    if (listed.isEmpty())
        *console.out << (all ? "no requests\n" : "no open requests\n");
    for (const QJsonValue &value : listed) {
        const QJsonObject request = value.toObject();
        const QString reason = request.value(QStringLiteral("reason")).toString();
        *console.out << request.value(QStringLiteral("id")).toInt() << "  "
                     << request.value(QStringLiteral("at"))
                            .toString()
                            .replace(QLatin1Char('T'), QLatin1Char(' '))
                     << "  " << printable(request.value(QStringLiteral("user")).toString()) << "  "
                     << printable(request.value(QStringLiteral("address")).toString());
        if (all)
            *console.out << "  " << request.value(QStringLiteral("state")).toString();
        if (!reason.isEmpty())
            *console.out << "  \"" << printable(reason) << "\"";
        *console.out << "\n";
    }
    console.out->flush();
    return AdminCommand::Success;
}

} // namespace

QString RulesText()
{
    bool reached = false;
    const QJsonObject rules =
        KeeperClient::Call({{QStringLiteral("op"), QStringLiteral("rules")}}, &reached);
    if (!rules.value(QStringLiteral("ok")).toBool())
        return QStringLiteral("time limits: unknown (%1)\n")
            .arg(rules.value(QStringLiteral("error")).toString());
    QMap<QString, QStringList> byWho;
    for (const QJsonValue &value : rules.value(QStringLiteral("limits")).toArray())
        byWho[value.toObject().value(QStringLiteral("who")).toString()]
            << minutesText(value.toObject().value(QStringLiteral("minutes")).toInt()) +
                   QStringLiteral(" a day");
    for (const QJsonValue &value : rules.value(QStringLiteral("schedules")).toArray())
        byWho[value.toObject().value(QStringLiteral("who")).toString()]
            << QStringLiteral("from ") + value.toObject()
                                             .value(QStringLiteral("spans"))
                                             .toVariant()
                                             .toStringList()
                                             .join(QLatin1String(", "));
    QString text;
    for (auto it = byWho.begin(); it != byWho.end(); ++it) {
        QString who = it.key();
        who.replace(QLatin1Char(':'), QLatin1Char(' '));
        text += QStringLiteral("time limit for %1: %2\n")
                    .arg(who, it.value().join(QLatin1String("; ")));
    }
    return text;
}

int AccountStatus(const QString &user, TConsole &console)
{
    if (!accountExists(user))
        return fail(console, QStringLiteral("there is no account %1").arg(user),
                    AdminCommand::Usage);
    using MachinePolicies::UrlList;
    const QStringList names = MachinePolicies::AccountNames(user);
    QTextStream &out = *console.out;
    out << "account: " << user << "\n";
    const QStringList withLists = MachinePolicies::AccountsWithLists();
    for (const UrlList list : {UrlList::Block, UrlList::Allow}) {
        QStringList lines;
        for (const QString &pattern : MachinePolicies::ListUrlPatterns(list))
            lines << pattern + QStringLiteral(" (everyone)");
        for (const QString &who : names) {
            if (!withLists.contains(who))
                continue;
            for (const QString &pattern : MachinePolicies::ListAccountUrlPatterns(who, list))
                lines << QStringLiteral("%1 (%2)").arg(pattern, QString(who).replace(':', ' '));
        }
        out << (list == UrlList::Block ? "blocked addresses: " : "allowed addresses: ")
            << (lines.isEmpty() ? QStringLiteral("none") : lines.join(QLatin1String(", "))) << "\n";
    }
    // Which rule holds: the account's own, else its groups' (the smallest budget; every
    // group's schedule), else everyone's; as the keeper decides.
    QString limit = QStringLiteral("none");
    QString schedule = QStringLiteral("none");
    if (MachinePolicies::Read().TimeRules) {
        int status = AdminCommand::Success;
        const auto rules = ask(console, {{QStringLiteral("op"), QStringLiteral("rules")}}, &status);
        if (!rules)
            return status;
        const auto pick = [&names](const QJsonArray &rows, const QString &field) {
            QStringList found;
            for (const QString &level :
                 {QStringLiteral("user:"), QStringLiteral("group:"), QStringLiteral("everyone")}) {
                for (const QJsonValue &row : rows) {
                    const QString who = row.toObject().value(QStringLiteral("who")).toString();
                    if (!(who.startsWith(level) && (who == level || names.contains(who))))
                        continue;
                    const QJsonValue value = row.toObject().value(field);
                    found << (value.isArray()
                                  ? value.toVariant().toStringList().join(QLatin1String(", "))
                                  : minutesText(value.toInt()) + QStringLiteral(" a day")) +
                                 QStringLiteral(" (%1)").arg(QString(who).replace(':', ' '));
                }
                if (!found.isEmpty())
                    break;
            }
            return found;
        };
        const QStringList limits =
            pick(rules->value(QStringLiteral("limits")).toArray(), QStringLiteral("minutes"));
        const QStringList schedules =
            pick(rules->value(QStringLiteral("schedules")).toArray(), QStringLiteral("spans"));
        if (!limits.isEmpty())
            limit = limits.size() == 1
                        ? limits.first()
                        : QStringLiteral("the smallest of ") + limits.join(QLatin1String("; "));
        if (!schedules.isEmpty())
            schedule = schedules.size() == 1
                           ? schedules.first()
                           : QStringLiteral("each of ") + schedules.join(QLatin1String("; "));
    }
    out << "time limit: " << limit << "\n"
        << "schedule: " << schedule << "\n";
    out.flush();
    return AdminCommand::Success;
}

int Run(const QString &name, const QStringList &args, TConsole &console)
{
    const TCommand &command = *Find(name);
    if (::geteuid() != 0)
        return needsRoot(console);
    if (name == QLatin1String("time-limit"))
        return timeLimit(args, console, command);
    if (name == QLatin1String("schedule"))
        return schedule(args, console, command);
    if (name == QLatin1String("time"))
        return timeAdd(args, console, command);
    if (name == QLatin1String("usage"))
        return usageOf(args, console, command);
    if (name == QLatin1String("log"))
        return log(args, console, command);
    return requests(args, console, command);
}

} // namespace TimeCommands
