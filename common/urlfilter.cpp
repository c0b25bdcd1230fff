#include "common/urlfilter.h"

#include "common/compiledfilter.h"

#include <QRegularExpression>
#include <QUrlQuery>
#include <algorithm>

namespace UrlFilter {

namespace {

// Rules for every host are kept under a key no real host can have.
const QString AnyHostKey = QStringLiteral("*");

int DefaultPort(const QString &scheme)
{
    if (scheme == QLatin1String("http") || scheme == QLatin1String("ws"))
        return 80;
    if (scheme == QLatin1String("https") || scheme == QLatin1String("wss"))
        return 443;
    if (scheme == QLatin1String("ftp"))
        return 21;
    return -1;
}

bool IsAsciiLower(QChar c)
{
    return c >= QLatin1Char('a') && c <= QLatin1Char('z');
}

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsScheme(const QString &scheme)
{
    if (scheme.isEmpty() || !IsAsciiLower(scheme.front()))
        return false;
    return std::all_of(scheme.begin(), scheme.end(), [](QChar c) {
        return IsAsciiLower(c) || IsAsciiDigit(c) || c == QLatin1Char('+') ||
               c == QLatin1Char('.') || c == QLatin1Char('-');
    });
}

// Letters, digits, hyphens and underscores between dots; no label empty or edged by a hyphen.
bool HasValidLabels(const QString &host)
{
    for (const QStringView label : QStringView(host).split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.front() == QLatin1Char('-') ||
            label.back() == QLatin1Char('-'))
            return false;
        for (const QChar c : label) {
            if (!IsAsciiLower(c) && !IsAsciiDigit(c) && c != QLatin1Char('-') &&
                c != QLatin1Char('_'))
                return false;
        }
    }
    return true;
}

// A name QUrl would give back unchanged: lower-case ASCII, not ending in a digit (which could
// make it an address written some other way).
bool IsPlainHost(const QString &host)
{
    if (host.isEmpty() || IsAsciiDigit(host.back()))
        return false;
    return std::all_of(host.begin(), host.end(), [](QChar c) {
        return IsAsciiLower(c) || IsAsciiDigit(c) || c == QLatin1Char('-') ||
               c == QLatin1Char('.') || c == QLatin1Char('_');
    });
}

// A path QUrl would give back unchanged when fully encoding it.
bool IsPlainPath(const QString &path)
{
    return std::all_of(path.begin(), path.end(), [](QChar c) {
        return c.unicode() > 32 && c.unicode() < 127 && c != QLatin1Char('%') &&
               c != QLatin1Char('"') && c != QLatin1Char('<') && c != QLatin1Char('>') &&
               c != QLatin1Char('\\') && c != QLatin1Char('^') && c != QLatin1Char('`') &&
               c != QLatin1Char('{') && c != QLatin1Char('|') && c != QLatin1Char('}');
    });
}

std::optional<TPattern> Refuse(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return std::nullopt;
}

// QUrl has written every IPv4 form (0x7f.1, 127.1, 0177.0.0.1) as four decimal numbers, and an
// IPv6 address is the only host with a colon.
bool LooksLikeIp(const QString &host)
{
    if (host.contains(QLatin1Char(':')))
        return true;
    if (host.isEmpty() || !host.back().isDigit())
        return false;
    static const QRegularExpression ipv4(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return ipv4.match(host).hasMatch();
}

// The engine connects to an IPv4-mapped IPv6 address as to its IPv4 address, so the filter takes
// it as that address. QUrl writes every spelling of one ([::ffff:7f00:2],
// [0:0:0:0:0:ffff:127.0.0.2]) as ::ffff: and the dotted IPv4 address.
QString MappedIpv4(const QString &host)
{
    static const QLatin1String mapped("::ffff:");
    if (!host.startsWith(mapped))
        return QString();
    const QString ipv4 = host.mid(mapped.size());
    return !ipv4.contains(QLatin1Char(':')) && LooksLikeIp(ipv4) ? ipv4 : QString();
}

// Schemes of pages the engine opens or hands on; a pattern naming another is a typo.
const QStringList &KnownSchemes()
{
    static const QStringList schemes{
        QStringLiteral("http"),       QStringLiteral("https"),
        QStringLiteral("file"),       QStringLiteral("ftp"),
        QStringLiteral("ws"),         QStringLiteral("wss"),
        QStringLiteral("data"),       QStringLiteral("blob"),
        QStringLiteral("filesystem"), QStringLiteral("javascript"),
        QStringLiteral("about"),      QStringLiteral("mailto"),
        QStringLiteral("tel"),        QStringLiteral("view-source"),
        QStringLiteral("chrome"),     QStringLiteral("chrome-extension"),
        QStringLiteral("devtools")};
    return schemes;
}

// Schemes whose addresses carry no host ("javascript:...", "data:..."): only "*" covers them.
bool IsHostless(const QString &scheme)
{
    static const QStringList schemes{QStringLiteral("about"),      QStringLiteral("blob"),
                                     QStringLiteral("data"),       QStringLiteral("filesystem"),
                                     QStringLiteral("javascript"), QStringLiteral("mailto"),
                                     QStringLiteral("tel"),        QStringLiteral("view-source")};
    return schemes.contains(scheme);
}

int EditDistance(const QString &a, const QString &b)
{
    QVector<int> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min(
                {above + 1, row[j - 1] + 1, diagonal + (a.at(i - 1) == b.at(j - 1) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known scheme a mistyped one was most likely meant to be; empty when none is close.
QString NearestScheme(const QString &scheme)
{
    QString nearest;
    int best = 3;
    for (const QString &known : KnownSchemes()) {
        const int distance = EditDistance(scheme, known);
        if (distance < best) {
            best = distance;
            nearest = known;
        }
    }
    return nearest;
}

// A scheme written without "//" (https:/site.example, javascript:alert(1)) or without its colon
// (http//site.example) would otherwise be read as a host and a port or a path that can never
// match; says what was meant.
std::optional<QString> MisspelledScheme(const QString &text)
{
    if (text.contains(QLatin1String("://")))
        return std::nullopt;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (colon > 0 && (slash < 0 || colon < slash)) {
        const QString scheme = text.left(colon).toLower();
        if (!KnownSchemes().contains(scheme))
            return std::nullopt;
        if (IsHostless(scheme))
            return QStringLiteral("a scheme is followed by \"://\", and %1: addresses name no "
                                  "host: write \"%1://*\" to cover them all")
                .arg(scheme);
        QString rest = text.mid(colon + 1);
        while (rest.startsWith(QLatin1Char('/')))
            rest.remove(0, 1);
        if (rest.isEmpty())
            rest = QStringLiteral("*");
        else if (scheme == QLatin1String("file"))
            rest.prepend(QLatin1Char('/')); // a local file's address names no host
        return QStringLiteral("a scheme is followed by \"://\": write \"%1://%2\"")
            .arg(scheme, rest);
    }
    if (slash > 0 && text.mid(slash).startsWith(QLatin1String("//"))) {
        const QString scheme = text.left(slash).toLower();
        if (KnownSchemes().contains(scheme))
            return QStringLiteral("the scheme has no colon: write \"%1:%2\"")
                .arg(scheme, text.mid(slash));
    }
    return std::nullopt;
}

} // namespace

QString NormaliseHost(const QUrl &url)
{
    // QUrl has already decoded percent escapes, lower-cased the name and written IPv4 in
    // dotted decimal (0x7f.1 is 127.0.0.1); the encoded form is the punycode one.
    QString host = url.host(QUrl::FullyEncoded).toLower();
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    const QString ipv4 = MappedIpv4(host);
    return ipv4.isEmpty() ? host : ipv4;
}

bool AlwaysAllowed(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("quelvard"))
        return true;
    // A frame written inline (srcdoc) has no address of its own to filter.
    return scheme == QLatin1String("about") &&
           (url.path() == QLatin1String("blank") || url.path() == QLatin1String("srcdoc"));
}

std::optional<TPattern> Parse(const QString &text, QString *problem)
{
    TPattern pattern;
    pattern.Text = text;
    if (text.isEmpty())
        return Refuse(problem, QStringLiteral("the pattern is empty"));
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return Refuse(problem,
                          QStringLiteral("a pattern holds no blanks or control characters"));
    }
    if (const std::optional<QString> why = MisspelledScheme(text))
        return Refuse(problem, *why);
    QString rest = text;

    // The pieces as written, to suggest a pattern that says what one that cannot match meant.
    QString schemeText;
    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        pattern.Scheme = rest.left(schemeEnd).toLower();
        if (!IsScheme(pattern.Scheme))
            return Refuse(problem,
                          QStringLiteral("\"%1\" is not a scheme").arg(rest.left(schemeEnd)));
        schemeText = rest.left(schemeEnd + 3);
        rest = rest.mid(schemeEnd + 3);
        if (pattern.Scheme == QLatin1String("quelvard"))
            return Refuse(problem, QStringLiteral("the program's own pages (quelvard:) are always "
                                                  "allowed, so no rule covers them"));
        if (!KnownSchemes().contains(pattern.Scheme)) {
            const QString meant = NearestScheme(pattern.Scheme);
            if (!meant.isEmpty())
                return Refuse(problem,
                              QStringLiteral("\"%1\" is not a scheme the browser opens: write "
                                             "\"%2://%3\"")
                                  .arg(text.left(schemeEnd), meant, rest));
            return Refuse(problem,
                          QStringLiteral("\"%1\" is not a scheme the browser opens (%2)")
                              .arg(text.left(schemeEnd), KnownSchemes().join(QLatin1String(", "))));
        }
    }

    // "@query" is the documented form; "?query" is how administrators write it in practice.
    qsizetype queryStart = rest.indexOf(QLatin1Char('?'));
    if (queryStart < 0)
        queryStart = rest.indexOf(QLatin1Char('@'));
    QString queryText;
    if (queryStart >= 0) {
        queryText = rest.mid(queryStart);
        const QString query = rest.mid(queryStart + 1);
        rest = rest.left(queryStart);
        for (const QString &token : query.split(QLatin1Char('&'))) {
            if (token.isEmpty())
                return Refuse(problem, QStringLiteral("the query after @ has an empty token"));
            TPattern::TQueryToken item;
            const qsizetype equals = token.indexOf(QLatin1Char('='));
            QString key = token.left(equals);
            // "key*" alone is a prefix of keys; a "*" written %2A stays a character of the key.
            if (equals < 0 && key.endsWith(QLatin1Char('*'))) {
                key.chop(1);
                item.KeyPrefix = true;
            }
            item.Key = QUrl::fromPercentEncoding(key.toUtf8());
            if (item.Key.isEmpty() && !item.KeyPrefix)
                return Refuse(problem, QStringLiteral("a query token has no key"));
            if (equals >= 0) {
                item.Value = QUrl::fromPercentEncoding(token.mid(equals + 1).toUtf8());
                if (item.Value.endsWith(QLatin1Char('*'))) {
                    item.Value.chop(1);
                    item.Prefix = true;
                }
                if (item.Value.isNull())
                    item.Value = QLatin1String("");
            }
            pattern.Query << item;
        }
    }

    const qsizetype pathStart = rest.indexOf(QLatin1Char('/'));
    QString hostPort = pathStart >= 0 ? rest.left(pathStart) : rest;
    if (pathStart >= 0) {
        const QString path = rest.mid(pathStart);
        if (path.contains(QLatin1Char('#')))
            return Refuse(problem,
                          QStringLiteral("a fragment (#) is never sent, so it cannot match"));
        const qsizetype star = path.indexOf(QLatin1Char('*'));
        if (star >= 0) {
            // The whole site is the commonest meaning of "site/*"; the prefix before the star
            // covers what any other spelling meant.
            const QString prefix =
                path.left(star) == QLatin1String("/") ? QString() : path.left(star);
            return Refuse(problem, QStringLiteral("a path is a prefix, and a * in it matches only "
                                                  "a * in the address: write \"%1\"")
                                       .arg(schemeText + hostPort + prefix + queryText));
        }
        // Compared with the address's path as the engine encodes it.
        pattern.Path = IsPlainPath(path)
                           ? path
                           : QUrl(QStringLiteral("http://h") + path).path(QUrl::FullyEncoded);
        if (pattern.Path == QLatin1String("/"))
            pattern.Path.clear();
    }

    QString host = hostPort;
    qsizetype portStart = -1;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return Refuse(problem, QStringLiteral("the IPv6 address has no closing ]"));
        host = hostPort.left(close + 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort.at(close + 1) != QLatin1Char(':'))
                return Refuse(problem, QStringLiteral("only a port may follow the IPv6 address"));
            portStart = close + 1;
        }
    } else {
        if (hostPort.count(QLatin1Char(':')) > 1)
            return Refuse(problem,
                          QStringLiteral("an IPv6 address is written in brackets: "
                                         "write \"%1[%2]%3\"")
                              .arg(schemeText, hostPort, rest.mid(hostPort.size()) + queryText));
        portStart = hostPort.indexOf(QLatin1Char(':'));
        if (portStart >= 0)
            host = hostPort.left(portStart);
    }
    if (portStart >= 0) {
        bool ok = false;
        const QString portText = hostPort.mid(portStart + 1);
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535 || !portText.at(0).isDigit())
            return Refuse(
                problem,
                QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(portText));
        pattern.Port = port;
    }

    const QString afterHost = rest.mid(host.size());
    if (host == QLatin1String("*")) {
        pattern.AnyHost = true;
        return pattern;
    }
    if (host.startsWith(QLatin1Char('.'))) {
        pattern.ExactHost = true;
        host = host.mid(1);
    }
    if (host.contains(QLatin1Char('*'))) {
        QString parent = host;
        while (parent.startsWith(QLatin1Char('*')) || parent.startsWith(QLatin1Char('.')))
            parent.remove(0, 1);
        if (parent.isEmpty() || parent.contains(QLatin1Char('*')))
            return Refuse(problem, QStringLiteral("* stands only for every host, not part of one"));
        return Refuse(problem, QStringLiteral("* stands only for every host, not part of one: "
                                              "write \"%1\", which covers the hosts below it")
                                   .arg(schemeText + parent + afterHost + queryText));
    }
    if (host.isEmpty()) {
        // file:///path names no host; a host-less rule needs its scheme to mean anything.
        if (pattern.Scheme != QLatin1String("file") || pattern.ExactHost)
            return Refuse(problem, QStringLiteral("the pattern names no host"));
        return pattern;
    }
    // A plain lower-case name is already what the address side compares; anything else (capitals,
    // escapes, international letters, numeric forms of an address) goes through QUrl's rules.
    if (IsPlainHost(host)) {
        pattern.Host = host;
        while (pattern.Host.endsWith(QLatin1Char('.')))
            pattern.Host.chop(1);
    } else {
        const QUrl probe(QStringLiteral("http://") + host + QLatin1Char('/'), QUrl::StrictMode);
        if (probe.isValid())
            pattern.Host = NormaliseHost(probe);
    }
    if (pattern.Host.isEmpty()) {
        if (host.startsWith(QLatin1Char('[')))
            return Refuse(problem, QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
        return Refuse(problem, QStringLiteral("\"%1\" is not a host name").arg(host));
    }
    pattern.IpHost = LooksLikeIp(pattern.Host);
    if (!pattern.IpHost && !HasValidLabels(pattern.Host))
        return Refuse(problem, QStringLiteral("\"%1\" is not a host name").arg(host));
    return pattern;
}

