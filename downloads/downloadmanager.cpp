#include "downloads/downloadmanager.h"

#include "common/guard.h"
#include "common/machinepolicies.h"
#include "downloads/downloadrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <utility>

namespace {

// Marks a request one manager has decided, should a profile ever be shared by two windows.
const char *const DecidedProperty = "quelvardDownloadDecided";

} // namespace

TDownloadManager::TDownloadManager(QWebEngineProfile *profile, QObject *parent) : QObject(parent)
{
    Follow(profile);
}

void TDownloadManager::Follow(QWebEngineProfile *profile)
{
    connect(profile, &QWebEngineProfile::downloadRequested, this, &TDownloadManager::decide,
            Qt::UniqueConnection);
}

void TDownloadManager::EndSession(bool deleteFiles)
{
    const auto session = std::exchange(m_session, {});
    for (const auto &[request, path] : session) {
        if (request && !request->isFinished()) {
            if (deleteFiles) {
                connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this,
                        [path = path] { QFile::remove(path); });
            }
            request->cancel();
        }
        if (deleteFiles)
            QFile::remove(path); // a link put there since goes, never what it leads to
    }
}

void TDownloadManager::decide(QWebEngineDownloadRequest *request)
{
    if (!request || request->isSavePageDownload() ||
        request->state() != QWebEngineDownloadRequest::DownloadRequested ||
        request->property(DecidedProperty).toBool())
        return;
    request->setProperty(DecidedProperty, true);
    // A request left undecided is cancelled by the engine, so a failure here writes nothing.
    Guard::Run("TDownloadManager::decide", [this, request] {
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
                const QFileInfo info(path);
                // A link is taken even when it leads nowhere: writing through it would create
                // its target, wherever that is.
                return m_underWay.contains(path) || info.exists() || info.isSymLink();
            });
            why = DownloadRules::WhyRefused(allowed, folder, fileName);
        }
        if (!why.isEmpty()) {
            request->cancel();
            emit Refused(name, why);
            return;
        }
        const QString path = QDir(folder).filePath(fileName);
        m_underWay.insert(path);
        m_session.append({request, path});
        connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this,
                [this, path] { m_underWay.remove(path); });
        request->setDownloadDirectory(folder);
        request->setDownloadFileName(fileName);
        request->accept();
        emit Started(request);
    });
}
