#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QFile>
#include <QtTest>
#include <sqlite3.h>

// The allowed-sites store on a hive of its own, and the blocking rule on the loaded list.
class tst_AllowedSites : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void firstLoadCreatesTheKeyAndBlocksAll();
    void normalise_data();
    void normalise();
    void valuesOfAnyTypeCountByName();
    void addKeepsAnExistingValue();
    void addRefusesTheUnnamedValue();
    void removeDeletesOnlyThatName();
    void isAllowed_data();
    void isAllowed();
    void unreadableStoreBlocksEverything_data();
    void unreadableStoreBlocksEverything();

private:
    QString hiveFile() const { return m_env->userHive(); }
    // Writes a value straight into the hive, as an administrator editing it by hand would.
    void putRawValue(const QByteArray &name, int type, const QByteArray &data);
};

void tst_AllowedSites::putRawValue(const QByteArray &name, int type, const QByteArray &data)
{
    PopupStore::ListSites(); // creates the schema and the key
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(hiveFile()).constData(), &db), SQLITE_OK);
    sqlite3_stmt *stmt = nullptr;
    QCOMPARE(sqlite3_prepare_v2(db,
                                "INSERT OR REPLACE INTO reg_values (key, name, type, data) "
                                "VALUES ('Software\\Quelvard\\Popups', ?, ?, ?)",
                                -1, &stmt, nullptr),
             SQLITE_OK);
    sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt, 2, type);
    sqlite3_bind_blob(stmt, 3, data.constData(), int(data.size()), SQLITE_TRANSIENT);
    QCOMPARE(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

void tst_AllowedSites::firstLoadCreatesTheKeyAndBlocksAll()
{
    QVERIFY(!QFile::exists(hiveFile()));
    QVERIFY(PopupStore::LoadNormalisedSites().isEmpty());
    TRegistry registry;
    QVERIFY(registry.KeyExists(PopupStore::KeyPath()));
    QVERIFY(!PopupStore::IsAllowed(PopupStore::LoadNormalisedSites(),
                                   QStringLiteral("http://example.com/")));
}

void tst_AllowedSites::normalise_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("loaded");

    QTest::newRow("blanks and capitals")
        << QStringList{" Example.COM  "} << QStringList{"example.com"};
    QTest::newRow("control characters at the ends")
        << QStringList{"\tsite.org\r\n"} << QStringList{"site.org"};
    QTest::newRow("inner spaces removed")
        << QStringList{"ex ample. com"} << QStringList{"example.com"};
    QTest::newRow("inner tab kept") << QStringList{"ex\tample.com"} << QStringList{"ex\tample.com"};
    QTest::newRow("only blanks dropped")
        << QStringList{"   ", "a.com", "\t"} << QStringList{"a.com"};
    QTest::newRow("unnamed value dropped") << QStringList{"", "b.com"} << QStringList{"b.com"};
    QTest::newRow("only A to Z lowered") << QStringList{"ÄBC.Com"} << QStringList{"Äbc.com"};
    QTest::newRow("order and duplicates kept") << QStringList{"z.com", " A.com", "a.com", "m.com"}
                                               << QStringList{"z.com", "a.com", "a.com", "m.com"};
}

void tst_AllowedSites::normalise()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, loaded);
    QCOMPARE(PopupStore::NormaliseSites(stored), loaded);
}

void tst_AllowedSites::valuesOfAnyTypeCountByName()
{
    putRawValue(" Hand.Made ", TRegistry::REG_SZ, "some data");
    putRawValue("dword.example", TRegistry::REG_DWORD, QByteArray("\x01\x00\x00\x00", 4));
    putRawValue("binary.example", TRegistry::REG_BINARY, QByteArray());
    putRawValue("", TRegistry::REG_SZ, "the default value");
    putRawValue("bad\xff\xfe"
                "bytes",
                TRegistry::REG_SZ, QByteArray());

    const QStringList sites = PopupStore::LoadNormalisedSites();
    QVERIFY(sites.contains(QStringLiteral("hand.made")));
    QVERIFY(sites.contains(QStringLiteral("dword.example")));
    QVERIFY(sites.contains(QStringLiteral("binary.example")));
    QCOMPARE(sites.size(), 4); // the unnamed value is no site
    QVERIFY(PopupStore::IsAllowed(sites, QStringLiteral("http://HAND.made/x")));
    QVERIFY(PopupStore::IsAllowed(sites, QStringLiteral("https://dword.example/")));
}

