#include "app/schemehandler.h"

#include "app/timeguard.h"

#include "common/genutilities.h"
#include "filter/navigationfilter.h"

#include <QBuffer>
#include <QFile>
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
}

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
