#include "common/favoritesstore.h"

#include "common/apppaths.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/inifile.h"
#include "common/textutils.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FavoritesStore {

namespace {

const QString FavoriteExtension = QStringLiteral(".irl");
// The platform's profile-string reader hands back at most this many characters of a value.
constexpr int MaxURLLength = 2047;

std::optional<QString> g_windowsDir;
std::optional<QString> g_systemDir;

// A folder value as the save writes it: lower-cased, trimmed, ending in "/".
QString folderValue(const QString &raw)
{
    QString value = TextUtils::Trim(TextUtils::LowerCase(raw));
    if (value.isEmpty())
        return QString();
    if (!value.endsWith(QLatin1Char('/')))
        value += QLatin1Char('/');
    return value;
}

QString withSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString withoutSlash(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

// The path as the system takes it; a NUL inside would silently cut the path short, so such a
// path is refused outright.
bool nativePath(const QString &path, QByteArray *native)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    *native = QFile::encodeName(path);
    return true;
}

bool lstatPath(const QString &path, struct stat *info)
{
    QByteArray native;
    return nativePath(withoutSlash(path), &native) && ::lstat(native.constData(), info) == 0;
}

TDirEntry::TKind kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return TDirEntry::Folder;
    if (S_ISREG(mode))
        return TDirEntry::File;
    if (S_ISLNK(mode))
        return TDirEntry::Link;
    return TDirEntry::Other;
}

QString systemError(int code)
{
    return qt_error_string(code);
}

// The process's file mode mask, read without changing it: umask() can only be read by setting
// it, and for that moment files that the web engine's threads create would get no mask at all.
// Where the kernel does not report it, the strictest usual mask stands in.
mode_t currentUmask()
{
    constexpr mode_t Fallback = 077;
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fallback;
    QByteArray status;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        status.append(buffer, got);
    }
    ::close(fd);
    for (const QByteArray &line : status.split('\n')) {
        if (!line.startsWith("Umask:"))
            continue;
        bool ok = false;
        const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
        return ok && mask <= 0777 ? mode_t(mask) : Fallback;
    }
    return Fallback;
}

void walk(const QString &folder, TWalk kind, QVector<TFavoriteItem> &into)
{
    const QVector<TDirEntry> entries = ListFolder(folder);
    for (const TDirEntry &entry : entries) {
        if (entry.Kind != TDirEntry::Folder)
            continue;
        if (kind == TWalk::Organize && entry.Hidden())
            continue;
        TFavoriteItem item;
        item.Name = entry.Name;
        item.Path = folder + entry.Name;
        item.IsFolder = true;
        walk(item.Path + QLatin1Char('/'), kind, item.Children);
        into.append(std::move(item));
    }
    for (const TDirEntry &entry : entries) {
        // Links are left out like folders are not followed: a favorite is what lies here.
        if (entry.Kind == TDirEntry::Folder || entry.Kind == TDirEntry::Link)
            continue;
        if (!IsFavoriteFileName(entry.Name))
            continue;
        TFavoriteItem item;
        item.Name = DisplayName(entry.Name);
        item.Path = folder + entry.Name;
        into.append(std::move(item));
    }
}

} // namespace

QString FavoritesFolder()
{
    return GenUtilities::GetAppDataFolder();
}

QString GetWindowsDir()
{
    QString value;
    Guard::Run("GetWindowsDir", [&value] {
        value = folderValue(g_windowsDir ? *g_windowsDir : QStringLiteral("/"));
    });
    return value;
}

QString GetSystemDir()
{
    QString value;
    Guard::Run("GetSystemDir", [&value] {
        value = folderValue(g_systemDir ? *g_systemDir : QStringLiteral("/usr/lib/"));
    });
    return value;
}

void OverrideSystemFolders(const QString &windowsDir, const QString &systemDir)
{
    g_windowsDir = windowsDir.isEmpty() ? std::nullopt : std::optional<QString>(windowsDir);
    g_systemDir = systemDir.isEmpty() ? std::nullopt : std::optional<QString>(systemDir);
}

