// The web view's page commands and its context menu: ExecWB and the document commands hand the
// page to the window's TPageCommands, one function per command; the menu is the handler's.
#include "common/guard.h"
#include "main/dochostuihandler.h"
#include "main/pagecommands.h"
#include "main/webview.h"

#include <QContextMenuEvent>

void TWebView::SetPageCommands(TPageCommands *commands)
{
    m_pageCommands = commands;
}

void TWebView::ExecWB(TPageCommand command, TCommandOption option)
{
    Guard::Run("ExecWB", [&] {
        TPageCommands *commands = m_pageCommands;
        if (!commands)
            return;
        switch (command) {
        case TPageCommand::SaveAs:
            commands->SaveAs(this);
            break;
        case TPageCommand::Print:
            commands->Print(this, option);
            break;
        case TPageCommand::PrintPreview:
            commands->PrintPreview(this);
            break;
        case TPageCommand::PageSetup:
            commands->PageSetup();
            break;
        case TPageCommand::Properties:
            commands->Properties(this);
            break;
        case TPageCommand::Cut:
            commands->Cut(this);
            break;
        case TPageCommand::Copy:
            commands->Copy(this);
            break;
        case TPageCommand::Paste:
            commands->Paste(this);
            break;
        case TPageCommand::SelectAll:
            commands->SelectAll(this);
            break;
        }
    });
}

void TWebView::ExecDocumentCommand(TDocumentCommand command)
{
    Guard::Run("ExecDocumentCommand", [&] {
        TPageCommands *commands = m_pageCommands;
        if (!commands)
            return;
        switch (command) {
        case TDocumentCommand::Find:
            commands->FindOnPage();
            break;
        case TDocumentCommand::ViewSource:
            commands->ViewSource(this);
            break;
        }
    });
}

void TWebView::contextMenuEvent(QContextMenuEvent *event)
{
    // Whatever was clicked, the handler decides; without one no menu is shown at all, never the
    // engine's own.
    event->accept();
    Guard::Run("contextMenuEvent", [&] {
        if (std::shared_ptr<TDocHostUIHandler> handler = UIHandler())
            handler->ShowContextMenu(event->globalPos());
    });
}
