#include "keeper/keeperstore.h"

#include "common/errors.h"

#include <QFile>
#include <sqlite3.h>

namespace {

constexpr int SchemaVersion = 1;
// The keeper is the database's only writer; a wait means a disk that is slow, not a rival.
constexpr int BusyTimeoutMs = 5000;

const char *const SchemaSql =
    "CREATE TABLE limits (who TEXT NOT NULL PRIMARY KEY, minutes INTEGER NOT NULL);"
    "CREATE TABLE schedules (who TEXT NOT NULL PRIMARY KEY, spans TEXT NOT NULL);"
    "CREATE TABLE ticks (account TEXT NOT NULL, day TEXT NOT NULL, minute INTEGER NOT NULL,"
    "  PRIMARY KEY (account, day, minute)) WITHOUT ROWID;"
    "CREATE TABLE extra (account TEXT NOT NULL, day TEXT NOT NULL, minutes INTEGER NOT NULL,"
    "  PRIMARY KEY (account, day));"
    "CREATE TABLE log (id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL,"
    "  account TEXT NOT NULL, kind TEXT NOT NULL, address TEXT NOT NULL, host TEXT NOT NULL,"
    "  rule TEXT NOT NULL);"
    "CREATE INDEX log_seen ON log (account, host, at);"
    "CREATE INDEX log_at ON log (at);"
    "CREATE TABLE requests (id INTEGER PRIMARY KEY AUTOINCREMENT, account TEXT NOT NULL,"
    "  address TEXT NOT NULL, reason TEXT NOT NULL, at TEXT NOT NULL, state TEXT NOT NULL);"
    "CREATE INDEX requests_asked ON requests (account, address);"
    "PRAGMA user_version = 1;";

[[noreturn]] void fail(sqlite3 *db)
{
    throw EQuelvardError(QStringLiteral("keeper store: %1")
                             .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : "cannot open")));
}

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail(m_db);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            fail(m_db);
        return *this;
    }
    Statement &bind(int index, qint64 value)
    {
        if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
            fail(m_db);
        return *this;
    }
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(m_db);
    }
    qint64 int64(int column) { return sqlite3_column_int64(m_stmt, column); }
    QString text(int column)
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

void exec(sqlite3 *db, const char *sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db);
}

QString dayText(const QDate &day)
{
    return day.toString(Qt::ISODate);
}

TKeeperStore::TRequest requestFrom(Statement &query)
{
    return {query.int64(0), query.text(1), query.text(2),
            query.text(3),  query.text(4), query.text(5)};
}

} // namespace

