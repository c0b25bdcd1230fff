#include "page/webpage.h"

#include "filter/navigationfilter.h"

#include "app/browserprofile.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDateTime>
#include <QUuid>
#include <QWebEngineCertificateError>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {
// What a document that is a PDF says on the console, from a script world of the program's
// own. It changes with every run, so no page can learn it.
const QString &PdfShownMessage()
{
    static const QString message =
        QStringLiteral("quelvard-pdf-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return message;
}

QWebEngineScript PdfWatchScript()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("quelvard-pdf-watch"));
    script.setSourceCode(
        QStringLiteral("if (document.contentType === 'application/pdf') console.info('%1');")
            .arg(PdfShownMessage()));
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    return script;
}
} // namespace

TWebPage::TWebPage(QObject *parent) : QWebEnginePage(BrowserProfile::Current(), parent)
{
    scripts().insert(PdfWatchScript());
    connect(this, &QWebEnginePage::loadStarted, this, [this] { m_showsPdf = false; });
    // A page that cannot be loaded says why in the engine's own words.
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);
    settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    // A certificate that does not check out is refused, never waved through: the person at a
    // locked browser may not judge it, and the engine's error page names the reason.
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    // A page's dialogs that the person stopped stay stopped until it navigates.
    connect(this, &QWebEnginePage::loadStarted, this, [this] { m_dialogLoop.Navigated(); });
    // A page writing to a file the user picks would bypass every check on what is saved.
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator) {
                *authenticator = QAuthenticator(); // refuses the request
            });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator, const QString &) {
                *authenticator = QAuthenticator();
            });
}

// The engine serves the program's compiled-in resources under qrc: to any page that links,
// redirects or frames there; no page of ours is one of them, and no page may reach them.
bool TWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (TNavigationFilter::RefuseNavigation(this, url, type, isMainFrame))
        return false;
    if (url.scheme().compare(QLatin1String("qrc"), Qt::CaseInsensitive) == 0)
        return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void TWebPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    TPageDialog dialog{TPageDialog::TKind::Alert, {}, msg, {}, false, false};
    pageDialog(securityOrigin, dialog);
}

bool TWebPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    // The engine asks whether to leave a page that objects to it with this question; a page
    // whose dialogs were stopped must not keep the person on it.
    static const QString leavePage = QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
    if (m_dialogLoop.Prevented() && msg == leavePage)
        return true;
    TPageDialog dialog{TPageDialog::TKind::Confirm, {}, msg, {}, false, false};
    return pageDialog(securityOrigin, dialog);
}

bool TWebPage::javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                                const QString &defaultValue, QString *result)
{
    TPageDialog dialog{TPageDialog::TKind::Prompt, {}, msg, defaultValue, false, false};
    const bool accepted = pageDialog(securityOrigin, dialog);
    if (accepted && result)
        *result = dialog.value;
    return accepted;
}

void TWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                        int lineNumber, const QString &sourceID)
{
    if (level == InfoMessageLevel && message == PdfShownMessage()) {
        m_showsPdf = true;
        return;
    }
    QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
}

bool TWebPage::pageDialog(const QUrl &origin, TPageDialog &dialog)
{
    if (m_dialogLoop.Prevented())
        return false;
    dialog.site = origin.host().isEmpty() ? QStringLiteral("Quelvard") : origin.host();
    dialog.offerPrevent = m_dialogLoop.OfferPrevent(QDateTime::currentMSecsSinceEpoch());
    const bool accepted = TDialogs::Current()->PageDialog(QWebEngineView::forPage(this), dialog);
    m_dialogLoop.Closed(QDateTime::currentMSecsSinceEpoch(), dialog.prevent);
    return accepted;
}
