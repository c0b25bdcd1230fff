#include "favorites/organizefavorites.h"

#include "ui_organizefavorites.h"

#include "common/favoritesstore.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/textutils.h"
#include "widgets/dialogseam.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace {

constexpr int IsRootRole = Qt::UserRole;
constexpr int IsFolderRole = Qt::UserRole + 1;
// The favorite's file name on disk: its ".irl" may be written in any letter case, and a
// case-sensitive file system finds the file only by its exact name.
constexpr int FileNameRole = Qt::UserRole + 2;

const QString NodeMimeType = QStringLiteral("application/x-quelvard-favorite-node");

QString withSlash(const QString &folder)
{
    return folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder
                                                                 : folder + QLatin1Char('/');
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QIcon globeIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ball(1.5, 1.5, 13, 13);
    QRadialGradient shade(QPointF(6, 5), 10);
    shade.setColorAt(0, QColor(0x9f, 0xd4, 0xff));
    shade.setColorAt(1, QColor(0x1f, 0x6f, 0xc8));
    painter.setBrush(shade);
    painter.setPen(QPen(QColor(0x10, 0x40, 0x80), 1));
    painter.drawEllipse(ball);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 190), 0.9));
    painter.drawEllipse(QRectF(5, 1.5, 6, 13));
    painter.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
    painter.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
    painter.drawLine(QPointF(2.8, 4.8), QPointF(13.2, 4.8));
    painter.drawLine(QPointF(2.8, 11.2), QPointF(13.2, 11.2));
    painter.end();
    return QIcon(pixmap);
}

bool isNodeAncestor(const QTreeWidgetItem *ancestor, const QTreeWidgetItem *node)
{
    for (const QTreeWidgetItem *p = node ? node->parent() : nullptr; p; p = p->parent()) {
        if (p == ancestor)
            return true;
    }
    return false;
}

} // namespace

// ---- The tree ------------------------------------------------------------------------------

TFavoritesTree::TFavoritesTree(QWidget *parent) : QTreeWidget(parent)
{
    setDropIndicatorShown(false);
}

bool TFavoritesTree::isOurDrag(const QDropEvent *event) const
{
    return event->source() == this && event->mimeData() &&
           event->mimeData()->hasFormat(NodeMimeType);
}

