#include "tabs/tabcontrol.h"

#include "common/guard.h"
#include "common/textutils.h"
#include "widgets/plaintooltip.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QTimer>
#include <cmath>

namespace {

// Nearest integer, an exact half going to the even neighbour.
int RoundHalfEven(double value)
{
    const double floorValue = std::floor(value);
    const double diff = value - floorValue;
    if (diff > 0.5)
        return int(floorValue) + 1;
    if (diff < 0.5)
        return int(floorValue);
    const int lower = int(floorValue);
    return (lower % 2 == 0) ? lower : lower + 1;
}

} // namespace

TTabBar::TTabBar(QWidget *parent) : QTabBar(parent)
{
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    setElideMode(Qt::ElideNone);
    setExpanding(false);
    setDrawBase(true);
}

void TTabBar::SetTabWidth(int width)
{
    if (width == m_tabWidth)
        return;
    m_tabWidth = width;
    // QTabBar caches its tab geometry and lays the tabs out again on a font change.
    QEvent fontChange(QEvent::FontChange);
    QCoreApplication::sendEvent(this, &fontChange);
    updateGeometry();
    update();
}

QSize TTabBar::tabSizeHint(int index) const
{
    return QSize(m_tabWidth, QTabBar::tabSizeHint(index).height());
}

QSize TTabBar::minimumTabSizeHint(int index) const
{
    return tabSizeHint(index);
}

TTab::TTab(TTabSheet *sheet) : Sheet(sheet)
{
}

TTab::~TTab()
{
    delete Sheet.data();
}

TTabControl::TTabControl(QWidget *parent) : QTabWidget(parent), m_bar(new TTabBar(this))
{
    setTabBar(m_bar);
    setUsesScrollButtons(true);
    // Tabs keep the common width rather than stretching over the row.
    m_bar->setExpanding(false);
    connect(this, &QTabWidget::currentChanged, this, [this](int) {
        if (!m_programTabChange)
            emit TabChangedByUser();
    });
}

TTabControl::~TTabControl()
{
    DeleteTabs();
}

void TTabControl::DeleteTabs()
{
    m_programTabChange = true;
    const QVector<TTab *> tabs = std::exchange(m_tabs, {});
    for (TTab *tab : tabs)
        delete tab;
    m_programTabChange = false;
}

int TTabControl::TabCount() const
{
    int count = 0;
    for (TTab *tab : m_tabs) {
        if (tab)
            ++count;
    }
    return count;
}

int TTabControl::ActiveTabIndex() const
{
    auto *sheet = qobject_cast<TTabSheet *>(currentWidget());
    if (!sheet)
        return -1;
    const int tag = sheet->Tag;
    if (tag < 0 || tag >= m_tabs.size() || !m_tabs.at(tag))
        return -1;
    return tag;
}

TTab *TTabControl::ActiveTab() const
{
    const int index = ActiveTabIndex();
    return index < 0 ? nullptr : m_tabs.at(index);
}

void TTabControl::connectTab(TTab *tab)
{
    connect(tab, &TTab::NavigateComplete, this, &TTabControl::TabNavigateComplete);
    ForwardWhileActive(tab, &TTab::PrintRequested, [this] { emit PrintRequested(); });
    connect(tab, &TTab::CloseRequested, this, [this, tab] { CloseTabOf(tab); });
}

TTab *TTabControl::NewTab(TOpen open, QObject *content)
{
    TTab *opened = nullptr;
    Guard::Run("NewTab", [&] {
        const int index = m_tabs.size();
        QPointer<TTabSheet> sheet = new TTabSheet(this);
        // A tab that was not made leaves no page behind, whether its factory failed or refused.
        auto dropSheet = qScopeGuard([&sheet] { delete sheet.data(); });
        sheet->Tag = index;
        sheet->Caption = QStringLiteral("Loading...");
        TTab *tab = m_factory ? m_factory(sheet, content) : nullptr;
        if (!tab)
            return;
        dropSheet.dismiss();
        m_tabs.append(tab);
        connectTab(tab);
        m_programTabChange = true;
        addTab(sheet, sheet->Caption);
        if (open != TOpen::Behind)
            setCurrentIndex(count() - 1);
        m_programTabChange = false;
        // A new page starts at the width of one tab; the rule then gives the row's width.
        SetTabWidth(150);
        ResizeTabs();
        if (open == TOpen::Home)
            tab->GoHome();
        if (TabCount() > 1 && m_closeButton) {
            PlaceCloseButton();
            m_closeButton->show();
        }
        if (open == TOpen::InFront)
            emit ActiveTabReplaced();
        opened = tab;
    });
    m_programTabChange = false;
    return opened;
}

