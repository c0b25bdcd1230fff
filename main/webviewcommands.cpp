#include "main/webview.h"

void TWebView::ExecWB(int, int) {}
void TWebView::ExecDocumentCommand(int) {}

void TWebView::contextMenuEvent(QContextMenuEvent *)
{
}
