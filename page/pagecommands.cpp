#include "page/pagecommands.h"

#include "common/guard.h"
#include "common/machinepolicies.h"
#include "favorites/savetarget.h"
#include "page/finddialog.h"
#include "page/pageproperties.h"
#include "page/pagesave.h"
#include "page/sourceview.h"
#include "widgets/dialogseam.h"

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
    // Named for the log.
    static const std::pair<TCommand, const char *> commands[CommandCount] = {
        {TCommand::Find, "Find"},
        {TCommand::ViewSource, "ViewSource"},
        {TCommand::SaveAs, "SaveAs"},
        {TCommand::Print, "Print"},
        {TCommand::PrintPreview, "PrintPreview"},
        {TCommand::PageSetup, "PageSetup"},
        {TCommand::Properties, "Properties"},
        {TCommand::Cut, "Cut"},
        {TCommand::Copy, "Copy"},
        {TCommand::Paste, "Paste"},
        {TCommand::SelectAll, "SelectAll"},
        {TCommand::Back, "Back"},
        {TCommand::Forward, "Forward"},
        {TCommand::Refresh, "Refresh"},
        {TCommand::RefreshBypassingCache, "RefreshBypassingCache"},
        {TCommand::Stop, "Stop"},
        {TCommand::ZoomIn, "ZoomIn"},
        {TCommand::ZoomOut, "ZoomOut"},
        {TCommand::ZoomReset, "ZoomReset"},
    };
    for (size_t i = 0; i < m_actions.size(); ++i) {
        const auto [command, name] = commands[i];
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, [this, command = command] {
            if (TWebView *page = ActiveView())
                Run(command, page);
        });
        m_actions.at(i) = {command, action};
    }
}

QAction *TPageCommands::Action(TCommand command) const
{
    for (const auto &[known, action] : m_actions) {
        if (known == command)
            return action;
    }
    return nullptr;
}

TPageCommands::~TPageCommands() = default;

QPrinter &TPageCommands::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

QString TPageCommands::PrintingOffMessage()
{
    return QStringLiteral("Printing is turned off on this computer.");
}

bool TPageCommands::refusePrintFile(QPrinter &printer, QWidget *parent)
{
    // A print to a file is a save; with saving taken away it goes nowhere.
    const bool noFiles = MachinePolicies::Current().Removed(QStringLiteral("save"));
    if (noFiles && !printer.outputFileName().isEmpty()) {
        printer.setOutputFileName(QString());
        return true;
    }
    if (!SaveTarget::RefuseWrite(parent, printer.outputFileName()))
        return false;
    printer.setOutputFileName(QString());
    return true;
}

void TPageCommands::Run(TCommand command, TWebView *page)
{
    if (!page)
        return;
    Guard::Run(Action(command)->objectName().toLatin1().constData(), [&] { runOn(command, page); });
}

// The group of commands the administrator can take away that `command` belongs to.
QString TPageCommands::RemovableGroup(TCommand command)
{
    switch (command) {
    case TCommand::SaveAs:
        return QStringLiteral("save");
    case TCommand::Print:
    case TCommand::PrintPreview:
    case TCommand::PageSetup:
        return QStringLiteral("print");
    case TCommand::ViewSource:
        return QStringLiteral("view-source");
    default:
        return QString();
    }
}

void TPageCommands::runOn(TCommand command, TWebView *page)
{
    // A command taken away does nothing, whichever route reached it; its items are hidden.
    const QString group = RemovableGroup(command);
    if (!group.isEmpty() && MachinePolicies::Current().Removed(group))
        return;
    // Every way to a printer (the menu, its keys, the context menu, a page's own print and the
    // PDF viewer's) comes here; with printing turned off none of them opens a dialog.
    const bool printing = command == TCommand::PageSetup || command == TCommand::Print ||
                          command == TCommand::PrintPreview;
    if (printing && !MachinePolicies::Current().PrintingAllowed()) {
        // Said once: a page calling print() over and over must not bury the window in boxes.
        if (!m_saidPrintingOff) {
            m_saidPrintingOff = true;
            TDialogs::Current()->Message(m_owner, PrintingOffMessage(), QMessageBox::Information,
                                         QMessageBox::Ok);
        }
        return;
    }
    switch (command) {
    case TCommand::SaveAs:
        return SaveAs(page);
    case TCommand::PageSetup:
        return PageSetup();
    case TCommand::Print:
        return Print(page);
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

void TPageCommands::Zoom(TWebView *page, int direction)
{
    // Back is to the machine's zoom, which pages open at.
    page->SetZoomPercent(direction == 0 ? MachinePolicies::Current().ZoomPercent
                                        : TWebView::ZoomStep(page->ZoomPercent(), direction));
}

void TPageCommands::SaveAs(TWebView *page)
{
    // A name is always asked for: there is no other way to get one.
    TPageSaver::SaveAs(page->page(), m_owner);
}

void TPageCommands::Print(TWebView *page)
{
    if (PrinterBusy())
        return;
    QPrinter &printer = this->printer();
    QPointer<TWebView> alive = page;
    QPrintDialog dialog(&printer, m_owner);
    dialog.setObjectName(QStringLiteral("dlgPrint"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile,
                     !MachinePolicies::Current().Removed(QStringLiteral("save")));
    const int result = TDialogs::Current()->ExecDialog(&dialog);
    // The page can close its own tab while the dialog is open, taking its view.
    if (!alive || result != QDialog::Accepted)
        return;
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
