// The administrator lock as the main window sees it.
#include "main/mainwindow.h"

void TfrmQuelvardBrowser::CheckAdminLoginAtStart() {}
void TfrmQuelvardBrowser::cbAdminLockClick() {}
void TfrmQuelvardBrowser::ChangeAdminLogin1Click() {}
