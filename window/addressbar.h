#pragma once

#include <QObject>
#include <QString>

class QAction;
class QLineEdit;
class QPushButton;
class TAdminLock;

// The address field, its Go button and the lock button beside them. The administrator lock
// decides whether a typed address is loaded, never whether the field happens to be enabled:
// a path that ever enabled the field while locked still loads nothing.
class TAddressBar : public QObject
{
    Q_OBJECT

public:
    TAddressBar(QLineEdit *address, QAction *go, QPushButton *lockButton, TAdminLock *lock,
                QObject *parent);

    // Shows where the active page is: the site's root for the program's own start pages,
    // otherwise the page's address, from its beginning.
    void ShowAddress(const QString &url);
    // Go and Enter: loads the typed address unless the lock is on.
    void Go();
    // Follows the lock: the field and Go take input only while it is off, and the lock button
    // names what it offers.
    void LockChanged(bool locked);

signals:
    // A typed address, the lock off, to be loaded in the active tab.
    void NavigateRequested(const QString &address);

private:
    QLineEdit *m_address;
    QAction *m_go;
    QPushButton *m_lockButton;
    TAdminLock *m_lock;
};