QVector<TDirEntry> ListFolder(const QString &folder)
{
    QVector<TDirEntry> entries;
    QByteArray native;
    if (!nativePath(folder, &native))
        return entries;
    DIR *dir = ::opendir(native.constData());
    if (!dir)
        return entries;
    const int dirFd = ::dirfd(dir);
    while (const dirent *ent = ::readdir(dir)) {
        const char *name = ent->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        TDirEntry entry;
        entry.Name = QFile::decodeName(name);
        // A name that is not valid in the file-name encoding cannot be named again from its
        // text: every later step would act on some other path, so it is no entry of ours.
        if (QFile::encodeName(entry.Name) != QByteArrayView(name))
            continue;
        switch (ent->d_type) {
        case DT_DIR:
            entry.Kind = TDirEntry::Folder;
            break;
        case DT_REG:
            entry.Kind = TDirEntry::File;
            break;
        case DT_LNK:
            entry.Kind = TDirEntry::Link;
            break;
        case DT_UNKNOWN: {
            // Some file systems leave the type to a separate look-up; it must not follow links.
            struct stat info;
            if (::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            entry.Kind = kindOf(info.st_mode);
            break;
        }
        default:
            entry.Kind = TDirEntry::Other;
            break;
        }
        entries.append(std::move(entry));
    }
    ::closedir(dir);

    // Sort keys make a large folder cheap: each name is prepared once, not at every comparison.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    struct TKeyed
    {
        QCollatorSortKey Key;
        qsizetype Index;
    };
    QVector<TKeyed> keyed;
    keyed.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        // Folded first: under the C locale Qt's sort keys would otherwise keep letter case.
        keyed.append({collator.sortKey(entries.at(i).Name.toCaseFolded()), i});
    std::sort(keyed.begin(), keyed.end(), [&entries](const TKeyed &a, const TKeyed &b) {
        const int order = a.Key.compare(b.Key);
        if (order != 0)
            return order < 0;
        // Names equal but for letter case still come out in one fixed order.
        return entries.at(a.Index).Name < entries.at(b.Index).Name;
    });
    QVector<TDirEntry> sorted;
    sorted.reserve(entries.size());
    for (const TKeyed &k : keyed)
        sorted.append(entries.at(k.Index));
    return sorted;
}

bool IsFavoriteFileName(const QString &fileName)
{
    // Only ASCII letters fold here; a locale-aware comparison could match other letters.
    const qsizetype n = fileName.size();
    if (n < FavoriteExtension.size())
        return false;
    for (qsizetype i = 0; i < FavoriteExtension.size(); ++i) {
        const QChar c = fileName.at(n - FavoriteExtension.size() + i);
        const QChar lower =
            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ? QChar(c.unicode() + 32) : c;
        if (lower != FavoriteExtension.at(i))
            return false;
    }
    return true;
}

QString DisplayName(const QString &fileName)
{
    if (!IsFavoriteFileName(fileName))
        return fileName;
    return fileName.left(fileName.size() - FavoriteExtension.size());
}

QVector<TFavoriteItem> ReadFavoritesTree(const QString &folder, TWalk kind)
{
    QVector<TFavoriteItem> items;
    // A failure ends the walk; what was read so far is listed.
    Guard::Run("ReadFavoritesTree", [&] {
        if (!folder.isEmpty() && IsFolder(folder))
            walk(withSlash(folder), kind, items);
    });
    return items;
}

QByteArray FavoriteFileContent(const QString &url, const QString &windowsDir,
                               const QString &systemDir)
{
    const QStringList lines = {
        QStringLiteral("[InternetShortcut]"),
        QStringLiteral("URL=") + url,
        QStringLiteral("WorkingDirectory=") + windowsDir,
        QStringLiteral("IconIndex=0"),
        QStringLiteral("ShowCommand=7"),
        QStringLiteral("IconFile=") + systemDir + QStringLiteral("url.dll"),
    };
    QByteArray content;
    for (const QString &line : lines)
        content += line.toUtf8() + "\r\n";
    return content;
}

void WriteFileAtomically(const QString &fileName, const QByteArray &content)
{
    QByteArray target;
    if (!nativePath(fileName, &target))
        throw EQuelvardError(QStringLiteral("Invalid file name"));
    const qsizetype slash = target.lastIndexOf('/');
    // A short fixed name in the same folder: the rename stays on one file system and the
    // temporary name never runs past the length limit that the real name meets.
    QByteArray temp = (slash >= 0 ? target.left(slash + 1) : QByteArray()) + ".quelvard-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EQuelvardError(systemError(errno));
    auto fail = [&](int code) {
        ::close(fd);
        ::unlink(temp.constData());
        throw EQuelvardError(systemError(code));
    };
    // mkostemp made the file for its owner only; a favorite gets the mode any new file gets.
    if (::fchmod(fd, 0666 & ~currentUmask()) != 0)
        fail(errno);
    const char *data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        left -= written;
    }
    if (::fsync(fd) != 0)
        fail(errno);
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temp.constData());
        throw EQuelvardError(systemError(code));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int code = errno;
        ::unlink(temp.constData());
        throw EQuelvardError(systemError(code));
    }
}

