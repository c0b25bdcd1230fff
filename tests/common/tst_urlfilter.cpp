#include "common/urlfilter.h"
#include "support/testmain.h"

#include <QtTest>

// The address filter as an administrator meets it: which address a list lets through, and
// which rule said so.
class tst_UrlFilter : public QObject
{
    Q_OBJECT

private slots:
    void decide_data();
    void decide();
    void malformedPatternsAreRefused_data();
    void malformedPatternsAreRefused();
};

void tst_UrlFilter::decide_data()
{
    QTest::addColumn<QStringList>("blocked");
    QTest::addColumn<QStringList>("allowed");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowedResult");
    QTest::addColumn<QString>("rule");

    const QStringList none;
    auto row = [](const char *name, const QStringList &blocked, const QStringList &allowed,
                  const char *url, bool allowedResult, const char *rule) {
        QTest::newRow(name) << blocked << allowed << QString::fromUtf8(url) << allowedResult
                            << QString::fromUtf8(rule);
    };
    const QStringList example{"example.com"};

    // The examples administrators know from managed browsers' documentation.
    row("host covers itself", example, none, "https://example.com/", false, "example.com");
    row("host covers subdomains", example, none, "http://sub.www.example.com/a", false,
        "example.com");
    row("host is not a suffix of a word", example, none, "http://notexample.com/", true, "");
    row("scheme limits the rule", {"http://example.com"}, none, "https://example.com/", true, "");
    row("scheme written matches", {"http://example.com"}, none, "http://www.example.com/", false,
        "http://example.com");
    row("every https address", {"https://*"}, none, "https://a.example.org/", false, "https://*");
    row("subdomain rule leaves the parent", {"mail.example.com"}, none, "http://example.com/", true,
        "");
    row("leading dot: the host only", {".example.com"}, none, "http://example.com/docs", false,
        ".example.com");
    row("leading dot: not subdomains", {".example.com"}, none, "http://www.example.com/", true, "");
    row("star: everything", {"*"}, none, "ftp://files.example.net/x", false, "*");
    row("star with a port", {"*:8080"}, none, "http://a.example:8080/", false, "*:8080");
    row("star with a port, other port", {"*:8080"}, none, "http://a.example/", true, "");
    row("ip matches itself", {"192.168.1.2"}, none, "http://192.168.1.2/", false, "192.168.1.2");
    row("ip has no subdomains", {"1.2"}, none, "http://192.168.1.2/", true, "");
    row("path prefix", {"example.com/stuff"}, none, "http://www.example.com/stuffing", false,
        "example.com/stuff");
    row("path is case-sensitive", {"example.com/stuff"}, none, "http://example.com/Stuff", true,
        "");
    row("path outside the prefix", {"example.com/stuff"}, none, "http://example.com/other", true,
        "");

    // Ports: written, a rule must match them; the scheme's default counts.
    row("default port counts", {"example.com:80"}, none, "http://example.com/", false,
        "example.com:80");
    row("other port", {"example.com:80"}, none, "http://example.com:8080/", true, "");
    row("port written in the address", example, none, "http://example.com:80/", false,
        "example.com");
    row("https default port", {"example.com:443"}, none, "https://example.com/", false,
        "example.com:443");

    // Queries: every token must be there, in any order; * ends a value prefix.
    row("query tokens in any order", {"example.com/watch@v=1&list"}, none,
        "http://example.com/watch?list=x&v=1", false, "example.com/watch@v=1&list");
    row("query token missing", {"example.com/watch@v=1&list"}, none, "http://example.com/watch?v=1",
        true, "");
    row("query value prefix", {"example.com?id=ab*"}, none, "http://example.com/?id=abc", false,
        "example.com?id=ab*");
    row("query value not the prefix", {"example.com?id=ab*"}, none, "http://example.com/?id=b",
        true, "");

    // Spellings that must not slip past a rule.
    row("capitals", example, none, "HTTP://EXAMPLE.COM/", false, "example.com");
    row("trailing dot", example, none, "http://example.com./", false, "example.com");
    row("trailing dot and capitals", example, none, "http://WWW.Example.com./", false,
        "example.com");
    row("user information", example, none, "http://user:pw@example.com/", false, "example.com");
    row("user information naming another host", example, none, "http://other.org@example.com/",
        false, "example.com");
    row("percent-encoding in the host", example, none, "http://%65xample.com/", false,
        "example.com");
    row("international name against its punycode", {"xn--exmple-cua.com"}, none,
        "http://exämple.com/", false, "xn--exmple-cua.com");
    row("punycode against an international rule", {"exämple.com"}, none,
        "http://xn--exmple-cua.com/", false, "exämple.com");
    row("hexadecimal loopback", {"127.0.0.1"}, none, "http://0x7f.1/", false, "127.0.0.1");
    row("octal loopback", {"127.0.0.1"}, none, "http://0177.0.0.1/", false, "127.0.0.1");

    // Which rule wins.
    row("longer host wins", {"www.example.com"}, example, "http://www.example.com/", false,
        "www.example.com");
    row("longer host wins, allowing", example, {"www.example.com"}, "http://www.example.com/", true,
        "www.example.com");
    row("host only over subdomains", {"example.com"}, {".example.com"}, "http://example.com/", true,
        ".example.com");
    row("longer path wins", {"example.com/a/b"}, {"example.com/a"}, "http://example.com/a/b/c",
        false, "example.com/a/b");
    row("more query tokens win", {"example.com@a=1&b=2"}, {"example.com@a=1"},
        "http://example.com/?a=1&b=2", false, "example.com@a=1&b=2");
    row("a tie goes to allow", {"example.com"}, {"http://example.com"}, "http://example.com/", true,
        "http://example.com");
    row("allow-list lets its host through", {"*"}, {"school.example"},
        "https://www.school.example/", true, "school.example");
    row("allow-list keeps the rest out", {"*"}, {"school.example"}, "https://example.org/", false,
        "*");
    row("nothing matches", {"example.org"}, none, "http://example.com/", true, "");

    // The program's own pages stay reachable under any list.
    row("own pages", {"*"}, none, "quelvard://home/start.html", true, "");
    row("empty page", {"*"}, none, "about:blank", true, "");
}

