#include "common/apppaths.h"
#include "common/genutilities.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class tst_GenUtilities : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void splitCommaText_data();
    void splitCommaText();
    void parsePosition_data();
    void parsePosition();
    void positionRoundTrip();
    void getPositionCreatesTheEmptyKey();
    void getPositionOnDamagedStoreIsEmpty();
    void companionSettingsFile_data();
    void companionSettingsFile();
    void companionSettingsMustBeAFile();
    void appDataFolder_data();
    void appDataFolder();
};

void tst_GenUtilities::splitCommaText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("four numbers") << "10,20,300,200" << QStringList{"10", "20", "300", "200"};
    QTest::newRow("blanks separate") << "10 20,300  200" << QStringList{"10", "20", "300", "200"};
    QTest::newRow("blank after comma") << "10, 20" << QStringList{"10", "20"};
    QTest::newRow("two commas give an empty item") << "1,,2" << QStringList{"1", "", "2"};
    QTest::newRow("quoted item keeps commas and blanks")
        << "\"a, b\",c" << QStringList{"a, b", "c"};
    QTest::newRow("doubled quote inside quotes")
        << "\"say \"\"hi\"\"\",x" << QStringList{"say \"hi\"", "x"};
    QTest::newRow("trailing comma") << "1,2," << QStringList{"1", "2", ""};
    QTest::newRow("control characters separate") << "1\t2\n3" << QStringList{"1", "2", "3"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("unterminated quote") << "\"abc" << QStringList{"abc"};
}

void tst_GenUtilities::splitCommaText()
{
    QFETCH(QString, text);
    QFETCH(QStringList, items);
    QCOMPARE(GenUtilities::SplitCommaText(text), items);
}

void tst_GenUtilities::parsePosition_data()
{
    QTest::addColumn<QString>("stored");
    // Left, Top, Width and Height as read, "?" for one that was not.
    QTest::addColumn<QString>("read");
    QTest::newRow("four numbers") << "10,20,300,200"
                                  << "10,20,300,200";
    QTest::newRow("blanks around") << "  10, 20 ,300,200 "
                                   << "10,20,300,200";
    QTest::newRow("closed while maximised") << "-4,-4,1032,748"
                                            << "-4,-4,1032,748";
    QTest::newRow("a fifth item is ignored") << "1,2,3,4,5"
                                             << "1,2,3,4";
    QTest::newRow("quoted number") << "\"10\",20,30,40"
                                   << "10,20,30,40";
    QTest::newRow("three items") << "10,20,300"
                                 << "?,?,?,?";
    QTest::newRow("empty") << ""
                           << "?,?,?,?";
    QTest::newRow("letters") << "a,b,c,d"
                             << "?,?,?,?";
    QTest::newRow("left and top set first") << "5,6,x,y"
                                            << "5,6,?,?";
    QTest::newRow("width without height") << "5,6,7,y"
                                          << "5,6,7,?";
    QTest::newRow("a bad top stops the rest") << "5,x,7,8"
                                              << "5,?,?,?";
    QTest::newRow("too large for a number") << "99999999999,1,2,3"
                                            << "?,?,?,?";
    QTest::newRow("garbage") << "\"\x01,,\""
                             << "?,?,?,?";
}

void tst_GenUtilities::parsePosition()
{
    QFETCH(QString, stored);
    QFETCH(QString, read);
    const GenUtilities::TStoredPosition position = GenUtilities::ParsePosition(stored);
    QStringList values;
    for (const std::optional<int> &value :
         {position.Left, position.Top, position.Width, position.Height})
        values << (value ? QString::number(*value) : QStringLiteral("?"));
    QCOMPARE(values.join(QLatin1Char(',')), read);
    QCOMPARE(position.Complete(), !read.contains(QLatin1Char('?')));
}

void tst_GenUtilities::positionRoundTrip()
{
    QCOMPARE(GenUtilities::GetPosition(), QString());
    GenUtilities::SavePosition(QStringLiteral("10,20,300,200"));
    QCOMPARE(GenUtilities::GetPosition(), QStringLiteral("10,20,300,200"));
    GenUtilities::SavePosition(QStringLiteral("0,0,1028,744"));
    QCOMPARE(GenUtilities::GetPosition(), QStringLiteral("0,0,1028,744"));
}

void tst_GenUtilities::getPositionCreatesTheEmptyKey()
{
    QCOMPARE(GenUtilities::GetPosition(), QString());
    TRegistry registry(TRegistry::KEY_READ);
    QVERIFY(registry.KeyExists(QStringLiteral("Software\\Quelvard")));
}

void tst_GenUtilities::getPositionOnDamagedStoreIsEmpty()
{
    const QString hive = AppPaths::UserHiveFile();
    writeBytes(hive, "garbage that is no database at all, long enough to have a header........");
    const qint64 size = QFileInfo(hive).size();
    // Kept from the user, not from the log.
    QTest::ignoreMessage(QtWarningMsg, "GetPosition failed: file is not a database");
    QCOMPARE(GenUtilities::GetPosition(), QString());
    QTest::ignoreMessage(QtWarningMsg, "SavePosition failed: file is not a database");
    GenUtilities::SavePosition(QStringLiteral("1,2,3,4")); // nothing written
    QCOMPARE(QFileInfo(hive).size(), size);
}

void tst_GenUtilities::companionSettingsFile_data()
{
    QTest::addColumn<QString>("machineDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("machine folder") << "/var/lib"
                                    << "/var/lib/ZMT/dbchcon";
    QTest::newRow("machine folder with separator") << "/var/lib/"
                                                   << "/var/lib/ZMT/dbchcon";
    QTest::newRow("untrimmed folder kept as given") << " /srv/x"
                                                    << " /srv/x/ZMT/dbchcon";
    QTest::newRow("no machine folder: beside the program")
        << "  " << AppPaths::ProgramDir() + QStringLiteral("ZMT/dbchcon");
    QTest::newRow("empty") << "" << AppPaths::ProgramDir() + QStringLiteral("ZMT/dbchcon");
}

void tst_GenUtilities::companionSettingsFile()
{
    QFETCH(QString, machineDir);
    QFETCH(QString, expected);
    AppPaths::OverrideMachineDataDir(machineDir);
    QCOMPARE(GenUtilities::GetCompanionSettingsFile(), expected);
}

void tst_GenUtilities::companionSettingsMustBeAFile()
{
    QVERIFY(!GenUtilities::CompanionSettingsExist());
    const QString file = GenUtilities::GetCompanionSettingsFile();
    QDir().mkpath(file); // a folder of that name does not count
    QVERIFY(!GenUtilities::CompanionSettingsExist());
    QDir().rmdir(file);
    writeBytes(file, QByteArray());
    QVERIFY(GenUtilities::CompanionSettingsExist());
}

void tst_GenUtilities::appDataFolder_data()
{
    QTest::addColumn<QString>("userDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/home/u/.local/share"
                           << "/home/u/.local/share/Quelvard/";
    QTest::newRow("ends in separator") << "/home/u/.local/share/"
                                       << "/home/u/.local/share/Quelvard/";
    QTest::newRow("blanks trimmed") << " /d \t"
                                    << "/d/Quelvard/";
    QTest::newRow("unknown") << ""
                             << "";
}

void tst_GenUtilities::appDataFolder()
{
    QFETCH(QString, userDir);
    QFETCH(QString, expected);
    AppPaths::OverrideUserDataDir(userDir);
    QCOMPARE(GenUtilities::GetAppDataFolder(), expected);
}

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_GenUtilities)
#include "tst_genutilities.moc"
