#include "common/machinechange.h"

#include "common/apppaths.h"
#include "common/categorylists.h"
#include "common/machinefavorites.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MachineChange {

namespace {

// A tree of shared favorites beyond this is followed only this far; the menu still reads it
// whole when it opens.
constexpr int MostFolders = 2000;

QString described(const QString &path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return path + QStringLiteral(" -\n");
    return QStringLiteral("%1 %2 %3 %4.%5\n")
        .arg(path)
        .arg(qulonglong(info.st_ino))
        .arg(qlonglong(info.st_size))
        .arg(qlonglong(info.st_mtim.tv_sec))
        .arg(qlonglong(info.st_mtim.tv_nsec));
}

QString userName(uid_t uid)
{
    if (const passwd *entry = ::getpwuid(uid))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(uid);
}

} // namespace

QStringList FavoriteFolders()
{
    const QString top = MachineFavorites::Folder();
    if (!QFileInfo(top).isDir() || QFileInfo(top).isSymLink())
        return {};
    QStringList folders{top};
    QDirIterator it(top, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && folders.size() < MostFolders)
        folders << it.next();
    return folders;
}

QString Fingerprint()
{
    QString text =
        described(AppPaths::MachineHiveFile()) + described(CategoryLists::CompiledFile());
    for (const QString &folder : FavoriteFolders()) {
        text += described(folder);
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
        for (const QFileInfo &entry : entries)
            text += described(entry.filePath());
    }
    return text;
}

QList<TBrowser> RunningBrowsers()
{
    const QByteArray folder =
        QFile::encodeName(QFileInfo(AppPaths::MachineHiveFile()).absolutePath());
    const QByteArray real = QFile::encodeName(
        QFileInfo(QFileInfo(AppPaths::MachineHiveFile()).absolutePath()).canonicalFilePath());
    QList<TBrowser> found;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &name : processes) {
        bool number = false;
        const pid_t pid = pid_t(name.toInt(&number));
        if (!number)
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        // Another user's process cannot be looked into without root: it is not counted.
        const QStringList entries =
            QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            char target[PATH_MAX];
            const QByteArray link = QFile::encodeName(fds + QLatin1Char('/') + fd);
            const ssize_t size = ::readlink(link.constData(), target, sizeof target - 1);
            if (size <= 0)
                continue;
            const QByteArray path(target, int(size));
            if (path != folder && path != real)
                continue;
            struct stat owner
            {
            };
            if (::stat(QFile::encodeName(QStringLiteral("/proc/%1").arg(pid)).constData(),
                       &owner) == 0)
                found.append({pid, userName(owner.st_uid)});
            break;
        }
    }
    std::sort(found.begin(), found.end(), [](const TBrowser &a, const TBrowser &b) {
        return a.User != b.User ? a.User < b.User : a.Process < b.Process;
    });
    return found;
}

QString ToldText(const QList<TBrowser> &browsers)
{
    if (browsers.isEmpty())
        return QStringLiteral("no browser is running");
    QStringList named;
    for (const TBrowser &browser : browsers)
        named << QStringLiteral("%1 (process %2)").arg(browser.User).arg(browser.Process);
    return (browsers.size() == 1
                ? QStringLiteral("told the running browser: ")
                : QStringLiteral("told %1 running browsers: ").arg(browsers.size())) +
           named.join(QStringLiteral(", "));
}

} // namespace MachineChange
