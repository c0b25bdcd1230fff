#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QKeyEvent;
class QWheelEvent;
class QLabel;
class QMenu;
class QAction;
class QToolBar;
class QTimer;
class TAdminLock;
class TBrowserTab;
class TPopupBar;
class TFavoritesMenu;
class TTabSheet;
class TTabControl;
class TWebView;

namespace Ui {
class TfrmQuelvardBrowser;
}

// The main window. Handlers keep the names the browser's design gives them; the administrator
// lock and the Favorites menu are objects the window owns, and its handlers for them call into
// them. The popup blocker's handlers live beside it (popups/) and the page commands in
// pagecommands.cpp, so each feature can be read in one place.
class TfrmQuelvardBrowser : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmQuelvardBrowser(QWidget *parent = nullptr);
    ~TfrmQuelvardBrowser() override;

    // Fields.
    QStringList AllowedSites;
    QVector<TBrowserTab *> Tabs;

    // The form's controls, reachable by their design names.
    Ui::TfrmQuelvardBrowser *ui = nullptr;
    TTabControl *pcMain = nullptr;
    QToolBar *tbCloseTab = nullptr;
    QAction *tbClose = nullptr;
    QLabel *lblTabCanvas = nullptr;
    QMenu *pmBrowser = nullptr;
    QLabel *imgFavFolder = nullptr;

    // Tab strip.
    int TabCount() const;
    int ActiveTabIndex() const;
    TBrowserTab *ActiveTab() const;
    QString CurrentURL() const;
    QString CurrentTitle() const;
    void NewTab();
    void CloseActiveTab();
    void ResizeTabs();
    void GoHome();
    void UpdateCaptionAndAddress();
    // Common tab width of pcMain.
    int TabWidth() const;
    void SetTabWidth(int width);
    // The width rule on its own: Available = control width - 75, N tabs.
    static int ComputeTabWidth(int available, int tabCount, int currentWidth);
    // Opens a tab for a window that a page asked for, without sending it home.
    TBrowserTab *NewTabForWindow(bool background);
    // Closes the tab of a page whose script asked to close its window, unless it is the last.
    void CloseTabOf(TBrowserTab *tab);

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

    // The message hook: offers keys to the active page's accelerators, and turns Ctrl and the
    // wheel over the page into zoom steps, while we are active.
    bool AppMessageHook(QObject *target, QEvent *event);
    static bool IsExcludedFromAccelerators(int key, Qt::KeyboardModifiers modifiers);
    bool HookInstalled() const { return m_hookInstalled; }
    // Gives a key to the active page's commands; true when one took it.
    bool TranslateAccelerator(QKeyEvent *event);
    // One zoom step of the active page: in (direction > 0), out (< 0) or back to 100% (0).
    void ZoomActivePage(int direction);

    // Navigation and page commands (pagecommands.cpp).
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

    // Popup blocker: the notice bar is a TPopupBar (popups/popupbar.h) the window owns.
    void LoadAllowedSites();
    void UpdatePopupBar();
    void lblClickHereClick();
    void PopupBlocker1Click();

    // Favorites (favorites/favoritesmenu.h).
    void Favorites1Click();
    void AddToFavorites1Click();
    void OrganizeFavorites1Click();

    // True once File, Exit has asked the program to end: the window then closes unsaved.
    bool Exiting() const { return m_exiting; }

signals:
    // A key offered to the active page's accelerators (what the hook let through).
    void AcceleratorOffered(int key, Qt::KeyboardModifiers modifiers);
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
    void setupControls();
    void setupMenus();
    void setupFeatures();
    void connectCommands();
    // The address bar and Go follow the administrator lock.
    void adminLockChanged(bool locked);
    void pcMainResize();
    void pcMainChange();
    void layoutAddressPanel();
    void selectPageByProgram(int pageIndex);
    void installHook();
    void removeHook();
    bool zoomByWheel(bool overPage, QWheelEvent *event);
    void waitForFrame();
    void applyPendingFrame();
    void stopWaitingForFrame();
    // Gives a new tab the popup decision and hears its refusals.
    void connectPopupBlocker(TBrowserTab *tab);

    bool m_shown = false;
    bool m_positionLoaded = false;
    bool m_exiting = false;
    bool m_hookInstalled = false;
    bool m_programTabChange = false;
    TAdminLock *m_adminLock = nullptr;
    TFavoritesMenu *m_favoritesMenu = nullptr;
    // Wheel turn with Ctrl held not yet amounting to a zoom step (fine-grained wheels and pads).
    int m_wheelZoomDelta = 0;
    // The stored outer size, until the window manager's frame is known and it can be applied.
    QSize m_pendingOuterSize;
    QObject *m_frameWatch = nullptr;
    TPopupBar *m_popupBar = nullptr;
    static constexpr int FrameWaitLimitMs = 10000;

public:
    // Position of the close-tab button relative to pcMain's top, kept while the bar moves.
    void PlaceCloseTabButton();
};
