#include "common/urlfilter.h"

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
    if (host.isEmpty() || !host.back().isDigit())
        return host.contains(QLatin1Char(':'));
    static const QRegularExpression ipv4(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return ipv4.match(host).hasMatch();
}

} // namespace

QString NormaliseHost(const QUrl &url)
{
    // QUrl has already decoded percent escapes, lower-cased the name and written IPv4 in
    // dotted decimal (0x7f.1 is 127.0.0.1); the encoded form is the punycode one.
    QString host = url.host(QUrl::FullyEncoded).toLower();
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
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
    QString rest = text;

    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        pattern.Scheme = rest.left(schemeEnd).toLower();
        if (!IsScheme(pattern.Scheme))
            return Refuse(problem,
                          QStringLiteral("\"%1\" is not a scheme").arg(rest.left(schemeEnd)));
        rest = rest.mid(schemeEnd + 3);
    }

    // "@query" is the documented form; "?query" is how administrators write it in practice.
    qsizetype queryStart = rest.indexOf(QLatin1Char('?'));
    if (queryStart < 0)
        queryStart = rest.indexOf(QLatin1Char('@'));
    if (queryStart >= 0) {
        const QString query = rest.mid(queryStart + 1);
        rest = rest.left(queryStart);
        for (const QString &token : query.split(QLatin1Char('&'))) {
            if (token.isEmpty())
                return Refuse(problem, QStringLiteral("the query after @ has an empty token"));
            TPattern::TQueryToken item;
            const qsizetype equals = token.indexOf(QLatin1Char('='));
            item.Key = QUrl::fromPercentEncoding(token.left(equals).toUtf8());
            if (item.Key.isEmpty())
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

    if (host == QLatin1String("*")) {
        pattern.AnyHost = true;
        return pattern;
    }
    if (host.startsWith(QLatin1Char('.'))) {
        pattern.ExactHost = true;
        host = host.mid(1);
    }
    if (host.contains(QLatin1Char('*')))
        return Refuse(problem, QStringLiteral("* stands only for every host, not part of one"));
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
    if (pattern.Host.isEmpty())
        return Refuse(problem, QStringLiteral("\"%1\" is not a host name").arg(host));
    pattern.IpHost = LooksLikeIp(pattern.Host);
    if (!pattern.IpHost && !HasValidLabels(pattern.Host))
        return Refuse(problem, QStringLiteral("\"%1\" is not a host name").arg(host));
    return pattern;
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

bool TUrlFilter::moreSpecific(const TRule &a, const TRule &b)
{
    const qsizetype hostA = a.Pattern.AnyHost ? -1 : a.Pattern.Host.size();
    const qsizetype hostB = b.Pattern.AnyHost ? -1 : b.Pattern.Host.size();
    if (hostA != hostB)
        return hostA > hostB;
    if (a.Pattern.ExactHost != b.Pattern.ExactHost)
        return a.Pattern.ExactHost;
    if (a.Pattern.Path.size() != b.Pattern.Path.size())
        return a.Pattern.Path.size() > b.Pattern.Path.size();
    if (a.Pattern.Query.size() != b.Pattern.Query.size())
        return a.Pattern.Query.size() > b.Pattern.Query.size();
    return a.Allow && !b.Allow;
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
                if (item.first != token.Key)
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
    if (m_rules.isEmpty() || UrlFilter::AlwaysAllowed(url))
        return {};
    const QString host = UrlFilter::NormaliseHost(url);
    const bool hostIsIp = UrlFilter::LooksLikeIp(host);
    const TRule *best = nullptr;
    auto consider = [&](const QString &key) {
        const auto found = m_byHost.constFind(key);
        if (found == m_byHost.constEnd())
            return;
        for (const int index : *found) {
            const TRule &rule = m_rules.at(index);
            if ((!best || moreSpecific(rule, *best)) && matches(rule, url, host, hostIsIp))
                best = &rule;
        }
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
    if (!best)
        return {};
    return {best->Allow, best->Pattern.Text};
}
