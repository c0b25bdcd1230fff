#include "common/categorylists.h"
#include "common/compiledfilter.h"
#include "common/urlfilter.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using TEntry = TCompiledFilter::TEntry;

// Imported category lists: the readers of a school's list formats, the compiled file a browser
// maps, and the decisions taken from it beside the patterns, which must be the decisions the
// same entries give as patterns.
class tst_CompiledFilter : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void compiledDecidesAsPatterns();
    void readsListFormats_data();
    void readsListFormats();
    void damagedFileRefusesEverything_data();
    void damagedFileRefusesEverything();
    void listsStoredWithoutCompiledFileRefuseEverything();

private:
    QString listPath() const { return m_env->root() + QStringLiteral("/lists.bin"); }
};

// Random rule sets over a small world of hosts and paths, so rules overlap: every address is
// decided by the patterns alone and by the same rules split between patterns and a compiled
// file, and the two must agree.
void tst_CompiledFilter::compiledDecidesAsPatterns()
{
    const QStringList hosts = {"example.com",          "a.example.com",    "b.a.example.com",
                               "school.org",           "maths.school.org", "10.0.0.7",
                               "xn--bcher-kva.example"};
    const QStringList paths = {"", "/games", "/games/chess", "/g", "/private"};
    QRandomGenerator random(20261210);
    for (int set = 0; set < 200; ++set) {
        QStringList blocked, allowed, patternBlocked, patternAllowed;
        QVector<TEntry> entries;
        const int rules = 1 + random.bounded(8);
        for (int r = 0; r < rules; ++r) {
            const bool allow = random.bounded(2) == 0;
            const QString host = hosts.at(random.bounded(hosts.size()));
            const QString path = paths.at(random.bounded(paths.size()));
            const int kind = random.bounded(4);
            QString pattern = host + path;
            // Some rules only patterns can say: they stay patterns on both sides.
            if (kind == 0)
                pattern = QLatin1Char('.') + pattern;
            else if (kind == 1)
                pattern = QStringLiteral("https://") + pattern;
            (allow ? allowed : blocked) << pattern;
            if (kind <= 1)
                (allow ? patternAllowed : patternBlocked) << pattern;
            else
                entries.append({host, path, allow ? 1 : 0});
        }
        if (random.bounded(5) == 0)
            blocked << QStringLiteral("*");
        if (blocked.contains(QStringLiteral("*")))
            patternBlocked << QStringLiteral("*");
        TUrlFilter patterns;
        patterns.SetRules(blocked, allowed);
        QVERIFY(TCompiledFilter::Write(listPath(), {{"blocked", false, 0}, {"allowed", true, 0}},
                                       entries, nullptr));
        QString why;
        auto compiled = TCompiledFilter::Open(listPath(), &why, true);
        QVERIFY2(compiled, qPrintable(why));
        TUrlFilter split;
        split.SetRules(patternBlocked, patternAllowed);
        split.SetCompiled(compiled);
        for (int a = 0; a < 30; ++a) {
            const QString host = (random.bounded(3) == 0 ? QStringLiteral("www.") : QString()) +
                                 hosts.at(random.bounded(hosts.size()));
            const QString scheme = random.bounded(2) ? "https" : "http";
            const QUrl url(scheme + "://" + host + paths.at(random.bounded(paths.size())) +
                           (random.bounded(2) ? "/x" : ""));
            QVERIFY2(patterns.Decide(url).Allowed == split.Decide(url).Allowed,
                     qPrintable(QStringLiteral("%1 with block %2 allow %3")
                                    .arg(url.toString(), blocked.join(' '), allowed.join(' '))));
        }
    }
}

void tst_CompiledFilter::readsListFormats_data()
{
    QTest::addColumn<QString>("layout"); // "folder/" for a category folder
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("skipped");
    QTest::newRow("plain hosts, comments, blanks, CRLF, case, dot")
        << "list.txt" << QByteArray("# a list\r\nGames.Example.\r\n\r\nchat.example # talk\n")
        << QStringList{"games.example", "chat.example"} << 0;
    QTest::newRow("hosts file")
        << "hosts"
        << QByteArray("127.0.0.1 localhost\n0.0.0.0 ads.example\t tracker.example\n"
                      "::1 ip6-localhost\n")
        << QStringList{"ads.example", "tracker.example"} << 0;
    QTest::newRow("international name")
        << "list" << QByteArray("bücher.example\n") << QStringList{"xn--bcher-kva.example"} << 0;
    QTest::newRow("host and path, IP address")
        << "list" << QByteArray("school.example/private/\n10.1.2.3\n")
        << QStringList{"school.example/private/", "10.1.2.3"} << 0;
    QTest::newRow("not hosts") << "list"
                               << QByteArray("https://x.example/\nwild*.example\nfoo bar\n"
                                             "a..b\nok.example\n")
                               << QStringList{"ok.example"} << 4;
    QTest::newRow("category folder")
        << "adult/" << QByteArray("domains:one.example\nurls:two.example/p\n")
        << QStringList{"one.example", "two.example/p"} << 0;
}