void TTabControl::selectPageByProgram(int pageIndex)
{
    m_programTabChange = true;
    setCurrentIndex(pageIndex);
    m_programTabChange = false;
}

void TTabControl::CloseActiveTab()
{
    Guard::Run("CloseActiveTab", [&] { closeTab(ActiveTabIndex()); });
    m_programTabChange = false;
}

void TTabControl::closeTab(int index)
{
    if (TabCount() > 1 && index >= 0 && index < m_tabs.size() && m_tabs.at(index)) {
        TTab *tab = m_tabs.at(index);
        const bool wasActive = index == ActiveTabIndex();
        const int pageIndex = indexOf(tab->Sheet);
        const int pagesAfter = count() - 1;
        m_programTabChange = true;
        m_tabs[index] = nullptr;
        delete tab;
        m_programTabChange = false;
        if (wasActive)
            selectPageByProgram(pageIndex >= 0 && pageIndex < pagesAfter ? pageIndex : 0);
        ResizeTabs();
        // The newly active tab's page is described at once rather than left showing the closed
        // tab's address until the next navigation.
        if (wasActive)
            emit ActiveTabReplaced();
    }
    if (TabCount() <= 1 && m_closeButton)
        m_closeButton->hide();
}

void TTabControl::CloseOthers(TTab *keep)
{
    for (int index = 0; index < m_tabs.size(); ++index) {
        if (m_tabs.at(index) && m_tabs.at(index) != keep)
            Guard::Run("CloseOthers", [&] { closeTab(index); });
        m_programTabChange = false;
    }
}

void TTabControl::CloseTabOf(TTab *tab)
{
    // Deferred: the request arrives from inside the page that is about to be destroyed.
    QPointer<TTab> closing(tab);
    QTimer::singleShot(0, this, [this, closing] {
        if (!closing)
            return;
        const int index = int(m_tabs.indexOf(closing.data()));
        Guard::Run("CloseTabOf", [&] { closeTab(index); });
        m_programTabChange = false;
    });
}

int TTabControl::ComputeTabWidth(int available, int tabCount, int currentWidth)
{
    if (tabCount <= 0)
        return available > 0 ? 250 : currentWidth;
    if (qint64(tabCount) * 250 < available)
        return 250;
    const int width = RoundHalfEven(double(available) / double(tabCount));
    return width < 100 ? 100 : width;
}

void TTabControl::ResizeTabs()
{
    Guard::Run("ResizeTabs",
               [this] { SetTabWidth(ComputeTabWidth(width() - 75, TabCount(), TabWidth())); });
}

void TTabControl::FitTabs()
{
    ResizeTabs();
    for (TTab *tab : std::as_const(m_tabs)) {
        if (tab)
            Guard::Run("UpdateTabCaption", [tab] { tab->UpdateTabCaption(); });
    }
}

QString TTabControl::ShortenCaption(const QString &title, int limit,
                                    const std::function<int(const QString &)> &measure)
{
    QString text;
    qsizetype taken = 0;
    while (taken < title.size() && measure(text) < limit) {
        text += title.at(taken);
        ++taken;
    }
    if (taken < title.size())
        text = TextUtils::Trim(text) + QStringLiteral("...");
    return text;
}

void TTabControl::ShowCaption(TTabSheet *sheet, const QString &title)
{
    const QFontMetrics metrics(m_bar->font());
    const QString caption = ShortenCaption(title, TabWidth() - 25, [&metrics](const QString &text) {
        return metrics.horizontalAdvance(text);
    });
    sheet->Caption = caption;
    const int pageIndex = indexOf(sheet);
    if (pageIndex >= 0) {
        // The tab bar reads "&" as a mnemonic; titles must show as they are.
        setTabText(pageIndex, QString(caption).replace(QLatin1Char('&'), QStringLiteral("&&")));
        setTabToolTip(pageIndex, TextUtils::PlainToolTip(title));
    }
}

void TTabControl::PlaceCloseButton()
{
    if (!m_closeButton || !m_closeButton->parentWidget())
        return;
    QWidget *window = m_closeButton->parentWidget();
    const int top = mapTo(window, QPoint(0, 0)).y() - 3;
    m_closeButton->move(window->width() - 40, top);
    m_closeButton->raise();
}

void TTabControl::resizeEvent(QResizeEvent *event)
{
    if (m_closeButton && m_closeButton->isVisible())
        PlaceCloseButton();
    QTabWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width() ||
        event->size().height() != event->oldSize().height())
        emit Resized();
}

void TTabControl::moveEvent(QMoveEvent *event)
{
    if (m_closeButton && m_closeButton->isVisible())
        PlaceCloseButton();
    QTabWidget::moveEvent(event);
}
