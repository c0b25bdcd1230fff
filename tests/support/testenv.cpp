#include "support/testenv.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"
#include "main/schemehandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

TestEnvironment::TestEnvironment()
{
    QDir().mkpath(userDataDir());
    QDir().mkpath(machineDataDir());
    AppPaths::OverrideUserDataDir(userDataDir());
    AppPaths::OverrideMachineDataDir(machineDataDir());
    AppPaths::OverrideUserHiveFile(userHive());
    AppPaths::OverrideMachineHiveFile(machineHive());
    // The machine settings are read once a run; each test reads those of its own hive.
    MachinePolicies::Forget();
}

TestEnvironment::~TestEnvironment()
{
    AppPaths::ClearOverrides();
    MachinePolicies::Forget();
}

QString TestEnvironment::userDataDir() const
{
    return m_dir.path() + QStringLiteral("/data");
}
QString TestEnvironment::machineDataDir() const
{
    return m_dir.path() + QStringLiteral("/machine");
}
QString TestEnvironment::userHive() const
{
    return m_dir.path() + QStringLiteral("/config/Quelvard/registry.db");
}
QString TestEnvironment::machineHive() const
{
    return machineDataDir() + QStringLiteral("/Quelvard/registry.db");
}

void InitWebTestProcess()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TQuelvardSchemeHandler::RegisterScheme();
    // One engine profile serves the whole test process; it keeps its data in a folder of the
    // process's own, so suites running side by side never share cookies or a cache.
    static QTemporaryDir engineDir;
    AppPaths::OverrideEngineDirs(engineDir.path() + QStringLiteral("/storage"),
                                 engineDir.path() + QStringLiteral("/cache"));
}

void InitDownloadingTestProcess()
{
    InitWebTestProcess();
    QStandardPaths::setTestModeEnabled(false);
    static QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
}
