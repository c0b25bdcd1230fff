#pragma once

#include "common/keeperprotocol.h"

#include <QJsonObject>
#include <QString>
#include <sys/types.h>

// Speaking to the time keeper: one request, one answer, on a connection of its own. Blocking, so
// the browser calls it off its window's thread; the administrator's command calls it directly.
namespace KeeperClient {

// The keeper's answer to `request`. When the keeper cannot be reached in `timeoutMs`, is not the
// keeper (the socket's other end runs as another user), or answers with something unusable, the
// answer is an error and `reached` is false; an error the keeper gave leaves `reached` true.
QJsonObject Call(const QJsonObject &request, bool *reached = nullptr, int timeoutMs = 3000,
                 const QString &socketPath = KeeperProtocol::SocketPath());

// Whether a socket's other end running as `uid` may be believed: the keeper's own user or root.
// A build for tests, which runs the keeper by hand on a socket of its own, also believes the
// caller's own user.
bool Trusted(uid_t uid);

} // namespace KeeperClient
