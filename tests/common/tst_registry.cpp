#include "common/apppaths.h"
#include "common/errors.h"
#include "common/registry.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString userHive()
{
    return AppPaths::UserHiveFile();
}

QString readValueDirect(const QString &file, const QString &key, const QString &name)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT data FROM reg_values WHERE key = ? AND name = ?", -1, &stmt,
                       nullptr);
    const QByteArray k = key.toUtf8(), n = name.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, n.constData(), -1, SQLITE_TRANSIENT);
    QString result;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

// Run as a child process: writes `count` values named prefix<i> into one key.
int runWriter(const QString &hive, const QString &prefix, int count)
{
    AppPaths::OverrideUserHiveFile(hive);
    for (int i = 0; i < count; ++i) {
        TRegistry registry;
        registry.OpenKey(QStringLiteral("Software\\Quelvard\\Shared"), true);
        registry.WriteString(prefix + QString::number(i), QString::number(i));
    }
    return 0;
}

class tst_Registry : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void writeThenReadBack();
    void pathSpellings_data();
    void pathSpellings();
    void namesIgnoreLetterCaseButKeepIt();
    void missingValueReadsEmpty();
    void valueOfOtherTypeRaises();
    void deleteAndListValues();
    void readOnlyOpenCreatesNothing();
    void readOnlyHiveIsReadableButRefusesWrites();
    void writeToUnwritableFolderRaisesAndChangesNothing();
    void damagedFileIsNeverTouched_data();
    void damagedFileIsNeverTouched();
    void unknownKeysAndValuesSurvive();
    void twoProcessesWritingAtOnce();
    void batchIsOneChangeOrNone_data();
    void batchIsOneChangeOrNone();
};

void tst_Registry::writeThenReadBack()
{
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey(QStringLiteral("\\Software\\Quelvard"), true));
        registry.WriteString(QStringLiteral("Position"), QStringLiteral("10,20,300,200"));
    }
    // A separate object (as a later run would) sees the committed value.
    TRegistry reader(TRegistry::KEY_READ);
    QVERIFY(reader.OpenKey(QStringLiteral("Software\\Quelvard"), false));
    QCOMPARE(reader.ReadString(QStringLiteral("Position")), QStringLiteral("10,20,300,200"));
    QCOMPARE(readValueDirect(userHive(), QStringLiteral("Software\\Quelvard"),
                             QStringLiteral("Position")),
             QStringLiteral("10,20,300,200"));
    // A user's store is theirs alone, whatever the umask: others cannot read their lists.
    QCOMPARE(QFileInfo(userHive()).permissions() & 0x0777,
             QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(QFileInfo(QFileInfo(userHive()).absolutePath()).permissions() & 0x0777,
             QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

void tst_Registry::pathSpellings_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");
    QTest::newRow("leading backslash") << "\\Software\\Quelvard\\Popups"
                                       << "Software\\Quelvard\\Popups";
    QTest::newRow("no leading backslash") << "Software\\Quelvard\\Popups"
                                          << "\\Software\\Quelvard\\Popups";
    QTest::newRow("other letter case") << "Software\\Quelvard\\Popups"
                                       << "SOFTWARE\\quelvard\\POPUPS";
    QTest::newRow("trailing backslash") << "Software\\Microsoft\\Rowen\\"
                                        << "Software\\Microsoft\\Rowen";
}

void tst_Registry::pathSpellings()
{
    QFETCH(QString, written);
    QFETCH(QString, read);
    TRegistry registry;
    QVERIFY(registry.OpenKey(written, true));
    registry.WriteString(QStringLiteral("v"), QStringLiteral("x"));
    registry.CloseKey();
    QVERIFY(registry.KeyExists(read));
    QVERIFY(registry.OpenKey(read, false));
    QCOMPARE(registry.ReadString(QStringLiteral("v")), QStringLiteral("x"));
    // Every parent exists as a key of its own.
    QVERIFY(registry.KeyExists(QStringLiteral("Software")));
}

void tst_Registry::namesIgnoreLetterCaseButKeepIt()
{
    TRegistry registry;
    registry.OpenKey(QStringLiteral("Software\\Quelvard\\Popups"), true);
    registry.WriteString(QStringLiteral("Example.COM"), QString());
    registry.WriteString(QStringLiteral("example.com"), QString());
    QCOMPARE(registry.GetValueNames(), QStringList{QStringLiteral("example.com")});
    QVERIFY(registry.ValueExists(QStringLiteral("EXAMPLE.com")));
    registry.WriteString(QStringLiteral("Other.Org"), QString());
    QCOMPARE(registry.GetValueNames().last(), QStringLiteral("Other.Org"));
}

void tst_Registry::missingValueReadsEmpty()
{
    TRegistry registry;
    registry.OpenKey(QStringLiteral("Software\\Quelvard"), true);
    QCOMPARE(registry.ReadString(QStringLiteral("Nothing")), QString());
    QVERIFY(!registry.ValueExists(QStringLiteral("Nothing")));
    QVERIFY(!registry.OpenKey(QStringLiteral("Software\\Absent"), false));
}

void tst_Registry::valueOfOtherTypeRaises()
{
    {
        TRegistry registry;
        registry.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), true);
    }
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(userHive()).constData(), &db);
    sqlite3_exec(
        db,
        "INSERT INTO reg_values VALUES ('Software\\Microsoft\\Rowen','Level',4,x'01000000');"
        "INSERT INTO reg_values VALUES ('Software\\Microsoft\\Rowen','Empty',3,x'');",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
    TRegistry registry(TRegistry::KEY_READ);
    QVERIFY(registry.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), false));
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, registry.ReadString(QStringLiteral("Level")));
    // An empty value of another type has nothing to misread.
    QCOMPARE(registry.ReadString(QStringLiteral("Empty")), QString());
}

