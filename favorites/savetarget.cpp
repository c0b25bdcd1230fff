#include "favorites/savetarget.h"

#include "common/favoritesstore.h"
#include "common/machinefavorites.h"
#include "widgets/dialogseam.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int MaxLinkHops = 40;

QString JoinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString ParentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

bool SameEntry(const QString &path, const struct stat &other)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return info.st_dev == other.st_dev && info.st_ino == other.st_ino;
}

bool IsFavoriteName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return FavoritesStore::IsFavoriteFileName(name) ||
           name.endsWith(QLatin1String(".irl"), Qt::CaseInsensitive);
}

} // namespace

namespace SaveTarget {

QString ResolvedPath(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString absolute =
        QDir::isAbsolutePath(path) ? path : JoinPath(QDir::currentPath(), path);
    // Components still to walk, the next one last, so a link's target can be pushed in front.
    QStringList pending = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    std::reverse(pending.begin(), pending.end());
    QString resolved = QStringLiteral("/");
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeLast();
        if (part == QLatin1String("."))
            continue;
        // `resolved` never holds a link, so its parent is the real one.
        if (part == QLatin1String("..")) {
            resolved = ParentOf(resolved);
            continue;
        }
        const QString candidate = JoinPath(resolved, part);
        const QByteArray encoded = QFile::encodeName(candidate);
        struct stat info;
        if (::lstat(encoded.constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
            if (++hops > MaxLinkHops)
                return QString();
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t length = ::readlink(encoded.constData(), target.data(), target.size());
            if (length < 0)
                return QString();
            target.truncate(length);
            const QString text = QFile::decodeName(target);
            if (text.startsWith(QLatin1Char('/')))
                resolved = QStringLiteral("/");
            QStringList parts = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
            std::reverse(parts.begin(), parts.end());
            pending += parts;
            continue;
        }
        // An existing entry or one still to be made: either way it is this name in `resolved`.
        resolved = candidate;
    }
    return resolved;
}

namespace {

bool isInFolder(const QString &favorites, const QString &path)
{
    if (favorites.isEmpty())
        return false;
    const QString folder = ResolvedPath(favorites);
    const QString target = ResolvedPath(path);
    // Links without end cannot be judged, and the engine would follow them no better.
    if (folder.isEmpty() || target.isEmpty())
        return true;
    if (target == folder || target.startsWith(JoinPath(folder, QString())))
        return true;
    // The same folder under another name: a bind mount, or letters that a file system
    // ignoring case reads as the same name.
    struct stat folderInfo;
    if (::stat(QFile::encodeName(folder).constData(), &folderInfo) != 0)
        return false;
    for (QString ancestor = target;; ancestor = ParentOf(ancestor)) {
        if (SameEntry(ancestor, folderInfo))
            return true;
        if (ancestor == QLatin1String("/"))
            return false;
    }
}

} // namespace

bool IsInFavoritesFolder(const QString &path)
{
    return isInFolder(FavoritesStore::FavoritesFolder(), path) ||
           isInFolder(MachineFavorites::Folder(), path);
}

QString WhyNotWrite(const QString &filePath, const QStringList &companions)
{
    if (filePath.isEmpty())
        return QString();
    if (IsFavoriteName(filePath) || IsFavoriteName(ResolvedPath(filePath)))
        return QStringLiteral("Quelvard cannot save a file whose name ends in \".irl\": that "
                              "is the kind of file a favorite is. Please choose another name.");
    bool inFavorites = IsInFavoritesFolder(filePath);
    for (const QString &companion : companions)
        inFavorites = inFavorites || IsInFavoritesFolder(companion);
    if (inFavorites)
        return QStringLiteral("Quelvard cannot save into the Favorites folder or any folder "
                              "inside it. Please choose another folder.");
    return QString();
}

bool RefuseWrite(QWidget *parent, const QString &filePath, const QStringList &companions)
{
    const QString reason = WhyNotWrite(filePath, companions);
    if (reason.isEmpty())
        return false;
    TDialogs::Error(parent, reason);
    return true;
}

} // namespace SaveTarget
