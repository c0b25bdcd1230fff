#include "common/safesearch.h"

#include <QRegularExpression>
#include <QUrlQuery>

namespace SafeSearch {

namespace {

QString hostOf(const QUrl &url)
{
    QString host = url.host().toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

// Every Google country domain: google.de, google.co.uk, google.com.au, with or without www.
bool isGoogle(const QString &host)
{
    static const QRegularExpression google(
        QStringLiteral("^(www\\.|images\\.)?google\\.(com|[a-z]{2,3})(\\.[a-z]{2})?$"));
    return google.match(host).hasMatch();
}

bool isBing(const QString &host)
{
    return host == QLatin1String("bing.com") || host.endsWith(QLatin1String(".bing.com"));
}

bool isDuckDuckGo(const QString &host)
{
    return host == QLatin1String("duckduckgo.com") ||
           host.endsWith(QLatin1String(".duckduckgo.com"));
}

bool isYouTube(const QString &host)
{
    for (const char *domain : {"youtube.com", "youtube-nocookie.com", "youtubei.googleapis.com",
                               "youtube.googleapis.com"}) {
        const QLatin1String name(domain);
        if (host == name || host.endsWith(QLatin1Char('.') + name))
            return true;
    }
    return false;
}

// The address with `key` set to `value` alone, whatever the query held of it before.
std::optional<QUrl> withOnly(const QUrl &url, const QString &key, const QString &value)
{
    QUrlQuery query(url);
    const QList<QPair<QString, QString>> items = query.queryItems(QUrl::FullyEncoded);
    int found = 0;
    bool right = false;
    for (const auto &item : items) {
        if (item.first == key) {
            ++found;
            right = item.second == value;
        }
    }
    if (found == 1 && right)
        return std::nullopt;
    query.removeAllQueryItems(key);
    query.addQueryItem(key, value);
    QUrl forced = url;
    forced.setQuery(query);
    return forced;
}

} // namespace

std::optional<QUrl> Forced(const QUrl &url, TLevel level)
{
    if (level == TLevel::Off ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    const QString host = hostOf(url);
    const QString path = url.path();
    if (isGoogle(host) &&
        (path.startsWith(QLatin1String("/search")) || path.startsWith(QLatin1String("/images")) ||
         path.startsWith(QLatin1String("/imghp")) || path.startsWith(QLatin1String("/webhp"))))
        return withOnly(url, QStringLiteral("safe"), QStringLiteral("active"));
    if (isBing(host) && path.contains(QLatin1String("search")))
        return withOnly(url, QStringLiteral("adlt"), QStringLiteral("strict"));
    if (isDuckDuckGo(host))
        return withOnly(url, QStringLiteral("kp"), QStringLiteral("1"));
    return std::nullopt;
}

QByteArray YouTubeHeaderValue(const QUrl &url, TLevel level)
{
    if (level == TLevel::Off || !isYouTube(hostOf(url)))
        return QByteArray();
    return level == TLevel::Moderate ? QByteArrayLiteral("Moderate") : QByteArrayLiteral("Strict");
}

} // namespace SafeSearch
