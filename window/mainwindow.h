#pragma once

#include "tabs/tabcontrol.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>

class QMenu;
class QAction;
class QToolBar;
class QTimer;
class TAddressBar;
class TAdminLock;
class TBrowserSession;
class TBrowserTab;
class TFavoritesMenu;
class TFullScreen;
class TIdleReset;
class TKeyHook;
class TKioskWindow;
class TPageCommands;
class TPopupBar;
class TPopupBlocker;
class TTabSheet;
class TTabControl;
class TWebView;
class TWindowPosition;

namespace Ui {
class TfrmQuelvardBrowser;
}

// The main window: its set-up and life. Handlers keep the names the browser's design gives
// them and call into the features the window owns: the tabs (pcMain, a TTabControl), the page
// commands (TPageCommands), the key hook (TKeyHook), the administrator lock (TAdminLock) and the
// address bar that follows it (TAddressBar), the Favorites menu (TFavoritesMenu) and the popup
// notice bar (TPopupBar).
class TfrmQuelvardBrowser : public QMainWindow
{
    Q_OBJECT

public:
    // The window of `session`'s run; without one it makes a run of its own.
    explicit TfrmQuelvardBrowser(QWidget *parent = nullptr, TBrowserSession *session = nullptr);
    ~TfrmQuelvardBrowser() override;

    // Controls made in code; the form's own are reached by their design names (objectName).
    TTabControl *pcMain = nullptr;
    QToolBar *tbCloseTab = nullptr;
    QAction *tbClose = nullptr;
    QMenu *pmBrowser = nullptr;

    // The tabs are pcMain's; these describe the active one, as the window's own tab.
    TBrowserTab *ActiveTab() const;
    QString CurrentURL() const;
    QString CurrentTitle() const;
    void GoHome();
    void UpdateCaptionAndAddress();

    // Start-up and the window's life.
    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormDeactivate();
    void FormResize();
    void FormClose();
    void LoadWindowPosition();
    // The four numbers stored on close, with the parts above or left of 0 dropped.
    static QString PositionText(int left, int top, int width, int height);

    // The application-wide message hook, in force while the window is active.
    TKeyHook *KeyHook() const { return m_keyHook; }

    // Navigation and page commands: each acts on the active tab and does nothing without one.
    void Back1Click();
    void Forward1Click();
    void Home1Click();
    void sbRefreshClick();
    void sbStopClick();
    void SaveAs1Click();
    void PageSetup1Click();
    void Print1Click();
    void PrintPreview1Click();
    void PageProperties1Click();
    void ViewSource1Click();
    void Cut1Click();
    void Copy1Click();
    void Paste1Click();
    void SelectAll1Click();
    void Find1Click();
    void tbGoToClick();
    void Exit1Click();
    void About1Click();
    void NewTab1Click();
    void CloseTab1Click();

    // Administrator lock (admin/adminlock.h).
    TAdminLock *AdminLock() const { return m_adminLock; }
    void CheckAdminLoginAtStart();
    void cbAdminLockClick();
    void ChangeAdminLogin1Click();

    // Popup blocker (popups/popupblocker.h), which drives the notice bar (popups/popupbar.h).
    TPopupBlocker *PopupBlocker() const { return m_popupBlocker; }
    const QStringList &AllowedSites() const;
    void LoadAllowedSites();
    void UpdatePopupBar();
    void lblClickHereClick();
    void PopupBlocker1Click();

    // Favorites (favorites/favoritesmenu.h).
    void Favorites1Click();
    void AddToFavorites1Click();
    void OrganizeFavorites1Click();

    // The reset after a quiet spell (main/idlereset.h).
    TIdleReset *IdleReset() const { return m_idleReset; }

    // True once File, Exit has asked the program to end: the window then closes unsaved.
    bool Exiting() const { return m_exiting; }

signals:
    // Raised when the active tab changes by the user's choice (after the refresh).
    void ActiveTabChanged();

public:
    // Applies the stored position on the first showing, before the native window exists.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The form: only the window reads it; features are handed the widgets they need.
    Ui::TfrmQuelvardBrowser *ui = nullptr;
    void setupControls();
    void setupMenus();
    void setupFeatures();
    void followUserChanges();
    void followRemovedCommands();
    void connectCommands();
    TTab *makeTab(TTabSheet *sheet, QObject *content);
    void pcMainResize();
    void pcMainChange();
    void layoutAddressPanel();

    bool m_shown = false;
    bool m_positionLoaded = false;
    bool m_exiting = false;
    TKeyHook *m_keyHook = nullptr;
    TPageCommands *m_pageCommands = nullptr;
    TAdminLock *m_adminLock = nullptr;
    TAddressBar *m_addressBar = nullptr;
    TFavoritesMenu *m_favoritesMenu = nullptr;
    TFullScreen *m_fullScreen = nullptr;
    TIdleReset *m_idleReset = nullptr;
    // A kiosk's full screen (kiosk/kioskwindow.h), when the machine asks for it.
    TKioskWindow *m_kioskWindow = nullptr;
    TWindowPosition *m_position = nullptr;
    TPopupBar *m_popupBar = nullptr;
    TBrowserSession *m_session;
    TPopupBlocker *m_popupBlocker = nullptr;

public:
    // Position of the close-tab button relative to pcMain's top, kept while the bar moves.
    void PlaceCloseTabButton();
};
