#include "permissions/permissionbar.h"

#include "common/guard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

TPermissionBar::TPermissionBar(QWebEnginePage *page, TPermissionPolicy &policy, QWidget *parent)
    : QFrame(parent), m_page(page), m_policy(policy), m_question(new QLabel(this)),
      m_allow(new QPushButton(QStringLiteral("Allow"), this)),
      m_deny(new QPushButton(QStringLiteral("Deny"), this))
{
    setObjectName(QStringLiteral("PermissionBar"));
    m_question->setObjectName(QStringLiteral("lblPermission"));
    m_allow->setObjectName(QStringLiteral("btnPermissionAllow"));
    m_deny->setObjectName(QStringLiteral("btnPermissionDeny"));
    // The site's name comes from the page; it is shown, never read as markup.
    m_question->setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
    QPalette barPalette = palette();
    barPalette.setColor(QPalette::Window, QColor(255, 255, 217));
    barPalette.setColor(QPalette::WindowText, Qt::black);
    setPalette(barPalette);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->addWidget(m_question, 1);
    layout->addWidget(m_allow);
    layout->addWidget(m_deny);
    hide();

    connect(m_allow, &QPushButton::clicked, this, [this] { Answer(true); });
    connect(m_deny, &QPushButton::clicked, this, [this] { Answer(false); });
    connect(page, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                Guard::Run("PermissionRequested", [&] { Request(origin, feature); });
            });
    connect(page, &QWebEnginePage::featurePermissionRequestCanceled, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                m_waiting.removeIf([&](const TRequest &request) {
                    return request.origin == origin && request.feature == feature;
                });
                settle();
            });
}

void TPermissionBar::Request(const QUrl &origin, TPermissionPolicy::TFeature feature)
{
    m_waiting.append({origin, feature});
    settle();
}

void TPermissionBar::Answer(bool allowed)
{
    if (m_waiting.isEmpty())
        return;
    const TRequest request = m_waiting.takeFirst();
    m_policy.Remember(request.origin, request.feature, allowed);
    if (m_page)
        m_page->setFeaturePermission(request.origin, request.feature,
                                     allowed ? QWebEnginePage::PermissionGrantedByUser
                                             : QWebEnginePage::PermissionDeniedByUser);
    // Waiting requests of the same site are answered by what was just said.
    settle();
}

void TPermissionBar::settle()
{
    for (qsizetype i = 0; i < m_waiting.size();) {
        const TRequest request = m_waiting.at(i);
        const TPermissionPolicy::TAnswer answer = m_policy.Decide(request.origin, request.feature);
        if (answer == TPermissionPolicy::TAnswer::Ask) {
            ++i;
            continue;
        }
        m_waiting.removeAt(i);
        if (m_page)
            m_page->setFeaturePermission(request.origin, request.feature,
                                         answer == TPermissionPolicy::TAnswer::Allow
                                             ? QWebEnginePage::PermissionGrantedByUser
                                             : QWebEnginePage::PermissionDeniedByUser);
    }
    if (m_waiting.isEmpty()) {
        hide();
        return;
    }
    m_question->setText(
        TPermissionPolicy::Question(m_waiting.first().origin, m_waiting.first().feature));
    show();
}
