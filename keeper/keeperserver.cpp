#include "keeper/keeperserver.h"

#include "common/errors.h"
#include "common/timerules.h"
#include "keeper/keeperstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int MaxAddress = 2048;
constexpr int MaxRule = 256;
constexpr int MaxReason = 200;
constexpr int MaxOpenRequests = 20;
constexpr int MaxListed = 500;
// Room left in a message for what wraps the entries of a listing.
constexpr int ListingBytes = KeeperProtocol::MaxMessage - 4096;
constexpr int LogDays = 90;
constexpr qint64 MaxLogEntries = 1000000;
constexpr int PruneEvery = 1000;
// A week of usage is the longest look back; a second week covers a clock set back a little.
constexpr int UsageDays = 14;

constexpr int MaxConnections = 64;
constexpr int MaxMessagesPerSecond = 100;
constexpr qint64 PartialMessageMs = 10000;
constexpr qint64 IdleConnectionMs = 60000;
// A client that never reads its answers is not allowed to fill the keeper's memory.
constexpr qint64 MaxUnsentBytes = 4 * KeeperProtocol::MaxMessage;

const QString TimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm");

class EBadRequest : public EQuelvardError
{
public:
    using EQuelvardError::EQuelvardError;
};

QString keeperTime(const QDateTime &time)
{
    return time.isValid() ? time.toString(TimeFormat) : QString();
}

QString needString(const QJsonObject &request, const QString &key)
{
    const QJsonValue value = request.value(key);
    if (!value.isString())
        throw EBadRequest(QStringLiteral("\"%1\" must be a string").arg(key));
    return value.toString();
}

QString optionalString(const QJsonObject &request, const QString &key)
{
    return request.contains(key) ? needString(request, key) : QString();
}

bool optionalBool(const QJsonObject &request, const QString &key)
{
    const QJsonValue value = request.value(key);
    if (value.isUndefined())
        return false;
    if (!value.isBool())
        throw EBadRequest(QStringLiteral("\"%1\" must be true or false").arg(key));
    return value.toBool();
}

bool needBool(const QJsonObject &request, const QString &key)
{
    if (!request.contains(key))
        throw EBadRequest(QStringLiteral("\"%1\" must be true or false").arg(key));
    return optionalBool(request, key);
}

qint64 needInteger(const QJsonObject &request, const QString &key, qint64 least, qint64 most)
{
    const QJsonValue value = request.value(key);
    const double number = value.toDouble();
    // The range comes first: a number past any integer cannot be converted to one.
    if (!value.isDouble() || !(number >= double(least) && number <= double(most)) ||
        number != std::floor(number))
        throw EBadRequest(QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                              .arg(key)
                              .arg(least)
                              .arg(most));
    return qint64(number);
}

// "user:NAME", "group:NAME" or "everyone".
QString needWho(const QJsonObject &request)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(everyone|(user|group):[^\\s:\\x00-\\x1f\\x7f]{1,64})$"));
    const QString who = needString(request, QStringLiteral("who"));
    if (!pattern.match(who).hasMatch())
        throw EBadRequest(
            QStringLiteral("\"who\" must be user:NAME, group:NAME or everyone, not \"%1\"")
                .arg(who.left(80)));
    return who;
}

QString needAccountName(const QJsonObject &request, const QString &key)
{
    const QString name = needString(request, key);
    if (name.isEmpty() || name.size() > 64)
        throw EBadRequest(QStringLiteral("\"%1\" must name an account").arg(key));
    return name;
}

// Adds rows while the answer still fits in one message; false once one no longer does.
bool fits(qsizetype *used, const QJsonObject &row)
{
    *used += QJsonDocument(row).toJson(QJsonDocument::Compact).size() + 1;
    return *used <= ListingBytes;
}

QJsonObject ok(QJsonObject answer = {})
{
    answer.insert(QStringLiteral("ok"), true);
    return answer;
}

QJsonObject requestRow(const TKeeperStore::TRequest &request)
{
    return {
        {QStringLiteral("id"), request.Id},           {QStringLiteral("user"), request.User},
        {QStringLiteral("address"), request.Address}, {QStringLiteral("reason"), request.Reason},
        {QStringLiteral("at"), request.At},           {QStringLiteral("state"), request.State}};
}

} // namespace

TKeeperClock::TKeeperClock()
{
    m_elapsed.start();
}

