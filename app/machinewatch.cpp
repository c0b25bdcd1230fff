#include "app/machinewatch.h"

#include "common/apppaths.h"
#include "common/categorylists.h"
#include "common/machinechange.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString storeFolder()
{
    return QFileInfo(AppPaths::MachineHiveFile()).absolutePath();
}

} // namespace

TMachineWatch::TMachineWatch(QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_quiet(new QTimer(this))
{
    m_quiet->setSingleShot(true);
    connect(m_quiet, &QTimer::timeout, this, &TMachineWatch::settled);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &TMachineWatch::noticed);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &TMachineWatch::noticed);
    m_seen = MachineChange::Fingerprint();
    arm();
}

TMachineWatch::~TMachineWatch()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

void TMachineWatch::arm()
{
    const QString folder = storeFolder();
    if (m_folder < 0)
        m_folder =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QStringList paths;
    if (QFileInfo(folder).isDir()) {
        paths << folder << MachineChange::FavoriteFolders();
        for (const QString &file : {AppPaths::MachineHiveFile(), CategoryLists::CompiledFile()}) {
            if (QFileInfo::exists(file))
                paths << file;
        }
    } else {
        // A machine the administrator has not set up yet: its first command makes the folder
        // in the nearest one there is.
        QString parent = folder;
        do {
            parent = QFileInfo(parent).absolutePath();
        } while (!QFileInfo(parent).isDir() && parent != QDir::rootPath());
        paths << parent;
    }
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    QStringList gone;
    for (const QString &path : watched) {
        if (!paths.contains(path))
            gone << path;
    }
    if (!gone.isEmpty())
        m_watcher->removePaths(gone);
    QStringList added;
    for (const QString &path : paths) {
        if (!watched.contains(path))
            added << path;
    }
    if (!added.isEmpty())
        m_watcher->addPaths(added);
}

void TMachineWatch::noticed()
{
    if (!m_quiet->isActive() || !m_since.isValid())
        m_since.start();
    // Quiet for a moment, but a folder that never stops changing is still read in time.
    const qint64 left = MostWaitMs - m_since.elapsed();
    m_quiet->start(int(std::clamp<qint64>(left, 0, QuietMs)));
}

void TMachineWatch::settled()
{
    m_since.invalidate();
    // A replaced file is no longer watched under its name; a new folder of favorites not yet.
    arm();
    const QString now = MachineChange::Fingerprint();
    if (now == m_seen)
        return;
    m_seen = now;
    emit Changed();
}
