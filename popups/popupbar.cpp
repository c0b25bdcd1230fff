#include "popups/popupbar.h"

#include "common/guard.h"
#include "widgets/plaintooltip.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QTimer>

namespace {

// One pixel per tick: 31 heights in about a third of a second, each one painted.
constexpr int StepIntervalMs = 10;
// The link stands 9 pixels after the notice's end, so the bar reads as one sentence; with the
// notice's left edge of 8 that puts the link at the notice's width plus 17.
constexpr int LinkGap = 9;
constexpr int LinkOffset = 17;
constexpr int RightPanelWidth = 135;
constexpr int RightPanelHeight = 25;
constexpr int GapHeight = 5;

bool ActivatesLink(const QLabel *link, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        return mouse->button() == Qt::LeftButton &&
               link->rect().contains(mouse->position().toPoint());
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    }
    return false;
}

} // namespace

TPopupBar::TPopupBar(QFrame *pnlPopups, QLabel *lblPopups, QLabel *lblClickHere, QWidget *Panel11,
                     QWidget *Panel1, QObject *parent)
    : QObject(parent), m_bar(pnlPopups), m_notice(lblPopups), m_link(lblClickHere),
      m_rightPanel(Panel11), m_gap(Panel1), m_steps(new QTimer(this))
{
    // A pale yellow strip with a gap in the window's face colour below it.
    QPalette barPalette = m_bar->palette();
    barPalette.setColor(QPalette::Window, QColor(255, 255, 217));
    m_bar->setPalette(barPalette);
    m_rightPanel->setPalette(barPalette);
    m_gap->setPalette(m_gap->window()->palette());
    QFont linkFont = m_link->font();
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    m_link->setFont(linkFont);
    QPalette linkPalette = m_link->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    m_link->setPalette(linkPalette);
    m_link->installEventFilter(this);
    m_bar->installEventFilter(this);
    m_bar->setMaximumHeight(0);
    m_bar->hide();

    m_steps->setTimerType(Qt::PreciseTimer);
    m_steps->setInterval(StepIntervalMs);
    connect(m_steps, &QTimer::timeout, this, &TPopupBar::Step);
}

QString TPopupBar::NoticeText(const QString &domain)
{
    QString text = QStringLiteral(
        "Quelvard prevented \"%Domain%\" from opening popup windows. To view popups");
    const QString placeholder = QStringLiteral("%Domain%");
    const qsizetype at = text.indexOf(placeholder, 0, Qt::CaseInsensitive);
    if (at >= 0)
        text.replace(at, placeholder.size(), domain);
    return text;
}

void TPopupBar::Update(const QString &domain, const QString &blockedDomain)
{
    if (!domain.isEmpty() && domain == blockedDomain) {
        ShowNotice(domain);
        MoveTo(OpenHeight);
    } else {
        MoveTo(0);
    }
}

void TPopupBar::ShowNotice(const QString &domain)
{
    // A page asking for windows in a loop is refused once per window; fitting the same
    // sentence again each time repaints the whole window, which with software rendering
    // made 10,000 refusals take minutes.
    if (m_fitted && domain == m_domain)
        return;
    m_domain = domain;
    Fit();
}

void TPopupBar::MoveTo(int height)
{
    if (m_bar->isHidden()) {
        if (height == 0)
            return;
        SetHeight(0);
        m_bar->show();
    } else if (m_target == height) {
        return; // already there or on its way
    }
    m_target = height;
    m_steps->start();
}

bool TPopupBar::IsMoving() const
{
    return m_steps->isActive();
}

void TPopupBar::Step()
{
    const bool stepped = Guard::Run("TPopupBar::Step", [this] {
        int height = m_bar->maximumHeight();
        height += height < m_target ? 1 : (height > m_target ? -1 : 0);
        SetHeight(height);
        if (height == m_target) {
            m_steps->stop();
            if (m_target == 0)
                m_bar->hide();
        }
    });
    if (!stepped)
        m_steps->stop();
}

void TPopupBar::SetHeight(int height)
{
    m_bar->setFixedHeight(height);
    // Lay out now so the controls below, and whatever rides on them, move in this same step.
    if (QWidget *row = m_bar->parentWidget()) {
        if (QLayout *layout = row->layout())
            layout->activate();
    }
    emit HeightChanged(height);
}

void TPopupBar::PlaceParts()
{
    const int width = m_bar->width();
    m_rightPanel->setGeometry(width - RightPanelWidth, 0, RightPanelWidth, RightPanelHeight);
    // The gap stays at the bar's foot while the bar grows and shrinks.
    m_gap->setGeometry(0, m_bar->height() - GapHeight, width, GapHeight);
}

// Keeps the notice and its link inside the bar: the notice sizes itself to its text and the
// link follows 9 pixels after its end. When the bar is too narrow for the whole sentence (a long
// domain, a narrow window), the domain and then the sentence are shortened with an ellipsis
// rather than letting "Click Here" slide out of sight.
void TPopupBar::Fit()
{
    m_notice->setTextFormat(Qt::PlainText); // a domain is page-supplied text
    m_link->adjustSize();
    // A hidden bar has not been laid out; it will span its parent once shown.
    const QWidget *row = m_bar->parentWidget();
    const int barWidth = row ? row->width() : m_bar->width();
    // The empty right-hand panel is only bar colour: the sentence may run over it, so the
    // notice and its link are kept above it.
    m_notice->raise();
    m_link->raise();
    const int room = barWidth - m_notice->x() - LinkGap - m_link->width() - m_notice->x();

    const QString full = NoticeText(m_domain);
    const QFontMetrics metrics(m_notice->font());
    QString shown = full;
    const int overflow = metrics.horizontalAdvance(full) - room;
    if (overflow > 0) {
        const int domainRoom = metrics.horizontalAdvance(m_domain) - overflow;
        shown = NoticeText(metrics.elidedText(m_domain, Qt::ElideMiddle, qMax(0, domainRoom)));
        if (metrics.horizontalAdvance(shown) > room)
            shown = metrics.elidedText(full, Qt::ElideRight, qMax(0, room));
    }
    m_notice->setText(shown);
    m_notice->setToolTip(shown == full ? QString() : TextUtils::PlainToolTip(full));
    m_notice->setAccessibleName(full);
    m_notice->adjustSize();
    m_link->move(m_notice->width() + LinkOffset, m_link->y());
    m_fitted = true;
}

bool TPopupBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_bar && event->type() == QEvent::Resize) {
        PlaceParts();
        if (m_fitted)
            Fit();
        return false;
    }
    if (watched == m_link && ActivatesLink(m_link, event)) {
        emit ClickHere();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