void tst_Registry::deleteAndListValues()
{
    TRegistry registry;
    registry.OpenKey(QStringLiteral("Software\\Quelvard\\Popups"), true);
    for (const char *name : {"a.org", "b.org", "c.org"})
        registry.WriteString(QLatin1String(name), QString());
    QVERIFY(registry.DeleteValue(QStringLiteral("B.ORG")));
    QVERIFY(!registry.DeleteValue(QStringLiteral("b.org")));
    QCOMPARE(registry.GetValueNames(),
             (QStringList{QStringLiteral("a.org"), QStringLiteral("c.org")}));
}

void tst_Registry::readOnlyOpenCreatesNothing()
{
    const QString file = m_env->machineHive();
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    QVERIFY(!registry.KeyExists(QStringLiteral("Software\\Microsoft\\Rowen")));
    QVERIFY(!registry.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), true));
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(!QFileInfo::exists(QFileInfo(file).absolutePath()));
}

void tst_Registry::readOnlyHiveIsReadableButRefusesWrites()
{
    {
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        registry.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), true);
        registry.WriteString(QStringLiteral("Level"), QStringLiteral("abcd"));
    }
    // The installed machine hive belongs to root and an ordinary user only reads it. Root
    // ignores file permissions, so the reading is done by a child that gives root up.
    const QString file = m_env->machineHive();
    const QString folder = QFileInfo(file).absolutePath();
    QFile::setPermissions(file,
                          QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                      QFileDevice::ReadOther | QFileDevice::ExeOther |
                                      QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    for (QString dir = QFileInfo(folder).absolutePath(); dir.startsWith(m_env->root());
         dir = QFileInfo(dir).absolutePath()) {
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther);
        if (dir == m_env->root())
            break;
    }
    QProcess reader;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVARD_TEST_READER"), file);
    reader.setProcessEnvironment(environment);
    reader.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(),
             QStringLiteral("read abcd; write refused; no journal"));
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void tst_Registry::writeToUnwritableFolderRaisesAndChangesNothing()
{
    // A plain file where the hive's folder should be: no rights can make this writable,
    // so the check holds for root as well.
    const QString blocker = m_env->root() + QStringLiteral("/blocked");
    writeBytes(blocker, QByteArray());
    TRegistry registry;
    registry.SetHiveFile(blocker + QStringLiteral("/Quelvard/registry.db"));
    QVERIFY_THROWS_EXCEPTION(EQuelvardError,
                             registry.OpenKey(QStringLiteral("Software\\Quelvard"), true));
    QCOMPARE(QFileInfo(blocker).size(), 0);
    QVERIFY(QFileInfo(blocker).isFile());
}

void tst_Registry::damagedFileIsNeverTouched_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text file") << QByteArray("this is not a database\n");
    QByteArray header("SQLite format 3\0", 16);
    QTest::newRow("truncated database") << header + QByteArray(84, '\xff') + QByteArray(300, 'x');
}

void tst_Registry::damagedFileIsNeverTouched()
{
    QFETCH(QByteArray, content);
    const QString file = userHive();
    writeBytes(file, content);

    TRegistry registry;
    bool raised = false;
    try {
        registry.OpenKey(QStringLiteral("Software\\Quelvard"), true);
        registry.WriteString(QStringLiteral("Position"), QStringLiteral("1,2,3,4"));
    } catch (const EQuelvardError &) {
        raised = true;
    }
    QVERIFY(raised);
    TRegistry reader(TRegistry::KEY_READ);
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, reader.KeyExists(QStringLiteral("Software")));

    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), content);
    QVERIFY(!QFileInfo::exists(file + QStringLiteral("-journal")));
}

void tst_Registry::unknownKeysAndValuesSurvive()
{
    {
        TRegistry registry;
        registry.OpenKey(QStringLiteral("Software\\SomeoneElse"), true);
        registry.WriteString(QStringLiteral("Theirs"), QStringLiteral("keep me"));
        registry.OpenKey(QStringLiteral("Software\\Quelvard"), true);
        registry.WriteString(QStringLiteral("Position"), QStringLiteral("1,1,1,1"));
        registry.WriteString(QStringLiteral("Position"), QStringLiteral("2,2,2,2"));
    }
    TRegistry reader(TRegistry::KEY_READ);
    reader.OpenKey(QStringLiteral("Software\\SomeoneElse"), false);
    QCOMPARE(reader.ReadString(QStringLiteral("Theirs")), QStringLiteral("keep me"));
}

