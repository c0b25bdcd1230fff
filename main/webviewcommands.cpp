// The web view's page commands on Qt WebEngine: save, print, preview, page setup, properties,
// editing, the find dialog, the source window and the browser's own context menu.
#include "main/webview.h"

#include "common/dialogseam.h"
#include "favorites/savetarget.h"
#include "main/browsertab.h"
#include "main/dochostuihandler.h"
#include "main/finddialog.h"
#include "main/mainwindow.h"
#include "main/pageproperties.h"
#include "main/pagesave.h"
#include "main/sourceview.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

// Page setup, print and print preview share one printer for the whole run, so the paper and
// margins chosen once hold for every later print.
QPrinter *g_sharedPrinter = nullptr;

QPrinter &SharedPrinter()
{
    if (!g_sharedPrinter) {
        g_sharedPrinter = new QPrinter(QPrinter::HighResolution);
        // Freed with the application, while the print plugin that made its engine is loaded.
        qAddPostRoutine([] {
            delete g_sharedPrinter;
            g_sharedPrinter = nullptr;
        });
    }
    return *g_sharedPrinter;
}

// The view whose print job is running on the shared printer. A second job, a preview or a page
// setup while it runs would change the printer under it, so they wait for it to end.
QPointer<QWebEngineView> g_printingView;

bool PrinterBusy()
{
    return !g_printingView.isNull();
}

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

// A print to a file goes where a saved page may go and nowhere else. A refused name is dropped
// from the shared printer so no later job, with or without a prompt, writes to it.
bool RefusePrintFile(QPrinter &printer, QWidget *parent)
{
    if (!SaveTarget::RefuseWrite(parent, printer.outputFileName()))
        return false;
    printer.setOutputFileName(QString());
    return true;
}

// The main window's page that commands act on, or this view when it stands alone.
std::function<QWebEngineView *()> ActivePageOf(TWebView *view)
{
    QPointer<TfrmQuelvardBrowser> mainForm = qobject_cast<TfrmQuelvardBrowser *>(view->window());
    QPointer<TWebView> self = view;
    return [mainForm, self]() -> QWebEngineView * {
        if (mainForm) {
            TBrowserTab *tab = mainForm->ActiveTab();
            return tab ? tab->WebView.data() : nullptr;
        }
        return self.data();
    };
}

// The engine edits in the focused frame of a focused page; from a menu or from the tab row the
// page may not have the focus yet, and the command would then find nothing to act on.
void EditPageOf(TWebView *view, QWebEnginePage::WebAction action)
{
    if (!view->hasFocus() && !(view->focusProxy() && view->focusProxy()->hasFocus()))
        view->setFocus(Qt::OtherFocusReason);
    view->triggerPageAction(action);
}

} // namespace

void TWebView::ExecWB(TPageCommand command, TCommandOption option)
{
    try {
        switch (command) {
        case TPageCommand::SaveAs: // a name is always asked for, there is no other way to get one
            TPageSaver::SaveAs(page(), window());
            break;
        case TPageCommand::Print: {
            if (PrinterBusy())
                return;
            QPrinter &printer = SharedPrinter();
            if (option != TCommandOption::DontPromptUser) {
                QPointer<TWebView> self = this;
                QPrintDialog dialog(&printer, window());
                dialog.setObjectName(QStringLiteral("dlgPrint"));
                const int result = TDialogs::Current()->ExecDialog(&dialog);
                // The page can close its own tab while the dialog is open, taking this view.
                if (!self || result != QDialog::Accepted)
                    return;
            }
            if (RefusePrintFile(printer, window()))
                return;
            const TOutputFileState before = OutputFileState(printer);
            g_printingView = this;
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = connect(this, &QWebEngineView::printFinished, this,
                                  [connection, before](bool success) {
                                      QObject::disconnect(*connection);
                                      g_printingView = nullptr;
                                      if (!success)
                                          RemovePartialOutput(before);
                                  });
            print(&printer);
            break;
        }
        case TPageCommand::PrintPreview: { // never prompts
            if (PrinterBusy())
                return;
            QPrintPreviewDialog dialog(&SharedPrinter(), window());
            dialog.setObjectName(QStringLiteral("dlgPrintPreview"));
            QPointer<TWebView> self = this;
            connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
                    [self, &dialog](QPrinter *printer) {
                        // The preview paints synchronously; the engine prints asynchronously.
                        if (!self || PrinterBusy())
                            return;
                        // The preview's own Print button prints here too, to a file if chosen.
                        if (RefusePrintFile(*printer, &dialog))
                            return;
                        QEventLoop loop;
                        connect(self, &QWebEngineView::printFinished, &loop, &QEventLoop::quit);
                        connect(self, &QObject::destroyed, &loop, &QEventLoop::quit);
                        g_printingView = self.data();
                        self->print(printer);
                        loop.exec();
                        g_printingView = nullptr;
                    });
            TDialogs::Current()->ExecDialog(&dialog);
            break;
        }
        case TPageCommand::PageSetup: {
            if (PrinterBusy())
                return;
            QPageSetupDialog dialog(&SharedPrinter(), window());
            dialog.setObjectName(QStringLiteral("dlgPageSetup"));
            TDialogs::Current()->ExecDialog(&dialog);
            break;
        }
        case TPageCommand::Properties:
            TfrmPageProperties::ShowFor(this, window());
            break;
        case TPageCommand::Cut:
            EditPageOf(this, QWebEnginePage::Cut);
            break;
        case TPageCommand::Copy:
            EditPageOf(this, QWebEnginePage::Copy);
            break;
        case TPageCommand::Paste:
            EditPageOf(this, QWebEnginePage::Paste);
            break;
        case TPageCommand::SelectAll:
            EditPageOf(this, QWebEnginePage::SelectAll);
            break;
        }
    } catch (...) {
    }
}

void TWebView::ExecDocumentCommand(int id)
{
    try {
        if (id == 1)
            TfrmFind::ShowFor(window(), ActivePageOf(this));
        else if (id == 2)
            TfrmSource::ShowFor(this, window());
    } catch (...) {
    }
}

void TWebView::contextMenuEvent(QContextMenuEvent *event)
{
    // Whatever was clicked, the handler decides; without one no menu is shown at all, never the
    // engine's own.
    event->accept();
    try {
        if (std::shared_ptr<TDocHostUIHandler> handler = UIHandler())
            handler->ShowContextMenu(event->globalPos());
    } catch (...) {
    }
}
