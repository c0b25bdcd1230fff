// The Favorites menu and the favorites commands of the main window, against real pages served
// on the loopback interface.
#include "common/favoritesstore.h"
#include "common/machinefavorites.h"
#include "favorites/addfavorite.h"
#include "favorites/favoritesmenu.h"
#include "favorites/organizefavorites.h"
#include "page/webview.h"
#include "support/controls.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "window/mainwindow.h"

#include "common/genutilities.h"
#include "common/machinepolicies.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

QByteArray favorite(const QString &url)
{
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

// Each generated item as "objectName caption", sub-items indented by two blanks.
QStringList outline(const QMenu *menu, int from, const QString &indent = QString())
{
    QStringList lines;
    const QList<QAction *> actions = menu->actions();
    for (int i = from; i < actions.size(); ++i) {
        QAction *action = actions.at(i);
        lines << indent + action->objectName() + QLatin1Char(' ') + action->text();
        if (action->menu())
            lines += outline(action->menu(), 0, indent + QStringLiteral("  "));
    }
    return lines;
}

QAction *findItem(const QMenu *menu, const QString &caption)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == caption)
            return action;
        if (action->menu()) {
            if (QAction *found = findItem(action->menu(), caption))
                return found;
        }
    }
    return nullptr;
}

QMenu *favoritesMenu(const TfrmQuelvardBrowser &window)
{
    return TestSupport::Control<QMenu>(&window, "Favorites1");
}

QAction *menuItem(const TfrmQuelvardBrowser &window, const char *name)
{
    return TestSupport::Control<QAction>(&window, name);
}

// The favorites dialogs among those run (a first start also asks for the administrator login).
QStringList favoriteDialogs(const QStringList &run)
{
    return run.filter(QStringLiteral("Favorite"));
}

} // namespace

using TestPages::waitForUrl;

class tst_FavoritesMenu : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void withoutFolderOnlyTheFixedItems();
    void menuListsTheTree();
    void rebuildStartsAfresh();
    void choosingAFavoriteNavigates_data();
    void choosingAFavoriteNavigates();
    void choosingReadsTheFile_data();
    void choosingReadsTheFile();
    void noActiveTab();
    void addFavoriteFromAPage_data();
    void addFavoriteFromAPage();
    void organizeOpensTheDialog();
    void sharedFavoritesComeFirst_data();
    void sharedFavoritesComeFirst();
    void sharedFavoritesInTheGivenOrder();

private:
    void openPage(TfrmQuelvardBrowser &window, const QString &path);

    TestHttpServer m_server;
    QString m_root;
};

void tst_FavoritesMenu::initTestCase()
{
    QVERIFY(m_server.start());
    m_server.setHtml("/a", "Page A", "<p>first</p>");
    m_server.setHtml("/b", "Page B", "<p>second</p>");
    m_server.setPage("/untitled", "<!DOCTYPE html><html><body><p>no title</p></body></html>");
}

void tst_FavoritesMenu::init()
{
    EnvironmentSuite::init();
    // An ordinary run, not the first: the first tab stays on the start page.
    GenUtilities::SavePosition(QStringLiteral("10,20,900,600"));
    m_root = FavoritesStore::FavoritesFolder();
}

void tst_FavoritesMenu::openPage(TfrmQuelvardBrowser &window, const QString &path)
{
    window.ActiveTab()->NavigateTo(m_server.url(path).toString());
    QVERIFY(waitForUrl(window, m_server.url(path).toString()));
}

void tst_FavoritesMenu::withoutFolderOnlyTheFixedItems()
{
    TfrmQuelvardBrowser window;
    emit favoritesMenu(window)->aboutToShow();
    QStringList items;
    for (QAction *action : favoritesMenu(window)->actions())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(items, (QStringList{"&Add To Favorites", "&Organize Favorites...", "-"}));
    QVERIFY(!QFileInfo::exists(m_root));
}

