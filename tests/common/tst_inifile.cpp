#include "common/errors.h"
#include "common/inifile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_IniFile : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
    void readStringDecodes();
    void missingFileReadsEmpty();
    void unreadableFileRaises_data();
    void unreadableFileRaises();
    void readsFileBytesAsTheyAre();
    void largeFileOfManySectionsIsQuick();
};

void tst_IniFile::lookup_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("exists");

    const QByteArray simple("[Main]\r\nKey=Value\r\n");
    QTest::newRow("plain") << simple << QByteArray("Main") << QByteArray("Key")
                           << QByteArray("Value") << true;
    QTest::newRow("section case ignored")
        << simple << QByteArray("mAIN") << QByteArray("Key") << QByteArray("Value") << true;
    QTest::newRow("entry case ignored")
        << simple << QByteArray("Main") << QByteArray("KEY") << QByteArray("Value") << true;
    QTest::newRow("value case kept") << QByteArray("[a]\nk=MiXeD\n") << QByteArray("a")
                                     << QByteArray("k") << QByteArray("MiXeD") << true;
    QTest::newRow("missing section")
        << simple << QByteArray("Other") << QByteArray("Key") << QByteArray() << false;
    QTest::newRow("missing entry")
        << simple << QByteArray("Main") << QByteArray("Nope") << QByteArray() << false;
    QTest::newRow("empty file") << QByteArray() << QByteArray("Main") << QByteArray("Key")
                                << QByteArray() << false;
    QTest::newRow("LF endings") << QByteArray("[s]\nk=v\n") << QByteArray("s") << QByteArray("k")
                                << QByteArray("v") << true;
    QTest::newRow("CR endings") << QByteArray("[s]\rx=1\rk=v\r[t]\rk=w") << QByteArray("s")
                                << QByteArray("k") << QByteArray("v") << true;
    QTest::newRow("mixed endings, no final break")
        << QByteArray("[s]\r\na=1\rb=2\nk=v") << QByteArray("s") << QByteArray("k")
        << QByteArray("v") << true;
    QTest::newRow("blanks around names and value")
        << QByteArray("  [  Main  ]  \n\t Key \t=  spaced value \t\n") << QByteArray("Main")
        << QByteArray("Key") << QByteArray("spaced value") << true;
    QTest::newRow("caller's blanks ignored")
        << simple << QByteArray(" Main ") << QByteArray(" Key ") << QByteArray("Value") << true;
    QTest::newRow("double quotes removed")
        << QByteArray("[s]\nk=\"  in quotes  \"\n") << QByteArray("s") << QByteArray("k")
        << QByteArray("  in quotes  ") << true;
    QTest::newRow("single quotes removed") << QByteArray("[s]\nk='x'\n") << QByteArray("s")
                                           << QByteArray("k") << QByteArray("x") << true;
    QTest::newRow("unmatched quotes kept") << QByteArray("[s]\nk=\"x'\n") << QByteArray("s")
                                           << QByteArray("k") << QByteArray("\"x'") << true;
    QTest::newRow("lone quote kept") << QByteArray("[s]\nk=\"\n") << QByteArray("s")
                                     << QByteArray("k") << QByteArray("\"") << true;
    QTest::newRow("empty quotes give empty") << QByteArray("[s]\nk=\"\"\n") << QByteArray("s")
                                             << QByteArray("k") << QByteArray() << true;
    QTest::newRow("inner quotes kept") << QByteArray("[s]\nk=a\"b\"c\n") << QByteArray("s")
                                       << QByteArray("k") << QByteArray("a\"b\"c") << true;
    QTest::newRow("commas and escapes are plain text")
        << QByteArray("[s]\nk=a, b\\n, %20c\n") << QByteArray("s") << QByteArray("k")
        << QByteArray("a, b\\n, %20c") << true;
    QTest::newRow("second = belongs to the value")
        << QByteArray("[s]\nk = a=b\n") << QByteArray("s") << QByteArray("k") << QByteArray("a=b")
        << true;
    QTest::newRow("first entry wins") << QByteArray("[s]\nk=first\nK=second\n") << QByteArray("s")
                                      << QByteArray("k") << QByteArray("first") << true;
    QTest::newRow("first section wins") << QByteArray("[s]\na=1\n[S]\nk=later\n") << QByteArray("s")
                                        << QByteArray("k") << QByteArray() << false;
    QTest::newRow("same entry in another section")
        << QByteArray("[t]\nk=wrong\n[s]\nk=right\n") << QByteArray("s") << QByteArray("k")
        << QByteArray("right") << true;
    QTest::newRow("section ends at next header") << QByteArray("[s]\n[t]\nk=v\n") << QByteArray("s")
                                                 << QByteArray("k") << QByteArray() << false;
    QTest::newRow("empty value exists")
        << QByteArray("[s]\nk=\n") << QByteArray("s") << QByteArray("k") << QByteArray() << true;
    QTest::newRow("line without = is no entry") << QByteArray("[s]\nk\nk=v\n") << QByteArray("s")
                                                << QByteArray("k") << QByteArray("v") << true;
    QTest::newRow("header name runs to last ]") << QByteArray("[a]b]\nk=v\n") << QByteArray("a]b")
                                                << QByteArray("k") << QByteArray("v") << true;
    QTest::newRow("unclosed [ is an ordinary line") << QByteArray("[s]\n[k=v\n") << QByteArray("s")
                                                    << QByteArray("[k") << QByteArray("v") << true;
    QTest::newRow("entries above the first header")
        << QByteArray("k=top\n[s]\nk=v\n") << QByteArray() << QByteArray("k") << QByteArray("top")
        << true;
    QTest::newRow("non-ASCII letters match exactly only")
        << QByteArray("[\xc3\x84]\nk=v\n") << QByteArray("\xc3\xa4") << QByteArray("k")
        << QByteArray() << false;
    QTest::newRow("value bytes as they are")
        << QByteArray("[s]\nk=\xff\x01z\n", 11) << QByteArray("s") << QByteArray("k")
        << QByteArray("\xff\x01z") << true;
}

