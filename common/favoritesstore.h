#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The favorites on disk: a folder tree of small shortcut files (".irl"), with no index or
// cache. Everything here works on full paths and needs no window, so the menu, both dialogs,
// the tests and the benchmark share one definition of what a favorite is.
namespace FavoritesStore {

// The favorites folder (the per-user application folder) with a trailing "/"; empty when the
// platform gives no application-data folder.
QString FavoritesFolder();

// The two folder values written into every favorite: lower-cased (A to Z only), trimmed and
// ending in "/"; empty when the platform gives none.
QString GetWindowsDir();
QString GetSystemDir();
// Tests point the two values elsewhere to reach the save's failure messages; an empty
// argument restores the platform value.
void OverrideSystemFolders(const QString &windowsDir, const QString &systemDir);

// One entry of a folder as the walks see it. Symbolic links are told apart from what they
// point to, so no walk or delete ever follows one.
struct TDirEntry
{
    enum TKind { Folder, File, Link, Other };
    QString Name;
    TKind Kind = Other;

    bool Hidden() const { return Name.startsWith(QLatin1Char('.')); }
    // Neither a regular file nor a folder: sockets, devices, pipes (and links).
    bool System() const { return Kind == Other || Kind == Link; }
};

// The entries of a folder except "." and "..", sorted by name ignoring letter case under the
// user's locale; empty when the folder cannot be listed.
QVector<TDirEntry> ListFolder(const QString &folder);

// True for a name ending in ".irl" in any letter case; DisplayName drops that ending.
bool IsFavoriteFileName(const QString &fileName);
QString DisplayName(const QString &fileName);

// What the two walks take: the menu takes every folder, the Organize tree leaves out hidden
// folders. Both take every ".irl" entry that is not a folder or a link.
enum class TWalk { Menu, Organize };

struct TFavoriteItem
{
    QString Name; // the folder's name or the favorite's display name
    QString Path; // full path: a folder without trailing "/", a favorite with its ".irl"
    bool IsFolder = false;
    QVector<TFavoriteItem> Children;
};

// The contents of a folder, depth first: the favorite folders first, each with its own
// contents, then the favorites. A folder that cannot be listed contributes nothing.
QVector<TFavoriteItem> ReadFavoritesTree(const QString &folder, TWalk walk);

// The six lines of a favorite file, CR LF after each, as UTF-8 bytes.
QByteArray FavoriteFileContent(const QString &url, const QString &windowsDir,
                               const QString &systemDir);
// Writes a whole file through a temporary file renamed over the target, so a failure never
// leaves half a file and an existing file (or link) of that name is replaced, never written
// through. Raises EQuelvardError with the system's reason on failure.
void WriteFileAtomically(const QString &fileName, const QByteArray &content);
// The trimmed value of "URL" in section "InternetShortcut" (at most 2047 characters of it);
// empty for a file that is missing, not a regular file, unreadable or without a URL.
QString ReadFavoriteURL(const QString &fileName);

// A name the user typed for a favorite or folder that stays one entry inside its folder: not
// empty, not "." or "..", without "/" or NUL.
bool IsSafeEntryName(const QString &name);

// File-system tests on full paths. IsFolder and IsFile follow links (the favorites folder
// itself may be one); EntryExists does not.
bool IsFolder(const QString &path);
bool IsFile(const QString &path);
bool IsRegularFileNoLink(const QString &path);
bool EntryExists(const QString &path);
bool CreateFolderPath(const QString &path);
// Moves or renames a file or folder, failing rather than replacing an existing target.
bool MoveNoReplace(const QString &from, const QString &to);
// Removes a file, link or other non-folder entry; true when none is left at the path.
bool DeleteFavoriteFile(const QString &fileName);
// Removes a folder with every file in it and every visible subfolder; hidden subfolders and
// what cannot be deleted stay. A link is removed itself, never what it points to.
void DeleteFolderTree(const QString &folder);

} // namespace FavoritesStore
