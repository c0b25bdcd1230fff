#include "window/mainwindow.h"

#include "ui_mainwindow.h"

#include "admin/adminlock.h"
#include "admin/relock.h"
#include "app/browsersession.h"
#include "app/timeguard.h"
#include "common/categorylists.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/textutils.h"
#include "common/urlfilter.h"
#include "config.h"
#include "downloads/downloadbar.h"
#include "downloads/downloadmanager.h"
#include "favorites/favoritesmenu.h"
#include "kiosk/fullscreen.h"
#include "kiosk/idlereset.h"
#include "kiosk/kioskwindow.h"
#include "page/pagecommands.h"
#include "page/webview.h"
#include "popups/popupbar.h"
#include "popups/popupblocker.h"
#include "popups/popups.h"
#include "tabs/browsertab.h"
#include "tabs/tabcontrol.h"
#include "widgets/dialogseam.h"
#include "window/about.h"
#include "window/addressbar.h"
#include "window/filedialogguard.h"
#include "window/icons.h"
#include "window/inputfilter.h"
#include "window/keyhook.h"
#include "window/windowposition.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineProfile>
#include <QWheelEvent>
#include <QWindow>
#include <functional>
#include <memory>
#include <utility>

TfrmQuelvardBrowser::TfrmQuelvardBrowser(QWidget *parent, TBrowserSession *session)
    : QMainWindow(parent), ui(new Ui::TfrmQuelvardBrowser),
      m_session(session ? session : new TBrowserSession(this))
{
    FileDialogGuard::Install();
    ui->setupUi(this);
    m_position = new TWindowPosition(this);
    pcMain = ui->pcMain;
    m_pageCommands = new TPageCommands(this, [this]() -> TWebView * {
        TBrowserTab *tab = ActiveTab();
        return tab ? tab->WebView.data() : nullptr;
    });
    m_keyHook = new TKeyHook(this, m_pageCommands);
    pcMain->SetTabFactory(
        [this](TTabSheet *sheet, QObject *content) { return makeTab(sheet, content); });
    m_fullScreen = new TFullScreen(this, pcMain);
    setupControls();
    setupMenus();
    setupFeatures();
    connectCommands();
    FormCreate();
}

TfrmQuelvardBrowser::~TfrmQuelvardBrowser()
{
    m_keyHook->Remove();
    // The tabs go first, while the window they report to still stands.
    pcMain->DeleteTabs();
    delete ui;
}

// The tab control's factory. What a tab needs of this window (its menu, its commands, its
// messages' parent) is handed over here; what it asks of the run goes to the session, and what
// the window hears of a tab beyond the control's own signals goes through
// pcMain->ForwardWhileActive, so a tab reaches into the window as little as it can.
TTab *TfrmQuelvardBrowser::makeTab(TTabSheet *sheet, QObject *content)
{
    auto tab = std::make_unique<TBrowserTab>(sheet, pcMain, m_session, pmBrowser, this,
                                             qobject_cast<TWebView *>(content));
    if (!tab->WebView)
        return nullptr;
    tab->SetPageCommands(m_pageCommands);
    m_fullScreen->Watch(tab->WebView);
    return tab.release();
}