TKeeperClock::TKeeperClock(const QDateTime &start, int minuteMs)
    : m_real(false), m_start(QDateTime(start.date(), start.time(), Qt::UTC)),
      m_minuteMs(qMax(1, minuteMs))
{
    // Held as UTC so a fast day never meets a change to summer time.
    m_elapsed.start();
}

QDateTime TKeeperClock::Now() const
{
    if (m_real)
        return QDateTime::currentDateTime();
    return m_start.addMSecs(m_elapsed.elapsed() * 60000 / m_minuteMs);
}

struct TKeeperDispatcher::TRule
{
    std::optional<int> Budget;
    TSchedule Schedule;
};

TKeeperDispatcher::TKeeperDispatcher(TKeeperStore &store, const TKeeperClock &clock,
                                     std::function<void(const QString &)> syslogLine)
    : m_store(store), m_clock(clock), m_syslogLine(std::move(syslogLine))
{
    prune();
}

void TKeeperDispatcher::prune()
{
    const QDateTime now = m_clock.Now();
    m_store.Prune(keeperTime(now.addDays(-LogDays)), MaxLogEntries, now.date().addDays(-UsageDays));
    m_insertsSincePrune = 0;
}

QJsonObject TKeeperDispatcher::Answer(const TKeeperCaller &caller, const QJsonObject &request)
{
    const QJsonValue opValue = request.value(QStringLiteral("op"));
    if (!opValue.isString())
        return KeeperProtocol::Error(QStringLiteral("\"op\" must be a string"));
    const QString op = opValue.toString();
    try {
        if (op == QLatin1String("status"))
            return status(caller, false);
        if (op == QLatin1String("tick"))
            return status(caller, optionalBool(request, QStringLiteral("shown")));
        if (op == QLatin1String("log"))
            return log(caller, request);
        if (op == QLatin1String("ask"))
            return ask(caller, request);
        if (op == QLatin1String("asked"))
            return asked(caller, request);

        static const QStringList rootOnly = {
            QStringLiteral("set-limit"), QStringLiteral("set-schedule"), QStringLiteral("add-time"),
            QStringLiteral("rules"),     QStringLiteral("usage"),        QStringLiteral("read-log"),
            QStringLiteral("requests"),  QStringLiteral("answer")};
        if (!rootOnly.contains(op))
            return KeeperProtocol::Error(QStringLiteral("unknown op \"%1\"").arg(op.left(40)));
        if (caller.Uid != 0)
            return KeeperProtocol::Error(QStringLiteral("only root may ask for %1").arg(op));
        if (op == QLatin1String("set-limit"))
            return setLimit(request);
        if (op == QLatin1String("set-schedule"))
            return setSchedule(request);
        if (op == QLatin1String("add-time"))
            return addTime(request);
        if (op == QLatin1String("rules"))
            return rules();
        if (op == QLatin1String("usage"))
            return usage(request);
        if (op == QLatin1String("read-log"))
            return readLog(request);
        if (op == QLatin1String("requests"))
            return requests(request);
        return answer(request);
    } catch (const EQuelvardError &error) {
        return KeeperProtocol::Error(error.message());
    } catch (const std::exception &error) {
        return KeeperProtocol::Error(QString::fromLocal8Bit(error.what()));
    }
}

TKeeperDispatcher::TRule TKeeperDispatcher::ruleFor(const QString &name, const QStringList &groups)
{
    TRule rule;
    const QString user = QStringLiteral("user:") + name;
    const QString everyone = QStringLiteral("everyone");

    const QMap<QString, int> limits = m_store.Limits();
    if (limits.contains(user)) {
        rule.Budget = limits.value(user);
    } else {
        for (const QString &group : groups) {
            const auto found = limits.constFind(QStringLiteral("group:") + group);
            if (found != limits.constEnd() && (!rule.Budget || *found < *rule.Budget))
                rule.Budget = *found;
        }
        if (!rule.Budget && limits.contains(everyone))
            rule.Budget = limits.value(everyone);
    }

    // Spans were checked when they were set; one that no longer parses counts as no rule
    // rather than locking everybody out.
    const QMap<QString, QStringList> schedules = m_store.Schedules();
    const auto parsed = [&](const QString &who) {
        return TSchedule::Parse(schedules.value(who), nullptr).value_or(TSchedule());
    };
    if (schedules.contains(user)) {
        rule.Schedule = parsed(user);
    } else {
        for (const QString &group : groups) {
            if (schedules.contains(QStringLiteral("group:") + group))
                rule.Schedule = rule.Schedule.Intersect(parsed(QStringLiteral("group:") + group));
        }
        if (!rule.Schedule.IsRule() && schedules.contains(everyone))
            rule.Schedule = parsed(everyone);
    }
    return rule;
}

