#include "support/testenv.h"

#include "common/apppaths.h"
#include "main/schemehandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

TestEnvironment::TestEnvironment()
{
    QDir().mkpath(userDataDir());
    QDir().mkpath(machineDataDir());
    AppPaths::OverrideUserDataDir(userDataDir());
    AppPaths::OverrideMachineDataDir(machineDataDir());
    AppPaths::OverrideUserHiveFile(userHive());
    AppPaths::OverrideMachineHiveFile(machineHive());
}

TestEnvironment::~TestEnvironment()
{
    AppPaths::ClearOverrides();
}

QString TestEnvironment::userDataDir() const { return m_dir.path() + QStringLiteral("/data"); }
QString TestEnvironment::machineDataDir() const { return m_dir.path() + QStringLiteral("/machine"); }
QString TestEnvironment::userHive() const { return m_dir.path() + QStringLiteral("/config/Quelvard/registry.db"); }
QString TestEnvironment::machineHive() const { return machineDataDir() + QStringLiteral("/Quelvard/registry.db"); }

void InitWebTestProcess()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TQuelvardSchemeHandler::RegisterScheme();
}
