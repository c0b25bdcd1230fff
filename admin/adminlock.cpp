// The administrator lock as the main window sees it: Locked while tbGoTo is disabled.
#include "main/mainwindow.h"

#include "admin/adminlogin.h"
#include "admin/changepassword.h"
#include "common/adminloginstore.h"
#include "common/apppaths.h"
#include "common/dialogseam.h"
#include "common/registry.h"
#include "main/browserprofile.h"
#include "main/browsertab.h"
#include "main/webview.h"
#include "ui_mainwindow.h"

#include <QSet>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <memory>

namespace {

// Besides the address bar, a page offers two ways to an address of the user's choosing: a
// URL dropped onto it and a link to a scheme the engine hands to another program. Both are
// shut while Locked (a drop into a text field of the page still inserts its text).
void applyLockToEngine(TfrmQuelvardBrowser *window, bool locked)
{
    QSet<QWebEngineProfile *> profiles{QWebEngineProfile::defaultProfile(),
                                       BrowserProfile::Current()};
    for (TBrowserTab *tab : window->Tabs()) {
        if (tab && tab->WebView)
            profiles.insert(tab->WebView->page()->profile());
    }
    for (QWebEngineProfile *profile : std::as_const(profiles)) {
        QWebEngineSettings *settings = profile->settings();
        settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, !locked);
        settings->setUnknownUrlSchemePolicy(
            locked ? QWebEngineSettings::DisallowUnknownUrlSchemes
                   : QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
    }
}

void setLockButtonCaption(QPushButton *button, const QString &caption)
{
    button->setText(caption);
    button->setAccessibleName(caption);
}

} // namespace

const QString TfrmQuelvardBrowser::NotSetUpMessage =
    QStringLiteral("Quelvard has not been set up on this computer yet, so it stays locked.\n\n"
                   "An administrator sets it up by running:\n\n"
                   "    sudo quelvard-admin set-login");

void TfrmQuelvardBrowser::CheckAdminLoginAtStart()
{
    // Every start is Locked; the engine follows the state the window was designed in.
    try {
        applyLockToEngine(this, !ui->tbGoTo->isEnabled());
    } catch (...) {
    }
    recAdminLogin login;
    try {
        login = GenUtilities::LoadAdminLogin();
    } catch (...) {
        return; // a login that cannot be read is not asked for again here
    }
    if (!login.Password.isEmpty())
        return;
    if (!TRegistry::CanWrite(AppPaths::MachineHiveFile())) {
        // The first-run form could never save here and cannot be closed: tell the user who
        // can set the login instead, and open the window locked.
        TDialogs::Current()->Message(this, NotSetUpMessage, QMessageBox::Information,
                                     QMessageBox::Ok);
        return;
    }
    try {
        // No login yet: it is set before the window first shows, and the window waits.
        std::unique_ptr<TfrmChangePassword> dialog(new TfrmChangePassword(this));
        dialog->ApplyFirstRunForm(TfrmChangePassword::FirstRunCaption);
        TDialogs::Current()->ExecDialog(dialog.get());
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::cbAdminLockClick()
{
    try {
        if (ui->tbGoTo->isEnabled()) {
            ui->tbGoTo->setEnabled(false);
            ui->edtAddress->setEnabled(false);
            setLockButtonCaption(ui->cbAdminLock, QStringLiteral("Admin Unlock"));
            applyLockToEngine(this, true);
        } else if (AskAdminLogin(this)) {
            ui->tbGoTo->setEnabled(true);
            ui->edtAddress->setEnabled(true);
            setLockButtonCaption(ui->cbAdminLock, QStringLiteral("Admin Lock"));
            applyLockToEngine(this, false);
        }
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::ChangeAdminLogin1Click()
{
    try {
        std::unique_ptr<TfrmChangePassword> dialog(new TfrmChangePassword(this));
        TDialogs::Current()->ExecDialog(dialog.get());
    } catch (...) {
    }
}
