// Commands of the tool bar, the File, Edit and History menus and the page context menu.
#include "main/mainwindow.h"

#include "main/browsertab.h"
#include "main/webview.h"

void TfrmQuelvardBrowser::Back1Click() {}
void TfrmQuelvardBrowser::Forward1Click() {}
void TfrmQuelvardBrowser::Home1Click() { GoHome(); }
void TfrmQuelvardBrowser::sbRefreshClick() {}
void TfrmQuelvardBrowser::sbStopClick() {}
void TfrmQuelvardBrowser::SaveAs1Click() {}
void TfrmQuelvardBrowser::PageSetup1Click() {}
void TfrmQuelvardBrowser::Print1Click() {}
void TfrmQuelvardBrowser::PrintPreview1Click() {}
void TfrmQuelvardBrowser::PageProperties1Click() {}
void TfrmQuelvardBrowser::ViewSource1Click() {}
void TfrmQuelvardBrowser::Cut1Click() {}
void TfrmQuelvardBrowser::Copy1Click() {}
void TfrmQuelvardBrowser::Paste1Click() {}
void TfrmQuelvardBrowser::SelectAll1Click() {}
void TfrmQuelvardBrowser::Find1Click() {}
void TfrmQuelvardBrowser::tbGoToClick() {}
void TfrmQuelvardBrowser::About1Click() {}

bool TfrmQuelvardBrowser::TranslateAccelerator(QKeyEvent *)
{
    return false;
}
