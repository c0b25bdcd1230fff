#include "common/machinefavorites.h"

#include "common/apppaths.h"
#include "common/errors.h"
#include "common/favoritesstore.h"
#include "common/machinepolicies.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace MachineFavorites {

namespace {

constexpr mode_t FolderMode = 0755;
constexpr mode_t FileMode = 0644;

// A descriptor closed when it goes out of scope.
class TFd
{
public:
    explicit TFd(int fd = -1) : m_fd(fd) {}
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    TFd(TFd &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    TFd &operator=(TFd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~TFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

[[noreturn]] void fail(const QString &path, int code)
{
    throw EQuelvardError(QStringLiteral("%1: %2").arg(path, qt_error_string(code)));
}

QString storeFolder()
{
    return QFileInfo(AppPaths::MachineHiveFile()).absolutePath();
}

QString fileNameOf(const QString &name)
{
    return name + QStringLiteral(".irl");
}

// One entry a line: a folder's name and "/", a favorite's file name. A name holds neither "/"
// nor a line break, and no name starts with a dot, so the file is never taken for an entry.
const char *const OrderFileName = ".order";
// Far beyond any folder's list; a larger file is not read.
constexpr qint64 LongestOrderFile = 1024 * 1024;

QString orderKey(const QString &name, bool isFolder)
{
    return isFolder ? name + QLatin1Char('/') : fileNameOf(name);
}

QByteArray orderOf(const QVector<TNode> &tree)
{
    QByteArray lines;
    for (const TNode &node : tree)
        lines += orderKey(node.Name, node.IsFolder).toUtf8() + '\n';
    return lines;
}

QStringList readOrder(const QString &folder)
{
    const QString path = folder + QLatin1String(OrderFileName);
    QFile file(path);
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly) ||
        file.size() > LongestOrderFile)
        return QStringList();
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Opens the folder `name` inside `at`, never through a link; makes it first when `create`.
// Invalid when it is missing and not made.
TFd stepInto(int at, const QString &name, bool create, const QString &shown)
{
    const QByteArray native = QFile::encodeName(name);
    const bool made = create && ::mkdirat(at, native.constData(), FolderMode) == 0;
    if (create && !made && errno != EEXIST)
        fail(shown, errno);
    TFd fd(::openat(at, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        if (!create && errno == ENOENT)
            return fd;
        fail(shown, errno);
    }
    if (made && ::fchmod(fd.get(), FolderMode) != 0)
        fail(shown, errno);
    return fd;
}

// The machine folder's `folders`, opened one by one from the store's folder down.
TFd openChain(const QStringList &folders, bool create)
{
    const QString base = storeFolder();
    if (create && !AppPaths::MakeMachineFolder(base))
        fail(base, errno ? errno : EACCES);
    TFd fd(::open(QFile::encodeName(base).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        if (!create && errno == ENOENT)
            return fd;
        fail(base, errno);
    }
    QString shown = base;
    for (const QString &name : QStringList{QStringLiteral("Favorites")} + folders) {
        shown += QLatin1Char('/') + name;
        fd = stepInto(fd.get(), name, create, shown);
        if (!fd.valid())
            break;
    }
    return fd;
}

// Written beside the target and renamed over it: a reader finds the old file or the new one.
void writeFileAt(int at, const QString &name, const QByteArray &content, const QString &shown)
{
    const QByteArray target = QFile::encodeName(name);
    const QByteArray temp =
        ".quelvard-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    TFd fd(::openat(at, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    FileMode));
    if (!fd.valid())
        fail(shown, errno);
    const auto abandon = [&](int code) {
        ::unlinkat(at, temp.constData(), 0);
        fail(shown, code);
    };
    if (::fchmod(fd.get(), FileMode) != 0)
        abandon(errno);
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t written =
            ::write(fd.get(), content.constData() + done, content.size() - done);
        if (written < 0 && errno != EINTR)
            abandon(errno);
        done += std::max<ssize_t>(written, 0);
    }
    if (::fsync(fd.get()) != 0)
        abandon(errno);
    fd = TFd();
    if (::renameat(at, temp.constData(), at, target.constData()) != 0)
        abandon(errno);
}

// Removes the entry `name` in `at`, a folder with all it holds; links are removed, not
// followed.
void removeAt(int at, const QByteArray &name)
{
    struct stat info = {};
    if (::fstatat(at, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlinkat(at, name.constData(), 0);
        return;
    }
    TFd fd(::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid()) {
        if (DIR *dir = ::fdopendir(::dup(fd.get()))) {
            QList<QByteArray> names;
            while (const dirent *entry = ::readdir(dir)) {
                const QByteArray child(entry->d_name);
                if (child != "." && child != "..")
                    names << child;
            }
            ::closedir(dir);
            for (const QByteArray &child : names)
                removeAt(fd.get(), child);
        }
    }
    ::unlinkat(at, name.constData(), AT_REMOVEDIR);
}

QByteArray contentFor(const QString &url)
{
    return FavoritesStore::FavoriteFileContent(url, FavoritesStore::GetWindowsDir(),
                                               FavoritesStore::GetSystemDir());
}

void writeTree(int at, const QVector<TNode> &tree, const QString &shown)
{
    if (!tree.isEmpty())
        writeFileAt(at, QLatin1String(OrderFileName), orderOf(tree),
                    shown + QLatin1Char('/') + QLatin1String(OrderFileName));
    for (const TNode &node : tree) {
        const QString path = shown + QLatin1Char('/') + node.Name;
        if (node.IsFolder) {
            const TFd fd = stepInto(at, node.Name, true, path);
            writeTree(fd.get(), node.Children, path);
        } else {
            writeFileAt(at, fileNameOf(node.Name), contentFor(node.Url), fileNameOf(path));
        }
    }
}

QVector<TNode> nodesOf(const QVector<FavoritesStore::TFavoriteItem> &items)
{
    QVector<TNode> nodes;
    for (const FavoritesStore::TFavoriteItem &item : items) {
        TNode node{item.Name, QString(), item.IsFolder, {}};
        if (item.IsFolder)
            node.Children = nodesOf(item.Children);
        else if ((node.Url = FavoritesStore::ReadFavoriteURL(item.Path)).isEmpty())
            continue;
        nodes << node;
    }
    return nodes;
}

// A path as a message shows it: a long one is cut in its middle.
QString shownPath(const QStringList &names)
{
    constexpr qsizetype Half = 40;
    const QString path = names.join(QLatin1Char('/'));
    if (path.size() <= 3 * Half)
        return QLatin1Char('"') + path + QLatin1Char('"');
    return QStringLiteral("\"%1...%2\" (%3 characters)")
        .arg(path.left(Half), path.right(Half))
        .arg(path.size());
}

// Why `node` itself, inside `folders`, cannot be written; its children are not looked at.
std::optional<QString> entryProblem(const QStringList &folders, const TNode &node)
{
    if (const auto why = NameProblem(node.Name))
        return why;
    if (const auto why = PlaceProblem(folders, node.Name, node.IsFolder))
        return why;
    if (!node.IsFolder)
        return UrlProblem(node.Url);
    return std::nullopt;
}

std::optional<QString> treeProblem(const QVector<TNode> &tree, const QStringList &folders)
{
    QSet<QString> folderNames;
    QSet<QString> favoriteNames;
    for (const TNode &node : tree) {
        const QStringList path = folders + QStringList{node.Name};
        if (const auto why = entryProblem(folders, node))
            return QStringLiteral("%1: %2").arg(shownPath(path), *why);
        QSet<QString> &seen = node.IsFolder ? folderNames : favoriteNames;
        if (seen.contains(node.Name))
            return QStringLiteral("%1: a folder holds one %2 of a name")
                .arg(shownPath(path),
                     node.IsFolder ? QStringLiteral("folder") : QStringLiteral("favorite"));
        seen.insert(node.Name);
        if (node.IsFolder) {
            if (const auto why = treeProblem(node.Children, path))
                return why;
        }
    }
    return std::nullopt;
}

QVector<TNode> writable(const QVector<TNode> &tree, const QStringList &folders,
                        QStringList *leftOut)
{
    QVector<TNode> kept;
    for (TNode node : tree) {
        const QStringList path = folders + QStringList{node.Name};
        if (const auto why = entryProblem(folders, node)) {
            *leftOut << QStringLiteral("the shared favorite %1 is left out: %2")
                            .arg(shownPath(path), *why);
            continue;
        }
        if (node.IsFolder)
            node.Children = writable(node.Children, path, leftOut);
        kept << node;
    }
    return kept;
}

} // namespace

QString Folder()
{
    return storeFolder() + QStringLiteral("/Favorites");
}

std::optional<QString> NameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("a name cannot be blank");
    if (!FavoritesStore::IsSafeEntryName(name))
        return QStringLiteral("a name is one entry: no \"/\", and not \".\" or \"..\"");
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("a name does not start with a dot");
    if (name.contains(QChar::ReplacementCharacter))
        return QStringLiteral("a name must be valid UTF-8");
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("a name holds no control character");
    }
    // The longest file name the file systems take, with the ending that makes it a favorite.
    if (QFile::encodeName(fileNameOf(name)).size() > 255)
        return QStringLiteral("a name is at most 251 bytes long");
    return std::nullopt;
}

std::optional<QString> UrlProblem(const QString &url)
{
    return MachinePolicies::AddressProblem(url, QStringLiteral("a favorite"));
}

std::optional<QString> PlaceProblem(const QStringList &folders, const QString &name, bool isFolder)
{
    if (folders.size() + (isFolder ? 1 : 0) > MaxFolderDepth)
        return QStringLiteral("folders nest at most %1 deep").arg(MaxFolderDepth);
    const qsizetype bytes =
        QFile::encodeName((folders + QStringList{name}).join(QLatin1Char('/'))).size();
    if (bytes > MaxPathBytes)
        return QStringLiteral("a path is at most %1 bytes long, not %2")
            .arg(MaxPathBytes)
            .arg(bytes);
    return std::nullopt;
}

std::optional<QString> TreeProblem(const QVector<TNode> &tree)
{
    return treeProblem(tree, QStringList());
}

QVector<TNode> Writable(const QVector<TNode> &tree, QStringList *leftOut)
{
    return writable(tree, QStringList(), leftOut);
}

QVector<TNode> ReadTree(const QString &folder)
{
    return nodesOf(InGivenOrder(
        FavoritesStore::ReadFavoritesTree(folder, FavoritesStore::TWalk::Menu), folder));
}

QVector<FavoritesStore::TFavoriteItem> InGivenOrder(QVector<FavoritesStore::TFavoriteItem> items,
                                                    const QString &folder)
{
    const QString within = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (FavoritesStore::TFavoriteItem &item : items) {
        if (item.IsFolder)
            item.Children = InGivenOrder(std::move(item.Children), item.Path);
    }
    const QStringList order = readOrder(within);
    if (order.isEmpty())
        return items;
    QHash<QString, qsizetype> place;
    for (qsizetype i = 0; i < order.size(); ++i)
        place.insert(order.at(i), place.value(order.at(i), i));
    QVector<std::pair<qsizetype, FavoritesStore::TFavoriteItem>> ranked;
    for (FavoritesStore::TFavoriteItem &item : items) {
        const QString key =
            item.IsFolder ? orderKey(item.Name, true) : QFileInfo(item.Path).fileName();
        ranked.append({place.value(key, order.size()), std::move(item)});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QVector<FavoritesStore::TFavoriteItem> sorted;
    for (auto &entry : ranked)
        sorted.append(std::move(entry.second));
    return sorted;
}

QStringList UnsafeFolders(const QStringList &folders)
{
    QStringList problems;
    QString path = Folder();
    for (qsizetype i = 0; i <= folders.size(); ++i) {
        if (i > 0)
            path += QLatin1Char('/') + folders.at(i - 1);
        const QStringList found = AppPaths::UnsafeMachinePath(path);
        problems << found;
        // Below a link the path names somewhere else altogether.
        if (!found.isEmpty() && QFileInfo(path).isSymLink())
            break;
    }
    return problems;
}

void Add(const QStringList &folders, const QString &name, const QString &url)
{
    for (const QString &folder : folders + QStringList{name}) {
        if (const auto why = NameProblem(folder))
            throw EQuelvardError(QStringLiteral("\"%1\": %2").arg(folder, *why));
    }
    if (const auto why = PlaceProblem(folders, name))
        throw EQuelvardError(
            QStringLiteral("%1: %2").arg(shownPath(folders + QStringList{name}), *why));
    if (const auto why = UrlProblem(url))
        throw EQuelvardError(*why);
    const TFd fd = openChain(folders, true);
    writeFileAt(fd.get(), fileNameOf(name), contentFor(url),
                Folder() + QLatin1Char('/') + (folders + QStringList{fileNameOf(name)}).join('/'));
}

bool Remove(const QStringList &folders, const QString &name)
{
    if (NameProblem(name))
        return false;
    for (const QString &folder : folders) {
        if (NameProblem(folder))
            return false;
    }
    const TFd fd = openChain(folders, false);
    if (!fd.valid())
        return false;
    struct stat info = {};
    const QByteArray file = QFile::encodeName(fileNameOf(name));
    if (::fstatat(fd.get(), file.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(info.st_mode)) {
        if (::unlinkat(fd.get(), file.constData(), 0) != 0)
            fail(fileNameOf(name), errno);
        return true;
    }
    const QByteArray folder = QFile::encodeName(name);
    if (::fstatat(fd.get(), folder.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode))
        return false;
    removeAt(fd.get(), folder);
    if (::fstatat(fd.get(), folder.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        fail(name, ENOTEMPTY);
    return true;
}

void ReplaceTree(const QVector<TNode> &tree)
{
    if (const auto why = TreeProblem(tree))
        throw EQuelvardError(*why);
    const QString base = storeFolder();
    if (!AppPaths::MakeMachineFolder(base))
        fail(base, errno ? errno : EACCES);
    const TFd store(::open(QFile::encodeName(base).constData(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!store.valid())
        fail(base, errno);
    // Built whole under a hidden name beside the folder, then swapped in with one rename.
    const QString temp =
        QStringLiteral(".Favorites-%1").arg(QRandomGenerator::global()->generate64(), 0, 16);
    const QByteArray nativeTemp = QFile::encodeName(temp);
    try {
        const TFd fd = stepInto(store.get(), temp, true, base + QLatin1Char('/') + temp);
        writeTree(fd.get(), tree, Folder());
    } catch (...) {
        removeAt(store.get(), nativeTemp);
        throw;
    }
    if (::renameat2(store.get(), nativeTemp.constData(), store.get(), "Favorites",
                    RENAME_EXCHANGE) == 0) {
        // The old favorites, now under the hidden name.
        removeAt(store.get(), nativeTemp);
        return;
    }
    int code = errno;
    if (code == ENOENT) {
        if (::renameat(store.get(), nativeTemp.constData(), store.get(), "Favorites") == 0)
            return;
        code = errno;
    } else if (code == EINVAL) {
        // A file system that cannot swap two names: the old folder steps aside first.
        const QByteArray old = nativeTemp + "-old";
        if (::renameat(store.get(), "Favorites", store.get(), old.constData()) == 0 &&
            ::renameat(store.get(), nativeTemp.constData(), store.get(), "Favorites") == 0) {
            removeAt(store.get(), old);
            return;
        }
        code = errno;
        ::renameat(store.get(), old.constData(), store.get(), "Favorites");
    }
    removeAt(store.get(), nativeTemp);
    fail(Folder(), code);
}

} // namespace MachineFavorites
