#include "filter/navigationfilter.h"

#include "common/categorylists.h"
#include "common/errors.h"
#include "common/keeperclient.h"
#include "common/machinepolicies.h"
#include "common/safesearch.h"

#include <QDateTime>
#include <QMutex>
#include <QSet>
#include <QUrlQuery>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>
#include <atomic>
#include <cstdio>

namespace {

const QString BlockedPage = QStringLiteral("quelvard://home/blocked.html");
const QString AddressItem = QStringLiteral("url");

std::atomic<bool> g_closed{false};
std::function<void(const QUrl &, const QString &)> g_onRefused;

bool ownPage(const QUrl &url)
{
    return url.scheme() == QLatin1String("quelvard");
}

const QUrl ClosedPage(QStringLiteral("quelvard://home/closed.html"));
const QString AskPage = QStringLiteral("quelvard://home/ask.html");

// Hosts whose request to be opened the administrator allowed while this run was under way: the
// allow pattern that answer wrote reaches the machine's lists, not the lists this run read.
QMutex g_grantedLock;
QSet<QString> g_granted;

bool granted(const QUrl &url)
{
    const QMutexLocker locker(&g_grantedLock);
    return !g_granted.isEmpty() && g_granted.contains(url.host(QUrl::FullyEncoded).toLower());
}

QString text(const char *words)
{
    return QString::fromUtf8(words);
}

// The blocked page's part for asking to open it: the form, or what became of the request.
QString askSection(const QUrl &refused)
{
    if (MachinePolicies::Current().unblockRequests != MachinePolicies::UnblockRequests::On ||
        !refused.isValid() || refused.host().isEmpty())
        return QString();
    const QString address = refused.toString(QUrl::FullyEncoded);
    bool reached = false;
    const QJsonObject answer = KeeperClient::Call(
        {{QStringLiteral("op"), QStringLiteral("asked")}, {QStringLiteral("address"), address}},
        &reached, 1000);
    if (!reached || !answer.value(QStringLiteral("ok")).toBool())
        return text("<p id=\"asked\">This page cannot be asked for now: the time keeper of "
                    "this computer is not running.</p>\n");
    const QString state = answer.value(QStringLiteral("state")).toString();
    if (state == QLatin1String("allowed")) {
        {
            const QMutexLocker locker(&g_grantedLock);
            g_granted.insert(refused.host(QUrl::FullyEncoded).toLower());
        }
        return QStringLiteral("<p id=\"asked\">Allowed.</p>\n<p><a id=\"open\" href=\"%1\" "
                              "target=\"_top\">Open the page</a></p>\n")
            .arg(address.toHtmlEscaped());
    }
    if (state == QLatin1String("refused"))
        return text("<p id=\"asked\">Refused.</p>\n");
    if (state == QLatin1String("open")) {
        const QDateTime at =
            QDateTime::fromString(answer.value(QStringLiteral("at")).toString(), Qt::ISODate);
        const QString time = at.toString(QStringLiteral("HH:mm"));
        const QString when =
            at.date() == QDate::currentDate()
                ? QStringLiteral("today at %1").arg(time)
                : QStringLiteral("on %1 at %2").arg(at.date().toString(Qt::ISODate), time);
        return QStringLiteral("<p id=\"asked\">Asked %1. Not answered yet.</p>\n").arg(when);
    }
    return QStringLiteral(
               "<form id=\"ask\" action=\"%1\" method=\"get\">\n"
               "<input type=\"hidden\" name=\"%2\" value=\"%3\">\n"
               "<p><label for=\"reason\">Why you need it (optional)</label><br>\n"
               "<input id=\"reason\" name=\"reason\" maxlength=\"200\" size=\"40\"></p>\n"
               "<p><button id=\"askButton\" type=\"submit\">Ask to open this page</button></p>\n"
               "</form>\n")
        .arg(AskPage, AddressItem,
             QString::fromLatin1(refused.toEncoded().toPercentEncoding()).toHtmlEscaped());
}

std::shared_ptr<const TUrlFilter> buildFilter()
{
    auto made = std::make_shared<TUrlFilter>();
    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    QStringList problems;
    QStringList blocked = policies.BlockedUrls;
    QStringList allowed = policies.AllowedUrls;
    // This account's own lists and its groups', beside everyone's; a store that cannot be
    // read already refuses everything.
    try {
        if (!policies.StoreUnreadable)
            MachinePolicies::AddOwnAccountUrls(blocked, allowed);
    } catch (const EQuelvardError &error) {
        problems << error.message();
    }
    made->SetRules(blocked, allowed, &problems);
    for (const QString &line : problems)
        std::fprintf(stderr, "quelvard: address rule ignored: %s\n", qPrintable(line));
    QString listsProblem;
    CategoryLists::Apply(*made, &listsProblem);
    if (!listsProblem.isEmpty())
        std::fprintf(stderr, "quelvard: %s\n", qPrintable(listsProblem));
    return std::shared_ptr<const TUrlFilter>(std::move(made));
}

SafeSearch::TLevel safeSearchLevel()
{
    switch (MachinePolicies::Current().safeSearch) {
    case MachinePolicies::SafeSearchLevel::Off:
        break;
    case MachinePolicies::SafeSearchLevel::On:
        return SafeSearch::TLevel::Strict;
    case MachinePolicies::SafeSearchLevel::Moderate:
        return SafeSearch::TLevel::Moderate;
    }
    return SafeSearch::TLevel::Off;
}

// The run's filter and safe search, replaced whole when the administrator changes the machine's
// settings while the browser runs; a decision under way keeps the filter it started with.
QMutex g_filterLock;
std::shared_ptr<const TUrlFilter> g_filter;
std::atomic<SafeSearch::TLevel> g_safeSearch{SafeSearch::TLevel::Off};

std::shared_ptr<const TUrlFilter> RunFilter()
{
    const QMutexLocker locker(&g_filterLock);
    if (!g_filter) {
        g_filter = buildFilter();
        g_safeSearch.store(safeSearchLevel());
    }
    return g_filter;
}

} // namespace

