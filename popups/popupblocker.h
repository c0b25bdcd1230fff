#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class TPopupBar;

// Decides whether a tab's page may open a window, remembers the site each tab last refused,
// and drives the notice bar for the active tab. It knows tabs only as objects to key on; the
// window tells it which one is in front and where its page is.
class TPopupBlocker : public QObject
{
    Q_OBJECT

public:
    // The tab in front and the address of its page; no tab is a null Tab.
    struct TActivePage
    {
        const QObject *Tab = nullptr;
        QString URL;
    };
    using ActivePageSource = std::function<TActivePage()>;

    // `machineSites` is the administrator's list for everyone, allowed as the user's own is.
    // Without a bar the decisions and the refused sites still work.
    TPopupBlocker(TPopupBar *bar, ActivePageSource activePage, const QStringList &machineSites,
                  QObject *parent = nullptr);

    // The window's notice bar and where the blocker learns which page is in front; one made
    // before the window decides without them until then.
    void Attach(TPopupBar *bar, ActivePageSource activePage);

    // The user's list as last loaded.
    const QStringList &AllowedSites() const { return m_allowedSites; }
    // Reads the user's list from the store again; a store that fails gives an empty list.
    void LoadAllowedSites();
    // The administrator's list, changed while the browser runs.
    void SetMachineSites(const QStringList &sites) { m_machineSites = sites; }

    // True when a page at pageUrl may open windows: its domain is on either list.
    bool Allows(const QString &pageUrl) const;
    // A request of tab's page at pageUrl to open a window. Refused, the page's domain becomes
    // the tab's refused site and the bar is told; the answer is whether the window may open.
    bool Decide(QObject *tab, const QString &pageUrl);
    // The site tab last refused, until "Click Here" or the tab goes; empty when none.
    QString RefusedSite(const QObject *tab) const { return m_refused.value(tab); }

    // Opens the bar when the active page's domain is the site its tab refused, closes it
    // otherwise.
    void UpdatePopupBar();
    // "Click Here": allows the active page's domain for good, forgets its tab's refusal, closes
    // the bar, reloads the list and asks for the page again (ReloadActivePage).
    void ClickHere();

signals:
    // The active page is to be loaded again, its windows now allowed.
    void ReloadActivePage();

private:
    void refuse(QObject *tab, const QString &domain);

    QPointer<TPopupBar> m_bar;
    ActivePageSource m_activePage;
    QStringList m_machineSites;
    QStringList m_allowedSites;
    QHash<const QObject *, QString> m_refused;
};
