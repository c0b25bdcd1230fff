#include "main/pagecommands.h"

#include "common/dialogseam.h"
#include "common/guard.h"
#include "favorites/savetarget.h"
#include "main/finddialog.h"
#include "main/pageproperties.h"
#include "main/pagesave.h"
#include "main/sourceview.h"

#include <QAction>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

// What the chosen output file looked like before the job, so a failed job can take back a
// partial file without touching one it never wrote.
struct TOutputFileState
{
    QString path;
    bool existed = false;
    QDateTime modified;
};

TOutputFileState OutputFileState(const QPrinter &printer)
{
    TOutputFileState state;
    state.path = printer.outputFileName();
    if (!state.path.isEmpty()) {
        const QFileInfo info(state.path);
        state.existed = info.exists();
        state.modified = info.lastModified();
    }
    return state;
}

void RemovePartialOutput(const TOutputFileState &before)
{
    if (before.path.isEmpty())
        return;
    const QFileInfo info(before.path);
    if (!info.exists() || !info.isFile())
        return;
    if (!before.existed || info.lastModified() != before.modified)
        QFile::remove(before.path);
}

// The engine edits in the focused frame of a focused page; from a menu or from the tab row the
// page may not have the focus yet, and the command would then find nothing to act on.
void EditPage(TWebView *page, QWebEnginePage::WebAction action)
{
    if (!page->hasFocus() && !(page->focusProxy() && page->focusProxy()->hasFocus()))
        page->setFocus(Qt::OtherFocusReason);
    page->triggerPageAction(action);
}

} // namespace

TPageCommands::TPageCommands(QWidget *owner, ViewProvider activeView)
    : QObject(owner), m_owner(owner), m_activeView(std::move(activeView))
{
    // Named for the log, in the order of TCommand.
    static const char *const names[CommandCount] = {
        "SaveAs",     "PageSetup", "Print",   "PrintPreview", "Properties",
        "Cut",        "Copy",      "Paste",   "SelectAll",    "Find",
        "ViewSource", "Back",      "Forward", "Refresh",      "RefreshBypassingCache",
        "Stop",       "ZoomIn",    "ZoomOut", "ZoomReset"};
    for (int i = 0; i < CommandCount; ++i) {
        const auto command = TCommand(i);
        const char *name = names[i];
        m_actions.at(size_t(i)) = new QAction(this);
        m_actions.at(size_t(i))->setObjectName(QLatin1String(name));
        connect(m_actions.at(size_t(i)), &QAction::triggered, this, [this, command, name] {
            Guard::Run(name, [&] {
                if (TWebView *page = ActiveView())
                    run(command, page);
            });
        });
    }
}

TPageCommands::~TPageCommands() = default;

QPrinter &TPageCommands::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

bool TPageCommands::refusePrintFile(QPrinter &printer, QWidget *parent)
{
    if (!SaveTarget::RefuseWrite(parent, printer.outputFileName()))
        return false;
    printer.setOutputFileName(QString());
    return true;
}

void TPageCommands::run(TCommand command, TWebView *page)
{
    switch (command) {
    case TCommand::SaveAs:
        return SaveAs(page);
    case TCommand::PageSetup:
        return PageSetup();
    case TCommand::Print:
        return Print(page, TWebView::TCommandOption::PromptUser);
    case TCommand::PrintPreview:
        return PrintPreview(page);
    case TCommand::Properties:
        return Properties(page);
    case TCommand::Cut:
        return EditPage(page, QWebEnginePage::Cut);
    case TCommand::Copy:
        return EditPage(page, QWebEnginePage::Copy);
    case TCommand::Paste:
        return EditPage(page, QWebEnginePage::Paste);
    case TCommand::SelectAll:
        return EditPage(page, QWebEnginePage::SelectAll);
    case TCommand::Find:
        return FindOnPage();
    case TCommand::ViewSource:
        return ViewSource(page);
    case TCommand::Back:
        return page->GoBack();
    case TCommand::Forward:
        return page->GoForward();
    case TCommand::Refresh:
        return page->Refresh();
    case TCommand::RefreshBypassingCache:
        return page->RefreshBypassingCache();
    case TCommand::Stop:
        return page->Stop();
    case TCommand::ZoomIn:
        return Zoom(page, 1);
    case TCommand::ZoomOut:
        return Zoom(page, -1);
    case TCommand::ZoomReset:
        return Zoom(page, 0);
    }
}

