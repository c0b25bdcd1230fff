// The Organize Favorites dialog: every command acts on disk first and changes the tree only to
// match; every message with its exact text.
#include "common/favoritesstore.h"
#include "favorites/organizefavorites.h"
#include "support/testenv.h"

#include "common/apppaths.h"
#include "common/machinepolicies.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

using namespace FavoritesStore;

namespace {

QStringList treeOutline(const QTreeWidgetItem *node, const QString &indent = QString())
{
    QStringList lines;
    for (int i = 0; i < node->childCount(); ++i) {
        const QTreeWidgetItem *child = node->child(i);
        const FavNodeFlags flags = TfrmOrganizeFavorites::Flags(child);
        lines << indent + child->text(0) + (flags.IsFolder ? QStringLiteral("/") : QString());
        lines += treeOutline(child, indent + QStringLiteral("  "));
    }
    return lines;
}

// A node by the texts on its way down from the root, "a/b"; "" is the root.
QTreeWidgetItem *findNode(TfrmOrganizeFavorites &dialog, const QString &path)
{
    QTreeWidgetItem *node = dialog.RootNode();
    if (!node || path.isEmpty())
        return node;
    for (const QString &name : path.split(QLatin1Char('/'))) {
        QTreeWidgetItem *next = nullptr;
        for (int i = 0; node && i < node->childCount(); ++i) {
            if (node->child(i)->text(0) == name)
                next = node->child(i);
        }
        node = next;
    }
    return node;
}

// The dialog's messages, by their numbers in the design.
const auto m1 = [](const QString &n) { return "The folder \"" + n + "\" already exists"; };
const auto m2 = [](const QString &n) { return "Renaming the folder \"" + n + "\" failed"; };
const auto m3 = [](const QString &n) { return "The favorite \"" + n + "\" already exists"; };
const auto m4 = [](const QString &n) { return "Renaming the favorite \"" + n + "\" failed"; };
const auto m5 = [](const QString &n) {
    return "Delete the folder \"" + n + "\" and all the favorites it contains?";
};
const auto m6 = [](const QString &n) { return "Deleting the folder \"" + n + "\" failed"; };
const auto m7 = [](const QString &n) { return "Delete the favorite \"" + n + "\"?"; };
const auto m8 = [](const QString &n) { return "Deleting the favorite \"" + n + "\" failed"; };
const auto m9 = m1;
const auto m10 = [](const QString &n) { return "Creating the folder \"" + n + "\" failed"; };
const auto m11 = [](const QString &n, const QString &t) {
    return "A folder with the name \"" + n + "\" already exists in the folder \"" + t + "\"";
};
const auto m12 = [](const QString &n) {
    return "A favorite with the name \"" + n + "\" already exists in the destination folder";
};

} // namespace

class tst_OrganizeFavorites : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formLayout();
    void loadTree();
    void loadCreatesMissingFolder();
    void nodePath_data();
    void nodePath();
    void command_data();
    void command();
    void commandsWithoutFavoritesFolder();
    void dragOver();
    void contextMenuRunsTheCommands();
    void selectingExpandsOneBranch();
    void forbiddenChangesChangeNothing();

private:
    QString m_root;
};

void tst_OrganizeFavorites::init()
{
    EnvironmentSuite::init();
    m_root = FavoritesFolder();
}

