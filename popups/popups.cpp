#include "popups/popups.h"

#include "ui_popups.h"

#include "common/allowedsites.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/textutils.h"
#include "widgets/dialogseam.h"

#include <QCollator>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

namespace {

const char *const EmptyAddress = "http://";
constexpr int StoredNameRole = Qt::UserRole;

} // namespace

TfrmPopups::TfrmPopups(QWidget *owner) : QDialog(owner), ui(new Ui::TfrmPopups)
{
    ui->setupUi(this);
    edtWebsite = ui->edtWebsite;
    cbAllow = ui->cbAllow;
    gridSites = ui->gridSites;
    cbRemove = ui->cbRemove;
    cbRemoveAll = ui->cbRemoveAll;
    cbClose = ui->cbClose;

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(489, 423);
    cbAllow->setAccessibleName(QStringLiteral("Allow"));
    cbRemove->setAccessibleName(QStringLiteral("Remove Site"));
    cbRemoveAll->setAccessibleName(QStringLiteral("Remove All Sites"));
    cbClose->setAccessibleName(QStringLiteral("Close"));
    edtWebsite->setAccessibleName(QStringLiteral("Address of the web site"));

    connect(edtWebsite, &QLineEdit::textChanged, this, &TfrmPopups::edtWebsiteChange);
    edtWebsite->installEventFilter(this);
    connect(cbAllow, &QPushButton::clicked, this, &TfrmPopups::cbAllowClick);
    connect(cbRemove, &QPushButton::clicked, this, &TfrmPopups::cbRemoveClick);
    connect(cbRemoveAll, &QPushButton::clicked, this, &TfrmPopups::cbRemoveAllClick);
    connect(cbClose, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();
}

TfrmPopups::~TfrmPopups()
{
    delete ui;
}

void TfrmPopups::FormCreate()
{
    // The vertical header plays the grid's fixed first column: empty and 15 pixels wide.
    QHeaderView *fixedColumn = gridSites->verticalHeader();
    fixedColumn->setFixedWidth(15);
    fixedColumn->setSectionResizeMode(QHeaderView::Fixed);
    fixedColumn->setDefaultSectionSize(18);
    fixedColumn->setMinimumSectionSize(18);

    QHeaderView *fixedRow = gridSites->horizontalHeader();
    fixedRow->setSectionResizeMode(QHeaderView::Interactive);
    fixedRow->setStretchLastSection(false);
    fixedRow->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    gridSites->setHorizontalHeaderLabels({QStringLiteral("Sites"), QStringLiteral("Status")});
    gridSites->setColumnWidth(0, 200);
    gridSites->setColumnWidth(1, 1000);

    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    m_changesAllowed = policies.UserChangesAllowed();
    edtWebsite->setEnabled(m_changesAllowed);
    cbAllow->setEnabled(false);
    cbRemove->setEnabled(m_changesAllowed);
    cbRemoveAll->setEnabled(m_changesAllowed);
    ShowMachineSites(policies.AllowedSites, m_changesAllowed);
    LoadSites();
}

void TfrmPopups::ShowMachineSites(const QStringList &sites, bool changesAllowed)
{
    // Only the user's own list is edited here; the administrator's is named so the user knows
    // why a site not on the list still opens popups.
    constexpr qsizetype Named = 6;
    QStringList lines;
    if (!changesAllowed)
        lines << QStringLiteral("The administrator does not allow changes to this list.");
    if (!sites.isEmpty()) {
        QString names = sites.mid(0, Named).join(QStringLiteral(", "));
        if (sites.size() > Named)
            names += QStringLiteral(" and %1 more").arg(sites.size() - Named);
        lines << QStringLiteral("Also allowed for everyone by the administrator: ") + names;
    }
    QLabel *line = ui->lblMachineSites;
    if (lines.isEmpty()) {
        line->hide();
        return;
    }
    line->setWordWrap(true);
    line->setText(lines.join(QLatin1Char('\n')));
    const int bottom = line->geometry().bottom();
    const int height =
        qMin(line->heightForWidth(line->width()), 3 * line->fontMetrics().lineSpacing() + 4);
    line->setGeometry(line->x(), bottom - height + 1, line->width(), height);
    gridSites->resize(gridSites->width(), line->y() - gridSites->y() - 4);
    line->show();
}

void TfrmPopups::LoadSites()
{
    const int keepRow = gridSites->currentRow();
    gridSites->clearContents();
    gridSites->setRowCount(1);

    struct Row
    {
        QString site;
        QString stored;
    };
    QList<Row> rows;
    // When the store cannot be read, the grid shows what could be read: nothing.
    Guard::Run("LoadSites", [&rows] {
        QStringList names = PopupStore::ListSites();
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(
            names.begin(), names.end(),
            [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
        for (const QString &name : names) {
            const QString trimmed = TextUtils::Trim(name);
            if (!trimmed.isEmpty())
                rows.append({TextUtils::LowerCase(trimmed), name});
        }
    });

    const int rowCount = qMax(1, int(rows.size()));
    gridSites->setUpdatesEnabled(false);
    gridSites->setRowCount(rowCount);
    gridSites->setVerticalHeaderLabels(QStringList(rowCount, QString()));
    for (int row = 0; row < rowCount; ++row) {
        auto *site = new QTableWidgetItem(row < rows.size() ? rows.at(row).site : QString());
        if (row < rows.size())
            site->setData(StoredNameRole, rows.at(row).stored);
        gridSites->setItem(row, 0, site);
        gridSites->setItem(
            row, 1,
            new QTableWidgetItem(row < rows.size() ? QStringLiteral("Allow Popups") : QString()));
    }
    gridSites->setUpdatesEnabled(true);
    gridSites->selectRow(qBound(0, keepRow, rowCount - 1));
}

void TfrmPopups::edtWebsiteChange()
{
    const QString text = edtWebsite->text();
    // The box lower-cases A to Z as they are typed, as the store does; outer blanks are
    // dropped at once.
    const QString lowered = TextUtils::LowerCase(text);
    const QString normal = TextUtils::Trim(lowered);
    if (normal != text) {
        qsizetype leading = 0;
        while (leading < lowered.size() && TextUtils::IsBlank(lowered.at(leading)))
            ++leading;
        const int cursor =
            qBound(0, int(edtWebsite->cursorPosition() - leading), int(normal.size()));
        edtWebsite->setText(normal);
        edtWebsite->setCursorPosition(cursor);
        return; // setText ran this handler again for the new text
    }
    cbAllow->setEnabled(m_changesAllowed && !text.isEmpty() && text != QLatin1String(EmptyAddress));
}

void TfrmPopups::edtWebsiteKeyPress(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        cbAllowClick();
}

bool TfrmPopups::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edtWebsite && event->type() == QEvent::KeyPress)
        edtWebsiteKeyPress(static_cast<QKeyEvent *>(event)->key());
    return QDialog::eventFilter(watched, event);
}

void TfrmPopups::cbAllowClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("cbAllowClick", [this] {
        QString address = edtWebsite->text();
        address.remove(QLatin1Char(' '));
        const QString domain = TextUtils::LowerCase(GenUtilities::GetDomain(address));
        if (domain.isEmpty())
            return;
        PopupStore::AddSite(domain);
        edtWebsite->setText(QLatin1String(EmptyAddress));
        LoadSites();
        for (int row = 0; row < gridSites->rowCount(); ++row) {
            if (SiteCell(row) == domain) {
                gridSites->selectRow(row);
                gridSites->scrollToItem(gridSites->item(row, 0));
                break;
            }
        }
    });
}