TWebView::CommandHandler TPageCommands::PageCommandHandler()
{
    QPointer<TPageCommands> self = this;
    return [self](TWebView *page, TWebView::TPageCommand command, TWebView::TCommandOption option) {
        if (!self)
            return;
        switch (command) {
        case TWebView::TPageCommand::SaveAs:
            return self->SaveAs(page);
        case TWebView::TPageCommand::Print:
            return self->Print(page, option);
        case TWebView::TPageCommand::PrintPreview:
            return self->PrintPreview(page);
        case TWebView::TPageCommand::PageSetup:
            return self->PageSetup();
        case TWebView::TPageCommand::Properties:
            return self->Properties(page);
        case TWebView::TPageCommand::Cut:
            return EditPage(page, QWebEnginePage::Cut);
        case TWebView::TPageCommand::Copy:
            return EditPage(page, QWebEnginePage::Copy);
        case TWebView::TPageCommand::Paste:
            return EditPage(page, QWebEnginePage::Paste);
        case TWebView::TPageCommand::SelectAll:
            return EditPage(page, QWebEnginePage::SelectAll);
        }
    };
}

TWebView::DocumentCommandHandler TPageCommands::DocumentCommandHandler()
{
    QPointer<TPageCommands> self = this;
    return [self](TWebView *page, TWebView::TDocumentCommand command) {
        if (!self)
            return;
        if (command == TWebView::TDocumentCommand::Find)
            self->FindOnPage();
        else if (command == TWebView::TDocumentCommand::ViewSource)
            self->ViewSource(page);
    };
}

void TPageCommands::Zoom(TWebView *page, int direction)
{
    page->SetZoomPercent(TWebView::ZoomStep(page->ZoomPercent(), direction));
}

void TPageCommands::SaveAs(TWebView *page)
{
    // A name is always asked for: there is no other way to get one.
    TPageSaver::SaveAs(page->page(), m_owner);
}

void TPageCommands::Print(TWebView *page, TWebView::TCommandOption option)
{
    if (PrinterBusy())
        return;
    QPrinter &printer = this->printer();
    if (option != TWebView::TCommandOption::DontPromptUser) {
        QPointer<TWebView> alive = page;
        QPrintDialog dialog(&printer, m_owner);
        dialog.setObjectName(QStringLiteral("dlgPrint"));
        const int result = TDialogs::Current()->ExecDialog(&dialog);
        // The page can close its own tab while the dialog is open, taking its view.
        if (!alive || result != QDialog::Accepted)
            return;
    }
    if (refusePrintFile(printer, m_owner))
        return;
    const TOutputFileState before = OutputFileState(printer);
    m_printingPage = page;
    QPointer<TPageCommands> self = this;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(page, &QWebEngineView::printFinished, page,
                          [self, connection, before](bool success) {
                              QObject::disconnect(*connection);
                              if (self)
                                  self->m_printingPage = nullptr;
                              if (!success)
                                  RemovePartialOutput(before);
                          });
    page->print(&printer);
}

void TPageCommands::PrintPreview(TWebView *page)
{
    // Never prompts: the preview is the dialog.
    if (PrinterBusy())
        return;
    QPrintPreviewDialog dialog(&printer(), m_owner);
    dialog.setObjectName(QStringLiteral("dlgPrintPreview"));
    QPointer<TWebView> alive = page;
    connect(&dialog, &QPrintPreviewDialog::paintRequested, page,
            [this, alive, &dialog](QPrinter *printer) {
                // The preview paints synchronously; the engine prints asynchronously.
                if (!alive || PrinterBusy())
                    return;
                // The preview's own Print button prints here too, to a file if chosen.
                if (refusePrintFile(*printer, &dialog))
                    return;
                QEventLoop loop;
                connect(alive, &QWebEngineView::printFinished, &loop, &QEventLoop::quit);
                connect(alive, &QObject::destroyed, &loop, &QEventLoop::quit);
                m_printingPage = alive.data();
                alive->print(printer);
                loop.exec();
                m_printingPage = nullptr;
            });
    TDialogs::Current()->ExecDialog(&dialog);
}

void TPageCommands::PageSetup()
{
    if (PrinterBusy())
        return;
    QPageSetupDialog dialog(&printer(), m_owner);
    dialog.setObjectName(QStringLiteral("dlgPageSetup"));
    TDialogs::Current()->ExecDialog(&dialog);
}

void TPageCommands::Properties(TWebView *page)
{
    TfrmPageProperties::ShowFor(page, m_owner);
}

void TPageCommands::FindOnPage()
{
    TfrmFind::ShowFor(m_owner, [this]() -> QWebEngineView * { return ActiveView(); });
}

void TPageCommands::ViewSource(TWebView *page)
{
    TfrmSource::ShowFor(page, m_owner);
}