void tst_OrganizeFavorites::cleanup()
{
    EnvironmentSuite::cleanup();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_OrganizeFavorites::formLayout()
{
    TfrmOrganizeFavorites dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Organize Favorites"));
    QCOMPARE(dialog.size(), QSize(481, 440));
    QCOMPARE(dialog.tvFavorites->geometry(), QRect(15, 15, 451, 376));
    QCOMPARE(dialog.tvFavorites->indentation(), 19);
    QCOMPARE(dialog.tvFavorites->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QList<QPair<QPushButton *, QString>> buttons = {{dialog.cbRename, "&Rename"},
                                                          {dialog.cbDelete, "&Delete"},
                                                          {dialog.cbNewFolder, "&New Folder"},
                                                          {dialog.cbClose, "&Close"}};
    int left[] = {16, 96, 176, 390};
    for (int i = 0; i < buttons.size(); ++i) {
        QCOMPARE(buttons[i].first->text(), buttons[i].second);
        QCOMPARE(buttons[i].first->geometry(), QRect(left[i], 12, 75, 25));
        QCOMPARE(buttons[i].first->parentWidget()->objectName(), QStringLiteral("Panel4"));
        QVERIFY(!buttons[i].first->accessibleName().isEmpty());
    }
    QVERIFY(dialog.cbClose->isDefault());
    QStringList popup;
    for (QAction *action : dialog.mnuPopup->actions())
        popup << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(popup, (QStringList{"&Rename", "-", "&New Folder", "-", "&Delete"}));
    // Close ends the dialog with Cancel.
    dialog.cbClose->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void tst_OrganizeFavorites::loadTree()
{
    makeLayout(m_root, {"News/Daily.irl", "Home.irl", ".hidden/x.irl", ".h.irl", "Old.IRL",
                        "Empty/", "Links.irl/", "notes.txt", "Loop/", "Loop/up -> .."});
    TfrmOrganizeFavorites dialog;
    QCOMPARE(dialog.tvFavorites->topLevelItemCount(), 1);
    QTreeWidgetItem *root = dialog.RootNode();
    QCOMPARE(root->text(0), QStringLiteral("Quelvard Favorites"));
    QCOMPARE(TfrmOrganizeFavorites::Flags(root).IsRoot, quint8(1));
    QCOMPARE(TfrmOrganizeFavorites::Flags(root).IsFolder, quint8(1));
    QCOMPARE(treeOutline(root), (QStringList{"Empty/", "Links.irl/", "Loop/", "News/", "  Daily",
                                             ".h", "Home", "Old"}));
    QCOMPARE(TfrmOrganizeFavorites::Flags(findNode(dialog, "News/Daily")).IsFolder, quint8(0));
    QCOMPARE(TfrmOrganizeFavorites::Flags(findNode(dialog, "News")).IsRoot, quint8(0));
    // Nothing is selected or expanded by the dialog itself.
    QVERIFY(!dialog.Selected());
    QVERIFY(!root->isExpanded());
}

void tst_OrganizeFavorites::loadCreatesMissingFolder()
{
    QVERIFY(!QFileInfo::exists(m_root));
    TfrmOrganizeFavorites dialog;
    QVERIFY(QFileInfo(m_root).isDir());
    // The user's own folder: nobody else reads what they keep.
    QCOMPARE(QFileInfo(m_root).permissions() & 0x0777,
             QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QCOMPARE(dialog.RootNode()->childCount(), 0);
}

void tst_OrganizeFavorites::nodePath_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << ""
                          << "";
    QTest::newRow("folder") << "Work"
                            << "Work";
    QTest::newRow("favorite in the root") << "Home"
                                          << "Home";
    QTest::newRow("favorite two folders down") << "Work/News/Daily"
                                               << "Work/News/Daily";
    QTest::newRow("name with ampersand and blanks") << "R&D / x/ Q&A "
                                                    << "R&D / x/ Q&A ";
}

void tst_OrganizeFavorites::nodePath()
{
    QFETCH(QString, node);
    QFETCH(QString, path);
    makeLayout(m_root, {"Work/News/Daily.irl", "Home.irl", "R&D / x/ Q&A .irl"});
    TfrmOrganizeFavorites dialog;
    QTreeWidgetItem *item = findNode(dialog, node);
    QVERIFY(item);
    QCOMPARE(dialog.NodePath(item), m_root + path);
}

void tst_OrganizeFavorites::command_data()
{
    // clang-format off
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QStringList>("external");   // changes made on disk after the tree is built
    QTest::addColumn<QString>("selected");       // "-" for no selection
    QTest::addColumn<QString>("command");        // rename, delete, new, drop:<target>
    QTest::addColumn<QString>("answer");         // input box text (null: Cancel) or Yes / No
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("disk");
    QTest::addColumn<QStringList>("tree");       // null: the same as disk

    const QStringList none;
    const QStringList work = {"Work/a.irl", "Play/"};
    const QStringList workDisk = {"Play/", "Work/", "  a"};

    // Rename.
    QTest::newRow("rename folder") << work << none << "Work" << "rename" << " Job "
        << none << QStringList{"Job/", "  a", "Play/"} << QStringList{"Play/", "Job/", "  a"};
    QTest::newRow("M1 rename folder onto another") << work << none << "Work" << "rename" << "Play"
        << QStringList{m1("Play")} << workDisk << QStringList();
    QTest::newRow("M1 rename folder to its own name") << work << none << "Work" << "rename"
        << "Work" << QStringList{m1("Work")} << workDisk << QStringList();
    QTest::newRow("M2 folder name with a slash") << work << none << "Work" << "rename"
        << "../../Work" << QStringList{m2("Work")} << workDisk << QStringList();
    QTest::newRow("M2 folder name ..") << work << none << "Work" << "rename" << ".."
        << QStringList{m2("Work")} << workDisk << QStringList();
    QTest::newRow("M2 folder gone from disk") << work << QStringList{"rmdir Play"} << "Play"
        << "rename" << "Games" << QStringList{m2("Play")} << QStringList{"Work/", "  a"}
        << workDisk;
    QTest::newRow("rename folder, cancelled") << work << none << "Work" << "rename" << QString()
        << none << workDisk << QStringList();
    QTest::newRow("rename folder, blanks only") << work << none << "Work" << "rename" << "  "
        << none << workDisk << QStringList();
    QTest::newRow("rename favorite with & in its name")
        << work << none << "Work/a" << "rename" << "R&D" << none
        << QStringList{"Play/", "Work/", "  R&D"} << QStringList();
    QTest::newRow("rename favorite whose extension is in capitals")
        << QStringList{"Old.IRL"} << none << "Old" << "rename" << "New" << none
        << QStringList{"New"} << QStringList();
    QTest::newRow("M3 rename favorite onto another")
        << QStringList{"a.irl", "b.irl"} << none << "a" << "rename" << "b" << QStringList{m3("b")}
        << QStringList{"a", "b"} << QStringList();
    QTest::newRow("M3 rename favorite to its own name")
        << QStringList{"a.irl"} << none << "a" << "rename" << "a" << QStringList{m3("a")}
        << QStringList{"a"} << QStringList();
    QTest::newRow("M4 favorite name with a slash")
        << work << none << "Work/a" << "rename" << "../a" << QStringList{m4("a")} << workDisk
        << QStringList();
    QTest::newRow("M4 favorite gone from disk")
        << work << QStringList{"rm Work/a.irl"} << "Work/a" << "rename" << "b"
        << QStringList{m4("a")} << QStringList{"Play/", "Work/"} << workDisk;
    QTest::newRow("root cannot be renamed") << work << none << "" << "rename" << "X" << none
        << workDisk << QStringList();

    // Delete.
    QTest::newRow("M5 delete folder, Yes") << work << none << "Work" << "delete" << "Yes"
        << QStringList{m5("Work")} << QStringList{"Play/"} << QStringList();
    QTest::newRow("M5 delete folder, No") << work << none << "Work" << "delete" << "No"
        << QStringList{m5("Work")} << workDisk << QStringList();
    QTest::newRow("M6 hidden subfolder stays")
        << QStringList{"Work/a.irl", "Work/.keep/k.irl"} << none << "Work" << "delete" << "Yes"
        << QStringList{m5("Work"), m6("Work")} << QStringList{"Work/", "  .keep/", "    k"}
        << QStringList{"Work/", "  a"};
    QTest::newRow("M7 delete favorite, Yes") << work << none << "Work/a" << "delete" << "Yes"
        << QStringList{m7("a")} << QStringList{"Play/", "Work/"} << QStringList();
    QTest::newRow("M7 delete favorite, No") << work << none << "Work/a" << "delete" << "No"
        << QStringList{m7("a")} << workDisk << QStringList();
    QTest::newRow("delete favorite already gone") << work << QStringList{"rm Work/a.irl"}
        << "Work/a" << "delete" << "Yes" << QStringList{m7("a")}
        << QStringList{"Play/", "Work/"} << QStringList();
    QTest::newRow("delete favorite with capital extension") << QStringList{"Old.IRL"} << none
        << "Old" << "delete" << "Yes" << QStringList{m7("Old")} << QStringList() << QStringList();
    QTest::newRow("M8 a folder took the favorite's place")
        << work << QStringList{"rm Work/a.irl", "mkdir Work/a.irl"} << "Work/a" << "delete"
        << "Yes" << QStringList{m7("a"), m8("a")}
        << QStringList{"Play/", "Work/", "  a.irl/"} << workDisk;
    QTest::newRow("root cannot be deleted") << work << none << "" << "delete" << "Yes" << none
        << workDisk << QStringList();

    // New Folder.
    QTest::newRow("new folder in the root") << work << none << "" << "new" << "New"
        << none << QStringList{"New/", "Play/", "Work/", "  a"}
        << QStringList{"Play/", "Work/", "  a", "New/"};
    QTest::newRow("new folder beside a favorite") << work << none << "Work/a" << "new" << "Sub"
        << none << QStringList{"Play/", "Work/", "  Sub/", "  a"}
        << QStringList{"Play/", "Work/", "  a", "  Sub/"};
    QTest::newRow("new folder inside the selected folder") << work << none << "Play" << "new"
        << "R&D" << none << QStringList{"Play/", "  R&D/", "Work/", "  a"} << QStringList();
    QTest::newRow("new folder with nothing selected") << work << none << "-" << "new" << "New"
        << none << QStringList{"New/", "Play/", "Work/", "  a"}
        << QStringList{"Play/", "Work/", "  a", "New/"};
    QTest::newRow("M9 folder exists") << work << none << "" << "new" << "Play"
        << QStringList{m9("Play")} << workDisk << QStringList();
    QTest::newRow("M10 name with a slash") << work << none << "" << "new" << "a/b"
        << QStringList{m10("a/b")} << workDisk << QStringList();
    QTest::newRow("M10 name ..") << work << none << "Work" << "new" << ".."
        << QStringList{m10("..")} << workDisk << QStringList();
    QTest::newRow("M10 a file has the name") << QStringList{"Taken"} << none << "" << "new"
        << "Taken" << QStringList{m10("Taken")} << QStringList() << QStringList();

    // Names are quoted exactly as written, never escaped as markup.
    QTest::newRow("M10 markup typed as a folder name") << work << none << "" << "new"
        << "<b>x</b>" << QStringList{m10("<b>x</b>")} << workDisk << QStringList();
    QTest::newRow("M7 markup and an entity in a favorite's name")
        << QStringList{"<i>a&amp;b.irl"} << none << "<i>a&amp;b" << "delete" << "No"
        << QStringList{m7("<i>a&amp;b")} << QStringList{"<i>a&amp;b"} << QStringList();
    QTest::newRow("M5 ampersand in a folder's name") << QStringList{"a&b/"} << none << "a&b"
        << "delete" << "No" << QStringList{m5("a&b")} << QStringList{"a&b/"} << QStringList();

    // Dragging.
    QTest::newRow("favorite onto the root") << work << none << "Work/a" << "drop:" << QString()
        << none << QStringList{"Play/", "Work/", "a"} << QStringList{"Play/", "Work/", "a"};
    QTest::newRow("M12 favorite onto its own folder") << work << none << "Work/a" << "drop:Work"
        << QString() << QStringList{m12("a")} << workDisk << QStringList();
    QTest::newRow("M12 a favorite of the name is there")
        << QStringList{"a.irl", "Play/a.irl"} << none << "a" << "drop:Play" << QString()
        << QStringList{m12("a")} << QStringList{"Play/", "  a", "a"} << QStringList();
    QTest::newRow("favorite with capital extension into a folder")
        << QStringList{"Old.IRL", "Play/"} << none << "Old" << "drop:Play" << QString() << none
        << QStringList{"Play/", "  Old"} << QStringList();
    QTest::newRow("favorite gone from disk: node goes, nothing arrives")
        << work << QStringList{"rm Work/a.irl"} << "Work/a" << "drop:Play" << QString() << none
        << QStringList{"Play/", "Work/"} << QStringList();
    QTest::newRow("folder with its subtree into another")
        << QStringList{"Work/News/d.irl", "Work/a.irl", "Play/p.irl"} << none << "Work"
        << "drop:Play" << QString() << none
        << QStringList{"Play/", "  Work/", "    News/", "      d", "    a", "  p"}
        << QStringList{"Play/", "  p", "  Work/", "    News/", "      d", "    a"};
    QTest::newRow("M11 folder onto its parent") << work << none << "Work" << "drop:"
        << QString() << QStringList{m11("Work", "Quelvard Favorites")} << workDisk
        << QStringList();
    QTest::newRow("M11 folder onto a folder holding its name")
        << QStringList{"Work/", "Play/Work/"} << none << "Work" << "drop:Play" << QString()
        << QStringList{m11("Work", "Play")} << QStringList{"Play/", "  Work/", "Work/"}
        << QStringList();
    QTest::newRow("folder onto its own subfolder") << QStringList{"Top/Child/c.irl", "Top/t.irl"}
        << none << "Top" << "drop:Top/Child" << QString() << none
        << QStringList{"Top/", "  Child/", "    c", "  t"} << QStringList();
    QTest::newRow("folder onto itself") << work << none << "Work" << "drop:Work" << QString()
        << none << workDisk << QStringList();
    QTest::newRow("onto a favorite") << QStringList{"a.irl", "b.irl"} << none << "a" << "drop:b"
        << QString() << none << QStringList{"a", "b"} << QStringList();
    QTest::newRow("onto empty space") << work << none << "Work/a" << "drop:<space>" << QString()
        << none << workDisk << QStringList();
    QTest::newRow("the root is not dragged") << work << none << "" << "drop:Play" << QString()
        << none << workDisk << QStringList();
    // clang-format on
}

void tst_OrganizeFavorites::command()
{
    QFETCH(QStringList, layout);
    QFETCH(QStringList, external);
    QFETCH(QString, selected);
    QFETCH(QString, command);
    QFETCH(QString, answer);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, disk);
    QFETCH(QStringList, tree);
    if (tree.isEmpty() && !disk.isEmpty())
        tree = disk;

    makeLayout(m_root, layout);
    TfrmOrganizeFavorites dialog;
    dialog.resize(481, 440);
    dialog.tvFavorites->expandAll();
    for (const QString &change : external) {
        const QString path = m_root + change.section(QLatin1Char(' '), 1);
        if (change.startsWith(QLatin1String("rmdir ")))
            QVERIFY(QDir(path).removeRecursively());
        else if (change.startsWith(QLatin1String("rm ")))
            QVERIFY(QFile::remove(path));
        else if (change.startsWith(QLatin1String("mkdir ")))
            QVERIFY(QDir().mkpath(path));
    }
    if (selected == QLatin1String("-")) {
        dialog.tvFavorites->setCurrentItem(nullptr);
        dialog.tvFavorites->clearSelection();
    } else {
        QTreeWidgetItem *node = findNode(dialog, selected);
        QVERIFY2(node, qPrintable(selected));
        dialog.tvFavorites->setCurrentItem(node);
        QCOMPARE(dialog.Selected(), node);
    }
    dialog.tvFavorites->expandAll();

    if (answer == QLatin1String("Yes"))
        m_dialogs->messageAnswers << QMessageBox::Yes;
    else if (answer == QLatin1String("No"))
        m_dialogs->messageAnswers << QMessageBox::No;
    else
        m_dialogs->inputAnswers << answer;

    if (command == QLatin1String("rename")) {
        dialog.cbRename->click();
    } else if (command == QLatin1String("delete")) {
        dialog.cbDelete->click();
    } else if (command == QLatin1String("new")) {
        dialog.cbNewFolder->click();
    } else {
        const QString target = command.mid(5);
        QPoint pos;
        if (target == QLatin1String("<space>")) {
            pos = QPoint(5, dialog.tvFavorites->viewport()->height() - 2);
            QVERIFY(!dialog.tvFavorites->itemAt(pos));
        } else {
            QTreeWidgetItem *node = findNode(dialog, target);
            QVERIFY(node);
            pos = dialog.tvFavorites->visualItemRect(node).center();
            QCOMPARE(dialog.tvFavorites->itemAt(pos), node);
        }
        dialog.tvFavoritesDragDrop(pos);
    }

    QStringList shown;
    for (const ScriptedDialogs::Shown &message : m_dialogs->messages)
        shown << message.text;
    QCOMPARE(shown, messages);
    for (const ScriptedDialogs::Shown &message : m_dialogs->messages) {
        if (message.text.endsWith(QLatin1Char('?'))) {
            QCOMPARE(message.icon, QMessageBox::Question);
            QCOMPARE(message.buttons, QMessageBox::Yes | QMessageBox::No);
        } else {
            QCOMPARE(message.icon, QMessageBox::Critical);
            QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
    }
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)), disk);
    QCOMPARE(treeOutline(dialog.RootNode()), tree);
    // The tree still leads to the disk: every node's path exists (a folder that could not be
    // deleted whole keeps the nodes of what was deleted from it until the dialog reopens).
    const bool partlyDeleted = messages.contains(m6("Work"));
    const std::function<void(QTreeWidgetItem *)> check = [&](QTreeWidgetItem *node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QTreeWidgetItem *child = node->child(i);
            if (TfrmOrganizeFavorites::Flags(child).IsFolder) {
                check(child);
            } else if (external.isEmpty() && !partlyDeleted) {
                QVERIFY2(IsFile(dialog.FavoriteFilePath(child)),
                         qPrintable(dialog.FavoriteFilePath(child)));
            }
        }
    };
    check(dialog.RootNode());
    // Nothing left the favorites folder.
    QCOMPARE(QDir(m_env->userDataDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"Quelvard"});
}

