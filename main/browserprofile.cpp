#include "main/browserprofile.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"
#include "filter/navigationfilter.h"
#include "main/schemehandler.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>
#include <memory>
#include <vector>

namespace BrowserProfile {

namespace {

QWebEngineProfile *g_profile = nullptr;

struct TFollower
{
    QPointer<QObject> context;
    std::function<void(QWebEngineProfile *)> install;
};
std::vector<TFollower> g_followers;

// What every profile of ours carries, whichever way it was made.
void prepare(QWebEngineProfile *profile)
{
    // A PDF opens in its tab, in the engine's own viewer, instead of becoming a download.
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    profile->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    TQuelvardSchemeHandler::Install(profile);
    TNavigationFilter::Install(profile);
}

// The pages of the program's views that still use `profile`.
QList<QWebEnginePage *> pagesOf(QWebEngineProfile *profile)
{
    QList<QWebEnginePage *> pages;
    for (QWidget *widget : QApplication::allWidgets()) {
        auto *view = qobject_cast<QWebEngineView *>(widget);
        if (view && view->page() && view->page()->profile() == profile)
            pages << view->page();
    }
    return pages;
}

// Frees `profile` once no page uses it; asked again as each of its pages goes.
void releaseWhenUnused(QPointer<QWebEngineProfile> profile)
{
    if (!profile)
        return;
    const QList<QWebEnginePage *> pages = pagesOf(profile);
    if (pages.isEmpty()) {
        profile->deleteLater();
        return;
    }
    auto asked = std::make_shared<bool>(false);
    for (QWebEnginePage *page : pages) {
        QObject::connect(page, &QObject::destroyed, profile, [profile, asked] {
            if (*asked)
                return;
            *asked = true;
            QMetaObject::invokeMethod(
                profile, [profile] { releaseWhenUnused(profile); }, Qt::QueuedConnection);
        });
    }
}

} // namespace

QWebEngineProfile *Current()
{
    if (g_profile)
        return g_profile;
    if (MachinePolicies::Current().browsingData == MachinePolicies::BrowsingData::Forget) {
        g_profile = QWebEngineProfile::defaultProfile(); // off the record
    } else {
        // Owned by the application so it outlives every page, which the engine requires. The
        // folders are set before the first page uses the profile, as they must be.
        // The engine writes a named profile's settings file under the application's data
        // folder as the profile is made, before its own folder can be set; that folder is the
        // favorites folder, where no engine file belongs. The application goes by the engine
        // folder's name while the profile is made, so the file lands among the engine's own.
        const QString applicationName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QFileInfo(AppPaths::EngineStorageDir()).fileName());
        g_profile = new QWebEngineProfile(QStringLiteral("Quelvard"), QCoreApplication::instance());
        QCoreApplication::setApplicationName(applicationName);
        g_profile->setPersistentStoragePath(AppPaths::EngineStorageDir());
        g_profile->setCachePath(AppPaths::EngineCacheDir());
        g_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        g_profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    prepare(g_profile);
    return g_profile;
}

QWebEngineProfile *StartNewSession()
{
    QWebEngineProfile *old = Current();
    // Without a name the engine keeps nothing of it on disk.
    g_profile = new QWebEngineProfile(QCoreApplication::instance());
    prepare(g_profile);
    for (auto it = g_followers.begin(); it != g_followers.end();) {
        if (!it->context) {
            it = g_followers.erase(it);
            continue;
        }
        it->install(g_profile);
        ++it;
    }
    if (old == QWebEngineProfile::defaultProfile()) {
        old->cookieStore()->deleteAllCookies();
        old->clearHttpCache();
        old->clearAllVisitedLinks();
    } else {
        // The caller closes the old pages next; they go before the profile does.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [profile = QPointer<QWebEngineProfile>(old)] { releaseWhenUnused(profile); },
            Qt::QueuedConnection);
    }
    return g_profile;
}

void OnEachProfile(QObject *context, std::function<void(QWebEngineProfile *)> install)
{
    install(Current());
    g_followers.push_back({context, std::move(install)});
}

} // namespace BrowserProfile
