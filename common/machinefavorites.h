#pragma once

#include "common/favoritesstore.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The favorites an administrator gives every user of the machine: the same ".irl" files and
// subfolders as a user's own favorites, in the folder "Favorites" beside the machine store.
// Users only read them; quelvard-admin, run by root, writes them. Every write walks the folders
// by handle and never follows a link, makes folders 0755 and files 0644 whatever the umask, and
// replaces a file whole, so a reader never sees half of one.
namespace MachineFavorites {

// The machine favorites folder, without a trailing "/".
QString Folder();

// A favorite (a name with an address) or a folder (a name with children), as an administrator
// describes them.
struct TNode
{
    QString Name;
    QString Url; // a favorite's address; empty for a folder
    bool IsFolder = false;
    QVector<TNode> Children;

    static TNode Favorite(const QString &name, const QString &url)
    {
        return TNode{name, url, false, {}};
    }
    static TNode Folder(const QString &name, const QVector<TNode> &children)
    {
        return TNode{name, QString(), true, children};
    }

    bool operator==(const TNode &other) const
    {
        return Name == other.Name && Url == other.Url && IsFolder == other.IsFolder &&
               Children == other.Children;
    }
};

// How far the shared favorites reach: folders nested at most this deep, and a path (the names
// from the top down to a favorite or folder, joined by "/", as UTF-8) at most this long. Every
// writer keeps to them and export leaves out what lies past them, so a tree applied is the tree
// read back, and its files stay far inside the longest path the system opens (4096 bytes).
constexpr int MaxFolderDepth = 10;
constexpr int MaxPathBytes = 1024;

// Why `name` cannot name a favorite or a folder (empty, "." or "..", a "/", a control
// character, a leading dot, longer than a file name may be), or null.
std::optional<QString> NameProblem(const QString &name);
// Why `url` cannot be a favorite's address (the home page's rules), or null.
std::optional<QString> UrlProblem(const QString &url);
// Why a favorite (or, with `isFolder`, a folder) `name` cannot go inside `folders` (the names
// from the top down): the folders nest too deep or the path is too long; or null.
std::optional<QString> PlaceProblem(const QStringList &folders, const QString &name,
                                    bool isFolder = false);
// The first entry of `tree` that cannot be written, and why (two entries of one kind with one
// name in a folder included), or null.
std::optional<QString> TreeProblem(const QVector<TNode> &tree);

// The favorites below `folder` in the order the administrator gave them (see InGivenOrder);
// files without an address are left out. Empty when the folder is missing.
QVector<TNode> ReadTree(const QString &folder);

// `items`, read from `folder` by the Favorites menu's walk, put in the order ReplaceTree
// recorded in each folder's hidden order file: the entries it names first, as named, then the
// others as the walk listed them (folders first). A folder without the file keeps the walk's
// order, so favorites added one by one or by hand still show.
QVector<FavoritesStore::TFavoriteItem> InGivenOrder(QVector<FavoritesStore::TFavoriteItem> items,
                                                    const QString &folder);
// `tree` without the entries that cannot be written (a name or address refused, or past the
// limits above), each of them named in `leftOut` with why.
QVector<TNode> Writable(const QVector<TNode> &tree, QStringList *leftOut);

// What makes the machine folder, or one of `folders` on the way down from it, unsafe for root
// to write into: a symbolic link, an owner other than root, write access for group or others.
// Each line names the path and the command that mends it.
QStringList UnsafeFolders(const QStringList &folders);

// The writers for the machine folder; each raises EQuelvardError with the reason on failure.
// `folders` are the names of the nested folders below the machine folder, made when missing.
void Add(const QStringList &folders, const QString &name, const QString &url);
// Removes the favorite `name`, or else the folder `name` with everything in it; false when
// there is neither.
bool Remove(const QStringList &folders, const QString &name);
// Replaces the whole machine folder's content by `tree` in one step: readers see the old
// favorites or the new ones, never a mixture. A tree with a problem writes nothing. Each
// folder's order is kept beside its entries, for ReadTree and the menu.
void ReplaceTree(const QVector<TNode> &tree);

} // namespace MachineFavorites
