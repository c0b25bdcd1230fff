#include "page/pageguard.h"

#include "common/guard.h"
#include "page/webview.h"
#include "permissions/permissionbar.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
const QString CrashText = QStringLiteral("This page stopped working.");
const QString SpentText =
    QStringLiteral("This page stopped working again. It can be reloaded again in a minute.");

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

bool TReloadBudget::Take(qint64 nowMs)
{
    m_taken.removeIf([&](qint64 at) { return nowMs - at >= m_windowMs; });
    if (m_taken.size() >= m_count)
        return false;
    m_taken.append(nowMs);
    return true;
}

qint64 TReloadBudget::NextAt(qint64 nowMs) const
{
    qsizetype live = 0;
    qint64 oldest = nowMs;
    for (const qint64 at : m_taken) {
        if (nowMs - at < m_windowMs) {
            ++live;
            oldest = qMin(oldest, at);
        }
    }
    return live < m_count ? nowMs : oldest + m_windowMs;
}

TPageGuard::TPageGuard(QWidget *sheet, TWebView *view, TPermissionPolicy &permissions)
    : QObject(sheet), m_view(view),
      m_permissionBar(new TPermissionBar(view->page(), permissions, sheet)),
      m_crash(new QWidget(sheet)), m_crashText(new QLabel(CrashText, m_crash)),
      m_reload(new QPushButton(QStringLiteral("Reload"), m_crash))
{
    m_crash->setObjectName(QStringLiteral("CrashPanel"));
    m_reload->setObjectName(QStringLiteral("btnCrashReload"));
    auto *crashLayout = new QVBoxLayout(m_crash);
    crashLayout->addStretch();
    crashLayout->addWidget(m_crashText, 0, Qt::AlignHCenter);
    crashLayout->addWidget(m_reload, 0, Qt::AlignHCenter);
    crashLayout->addStretch();
    m_crash->hide();
    if (auto *layout = qobject_cast<QBoxLayout *>(sheet->layout())) {
        layout->insertWidget(0, m_permissionBar);
        layout->addWidget(m_crash, 1);
    }
    connect(m_reload, &QPushButton::clicked, this, [this] { Reload(); });
    connect(view->page(), &QWebEnginePage::renderProcessTerminated, this,
            [this] { Guard::Run("RenderProcessTerminated", [this] { showCrash(); }); });
    // Whatever reloads the page (this button, the tool bar, a key) brings it back.
    connect(view->page(), &QWebEnginePage::loadStarted, this, [this] { showPage(); });
}

bool TPageGuard::Crashed() const
{
    return !m_crash->isHidden();
}

void TPageGuard::Reload()
{
    if (!m_view)
        return;
    if (!m_budget.Take(now())) {
        m_crashText->setText(SpentText);
        m_reload->setEnabled(false);
        QTimer::singleShot(m_budget.NextAt(now()) - now(), m_reload, [this] {
            m_crashText->setText(CrashText);
            m_reload->setEnabled(true);
        });
        return;
    }
    m_view->Refresh();
}

void TPageGuard::showCrash()
{
    if (!m_view)
        return;
    m_view->hide();
    m_crash->show();
    if (m_reload->isEnabled())
        m_reload->setFocus();
}

void TPageGuard::showPage()
{
    if (!m_view || !Crashed())
        return;
    m_crash->hide();
    m_view->show();
}
