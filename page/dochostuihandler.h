#pragma once

#include <QPoint>
#include <QPointer>

class TWebView;

// Decides what a page's context menu is: always the browser's own menu.
class TDocHostUIHandler
{
public:
    QPointer<TWebView> WebView;

    // Shows the web view's popup menu at a point in screen coordinates; always reports the
    // request handled, so the engine's own menu never appears.
    bool ShowContextMenu(const QPoint &screenPos);
};