void tst_IniFile::lookup()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expected);
    QFETCH(bool, exists);
    const TIniFile ini = TIniFile::Parse(content);
    QCOMPARE(ini.Value(section, name), expected);
    QCOMPARE(ini.ValueExists(section, name), exists);
}

void tst_IniFile::readStringDecodes()
{
    const TIniFile ini = TIniFile::Parse(QByteArray("[InternetShortcut]\n"
                                                    "URL=http://example.test/\xc3\xa4\n"
                                                    "Old=caf\xe9\n"));
    QCOMPARE(ini.ReadString(QStringLiteral("internetshortcut"), QStringLiteral("url")),
             QStringLiteral(u"http://example.test/ä"));
    QCOMPARE(ini.ReadString(QStringLiteral("InternetShortcut"), QStringLiteral("Old")),
             QStringLiteral(u"café"));
    QCOMPARE(ini.ReadString(QStringLiteral("InternetShortcut"), QStringLiteral("None")), QString());
}

void tst_IniFile::missingFileReadsEmpty()
{
    QTemporaryDir dir;
    bool found = true;
    const TIniFile ini = TIniFile::Load(dir.filePath(QStringLiteral("absent.ini")), &found);
    QVERIFY(!found);
    QCOMPARE(ini.Value("s", "k"), QByteArray());
    found = true;
    TIniFile::Load(QString(), &found);
    QVERIFY(!found);
}

void tst_IniFile::unreadableFileRaises_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder") << QStringLiteral("folder");
    QTest::newRow("too large") << QStringLiteral("large");
}

void tst_IniFile::unreadableFileRaises()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(TIniFile::MaxFileSize + 1));
    }
    bool found = false;
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, TIniFile::Load(path, &found));
}

void tst_IniFile::readsFileBytesAsTheyAre()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // A leading byte-order mark (as some editors write) is skipped; a zero byte is part of a
    // value.
    file.write(QByteArray("\xef\xbb\xbf[s]\r\nk=a\0b\r\n[t]\r\nk=v\r\n", 25));
    file.close();
    bool found = false;
    const TIniFile ini = TIniFile::Load(path, &found);
    QVERIFY(found);
    QCOMPARE(ini.Value("t", "k"), QByteArray("v"));
    QCOMPARE(ini.Value("s", "k"), QByteArray("a\0b", 3));
}

void tst_IniFile::largeFileOfManySectionsIsQuick()
{
    // Hundreds of thousands of headers and entries: a lookup stays one pass.
    QByteArray content;
    for (int i = 0; i < 200000; ++i)
        content += "[s" + QByteArray::number(i) + "]\nk=" + QByteArray::number(i) + "\n";
    const TIniFile ini = TIniFile::Parse(content);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ini.Value("S199999", "K"), QByteArray("199999"));
    QCOMPARE(ini.Value("s200000", "k"), QByteArray());
    QVERIFY(timer.elapsed() < 2000);
}

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_IniFile)
#include "tst_inifile.moc"