TNavigationFilter::TNavigationFilter(QObject *parent) : QWebEngineUrlRequestInterceptor(parent)
{
}

void TNavigationFilter::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    // Closed hours keep every fetch from the web away, an image or a script of a page left open
    // as much as a page itself.
    if (g_closed.load() && !ownPage(info.requestUrl())) {
        info.block(true);
        return;
    }
    bool mainFrame = false;
    switch (info.resourceType()) {
    case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadMainFrame:
        mainFrame = true;
        break;
    case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
    case QWebEngineUrlRequestInfo::ResourceTypeNavigationPreloadSubFrame:
        break;
    default:
        return;
    }
    const QUrl url = info.requestUrl();
    const std::shared_ptr<const TUrlFilter> filter = RunFilter();
    const SafeSearch::TLevel safeSearch = g_safeSearch.load();
    if (safeSearch != SafeSearch::TLevel::Off) {
        const QByteArray restrict = SafeSearch::YouTubeHeaderValue(url, safeSearch);
        if (!restrict.isEmpty())
            info.setHttpHeader(SafeSearch::YouTubeHeader, restrict);
        // Asked again with the switch in place, so the filter below judges that address.
        if (const auto forced = SafeSearch::Forced(url, safeSearch)) {
            if (filter->IsEmpty() || filter->Decide(*forced).Allowed) {
                info.redirect(*forced);
                return;
            }
        }
    }
    // The engine opens its PDF viewer for a PDF the lists let through, in a page of its own that
    // asks no navigation question first. A page's own link or frame to the viewer's address is
    // turned by the engine into another address, and a favorite or the home page naming it is
    // asked of RefuseNavigation, so nothing but the engine gets here with it.
    if (UrlFilter::IsPdfViewer(url))
        return;
    if (filter->IsEmpty() || filter->Decide(url).Allowed || granted(url))
        return;
    // The page already sent a refused main frame to the blocked page (RefuseNavigation); this
    // is the last word should a request ever come without that question.
    if (mainFrame)
        info.block(true);
    else
        info.redirect(BlockedPageUrl(url));
}

bool TNavigationFilter::RefuseNavigation(QWebEnginePage *page, const QUrl &url,
                                         QWebEnginePage::NavigationType type, bool isMainFrame)
{
    // While closed a page shows nothing but the page saying so, the start page included: its
    // links lead to the web.
    if (g_closed.load() && isMainFrame && url != ClosedPage) {
        QMetaObject::invokeMethod(
            page, [page] { page->load(ClosedPage); }, Qt::QueuedConnection);
        return true;
    }
    if (g_closed.load() && !ownPage(url))
        return true;
    const std::shared_ptr<const TUrlFilter> filter = RunFilter();
    if (filter->IsEmpty())
        return false;
    const TUrlFilter::TDecision decision = filter->Decide(url);
    if (decision.Allowed || granted(url))
        return false;
    if (g_onRefused)
        g_onRefused(url, decision.Category.isEmpty() ? decision.Rule : decision.Category);
    if (isMainFrame) {
        // After this navigation has been dropped, not inside the engine's question.
        QMetaObject::invokeMethod(
            page, [page, url] { page->load(BlockedPageUrl(url)); }, Qt::QueuedConnection);
        return true;
    }
    // A frame's first request is sent to the blocked page by the request filter, so the
    // message shows inside the frame.
    return type == QWebEnginePage::NavigationTypeRedirect;
}

