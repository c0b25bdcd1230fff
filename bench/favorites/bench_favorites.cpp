// Times what the favorites do on every use with a large collection: the Favorites menu is
// rebuilt from disk at each opening (from the user's own favorites, and from as many shared by
// the machine) and the Organize dialog loads its whole tree. Prints the median of several runs
// of each, in milliseconds.
//
//   bench_favorites [favorites] [folders] [runs]      (default 10000 500 15)
#include "common/apppaths.h"
#include "common/favoritesstore.h"
#include "common/machinefavorites.h"
#include "favorites/favoritesmenu.h"
#include "favorites/organizefavorites.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QStyle>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

double median(QVector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const qsizetype n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double time(const std::function<void()> &run, int runs, QVector<double> *all = nullptr)
{
    QVector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        samples << timer.nsecsElapsed() / 1e6;
    }
    if (all)
        *all = samples;
    return median(samples);
}

// Folders in two levels (a tenth of them at the top, the rest spread below), favorites spread
// evenly over every folder, names in mixed letter case so the sort has work to do.
bool makeFavorites(const QString &root, int favorites, int folders)
{
    const QByteArray content =
        FavoritesStore::FavoriteFileContent(QStringLiteral("http://www.example.com/some/page.html"),
                                            QStringLiteral("/"), QStringLiteral("/usr/lib/"));
    QStringList folderPaths;
    const int top = std::max(1, folders / 10);
    for (int i = 0; i < folders; ++i) {
        const QString name =
            QStringLiteral("%1older %2").arg(i % 2 ? 'F' : 'f').arg(i, 3, 10, QLatin1Char('0'));
        const QString path =
            i < top ? root + name : folderPaths.at(i % top) + QLatin1Char('/') + name;
        if (!QDir().mkpath(path))
            return false;
        folderPaths << path;
    }
    for (int i = 0; i < favorites; ++i) {
        const QString folder =
            folderPaths.isEmpty() ? root.chopped(1) : folderPaths.at(i % folderPaths.size());
        const QString name = QStringLiteral("/%1avorite page number %2.irl")
                                 .arg(i % 3 ? 'F' : 'f')
                                 .arg(favorites - i);
        QFile file(folder + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return false;
    }
    return true;
}

int countItems(const QMenu *menu)
{
    int n = 0;
    for (QAction *action : menu->actions()) {
        ++n;
        if (action->menu())
            n += countItems(action->menu());
    }
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int favorites = args.value(1, QStringLiteral("10000")).toInt();
    const int folders = args.value(2, QStringLiteral("500")).toInt();
    const int runs = std::max(1, args.value(3, QStringLiteral("15")).toInt());

    QTemporaryDir dir;
    AppPaths::OverrideUserDataDir(dir.path());
    const QString root = FavoritesStore::FavoritesFolder();
    QTextStream out(stdout);
    out << "Favorites: " << favorites << " in " << folders << " folders, " << runs << " runs\n";
    if (!makeFavorites(root, favorites, folders)) {
        out << "could not create the favorites\n";
        return 1;
    }

    // Warm the disk cache once, as any second opening of the menu finds it.
    FavoritesStore::ReadFavoritesTree(root, FavoritesStore::TWalk::Menu);

    const double walk =
        time([&] { FavoritesStore::ReadFavoritesTree(root, FavoritesStore::TWalk::Menu); }, runs);

    QMenu menu;
    menu.addAction(QStringLiteral("&Add To Favorites"));
    menu.addAction(QStringLiteral("&Organize Favorites..."));
    menu.addSeparator();
    const QIcon folderIcon = app.style()->standardIcon(QStyle::SP_DirIcon);
    const auto choose = [](QAction *) {};
    const double rebuild =
        time([&] { FavoritesMenu::Rebuild(&menu, root, folderIcon, choose); }, runs);
    const int items = countItems(&menu) - FavoritesMenu::FixedItemCount;

    // The same collection shared by the machine, beside a user who has none of their own.
    QTemporaryDir machineDir;
    AppPaths::OverrideMachineDataDir(machineDir.path());
    const QString shared = MachineFavorites::Folder() + QLatin1Char('/');
    if (!makeFavorites(shared, favorites, folders)) {
        out << "could not create the shared favorites\n";
        return 1;
    }
    const QString noFavorites = machineDir.path() + QStringLiteral("/none/");
    const auto rebuildShared = [&] {
        FavoritesMenu::Rebuild(&menu, noFavorites, folderIcon, choose, shared,
                               QStringLiteral("Shared favorites"));
    };
    rebuildShared();
    const double sharedRebuild = time(rebuildShared, runs);
    // The shared submenu's own item besides.
    const int sharedItems = countItems(&menu) - FavoritesMenu::FixedItemCount - 1;

    // The menu as a person meets it: rebuilt, then its drop-down laid out for showing.
    const double rebuildAndLayout = time(
        [&] {
            FavoritesMenu::Rebuild(&menu, root, folderIcon, choose);
            menu.sizeHint();
        },
        runs);

    TfrmOrganizeFavorites dialog;
    const double tree = time([&] { dialog.LoadFavoritesTree(); }, runs);
    int nodes = 0;
    if (QTreeWidgetItem *rootNode = dialog.RootNode()) {
        std::function<void(QTreeWidgetItem *)> count = [&](QTreeWidgetItem *node) {
            ++nodes;
            for (int i = 0; i < node->childCount(); ++i)
                count(node->child(i));
        };
        count(rootNode);
    }

    out << "Menu items built: " << items << ", tree nodes: " << nodes << "\n";
    out << QStringLiteral("Walk of the folder (median):          %1 ms\n").arg(walk, 7, 'f', 1);
    out << QStringLiteral("Favorites menu rebuild (median):      %1 ms\n").arg(rebuild, 7, 'f', 1);
    out << QStringLiteral("  with the drop-down laid out:        %1 ms\n")
               .arg(rebuildAndLayout, 7, 'f', 1);
    out << QStringLiteral("Shared favorites menu rebuild:        %1 ms\n")
               .arg(sharedRebuild, 7, 'f', 1);
    out << QStringLiteral("Organize tree load (median):          %1 ms\n").arg(tree, 7, 'f', 1);
    const bool ok = rebuild < 100 && sharedRebuild < 100 && tree < 100;
    out << (ok ? "Within 100 ms each.\n" : "Above the 100 ms aim.\n");
    return items == favorites + folders && sharedItems == items ? 0 : 2;
}
