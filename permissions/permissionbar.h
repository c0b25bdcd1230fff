#pragma once

#include "permissions/permissionpolicy.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <optional>

class QLabel;
class QPushButton;
class QTimer;

// The bar at the top of a tab's page that asks the person about one request of the page at a
// time ("<site> wants to use your camera and microphone.", Allow, Deny). What the policy
// answers by itself never reaches the bar. Being part of the tab's page, it is seen only while
// that tab is shown, so a request from a tab behind waits for the person to come to it.
//
// A question comes where the last one was, under the pointer: its buttons take no click for
// ArmMs after it appears, so a click meant for one question never answers the next. Questions
// whose asker is gone are dropped (refused, nothing remembered): all of them when the page
// navigates, and those of a frame's site once no frame of that site is left in the page.
class TPermissionBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr int ArmMs = 1000;

    TPermissionBar(QWebEnginePage *page, TPermissionPolicy &policy, QWidget *parent);

    void Request(const QUrl &origin, TPermissionPolicy::TFeature feature);
    // Allow (true) or Deny (false) for the request on the bar.
    void Answer(bool allowed);

signals:
    // A look at the sites of the page's frames has ended, and the questions of the sites not
    // among them were dropped.
    void FramesChecked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct TRequest
    {
        QUrl origin;
        TPermissionPolicy::TFeature feature;
        bool operator==(const TRequest &other) const
        {
            return origin == other.origin && feature == other.feature;
        }
    };
    // Answers every waiting request the policy can answer now, then asks the first left.
    void settle();
    void arm();
    void answerEngine(const TRequest &request, bool allowed);
    void dropAll();
    // Asks the page which sites its frames hold, while a frame of another site waits.
    void checkFrames();
    void pollFrames(int generation, int triesLeft);
    void keepSites(const QStringList &sites);
    bool fromAFrame(const TRequest &request) const;

    QPointer<QWebEnginePage> m_page;
    TPermissionPolicy &m_policy;
    QList<TRequest> m_waiting;
    std::optional<TRequest> m_shown;
    QLabel *m_question;
    QPushButton *m_allow;
    QPushButton *m_deny;
    QTimer *m_arm;
    QTimer *m_frameCheck;
    // Which look at the frames is under way; a navigation makes every earlier one stale.
    int m_generation = 0;
    bool m_checking = false;
};
