#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Where the program may write a file the user names (a saved page, a printed file): never as a
// favorite and never among the favorites, the user's own or the machine's. A favorite is any ".irl"
// file in the favorites tree, so a file written there with text the user typed into a page would
// become a favorite that opens an address the lock was meant to keep out.
namespace SaveTarget {

// The path the file system would write to for `path`: links (dangling ones too) and ".." are
// followed through the part that exists; the part that does not exist yet is appended as the
// folders made for it would lie. Empty when the links never end.
QString ResolvedPath(const QString &path);

// True when `path`, once resolved, is the user's favorites folder or the machine's shared one,
// or lies anywhere below either, also when reached through another name for the same folder (a
// link, a bind mount).
bool IsInFavoritesFolder(const QString &path);

// The message that refuses writing `filePath`, or empty when it may be written. `companions`
// are further paths the same write creates (a saved page's folder of pictures).
QString WhyNotWrite(const QString &filePath, const QStringList &companions = {});

// Shows the refusal for `filePath` through the dialog seam and returns true, or returns false
// when the file may be written.
bool RefuseWrite(QWidget *parent, const QString &filePath, const QStringList &companions = {});

} // namespace SaveTarget
