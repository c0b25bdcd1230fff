#pragma once

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

struct sqlite3;

// The keeper's one database: rules, minutes used, the log of what was blocked and the requests
// to open a page. Times are the keeper's local clock as "yyyy-MM-ddTHH:mm", which sorts as it
// reads. Every failure of SQLite is thrown as EQuelvardError, so a caller answers with an error
// and the keeper goes on.
class TKeeperStore
{
public:
    struct TLogEntry
    {
        qint64 Id = 0;
        QString At, User, Kind, Address, Rule;
    };
    struct TRequest
    {
        qint64 Id = 0;
        QString User, Address, Reason, At, State;
    };

    // ":memory:" for a store that lives as long as the object.
    explicit TKeeperStore(const QString &file);
    ~TKeeperStore();
    TKeeperStore(const TKeeperStore &) = delete;
    TKeeperStore &operator=(const TKeeperStore &) = delete;

    void SetLimit(const QString &who, int minutes);
    QMap<QString, int> Limits();
    void SetSchedule(const QString &who, const QStringList &spans);
    QMap<QString, QStringList> Schedules();

    // Counts the minute once, however often it is asked; false when it already was.
    bool Count(const QString &account, const QDate &day, int minute);
    bool Counted(const QString &account, const QDate &day, int minute);
    int Used(const QString &account, const QDate &from, const QDate &to);
    QStringList AccountsUsed(const QDate &from, const QDate &to);
    int Extra(const QString &account, const QDate &day);
    void AddExtra(const QString &account, const QDate &day, int minutes);

    // False when the account's host was already logged in that minute.
    bool AddLog(const TLogEntry &entry, const QString &host);
    // Oldest first, at most `limit`.
    QList<TLogEntry> ReadLog(const QString &user, const QString &since, qint64 after, int limit);
    // Drops entries before `oldestKept` and all but the newest `keep`, and minutes used before
    // `oldestDay`.
    void Prune(const QString &oldestKept, qint64 keep, const QDate &oldestDay);

    std::optional<TRequest> LatestRequest(const QString &account, const QString &address);
    int OpenRequests(const QString &account);
    qint64 AddRequest(const TRequest &request);
    // Oldest first, at most `limit` of the newest.
    QList<TRequest> Requests(bool all, int limit);
    std::optional<TRequest> Answer(qint64 id, bool allow);

private:
    sqlite3 *m_db = nullptr;
};