void TfrmQuelvardBrowser::setupControls()
{
    QStyle *style = this->style();
    resize(648, 564);
    setWindowIcon(QIcon(QStringLiteral(":/quelvard.svg")));

    ui->tbBack->setIcon(Icons::Themed("go-previous", QStyle::SP_ArrowBack, style));
    ui->tbNext->setIcon(Icons::Themed("go-next", QStyle::SP_ArrowForward, style));
    ui->tbRefresh->setIcon(Icons::Themed("view-refresh", QStyle::SP_BrowserReload, style));
    ui->tbStop->setIcon(Icons::Themed("process-stop", QStyle::SP_BrowserStop, style));
    ui->tbHome->setIcon(QIcon::fromTheme(QStringLiteral("go-home"), Icons::Home()));
    for (QAction *action : ui->tbMain->actions()) {
        action->setToolTip(QString()); // the buttons carry no hints
        if (QWidget *button = ui->tbMain->widgetForAction(action)) {
            button->setFixedSize(32, 32);
            button->setAccessibleName(action->text());
        }
    }
    ui->tbMain->setContentsMargins(0, 0, 0, 0);
    ui->tbMain->layout()->setContentsMargins(0, 0, 0, 0);
    ui->tbMain->layout()->setSpacing(0);

    ui->tbGoTo->setIcon(Icons::Go(font()));
    ui->tbGoTo->setToolTip(QString());
    ui->tbSearch->layout()->setContentsMargins(0, 0, 0, 0);
    if (QWidget *go = ui->tbSearch->widgetForAction(ui->tbGoTo)) {
        go->setFixedSize(43, 26);
        go->setAccessibleName(QStringLiteral("Go"));
    }
    ui->cbAdminLock->setAccessibleName(ui->cbAdminLock->text());

    // The address strip has the colour of the application's work space.
    QPalette searchPalette = ui->pnlSearch->palette();
    searchPalette.setColor(QPalette::Window, searchPalette.color(QPalette::Midlight));
    ui->pnlSearch->setPalette(searchPalette);
    ui->pnlAddress->installEventFilter(this);

    m_popupBar = new TPopupBar(ui->pnlPopups, ui->lblPopups, ui->lblClickHere, ui->Panel11,
                               ui->Panel1, this);
    m_popupBlocker = m_session->PopupBlocker();
    m_popupBlocker->Attach(m_popupBar, [this] {
        return TPopupBlocker::TActivePage{ActiveTab(), ActiveTab() ? CurrentURL() : QString()};
    });
    connect(m_popupBlocker, &TPopupBlocker::ReloadActivePage, this, [this] { sbRefreshClick(); });
    connect(m_popupBar, &TPopupBar::ClickHere, this, [this] { lblClickHereClick(); });
    // The close button rides on the tab strip, which the bar pushes down as it opens.
    connect(m_popupBar, &TPopupBar::HeightChanged, this, [this] {
        if (tbCloseTab && !tbCloseTab->isHidden())
            PlaceCloseTabButton();
    });
    // "Click Here" takes its own keys; none of them is an accelerator of the page.
    m_keyHook->KeepOut(ui->lblClickHere);

    // Floating close button at the right end of the tab row.
    tbCloseTab = new QToolBar(this);
    tbCloseTab->setObjectName(QStringLiteral("tbCloseTab"));
    tbCloseTab->setMovable(false);
    tbCloseTab->setFloatable(false);
    tbCloseTab->setIconSize(QSize(16, 16));
    tbCloseTab->layout()->setContentsMargins(0, 0, 0, 0);
    tbCloseTab->setStyleSheet(
        QStringLiteral("QToolBar { border: none; background: transparent; }"));
    tbClose = tbCloseTab->addAction(Icons::CloseTab(), QStringLiteral("Close Tab"));
    tbClose->setObjectName(QStringLiteral("tbClose"));
    if (QWidget *button = tbCloseTab->widgetForAction(tbClose)) {
        button->setFixedSize(25, 22);
        button->setAccessibleName(QStringLiteral("Close Tab"));
    }
    tbCloseTab->setFixedSize(25, 22);
    tbCloseTab->hide();
    pcMain->SetCloseButton(tbCloseTab);

    ui->statusMain->setSizeGripEnabled(true);
    auto *statusPanel = new QLabel(ui->statusMain);
    statusPanel->setObjectName(QStringLiteral("statusPanel0"));
    statusPanel->setFixedWidth(50);
    ui->statusMain->addWidget(statusPanel);
}

