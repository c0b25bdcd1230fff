// The web view's page commands and its context menu: ExecWB and the document commands hand the
// page to the handlers its window gave it; the menu is the handler's.
#include "common/guard.h"
#include "main/dochostuihandler.h"
#include "main/webview.h"

#include <QContextMenuEvent>

void TWebView::ExecWB(TPageCommand command, TCommandOption option)
{
    Guard::Run("ExecWB", [&] {
        if (m_commandHandler)
            m_commandHandler(this, command, option);
    });
}

void TWebView::ExecDocumentCommand(TDocumentCommand command)
{
    Guard::Run("ExecDocumentCommand", [&] {
        if (m_documentCommandHandler)
            m_documentCommandHandler(this, command);
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