void tst_CompiledFilter::readsListFormats()
{
    QFETCH(QString, layout);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);
    QFETCH(int, skipped);
    QString source = m_env->root() + QLatin1Char('/') + layout;
    if (layout.endsWith(QLatin1Char('/'))) {
        for (const QByteArray &file : content.split('\n')) {
            const qsizetype colon = file.indexOf(':');
            if (colon > 0)
                writeBytes(source + QString::fromUtf8(file.left(colon)),
                           file.mid(colon + 1) + '\n');
        }
    } else {
        writeBytes(source, content);
    }
    CategoryLists::TRead read;
    CategoryLists::ReadSource(source, read);
    QVERIFY2(read.Error.isEmpty(), qPrintable(read.Error));
    QStringList got;
    for (const TEntry &entry : read.Entries)
        got << entry.Host + entry.Path;
    QCOMPARE(got, entries);
    QCOMPARE(read.Skipped, skipped);
    QCOMPARE(read.FirstSkipped.size(), qMin(skipped, 5));
}

void tst_CompiledFilter::damagedFileRefusesEverything_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("truncated") << "truncate";
    QTest::newRow("another version") << "version";
    QTest::newRow("a flipped byte") << "flip";
    QTest::newRow("not a list") << "garbage";
}

void tst_CompiledFilter::damagedFileRefusesEverything()
{
    QFETCH(QString, damage);
    QVERIFY(TCompiledFilter::Write(listPath(), {{"adult", false, 0}},
                                   {{"adult.example", "", 0}, {"other.example", "", 0}}, nullptr));
    QByteArray bytes = readBytes(listPath());
    if (damage == "truncate")
        bytes.chop(3);
    else if (damage == "version")
        bytes[4] = char(bytes[4] + 1);
    else if (damage == "flip")
        bytes[bytes.size() - 2] = char(bytes[bytes.size() - 2] ^ 0x20);
    else
        bytes = QByteArray(200, 'x');
    writeBytes(listPath(), bytes);
    QString why;
    QVERIFY(!TCompiledFilter::Open(listPath(), &why, true));
    QVERIFY(!why.isEmpty());
    // A browser opens without checking the whole file first; a flipped byte is found behind it,
    // and from then on nothing but the program's own pages is let through.
    auto behind = TCompiledFilter::Open(listPath(), &why);
    if (damage != "flip") {
        QVERIFY(!behind);
        return;
    }
    QVERIFY(behind);
    TUrlFilter filter;
    filter.SetCompiled(behind);
    QTRY_VERIFY(!behind->Sound());
    QVERIFY(!filter.Decide(QUrl("https://harmless.example/")).Allowed);
    QVERIFY(filter.Decide(QUrl("quelvard://home/start.html")).Allowed);
}

void tst_CompiledFilter::listsStoredWithoutCompiledFileRefuseEverything()
{
    QVERIFY(CategoryLists::Save("adult", false, {{"adult.example", "", 0}}, nullptr));
    TUrlFilter working;
    QString problem;
    CategoryLists::Apply(working, &problem, true);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(working.Decide(QUrl("http://www.adult.example/")).Category, QStringLiteral("adult"));
    QVERIFY(working.Decide(QUrl("http://child.example/")).Allowed);

    QVERIFY(QFile::remove(CategoryLists::CompiledFile()));
    TUrlFilter refusing;
    CategoryLists::Apply(refusing, &problem, true);
    QVERIFY(problem.contains("quelvard-admin urls rebuild"));
    QVERIFY(!refusing.Decide(QUrl("http://child.example/")).Allowed);
    QVERIFY(refusing.Decide(QUrl("quelvard://home/start.html")).Allowed);
}

QUELVARD_TEST_GUILESS_MAIN(tst_CompiledFilter)
#include "tst_compiledfilter.moc"
