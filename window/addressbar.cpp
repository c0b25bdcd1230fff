#include "window/addressbar.h"

#include "admin/adminlock.h"
#include "config.h"
#include "filter/navigationfilter.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

TAddressBar::TAddressBar(QLineEdit *address, QAction *go, QPushButton *lockButton, TAdminLock *lock,
                         QObject *parent)
    : QObject(parent), m_address(address), m_go(go), m_lockButton(lockButton), m_lock(lock)
{
    connect(m_go, &QAction::triggered, this, [this] { Go(); });
    connect(m_address, &QLineEdit::returnPressed, this, [this] { Go(); });
    connect(m_lock, &TAdminLock::LockChanged, this, [this](bool locked) { LockChanged(locked); });
    LockChanged(m_lock->IsLocked());
}

void TAddressBar::ShowAddress(const QString &url)
{
    if (url == QLatin1String(QUELVARD_START_PAGE_URL) ||
        url == QLatin1String(QUELVARD_FIRST_RUN_PAGE_URL) ||
        url == QLatin1String(QUELVARD_COMPANION_FIRST_RUN_PAGE_URL))
        m_address->setText(QStringLiteral(QUELVARD_SITE_ROOT_URL));
    else if (const QUrl refused = TNavigationFilter::RefusedAddress(QUrl(url)); refused.isValid())
        m_address->setText(refused.toString()); // the blocked page names what was refused
    else
        m_address->setText(url);
    m_address->setCursorPosition(0);
}

void TAddressBar::Go()
{
    if (m_lock->IsLocked())
        return;
    emit NavigateRequested(m_address->text());
}

void TAddressBar::LockChanged(bool locked)
{
    m_go->setEnabled(!locked);
    m_address->setEnabled(!locked);
    const QString caption = locked ? QStringLiteral("Admin Unlock") : QStringLiteral("Admin Lock");
    m_lockButton->setText(caption);
    m_lockButton->setAccessibleName(caption);
}
