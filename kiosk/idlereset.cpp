#include "kiosk/idlereset.h"

#include "window/inputfilter.h"

#include "admin/adminlock.h"
#include "app/browsersession.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "popups/popupbar.h"
#include "tabs/tabcontrol.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// How often, and how many times, the end waits for the closed dialogs' own loops to return
// before it takes the pages away from under them.
constexpr int DialogWaitMs = 10;
constexpr int DialogWaits = 300;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
        return true;
    default:
        return false;
    }
}

} // namespace

TIdleReset::TIdleReset(QWidget *window, TSessionParts parts, int minutes,
                       std::chrono::milliseconds second)
    : QObject(window), m_window(window), m_parts(parts), m_quietSpell(0), m_second(second),
      m_quiet(new QTimer(this)), m_tick(new QTimer(this)), m_bar(new QFrame(window)),
      m_text(new QLabel(m_bar)), m_continue(new QPushButton(QStringLiteral("Continue"), m_bar))
{
    m_bar->setObjectName(QStringLiteral("pnlIdleReset"));
    m_bar->setAccessibleName(QStringLiteral("Session ends"));
    m_bar->setAutoFillBackground(true);
    QPalette barPalette = m_bar->palette();
    barPalette.setColor(QPalette::Window, QColor(255, 255, 217));
    barPalette.setColor(QPalette::WindowText, Qt::black);
    m_bar->setPalette(barPalette);
    m_text->setObjectName(QStringLiteral("lblIdleReset"));
    m_text->setTextFormat(Qt::PlainText);
    // A narrow kiosk window wraps the line rather than widening the window for it.
    m_text->setWordWrap(true);
    m_continue->setObjectName(QStringLiteral("btnContinue"));
    // A finger's width on a touch screen.
    m_continue->setMinimumSize(96, 40);
    auto *layout = new QHBoxLayout(m_bar);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_continue);
    m_bar->hide();
    if (m_parts.top)
        m_parts.top->insertWidget(0, m_bar);
    connect(m_continue, &QPushButton::clicked, this, [this] { cancelCountdown(); });

    m_quiet->setSingleShot(true);
    connect(m_quiet, &QTimer::timeout, this, [this] { quietSpellCheck(); });
    m_tick->setInterval(m_second);
    connect(m_tick, &QTimer::timeout, this, [this] { tick(); });
    SetMinutes(minutes);
}

void TIdleReset::SetMinutes(int minutes)
{
    const std::chrono::milliseconds spell = m_second * 60 * std::max(minutes, 0);
    if (spell == m_quietSpell)
        return;
    const bool watching = m_quietSpell.count() > 0;
    m_quietSpell = spell;
    // A countdown under way belonged to the old interval; the new one is counted from now.
    m_tick->stop();
    m_bar->hide();
    m_quiet->stop();
    if (spell.count() == 0) {
        InputFilter::Leave(this);
        return;
    }
    // Input meant for any window of the program, its dialogs included, is someone there.
    if (!watching)
        InputFilter::Watch(this, TInputStage::Activity,
                           [this](QObject *, QEvent *event) { watchInput(event); });
    m_lastInput.start();
    if (!m_ending)
        m_quiet->start(m_quietSpell);
}

TIdleReset::~TIdleReset()
{
    InputFilter::Leave(this);
}

QString TIdleReset::CountdownText(int seconds)
{
    return seconds == 1 ? QStringLiteral("This session ends in 1 second.")
                        : QStringLiteral("This session ends in %1 seconds.").arg(seconds);
}

QString TIdleReset::EndingText(bool forget)
{
    // Said as it is: a machine that keeps browsing data keeps the visitor's sign-ins too.
    return forget ? QStringLiteral("Your pages, sign-ins and downloads will be cleared.")
                  : QStringLiteral("Your pages will be closed.");
}

bool TIdleReset::Resting() const
{
    return m_resting;
}

