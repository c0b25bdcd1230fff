#pragma once

#include "common/keeperprotocol.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <sys/types.h>

class QLocalServer;
class QLocalSocket;
class QTimer;
class TKeeperStore;

// Who is asking, as the kernel told the keeper when they connected.
struct TKeeperCaller
{
    uid_t Uid = 0;
    QString Name;
    QStringList Groups;
};

// The keeper's local time. Tests run it fast and from a chosen start, so a day of limits
// passes in seconds; the installed keeper follows the machine's clock.
class TKeeperClock
{
public:
    TKeeperClock();
    TKeeperClock(const QDateTime &start, int minuteMs);
    QDateTime Now() const;
    int MinuteMs() const { return m_minuteMs; }

private:
    bool m_real = true;
    QDateTime m_start;
    int m_minuteMs = 60000;
    QElapsedTimer m_elapsed;
};

// Answers one request: every rule of what may be asked lives here, away from the socket, so
// it can be driven with any message.
class TKeeperDispatcher
{
public:
    // `syslogLine` gets each log entry that was stored, in words.
    TKeeperDispatcher(TKeeperStore &store, const TKeeperClock &clock,
                      std::function<void(const QString &)> syslogLine = {});
    QJsonObject Answer(const TKeeperCaller &caller, const QJsonObject &request);

private:
    struct TRule;
    TRule ruleFor(const QString &name, const QStringList &groups);
    QJsonObject status(const TKeeperCaller &caller, bool count);
    QJsonObject log(const TKeeperCaller &caller, const QJsonObject &request);
    QJsonObject ask(const TKeeperCaller &caller, const QJsonObject &request);
    QJsonObject asked(const TKeeperCaller &caller, const QJsonObject &request);
    QJsonObject setLimit(const QJsonObject &request);
    QJsonObject setSchedule(const QJsonObject &request);
    QJsonObject addTime(const QJsonObject &request);
    QJsonObject rules();
    QJsonObject usage(const QJsonObject &request);
    QJsonObject readLog(const QJsonObject &request);
    QJsonObject requests(const QJsonObject &request);
    QJsonObject answer(const QJsonObject &request);
    void prune();

    TKeeperStore &m_store;
    const TKeeperClock &m_clock;
    std::function<void(const QString &)> m_syslogLine;
    int m_insertsSincePrune = 0;
};

// The socket side: who is connected, and closing any connection that misbehaves so the others
// are still served.
class TKeeperServer
{
public:
    // Exits the program after `idleExitSeconds` without a connection (0: never).
    TKeeperServer(TKeeperDispatcher &dispatcher, int idleExitSeconds);
    ~TKeeperServer();
    // A socket of the keeper's own, connectable by every account.
    bool Listen(const QString &path, QString *error);
    // The socket systemd opened for it.
    bool Adopt(int descriptor, QString *error);

private:
    struct TConnection;
    void accept();
    void readFrom(QLocalSocket *socket);
    void closeWith(TConnection &connection, const QString &why);
    void drop(QLocalSocket *socket);
    void sweep();

    TKeeperDispatcher &m_dispatcher;
    int m_idleExitSeconds;
    std::unique_ptr<QLocalServer> m_server;
    std::unique_ptr<QTimer> m_sweep;
    QElapsedTimer m_uptime;
    qint64 m_lastBusy = 0;
    std::map<QLocalSocket *, std::unique_ptr<TConnection>> m_connections;
};
