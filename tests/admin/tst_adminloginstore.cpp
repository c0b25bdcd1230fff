#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/encryption.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/inifile.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sqlite3.h>

using namespace GenUtilities;

Q_DECLARE_METATYPE(recAdminLogin)

namespace {

const QString Key1 = QStringLiteral("Qw3#rT8!zP0%kL5$");
const QString Key2 = QStringLiteral("nB7&yU2*eR9(oI4)");
const QString Key3 = QStringLiteral("%Zx6^cV1&bN8*mM3");
const QString LoginKey = QStringLiteral("Software\\Microsoft\\Rowen");
const QStringList ValueNames = {QStringLiteral("Level"), QStringLiteral("Confirm"),
                                QStringLiteral("Confirm1"), QStringLiteral("Obscure"),
                                QStringLiteral("Obscure1")};

recAdminLogin login(const QString &password, const QString &q1 = QString(),
                    const QString &a1 = QString(), const QString &q2 = QString(),
                    const QString &a2 = QString())
{
    return recAdminLogin{password, q1, a1, q2, a2};
}

char *describe(const recAdminLogin &r)
{
    return qstrdup(
        qPrintable(QStringLiteral("{%1|%2|%3|%4|%5}")
                       .arg(r.Password, r.Question1, r.Answer1, r.Question2, r.Answer2)));
}

// Writes raw (already enciphered or deliberately odd) values into the machine hive.
void writeHive(const QStringList &rawValues)
{
    TRegistry registry(TRegistry::KEY_ALL_ACCESS);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKey(LoginKey, true));
    for (int i = 0; i < rawValues.size(); ++i)
        registry.WriteString(ValueNames.at(i), rawValues.at(i));
}

void writeHiveLogin(const recAdminLogin &r)
{
    writeHive({CryptString(r.Password, Key1, true), CryptString(r.Question1, Key1, true),
               CryptString(r.Answer1, Key1, true), CryptString(r.Question2, Key1, true),
               CryptString(r.Answer2, Key1, true)});
}

QStringList readHive()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    QStringList values;
    if (!registry.OpenKeyReadOnly(LoginKey))
        return values;
    for (const QString &name : ValueNames)
        values << (registry.ValueExists(name) ? registry.ReadString(name)
                                              : QStringLiteral("<none>"));
    return values;
}

QString readHiveValue(const QString &name)
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    return registry.OpenKeyReadOnly(LoginKey) ? registry.ReadString(name) : QString();
}

// Puts a value of another type straight into the hive, as a damaged or foreign writer would.
void writeForeignValue(const QString &name)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(AppPaths::MachineHiveFile()).constData(), &db),
             SQLITE_OK);
    const QByteArray sql = "DELETE FROM reg_values WHERE name = '" + name.toUtf8() +
                           "'; INSERT INTO reg_values (key, name, type, data) VALUES ('" +
                           LoginKey.toUtf8() + "', '" + name.toUtf8() + "', 4, x'2a000000');";
    QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// The companion product's settings file: enciphered section, entry names and values.
struct CompanionEntries
{
    QString password, q1, a1, q2, a2;
};

QByteArray companionFile(const CompanionEntries &e, const QByteArray &lineEnd = "\r\n")
{
    QByteArray out = "[OtherSection]" + lineEnd + "Unrelated=1" + lineEnd;
    out += "[" + CryptString(QStringLiteral("GeneralPreferences"), Key1, true).toLatin1() + "]" +
           lineEnd;
    auto entry = [&](const QString &name, const QString &value, const QString &key) {
        if (value.isNull())
            return;
        out += CryptString(name, key, true).toLatin1() + "=" +
               CryptString(value, key, true).toLatin1() + lineEnd;
    };
    entry(QStringLiteral("LoginPassword"), e.password, Key2);
    entry(QStringLiteral("LoginQuestion1"), e.q1, Key3);
    entry(QStringLiteral("LoginAnswer1"), e.a1, Key3);
    entry(QStringLiteral("LoginQuestion2"), e.q2, Key3);
    entry(QStringLiteral("LoginAnswer2"), e.a2, Key3);
    return out;
}

const auto writeCompanion = [](const QByteArray &c) { writeBytes(GetCompanionSettingsFile(), c); };

} // namespace

namespace QTest {
template <> char *toString(const recAdminLogin &r)
{
    return describe(r);
}
} // namespace QTest