QJsonObject TKeeperDispatcher::status(const TKeeperCaller &caller, bool count)
{
    const QDateTime now = m_clock.Now();
    const QDate today = now.date();
    const int minute = now.time().hour() * 60 + now.time().minute();
    const TRule rule = ruleFor(caller.Name, caller.Groups);
    const int total = rule.Budget ? *rule.Budget + m_store.Extra(caller.Name, today) : 0;
    const bool inSchedule = rule.Schedule.Allows(now);
    // A minute already counted is paid for, so the last minute of a budget is browsed in full.
    const auto budgetAllows = [&] {
        return !rule.Budget || m_store.Used(caller.Name, today, today) < total ||
               m_store.Counted(caller.Name, today, minute);
    };
    if (count && inSchedule && budgetAllows())
        m_store.Count(caller.Name, today, minute);
    const int used = m_store.Used(caller.Name, today, today);
    const bool budgetOk = budgetAllows();
    const bool allowed = inSchedule && budgetOk;

    QDateTime opens;
    if (!allowed) {
        const QDateTime tomorrow(today.addDays(1), QTime(0, 0), now.timeSpec());
        opens = rule.Schedule.NextOpening(budgetOk ? now : tomorrow);
        if (!budgetOk && opens.isValid() && opens.date() == today)
            opens = rule.Schedule.NextOpening(tomorrow);
    }
    return ok({{QStringLiteral("limited"), rule.Budget.has_value() || rule.Schedule.IsRule()},
               {QStringLiteral("allowed"), allowed},
               {QStringLiteral("why"), !inSchedule ? QStringLiteral("schedule")
                                       : !budgetOk ? QStringLiteral("budget")
                                                   : QString()},
               {QStringLiteral("left"), rule.Budget ? qMax(0, total - used) : -1},
               {QStringLiteral("opens"), keeperTime(opens)},
               {QStringLiteral("now"), keeperTime(now)},
               {QStringLiteral("tick"), m_clock.MinuteMs() / 2}});
}

QJsonObject TKeeperDispatcher::log(const TKeeperCaller &caller, const QJsonObject &request)
{
    static const QStringList kinds = {QStringLiteral("address"), QStringLiteral("download"),
                                      QStringLiteral("time")};
    TKeeperStore::TLogEntry entry;
    entry.Kind = needString(request, QStringLiteral("kind"));
    if (!kinds.contains(entry.Kind))
        throw EBadRequest(QStringLiteral("\"kind\" must be address, download or time"));
    entry.Address = needString(request, QStringLiteral("address")).left(MaxAddress);
    entry.Rule = optionalString(request, QStringLiteral("rule")).left(MaxRule);
    entry.User = caller.Name;
    entry.At = keeperTime(m_clock.Now());
    const QString host = QUrl(entry.Address).host();
    if (!m_store.AddLog(entry, host.isEmpty() ? entry.Address : host))
        return ok();
    if (m_syslogLine) {
        QString line =
            QStringLiteral("blocked %1 for %2: %3").arg(entry.Kind, entry.User, entry.Address);
        if (!entry.Rule.isEmpty())
            line += QStringLiteral(" (rule %1)").arg(entry.Rule);
        m_syslogLine(line);
    }
    if (++m_insertsSincePrune >= PruneEvery)
        prune();
    return ok();
}

QJsonObject TKeeperDispatcher::ask(const TKeeperCaller &caller, const QJsonObject &request)
{
    TKeeperStore::TRequest asking;
    asking.Address = needString(request, QStringLiteral("address"));
    asking.Reason = optionalString(request, QStringLiteral("reason"));
    if (asking.Address.isEmpty() || asking.Address.size() > MaxAddress)
        throw EBadRequest(
            QStringLiteral("\"address\" must hold 1 to %1 characters").arg(MaxAddress));
    if (asking.Reason.size() > MaxReason)
        throw EBadRequest(
            QStringLiteral("\"reason\" holds more than %1 characters").arg(MaxReason));
    const auto latest = m_store.LatestRequest(caller.Name, asking.Address);
    if (latest && latest->State == QLatin1String("open"))
        return ok({{QStringLiteral("id"), latest->Id}});
    if (m_store.OpenRequests(caller.Name) >= MaxOpenRequests)
        throw EBadRequest(QStringLiteral("too many open requests"));
    asking.User = caller.Name;
    asking.At = keeperTime(m_clock.Now());
    return ok({{QStringLiteral("id"), m_store.AddRequest(asking)}});
}

