#include "support/browserfixture.h"

#include "admin/adminlock.h"
#include "admin/adminlogin.h"
#include "common/adminloginstore.h"
#include "common/genutilities.h"
#include "config.h"
#include "page/webview.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "tabs/browsertab.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace TestPages {

TWebView *Browser::view() const
{
    TBrowserTab *tab = window.ActiveTab();
    return tab ? tab->WebView.data() : nullptr;
}

bool Browser::load(const QUrl &url)
{
    return loadInTab(window.ActiveTab(), url);
}

bool Browser::unlock(ScriptedDialogs &dialogs)
{
    const QString password = QStringLiteral("Secret12");
    if (!GenUtilities::SaveAdminLogin({password, QStringLiteral("Pet?"), QStringLiteral("Rex"),
                                       QStringLiteral("Town?"), QStringLiteral("Oslo")}))
        return false;
    dialogs.dialogHandler = [password](QDialog *dialog) {
        auto *login = qobject_cast<TfrmAdminLogin *>(dialog);
        if (!login)
            return int(QDialog::Rejected);
        login->edtPassword->setText(password);
        login->cbLogin->click();
        return login->result();
    };
    TestSupport::Control<QPushButton>(&window, "cbAdminLock")->click();
    dialogs.dialogHandler = nullptr;
    return !window.AdminLock()->IsLocked();
}

std::unique_ptr<Browser> Browser::open(ScriptedDialogs &dialogs)
{
    GenUtilities::SavePosition(QStringLiteral("10,20,900,700"));
    auto browser = std::make_unique<Browser>();
    browser->window.show();
    browser->window.activateWindow();
    if (!QTest::qWaitForWindowActive(&browser->window))
        return nullptr;
    if (!waitForUrl(browser->window, QUrl(QStringLiteral(QUELVARD_START_PAGE_URL))))
        return nullptr;
    dialogs.dialogsRun.clear();
    dialogs.messages.clear();
    return browser;
}

} // namespace TestPages
