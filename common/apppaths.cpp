#include "common/apppaths.h"

#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <optional>

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

} // namespace AppPaths
