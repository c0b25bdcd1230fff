#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class QAction;
class QMenu;

// The generated part of the Favorites menu: everything below its three fixed items, thrown
// away and rebuilt from the favorites folder each time the menu opens.
namespace FavoritesMenu {

// Number of fixed items at the top of the menu ("&Add To Favorites", "&Organize
// Favorites..." and the separator); they are never removed.
constexpr int FixedItemCount = 3;

// Removes the generated items and lists the favorites folder below the fixed items, folders
// first, each as a submenu of its own contents. `choose` is connected to every favorite item
// and receives the item; the favorite's full path is the item's data.
void Rebuild(QMenu *menu, const QString &favoritesFolder, const QIcon &folderIcon,
             const std::function<void(QAction *)> &choose);

// A name as a menu shows it literally: "&" would otherwise become a mnemonic and a tab would
// start the shortcut column.
QString Caption(const QString &name);

} // namespace FavoritesMenu
