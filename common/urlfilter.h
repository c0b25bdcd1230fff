#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>
#include <memory>
#include <optional>
#include <utility>

// The administrator's address filter: patterns in the form managed browsers already use,
// [scheme://][.]host[:port][/path][@query], on a list of blocked and a list of allowed
// addresses. It is plain code so quelvard-admin can check an address exactly as the browser
// decides it, and so the engine's request thread can ask it without a lock once it is built.
namespace UrlFilter {

struct TPattern
{
    QString Text;   // as the administrator wrote it, to name the deciding rule
    QString Scheme; // lower case; empty for any scheme
    QString Host;   // normalised (lower case, punycode, no trailing dot); empty with AnyHost
    bool AnyHost = false;
    bool ExactHost = false; // ".example.com": that host only, not its subdomains
    bool IpHost = false;    // an IP address matches itself only
    int Port = 0;           // 0: any port
    QString Path;           // percent-encoded prefix, case-sensitive
    // key, value, value is a prefix (written "value*"); a key alone has a null value, and a
    // key alone written "key*" is a prefix of the key ("*" alone: any key at all)
    struct TQueryToken
    {
        QString Key;
        QString Value;
        bool Prefix = false;
        bool KeyPrefix = false;
    };
    QVector<TQueryToken> Query;
};

// The pattern, or why `text` is not one (`problem` says what is wrong with it).
std::optional<TPattern> Parse(const QString &text, QString *problem = nullptr);

// The host as the filter compares it: lower case, punycode for international names, percent
// escapes and a trailing dot removed, IPv4 in dotted decimal, IPv6 compressed without brackets
// and an IPv4-mapped IPv6 address as its IPv4 address; empty when there is none.
QString NormaliseHost(const QUrl &url);

// Addresses no rule decides: the program's own pages and the empty page.
bool AlwaysAllowed(const QUrl &url);

// The engine's own PDF viewer, which shows a PDF inside the frame the engine makes for it.
bool IsPdfViewer(const QUrl &url);

} // namespace UrlFilter

class TCompiledFilter;

class TUrlFilter
{
public:
    struct TDecision
    {
        bool Allowed = true;
        // The pattern that decided, as written; empty when no rule matched or a category did.
        QString Rule;
        // The imported category that decided; empty when none did.
        QString Category;
    };

    // Patterns that do not parse are left out and described in `problems`, one line each.
    void SetRules(const QStringList &blocked, const QStringList &allowed,
                  QStringList *problems = nullptr);
    // The imported category lists, decided beside the patterns by the same precedence.
    void SetCompiled(std::shared_ptr<const TCompiledFilter> compiled);
    // Lists that should be there and cannot be read: every address but the program's own pages
    // is refused, `why` says what is wrong.
    void RefuseAll(const QString &why) { m_refuseAll = why; }
    const QString &RefusesAll() const { return m_refuseAll; }
    bool IsEmpty() const { return m_rules.isEmpty() && !m_compiled && m_refuseAll.isEmpty(); }
    int RuleCount() const { return m_rules.size(); }

    // The most specific rule that matches decides: the longest host, then a host-only rule
    // over one for subdomains, then the longest path, then the most query tokens; a tie goes
    // to allow, and an address no rule matches is allowed.
    TDecision Decide(const QUrl &url) const;

private:
    struct TRule
    {
        UrlFilter::TPattern Pattern;
        bool Allow = false;
    };
    // How specific a rule is, in the order the precedence compares.
    struct TRank
    {
        qsizetype Host = -1; // -1: any host
        bool Exact = false;
        qsizetype Path = 0;
        qsizetype Query = 0;
        bool Allow = false;
    };
    void add(UrlFilter::TPattern pattern, bool allow);
    bool matches(const TRule &rule, const QUrl &url, const QString &host, bool hostIsIp) const;
    static TRank rank(const TRule &rule);
    static bool moreSpecific(const TRank &a, const TRank &b);

    QVector<TRule> m_rules;
    // Rules by the host they name; rules for every host under the empty key.
    QHash<QString, QVector<int>> m_byHost;
    std::shared_ptr<const TCompiledFilter> m_compiled;
    QString m_refuseAll;
};
