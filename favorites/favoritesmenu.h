#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QWidget;

// The generated part of the Favorites menu: everything below its three fixed items, thrown
// away and rebuilt from the favorites folder each time the menu opens.
namespace FavoritesMenu {

// Number of fixed items at the top of the menu ("&Add To Favorites", "&Organize
// Favorites..." and the separator); they are never removed.
constexpr int FixedItemCount = 3;

// The beginnings of the messages about opening a favorite; the reason follows. A tab refusing
// any address it is sent to reports it with OpenError too.
extern const QString OpenFailed;
extern const QString OpenError;

// Removes the generated items and lists the favorites folder below the fixed items, folders
// first, each as a submenu of its own contents. `choose` is connected to every favorite item
// and receives the item; the favorite's full path is the item's data. The favorites of
// `sharedFolder`, when it holds any, come first as one submenu captioned `sharedName`.
void Rebuild(QMenu *menu, const QString &favoritesFolder, const QIcon &folderIcon,
             const std::function<void(QAction *)> &choose, const QString &sharedFolder = QString(),
             const QString &sharedName = QString());

// A name as a menu shows it literally: "&" would otherwise become a mnemonic and a tab would
// start the shortcut column.
QString Caption(const QString &name);

} // namespace FavoritesMenu

// The Favorites menu and its two commands. The window gives it the menu, whose fixed items
// stay the window's own, and opens in the active tab the address of whatever favorite is chosen.
class TFavoritesMenu : public QObject
{
    Q_OBJECT

public:
    // `owner` owns the messages and the dialogs; `folderIcon` marks the folder items.
    TFavoritesMenu(QMenu *menu, const QIcon &folderIcon, QWidget *owner);

    // Lists the machine's shared favorites and the user's folder as they are on disk now; run
    // each time the menu opens.
    void Rebuild();
    // The Add Favorite dialog for the page at `url`, offering `title` as the name.
    void AddFavorite(const QString &url, const QString &title);
    // The Organize Favorites dialog.
    void Organize();

signals:
    // A favorite item was chosen, and its file is there and holds `url`.
    void FavoriteChosen(const QString &url);

private:
    void Action1Execute(QAction *sender);

    QMenu *m_menu = nullptr;
    QIcon m_folderIcon;
    QWidget *m_owner = nullptr;
};