void tst_AllowedSites::addKeepsAnExistingValue()
{
    putRawValue("Kept.Example", TRegistry::REG_DWORD, QByteArray("\x07\x00\x00\x00", 4));
    PopupStore::AddSite(QStringLiteral("kept.example"));
    PopupStore::AddSite(QStringLiteral("new.example"));
    PopupStore::AddSite(QStringLiteral("new.example"));

    QCOMPARE(PopupStore::ListSites(),
             (QStringList{QStringLiteral("Kept.Example"), QStringLiteral("new.example")}));
    TRegistry registry;
    QVERIFY(registry.OpenKey(PopupStore::KeyPath(), false));
    QVERIFY_THROWS_EXCEPTION(std::exception, registry.ReadString(QStringLiteral("kept.example")));
    QCOMPARE(registry.ReadString(QStringLiteral("new.example")), QString());
}

void tst_AllowedSites::addRefusesTheUnnamedValue()
{
    PopupStore::AddSite(QString());
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_AllowedSites::removeDeletesOnlyThatName()
{
    PopupStore::AddSite(QStringLiteral("a.example"));
    putRawValue(" b.example ", TRegistry::REG_SZ, QByteArray());
    PopupStore::RemoveSite(QStringLiteral("missing.example"));
    PopupStore::RemoveSite(QStringLiteral("b.example"));
    QCOMPARE(PopupStore::ListSites().size(), 2);
    PopupStore::RemoveSite(QStringLiteral(" B.example "));
    PopupStore::RemoveSite(QStringLiteral("A.EXAMPLE"));
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_AllowedSites::isAllowed_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("exact domain") << "http://example.com/page?x=1" << true;
    QTest::newRow("other scheme, same domain") << "https://example.com/" << true;
    QTest::newRow("letter case ignored") << "http://EXAMPLE.Com/" << true;
    QTest::newRow("subdomain refused") << "http://www.example.com/" << false;
    QTest::newRow("parent domain refused") << "http://com/" << false;
    QTest::newRow("port not listed") << "http://example.com:8080/" << false;
    QTest::newRow("port listed") << "http://host.test:8080/a" << true;
    QTest::newRow("listed port needed") << "http://host.test/a" << false;
    QTest::newRow("other port") << "http://host.test:8081/a" << false;
    QTest::newRow("empty domain") << "about:blank" << false;
    QTest::newRow("no address") << "" << false;
    QTest::newRow("local file") << "file:///tmp/example.com" << false;
    // The administrator's command keeps international names in ACE form.
    QTest::newRow("international name") << QString::fromUtf8("http://b\xc3\xbc"
                                                             "cher.de:81/")
                                        << true;
    QTest::newRow("international name, ACE") << "http://xn--bcher-kva.de:81/" << true;
}

void tst_AllowedSites::isAllowed()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    const QStringList sites{QStringLiteral("example.com"), QStringLiteral("host.test:8080"),
                            QStringLiteral("xn--bcher-kva.de:81")};
    QCOMPARE(PopupStore::IsAllowed(sites, url), allowed);
}

void tst_AllowedSites::unreadableStoreBlocksEverything_data()
{
    QTest::addColumn<bool>("hiveIsFolder");
    QTest::newRow("damaged hive file") << false;
    QTest::newRow("hive path is a folder") << true;
}

void tst_AllowedSites::unreadableStoreBlocksEverything()
{
    QFETCH(bool, hiveIsFolder);
    if (hiveIsFolder) {
        QVERIFY(QDir().mkpath(hiveFile()));
    } else {
        writeBytes(hiveFile(), QByteArray(4096, '\x5a'));
    }
    // Everything blocked without a word to the user, but with one in the log.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^PopupStore::LoadNormalisedSites failed")));
    QVERIFY(PopupStore::LoadNormalisedSites().isEmpty());
    QVERIFY_THROWS_EXCEPTION(std::exception, PopupStore::AddSite(QStringLiteral("a.com")));
    if (!hiveIsFolder)
        QCOMPARE(readBytes(hiveFile()), QByteArray(4096, '\x5a')); // nothing overwritten
}

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_AllowedSites)
#include "tst_allowedsites.moc"
