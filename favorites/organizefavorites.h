#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>
#include <QTreeWidget>
#include <functional>

class QMenu;
class QAction;
class QPushButton;

namespace Ui {
class TfrmOrganizeFavorites;
}

// The two flags every node of the Organize tree carries from its creation.
struct FavNodeFlags
{
    quint8 IsRoot = 0;
    quint8 IsFolder = 0;
};

// The tree of the Organize dialog. It drags its own nodes only and leaves every decision about
// a drop to the dialog, which moves on disk first and then changes the tree to match.
class TFavoritesTree : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TFavoritesTree(QWidget *parent = nullptr);

    // Asked while a node is dragged over a point of the viewport; true accepts a drop there.
    std::function<bool(const QPoint &)> DragOver;
    // Called when a node is dropped on a point of the viewport.
    std::function<void(const QPoint &)> DragDrop;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool isOurDrag(const QDropEvent *event) const;
    void markDropTarget(QTreeWidgetItem *item);

    // Never a node the drop could delete: the mark is cleared before the drop is handled.
    QTreeWidgetItem *m_dropTarget = nullptr;
};

// The Organize Favorites dialog: the favorites folder as a tree in which favorites and folders
// are renamed, deleted, created and moved by dragging, each on disk first and then in the tree.
// The tree is built once, when the dialog is created.
class TfrmOrganizeFavorites : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmOrganizeFavorites(QWidget *owner = nullptr);
    ~TfrmOrganizeFavorites() override;

    Ui::TfrmOrganizeFavorites *ui = nullptr;
    TFavoritesTree *tvFavorites = nullptr;
    QPushButton *cbRename = nullptr;
    QPushButton *cbDelete = nullptr;
    QPushButton *cbNewFolder = nullptr;
    QPushButton *cbClose = nullptr;
    QMenu *mnuPopup = nullptr;
    QAction *Rename1 = nullptr;
    QAction *NewFolder1 = nullptr;
    QAction *Delete1 = nullptr;
    // 0: a folder, 1: a globe.
    QList<QIcon> imgFavorites;

    void FormCreate();
    void LoadFavoritesTree();
    void AddFolderNodes(QTreeWidgetItem *node, const QString &folder);
    // The full path a node stands for: the favorites folder for the root, otherwise the folder
    // followed by the texts of the node's ancestors below the root and its own text, without a
    // trailing "/" and, for a favorite, without ".irl".
    QString NodePath(const QTreeWidgetItem *node) const;
    // The file of a favorite node: its folder and the file's name on disk (whose ".irl" may be
    // in any letter case).
    QString FavoriteFilePath(const QTreeWidgetItem *node) const;
    bool SelectionIsFolder() const;
    QTreeWidgetItem *Selected() const;
    QTreeWidgetItem *RootNode() const;
    static FavNodeFlags Flags(const QTreeWidgetItem *node);

    bool ChangesAllowed() const { return m_changesAllowed; }
    void cbRenameClick();
    void cbDeleteClick();
    void cbNewFolderClick();
    // Points are in the coordinates of the tree's viewport.
    bool tvFavoritesDragOver(const QPoint &pos);
    void tvFavoritesDragDrop(const QPoint &pos);

    static QString RootCaption() { return QStringLiteral("Quelvard Favorites"); }

private:
    QTreeWidgetItem *newNode(QTreeWidgetItem *parent, const QString &text, bool isFolder,
                             const QString &fileName = QString());
    QTreeWidgetItem *NewFolderParent() const;
    void singleExpand(QTreeWidgetItem *current, QTreeWidgetItem *previous);

    bool m_expandPending = false;
    // False when the administrator forbids users' changes: the tree is only looked at.
    bool m_changesAllowed = true;
    QPersistentModelIndex m_expandPrevious;
    void showError(const QString &before, const QString &name, const QString &after);
};
