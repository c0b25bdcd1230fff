// The Favorites menu and the favorites commands of the main window.
#include "main/browsertab.h"
#include "main/mainwindow.h"

void TfrmQuelvardBrowser::Favorites1Click() {}
void TfrmQuelvardBrowser::AddToFavorites1Click() {}
void TfrmQuelvardBrowser::OrganizeFavorites1Click() {}

void TBrowserTab::OpenFavorite(const QString &) {}
