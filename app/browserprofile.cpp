#include "app/browserprofile.h"

#include "app/schemehandler.h"
#include "common/apppaths.h"
#include "common/favoritesstore.h"
#include "common/machinepolicies.h"
#include "downloads/runfiles.h"
#include "filter/navigationfilter.h"

#include <QApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QPointer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>
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

// The name of the folder the engine makes below the application's data folder.
const QLatin1String EngineFolderName("QtWebEngine");

// This run's folders of its off-the-record profiles, written down so that they go at its end
// and, after a crash, at the next start.
TRunFiles &engineRunFiles()
{
    static TRunFiles files(AppPaths::RunRecordsDir());
    return files;
}

// An off-the-record profile writes little (the GPU's shader cache), but the engine would write
// it below the application's data folder, which is the favorites folder. Each profile gets a
// folder of its own in the run's, deleted once the engine has ended with the program.
void placeOffTheRecord(QWebEngineProfile *profile)
{
    static int made = 0;
    static const QString runDir = [] {
        const QString dir = AppPaths::EngineRunDir(QString::number(::getpid()));
        engineRunFiles().Add(dir);
        std::atexit([] { engineRunFiles().DeleteAll(); });
        return dir;
    }();
    const QString dir = runDir + QStringLiteral("/%1").arg(++made);
    AppPaths::MakeUserFolder(dir);
    profile->setPersistentStoragePath(dir);
    profile->setCachePath(dir);
}

// What earlier runs let the engine leave in the favorites folder: its caches only, never a
// favorite, so they go. A folder of that name that holds a favorite is the user's, and stays.
void removeEngineLeftovers()
{
    const QString folder = FavoritesStore::FavoritesFolder();
    if (folder.isEmpty())
        return;
    const QString engine = folder + EngineFolderName;
    if (!QFileInfo(engine).isDir() || QFileInfo(engine).isSymLink())
        return;
    QDirIterator it(engine, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (FavoritesStore::IsFavoriteFileName(QFileInfo(it.next()).fileName()))
            return;
    }
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(engine).toStdString()),
                                error);
}

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
    // Before any page exists: a crashed run's engine folder and an older run's leftovers go.
    TRunFiles::DeleteLeftByEndedRuns(AppPaths::RunRecordsDir());
    removeEngineLeftovers();
    if (MachinePolicies::Current().ForgetsBrowsingData()) {
        g_profile = QWebEngineProfile::defaultProfile(); // off the record
        placeOffTheRecord(g_profile);
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
    placeOffTheRecord(g_profile);
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