void TFavoritesTree::startDrag(Qt::DropActions)
{
    QTreeWidgetItem *item = currentItem();
    if (!item)
        return;
    auto *mime = new QMimeData;
    mime->setData(NodeMimeType, QByteArray());
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(item->icon(0).pixmap(16, 16));
    // The drop handler has already moved the node (or left it) when this returns.
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

void TFavoritesTree::dragEnterEvent(QDragEnterEvent *event)
{
    if (isOurDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFavoritesTree::dragMoveEvent(QDragMoveEvent *event)
{
    if (!isOurDrag(event)) {
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const bool accepted = !DragOver || DragOver(pos);
    if (accepted) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
    // Mark the folder the node would land in.
    markDropTarget(accepted ? itemAt(pos) : nullptr);
}

void TFavoritesTree::dragLeaveEvent(QDragLeaveEvent *event)
{
    markDropTarget(nullptr);
    event->accept();
}

void TFavoritesTree::markDropTarget(QTreeWidgetItem *item)
{
    if (item == m_dropTarget)
        return;
    if (m_dropTarget)
        m_dropTarget->setBackground(0, QBrush());
    m_dropTarget = item;
    if (m_dropTarget) {
        QColor shade = palette().color(QPalette::Highlight);
        shade.setAlpha(70);
        m_dropTarget->setBackground(0, shade);
    }
}

void TFavoritesTree::dropEvent(QDropEvent *event)
{
    if (!isOurDrag(event)) {
        event->ignore();
        return;
    }
    markDropTarget(nullptr);
    if (DragDrop)
        DragDrop(event->position().toPoint());
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

// ---- The dialog ----------------------------------------------------------------------------

TfrmOrganizeFavorites::TfrmOrganizeFavorites(QWidget *owner)
    : QDialog(owner), ui(new Ui::TfrmOrganizeFavorites)
{
    ui->setupUi(this);
    tvFavorites = ui->tvFavorites;
    cbRename = ui->cbRename;
    cbDelete = ui->cbDelete;
    cbNewFolder = ui->cbNewFolder;
    cbClose = ui->cbClose;

    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(481, 440);

    imgFavorites << style()->standardIcon(QStyle::SP_DirIcon) << globeIcon();

    mnuPopup = new QMenu(this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    Rename1 = mnuPopup->addAction(QStringLiteral("&Rename"));
    Rename1->setObjectName(QStringLiteral("Rename1"));
    mnuPopup->addSeparator()->setObjectName(QStringLiteral("N2"));
    NewFolder1 = mnuPopup->addAction(QStringLiteral("&New Folder"));
    NewFolder1->setObjectName(QStringLiteral("NewFolder1"));
    mnuPopup->addSeparator()->setObjectName(QStringLiteral("N1"));
    Delete1 = mnuPopup->addAction(QStringLiteral("&Delete"));
    Delete1->setObjectName(QStringLiteral("Delete1"));

    connect(cbRename, &QPushButton::clicked, this, &TfrmOrganizeFavorites::cbRenameClick);
    connect(cbDelete, &QPushButton::clicked, this, &TfrmOrganizeFavorites::cbDeleteClick);
    connect(cbNewFolder, &QPushButton::clicked, this, &TfrmOrganizeFavorites::cbNewFolderClick);
    connect(cbClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(Rename1, &QAction::triggered, this, &TfrmOrganizeFavorites::cbRenameClick);
    connect(NewFolder1, &QAction::triggered, this, &TfrmOrganizeFavorites::cbNewFolderClick);
    connect(Delete1, &QAction::triggered, this, &TfrmOrganizeFavorites::cbDeleteClick);
    connect(tvFavorites, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        mnuPopup->popup(tvFavorites->viewport()->mapToGlobal(pos));
    });
    connect(tvFavorites, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *, QTreeWidgetItem *previous) {
                // Opening and closing branches moves rows; done inside a mouse press it would
                // put another row under the pointer while the press still selects by position.
                if (m_expandPending)
                    return;
                m_expandPending = true;
                m_expandPrevious = tvFavorites->indexFromItem(previous);
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_expandPending = false;
                        singleExpand(tvFavorites->currentItem(),
                                     tvFavorites->itemFromIndex(m_expandPrevious));
                    },
                    Qt::QueuedConnection);
            });
    tvFavorites->DragOver = [this](const QPoint &pos) { return tvFavoritesDragOver(pos); };
    tvFavorites->DragDrop = [this](const QPoint &pos) { tvFavoritesDragDrop(pos); };

    FormCreate();
}

TfrmOrganizeFavorites::~TfrmOrganizeFavorites()
{
    delete ui;
}

void TfrmOrganizeFavorites::FormCreate()
{
    m_changesAllowed = MachinePolicies::Current().UserChangesAllowed();
    for (QWidget *control : std::initializer_list<QWidget *>{cbRename, cbDelete, cbNewFolder})
        control->setEnabled(m_changesAllowed);
    for (QAction *action : {Rename1, NewFolder1, Delete1})
        action->setEnabled(m_changesAllowed);
    tvFavorites->setDragEnabled(m_changesAllowed);
    tvFavorites->setAcceptDrops(m_changesAllowed);
    Guard::Run("TfrmOrganizeFavorites::FormCreate", [&] {
        const QString folder = FavoritesStore::FavoritesFolder();
        if (m_changesAllowed && !folder.isEmpty() && !FavoritesStore::IsFolder(folder))
            FavoritesStore::CreateFolderPath(folder);
        LoadFavoritesTree();
    });
}

FavNodeFlags TfrmOrganizeFavorites::Flags(const QTreeWidgetItem *node)
{
    FavNodeFlags flags;
    if (node) {
        flags.IsRoot = quint8(node->data(0, IsRootRole).toUInt());
        flags.IsFolder = quint8(node->data(0, IsFolderRole).toUInt());
    }
    return flags;
}

QTreeWidgetItem *TfrmOrganizeFavorites::newNode(QTreeWidgetItem *parent, const QString &text,
                                                bool isFolder, const QString &fileName)
{
    auto *node = new QTreeWidgetItem;
    node->setText(0, text);
    node->setIcon(0, imgFavorites.value(isFolder ? 0 : 1));
    node->setData(0, IsRootRole, 0);
    node->setData(0, IsFolderRole, isFolder ? 1 : 0);
    if (!isFolder)
        node->setData(0, FileNameRole,
                      fileName.isEmpty() ? text + QStringLiteral(".irl") : fileName);
    if (parent)
        parent->addChild(node);
    return node;
}

void TfrmOrganizeFavorites::LoadFavoritesTree()
{
    tvFavorites->clear();
    Guard::Run("TfrmOrganizeFavorites::LoadFavoritesTree", [&] {
        const QString folder = FavoritesStore::FavoritesFolder();
        if (folder.isEmpty() || !FavoritesStore::IsFolder(folder))
            return;
        auto *root = new QTreeWidgetItem;
        root->setText(0, RootCaption());
        root->setIcon(0, imgFavorites.value(0));
        root->setData(0, IsRootRole, 1);
        root->setData(0, IsFolderRole, 1);
        // Filled before it joins the view, so a large tree costs no view updates per node.
        AddFolderNodes(root, withSlash(folder));
        tvFavorites->addTopLevelItem(root);
    });
}

void TfrmOrganizeFavorites::AddFolderNodes(QTreeWidgetItem *node, const QString &folder)
{
    const std::function<void(QTreeWidgetItem *, const QVector<FavoritesStore::TFavoriteItem> &)>
        add = [&](QTreeWidgetItem *parent, const QVector<FavoritesStore::TFavoriteItem> &items) {
            for (const FavoritesStore::TFavoriteItem &item : items) {
                if (item.IsFolder) {
                    add(newNode(parent, item.Name, true), item.Children);
                } else {
                    const QString fileName =
                        item.Path.mid(item.Path.lastIndexOf(QLatin1Char('/')) + 1);
                    newNode(parent, item.Name, false, fileName);
                }
            }
        };
    add(node,
        FavoritesStore::ReadFavoritesTree(withSlash(folder), FavoritesStore::TWalk::Organize));
}

QString TfrmOrganizeFavorites::NodePath(const QTreeWidgetItem *node) const
{
    const QString folder = withSlash(FavoritesStore::FavoritesFolder());
    if (!node || Flags(node).IsRoot)
        return folder;
    QString path = node->text(0);
    for (const QTreeWidgetItem *p = node->parent(); p && !Flags(p).IsRoot; p = p->parent())
        path = p->text(0) + QLatin1Char('/') + path;
    return folder + path;
}

QString TfrmOrganizeFavorites::FavoriteFilePath(const QTreeWidgetItem *node) const
{
    QString fileName = node->data(0, FileNameRole).toString();
    if (fileName.isEmpty())
        fileName = node->text(0) + QStringLiteral(".irl");
    return withSlash(NodePath(node->parent())) + fileName;
}

QTreeWidgetItem *TfrmOrganizeFavorites::Selected() const
{
    const QList<QTreeWidgetItem *> selected = tvFavorites->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem *TfrmOrganizeFavorites::RootNode() const
{
    return tvFavorites->topLevelItemCount() > 0 ? tvFavorites->topLevelItem(0) : nullptr;
}

bool TfrmOrganizeFavorites::SelectionIsFolder() const
{
    return Flags(Selected()).IsFolder != 0;
}

void TfrmOrganizeFavorites::showError(const QString &before, const QString &name,
                                      const QString &after)
{
    TDialogs::Error(this, before + quoted(name) + after);
}

void TfrmOrganizeFavorites::singleExpand(QTreeWidgetItem *current, QTreeWidgetItem *previous)
{
    // Selecting a node opens it and closes the branch selected before, up to where the two
    // branches meet, so the tree stays as small as the current place in it.
    for (QTreeWidgetItem *p = previous; p; p = p->parent()) {
        if (p == current || isNodeAncestor(p, current))
            break;
        p->setExpanded(false);
    }
    if (current) {
        for (QTreeWidgetItem *p = current->parent(); p; p = p->parent())
            p->setExpanded(true);
        current->setExpanded(true);
    }
}

void TfrmOrganizeFavorites::cbRenameClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("TfrmOrganizeFavorites::cbRenameClick", [&] {
        QTreeWidgetItem *node = Selected();
        if (!node || Flags(node).IsRoot)
            return;
        QString answer;
        if (!TDialogs::Current()->InputBox(this, QStringLiteral("Enter the new name"), answer))
            return;
        answer = TextUtils::Trim(answer);
        if (answer.isEmpty())
            return;
        const QString oldText = node->text(0);
        const QString folder = withSlash(NodePath(node->parent()));
        const QString newPath = folder + answer;
        if (Flags(node).IsFolder) {
            // A name that is a path of its own would rename something elsewhere.
            if (!FavoritesStore::IsSafeEntryName(answer)) {
                showError(QStringLiteral("Renaming the folder "), oldText,
                          QStringLiteral(" failed"));
                return;
            }
            if (FavoritesStore::IsFolder(newPath)) {
                showError(QStringLiteral("The folder "), answer, QStringLiteral(" already exists"));
                return;
            }
            FavoritesStore::MoveNoReplace(NodePath(node), newPath);
            if (FavoritesStore::IsFolder(newPath))
                node->setText(0, answer);
            else
                showError(QStringLiteral("Renaming the folder "), oldText,
                          QStringLiteral(" failed"));
        } else {
            if (!FavoritesStore::IsSafeEntryName(answer)) {
                showError(QStringLiteral("Renaming the favorite "), oldText,
                          QStringLiteral(" failed"));
                return;
            }
            const QString newFile = newPath + QStringLiteral(".irl");
            if (FavoritesStore::IsFile(newFile)) {
                showError(QStringLiteral("The favorite "), answer,
                          QStringLiteral(" already exists"));
                return;
            }
            FavoritesStore::MoveNoReplace(FavoriteFilePath(node), newFile);
            if (FavoritesStore::IsFile(newFile)) {
                node->setText(0, answer);
                node->setData(0, FileNameRole, answer + QStringLiteral(".irl"));
            } else {
                showError(QStringLiteral("Renaming the favorite "), oldText,
                          QStringLiteral(" failed"));
            }
        }
    });
}

void TfrmOrganizeFavorites::cbDeleteClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("TfrmOrganizeFavorites::cbDeleteClick", [&] {
        QTreeWidgetItem *node = Selected();
        if (!node || Flags(node).IsRoot)
            return;
        const QString text = node->text(0);
        if (Flags(node).IsFolder) {
            if (!TDialogs::Ask(this, QStringLiteral("Delete the folder ") + quoted(text) +
                                         QStringLiteral(" and all the favorites it contains?")))
                return;
            const QString path = NodePath(node);
            FavoritesStore::DeleteFolderTree(path);
            if (FavoritesStore::IsFolder(path))
                showError(QStringLiteral("Deleting the folder "), text, QStringLiteral(" failed"));
            else
                delete node;
        } else {
            if (!TDialogs::Ask(this, QStringLiteral("Delete the favorite ") + quoted(text) +
                                         QStringLiteral("?")))
                return;
            if (FavoritesStore::DeleteFavoriteFile(FavoriteFilePath(node)))
                delete node;
            else
                showError(QStringLiteral("Deleting the favorite "), text,
                          QStringLiteral(" failed"));
        }
    });
}

QTreeWidgetItem *TfrmOrganizeFavorites::NewFolderParent() const
{
    QTreeWidgetItem *node = Selected();
    // With nothing selected the folder goes into the favorites folder itself.
    if (!node)
        return RootNode();
    return Flags(node).IsFolder ? node : node->parent();
}

void TfrmOrganizeFavorites::cbNewFolderClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("TfrmOrganizeFavorites::cbNewFolderClick", [&] {
        QString answer;
        if (!TDialogs::Current()->InputBox(this, QStringLiteral("Enter the name of the new folder"),
                                           answer))
            return;
        answer = TextUtils::Trim(answer);
        if (answer.isEmpty())
            return;
        QTreeWidgetItem *parent = NewFolderParent();
        const QString parentPath = withSlash(
            !parent || Flags(parent).IsRoot ? FavoritesStore::FavoritesFolder() : NodePath(parent));
        if (parentPath.isEmpty() || !FavoritesStore::IsSafeEntryName(answer)) {
            showError(QStringLiteral("Creating the folder "), answer, QStringLiteral(" failed"));
            return;
        }
        const QString path = parentPath + answer;
        if (FavoritesStore::IsFolder(path)) {
            showError(QStringLiteral("The folder "), answer, QStringLiteral(" already exists"));
            return;
        }
        FavoritesStore::CreateFolderPath(path);
        if (!FavoritesStore::IsFolder(path)) {
            showError(QStringLiteral("Creating the folder "), answer, QStringLiteral(" failed"));
            return;
        }
        if (parent)
            newNode(parent, answer, true);
        else
            LoadFavoritesTree(); // the favorites folder has only now come into being
    });
}

bool TfrmOrganizeFavorites::tvFavoritesDragOver(const QPoint &pos)
{
    if (!m_changesAllowed)
        return false;
    const QTreeWidgetItem *target = tvFavorites->itemAt(pos);
    // Over empty space the drop is accepted and then does nothing.
    return !target || Flags(target).IsFolder;
}

void TfrmOrganizeFavorites::tvFavoritesDragDrop(const QPoint &pos)
{
    if (!m_changesAllowed)
        return;
    Guard::Run("TfrmOrganizeFavorites::tvFavoritesDragDrop", [&] {
        QTreeWidgetItem *dragged = Selected();
        QTreeWidgetItem *target = tvFavorites->itemAt(pos);
        if (!dragged || !target || dragged == target || Flags(dragged).IsRoot)
            return;
        if (!Flags(target).IsFolder)
            return;
        const QString targetFolder = withSlash(NodePath(target));
        const QString text = dragged->text(0);
        if (Flags(dragged).IsFolder) {
            const QString destination = targetFolder + text;
            if (FavoritesStore::IsFolder(destination)) {
                showError(QStringLiteral("A folder with the name "), text,
                          QStringLiteral(" already exists in the folder ") +
                              quoted(target->text(0)));
                return;
            }
            // The file system refuses a folder inside itself; the tree could not hold it either.
            if (isNodeAncestor(dragged, target))
                return;
            FavoritesStore::MoveNoReplace(NodePath(dragged), destination);
            if (!FavoritesStore::IsFolder(destination))
                return;
            QTreeWidgetItem *oldParent = dragged->parent();
            oldParent->removeChild(dragged);
            target->addChild(dragged);
            tvFavorites->setCurrentItem(dragged);
        } else {
            const QString source = FavoriteFilePath(dragged);
            const QString fileName = source.mid(source.lastIndexOf(QLatin1Char('/')) + 1);
            const QString destination = targetFolder + fileName;
            if (FavoritesStore::IsFile(destination)) {
                showError(QStringLiteral("A favorite with the name "), text,
                          QStringLiteral(" already exists in the destination folder"));
                return;
            }
            FavoritesStore::MoveNoReplace(source, destination);
            const bool sourceGone = !FavoritesStore::EntryExists(source);
            const bool arrived = FavoritesStore::EntryExists(destination);
            if (sourceGone)
                delete dragged;
            if (arrived)
                tvFavorites->setCurrentItem(newNode(target, text, false, fileName));
        }
    });
}