void TfrmQuelvardBrowser::setupMenus()
{
    // Items named N<number> are the design's separators.
    static const QRegularExpression separatorName(QStringLiteral("^N\\d+$"));
    for (QAction *action : findChildren<QAction *>()) {
        if (separatorName.match(action->objectName()).hasMatch())
            action->setSeparator(true);
    }

    pmBrowser = new QMenu(this);
    pmBrowser->setObjectName(QStringLiteral("pmBrowser"));
    auto add = [this](const char *name, const char *caption) {
        QAction *action = pmBrowser->addAction(QString::fromUtf8(caption));
        action->setObjectName(QLatin1String(name));
        return action;
    };
    auto separator = [this](const char *name) {
        QAction *action = pmBrowser->addSeparator();
        action->setObjectName(QLatin1String(name));
    };
    add("Back2", "&Back");
    add("Forward2", "&Forward");
    add("Reload1", "&Reload");
    add("Stop1", "&Stop");
    separator("N11");
    add("SaveAs2", "&Save As");
    separator("N8");
    add("AddToFavorites2", "&Add To Favorites");
    separator("N10");
    add("PageProperties2", "&Page Properties");
    add("ViewSource2", "&View Source");
}

void TfrmQuelvardBrowser::connectCommands()
{
    auto on = [this](QAction *action, void (TfrmQuelvardBrowser::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    auto onMenu = [this, &on](const char *name, void (TfrmQuelvardBrowser::*handler)()) {
        if (QAction *action = pmBrowser->findChild<QAction *>(QLatin1String(name)))
            on(action, handler);
        else if (QAction *menuAction = findChild<QAction *>(QLatin1String(name)))
            on(menuAction, handler);
    };

    on(ui->tbBack, &TfrmQuelvardBrowser::Back1Click);
    on(ui->tbNext, &TfrmQuelvardBrowser::Forward1Click);
    on(ui->tbRefresh, &TfrmQuelvardBrowser::sbRefreshClick);
    on(ui->tbStop, &TfrmQuelvardBrowser::sbStopClick);
    on(ui->tbHome, &TfrmQuelvardBrowser::Home1Click);
    connect(ui->cbAdminLock, &QPushButton::clicked, this, [this] { cbAdminLockClick(); });
    on(tbClose, &TfrmQuelvardBrowser::CloseTab1Click);

    on(ui->NewTab1, &TfrmQuelvardBrowser::NewTab1Click);
    on(ui->CloseTab1, &TfrmQuelvardBrowser::CloseTab1Click);
    on(ui->SaveAs1, &TfrmQuelvardBrowser::SaveAs1Click);
    on(ui->PageSetup1, &TfrmQuelvardBrowser::PageSetup1Click);
    on(ui->Print1, &TfrmQuelvardBrowser::Print1Click);
    on(ui->PrintPreview1, &TfrmQuelvardBrowser::PrintPreview1Click);
    on(ui->PageProperties1, &TfrmQuelvardBrowser::PageProperties1Click);
    on(ui->ViewSource1, &TfrmQuelvardBrowser::ViewSource1Click);
    on(ui->Exit1, &TfrmQuelvardBrowser::Exit1Click);
    on(ui->ChangeAdminLogin1, &TfrmQuelvardBrowser::ChangeAdminLogin1Click);
    on(ui->Cut1, &TfrmQuelvardBrowser::Cut1Click);
    on(ui->Copy1, &TfrmQuelvardBrowser::Copy1Click);
    on(ui->Paste1, &TfrmQuelvardBrowser::Paste1Click);
    on(ui->SelectAll1, &TfrmQuelvardBrowser::SelectAll1Click);
    on(ui->Find1, &TfrmQuelvardBrowser::Find1Click);
    on(ui->PopupBlocker1, &TfrmQuelvardBrowser::PopupBlocker1Click);
    on(ui->Back1, &TfrmQuelvardBrowser::Back1Click);
    on(ui->Forward1, &TfrmQuelvardBrowser::Forward1Click);
    on(ui->Home1, &TfrmQuelvardBrowser::Home1Click);
    on(ui->AddToFavorites1, &TfrmQuelvardBrowser::AddToFavorites1Click);
    on(ui->OrganizeFavorites1, &TfrmQuelvardBrowser::OrganizeFavorites1Click);
    on(ui->About1, &TfrmQuelvardBrowser::About1Click);
    connect(ui->Favorites1, &QMenu::aboutToShow, this, [this] { Favorites1Click(); });

    onMenu("Back2", &TfrmQuelvardBrowser::Back1Click);
    onMenu("Forward2", &TfrmQuelvardBrowser::Forward1Click);
    onMenu("Reload1", &TfrmQuelvardBrowser::sbRefreshClick);
    onMenu("Stop1", &TfrmQuelvardBrowser::sbStopClick);
    onMenu("SaveAs2", &TfrmQuelvardBrowser::SaveAs1Click);
    onMenu("AddToFavorites2", &TfrmQuelvardBrowser::AddToFavorites1Click);
    onMenu("PageProperties2", &TfrmQuelvardBrowser::PageProperties1Click);
    onMenu("ViewSource2", &TfrmQuelvardBrowser::ViewSource1Click);

    connect(pcMain, &TTabControl::Resized, this, [this] { pcMainResize(); });
    connect(pcMain, &TTabControl::TabChangedByUser, this, [this] { pcMainChange(); });
    // Whichever tab completed, the window describes the active one.
    connect(pcMain, &TTabControl::TabNavigateComplete, this, [this] {
        UpdatePopupBar();
        UpdateCaptionAndAddress();
    });
    connect(pcMain, &TTabControl::ActiveTabReplaced, this, [this] {
        UpdateCaptionAndAddress();
        UpdatePopupBar();
    });
    connect(pcMain, &TTabControl::PrintRequested, this, [this] { Print1Click(); });
}

// ---- Administrator lock and favorites -----------------------------------------------------

void TfrmQuelvardBrowser::setupFeatures()
{
    // The lock's engine settings go to every profile of the run, an earlier visitor's too.
    m_adminLock = new TAdminLock(this, m_session->ProfileSource());
    m_addressBar = new TAddressBar(ui->edtAddress, ui->tbGoTo, ui->cbAdminLock, m_adminLock, this);
    connect(m_addressBar, &TAddressBar::NavigateRequested, this, [this](const QString &address) {
        Guard::Run("tbGoToClick", [&] {
            if (TBrowserTab *tab = ActiveTab())
                tab->NavigateTo(address);
        });
    });

    // Downloads: the bar at the window's foot lists what the session's manager saves or refuses.
    auto *downloadBar = new TDownloadBar(ui->centralwidget);
    ui->centralLayout->addWidget(downloadBar);
    downloadBar->Follow(m_session->Downloads());

    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    m_idleReset =
        new TIdleReset(this, {m_session, ui->centralLayout, pcMain, m_adminLock, m_popupBar},
                       policies.IdleResetMinutes);
    if (TTimeGuard *timeGuard = m_session->TimeGuard())
        timeGuard->Attach(ui->centralLayout, m_adminLock);
    connect(m_session, &TBrowserSession::TimeGuardMade, this,
            [this](TTimeGuard *guard) { guard->Attach(ui->centralLayout, m_adminLock); });
    connect(m_session, &TBrowserSession::MachineSettingsChanged, this, [this] {
        const MachinePolicies::recMachinePolicies &now = MachinePolicies::Current();
        m_idleReset->SetMinutes(now.IdleResetMinutes);
        m_adminLock->Relock()->SetMinutes(now.RelockMinutes);
        followUserChanges();
        followRemovedCommands();
    });
    if (policies.window == MachinePolicies::Window::FullScreen)
        m_kioskWindow = new TKioskWindow(this, m_adminLock);

    m_favoritesMenu = new TFavoritesMenu(
        ui->Favorites1, Icons::Themed("folder", QStyle::SP_DirIcon, style()), this);
    connect(m_favoritesMenu, &TFavoritesMenu::FavoriteChosen, this, [this](const QString &url) {
        if (TBrowserTab *tab = ActiveTab())
            tab->NavigateTo(url);
    });

    followUserChanges();
    followRemovedCommands();
}

void TfrmQuelvardBrowser::followRemovedCommands()
{
    // Hidden wherever they show; their handlers refuse as well, for a key or a page that asks.
    const MachinePolicies::recMachinePolicies &policies = MachinePolicies::Current();
    const auto show = [this](const char *name, bool shown) {
        for (QAction *action : findChildren<QAction *>(QLatin1String(name)))
            action->setVisible(shown);
    };
    const bool save = !policies.Removed(QStringLiteral("save"));
    const bool print = !policies.Removed(QStringLiteral("print"));
    const bool source = !policies.Removed(QStringLiteral("view-source"));
    show("SaveAs1", save);
    show("SaveAs2", save);
    show("N8", save);
    for (const char *name : {"Print1", "PrintPreview1", "PageSetup1"})
        show(name, print);
    show("ViewSource1", source);
    show("ViewSource2", source);
    show("Exit1", !policies.Removed(QStringLiteral("exit")));
    show("NewTab1", !policies.Removed(QStringLiteral("new-tab")));
    const bool admin = !policies.Removed(QStringLiteral("admin-menu"));
    show("ChangeAdminLogin1", admin);
    ui->Admin1->menuAction()->setVisible(admin);
}

void TfrmQuelvardBrowser::followUserChanges()
{
    // A shared account whose administrator keeps the user's lists as they are: the commands
    // that change them stay in view, disabled, and refuse in their own code as well.
    const bool allowed = MachinePolicies::Current().UserChangesAllowed();
    ui->AddToFavorites1->setEnabled(allowed);
    ui->OrganizeFavorites1->setEnabled(allowed);
    if (auto *item = pmBrowser->findChild<QAction *>(QStringLiteral("AddToFavorites2")))
        item->setEnabled(allowed);
    ui->lblClickHere->setEnabled(allowed);
}

void TfrmQuelvardBrowser::CheckAdminLoginAtStart()
{
    m_adminLock->CheckLoginAtStart();
}

void TfrmQuelvardBrowser::cbAdminLockClick()
{
    Guard::Run("cbAdminLockClick", [this] {
        if (m_adminLock->IsLocked())
            m_adminLock->TryUnlock();
        else
            m_adminLock->Lock();
    });
}

void TfrmQuelvardBrowser::ChangeAdminLogin1Click()
{
    if (MachinePolicies::Current().Removed(QStringLiteral("admin-menu")))
        return;
    Guard::Run("ChangeAdminLogin1Click", [this] { m_adminLock->ChangeLogin(); });
}

void TfrmQuelvardBrowser::Favorites1Click()
{
    Guard::Run("Favorites1Click", [this] { m_favoritesMenu->Rebuild(); });
}

void TfrmQuelvardBrowser::AddToFavorites1Click()
{
    Guard::Run("AddToFavorites1Click",
               [this] { m_favoritesMenu->AddFavorite(CurrentURL(), CurrentTitle()); });
}

void TfrmQuelvardBrowser::OrganizeFavorites1Click()
{
    Guard::Run("OrganizeFavorites1Click", [this] { m_favoritesMenu->Organize(); });
}

// ---- Start-up and the window's life -------------------------------------------------------

void TfrmQuelvardBrowser::FormCreate()
{
    Guard::Run("FormCreate", [this] { LoadAllowedSites(); });
    Guard::Run("FormCreate", [this] {
        // Said once, at start: lists that should decide cannot, so nothing but our pages opens.
        if (!m_session->AddressFilter().RefusesAll().isEmpty())
            TDialogs::Current()->Message(this, CategoryLists::UnusableMessage(),
                                         QMessageBox::Warning, QMessageBox::Ok);
    });
    Guard::Run("FormCreate", [this] { CheckAdminLoginAtStart(); });
}

void TfrmQuelvardBrowser::setVisible(bool visible)
{
    // The stored position is applied before the native window exists: a window manager frames
    // a window it is given already placed where asked and says where the client ended up,
    // while one moved as it is being shown can be framed elsewhere without a word.
    if (visible && !m_positionLoaded) {
        m_positionLoaded = true;
        if (!m_kioskWindow) // a kiosk fills the screen, wherever the window last stood
            LoadWindowPosition();
    }
    QMainWindow::setVisible(visible);
}

void TfrmQuelvardBrowser::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TfrmQuelvardBrowser::FormShow()
{
    Guard::Run("FormShow", [this] {
        // LoadWindowPosition ran just before (setVisible); its size waits for the frame.
        m_position->WaitForFrame();
        pcMain->NewTab(TTabControl::TOpen::Home);
        const QString position = GenUtilities::GetPosition();
        auto *first = qobject_cast<TBrowserTab *>(pcMain->Tabs().value(0));
        // A machine the administrator has set up has no one to welcome.
        // A kiosk stores no position, so it would be welcomed at every start.
        if (position.isEmpty() && first && MachinePolicies::Current().HomePage.isEmpty() &&
            !m_kioskWindow) {
            if (GenUtilities::CompanionSettingsExist())
                first->NavigateTo(QStringLiteral(QUELVARD_COMPANION_FIRST_RUN_PAGE_URL));
            else
                first->NavigateTo(QStringLiteral(QUELVARD_FIRST_RUN_PAGE_URL));
        }
    });
}

void TfrmQuelvardBrowser::LoadWindowPosition()
{
    m_position->Load();
}

QString TfrmQuelvardBrowser::PositionText(int left, int top, int width, int height)
{
    return TWindowPosition::PositionText(left, top, width, height);
}

void TfrmQuelvardBrowser::FormClose()
{
    Guard::Run("FormClose", [this] {
        if (!m_kioskWindow) // the screen's size is no position to come back to
            m_position->Save();
    });
    m_keyHook->Remove();
}

void TfrmQuelvardBrowser::closeEvent(QCloseEvent *event)
{
    if (!m_exiting)
        FormClose();
    event->accept();
}

void TfrmQuelvardBrowser::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfrmQuelvardBrowser::FormResize()
{
    Guard::Run("FormResize", [this] {
        pcMain->PlaceCloseButton();
        layoutAddressPanel();
    });
}

void TfrmQuelvardBrowser::layoutAddressPanel()
{
    QWidget *panel = ui->pnlAddress;
    const int w = panel->width();
    ui->Panel3->setGeometry(0, 0, w, 4);
    ui->edtAddress->resize(qMax(0, w - 205), 21);
    ui->Panel8->setGeometry(w - 102, 4, 102, panel->height() - 4);
    ui->tbSearch->setGeometry(w - 102 - 43, 4, 43, 26);
}

void TfrmQuelvardBrowser::PlaceCloseTabButton()
{
    pcMain->PlaceCloseButton();
}

void TfrmQuelvardBrowser::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            FormActivate();
        else
            FormDeactivate();
    }
}

