#include "common/machinepolicies.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sqlite3.h>

using namespace MachinePolicies;

// What an administrator's hive may hold, and what the browser makes of it at start.
class tst_MachinePolicies : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("sites");
        QTest::addColumn<int>("wrongType"); // which value is stored with another type: 0 none
        QTest::addColumn<QString>("expectedHome");
        QTest::addColumn<bool>("forget");
        QTest::addColumn<QStringList>("expectedSites");
        QTest::addColumn<int>("problems");

        QTest::newRow("nothing set")
            << ""
            << "" << QStringList{} << 0 << "" << false << QStringList{} << 0;
        QTest::newRow("all set") << "https://school.example/"
                                 << "forget" << QStringList{"Mail.Example", "intra:8080"} << 0
                                 << "https://school.example/" << true
                                 << QStringList{"mail.example", "intra:8080"} << 0;
        QTest::newRow("home page of a refused scheme")
            << "javascript:alert(1)"
            << "keep" << QStringList{} << 0 << "" << false << QStringList{} << 1;
        QTest::newRow("browsing data misspelt")
            << ""
            << "Forget" << QStringList{} << 0 << "" << false << QStringList{} << 1;
        QTest::newRow("home page of another type")
            << "https://a.example/"
            << "forget" << QStringList{} << 1 << "" << true << QStringList{} << 1;
        QTest::newRow("browsing data of another type")
            << "https://a.example/"
            << "forget" << QStringList{} << 2 << "https://a.example/" << false << QStringList{}
            << 1;
        QTest::newRow("a bad site among good ones")
            << ""
            << "" << QStringList{"good.example", "http://bad.example/x", "ok.example"} << 0 << ""
            << false << QStringList{"good.example", "ok.example"} << 1;
    }
    void read()
    {
        QFETCH(QString, home);
        QFETCH(QString, data);
        QFETCH(QStringList, sites);
        QFETCH(int, wrongType);
        QFETCH(QString, expectedHome);
        QFETCH(bool, forget);
        QFETCH(QStringList, expectedSites);
        QFETCH(int, problems);

        {
            TRegistry registry;
            registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
            QVERIFY(registry.OpenKey(KeyPath(), true));
            if (!home.isEmpty())
                registry.WriteString(HomePageValue, home);
            if (!data.isEmpty())
                registry.WriteString(BrowsingDataValue, data);
            QVERIFY(registry.OpenKey(PopupsKeyPath(), true));
            for (const QString &site : sites)
                registry.WriteString(site, QString());
        }
        if (wrongType) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(qPrintable(m_env->machineHive()), &db), SQLITE_OK);
            const QByteArray sql = QByteArray("UPDATE reg_values SET type = 4 WHERE name = '") +
                                   (wrongType == 1 ? "HomePage" : "BrowsingData") + "'";
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }

        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QCOMPARE(policies.HomePage, expectedHome);
        QCOMPARE(policies.browsingData == BrowsingData::Forget, forget);
        QCOMPARE(policies.AllowedSites, expectedSites);
        QVERIFY2(found.size() == problems, qPrintable(found.join('\n')));
    }

    // Downloads are off unless the value plainly says allow, or is not there at all.
    void downloads_data()
    {
        QTest::addColumn<QString>("text"); // null: no value
        QTest::addColumn<bool>("forbidden");
        QTest::newRow("not set") << QString() << false;
        QTest::newRow("allow") << "allow" << false;
        QTest::newRow("forbid") << "forbid" << true;
        QTest::newRow("misspelt") << "Allow" << true;
        QTest::newRow("empty") << "" << true;
    }
    void downloads()
    {
        QFETCH(QString, text);
        QFETCH(bool, forbidden);
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(KeyPath(), true));
        if (!text.isNull())
            registry.WriteString(DownloadsValue, text);
        QStringList found;
        QCOMPARE(Read(&found).downloads == Downloads::Forbid, forbidden);
        QCOMPARE(found.size(), int(forbidden && text != "forbid"));
    }

    // A value not understood leaves the setting off, with one line saying why.
    void kiosk_data()
    {
        QTest::addColumn<QString>("idle");
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<int>("problems");
        QTest::newRow("not set") << QString() << QString() << 0 << false << 0;
        QTest::newRow("kiosk") << "20"
                               << "full-screen" << 20 << true << 0;
        QTest::newRow("a day") << "1440"
                               << "normal" << 1440 << false << 0;
        QTest::newRow("longer than a day") << "1441"
                                           << "Full-Screen" << 0 << false << 2;
        QTest::newRow("negative") << "-1" << QString() << 0 << false << 1;
    }
    void kiosk()
    {
        QFETCH(QString, idle);
        QFETCH(QString, window);
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(KeyPath(), true));
        if (!idle.isNull())
            registry.WriteString(IdleResetValue, idle);
        if (!window.isNull())
            registry.WriteString(WindowValue, window);
        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QTEST(policies.IdleResetMinutes, "minutes");
        QTEST(policies.window == Window::FullScreen, "fullScreen");
        QTEST(int(found.size()), "problems");
    }

    // A store that is there but cannot be read must not open what the administrator closed.
    void unreadableStoreGivesTheSafestSettings()
    {
        writeBytes(m_env->machineHive(), QByteArray(2048, 'x'));
        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QVERIFY(policies.HomePage.isEmpty() && policies.AllowedSites.isEmpty());
        QVERIFY(policies.browsingData == BrowsingData::Forget);
        QVERIFY(!policies.UserChangesAllowed() && policies.StoreUnreadable);
        QCOMPARE(found.size(), 1);
        QVERIFY(found.first().contains(m_env->machineHive()));
    }

    void canWrite()
    {
        QVERIFY(TRegistry::CanWrite(m_env->machineHive()));
        QVERIFY(!QFileInfo::exists(QFileInfo(m_env->machineHive()).absolutePath()));
        m_env->blockMachineHive();
        QVERIFY(!TRegistry::CanWrite(m_env->machineHive()));
    }
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_MachinePolicies)
#include "tst_machinepolicies.moc"