QString TIdleReset::barText() const
{
    return CountdownText(m_left) + QLatin1Char(' ') +
           EndingText(MachinePolicies::Current().ForgetsBrowsingData());
}

bool TIdleReset::CountingDown() const
{
    return m_tick->isActive();
}

void TIdleReset::watchInput(QEvent *event)
{
    // Only what a person did: the program's own events (a page repainting, a video playing, a
    // key passed on) are not spontaneous.
    if (event->spontaneous() && isInput(event->type()))
        activity();
}

void TIdleReset::activity()
{
    m_lastInput.restart();
    // Someone is at the kiosk again after a session ended untouched.
    if (m_resting) {
        m_resting = false;
        if (m_quietSpell.count() > 0)
            m_quiet->start(m_quietSpell);
    }
    if (CountingDown())
        cancelCountdown();
}

void TIdleReset::quietSpellCheck()
{
    if (m_ending)
        return;
    const std::chrono::milliseconds quiet(m_lastInput.elapsed());
    if (quiet < m_quietSpell) {
        m_quiet->start(m_quietSpell - quiet);
        return;
    }
    m_left = MachinePolicies::Current().IdleCountdownSeconds;
    m_text->setText(barText());
    m_bar->show();
    m_bar->raise();
    m_tick->start();
}

void TIdleReset::tick()
{
    if (--m_left > 0) {
        m_text->setText(barText());
        return;
    }
    m_tick->stop();
    EndSession();
}

void TIdleReset::cancelCountdown()
{
    m_tick->stop();
    m_bar->hide();
    m_lastInput.restart();
    if (!m_ending)
        m_quiet->start(m_quietSpell);
}

void TIdleReset::EndSession()
{
    if (m_ending)
        return;
    m_ending = true;
    m_tick->stop();
    m_quiet->stop();
    m_bar->hide();
    Guard::Run("EndSession", [] {
        // A menu open over a dialog is closed first; each runs its own loop.
        for (int left = 100; QApplication::activePopupWidget() && left > 0; --left)
            QApplication::activePopupWidget()->close();
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            if (dialog && dialog->isVisible())
                dialog->reject();
        }
    });
    finishWhenClosed(DialogWaits);
}

// A dialog runs in its own loop, often on the stack of a page's call (an alert); the page may
// go only once every such loop has returned and its dialog is gone.
void TIdleReset::finishWhenClosed(int waitsLeft)
{
    bool open = QApplication::activeModalWidget() != nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        open = open || (dialog && dialog->isVisible());
    }
    if (open && waitsLeft > 0) {
        QTimer::singleShot(DialogWaitMs, this, [this, waitsLeft] {
            Guard::Run("EndSession", [this] {
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    auto *dialog = qobject_cast<QDialog *>(widget);
                    if (dialog && dialog->isVisible())
                        dialog->reject();
                }
            });
            finishWhenClosed(waitsLeft - 1);
        });
        return;
    }
    // Queued, so it runs from the event loop once the dialogs' loops have returned.
    QTimer::singleShot(0, this, [this] { finish(); });
}

void TIdleReset::finish()
{
    Guard::Run("EndSession", [this] {
        if (m_parts.session)
            m_parts.session->EndVisitor();
        // Locked before the next visitor's page exists; a new profile gets the lock's settings.
        if (m_parts.lock) {
            if (m_parts.lock->IsLocked())
                m_parts.lock->ApplyToEngine();
            else
                m_parts.lock->Lock();
        }
        if (m_parts.tabs) {
            // A new tab, in the new profile, with no history and at 100%; the rest go.
            TTab *fresh = m_parts.tabs->NewTab(TTabControl::TOpen::Home);
            m_parts.tabs->CloseOthers(fresh);
        }
        if (m_parts.popupBar)
            m_parts.popupBar->MoveTo(0);
    });
    m_ending = false;
    m_lastInput.restart();
    // Nobody is there: the next countdown waits for someone to touch the kiosk, rather than
    // ending an empty session over and over.
    m_resting = true;
    emit SessionEnded();
}
