#include "common/apppaths.h"

#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <optional>
#include <sys/stat.h>

namespace {
std::optional<QString> g_userDataDir;
std::optional<QString> g_machineDataDir;
std::optional<QString> g_userHive;
std::optional<QString> g_machineHive;
std::optional<QString> g_engineStorage;
std::optional<QString> g_engineCache;
} // namespace

namespace AppPaths {

QString UserDataDir()
{
    if (g_userDataDir)
        return *g_userDataDir;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString MachineDataDir()
{
    if (g_machineDataDir)
        return *g_machineDataDir;
    return QStringLiteral(QUELVARD_MACHINE_DATA_DIR);
}

QString UserHiveFile()
{
    if (g_userHive)
        return *g_userHive;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quelvard/registry.db");
}

QString MachineHiveFile()
{
    if (g_machineHive)
        return *g_machineHive;
    QString base = MachineDataDir();
    if (base.trimmed().isEmpty())
        base = ProgramDir();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("Quelvard/registry.db");
}

QString EngineStorageDir()
{
    if (g_engineStorage)
        return *g_engineStorage;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/quelvard-browsing-data");
}

QString EngineCacheDir()
{
    if (g_engineCache)
        return *g_engineCache;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/quelvard-browsing-data");
}

QString RunRecordsDir()
{
    return QFileInfo(EngineCacheDir()).absolutePath() + QStringLiteral("/quelvard-runs");
}

QString EngineRunDir(const QString &name)
{
    return RunRecordsDir() + QStringLiteral("/engine-") + name;
}

QString ProgramDir()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

void OverrideUserDataDir(const QString &dir)
{
    g_userDataDir = dir;
}
void OverrideMachineDataDir(const QString &dir)
{
    g_machineDataDir = dir;
}
void OverrideUserHiveFile(const QString &file)
{
    g_userHive = file;
}
void OverrideMachineHiveFile(const QString &file)
{
    g_machineHive = file;
}

void OverrideEngineDirs(const QString &storage, const QString &cache)
{
    g_engineStorage = storage;
    g_engineCache = cache;
}

void ClearOverrides()
{
    g_userDataDir.reset();
    g_machineDataDir.reset();
    g_userHive.reset();
    g_machineHive.reset();
}

void UseHome(const QString &home)
{
    g_userDataDir = home + QStringLiteral("/.local/share");
    g_userHive = home + QStringLiteral("/.config/Quelvard/registry.db");
    g_engineStorage = home + QStringLiteral("/.local/share/quelvard-browsing-data");
    g_engineCache = home + QStringLiteral("/.cache/quelvard-browsing-data");
}

namespace {

// mkdir with the mode given, then chmod so the umask cannot loosen or tighten it; parents are
// made the same way. A folder that exists is left as it is.
bool makeFolder(const QString &dir, mode_t mode)
{
    const QString path =
        QDir::cleanPath(QDir::isAbsolutePath(dir) ? dir : QDir::current().absoluteFilePath(dir));
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makeFolder(parent, mode))
        return false;
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), mode) != 0)
        return QFileInfo(path).isDir();
    return ::chmod(name.constData(), mode) == 0;
}

} // namespace

bool MakeUserFolder(const QString &dir)
{
    return makeFolder(dir, 0700);
}

bool MakeMachineFolder(const QString &dir)
{
    return makeFolder(dir, 0755);
}

QStringList UnsafeMachinePath(const QString &path)
{
    QStringList problems;
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return problems;
    if (S_ISLNK(info.st_mode))
        return {QStringLiteral("%1 is a symbolic link; remove it (rm %1) and run the command again")
                    .arg(path)};
    if (info.st_uid != 0)
        problems << QStringLiteral("%1 is owned by user %2, not root; mend it with: chown "
                                   "root:root %1")
                        .arg(path)
                        .arg(info.st_uid);
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        problems << QStringLiteral("%1 is writable by group or others; mend it with: chmod go-w %1")
                        .arg(path);
    return problems;
}

} // namespace AppPaths
