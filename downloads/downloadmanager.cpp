#include "downloads/downloadmanager.h"

#include "common/apppaths.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "downloads/downloadrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace {

// Marks a request one manager has decided, should a profile ever be shared by two windows.
const char *const DecidedProperty = "quelvardDownloadDecided";

// What the engine writes while a file is on its way, beside the file's own name.
QString companion(const QString &path)
{
    return path + QStringLiteral(".download");
}

// Something is there, a link even when it leads nowhere: writing through it would create its
// target, wherever that is.
bool occupied(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

bool forgetting()
{
    return MachinePolicies::Current().ForgetsBrowsingData();
}

} // namespace

TDownloadManager::TDownloadManager(QWebEngineProfile *profile, QObject *parent)
    : QObject(parent), m_forgotten(AppPaths::RunRecordsDir())
{
    // A run that crashed while it forgot had no end of its own: its visitor's files go now.
    TRunFiles::DeleteLeftByEndedRuns(AppPaths::RunRecordsDir());
    Follow(profile);
    // The program's end, whichever way it comes, ends the session before the window goes.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { endRun(); });
}

TDownloadManager::~TDownloadManager()
{
    endRun();
}

void TDownloadManager::endRun()
{
    Guard::Run("TDownloadManager::endRun", [this] { EndSession(forgetting()); });
}

void TDownloadManager::Follow(QWebEngineProfile *profile)
{
    if (!profile || m_profiles.contains(profile))
        return;
    m_profiles << profile;
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            [this, profile](QWebEngineDownloadRequest *request) { decide(profile, request); });
}

void TDownloadManager::EndSession(bool deleteFiles)
{
    const auto session = std::exchange(m_session, {});
    for (const TDownload &download : session) {
        if (!download.request || download.request->isFinished())
            continue;
        const QString path = download.path;
        // Gone now, and again once the engine has stopped writing, should it make it anew.
        connect(download.request, &QWebEngineDownloadRequest::isFinishedChanged, this,
                [path, deleteFiles] {
                    QFile::remove(companion(path));
                    if (deleteFiles)
                        QFile::remove(path);
                });
        download.request->cancel();
        QFile::remove(companion(path));
    }
    if (deleteFiles)
        m_forgotten.DeleteAll(); // a link put there since goes, never what it leads to
    emit SessionEnded();
}

void TDownloadManager::decide(QWebEngineProfile *profile, QWebEngineDownloadRequest *request)
{
    if (!request || request->isSavePageDownload() || request->property(DecidedProperty).toBool())
        return;
    request->setProperty(DecidedProperty, true);
    // The engine tries a failed download again on its own, as a new request under the same
    // number. Nothing here offers to resume one and its part is already deleted, so the try is
    // refused without a row of its own: the failed download's row says what happened.
    if (const auto known = m_session.constFind({profile, request->id()});
        known != m_session.cend()) {
        // The engine reports to the new request from now on; the old one's row is told. It
        // tries again only after the transfer broke off, and names no reason of its own then.
        QWebEngineDownloadRequest::DownloadInterruptReason reason = request->interruptReason();
        if (reason == QWebEngineDownloadRequest::NoReason)
            reason = QWebEngineDownloadRequest::NetworkFailed;
        request->cancel();
        QFile::remove(companion(known->path));
        if (known->request)
            emit Failed(known->request, DownloadRules::FailureText(reason));
        return;
    }
    // A request left undecided is cancelled by the engine, so a failure here writes nothing.
    Guard::Run("TDownloadManager::decide", [this, profile, request] {
        QString suggested = request->suggestedFileName();
        if (suggested.isEmpty())
            suggested = request->url().fileName();
        const QString name = DownloadRules::SafeFileName(suggested);
        const bool allowed =
            MachinePolicies::Current().downloads == MachinePolicies::Downloads::Allow;
        const QString folder = DownloadRules::DownloadFolder();
        QString why = DownloadRules::WhyRefused(allowed, folder, name);
        if (why.isEmpty() && m_addressAllowed && !m_addressAllowed(request->url()))
            why = DownloadRules::BlockedAddressMessage;
        // Made only once it is known not to be among the favorites.
        if (why.isEmpty() && !QDir().mkpath(folder))
            why = DownloadRules::NoFolderMessage;
        QString fileName = name;
        if (why.isEmpty()) {
            fileName = DownloadRules::FreeFileName(name, [this, &folder](const QString &candidate) {
                const QString path = QDir(folder).filePath(candidate);
                return m_underWay.contains(path) || m_underWay.contains(companion(path)) ||
                       occupied(path) || occupied(companion(path));
            });
            why = DownloadRules::WhyRefused(allowed, folder, fileName);
        }
        const QString path = QDir(folder).filePath(fileName);
        // Written down before the engine makes either file, so no end of the run misses them.
        if (why.isEmpty() && forgetting() &&
            !(m_forgotten.Add(path) && m_forgotten.Add(companion(path))))
            why = DownloadRules::NoRecordMessage;
        if (!why.isEmpty()) {
            const QUrl from = request->url();
            request->cancel();
            emit Refused(name, why);
            emit RefusedFrom(from, why);
            return;
        }
        m_underWay.insert(path);
        m_session.insert({profile, request->id()}, {request, path});
        follow(request, path);
        request->setDownloadDirectory(folder);
        request->setDownloadFileName(fileName);
        request->accept();
        emit Started(request);
    });
}

void TDownloadManager::follow(QWebEngineDownloadRequest *request, const QString &path)
{
    connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this,
            [this, path] { m_underWay.remove(path); });
    connect(request, &QWebEngineDownloadRequest::stateChanged, this,
            [this, request, path] { ended(request, path); });
}

void TDownloadManager::ended(QWebEngineDownloadRequest *request, const QString &path)
{
    const QWebEngineDownloadRequest::DownloadState state = request->state();
    if (state != QWebEngineDownloadRequest::DownloadInterrupted &&
        state != QWebEngineDownloadRequest::DownloadCancelled)
        return;
    // Nothing offers to resume it, so what it wrote is of no use to anyone: it goes at once,
    // and the engine, told that the download is over, does not try again on its own.
    // Queued, so that the bar has read why it failed before it reads "cancelled".
    if (state == QWebEngineDownloadRequest::DownloadInterrupted)
        QMetaObject::invokeMethod(request, &QWebEngineDownloadRequest::cancel,
                                  Qt::QueuedConnection);
    QFile::remove(companion(path));
}