TKeeperStore::TKeeperStore(const QString &file)
{
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        throw EQuelvardError(QStringLiteral("cannot open %1: %2").arg(file, why));
    }
    try {
        sqlite3_busy_timeout(m_db, BusyTimeoutMs);
        exec(m_db, "PRAGMA journal_mode = WAL");
        exec(m_db, "PRAGMA synchronous = NORMAL");
        Statement version(m_db, "PRAGMA user_version");
        const qint64 found = version.step() ? version.int64(0) : 0;
        if (found > SchemaVersion)
            throw EQuelvardError(QStringLiteral("%1 was written by a newer keeper (schema %2)")
                                     .arg(file)
                                     .arg(found));
        if (found == 0) {
            exec(m_db, "BEGIN IMMEDIATE");
            exec(m_db, SchemaSql);
            exec(m_db, "COMMIT");
        }
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

TKeeperStore::~TKeeperStore()
{
    sqlite3_close(m_db);
}

void TKeeperStore::SetLimit(const QString &who, int minutes)
{
    if (minutes <= 0) {
        Statement(m_db, "DELETE FROM limits WHERE who = ?1").bind(1, who).step();
        return;
    }
    Statement(m_db, "INSERT OR REPLACE INTO limits (who, minutes) VALUES (?1, ?2)")
        .bind(1, who)
        .bind(2, qint64(minutes))
        .step();
}

QMap<QString, int> TKeeperStore::Limits()
{
    QMap<QString, int> limits;
    Statement query(m_db, "SELECT who, minutes FROM limits");
    while (query.step())
        limits.insert(query.text(0), int(query.int64(1)));
    return limits;
}

void TKeeperStore::SetSchedule(const QString &who, const QStringList &spans)
{
    if (spans.isEmpty()) {
        Statement(m_db, "DELETE FROM schedules WHERE who = ?1").bind(1, who).step();
        return;
    }
    Statement(m_db, "INSERT OR REPLACE INTO schedules (who, spans) VALUES (?1, ?2)")
        .bind(1, who)
        .bind(2, spans.join(QLatin1Char('\n')))
        .step();
}

QMap<QString, QStringList> TKeeperStore::Schedules()
{
    QMap<QString, QStringList> schedules;
    Statement query(m_db, "SELECT who, spans FROM schedules");
    while (query.step())
        schedules.insert(query.text(0), query.text(1).split(QLatin1Char('\n')));
    return schedules;
}

bool TKeeperStore::Count(const QString &account, const QDate &day, int minute)
{
    Statement(m_db, "INSERT OR IGNORE INTO ticks (account, day, minute) VALUES (?1, ?2, ?3)")
        .bind(1, account)
        .bind(2, dayText(day))
        .bind(3, qint64(minute))
        .step();
    return sqlite3_changes(m_db) > 0;
}

bool TKeeperStore::Counted(const QString &account, const QDate &day, int minute)
{
    return Statement(m_db, "SELECT 1 FROM ticks WHERE account = ?1 AND day = ?2 AND minute = ?3")
        .bind(1, account)
        .bind(2, dayText(day))
        .bind(3, qint64(minute))
        .step();
}

int TKeeperStore::Used(const QString &account, const QDate &from, const QDate &to)
{
    Statement query(m_db,
                    "SELECT count(*) FROM ticks WHERE account = ?1 AND day BETWEEN ?2 AND ?3");
    query.bind(1, account).bind(2, dayText(from)).bind(3, dayText(to));
    return query.step() ? int(query.int64(0)) : 0;
}

QStringList TKeeperStore::AccountsUsed(const QDate &from, const QDate &to)
{
    QStringList accounts;
    Statement query(m_db, "SELECT DISTINCT account FROM ticks WHERE day BETWEEN ?1 AND ?2 "
                          "ORDER BY account");
    query.bind(1, dayText(from)).bind(2, dayText(to));
    while (query.step())
        accounts << query.text(0);
    return accounts;
}

int TKeeperStore::Extra(const QString &account, const QDate &day)
{
    Statement query(m_db, "SELECT minutes FROM extra WHERE account = ?1 AND day = ?2");
    query.bind(1, account).bind(2, dayText(day));
    return query.step() ? int(query.int64(0)) : 0;
}

void TKeeperStore::AddExtra(const QString &account, const QDate &day, int minutes)
{
    Statement(m_db, "INSERT INTO extra (account, day, minutes) VALUES (?1, ?2, ?3) "
                    "ON CONFLICT (account, day) DO UPDATE SET minutes = minutes + ?3")
        .bind(1, account)
        .bind(2, dayText(day))
        .bind(3, qint64(minutes))
        .step();
}

bool TKeeperStore::AddLog(const TLogEntry &entry, const QString &host)
{
    if (Statement(m_db, "SELECT 1 FROM log WHERE account = ?1 AND host = ?2 AND at = ?3")
            .bind(1, entry.User)
            .bind(2, host)
            .bind(3, entry.At)
            .step())
        return false;
    Statement(m_db, "INSERT INTO log (at, account, kind, address, host, rule) "
                    "VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        .bind(1, entry.At)
        .bind(2, entry.User)
        .bind(3, entry.Kind)
        .bind(4, entry.Address)
        .bind(5, host)
        .bind(6, entry.Rule)
        .step();
    return true;
}

QList<TKeeperStore::TLogEntry> TKeeperStore::ReadLog(const QString &user, const QString &since,
                                                     qint64 after, int limit)
{
    Statement query(m_db, "SELECT id, at, account, kind, address, rule FROM log "
                          "WHERE id > ?1 AND at >= ?2 AND (?3 = '' OR account = ?3) "
                          "ORDER BY id LIMIT ?4");
    query.bind(1, after).bind(2, since).bind(3, user).bind(4, qint64(limit));
    QList<TLogEntry> entries;
    while (query.step())
        entries.append({query.int64(0), query.text(1), query.text(2), query.text(3), query.text(4),
                        query.text(5)});
    return entries;
}

void TKeeperStore::Prune(const QString &oldestKept, qint64 keep, const QDate &oldestDay)
{
    Statement(m_db, "DELETE FROM log WHERE at < ?1").bind(1, oldestKept).step();
    // Ids only grow, so the newest `keep` are those above the cut.
    Statement(m_db, "DELETE FROM log WHERE id <= (SELECT max(id) FROM log) - ?1")
        .bind(1, keep)
        .step();
    Statement(m_db, "DELETE FROM ticks WHERE day < ?1").bind(1, dayText(oldestDay)).step();
    Statement(m_db, "DELETE FROM extra WHERE day < ?1").bind(1, dayText(oldestDay)).step();
}

std::optional<TKeeperStore::TRequest> TKeeperStore::LatestRequest(const QString &account,
                                                                  const QString &address)
{
    Statement query(m_db, "SELECT id, account, address, reason, at, state FROM requests "
                          "WHERE account = ?1 AND address = ?2 ORDER BY id DESC LIMIT 1");
    query.bind(1, account).bind(2, address);
    if (!query.step())
        return std::nullopt;
    return requestFrom(query);
}

int TKeeperStore::OpenRequests(const QString &account)
{
    Statement query(m_db, "SELECT count(*) FROM requests WHERE account = ?1 AND state = 'open'");
    query.bind(1, account);
    return query.step() ? int(query.int64(0)) : 0;
}

qint64 TKeeperStore::AddRequest(const TRequest &request)
{
    Statement(m_db, "INSERT INTO requests (account, address, reason, at, state) "
                    "VALUES (?1, ?2, ?3, ?4, 'open')")
        .bind(1, request.User)
        .bind(2, request.Address)
        .bind(3, request.Reason)
        .bind(4, request.At)
        .step();
    return sqlite3_last_insert_rowid(m_db);
}

QList<TKeeperStore::TRequest> TKeeperStore::Requests(bool all, int limit)
{
    Statement query(m_db, "SELECT * FROM (SELECT id, account, address, reason, at, state "
                          "FROM requests WHERE ?1 OR state = 'open' ORDER BY id DESC LIMIT ?2) "
                          "ORDER BY id");
    query.bind(1, qint64(all)).bind(2, qint64(limit));
    QList<TRequest> requests;
    while (query.step())
        requests.append(requestFrom(query));
    return requests;
}

std::optional<TKeeperStore::TRequest> TKeeperStore::Answer(qint64 id, bool allow)
{
    Statement(m_db, "UPDATE requests SET state = ?2 WHERE id = ?1")
        .bind(1, id)
        .bind(2, allow ? QStringLiteral("allowed") : QStringLiteral("refused"))
        .step();
    Statement query(m_db,
                    "SELECT id, account, address, reason, at, state FROM requests WHERE id = ?1");
    query.bind(1, id);
    if (!query.step())
        return std::nullopt;
    return requestFrom(query);
}
