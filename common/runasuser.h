#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

class QTextStream;

// Work on a user's own files done by root on their behalf. Root never touches a path under a
// user's home itself: the work runs in a child process that has become that user (their uid,
// gid and groups), so a link the user planted leads only where the user could go anyway.
namespace RunAsUser {

struct TAccount
{
    QString Name;
    uid_t Uid = 0;
    gid_t Gid = 0;
    QString Home;
};

// The account of that name, or why there is none.
std::optional<TAccount> FindAccount(const QString &name, QString *problem);
// Every account whose home is a folder under /home.
QList<TAccount> AccountsWithHomes();

// Runs `work` in a child that has become `account`, with HOME set to the account's home and
// the program's per-user paths computed from it, as the browser computes them when that user
// runs it. What the work writes to its streams reaches `out` and `err`; its return value is
// the result. A child that cannot become the user does no work and returns `failed`.
int Run(const TAccount &account, QTextStream &out, QTextStream &err,
        const std::function<int(QTextStream &out, QTextStream &err)> &work, int failed);

// Tests only: accounts are the folders of `homeRoot`, all owned by the caller, so the
// commands can be driven without creating users.
void OverrideAccounts(const QString &homeRoot);

} // namespace RunAsUser
