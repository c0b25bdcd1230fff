#include "page/finddialog.h"

#include "common/guard.h"
#include "ui_finddialog.h"

#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineView>

TfrmFind::TfrmFind(PageProvider activePage, QWidget *parent)
    : QDialog(parent), ui(new Ui::TfrmFind), m_activePage(std::move(activePage))
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    connect(ui->cbFindNext, &QPushButton::clicked, this, &TfrmFind::FindNext);
    connect(ui->cbCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->edtFindWhat, &QLineEdit::textChanged, this, [this] {
        ui->lblStatus->clear();
        updateButtons();
    });
    updateButtons();
}

TfrmFind::~TfrmFind()
{
    delete ui;
}

TfrmFind *TfrmFind::ShowFor(QWidget *owner, PageProvider activePage)
{
    TfrmFind *dialog =
        owner ? owner->findChild<TfrmFind *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog)
        dialog = new TfrmFind(std::move(activePage), owner);
    // A one-line selection in the page is what the user most likely wants to find.
    if (QWebEngineView *view = dialog->m_activePage ? dialog->m_activePage() : nullptr) {
        const QString selected = view->selectedText().trimmed();
        if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n')) && selected.size() <= 200)
            dialog->ui->edtFindWhat->setText(selected);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->ui->edtFindWhat->setFocus();
    dialog->ui->edtFindWhat->selectAll();
    return dialog;
}

QString TfrmFind::ResultText(const QString &text, int matches, int activeMatch)
{
    if (matches <= 0)
        return QStringLiteral("Cannot find \"%1\".").arg(text);
    if (matches == 1)
        return QStringLiteral("1 match.");
    return QStringLiteral("Match %1 of %2.").arg(activeMatch).arg(matches);
}

void TfrmFind::FindNext()
{
    Guard::Run("FindNext", [this] {
        const QString text = ui->edtFindWhat->text();
        if (text.isEmpty())
            return;
        QWebEngineView *view = m_activePage ? m_activePage() : nullptr;
        QWebEnginePage *page = view ? view->page() : nullptr;
        if (!page)
            return;
        if (m_searchedPage && m_searchedPage != page)
            clearHighlight();
        m_searchedPage = page;
        QWebEnginePage::FindFlags flags;
        if (ui->cbMatchCase->isChecked())
            flags |= QWebEnginePage::FindCaseSensitively;
        if (ui->rbUp->isChecked())
            flags |= QWebEnginePage::FindBackward;
        QPointer<TfrmFind> self = this;
        page->findText(text, flags, [self, text](const QWebEngineFindTextResult &result) {
            if (!self)
                return;
            self->ui->lblStatus->setText(
                ResultText(text, result.numberOfMatches(), result.activeMatch()));
            emit self->SearchFinished(result.numberOfMatches(), result.activeMatch());
        });
    });
}

void TfrmFind::clearHighlight()
{
    if (m_searchedPage)
        m_searchedPage->findText(QString());
    m_searchedPage = nullptr;
}

void TfrmFind::hideEvent(QHideEvent *event)
{
    clearHighlight();
    ui->lblStatus->clear();
    QDialog::hideEvent(event);
}

void TfrmFind::updateButtons()
{
    ui->cbFindNext->setEnabled(!ui->edtFindWhat->text().isEmpty());
}