QJsonObject TKeeperDispatcher::asked(const TKeeperCaller &caller, const QJsonObject &request)
{
    const auto latest =
        m_store.LatestRequest(caller.Name, needString(request, QStringLiteral("address")));
    return ok({{QStringLiteral("state"), latest ? latest->State : QStringLiteral("none")},
               {QStringLiteral("at"), latest ? latest->At : QString()}});
}

QJsonObject TKeeperDispatcher::setLimit(const QJsonObject &request)
{
    const QString who = needWho(request);
    m_store.SetLimit(who, int(needInteger(request, QStringLiteral("minutes"), 0, 24 * 60)));
    return ok();
}

QJsonObject TKeeperDispatcher::setSchedule(const QJsonObject &request)
{
    const QString who = needWho(request);
    const QJsonValue value = request.value(QStringLiteral("spans"));
    if (!value.isArray())
        throw EBadRequest(QStringLiteral("\"spans\" must be a list of strings"));
    QStringList spans;
    for (const QJsonValue &span : value.toArray()) {
        if (!span.isString())
            throw EBadRequest(QStringLiteral("\"spans\" must be a list of strings"));
        spans << span.toString().simplified().toLower();
    }
    QString error;
    if (!TSchedule::Parse(spans, &error))
        throw EBadRequest(error);
    m_store.SetSchedule(who, spans);
    return ok();
}

QJsonObject TKeeperDispatcher::addTime(const QJsonObject &request)
{
    const QString user = needAccountName(request, QStringLiteral("user"));
    m_store.AddExtra(user, m_clock.Now().date(),
                     int(needInteger(request, QStringLiteral("minutes"), 1, 24 * 60)));
    return ok();
}

QJsonObject TKeeperDispatcher::rules()
{
    QJsonArray limits;
    const QMap<QString, int> storedLimits = m_store.Limits();
    for (auto it = storedLimits.cbegin(); it != storedLimits.cend(); ++it)
        limits.append(QJsonObject{{QStringLiteral("who"), it.key()},
                                  {QStringLiteral("minutes"), it.value()}});
    QJsonArray schedules;
    const QMap<QString, QStringList> storedSchedules = m_store.Schedules();
    for (auto it = storedSchedules.cbegin(); it != storedSchedules.cend(); ++it)
        schedules.append(
            QJsonObject{{QStringLiteral("who"), it.key()},
                        {QStringLiteral("spans"), QJsonArray::fromStringList(it.value())}});
    return ok({{QStringLiteral("limits"), limits}, {QStringLiteral("schedules"), schedules}});
}

QJsonObject TKeeperDispatcher::usage(const QJsonObject &request)
{
    const QDate today = m_clock.Now().date();
    const QDate monday = today.addDays(1 - today.dayOfWeek());
    const QString user = optionalString(request, QStringLiteral("user"));
    const QStringList users =
        user.isEmpty() ? m_store.AccountsUsed(monday, monday.addDays(6)) : QStringList{user};
    QJsonArray accounts;
    for (const QString &name : users)
        accounts.append(
            QJsonObject{{QStringLiteral("user"), name},
                        {QStringLiteral("today"), m_store.Used(name, today, today)},
                        {QStringLiteral("week"), m_store.Used(name, monday, monday.addDays(6))}});
    return ok({{QStringLiteral("accounts"), accounts}});
}

QJsonObject TKeeperDispatcher::readLog(const QJsonObject &request)
{
    const QString user = optionalString(request, QStringLiteral("user"));
    QString since = optionalString(request, QStringLiteral("since"));
    if (!since.isEmpty()) {
        const QDateTime parsed = QDateTime::fromString(since, Qt::ISODate);
        if (!parsed.isValid())
            throw EBadRequest(QStringLiteral("\"since\" must be a date and time such as "
                                             "2024-03-04T08:00"));
        since = keeperTime(parsed);
    }
    const qint64 after = request.contains(QStringLiteral("after"))
                             ? needInteger(request, QStringLiteral("after"), 0, qint64(1) << 52)
                             : 0;
    const QList<TKeeperStore::TLogEntry> found = m_store.ReadLog(user, since, after, MaxListed + 1);
    QJsonArray entries;
    qsizetype bytes = 0;
    for (const TKeeperStore::TLogEntry &entry : found) {
        const QJsonObject row{
            {QStringLiteral("id"), entry.Id},           {QStringLiteral("at"), entry.At},
            {QStringLiteral("user"), entry.User},       {QStringLiteral("kind"), entry.Kind},
            {QStringLiteral("address"), entry.Address}, {QStringLiteral("rule"), entry.Rule}};
        if (entries.size() == MaxListed || !fits(&bytes, row))
            break;
        entries.append(row);
    }
    return ok({{QStringLiteral("entries"), entries},
               {QStringLiteral("more"), entries.size() < found.size()}});
}