void tst_FavoritesMenu::menuListsTheTree()
{
    writeBytes(m_root + "News/Daily.irl", favorite("http://x/"));
    writeBytes(m_root + "Home.irl", favorite("http://x/"));
    writeBytes(m_root + ".Hidden/h.irl", favorite("http://x/"));
    writeBytes(m_root + "R&D/Q&A.irl", favorite("http://x/"));
    writeBytes(m_root + "Report.irl.irl", favorite("http://x/"));
    QDir().mkpath(m_root + "Empty");
    // What the web engine once wrote among the favorites is no folder of them.
    writeBytes(m_root + "QtWebEngine/OffTheRecord/GPUCache/index", "engine's own");
    TfrmQuelvardBrowser window;
    QMenu *menu = favoritesMenu(window);
    emit menu->aboutToShow();
    QCOMPARE(outline(menu, FavoritesMenu::FixedItemCount),
             (QStringList{"FavFolder1 .Hidden", "  Fav2 h", "FavFolder3 Empty", "FavFolder4 News",
                          "  Fav5 Daily", "FavFolder6 R&&D", "  Fav7 Q&&A", "Fav8 Home",
                          "Fav9 Report.irl"}));
    QAction *folder = findItem(menu, "News");
    QVERIFY(!folder->icon().isNull());
    QVERIFY(folder->isEnabled());
    QVERIFY(findItem(menu, "Home")->icon().isNull());
    QVERIFY(findItem(menu, "Empty")->menu()->actions().isEmpty());
    // The fixed items are untouched.
    QCOMPARE(menu->actions().at(0), menuItem(window, "AddToFavorites1"));
    QCOMPARE(menu->actions().at(1), menuItem(window, "OrganizeFavorites1"));
}

void tst_FavoritesMenu::rebuildStartsAfresh()
{
    writeBytes(m_root + "News/Daily.irl", favorite("http://x/"));
    writeBytes(m_root + "Home.irl", favorite("http://x/"));
    TfrmQuelvardBrowser window;
    QMenu *menu = favoritesMenu(window);
    emit menu->aboutToShow();
    const QStringList first = outline(menu, FavoritesMenu::FixedItemCount);
    QCOMPARE(first, (QStringList{"FavFolder1 News", "  Fav2 Daily", "Fav3 Home"}));
    QPointer<QAction> oldItem = findItem(menu, "Home");
    emit menu->aboutToShow();
    QCOMPARE(outline(menu, FavoritesMenu::FixedItemCount), first);
    // The old items are gone, not merely hidden.
    QVERIFY(oldItem.isNull());
    QCOMPARE(window.findChildren<QMenu *>("FavFolder1").size(), 1);
    // Whatever changed on disk shows at the next opening.
    QVERIFY(QFile::remove(m_root + "News/Daily.irl"));
    writeBytes(m_root + "Added.irl", favorite("http://x/"));
    emit menu->aboutToShow();
    QCOMPARE(outline(menu, FavoritesMenu::FixedItemCount),
             (QStringList{"FavFolder1 News", "Fav2 Added", "Fav3 Home"}));
}

void tst_FavoritesMenu::choosingAFavoriteNavigates_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("caption");
    QTest::newRow("in the favorites folder") << "Home.irl"
                                             << "Home";
    QTest::newRow("in a nested folder") << "Work/News/Daily.irl"
                                        << "Daily";
    QTest::newRow("& in the folder and the name") << "R&D/Fish & Chips.irl"
                                                  << "Fish && Chips";
    QTest::newRow("extension in capitals") << "Old.IRL"
                                           << "Old";
    QTest::newRow("double extension") << "Report.irl.irl"
                                      << "Report.irl";
    QTest::newRow("hidden folder") << ".private/Secret.irl"
                                   << "Secret";
}

void tst_FavoritesMenu::choosingAFavoriteNavigates()
{
    QFETCH(QString, file);
    QFETCH(QString, caption);
    const QString target = m_server.url("/b").toString();
    writeBytes(m_root + file, favorite("  " + target + " \t"));
    // A file of a similar name elsewhere must not be the one opened.
    writeBytes(m_root + "RD/Fish  Chips.irl", favorite(m_server.url("/a").toString()));
    TfrmQuelvardBrowser window;
    window.show();
    QVERIFY(window.ActiveTab());
    openPage(window, "/a");
    emit favoritesMenu(window)->aboutToShow();
    QAction *item = findItem(favoritesMenu(window), caption);
    QVERIFY(item);
    item->trigger();
    QVERIFY(waitForUrl(window, target));
    QVERIFY2(m_dialogs->messages.isEmpty(), qPrintable(m_dialogs->lastMessage()));
}

