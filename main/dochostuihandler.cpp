#include "main/dochostuihandler.h"

#include "main/webview.h"

bool TDocHostUIHandler::ShowContextMenu(const QPoint &)
{
    return true;
}