QJsonObject TKeeperDispatcher::requests(const QJsonObject &request)
{
    const QList<TKeeperStore::TRequest> found =
        m_store.Requests(optionalBool(request, QStringLiteral("all")), MaxListed + 1);
    QJsonArray rows;
    qsizetype bytes = 0;
    // The newest are the ones kept when not all fit.
    for (qsizetype i = found.size() - 1; i >= 0 && rows.size() < MaxListed; --i) {
        const QJsonObject row = requestRow(found.at(i));
        if (!fits(&bytes, row))
            break;
        rows.prepend(row);
    }
    return ok(
        {{QStringLiteral("requests"), rows}, {QStringLiteral("more"), rows.size() < found.size()}});
}

QJsonObject TKeeperDispatcher::answer(const QJsonObject &request)
{
    const qint64 id = needInteger(request, QStringLiteral("id"), 1, qint64(1) << 52);
    const auto answered = m_store.Answer(id, needBool(request, QStringLiteral("allow")));
    if (!answered)
        throw EBadRequest(QStringLiteral("no request %1").arg(id));
    return ok(
        {{QStringLiteral("user"), answered->User}, {QStringLiteral("address"), answered->Address}});
}

struct TKeeperServer::TConnection
{
    QLocalSocket *Socket = nullptr;
    TKeeperCaller Caller;
    KeeperProtocol::TReader Reader;
    qint64 LastHeard = 0;
    qint64 PartialSince = -1;
    QList<qint64> Recent;
    bool Closing = false;
};

namespace {

std::optional<TKeeperCaller> peerOf(QLocalSocket *socket)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
            0 ||
        size != sizeof credentials)
        return std::nullopt;
    TKeeperCaller caller;
    caller.Uid = credentials.uid;
    std::vector<char> buffer(16384);
    passwd account{};
    passwd *found = nullptr;
    if (getpwuid_r(credentials.uid, &account, buffer.data(), buffer.size(), &found) != 0 ||
        !found) {
        // An account without a name still has its minutes, under its number.
        caller.Name = QStringLiteral("#%1").arg(credentials.uid);
        return caller;
    }
    caller.Name = QString::fromLocal8Bit(account.pw_name);
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count) < 0)
            count = 0;
    }
    for (int i = 0; i < count; ++i) {
        group entry{};
        group *named = nullptr;
        std::vector<char> groupBuffer(16384);
        if (getgrgid_r(groups[size_t(i)], &entry, groupBuffer.data(), groupBuffer.size(), &named) ==
                0 &&
            named)
            caller.Groups << QString::fromLocal8Bit(entry.gr_name);
    }
    return caller;
}

} // namespace

TKeeperServer::TKeeperServer(TKeeperDispatcher &dispatcher, int idleExitSeconds)
    : m_dispatcher(dispatcher), m_idleExitSeconds(idleExitSeconds),
      m_server(std::make_unique<QLocalServer>()), m_sweep(std::make_unique<QTimer>())
{
    m_uptime.start();
    QObject::connect(m_server.get(), &QLocalServer::newConnection, [this] { accept(); });
    QObject::connect(m_sweep.get(), &QTimer::timeout, [this] { sweep(); });
    m_sweep->start(500);
}

TKeeperServer::~TKeeperServer()
{
    for (auto &entry : m_connections) {
        entry.first->disconnect();
        entry.first->deleteLater();
    }
}

bool TKeeperServer::Listen(const QString &path, QString *error)
{
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
    if (!m_server->listen(path)) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(path, m_server->errorString());
        return false;
    }
    // Every account's browser connects; who it is comes from the kernel, not from the path.
    if (::chmod(QFile::encodeName(path).constData(), 0666) != 0) {
        *error = QStringLiteral("cannot open %1 to every account").arg(path);
        return false;
    }
    return true;
}

