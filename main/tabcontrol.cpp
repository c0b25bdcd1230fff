#include "main/tabcontrol.h"

#include <QCoreApplication>
#include <QResizeEvent>

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

TTabControl::TTabControl(QWidget *parent) : QTabWidget(parent), m_bar(new TTabBar(this))
{
    setTabBar(m_bar);
    setUsesScrollButtons(true);
    // Tabs keep the common width rather than stretching over the row.
    m_bar->setExpanding(false);
}

void TTabControl::resizeEvent(QResizeEvent *event)
{
    QTabWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width() ||
        event->size().height() != event->oldSize().height())
        emit Resized();
}