bool IsPdfViewer(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("chrome-extension"), Qt::CaseInsensitive) == 0 &&
           url.host() == QLatin1String("mhjfbmdgcfjbbpaeojofohoefgiehjai");
}

} // namespace UrlFilter

void TUrlFilter::SetRules(const QStringList &blocked, const QStringList &allowed,
                          QStringList *problems)
{
    m_rules.clear();
    m_byHost.clear();
    m_rules.reserve(blocked.size() + allowed.size());
    m_byHost.reserve(blocked.size() + allowed.size());
    auto addAll = [&](const QStringList &patterns, bool allow) {
        for (const QString &text : patterns) {
            QString problem;
            if (std::optional<UrlFilter::TPattern> pattern = UrlFilter::Parse(text, &problem))
                add(std::move(*pattern), allow);
            else if (problems)
                *problems << QStringLiteral("\"%1\": %2").arg(text, problem);
        }
    };
    addAll(blocked, false);
    addAll(allowed, true);
}

void TUrlFilter::add(UrlFilter::TPattern pattern, bool allow)
{
    const QString key = pattern.AnyHost ? UrlFilter::AnyHostKey : pattern.Host;
    m_byHost[key] << int(m_rules.size());
    m_rules.push_back({std::move(pattern), allow});
}

TUrlFilter::TRank TUrlFilter::rank(const TRule &rule)
{
    const UrlFilter::TPattern &p = rule.Pattern;
    return {p.AnyHost ? -1 : p.Host.size(), p.ExactHost, p.Path.size(), p.Query.size(), rule.Allow};
}

