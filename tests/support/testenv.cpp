#include "support/testenv.h"

#include "app/schemehandler.h"
#include "common/apppaths.h"
#include "common/favoritesstore.h"
#include "common/machinepolicies.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <sys/stat.h>

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

void TestEnvironment::blockMachineHive() const
{
    const QString folder = QFileInfo(machineHive()).absolutePath();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
}

void TestEnvironment::setDownloadFolder(const QString &folder) const
{
    const QString config = root() + QStringLiteral("/xdg");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    writeBytes(config + QStringLiteral("/user-dirs.dirs"),
               "XDG_DOWNLOAD_DIR=\"" + QFile::encodeName(folder) + "\"\n");
}

void EnvironmentSuite::init()
{
    m_env = std::make_unique<TestEnvironment>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
}

void EnvironmentSuite::cleanup()
{
    m_dialogs.reset();
    m_env.reset();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entriesBelow(const QString &folder)
{
    if (!QFileInfo::exists(folder))
        return {QStringLiteral("(none)")};
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

void makeLayout(const QString &root, const QStringList &layout)
{
    QDir().mkpath(root);
    for (const QString &entry : layout) {
        const QString path = root + QLatin1Char('/') + entry;
        if (entry.contains(QLatin1String(" -> "))) {
            const QStringList parts = entry.split(QStringLiteral(" -> "));
            QDir().mkpath(QFileInfo(root + QLatin1Char('/') + parts[0]).absolutePath());
            QVERIFY(QFile::link(parts[1], root + QLatin1Char('/') + parts[0]));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(path));
        } else if (entry.endsWith(QLatin1Char('|'))) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QCOMPARE(::mkfifo(QFile::encodeName(path.chopped(1)).constData(), 0600), 0);
        } else {
            writeBytes(path, "[InternetShortcut]\r\nURL=http://x/" + entry.toUtf8() + "\r\n");
        }
    }
}

QStringList outline(const QVector<FavoritesStore::TFavoriteItem> &items, const QString &indent)
{
    QStringList lines;
    for (const FavoritesStore::TFavoriteItem &item : items) {
        lines << indent + item.Name + (item.IsFolder ? QStringLiteral("/") : QString());
        lines += outline(item.Children, indent + QStringLiteral("  "));
    }
    return lines;
}

QByteArray nestedFavorites(int depth, int nameLength, QChar letter, int leafLength)
{
    const QString name(nameLength, letter);
    QString tree = QStringLiteral("[{\"name\": \"%1\", \"url\": \"https://a.example/\"}]")
                       .arg(QString(leafLength < 0 ? nameLength : leafLength, letter));
    for (int i = 0; i < depth; ++i)
        tree = QStringLiteral("[{\"name\": \"%1\", \"children\": %2}]").arg(name, tree);
    return QStringLiteral("{\"favorites\": %1}").arg(tree).toUtf8();
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
