#include "main/webpage.h"

#include "main/browserprofile.h"

#include <QAuthenticator>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineProfile>

TWebPage::TWebPage(QObject *parent) : QWebEnginePage(BrowserProfile::Current(), parent)
{
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
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
    if (url.scheme().compare(QLatin1String("qrc"), Qt::CaseInsensitive) == 0)
        return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}