bool TUrlFilter::moreSpecific(const TRank &a, const TRank &b)
{
    if (a.Host != b.Host)
        return a.Host > b.Host;
    if (a.Exact != b.Exact)
        return a.Exact;
    if (a.Path != b.Path)
        return a.Path > b.Path;
    if (a.Query != b.Query)
        return a.Query > b.Query;
    return a.Allow && !b.Allow;
}

void TUrlFilter::SetCompiled(std::shared_ptr<const TCompiledFilter> compiled)
{
    m_compiled = std::move(compiled);
}

bool TUrlFilter::matches(const TRule &rule, const QUrl &url, const QString &host,
                         bool hostIsIp) const
{
    const UrlFilter::TPattern &p = rule.Pattern;
    if (!p.Scheme.isEmpty() && p.Scheme != url.scheme().toLower())
        return false;
    if (!p.AnyHost && p.Host != host) {
        // A subdomain: the walk in Decide found the rule under a suffix of the host.
        if (p.ExactHost || p.IpHost || hostIsIp || p.Host.isEmpty())
            return false;
        if (!host.endsWith(p.Host) || host.at(host.size() - p.Host.size() - 1) != QLatin1Char('.'))
            return false;
    }
    if (p.Port && url.port(UrlFilter::DefaultPort(url.scheme().toLower())) != p.Port)
        return false;
    if (!p.Path.isEmpty()) {
        QString path = url.path(QUrl::FullyEncoded);
        if (path.isEmpty())
            path = QStringLiteral("/");
        if (!path.startsWith(p.Path))
            return false;
    }
    if (!p.Query.isEmpty()) {
        const QList<std::pair<QString, QString>> items =
            QUrlQuery(url).queryItems(QUrl::FullyDecoded);
        for (const UrlFilter::TPattern::TQueryToken &token : p.Query) {
            const bool found = std::any_of(items.begin(), items.end(), [&token](const auto &item) {
                if (token.KeyPrefix ? !item.first.startsWith(token.Key) : item.first != token.Key)
                    return false;
                if (token.Value.isNull())
                    return true;
                return token.Prefix ? item.second.startsWith(token.Value)
                                    : item.second == token.Value;
            });
            if (!found)
                return false;
        }
    }
    return true;
}

