#include "common/runasuser.h"

#include "common/apppaths.h"

#include <QDir>
#include <QFile>
#include <QTextStream>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace RunAsUser {

namespace {

std::optional<QString> g_homeRoot;

TAccount fromEntry(const passwd &entry)
{
    return TAccount{QString::fromLocal8Bit(entry.pw_name), entry.pw_uid, entry.pw_gid,
                    QString::fromLocal8Bit(entry.pw_dir)};
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Becomes the account for good: groups first, then the group, then the user, and then proves
// that root cannot be had back.
bool becomeUser(const TAccount &account, QTextStream &err)
{
    if (account.Uid == ::geteuid() && account.Gid == ::getegid())
        return true; // already that user: nothing to switch
    if (::geteuid() != 0) {
        err << "only root may act as " << account.Name << "\n";
        return false;
    }
    const QByteArray name = account.Name.toLocal8Bit();
    if (::initgroups(name.constData(), account.Gid) != 0 || ::setgid(account.Gid) != 0 ||
        ::setuid(account.Uid) != 0) {
        err << "cannot become " << account.Name << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (account.Uid != 0 &&
        (::setuid(0) == 0 || ::seteuid(0) == 0 || ::getuid() == 0 || ::geteuid() == 0 ||
         ::getgid() != account.Gid || ::getegid() != account.Gid)) {
        err << "cannot give up root to become " << account.Name << "\n";
        return false;
    }
    return true;
}

} // namespace

std::optional<TAccount> FindAccount(const QString &name, QString *problem)
{
    if (g_homeRoot) {
        const QString home = *g_homeRoot + QLatin1Char('/') + name;
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && QDir(home).exists())
            return TAccount{name, ::getuid(), ::getgid(), home};
    } else if (const passwd *entry = ::getpwnam(name.toLocal8Bit().constData())) {
        return fromEntry(*entry);
    }
    if (problem)
        *problem = QStringLiteral("there is no user \"%1\"").arg(name);
    return std::nullopt;
}

QList<TAccount> AccountsWithHomes()
{
    QList<TAccount> accounts;
    if (g_homeRoot) {
        for (const QString &name : QDir(*g_homeRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            accounts << TAccount{name, ::getuid(), ::getgid(),
                                 *g_homeRoot + QLatin1Char('/') + name};
        return accounts;
    }
    ::setpwent();
    while (const passwd *entry = ::getpwent()) {
        const TAccount account = fromEntry(*entry);
        if (account.Home.startsWith(QLatin1String("/home/")) && account.Uid != 0 &&
            QDir(account.Home).exists())
            accounts << account;
    }
    ::endpwent();
    return accounts;
}

int Run(const TAccount &account, QTextStream &out, QTextStream &err,
        const std::function<int(QTextStream &out, QTextStream &err)> &work, int failed)
{
    out.flush();
    err.flush();
    std::fflush(nullptr);
    int channel[2];
    if (::pipe(channel) != 0) {
        err << "cannot start the work for " << account.Name << ": " << std::strerror(errno) << "\n";
        return failed;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        err << "cannot start the work for " << account.Name << ": " << std::strerror(errno) << "\n";
        return failed;
    }
    if (child == 0) {
        ::close(channel[0]);
        QString childOut;
        QString childErr;
        int status = failed;
        {
            QTextStream toOut(&childOut);
            QTextStream toErr(&childErr);
            if (becomeUser(account, toErr)) {
                // The user's paths as their own browser finds them: from their home, never
                // from whatever XDG folders root's session named.
                for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                             "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
                    ::unsetenv(variable);
                ::setenv("HOME", QFile::encodeName(account.Home).constData(), 1);
                AppPaths::UseHome(account.Home);
                if (::chdir(QFile::encodeName(account.Home).constData()) != 0)
                    toErr << "cannot enter " << account.Home << ": " << std::strerror(errno)
                          << "\n";
                else
                    status = work(toOut, toErr);
            }
        }
        const QByteArray report =
            QByteArray::number(status) + '\0' + childOut.toUtf8() + '\0' + childErr.toUtf8();
        writeAll(channel[1], report);
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray report;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(channel[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        report.append(buffer, n);
    }
    ::close(channel[0]);
    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    const QList<QByteArray> parts = report.split('\0');
    if (parts.size() != 3 || !WIFEXITED(waitStatus)) {
        err << "the work for " << account.Name << " ended without a result\n";
        return failed;
    }
    out << QString::fromUtf8(parts.at(1));
    err << QString::fromUtf8(parts.at(2));
    bool ok = false;
    const int status = parts.at(0).toInt(&ok);
    return ok ? status : failed;
}

void OverrideAccounts(const QString &homeRoot)
{
    g_homeRoot = homeRoot;
}

} // namespace RunAsUser