class tst_AdminLoginStore : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void nothingStoredGivesEmptyRecord();
    void saveThenLoad_data();
    void saveThenLoad();
    void storedValuesAreKey1CipherText();
    void emptyRemindersStoredAsEmptyStrings();
    void migration_data();
    void migration();
    void emptyLevelTakesAllFromCompanion();
    void migratedLoginIsWrittenAtOnce();
    void refusedHiveMigratesOnEveryLoad();
    void companionWithoutPasswordIsNotSaved();
    void hivePasswordWinsOverCompanion();
    void foreignValueTypeFailsTheLoad();
    void damagedHiveFailsTheLoad();
    void unreadableCompanionFailsTheLoad();
    void companionOfAnyBytesLoadsQuietly();
    void hiveCipherTextOfAnyCharacters();
    void refusedSaveReturnsFalse_data();
    void refusedSaveReturnsFalse();
    void verificationLoadDoesNotMigrate();
    void readCompanionLoginEntry();
};

void tst_AdminLoginStore::nothingStoredGivesEmptyRecord()
{
    QCOMPARE(LoadAdminLogin(), recAdminLogin());
    // A load creates nothing.
    QVERIFY(!QFileInfo::exists(AppPaths::MachineHiveFile()));
}

void tst_AdminLoginStore::saveThenLoad_data()
{
    QTest::addColumn<recAdminLogin>("record");
    QTest::newRow("password only") << login(QStringLiteral("Secret12"));
    QTest::newRow("full record") << login(QStringLiteral("Adm1nistrator"),
                                          QStringLiteral("First pet?"), QStringLiteral("Rex"),
                                          QStringLiteral("Town of birth?"), QStringLiteral("Oslo"));
    QTest::newRow("second reminder only") << login(QStringLiteral("12345678"), QString(), QString(),
                                                   QStringLiteral("Q2"), QStringLiteral("A2"));
    QTest::newRow("case and blanks inside kept")
        << login(QStringLiteral("PaSs WoRd"), QStringLiteral("Was ist 1+1?"),
                 QStringLiteral("ZWEI zwei"), QString(), QString());
    QTest::newRow("non-ASCII") << login(QStringLiteral(u"pässwörd€"), QStringLiteral(u"Фамилия?"),
                                        QStringLiteral(u"Иванов"), QString(), QString());
    QTest::newRow("longest the dialogs allow") << login(
        QString(20, QLatin1Char('p')), QString(50, QLatin1Char('q')), QString(25, QLatin1Char('a')),
        QString(50, QLatin1Char('Q')), QString(25, QLatin1Char('A')));
}

void tst_AdminLoginStore::saveThenLoad()
{
    QFETCH(recAdminLogin, record);
    QVERIFY(SaveAdminLogin(record));
    QCOMPARE(LoadAdminLogin(), record);
    // A second save replaces the whole record.
    const recAdminLogin other = login(QStringLiteral("Another1"));
    QVERIFY(SaveAdminLogin(other));
    QCOMPARE(LoadAdminLogin(), other);
}

void tst_AdminLoginStore::storedValuesAreKey1CipherText()
{
    QVERIFY(SaveAdminLogin(
        login(QStringLiteral("Secret12"), QStringLiteral("Q"), QStringLiteral("a"))));
    const QStringList values = readHive();
    QCOMPARE(values.value(0), QStringLiteral("lioacncnbppebhgo"));
    QCOMPARE(values.value(1), CryptString(QStringLiteral("Q"), Key1, true));
    QCOMPARE(values.value(2), CryptString(QStringLiteral("a"), Key1, true));
}

void tst_AdminLoginStore::emptyRemindersStoredAsEmptyStrings()
{
    writeHiveLogin(login(QStringLiteral("Old12345"), QStringLiteral("q"), QStringLiteral("a"),
                         QStringLiteral("q"), QStringLiteral("a")));
    QVERIFY(SaveAdminLogin(login(QStringLiteral("Secret12"))));
    QCOMPARE(readHive(), QStringList({QStringLiteral("lioacncnbppebhgo"), QString(), QString(),
                                      QString(), QString()}));
}

void tst_AdminLoginStore::migration_data()
{
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("answer1");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<recAdminLogin>("expected");

    QTest::newRow("plain") << QByteArray("\r\n") << QStringLiteral("Secret12")
                           << QStringLiteral("rex") << QStringLiteral("oslo")
                           << login(QStringLiteral("Secret12"), QStringLiteral("  Pet?  "),
                                    QStringLiteral("rex"), QStringLiteral("Town?"),
                                    QStringLiteral("oslo"));
    QTest::newRow("answers lower-cased and trimmed, password trimmed")
        << QByteArray("\n") << QStringLiteral("  Secret12\t") << QStringLiteral("  ReX Dog ")
        << QStringLiteral("OSLO\t")
        << login(QStringLiteral("Secret12"), QStringLiteral("  Pet?  "), QStringLiteral("rex dog"),
                 QStringLiteral("Town?"), QStringLiteral("oslo"));
    QTest::newRow("password case kept, CR endings")
        << QByteArray("\r") << QStringLiteral("SeCrEt12") << QStringLiteral("ÄBC") << QString()
        << login(QStringLiteral("SeCrEt12"), QStringLiteral("  Pet?  "), QStringLiteral(u"Äbc"),
                 QStringLiteral("Town?"), QString());
}

