#pragma once

#include "common/machinepolicies.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QFrame;
class QTimer;
class TAdminLock;

// The run's side of the time keeper: it tells the keeper while a window of this account is
// shown, asks whether browsing is open now, and while it is not, keeps every page of the web
// away (every tab shows the program's page saying when browsing opens again). Without an
// answer from the keeper browsing is closed too: a child who stops the keeper gains nothing.
// The administrator unlocking the browser lifts it for the run until the browser locks again.
// It also reports what the filter refused, when the machine says to log.
class TTimeGuard : public QObject
{
    Q_OBJECT

public:
    // Made by the session when the machine's settings use the keeper; null otherwise.
    static TTimeGuard *Instance();
    TTimeGuard(const MachinePolicies::recMachinePolicies &policies, QObject *parent = nullptr);
    ~TTimeGuard() override;

    // The page every tab shows while browsing is closed, and its text.
    static QUrl ClosedPageUrl();
    static QByteArray ClosedPageHtml();

    // The administrator changed the machine's settings while the browser runs: rules for some
    // account now, or none any more, or another log.
    void SetPolicies(const MachinePolicies::recMachinePolicies &policies);

    bool Closed() const;
    // The administrator at the keyboard: no limit applies while unlocked.
    void SetLifted(bool lifted);
    // The window's part: the bar that warns before browsing ends goes at the top of `layout`,
    // and the limits are lifted while `lock` is unlocked.
    void Attach(QBoxLayout *layout, TAdminLock *lock);
    // Reports a refusal to the keeper when the machine keeps a log: `kind` is "address",
    // "download" or "time".
    void Report(const QString &kind, const QUrl &address, const QString &rule);

signals:
    void ClosedChanged(bool closed);

private:
    void ask();
    void take(const QJsonObject &answer, bool reached);
    void apply();
    bool shown() const;
    void makeBar();

    bool m_limits;
    MachinePolicies::Log m_log;
    QTimer *m_timer;
    bool m_refused = false; // what the keeper last said, or its silence
    bool m_lifted = false;
    bool m_asking = false;
    bool m_warned = false;
    QString m_why; // "budget", "schedule", "keeper"
    QDateTime m_opens;
    QDate m_today;
    QPointer<QFrame> m_bar;
    QPointer<QBoxLayout> m_layout;
};
