#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QtGlobal>

class QLabel;
class QPushButton;
class QWidget;
class TPermissionBar;
class TPermissionPolicy;
class TWebView;

// How many reloads of a crashed page may be made: `count` within `windowMs`, so a page that
// crashes as soon as it loads cannot keep the program reloading it.
class TReloadBudget
{
public:
    explicit TReloadBudget(int count = 3, qint64 windowMs = 60000)
        : m_count(count), m_windowMs(windowMs)
    {
    }
    // Takes one reload at `nowMs`; false when the budget is spent.
    bool Take(qint64 nowMs);
    // When the next reload may be taken (at once when not spent).
    qint64 NextAt(qint64 nowMs) const;

private:
    int m_count;
    qint64 m_windowMs;
    QList<qint64> m_taken;
};

// What a tab's page shows besides the page itself: the permission bar above it, and in its
// place, once its process has ended, a short message with a Reload button.
class TPageGuard : public QObject
{
    Q_OBJECT

public:
    // `sheet` is laid out with the view in a box layout; the guard adds its parts to it. The
    // bar asks `permissions` what the page may use.
    TPageGuard(QWidget *sheet, TWebView *view, TPermissionPolicy &permissions);

    TPermissionBar *PermissionBar() const { return m_permissionBar; }
    bool Crashed() const;
    void Reload();

private:
    void showCrash();
    void showPage();

    QPointer<TWebView> m_view;
    TPermissionBar *m_permissionBar;
    QWidget *m_crash;
    QLabel *m_crashText;
    QPushButton *m_reload;
    TReloadBudget m_budget;
};
