#include "main/browserprofile.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"
#include "main/schemehandler.h"

#include <QCoreApplication>
#include <QWebEngineProfile>

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
        profile = new QWebEngineProfile(QStringLiteral("Quelvard"), QCoreApplication::instance());
        profile->setPersistentStoragePath(AppPaths::EngineStorageDir());
        profile->setCachePath(AppPaths::EngineCacheDir());
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    TQuelvardSchemeHandler::Install(profile);
    return profile;
}

} // namespace BrowserProfile
