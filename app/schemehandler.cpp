#include "app/schemehandler.h"

#include "app/timeguard.h"

#include "common/genutilities.h"
#include "common/keeperclient.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"

#include <QBuffer>
#include <QFile>
#include <QUrlQuery>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

// The pages are compiled into the program's static library, whose resources are not
// registered until asked for.
static void InitQuelvardResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {
const QByteArray SchemeName = QByteArrayLiteral("quelvard");
constexpr int LongestReason = 200;

// A form's field as typed: the form writes a space as "+" and a "+" as "%2B".
QString formField(const QUrlQuery &query, const QString &name)
{
    QString encoded = query.queryItemValue(name, QUrl::FullyEncoded);
    encoded.replace(QLatin1Char('+'), QStringLiteral("%20"));
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toLatin1()));
}

// The blocked page's request to open its page: sent to the time keeper as this account, then
// back to the blocked page, which says what became of it. Only the blocked page itself may ask;
// a page of the web linking here would ask in the child's name.
void ask(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    const QUrl address = TNavigationFilter::AskedAddress(url);
    if (job->initiator().scheme() != QLatin1String(SchemeName) || !address.isValid() ||
        address.host().isEmpty() ||
        MachinePolicies::Current().unblockRequests != MachinePolicies::UnblockRequests::On) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    QString reason = formField(QUrlQuery(url), QStringLiteral("reason")).simplified();
    reason.truncate(LongestReason);
    KeeperClient::Call({{QStringLiteral("op"), QStringLiteral("ask")},
                        {QStringLiteral("address"), address.toString(QUrl::FullyEncoded)},
                        {QStringLiteral("reason"), reason}},
                       nullptr, 2000);
    job->redirect(TNavigationFilter::BlockedPageUrl(address));
}
} // namespace

void TQuelvardSchemeHandler::RegisterScheme()
{
    InitQuelvardResources();
    QWebEngineUrlScheme scheme(SchemeName);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void TQuelvardSchemeHandler::Install(QWebEngineProfile *profile)
{
    if (!profile->urlSchemeHandler(SchemeName))
        profile->installUrlSchemeHandler(SchemeName, new TQuelvardSchemeHandler(profile));
}

void TQuelvardSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    QString path = url.path();
    if (path.isEmpty() || path == QLatin1String("/"))
        path = QStringLiteral("/start.html");
    // Only plain file names: the pages are a flat folder of resources.
    if (url.host() != QLatin1String("home") || path.count(QLatin1Char('/')) != 1 ||
        path.contains(QLatin1String(".."))) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (path == QLatin1String("/ask.html")) {
        ask(job);
        return;
    }
    if (path == QLatin1String("/closed.html")) {
        auto *page = new QBuffer(job);
        page->setData(TTimeGuard::ClosedPageHtml());
        page->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/html"), page);
        return;
    }
    if (path == QLatin1String("/blocked.html")) {
        auto *page = new QBuffer(job);
        page->setData(TNavigationFilter::BlockedPageHtml(url, GenUtilities::GetHomePage()));
        page->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/html"), page);
        return;
    }
    QFile file(QStringLiteral(":/pages") + path);
    if (!file.open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    QByteArray mime = QByteArrayLiteral("text/html");
    if (path.endsWith(QLatin1String(".css")))
        mime = QByteArrayLiteral("text/css");
    else if (path.endsWith(QLatin1String(".svg")))
        mime = QByteArrayLiteral("image/svg+xml");
    auto *buffer = new QBuffer(job);
    buffer->setData(file.readAll());
    buffer->open(QIODevice::ReadOnly);
    job->reply(mime, buffer);
}
