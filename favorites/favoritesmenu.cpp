// The Favorites menu and the favorites commands of the main window.
#include "favorites/favoritesmenu.h"

#include "common/dialogseam.h"
#include "common/errors.h"
#include "favorites/addfavorite.h"
#include "favorites/favoritesstore.h"
#include "favorites/organizefavorites.h"
#include "main/browsertab.h"
#include "main/mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

namespace FavoritesMenu {

namespace {

struct TBuild
{
    QIcon FolderIcon;
    std::function<void(QAction *)> Choose;
    int ItemCounter = 1;
};

void fill(QMenu *parent, const QVector<FavoritesStore::TFavoriteItem> &items, TBuild &build)
{
    for (const FavoritesStore::TFavoriteItem &item : items) {
        if (item.IsFolder) {
            auto *submenu = new QMenu(Caption(item.Name), parent);
            const QString name = QStringLiteral("FavFolder") + QString::number(build.ItemCounter++);
            submenu->setObjectName(name);
            QAction *folderItem = submenu->menuAction();
            folderItem->setObjectName(name);
            folderItem->setIcon(build.FolderIcon);
            folderItem->setData(item.Path);
            parent->addMenu(submenu);
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

} // namespace

QString Caption(const QString &name)
{
    QString caption = name;
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    caption.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return caption;
}

void Rebuild(QMenu *menu, const QString &favoritesFolder, const QIcon &folderIcon,
             const std::function<void(QAction *)> &choose)
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
    if (favoritesFolder.isEmpty() || !FavoritesStore::IsFolder(favoritesFolder))
        return;
    TBuild build{folderIcon, choose};
    fill(menu, FavoritesStore::ReadFavoritesTree(favoritesFolder, FavoritesStore::TWalk::Menu),
         build);
}

} // namespace FavoritesMenu

namespace {

const QString OpenFailed = QStringLiteral("Opening the selected favorite failed: ");
const QString OpenError = QStringLiteral("Opening the selected favorite caused an error: ");

// A favorite item was chosen: open its file in the active tab.
void Action1Execute(TfrmQuelvardBrowser *form, QAction *sender)
{
    try {
        const QString path = sender->data().toString();
        if (path.isEmpty() || !FavoritesStore::IsRegularFileNoLink(path)) {
            TDialogs::Error(form, OpenFailed + QStringLiteral("The favorite file is missing"));
            return;
        }
        TBrowserTab *tab = form->ActiveTab();
        if (!tab)
            return;
        tab->OpenFavorite(path);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(form, OpenError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(form, OpenError + QString::fromLocal8Bit(error.what()));
    }
}

} // namespace

void TfrmQuelvardBrowser::Favorites1Click()
{
    try {
        QIcon folderIcon;
        if (imgFavFolder)
            folderIcon = QIcon(imgFavFolder->pixmap());
        FavoritesMenu::Rebuild(ui->Favorites1, FavoritesStore::FavoritesFolder(), folderIcon,
                               [this](QAction *item) { Action1Execute(this, item); });
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::AddToFavorites1Click()
{
    try {
        TfrmAddFavorite dialog(this);
        dialog.FavoriteURL = CurrentURL();
        if (dialog.FavoriteURL.isEmpty()) {
            TDialogs::Error(this,
                            QStringLiteral("Unable to determine the URL of the current page"));
            return;
        }
        dialog.edtName->setText(CurrentTitle());
        TDialogs::Current()->ExecDialog(&dialog);
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::OrganizeFavorites1Click()
{
    try {
        TfrmOrganizeFavorites dialog(this);
        TDialogs::Current()->ExecDialog(&dialog);
    } catch (...) {
    }
}

void TBrowserTab::OpenFavorite(const QString &fileName)
{
    try {
        const QString url = FavoritesStore::ReadFavoriteURL(fileName);
        if (url.isEmpty()) {
            TDialogs::Error(MainForm, OpenFailed + QStringLiteral("No URL available"));
            return;
        }
        NavigateTo(url);
    } catch (const EQuelvardError &error) {
        TDialogs::Error(MainForm, OpenError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(MainForm, OpenError + QString::fromLocal8Bit(error.what()));
    }
}
