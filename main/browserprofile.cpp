#include "main/browserprofile.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"
#include "main/schemehandler.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace BrowserProfile {

QWebEngineProfile *Current()
{
    static QWebEngineProfile *profile = nullptr;
    if (profile)
        return profile;
    if (MachinePolicies::Current().browsingData == MachinePolicies::BrowsingData::Forget) {
        profile = QWebEngineProfile::defaultProfile(); // off the record
    } else {
        // Owned by the application so it outlives every page, which the engine requires. The
        // folders are set before the first page uses the profile, as they must be.
        // The engine writes a named profile's settings file under the application's data
        // folder as the profile is made, before its own folder can be set; that folder is the
        // favorites folder, where no engine file belongs. The application goes by the engine
        // folder's name while the profile is made, so the file lands among the engine's own.
        const QString applicationName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QFileInfo(AppPaths::EngineStorageDir()).fileName());
        profile = new QWebEngineProfile(QStringLiteral("Quelvard"), QCoreApplication::instance());
        QCoreApplication::setApplicationName(applicationName);
        profile->setPersistentStoragePath(AppPaths::EngineStorageDir());
        profile->setCachePath(AppPaths::EngineCacheDir());
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    // A PDF opens in its tab, in the engine's own viewer, instead of becoming a download.
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    profile->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    TQuelvardSchemeHandler::Install(profile);
    TNavigationFilter::Install(profile);
    return profile;
}

} // namespace BrowserProfile
