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
    void patternsInUseStayValid_data();
    void patternsInUseStayValid();
    void pdfViewer_data();
    void pdfViewer();
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
    row("query key prefix", {"example.com?a*"}, none, "http://example.com/?abc=1", false,
        "example.com?a*");
    row("query key prefix, the key itself", {"example.com?a*"}, none, "http://example.com/?a",
        false, "example.com?a*");
    row("query key prefix, another key", {"example.com?a*"}, none, "http://example.com/?ba=1", true,
        "");
    row("any query", {"example.com/search?*"}, none, "http://example.com/search?q=x", false,
        "example.com/search?*");
    row("any query, none given", {"example.com/search?*"}, none, "http://example.com/search", true,
        "");

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

    // IPv6: an address matches itself however it is written; an IPv4-mapped one is its IPv4
    // address, which the engine connects to.
    const QStringList loopback2{"127.0.0.2"};
    row("IPv4-mapped, dotted", loopback2, none, "http://[::ffff:127.0.0.2]:8123/", false,
        "127.0.0.2");
    row("IPv4-mapped, hexadecimal", loopback2, none, "http://[::ffff:7f00:2]/", false, "127.0.0.2");
    row("IPv4-mapped, written out", loopback2, none, "http://[0:0:0:0:0:FFFF:7F00:2]/", false,
        "127.0.0.2");
    row("IPv4-mapped, let through by its IPv4 address", {"*"}, loopback2,
        "http://[::ffff:7f00:2]:8123/", true, "127.0.0.2");
    row("IPv4-mapped pattern", {"[::ffff:7f00:2]"}, none, "http://127.0.0.2/", false,
        "[::ffff:7f00:2]");
    row("IPv6 pattern", {"[::1]"}, none, "http://[0:0:0:0:0:0:0:1]:8080/", false, "[::1]");
    row("IPv6 pattern written out", {"[2001:DB8:0:0:0:0:0:1]"}, none, "https://[2001:db8::1]/x",
        false, "[2001:DB8:0:0:0:0:0:1]");
    row("IPv6 pattern, another address", {"[::1]"}, none, "http://[::2]/", true, "");
    row("IPv6 pattern with a port", {"[::1]:8080"}, none, "http://[::1]:8081/", true, "");
    row("IPv6 pattern with a scheme and a path", {"http://[fe80::a]/admin"}, none,
        "http://[FE80:0::A]/admin/x", false, "http://[fe80::a]/admin");

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

    // Patterns that could never match say what was meant.
    QTest::newRow("star in a path") << "games.example/*"
                                    << "write \"games.example\"";
    QTest::newRow("star further down a path") << "https://games.example/play/*?x=1"
                                              << "write \"https://games.example/play/?x=1\"";
    QTest::newRow("star before a host") << "https://*.example.com/x"
                                        << "write \"https://example.com/x\"";
    QTest::newRow("mistyped scheme") << "htps://site.example"
                                     << "write \"https://site.example\"";
    QTest::newRow("unknown scheme") << "gopher://site.example"
                                    << "\"gopher\" is not a scheme the browser opens";
    QTest::newRow("scheme without its colon") << "http//site.example"
                                              << "write \"http://site.example\"";
    QTest::newRow("scheme with one slash") << "https:/site.example"
                                           << "write \"https://site.example\"";
    QTest::newRow("scheme without slashes") << "https:site.example:8080/a"
                                            << "write \"https://site.example:8080/a\"";
    QTest::newRow("local file with one slash") << "file:/home/pupil"
                                               << "write \"file:///home/pupil\"";
    QTest::newRow("an address, not a pattern") << "javascript:alert(1)"
                                               << "write \"javascript://*\"";
    QTest::newRow("IPv6 without brackets") << "2001:db8::1/admin"
                                           << "write \"[2001:db8::1]/admin\"";
    QTest::newRow("not an IPv6 address") << "[::g]"
                                         << "\"[::g]\" is not an IPv6 address";
    QTest::newRow("the program's own pages") << "quelvard://home/"
                                             << "always allowed";
}

void tst_UrlFilter::malformedPatternsAreRefused()
{
    QFETCH(QString, pattern);
    QFETCH(QString, problem);

    QString why;
    QVERIFY(!UrlFilter::Parse(pattern, &why));
    QVERIFY2(why.contains(problem), qPrintable(why));
    // Only a pattern with a port in it is told about ports.
    if (!problem.contains(QLatin1String("65535")))
        QVERIFY2(!why.contains(QLatin1String("port")), qPrintable(why));

    // A refused pattern decides nothing; the rest of its list still does.
    TUrlFilter filter;
    QStringList problems;
    filter.SetRules({pattern, QStringLiteral("blocked.example")}, {}, &problems);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(filter.RuleCount(), 1);
    QVERIFY(!filter.Decide(QUrl(QStringLiteral("http://blocked.example/"))).Allowed);
}

// Machine stores and policy files hold patterns written in the managed browsers' format; each
// one that means something keeps being taken.
void tst_UrlFilter::patternsInUseStayValid_data()
{
    QTest::addColumn<QString>("pattern");
    for (const char *pattern : {"example.com",
                                ".example.com",
                                "*",
                                "https://*",
                                "http://example.com",
                                "file://*",
                                "file:///home/",
                                "ftp://files.example",
                                "wss://chat.example",
                                "chrome://*",
                                "javascript://*",
                                "example.com:8080",
                                "*:8080",
                                "localhost",
                                "localhost:8080",
                                "10.0.0.7",
                                "exämple.com",
                                "EXAMPLE.com.",
                                "example.com/stuff",
                                "example.com/a%20b",
                                "example.com/search@q=cat*&safe",
                                "example.com?id=ab*",
                                "[::1]",
                                "[::1]:8080",
                                "https://[2001:db8::1]/x"})
        QTest::newRow(pattern) << QString::fromUtf8(pattern);
}

void tst_UrlFilter::patternsInUseStayValid()
{
    QFETCH(QString, pattern);
    QString why;
    QVERIFY2(UrlFilter::Parse(pattern, &why), qPrintable(why));
}

// Only the engine's own viewer, under its own scheme, is let through as the program's own.
void tst_UrlFilter::pdfViewer_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("viewer");
    QTest::newRow("the viewer") << "chrome-extension://mhjfbmdgcfjbbpaeojofohoefgiehjai/index.html"
                                << true;
    QTest::newRow("another extension")
        << "chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/index.html" << false;
    QTest::newRow("the viewer's name on the web")
        << "http://mhjfbmdgcfjbbpaeojofohoefgiehjai/index.html" << false;
    QTest::newRow("the viewer's name below another host")
        << "chrome-extension://mhjfbmdgcfjbbpaeojofohoefgiehjai.example/index.html" << false;
    QTest::newRow("the engine's other pages") << "chrome://version/" << false;
}

void tst_UrlFilter::pdfViewer()
{
    QFETCH(QString, url);
    QFETCH(bool, viewer);
    QCOMPARE(UrlFilter::IsPdfViewer(QUrl(url)), viewer);
}

QUELVARD_TEST_GUILESS_MAIN(tst_UrlFilter)
#include "tst_urlfilter.moc"