void TfrmQuelvardBrowser::FormActivate()
{
    m_keyHook->Install();
}

void TfrmQuelvardBrowser::FormDeactivate()
{
    m_keyHook->Remove();
}

bool TfrmQuelvardBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->pnlAddress && event->type() == QEvent::Resize) {
        layoutAddressPanel();
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Tab strip: the lookups every command uses, and the tab control's handlers ---------------

TBrowserTab *TfrmQuelvardBrowser::ActiveTab() const
{
    return qobject_cast<TBrowserTab *>(pcMain->ActiveTab());
}

QString TfrmQuelvardBrowser::CurrentURL() const
{
    TBrowserTab *tab = ActiveTab();
    if (!tab || !tab->WebView)
        return QString();
    return TextUtils::Trim(tab->WebView->LocationURL());
}

QString TfrmQuelvardBrowser::CurrentTitle() const
{
    TBrowserTab *tab = ActiveTab();
    if (!tab || !tab->WebView)
        return QString();
    return TextUtils::Trim(tab->WebView->LocationName());
}

void TfrmQuelvardBrowser::GoHome()
{
    Guard::Run("GoHome", [this] {
        if (TBrowserTab *tab = ActiveTab())
            tab->GoHome();
    });
}

void TfrmQuelvardBrowser::UpdateCaptionAndAddress()
{
    Guard::Run("UpdateCaptionAndAddress", [this] {
        setWindowTitle(QStringLiteral("Quelvard - ") + CurrentTitle());
        m_addressBar->ShowAddress(CurrentURL());
    });
}

void TfrmQuelvardBrowser::pcMainResize()
{
    pcMain->FitTabs();
}

void TfrmQuelvardBrowser::pcMainChange()
{
    Guard::Run("pcMainChange", [this] {
        UpdateCaptionAndAddress();
        UpdatePopupBar();
        emit ActiveTabChanged();
    });
}

void TfrmQuelvardBrowser::NewTab1Click()
{
    if (MachinePolicies::Current().Removed(QStringLiteral("new-tab")))
        return;
    pcMain->NewTab(TTabControl::TOpen::Home);
}

void TfrmQuelvardBrowser::CloseTab1Click()
{
    pcMain->CloseActiveTab();
}

// ---- Navigation and page commands ---------------------------------------------------------

// Each runs on the active tab's page, and does nothing without one.
using TCommand = TPageCommands::TCommand;

void TfrmQuelvardBrowser::Back1Click()
{
    m_pageCommands->Action(TCommand::Back)->trigger();
}

void TfrmQuelvardBrowser::Forward1Click()
{
    m_pageCommands->Action(TCommand::Forward)->trigger();
}

void TfrmQuelvardBrowser::Home1Click()
{
    GoHome();
}

void TfrmQuelvardBrowser::sbRefreshClick()
{
    m_pageCommands->Action(TCommand::Refresh)->trigger();
}

void TfrmQuelvardBrowser::sbStopClick()
{
    m_pageCommands->Action(TCommand::Stop)->trigger();
}

void TfrmQuelvardBrowser::SaveAs1Click()
{
    m_pageCommands->Action(TCommand::SaveAs)->trigger();
}

void TfrmQuelvardBrowser::PageSetup1Click()
{
    m_pageCommands->Action(TCommand::PageSetup)->trigger();
}

void TfrmQuelvardBrowser::Print1Click()
{
    m_pageCommands->Action(TCommand::Print)->trigger();
}

void TfrmQuelvardBrowser::PrintPreview1Click()
{
    m_pageCommands->Action(TCommand::PrintPreview)->trigger();
}

void TfrmQuelvardBrowser::PageProperties1Click()
{
    m_pageCommands->Action(TCommand::Properties)->trigger();
}

void TfrmQuelvardBrowser::ViewSource1Click()
{
    m_pageCommands->Action(TCommand::ViewSource)->trigger();
}

void TfrmQuelvardBrowser::Cut1Click()
{
    m_pageCommands->Action(TCommand::Cut)->trigger();
}

void TfrmQuelvardBrowser::Copy1Click()
{
    m_pageCommands->Action(TCommand::Copy)->trigger();
}

void TfrmQuelvardBrowser::Paste1Click()
{
    m_pageCommands->Action(TCommand::Paste)->trigger();
}

void TfrmQuelvardBrowser::SelectAll1Click()
{
    m_pageCommands->Action(TCommand::SelectAll)->trigger();
}

void TfrmQuelvardBrowser::Find1Click()
{
    m_pageCommands->Action(TCommand::Find)->trigger();
}

void TfrmQuelvardBrowser::tbGoToClick()
{
    m_addressBar->Go();
}

void TfrmQuelvardBrowser::About1Click()
{
    Guard::Run("About1Click", [this] {
        TfrmAbout dialog(this);
        TDialogs::Current()->ExecDialog(&dialog);
    });
}

void TfrmQuelvardBrowser::Exit1Click()
{
    if (MachinePolicies::Current().Removed(QStringLiteral("exit")))
        return;
    // Ends the program without the close path, so the position is not saved.
    m_exiting = true;
    m_keyHook->Remove();
    QCoreApplication::exit(0);
}

// ---- Popup blocker ------------------------------------------------------------------------

const QStringList &TfrmQuelvardBrowser::AllowedSites() const
{
    return m_popupBlocker->AllowedSites();
}

void TfrmQuelvardBrowser::LoadAllowedSites()
{
    m_popupBlocker->LoadAllowedSites();
}

void TfrmQuelvardBrowser::UpdatePopupBar()
{
    Guard::Run("UpdatePopupBar", [this] { m_popupBlocker->UpdatePopupBar(); });
}

void TfrmQuelvardBrowser::lblClickHereClick()
{
    Guard::Run("lblClickHereClick", [this] { m_popupBlocker->ClickHere(); });
}

void TfrmQuelvardBrowser::PopupBlocker1Click()
{
    Guard::Run("PopupBlocker1Click", [this] {
        TfrmPopups dialog(this);
        TDialogs::Current()->ExecDialog(&dialog);
    });
    LoadAllowedSites();
}