void tst_OrganizeFavorites::commandsWithoutFavoritesFolder()
{
    // A file stands where the data folder should be: the favorites folder cannot be created.
    writeBytes(m_env->root() + "/blocked", "x");
    AppPaths::OverrideUserDataDir(m_env->root() + "/blocked");
    TfrmOrganizeFavorites dialog;
    QCOMPARE(dialog.tvFavorites->topLevelItemCount(), 0);
    dialog.cbRename->click();
    dialog.cbDelete->click();
    dialog.tvFavoritesDragDrop(QPoint(5, 5));
    QVERIFY(m_dialogs->inputPrompts.isEmpty());
    QVERIFY(m_dialogs->messages.isEmpty());
    m_dialogs->inputAnswers << "New";
    dialog.cbNewFolder->click();
    QCOMPARE(m_dialogs->inputPrompts, QStringList{"Enter the name of the new folder"});
    QCOMPARE(m_dialogs->lastMessage(), m10("New"));

    // No application-data folder at all: nothing is created relative to the working folder.
    AppPaths::OverrideUserDataDir(QString());
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(m_env->root());
    m_dialogs->inputAnswers << "Stray";
    dialog.cbNewFolder->click();
    QDir::setCurrent(cwd);
    QCOMPARE(m_dialogs->lastMessage(), m10("Stray"));
    QVERIFY(!QFileInfo::exists(m_env->root() + "/Stray"));
}