const TUrlFilter &TNavigationFilter::Current()
{
    return *RunFilter();
}

QUrl TNavigationFilter::AskedAddress(const QUrl &askUrl)
{
    if (askUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment) != QUrl(AskPage))
        return QUrl();
    // The form sends the blocked page's own encoding of the address, encoded again.
    const QString encoded = QUrlQuery(askUrl).queryItemValue(AddressItem, QUrl::FullyDecoded);
    return QUrl::fromEncoded(QByteArray::fromPercentEncoding(encoded.toLatin1()));
}

void TNavigationFilter::SetClosed(bool closed)
{
    g_closed.store(closed);
}

bool TNavigationFilter::IsClosed()
{
    return g_closed.load();
}

void TNavigationFilter::OnRefused(std::function<void(const QUrl &, const QString &)> report)
{
    g_onRefused = std::move(report);
}

void TNavigationFilter::Install(QWebEngineProfile *profile)
{
    if (profile->findChild<TNavigationFilter *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    const std::shared_ptr<const TUrlFilter> filter = RunFilter();
    // The time keeper's hours and safe search need the request filter even without lists.
    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    if (!filter->IsEmpty() || policies.TimeRules ||
        policies.safeSearch != MachinePolicies::SafeSearchLevel::Off)
        profile->setUrlRequestInterceptor(new TNavigationFilter(profile));
}

void TNavigationFilter::Reload()
{
    std::shared_ptr<const TUrlFilter> made = buildFilter();
    const QMutexLocker locker(&g_filterLock);
    g_filter = std::move(made);
    g_safeSearch.store(safeSearchLevel());
}

QUrl TNavigationFilter::BlockedPageUrl(const QUrl &refused)
{
    QUrl page(BlockedPage);
    QUrlQuery query;
    query.addQueryItem(AddressItem, QString::fromLatin1(refused.toEncoded().toPercentEncoding()));
    page.setQuery(query);
    return page;
}

QUrl TNavigationFilter::RefusedAddress(const QUrl &pageUrl)
{
    if (pageUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment) != QUrl(BlockedPage))
        return QUrl();
    const QString encoded = QUrlQuery(pageUrl).queryItemValue(AddressItem, QUrl::FullyEncoded);
    return QUrl::fromEncoded(QByteArray::fromPercentEncoding(encoded.toLatin1()));
}

QByteArray TNavigationFilter::BlockedPageHtml(const QUrl &pageUrl, const QString &home)
{
    // The address is shown as text only: whatever a page put in it, nothing of it is markup.
    const QUrl refusedUrl = RefusedAddress(pageUrl);
    const QString refused = refusedUrl.toString().toHtmlEscaped();
    const QString homeLink = QUrl(home).toString(QUrl::FullyEncoded).toHtmlEscaped();
    // Decided again here rather than read from the page's address, which any page can write.
    const QString category =
        refusedUrl.isValid() ? RunFilter()->Decide(refusedUrl).Category : QString();
    const QString categoryLine =
        category.isEmpty()
            ? QString()
            : QStringLiteral("<p id=\"category\">blocked: %1</p>\n").arg(category.toHtmlEscaped());
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<title>Page blocked</title><link rel=\"stylesheet\" href=\"quelvard.css\">"
               "</head>\n<body><main><section><h1>Page blocked</h1>\n"
               "<p id=\"message\">The administrator of this computer has blocked this page.</p>\n"
               "<p id=\"address\">%1</p>\n%3%4"
               "<p><a id=\"back\" href=\"javascript:history.back()\">Back</a> &middot; "
               "<a id=\"home\" href=\"%2\" target=\"_top\">Home page</a></p>\n"
               "</section></main></body></html>\n")
        .arg(refused, homeLink, categoryLine, askSection(refusedUrl))
        .toUtf8();
}