void tst_AdminLoginStore::migration()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(QString, password);
    QFETCH(QString, answer1);
    QFETCH(QString, answer2);
    QFETCH(recAdminLogin, expected);
    writeCompanion(companionFile(
        {password, QStringLiteral("  Pet?  "), answer1, QStringLiteral("Town?"), answer2},
        lineEnd));
    QCOMPARE(LoadAdminLogin(), expected);
}

void tst_AdminLoginStore::emptyLevelTakesAllFromCompanion()
{
    writeHive({QString(), CryptString(QStringLiteral("Hive question"), Key1, true),
               CryptString(QStringLiteral("hive answer"), Key1, true),
               CryptString(QStringLiteral("Hive question 2"), Key1, true),
               CryptString(QStringLiteral("hive answer 2"), Key1, true)});
    // The companion holds no second reminder: those fields become empty too.
    writeCompanion(companionFile({QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                                  QStringLiteral("rex"), QString(), QString()}));
    QCOMPARE(LoadAdminLogin(),
             login(QStringLiteral("Secret12"), QStringLiteral("Pet?"), QStringLiteral("rex")));
}

void tst_AdminLoginStore::migratedLoginIsWrittenAtOnce()
{
    writeCompanion(companionFile({QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                                  QStringLiteral("Rex"), QString(), QString()}));
    const recAdminLogin migrated = LoadAdminLogin();
    QCOMPARE(readHive().value(0), QStringLiteral("lioacncnbppebhgo"));
    QVERIFY(QFile::remove(GetCompanionSettingsFile()));
    QCOMPARE(LoadAdminLogin(), migrated);
    QCOMPARE(migrated.Answer1, QStringLiteral("rex"));
}

void tst_AdminLoginStore::refusedHiveMigratesOnEveryLoad()
{
    m_env->blockMachineHive();
    writeCompanion(
        companionFile({QStringLiteral("Secret12"), QString(), QString(), QString(), QString()}));
    QCOMPARE(LoadAdminLogin().Password, QStringLiteral("Secret12"));
    QCOMPARE(LoadAdminLogin().Password, QStringLiteral("Secret12"));
    QVERIFY(!QFileInfo::exists(AppPaths::MachineHiveFile()));
    // Once the companion file goes, so does the login: nothing was kept.
    QVERIFY(QFile::remove(GetCompanionSettingsFile()));
    QCOMPARE(LoadAdminLogin(), recAdminLogin());
}

void tst_AdminLoginStore::companionWithoutPasswordIsNotSaved()
{
    writeCompanion(companionFile(
        {QString(), QStringLiteral("Pet?"), QStringLiteral("Rex"), QString(), QString()}));
    QCOMPARE(LoadAdminLogin(), login(QString(), QStringLiteral("Pet?"), QStringLiteral("rex")));
    QVERIFY(!QFileInfo::exists(AppPaths::MachineHiveFile()));
}

void tst_AdminLoginStore::hivePasswordWinsOverCompanion()
{
    const recAdminLogin stored =
        login(QStringLiteral("HivePass1"), QStringLiteral("Q"), QStringLiteral("A"));
    writeHiveLogin(stored);
    writeCompanion(companionFile({QStringLiteral("Secret12"), QStringLiteral("Pet?"),
                                  QStringLiteral("Rex"), QString(), QString()}));
    QCOMPARE(LoadAdminLogin(), stored);
}

void tst_AdminLoginStore::foreignValueTypeFailsTheLoad()
{
    writeHiveLogin(login(QStringLiteral("Secret12"), QStringLiteral("Q1"), QStringLiteral("A1"),
                         QStringLiteral("Q2"), QStringLiteral("A2")));
    writeForeignValue(QStringLiteral("Confirm1"));
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, LoadAdminLogin());

    // A caller who absorbs the error keeps the fields read before it.
    recAdminLogin partial;
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, LoadAdminLogin(partial));
    QCOMPARE(partial, login(QStringLiteral("Secret12"), QStringLiteral("Q1")));

    // The load changed nothing stored, and a save repairs the value.
    QCOMPARE(readHiveValue(QStringLiteral("Level")), QStringLiteral("lioacncnbppebhgo"));
    const recAdminLogin repaired = login(QStringLiteral("Repaired1"));
    QVERIFY(SaveAdminLogin(repaired));
    QCOMPARE(LoadAdminLogin(), repaired);
}

