#include "page/dochostuihandler.h"

#include "common/guard.h"
#include "page/webview.h"

#include <QMenu>

bool TDocHostUIHandler::ShowContextMenu(const QPoint &screenPos)
{
    Guard::Run("ShowContextMenu", [&] {
        if (!WebView)
            return;
        QMenu *menu = WebView->PopupMenu();
        if (!menu)
            return;
        // popup(), not exec(): a nested loop here would run page events, and a page closing its
        // own tab meanwhile would pull the view away under the menu.
        menu->popup(screenPos);
    });
    // Handled in every case, so the engine never falls back to its own menu.
    return true;
}
