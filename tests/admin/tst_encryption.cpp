#include "common/encryption.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
const QString Key1 = QStringLiteral("Qw3#rT8!zP0%kL5$");
const QString Key2 = QStringLiteral("nB7&yU2*eR9(oI4)");
const QString Key3 = QStringLiteral("%Zx6^cV1&bN8*mM3");

bool onlyCipherLetters(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('a') || c > QLatin1Char('p'))
            return false;
    }
    return true;
}
} // namespace

class tst_Encryption : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswers_data();
    void knownAnswers();
    void roundTrip_data();
    void roundTrip();
    void emptyText();
    void prefixStability();
    void oddLengthIgnoresLastLetter();
    void foreignLettersCountAsZero_data();
    void foreignLettersCountAsZero();
    void shortKeyIsZeroPadded();
    void longTextsWork();
    void stopsAtFirstZeroByte();
    void undecodableBytesSurvive();
};

void tst_Encryption::knownAnswers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("cipher");
    QTest::newRow("author's vector")
        << QStringLiteral("Hello  World !\r\n") << QStringLiteral("Remsaalps!123456")
        << QStringLiteral("lbjbhpcpnmmafhjpniilcjkmebcbjblo");
    QTest::newRow("password under key 1")
        << QStringLiteral("Secret12") << Key1 << QStringLiteral("lioacncnbppebhgo");
}

void tst_Encryption::knownAnswers()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, cipher);
    QCOMPARE(CryptString(text, key, true), cipher);
    QCOMPARE(CryptString(cipher, key, false), text);
}

void tst_Encryption::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::newRow("one byte") << QStringLiteral("x") << Key1;
    QTest::newRow("blanks kept") << QStringLiteral("  pass word  ") << Key2;
    QTest::newRow("50 characters") << QString(50, QLatin1Char('Q')) << Key3;
    QTest::newRow("all printable ASCII") << QString::fromLatin1([] {
        QByteArray a;
        for (int c = 32; c < 127; ++c)
            a.append(char(c));
        return a;
    }()) << Key1;
    QTest::newRow("control characters") << QStringLiteral("\x01\t\x1f\x7f") << Key1;
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral(u"Kennwört ÄÖÜ ß € 密码") << Key1;
    QTest::newRow("cipher letters as plain text") << QStringLiteral("abcdefghijklmnop") << Key2;
}

void tst_Encryption::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    const QString cipher = CryptString(text, key, true);
    QCOMPARE(cipher.size(), text.toUtf8().size() * 2);
    QVERIFY(onlyCipherLetters(cipher));
    QCOMPARE(CryptString(text, key, true), cipher); // no state carried between operations
    QCOMPARE(CryptString(cipher, key, false), text);
}

void tst_Encryption::emptyText()
{
    QCOMPARE(CryptString(QString(), Key1, true), QString());
    QCOMPARE(CryptString(QString(), Key1, false), QString());
    QCOMPARE(CryptString(QStringLiteral(""), Key1, true), QString());
}

void tst_Encryption::prefixStability()
{
    // Changing byte n changes pair n and leaves every pair before it as it was.
    const QString base = QStringLiteral("Administrator1");
    const QString cipher = CryptString(base, Key1, true);
    for (int n = 0; n < base.size(); ++n) {
        QString changed = base;
        changed[n] = QChar(changed.at(n).unicode() ^ 1);
        const QString other = CryptString(changed, Key1, true);
        QCOMPARE(other.left(2 * n), cipher.left(2 * n));
        QVERIFY2(other.mid(2 * n, 2) != cipher.mid(2 * n, 2), qPrintable(QString::number(n)));
    }
}

void tst_Encryption::oddLengthIgnoresLastLetter()
{
    const QString cipher = CryptString(QStringLiteral("Secret12"), Key1, true);
    for (const QChar extra : {QLatin1Char('a'), QLatin1Char('p'), QLatin1Char('z')})
        QCOMPARE(CryptString(cipher + extra, Key1, false), QStringLiteral("Secret12"));
    QCOMPARE(CryptString(QStringLiteral("l"), Key1, false), QString());
}

