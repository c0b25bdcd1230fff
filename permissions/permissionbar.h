#pragma once

#include "permissions/permissionpolicy.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QUrl>

class QLabel;
class QPushButton;

// The bar at the top of a tab's page that asks the person about one request of the page at a
// time ("<site> wants to use your camera and microphone.", Allow, Deny). What the policy
// answers by itself never reaches the bar. Being part of the tab's page, it is seen only while
// that tab is shown, so a request from a tab behind waits for the person to come to it.
class TPermissionBar : public QFrame
{
    Q_OBJECT

public:
    TPermissionBar(QWebEnginePage *page, TPermissionPolicy &policy, QWidget *parent);

    void Request(const QUrl &origin, TPermissionPolicy::TFeature feature);
    // Allow (true) or Deny (false) for the request on the bar.
    void Answer(bool allowed);

private:
    struct TRequest
    {
        QUrl origin;
        TPermissionPolicy::TFeature feature;
    };
    // Answers every waiting request the policy can answer now, then asks the first left.
    void settle();

    QPointer<QWebEnginePage> m_page;
    TPermissionPolicy &m_policy;
    QList<TRequest> m_waiting;
    QLabel *m_question;
    QPushButton *m_allow;
    QPushButton *m_deny;
};