void tst_OrganizeFavorites::dragOver()
{
    makeLayout(m_root, {"Work/a.irl"});
    TfrmOrganizeFavorites dialog;
    dialog.resize(481, 440);
    dialog.tvFavorites->expandAll();
    auto at = [&](const QString &node) {
        return dialog.tvFavorites->visualItemRect(findNode(dialog, node)).center();
    };
    QVERIFY(dialog.tvFavoritesDragOver(at("")));
    QVERIFY(dialog.tvFavoritesDragOver(at("Work")));
    QVERIFY(!dialog.tvFavoritesDragOver(at("Work/a")));
    QVERIFY(dialog.tvFavoritesDragOver(QPoint(5, dialog.tvFavorites->viewport()->height() - 2)));
}

void tst_OrganizeFavorites::contextMenuRunsTheCommands()
{
    makeLayout(m_root, {"Work/a.irl"});
    TfrmOrganizeFavorites dialog;
    dialog.tvFavorites->setCurrentItem(findNode(dialog, "Work/a"));
    m_dialogs->inputAnswers << "b"
                            << "Sub";
    dialog.Rename1->trigger();
    QVERIFY(QFileInfo::exists(m_root + "Work/b.irl"));
    dialog.NewFolder1->trigger();
    QVERIFY(QFileInfo(m_root + "Work/Sub").isDir());
    m_dialogs->messageAnswers << QMessageBox::Yes;
    dialog.Delete1->trigger();
    QVERIFY(!QFileInfo::exists(m_root + "Work/b.irl"));
    QCOMPARE(m_dialogs->inputPrompts,
             (QStringList{"Enter the new name", "Enter the name of the new folder"}));
}