QString ReadFavoriteURL(const QString &fileName)
{
    try {
        // Only a regular file is read: a pipe would block and a link could lead anywhere.
        if (!IsRegularFileNoLink(fileName))
            return QString();
        const TIniFile ini = TIniFile::Load(fileName);
        const QString value =
            ini.ReadString(QStringLiteral("InternetShortcut"), QStringLiteral("URL"));
        return TextUtils::Trim(value.left(MaxURLLength));
    } catch (const EQuelvardError &) {
        // Not a file that can be read: it has no URL, which the caller reports.
        return QString();
    } catch (...) {
        Guard::LogCurrentException("ReadFavoriteURL");
        return QString();
    }
}

bool IsSafeEntryName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool IsFolder(const QString &path)
{
    QByteArray native;
    struct stat info;
    return nativePath(path, &native) && ::stat(native.constData(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

bool IsFile(const QString &path)
{
    QByteArray native;
    struct stat info;
    return nativePath(path, &native) && ::stat(native.constData(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

bool IsRegularFileNoLink(const QString &path)
{
    struct stat info;
    return !path.endsWith(QLatin1Char('/')) && lstatPath(path, &info) && S_ISREG(info.st_mode);
}

bool EntryExists(const QString &path)
{
    struct stat info;
    return lstatPath(path, &info);
}

bool CreateFolderPath(const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    // Folders the browser makes for a user are theirs alone, like their store.
    AppPaths::MakeUserFolder(path);
    return IsFolder(path);
}

bool MoveNoReplace(const QString &from, const QString &to)
{
    QByteArray source;
    QByteArray target;
    if (!nativePath(withoutSlash(from), &source) || !nativePath(withoutSlash(to), &target))
        return false;
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    // File systems without the no-replace flag answer EINVAL (as does a folder moved into
    // itself, which the plain rename refuses again below).
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    struct stat info;
    if (::lstat(target.constData(), &info) == 0)
        return false;
    return ::rename(source.constData(), target.constData()) == 0;
}

bool DeleteFavoriteFile(const QString &fileName)
{
    struct stat info;
    if (!lstatPath(fileName, &info))
        return true;
    if (S_ISDIR(info.st_mode))
        return false;
    QByteArray native;
    nativePath(withoutSlash(fileName), &native);
    ::unlink(native.constData());
    return !EntryExists(fileName);
}

void DeleteFolderTree(const QString &folder)
{
    // Reports nothing: the caller judges by whether the folder is still there.
    Guard::Run("DeleteFolderTree", [&folder] {
        QByteArray native;
        if (!nativePath(withoutSlash(folder), &native))
            return;
        struct stat info;
        if (::lstat(native.constData(), &info) != 0)
            return;
        if (S_ISLNK(info.st_mode)) {
            ::unlink(native.constData());
            return;
        }
        if (!S_ISDIR(info.st_mode))
            return;
        const QString base = withSlash(withoutSlash(folder));
        const QVector<TDirEntry> entries = ListFolder(base);
        for (const TDirEntry &entry : entries) {
            if (entry.Kind != TDirEntry::Folder)
                ::unlink(QFile::encodeName(base + entry.Name).constData());
        }
        for (const TDirEntry &entry : entries) {
            if (entry.Kind == TDirEntry::Folder && !entry.Hidden())
                DeleteFolderTree(base + entry.Name);
        }
        ::rmdir(native.constData());
    });
}

} // namespace FavoritesStore