void tst_FavoritesMenu::choosingReadsTheFile_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");
    const QString missing =
        QStringLiteral("Opening the selected favorite failed: The favorite file is missing");
    const QString noUrl = QStringLiteral("Opening the selected favorite failed: No URL available");
    QTest::newRow("as written") << ""
                                << "";
    QTest::newRow("deleted after the menu was built") << "delete" << missing;
    QTest::newRow("replaced by a folder") << "folder" << missing;
    QTest::newRow("no URL line") << "nourl" << noUrl;
    QTest::newRow("URL= with blanks") << "blank" << noUrl;
    QTest::newRow("binary bytes") << "binary" << noUrl;
}

// The menu alone reads the chosen file: it hands on the address, or shows its one message.
void tst_FavoritesMenu::choosingReadsTheFile()
{
    QFETCH(QString, change);
    QFETCH(QString, message);
    const QString path = m_root + "Work/Fav.irl";
    writeBytes(path, favorite("  http://chosen.example/ \t"));
    QWidget owner;
    QMenu menu(&owner);
    menu.addAction(QStringLiteral("add"));
    menu.addAction(QStringLiteral("organize"));
    menu.addSeparator();
    TFavoritesMenu favorites(&menu, QIcon(), &owner);
    QSignalSpy chosen(&favorites, &TFavoritesMenu::FavoriteChosen);
    favorites.Rebuild();
    QAction *item = findItem(&menu, "Fav");
    QVERIFY(item);
    if (change == "delete") {
        QVERIFY(QFile::remove(path));
    } else if (change == "folder") {
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
    } else if (change == "nourl") {
        writeBytes(path, "[InternetShortcut]\r\nIconIndex=0\r\n");
    } else if (change == "blank") {
        writeBytes(path, "[InternetShortcut]\r\nURL=   \r\n");
    } else if (change == "binary") {
        writeBytes(path, QByteArray("\x00\x01\xff[URL]=\x80", 9) + QByteArray(5000, '\xfe'));
    }
    item->trigger();
    if (message.isEmpty()) {
        QVERIFY2(m_dialogs->messages.isEmpty(), qPrintable(m_dialogs->lastMessage()));
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toString(), QStringLiteral("http://chosen.example/"));
        return;
    }
    QVERIFY(chosen.isEmpty());
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(), message);
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
}

void tst_FavoritesMenu::noActiveTab()
{
    writeBytes(m_root + "Home.irl", favorite(m_server.url("/b").toString()));
    // Never shown, so no tab was ever opened.
    TfrmQuelvardBrowser window;
    QCOMPARE(window.pcMain->ActiveTabIndex(), -1);
    emit favoritesMenu(window)->aboutToShow();
    findItem(favoritesMenu(window), "Home")->trigger();
    QVERIFY(m_dialogs->messages.isEmpty());
    menuItem(window, "AddToFavorites1")->trigger();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(),
             QStringLiteral("Unable to determine the URL of the current page"));
    QVERIFY(!m_dialogs->dialogsRun.contains("frmAddFavorite"));
}

void tst_FavoritesMenu::addFavoriteFromAPage_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("contextMenu");
    QTest::addColumn<QString>("expectedName");
    QTest::newRow("titled page, Favorites menu") << "/a" << false << "Page A";
    QTest::newRow("titled page, page context menu") << "/a" << true << "Page A";
    QTest::newRow("untitled page") << "/untitled" << false << "";
}

void tst_FavoritesMenu::addFavoriteFromAPage()
{
    QFETCH(QString, page);
    QFETCH(bool, contextMenu);
    QFETCH(QString, expectedName);
    TfrmQuelvardBrowser window;
    window.show();
    openPage(window, page);
    QString offeredName;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *add = qobject_cast<TfrmAddFavorite *>(dialog);
        if (!add)
            return int(QDialog::Rejected);
        offeredName = add->edtName->text();
        add->edtName->setText("Saved");
        add->cbOk->click();
        return add->result();
    };
    if (contextMenu) {
        QAction *item = window.pmBrowser->findChild<QAction *>("AddToFavorites2");
        QVERIFY(item);
        item->trigger();
    } else {
        menuItem(window, "AddToFavorites1")->trigger();
    }
    QCOMPARE(favoriteDialogs(m_dialogs->dialogsRun), QStringList{"frmAddFavorite"});
    // The engine stands in the address for a missing title; the page reports no title then.
    QCOMPARE(offeredName, expectedName);
    const QString url = m_server.url(page).toString();
    QFile file(m_root + "Saved.irl");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "[InternetShortcut]\r\nURL=" + url.toUtf8() +
                                 "\r\nWorkingDirectory=/\r\nIconIndex=0\r\nShowCommand=7\r\n"
                                 "IconFile=/usr/lib/url.dll\r\n");
    // The menu lists it at once, and choosing it comes back to the page.
    emit favoritesMenu(window)->aboutToShow();
    QAction *item = findItem(favoritesMenu(window), "Saved");
    QVERIFY(item);
    openPage(window, "/b");
    item->trigger();
    QVERIFY(waitForUrl(window, url));
}