void tst_OrganizeFavorites::selectingExpandsOneBranch()
{
    makeLayout(m_root, {"A/A1/x.irl", "B/B1/y.irl"});
    TfrmOrganizeFavorites dialog;
    dialog.tvFavorites->setCurrentItem(findNode(dialog, "A/A1"));
    // Rows move only once the selecting event is over.
    QVERIFY(!findNode(dialog, "A/A1")->isExpanded());
    QTRY_VERIFY(findNode(dialog, "A/A1")->isExpanded());
    QVERIFY(findNode(dialog, "A")->isExpanded());
    dialog.tvFavorites->setCurrentItem(findNode(dialog, "B/B1/y"));
    QTRY_VERIFY(findNode(dialog, "B/B1")->isExpanded());
    QVERIFY(!findNode(dialog, "A/A1")->isExpanded());
    QVERIFY(!findNode(dialog, "A")->isExpanded());
    QVERIFY(dialog.RootNode()->isExpanded());
    // A node deleted before the queued step runs is simply not there to close.
    dialog.tvFavorites->setCurrentItem(findNode(dialog, "A"));
    m_dialogs->messageAnswers << QMessageBox::Yes;
    dialog.cbDelete->click();
    QVERIFY(!findNode(dialog, "A"));
    QCoreApplication::sendPostedEvents(); // the queued step runs now, and finds nothing to do
}

