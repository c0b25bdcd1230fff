// Answers as the browser would about what an administrator wrote by hand: which addresses a
// user's own popup list lets through, and which favorites a folder holds. The guide's test
// uses it to show that its per-user command and /etc/skel recipe give the browser what they
// promise.
//   guide_probe popups USER_HIVE URL...    one "allowed URL" or "blocked URL" line each
//   guide_probe favorites FOLDER           one "NAME URL" line per favorite, folders as "NAME/"
#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/favoritesstore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

void printTree(QTextStream &out, const QVector<FavoritesStore::TFavoriteItem> &items,
               const QString &prefix)
{
    for (const FavoritesStore::TFavoriteItem &item : items) {
        if (item.IsFolder) {
            out << prefix << item.Name << "/\n";
            printTree(out, item.Children, prefix + item.Name + QLatin1Char('/'));
        } else {
            out << prefix << item.Name << ' ' << FavoritesStore::ReadFavoriteURL(item.Path) << '\n';
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QTextStream out(stdout);
    if (args.size() >= 2 && args.first() == QLatin1String("popups")) {
        AppPaths::OverrideUserHiveFile(args.at(1));
        const QStringList sites = PopupStore::LoadNormalisedSites();
        for (const QString &url : args.mid(2))
            out << (PopupStore::IsAllowed(sites, url) ? "allowed " : "blocked ") << url << '\n';
        return 0;
    }
    if (args.size() == 2 && args.first() == QLatin1String("favorites")) {
        printTree(out, FavoritesStore::ReadFavoritesTree(args.at(1), FavoritesStore::TWalk::Menu),
                  QString());
        return 0;
    }
    QTextStream(stderr) << "usage: guide_probe popups HIVE URL... | favorites FOLDER\n";
    return 1;
}
