#include "favorites/favoritesmenu.h"

#include "common/errors.h"
#include "common/favoritesstore.h"
#include "common/machinefavorites.h"
#include "common/machinepolicies.h"
#include "favorites/addfavorite.h"
#include "favorites/organizefavorites.h"
#include "widgets/dialogseam.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <algorithm>

namespace FavoritesMenu {

const QString OpenFailed = QStringLiteral("Opening the selected favorite failed: ");
const QString OpenError = QStringLiteral("Opening the selected favorite caused an error: ");

namespace {

struct TBuild
{
    QIcon FolderIcon;
    std::function<void(QAction *)> Choose;
    int ItemCounter = 1;
};

QMenu *addFolder(QMenu *parent, const QString &caption, const QString &name, const QString &path,
                 const QIcon &icon)
{
    auto *submenu = new QMenu(Caption(caption), parent);
    submenu->setObjectName(name);
    QAction *folderItem = submenu->menuAction();
    folderItem->setObjectName(name);
    folderItem->setIcon(icon);
    folderItem->setData(path);
    parent->addMenu(submenu);
    return submenu;
}

void fill(QMenu *parent, const QVector<FavoritesStore::TFavoriteItem> &items, TBuild &build)
{
    for (const FavoritesStore::TFavoriteItem &item : items) {
        if (item.IsFolder) {
            QMenu *submenu =
                addFolder(parent, item.Name,
                          QStringLiteral("FavFolder") + QString::number(build.ItemCounter++),
                          item.Path, build.FolderIcon);
            fill(submenu, item.Children, build);
        } else {
            auto *favoriteItem = new QAction(Caption(item.Name), parent);
            favoriteItem->setObjectName(QStringLiteral("Fav") +
                                        QString::number(build.ItemCounter++));
            // The path found on disk goes with the item: rebuilding it from captions would
            // lose the file's own letter case of ".irl" and any "&" in its folders' names.
            favoriteItem->setData(item.Path);
            QObject::connect(favoriteItem, &QAction::triggered, favoriteItem,
                             [favoriteItem, choose = build.Choose] { choose(favoriteItem); });
            parent->addAction(favoriteItem);
        }
    }
}

bool holdsFavorite(const FavoritesStore::TFavoriteItem &item)
{
    if (!item.IsFolder)
        return true;
    for (const FavoritesStore::TFavoriteItem &child : item.Children) {
        if (holdsFavorite(child))
            return true;
    }
    return false;
}

// The web engine's own folder, which older runs let it make among the user's favorites: not a
// folder of favorites while it holds none.
bool isEngineFolder(const FavoritesStore::TFavoriteItem &item)
{
    return item.IsFolder && item.Name == QLatin1String("QtWebEngine") && !holdsFavorite(item);
}

} // namespace

QString Caption(const QString &name)
{
    QString caption = name;
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    caption.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return caption;
}

void Rebuild(QMenu *menu, const QString &favoritesFolder, const QIcon &folderIcon,
             const std::function<void(QAction *)> &choose, const QString &sharedFolder,
             const QString &sharedName)
{
    const QList<QAction *> actions = menu->actions();
    for (qsizetype i = actions.size() - 1; i >= FixedItemCount; --i) {
        QAction *action = actions.at(i);
        menu->removeAction(action);
        if (QMenu *submenu = action->menu(); submenu && submenu->parent() == menu)
            delete submenu; // takes its own items and its menu action along
        else if (action->parent() == menu)
            delete action;
    }
    TBuild build{folderIcon, choose};
    // Read with the same walk as the user's own: links are not followed, and a file without
    // an address is found out only when chosen. Shown in the administrator's order.
    const QVector<FavoritesStore::TFavoriteItem> shared =
        sharedFolder.isEmpty()
            ? QVector<FavoritesStore::TFavoriteItem>()
            : MachineFavorites::InGivenOrder(
                  FavoritesStore::ReadFavoritesTree(sharedFolder, FavoritesStore::TWalk::Menu),
                  sharedFolder);
    if (!shared.isEmpty())
        fill(addFolder(menu, sharedName, QStringLiteral("SharedFavorites"), sharedFolder,
                       folderIcon),
             shared, build);
    if (favoritesFolder.isEmpty() || !FavoritesStore::IsFolder(favoritesFolder))
        return;
    QVector<FavoritesStore::TFavoriteItem> own =
        FavoritesStore::ReadFavoritesTree(favoritesFolder, FavoritesStore::TWalk::Menu);
    own.erase(std::remove_if(own.begin(), own.end(), isEngineFolder), own.end());
    fill(menu, own, build);
}

} // namespace FavoritesMenu

TFavoritesMenu::TFavoritesMenu(QMenu *menu, const QIcon &folderIcon, QWidget *owner)
    : QObject(owner), m_menu(menu), m_folderIcon(folderIcon), m_owner(owner)
{
}

void TFavoritesMenu::Rebuild()
{
    FavoritesMenu::Rebuild(
        m_menu, FavoritesStore::FavoritesFolder(), m_folderIcon,
        [this](QAction *item) { Action1Execute(item); }, MachineFavorites::Folder(),
        MachinePolicies::Current().SharedFavoritesName);
}

// A favorite item was chosen: its file must still be there and hold an address.
void TFavoritesMenu::Action1Execute(QAction *sender)
{
    using FavoritesMenu::OpenError;
    using FavoritesMenu::OpenFailed;
    try {
        const QString path = sender->data().toString();
        if (path.isEmpty() || !FavoritesStore::IsRegularFileNoLink(path)) {
            TDialogs::Error(m_owner, OpenFailed + QStringLiteral("The favorite file is missing"));
            return;
        }
        const QString url = FavoritesStore::ReadFavoriteURL(path);
        if (url.isEmpty()) {
            TDialogs::Error(m_owner, OpenFailed + QStringLiteral("No URL available"));
            return;
        }
        emit FavoriteChosen(url);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(m_owner, OpenError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(m_owner, OpenError + QString::fromLocal8Bit(error.what()));
    }
}

void TFavoritesMenu::AddFavorite(const QString &url, const QString &title)
{
    TfrmAddFavorite dialog(m_owner);
    dialog.FavoriteURL = url;
    if (dialog.FavoriteURL.isEmpty()) {
        TDialogs::Error(m_owner, QStringLiteral("Unable to determine the URL of the current page"));
        return;
    }
    dialog.edtName->setText(title);
    TDialogs::Current()->ExecDialog(&dialog);
}

void TFavoritesMenu::Organize()
{
    TfrmOrganizeFavorites dialog(m_owner);
    TDialogs::Current()->ExecDialog(&dialog);
}