// On an account the administrator keeps unchanged the tree is only looked at: no command runs,
// whatever route reaches its handler.
void tst_OrganizeFavorites::forbiddenChangesChangeNothing()
{
    makeLayout(m_root, {"Work/a.irl"});
    MachinePolicies::SetUserChanges(false);
    MachinePolicies::Forget();
    TfrmOrganizeFavorites dialog;
    for (QWidget *button :
         std::initializer_list<QWidget *>{dialog.cbRename, dialog.cbDelete, dialog.cbNewFolder})
        QVERIFY(!button->isEnabled());
    for (QAction *action : {dialog.Rename1, dialog.NewFolder1, dialog.Delete1})
        QVERIFY(!action->isEnabled());
    dialog.tvFavorites->setCurrentItem(findNode(dialog, "Work/a"));
    m_dialogs->inputAnswers << "b"
                            << "Sub";
    m_dialogs->messageAnswers << QMessageBox::Yes;
    dialog.cbRenameClick();
    dialog.cbNewFolderClick();
    dialog.cbDeleteClick();
    QVERIFY(!dialog.tvFavoritesDragOver(
        dialog.tvFavorites->visualItemRect(findNode(dialog, "Work")).center()));
    QVERIFY(m_dialogs->inputPrompts.isEmpty() && m_dialogs->messages.isEmpty());
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)), (QStringList{"Work/", "  a"}));
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_OrganizeFavorites)
#include "tst_organizefavorites.moc"