bool TKeeperServer::Adopt(int descriptor, QString *error)
{
    struct stat info
    {
    };
    if (::fstat(descriptor, &info) != 0 || !S_ISSOCK(info.st_mode) ||
        !m_server->listen(qintptr(descriptor))) {
        *error =
            QStringLiteral("descriptor %1 from systemd is not a listening socket").arg(descriptor);
        return false;
    }
    return true;
}

void TKeeperServer::accept()
{
    while (m_server->hasPendingConnections()) {
        QLocalSocket *socket = m_server->nextPendingConnection();
        const std::optional<TKeeperCaller> caller =
            m_connections.size() < size_t(MaxConnections) ? peerOf(socket) : std::nullopt;
        if (!caller) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<TConnection>();
        connection->Socket = socket;
        connection->Caller = *caller;
        connection->LastHeard = m_uptime.elapsed();
        m_connections[socket] = std::move(connection);
        QObject::connect(socket, &QLocalSocket::readyRead, [this, socket] { readFrom(socket); });
        QObject::connect(socket, &QLocalSocket::disconnected, [this, socket] { drop(socket); });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void TKeeperServer::readFrom(QLocalSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    TConnection &connection = *found->second;
    const QByteArray bytes = socket->readAll();
    if (connection.Closing)
        return;
    const qint64 now = m_uptime.elapsed();
    connection.LastHeard = now;
    connection.Reader.Feed(bytes);
    for (;;) {
        QJsonObject request;
        QString error;
        const auto result = connection.Reader.Next(&request, &error);
        if (result == KeeperProtocol::TReader::TResult::NeedMore)
            break;
        if (result == KeeperProtocol::TReader::TResult::Bad) {
            closeWith(connection, error);
            return;
        }
        connection.PartialSince = -1;
        connection.Recent.append(now);
        while (connection.Recent.first() < now - 1000)
            connection.Recent.removeFirst();
        if (connection.Recent.size() > MaxMessagesPerSecond) {
            closeWith(connection, QStringLiteral("too many messages"));
            return;
        }
        socket->write(KeeperProtocol::Frame(m_dispatcher.Answer(connection.Caller, request)));
        if (socket->bytesToWrite() > MaxUnsentBytes) {
            connection.Closing = true;
            socket->abort();
            return;
        }
    }
    if (connection.Reader.Pending() > 0 && connection.PartialSince < 0)
        connection.PartialSince = now;
}

void TKeeperServer::closeWith(TConnection &connection, const QString &why)
{
    if (connection.Closing)
        return;
    connection.Closing = true;
    connection.Socket->write(KeeperProtocol::Frame(KeeperProtocol::Error(why)));
    connection.Socket->disconnectFromServer();
}

void TKeeperServer::drop(QLocalSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    // The map owns the bookkeeping only; the socket goes once its signal has returned.
    std::unique_ptr<TConnection> gone = std::move(found->second);
    m_connections.erase(found);
    socket->disconnect();
    socket->deleteLater();
    m_lastBusy = m_uptime.elapsed();
}

void TKeeperServer::sweep()
{
    const qint64 now = m_uptime.elapsed();
    // Closing can drop a connection at once, so the map is not walked while doing it.
    std::vector<std::pair<QLocalSocket *, QString>> late;
    std::vector<QLocalSocket *> stale;
    for (auto &entry : m_connections) {
        const TConnection &connection = *entry.second;
        // One that does not take its last words is cut off.
        if (connection.Closing && now - connection.LastHeard > IdleConnectionMs + 5000)
            stale.push_back(entry.first);
        else if (connection.PartialSince >= 0 && now - connection.PartialSince > PartialMessageMs)
            late.emplace_back(entry.first, QStringLiteral("message not finished in time"));
        else if (now - connection.LastHeard > IdleConnectionMs)
            late.emplace_back(entry.first, QStringLiteral("idle"));
    }
    for (const auto &[socket, why] : late) {
        const auto found = m_connections.find(socket);
        if (found != m_connections.end())
            closeWith(*found->second, why);
    }
    for (QLocalSocket *socket : stale) {
        if (m_connections.count(socket) == 0)
            continue;
        socket->abort();
        drop(socket);
    }
    if (!m_connections.empty())
        m_lastBusy = now;
    else if (m_idleExitSeconds > 0 && now - m_lastBusy > qint64(m_idleExitSeconds) * 1000)
        QCoreApplication::quit();
}