void tst_FavoritesMenu::organizeOpensTheDialog()
{
    TfrmQuelvardBrowser window;
    menuItem(window, "OrganizeFavorites1")->trigger();
    QCOMPARE(favoriteDialogs(m_dialogs->dialogsRun), QStringList{"frmOrganizeFavorites"});
    // Opening it creates the favorites folder.
    QVERIFY(QFileInfo(m_root).isDir());
}

void tst_FavoritesMenu::sharedFavoritesComeFirst_data()
{
    QTest::addColumn<QString>("name"); // as the administrator set it; empty: never set
    QTest::addColumn<QString>("caption");
    QTest::newRow("default name") << ""
                                  << "Shared favorites";
    QTest::newRow("named by the administrator") << "Class 3B & friends"
                                                << "Class 3B && friends";
}

// The machine's favorites head the menu and open like the user's own, yet neither dialog
// offers them: Organize lists the user's favorites only, and Add saves among them.
void tst_FavoritesMenu::sharedFavoritesComeFirst()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    if (!name.isEmpty())
        MachinePolicies::SetSharedFavoritesName(name);
    const QString shared = MachineFavorites::Folder() + "/";
    writeBytes(shared + "Homework/Dictionary.irl", favorite(m_server.url("/b").toString()));
    writeBytes(shared + "School.irl", favorite(m_server.url("/a").toString()));
    writeBytes(m_root + "Mine.irl", favorite("http://x/"));
    TfrmQuelvardBrowser window;
    window.show();
    QMenu *menu = favoritesMenu(window);
    emit menu->aboutToShow();
    QCOMPARE(outline(menu, FavoritesMenu::FixedItemCount),
             (QStringList{"SharedFavorites " + caption, "  FavFolder1 Homework",
                          "    Fav2 Dictionary", "  Fav3 School", "Fav4 Mine"}));
    findItem(menu, "Dictionary")->trigger();
    QVERIFY(waitForUrl(window, m_server.url("/b").toString()));

    QStringList listed;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        if (auto *organize = qobject_cast<TfrmOrganizeFavorites *>(dialog)) {
            for (QTreeWidgetItemIterator it(organize->RootNode()->treeWidget()); *it; ++it)
                listed << (*it)->text(0);
        } else if (auto *add = qobject_cast<TfrmAddFavorite *>(dialog)) {
            add->edtName->setText("Saved");
            add->cbOk->click();
            return add->result();
        }
        return int(QDialog::Rejected);
    };
    menuItem(window, "OrganizeFavorites1")->trigger();
    QCOMPARE(listed.mid(1), QStringList{"Mine"});
    menuItem(window, "AddToFavorites1")->trigger();
    QVERIFY(QFileInfo::exists(m_root + "Saved.irl"));
    QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"Homework", "School.irl"}));
}

// As a managed list, the submenu keeps the administrator's order, not the alphabet's; a
// favorite put there afterwards comes last.
void tst_FavoritesMenu::sharedFavoritesInTheGivenOrder()
{
    using MachineFavorites::TNode;
    MachineFavorites::ReplaceTree(
        {TNode::Favorite("Zoo", "https://zoo.example/"),
         TNode::Folder("Maths", {TNode::Favorite("Tables", "https://t.example/"),
                                 TNode::Favorite("Algebra", "https://a.example/")}),
         TNode::Favorite("Atlas", "https://atlas.example/")});
    writeBytes(MachineFavorites::Folder() + "/Later.irl", favorite("https://later.example/"));
    TfrmQuelvardBrowser window;
    QMenu *menu = favoritesMenu(window);
    emit menu->aboutToShow();
    QCOMPARE(outline(menu, FavoritesMenu::FixedItemCount),
             (QStringList{"SharedFavorites Shared favorites", "  Fav1 Zoo", "  FavFolder2 Maths",
                          "    Fav3 Tables", "    Fav4 Algebra", "  Fav5 Atlas", "  Fav6 Later"}));
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_FavoritesMenu)
#include "tst_favoritesmenu.moc"
