#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What the browser, the administrator's command and the time keeper say to each other over the
// keeper's Unix socket. A message is a 4-byte big-endian length, then that many bytes of one
// UTF-8 JSON object carrying "v" (the version). A request names its "op"; an answer carries
// "ok" and, when false, "error". Who asks is never in a message: the keeper takes it from the
// socket (SO_PEERCRED).
//
// Every account may ask:
//   "status"               -> limited, allowed, why ("budget"|"schedule"|""), left (minutes of
//                             the budget today, -1 for none), opens (local ISO date-time when a
//                             refusal ends, "" when not known), now (the keeper's local
//                             date-time), tick (ms between ticks)
//   "tick" shown:bool      -> as "status"; a shown window counts this minute for the account
//   "log" kind ("address"|"download"|"time"), address, rule -> ok
//   "ask" address, reason  -> id; refused past 20 open requests of the account
//   "asked" address        -> state ("none"|"open"|"allowed"|"refused"), at (ISO date-time)
// Only root may ask:
//   "set-limit" who ("user:NAME"|"group:NAME"|"everyone"), minutes (0 for none)
//   "set-schedule" who, spans (["mon-fri 07:30-20:00", ...], [] for none)
//   "add-time" user, minutes
//   "rules"                -> limits [{who, minutes}], schedules [{who, spans}]
//   "usage" user?          -> accounts [{user, today, week}]
//   "read-log" user?, since? (ISO), after? (entry id) -> entries [{id, at, user, kind,
//                             address, rule}] (at most 500), more:bool
//   "requests" all:bool    -> requests [{id, user, address, reason, at, state}]
//   "answer" id, allow:bool -> user, address
namespace KeeperProtocol {

constexpr int Version = 1;
// The most a message may hold: a request is small, an answer at most a page of the log.
constexpr int MaxMessage = 256 * 1024;

// The socket's path in this build: <runtime folder>/quelvard/keeper.socket.
QString SocketPath();
// Points this process at a keeper of its own (tests that start one on a temporary socket);
// empty returns to the build's. Nothing outside the process can reach it.
void OverrideSocketPath(const QString &path);
// The system user the keeper runs as.
inline constexpr const char *KeeperUser = "_quelvard";

QByteArray Frame(QJsonObject message);
QJsonObject Error(const QString &why);

// Cuts the bytes a socket gives into messages.
class TReader
{
public:
    enum class TResult { Message, NeedMore, Bad };

    void Feed(const QByteArray &bytes) { m_buffer += bytes; }
    // The next whole message; Bad (with `error` set) for a length past MaxMessage, bytes that
    // are not one JSON object, or another version: the connection is not to be trusted after.
    TResult Next(QJsonObject *message, QString *error);
    qsizetype Pending() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
};

} // namespace KeeperProtocol