void tst_Registry::batchIsOneChangeOrNone_data()
{
    QTest::addColumn<bool>("commit");
    QTest::newRow("committed") << true;
    QTest::newRow("abandoned") << false;
}

// Several writes to the machine store land together, or, abandoned half-way, not at all.
void tst_Registry::batchIsOneChangeOrNone()
{
    QFETCH(bool, commit);
    const QString key = QStringLiteral("Software\\Quelvard\\Policies");
    const QString file = m_env->machineHive();
    {
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        registry.OpenKey(key, true);
        registry.WriteString(QStringLiteral("Old"), QStringLiteral("1"));
    }
    QFile hive(file);
    QVERIFY(hive.open(QIODevice::ReadOnly));
    const QByteArray before = hive.readAll();
    hive.close();
    {
        TRegistry batch;
        batch.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        batch.BeginBatch();
        batch.OpenKey(key + QStringLiteral("\\Sub"), true);
        batch.WriteString(QStringLiteral("A"), QStringLiteral("a"));
        batch.OpenKey(key, true);
        QVERIFY(batch.DeleteValue(QStringLiteral("Old")));
        // Nothing is in place before the end.
        QCOMPARE(readValueDirect(file, key, QStringLiteral("Old")), QStringLiteral("1"));
        if (commit)
            batch.CommitBatch();
    }
    QCOMPARE(readValueDirect(file, key + QStringLiteral("\\Sub"), QStringLiteral("A")),
             commit ? QStringLiteral("a") : QString());
    QCOMPARE(readValueDirect(file, key, QStringLiteral("Old")),
             commit ? QString() : QStringLiteral("1"));
    if (!commit) {
        QVERIFY(hive.open(QIODevice::ReadOnly));
        QCOMPARE(hive.readAll(), before);
    }
    QVERIFY(!QFile::exists(file + QStringLiteral(".new")));
}

void tst_Registry::twoProcessesWritingAtOnce()
{
    const int perWriter = 150;
    QList<QProcess *> writers;
    for (const char *prefix : {"first", "second"}) {
        auto *process = new QProcess(this);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("QUELVARD_TEST_WRITER"),
            QStringLiteral("%1|%2|%3").arg(userHive(), QLatin1String(prefix)).arg(perWriter));
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationFilePath(), {});
        writers << process;
    }
    for (QProcess *process : writers) {
        QVERIFY(process->waitForFinished(120000));
        QCOMPARE(process->exitCode(), 0);
    }
    TRegistry reader(TRegistry::KEY_READ);
    QVERIFY(reader.OpenKey(QStringLiteral("Software\\Quelvard\\Shared"), false));
    QCOMPARE(reader.GetValueNames().size(), 2 * perWriter);
}

// Run as a child process: reads a hive it may not write, as an ordinary user would.
int runReader(const QString &hive)
{
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 3;
    AppPaths::OverrideMachineHiveFile(hive);
    QString verdict;
    try {
        TRegistry registry(TRegistry::KEY_READ);
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), false))
            return 4;
        verdict = QStringLiteral("read ") + registry.ReadString(QStringLiteral("Level"));
    } catch (const EQuelvardError &error) {
        verdict = QStringLiteral("read failed: ") + error.message();
    }
    try {
        TRegistry writer;
        writer.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        writer.OpenKey(QStringLiteral("Software\\Microsoft\\Rowen"), true);
        writer.WriteString(QStringLiteral("Level"), QStringLiteral("x"));
        verdict += QStringLiteral("; write accepted");
    } catch (const EQuelvardError &) {
        verdict += QStringLiteral("; write refused");
    }
    verdict += QFileInfo::exists(hive + QStringLiteral("-journal"))
                   ? QStringLiteral("; journal left")
                   : QStringLiteral("; no journal");
    printf("%s\n", qPrintable(verdict));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray readOnly = qgetenv("QUELVARD_TEST_READER");
    if (!readOnly.isEmpty())
        return runReader(QString::fromUtf8(readOnly));
    const QByteArray writer = qgetenv("QUELVARD_TEST_WRITER");
    if (!writer.isEmpty()) {
        const QList<QByteArray> parts = writer.split('|');
        try {
            return runWriter(QString::fromUtf8(parts.at(0)), QString::fromUtf8(parts.at(1)),
                             parts.at(2).toInt());
        } catch (const EQuelvardError &error) {
            fprintf(stderr, "%s\n", qPrintable(error.message()));
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    tst_Registry test;
    return TestSupport::RunSuite(&test, argc, argv);
}

#include "tst_registry.moc"
