// The popup blocker as the main window and the tabs see it.
#include "main/browsertab.h"
#include "main/mainwindow.h"

void TfrmQuelvardBrowser::LoadAllowedSites() {}
void TfrmQuelvardBrowser::UpdatePopupBar() {}
void TfrmQuelvardBrowser::lblClickHereClick() {}
void TfrmQuelvardBrowser::PopupBlocker1Click() {}

bool TBrowserTab::IsPopupAllowed(const QString &)
{
    return false;
}

void TBrowserTab::HandleNewWindow(bool *) {}
