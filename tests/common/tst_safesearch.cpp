// Which addresses get the engines' safe-search switch, and that it replaces what was given.
#include "common/safesearch.h"
#include "support/testmain.h"

#include <QTest>

using SafeSearch::TLevel;

class tst_SafeSearch : public QObject
{
    Q_OBJECT

private slots:
    void forced_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected"); // empty: left alone
        QTest::newRow("google web search") << "https://www.google.com/search?q=cats"
                                           << "https://www.google.com/search?q=cats&safe=active";
        QTest::newRow("a country domain") << "https://www.google.co.uk/search?q=cats"
                                          << "https://www.google.co.uk/search?q=cats&safe=active";
        QTest::newRow("another country") << "https://google.com.au/search?tbm=isch&q=x"
                                         << "https://google.com.au/search?tbm=isch&q=x&safe=active";
        QTest::newRow("safe=off replaced") << "https://www.google.de/search?safe=off&q=x"
                                           << "https://www.google.de/search?q=x&safe=active";
        QTest::newRow("given twice") << "https://www.google.fr/search?safe=active&safe=off"
                                     << "https://www.google.fr/search?safe=active";
        QTest::newRow("already safe") << "https://www.google.com/search?q=x&safe=active"
                                      << "";
        QTest::newRow("google mail untouched") << "https://mail.google.com/search?q=x"
                                               << "";
        QTest::newRow("a look-alike") << "https://www.google.evil.example/search?q=x"
                                      << "";
        QTest::newRow("google.com.evil") << "https://google.com.evil/search?q=x"
                                         << "";
        QTest::newRow("bing") << "https://www.bing.com/search?q=x&adlt=off"
                              << "https://www.bing.com/search?q=x&adlt=strict";
        QTest::newRow("bing images") << "https://www.bing.com/images/search?q=x"
                                     << "https://www.bing.com/images/search?q=x&adlt=strict";
        QTest::newRow("notbing.com") << "https://notbing.com/search?q=x"
                                     << "";
        QTest::newRow("duckduckgo") << "https://duckduckgo.com/?q=x&kp=-2"
                                    << "https://duckduckgo.com/?q=x&kp=1";
        QTest::newRow("another engine") << "https://search.example/?q=x&safe=off"
                                        << "";
        QTest::newRow("not the web") << "ftp://www.google.com/search?q=x"
                                     << "";
    }
    void forced()
    {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        const auto forced = SafeSearch::Forced(QUrl(address), TLevel::Strict);
        QCOMPARE(forced ? forced->toString(QUrl::FullyEncoded) : QString(), expected);
        QVERIFY(!SafeSearch::Forced(QUrl(address), TLevel::Off));
        // Forced once, it stays: no redirect loop.
        if (forced)
            QVERIFY(!SafeSearch::Forced(*forced, TLevel::Strict));
    }

    void youtubeHeader_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("level");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("strict") << "https://www.youtube.com/watch?v=1" << int(TLevel::Strict)
                                << QByteArray("Strict");
        QTest::newRow("moderate") << "https://m.youtube.com/" << int(TLevel::Moderate)
                                  << QByteArray("Moderate");
        QTest::newRow("its API") << "https://youtubei.googleapis.com/v1/search"
                                 << int(TLevel::Strict) << QByteArray("Strict");
        QTest::newRow("off") << "https://www.youtube.com/" << int(TLevel::Off) << QByteArray();
        QTest::newRow("a look-alike")
            << "https://youtube.com.evil.example/" << int(TLevel::Strict) << QByteArray();
    }
    void youtubeHeader()
    {
        QFETCH(QString, address);
        QFETCH(int, level);
        QFETCH(QByteArray, value);
        QCOMPARE(SafeSearch::YouTubeHeaderValue(QUrl(address), TLevel(level)), value);
    }
};

QUELVARD_TEST_GUILESS_MAIN(tst_SafeSearch)
#include "tst_safesearch.moc"