void TfrmPopups::cbRemoveClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("cbRemoveClick", [this] {
        const int row = SelectedRow();
        const QString site = SiteCell(row);
        if (site.isEmpty())
            return;
        const QString question = QStringLiteral("Remove the site \"") + site +
                                 QStringLiteral("\" from the list of sites that popups are "
                                                "permitted for?");
        if (!TDialogs::Ask(this, question))
            return;
        PopupStore::RemoveSite(StoredName(row));
        LoadSites();
    });
}

void TfrmPopups::cbRemoveAllClick()
{
    if (!m_changesAllowed)
        return;
    Guard::Run("cbRemoveAllClick", [this] {
        if (SiteCell(0).isEmpty())
            return;
        if (!TDialogs::Ask(this,
                           QStringLiteral("Clear the list of sites popups are permitted for?")))
            return;
        QStringList names;
        for (int row = 0; row < gridSites->rowCount(); ++row) {
            if (!SiteCell(row).isEmpty())
                names << StoredName(row);
        }
        // A site that cannot be removed ends the removing, not the dialog's fresh list.
        Guard::Run("cbRemoveAllClick", [&names] {
            for (const QString &name : names)
                PopupStore::RemoveSite(name);
        });
        LoadSites();
    });
}

QString TfrmPopups::SiteCell(int row) const
{
    const QTableWidgetItem *item = row >= 0 ? gridSites->item(row, 0) : nullptr;
    return item ? item->text() : QString();
}

QString TfrmPopups::StoredName(int row) const
{
    const QTableWidgetItem *item = row >= 0 ? gridSites->item(row, 0) : nullptr;
    return item ? item->data(StoredNameRole).toString() : QString();
}

int TfrmPopups::SelectedRow() const
{
    const QModelIndexList rows = gridSites->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}