TUrlFilter::TDecision TUrlFilter::Decide(const QUrl &url) const
{
    if (IsEmpty() || UrlFilter::AlwaysAllowed(url))
        return {};
    if (!m_refuseAll.isEmpty())
        return {false, QString(), QString()};
    // A compiled file found damaged after it was opened says nothing any more.
    if (m_compiled && !m_compiled->Sound())
        return {false, QString(), QString()};
    const QString host = UrlFilter::NormaliseHost(url);
    const bool hostIsIp = UrlFilter::LooksLikeIp(host);
    const TRule *best = nullptr;
    TRank bestRank;
    int bestCategory = -1;
    QString path;
    auto consider = [&](const QString &key) {
        const auto found = m_byHost.constFind(key);
        if (found != m_byHost.constEnd()) {
            for (const int index : *found) {
                const TRule &rule = m_rules.at(index);
                const TRank ranked = rank(rule);
                if ((!best && bestCategory < 0) || moreSpecific(ranked, bestRank)) {
                    if (matches(rule, url, host, hostIsIp)) {
                        best = &rule;
                        bestCategory = -1;
                        bestRank = ranked;
                    }
                }
            }
        }
        // An address matches itself only, never as the parent of a longer name.
        if (!m_compiled || key == UrlFilter::AnyHostKey ||
            (key.size() != host.size() && UrlFilter::LooksLikeIp(key)))
            return;
        // An imported entry is a pattern of a host and its subdomains, with a path or none.
        m_compiled->ForEachOf(key.toUtf8(), [&](const QByteArray &prefix, int category) {
            const TRank ranked{key.size(), false, prefix.size(), 0,
                               m_compiled->Categories().at(category).Allow};
            if ((best || bestCategory >= 0) && !moreSpecific(ranked, bestRank))
                return;
            if (!prefix.isEmpty()) {
                if (path.isNull()) {
                    path = url.path(QUrl::FullyEncoded);
                    if (path.isEmpty())
                        path = QStringLiteral("/");
                }
                if (!path.startsWith(QLatin1String(prefix)))
                    return;
            }
            best = nullptr;
            bestCategory = category;
            bestRank = ranked;
        });
    };
    // The host itself, then each parent domain (an address matches only itself).
    QString key = host;
    for (;;) {
        consider(key);
        const qsizetype dot = key.indexOf(QLatin1Char('.'));
        if (hostIsIp || dot < 0)
            break;
        key = key.mid(dot + 1);
    }
    consider(UrlFilter::AnyHostKey);
    if (bestCategory >= 0)
        return {bestRank.Allow, QString(), m_compiled->Categories().at(bestCategory).Name};
    if (!best)
        return {};
    return {best->Allow, best->Pattern.Text, QString()};
}