void tst_Encryption::foreignLettersCountAsZero_data()
{
    QTest::addColumn<QString>("foreign");
    QTest::newRow("upper case") << QStringLiteral("L");
    QTest::newRow("past p") << QStringLiteral("q");
    QTest::newRow("digit") << QStringLiteral("7");
    QTest::newRow("blank") << QStringLiteral(" ");
    QTest::newRow("non-Latin") << QStringLiteral(u"ж");
}

void tst_Encryption::foreignLettersCountAsZero()
{
    QFETCH(QString, foreign);
    const QString cipher = CryptString(QStringLiteral("Secret12"), Key1, true);
    // Replace the second letter of the third pair; it must read exactly like "a".
    QString damaged = cipher;
    damaged.replace(5, 1, foreign);
    QString asZero = cipher;
    asZero.replace(5, 1, QStringLiteral("a"));
    QCOMPARE(CryptString(damaged, Key1, false), CryptString(asZero, Key1, false));
    // Text that is all foreign characters reads like all "a".
    QCOMPARE(CryptString(QString(8, foreign.at(0)), Key1, false),
             CryptString(QStringLiteral("aaaaaaaa"), Key1, false));
}

void tst_Encryption::shortKeyIsZeroPadded()
{
    const QString text = QStringLiteral("reminder answer");
    QString padded = QStringLiteral("short");
    padded.append(QString(11, QChar(0)));
    QCOMPARE(CryptString(text, QStringLiteral("short"), true), CryptString(text, padded, true));
    QCOMPARE(CryptString(text, QString(), true), CryptString(text, QString(16, QChar(0)), true));
    // Only the first 16 key bytes count.
    QCOMPARE(CryptString(text, Key1 + QStringLiteral("tail"), true), CryptString(text, Key1, true));
}

void tst_Encryption::longTextsWork()
{
    // Past the bounds an old fixed buffer set (16,500 plain bytes, 65,535 cipher letters).
    QByteArray plain(20000, '\0');
    auto *random = QRandomGenerator::global();
    for (char &c : plain)
        c = char(1 + random->bounded(255));
    const QByteArray cipher = Encryption::EncipherBytes(plain, Key1.toUtf8());
    QCOMPARE(cipher.size(), 40000);
    QCOMPARE(Encryption::DecipherBytes(cipher, Key1.toUtf8()), plain);
    // A long text starts exactly like its short prefix.
    const QByteArray prefixCipher = Encryption::EncipherBytes(plain.left(100), Key1.toUtf8());
    QCOMPARE(cipher.left(200), prefixCipher);

    const QString text(40000, QLatin1Char('w'));
    QCOMPARE(CryptString(CryptString(text, Key2, true), Key2, false), text);
}

void tst_Encryption::stopsAtFirstZeroByte()
{
    QByteArray plain("abc");
    plain.append('\0');
    plain.append("def");
    const QByteArray cipher = Encryption::EncipherBytes(plain, Key1.toUtf8());
    QCOMPARE(cipher.size(), 14);
    QCOMPARE(Encryption::DecipherBytes(cipher, Key1.toUtf8()), QByteArray("abc"));
    // The encipherment of a zero byte under a fresh key deciphers to nothing.
    QCOMPARE(Encryption::DecipherBytes(
                 Encryption::EncipherBytes(QByteArray(1, '\0'), Key1.toUtf8()), Key1.toUtf8()),
             QByteArray());
}

void tst_Encryption::undecodableBytesSurvive()
{
    // Bytes that are not UTF-8 (a single-byte text of another program) come back one
    // character per byte rather than as replacement characters.
    const QByteArray latin1("Pa\xdf"
                            "wort\xe9");
    const QString cipher = QString::fromLatin1(Encryption::EncipherBytes(latin1, Key1.toUtf8()));
    QCOMPARE(CryptString(cipher, Key1, false), QString::fromLatin1(latin1));
}

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_Encryption)
#include "tst_encryption.moc"