void tst_AdminLoginStore::damagedHiveFailsTheLoad()
{
    const QString hive = AppPaths::MachineHiveFile();
    QVERIFY(QDir().mkpath(QFileInfo(hive).absolutePath()));
    QFile file(hive);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray junk(4096, '\x5a');
    file.write(junk);
    file.close();
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, LoadAdminLogin());
    QVERIFY(!SaveAdminLogin(login(QStringLiteral("Secret12"))));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), junk);
}

void tst_AdminLoginStore::unreadableCompanionFailsTheLoad()
{
    QVERIFY(QDir().mkpath(GetCompanionSettingsFile())); // a folder where the file should be
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, LoadAdminLogin());
    // With a password in the hive the companion file is never opened.
    writeHiveLogin(login(QStringLiteral("Secret12")));
    QCOMPARE(LoadAdminLogin().Password, QStringLiteral("Secret12"));
}

void tst_AdminLoginStore::companionOfAnyBytesLoadsQuietly()
{
    QByteArray junk;
    for (int i = 0; i < 100000; ++i)
        junk.append(char((i * 7919 + i / 13) & 0xFF));
    const QString section = CryptString(QStringLiteral("GeneralPreferences"), Key1, true);
    const QString name = CryptString(QStringLiteral("LoginPassword"), Key2, true);
    for (const QByteArray &content :
         {junk, QByteArray("[") + section.toLatin1() + "]\n" + name.toLatin1() + "=zz%%\x01\xff\n",
          QByteArray("[") + section.toLatin1() + "]\n" + name.toLatin1() + "=\n"}) {
        writeCompanion(content);
        recAdminLogin loaded;
        try {
            loaded = LoadAdminLogin();
        } catch (...) {
            QFAIL("a readable companion file must never fail the load");
        }
        QCOMPARE(loaded.Question1, QString());
    }
}

void tst_AdminLoginStore::hiveCipherTextOfAnyCharacters()
{
    writeHive({QStringLiteral("ZZ%%  \t"), QStringLiteral(u"ёё"), QStringLiteral("a"),
               QStringLiteral("qqqqqqqq"), QString(300, QLatin1Char('p'))});
    const recAdminLogin loaded = LoadAdminLogin();
    // Junk decodes to something, or to nothing; it never raises.
    QCOMPARE(loaded.Answer1, QString()); // one letter is half a pair
    QCOMPARE(readHive().value(0), QStringLiteral("ZZ%%  \t"));
}

void tst_AdminLoginStore::refusedSaveReturnsFalse_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("hive folder is a file") << QStringLiteral("folder");
    QTest::newRow("hive file is a folder") << QStringLiteral("file");
}

void tst_AdminLoginStore::refusedSaveReturnsFalse()
{
    QFETCH(QString, how);
    if (how == QLatin1String("folder"))
        m_env->blockMachineHive();
    else
        QVERIFY(QDir().mkpath(AppPaths::MachineHiveFile()));
    QVERIFY(!SaveAdminLogin(login(QStringLiteral("Secret12"))));
    QCOMPARE(LoadAdminLogin(), recAdminLogin());
}

void tst_AdminLoginStore::verificationLoadDoesNotMigrate()
{
    // Saving a login without a password must not take over the companion's login instead.
    writeCompanion(
        companionFile({QStringLiteral("Secret12"), QString(), QString(), QString(), QString()}));
    QVERIFY(SaveAdminLogin(login(QString(), QStringLiteral("Q"), QStringLiteral("A"))));
    QCOMPARE(readHive().value(0), QString());
    QCOMPARE(readHive().value(1), CryptString(QStringLiteral("Q"), Key1, true));
}

void tst_AdminLoginStore::readCompanionLoginEntry()
{
    const QByteArray section =
        CryptString(QStringLiteral("GeneralPreferences"), Key1, true).toLatin1();
    const QByteArray name = CryptString(QStringLiteral("LoginQuestion1"), Key3, true).toLatin1();
    const QByteArray value = CryptString(QStringLiteral(" Pet? "), Key3, true).toLatin1();
    // Names in upper case, blanks and quotes around the cipher text.
    const TIniFile ini = TIniFile::Parse("[" + section.toUpper() + "]\n" + name.toUpper() +
                                         " = \"  " + value + "  \"\n");
    QCOMPARE(ReadCompanionLoginEntry(ini, QString::fromLatin1(section),
                                     QStringLiteral("LoginQuestion1"), Key3),
             QStringLiteral(" Pet? "));
    QCOMPARE(ReadCompanionLoginEntry(ini, QString::fromLatin1(section),
                                     QStringLiteral("LoginQuestion1"), Key2),
             QString()); // the name enciphers differently under another key: no such entry
    QCOMPARE(ReadCompanionLoginEntry(ini, QStringLiteral("GeneralPreferences"),
                                     QStringLiteral("LoginQuestion1"), Key3),
             QString()); // the section name is enciphered in the file
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_AdminLoginStore)
#include "tst_adminloginstore.moc"