void tst_UrlFilter::decide()
{
    QFETCH(QStringList, blocked);
    QFETCH(QStringList, allowed);
    QFETCH(QString, url);
    QFETCH(bool, allowedResult);
    QFETCH(QString, rule);

    TUrlFilter filter;
    QStringList problems;
    filter.SetRules(blocked, allowed, &problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    const TUrlFilter::TDecision decision = filter.Decide(QUrl(url));
    QCOMPARE(decision.Allowed, allowedResult);
    QCOMPARE(decision.Rule, rule);
}

void tst_UrlFilter::malformedPatternsAreRefused_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("problem");

    QTest::newRow("empty") << ""
                           << "empty";
    QTest::newRow("blank inside") << "exa mple.com"
                                  << "blanks";
    QTest::newRow("star inside a host") << "*.example.com"
                                        << "* stands only";
    QTest::newRow("empty label") << "a..example"
                                 << "not a host name";
    QTest::newRow("label starting with a hyphen") << "-x.example"
                                                  << "not a host name";
    QTest::newRow("port out of range") << "example.com:70000"
                                       << "1 to 65535";
    QTest::newRow("port not a number") << "example.com:http"
                                       << "1 to 65535";
    QTest::newRow("bad scheme") << "1http://example.com"
                                << "not a scheme";
    QTest::newRow("no host") << "http:///"
                             << "no host";
    QTest::newRow("fragment") << "example.com/a#b"
                              << "fragment";
    QTest::newRow("empty query token") << "example.com@a=1&&b"
                                       << "empty token";
}

void tst_UrlFilter::malformedPatternsAreRefused()
{
    QFETCH(QString, pattern);
    QFETCH(QString, problem);

    QString why;
    QVERIFY(!UrlFilter::Parse(pattern, &why));
    QVERIFY2(why.contains(problem), qPrintable(why));

    // A refused pattern decides nothing; the rest of its list still does.
    TUrlFilter filter;
    QStringList problems;
    filter.SetRules({pattern, QStringLiteral("blocked.example")}, {}, &problems);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(filter.RuleCount(), 1);
    QVERIFY(!filter.Decide(QUrl(QStringLiteral("http://blocked.example/"))).Allowed);
}

QUELVARD_TEST_GUILESS_MAIN(tst_UrlFilter)
#include "tst_urlfilter.moc"
