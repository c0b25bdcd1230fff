#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QObject>
#include <chrono>

class QBoxLayout;
class QLabel;
class QPushButton;
class QTimer;
class TAdminLock;
class TBrowserSession;
class TPopupBar;
class TTabControl;

// The run whose visitors end, and the parts of the window a visitor's session leaves its
// traces in; what hangs on the session (downloads, device answers, the profile) follows it.
struct TSessionParts
{
    TBrowserSession *session = nullptr;
    QBoxLayout *top = nullptr; // the countdown bar goes first in it
    TTabControl *tabs = nullptr;
    TAdminLock *lock = nullptr;
    TPopupBar *popupBar = nullptr;
};

// Ends a visitor's session after a quiet spell. Every key, click, wheel turn or pointer
// movement in the program counts as someone there; a playing video does not. After the set
// minutes without any, the bar at the top of the window counts down the machine's seconds with
// Continue; any input or Continue stops it. At zero: every dialog and menu is closed, one tab is
// left at the home page, the lock is back, the notice and download bars are cleared, the run's
// answers to device requests are forgotten and, when browsing data is forgotten, the next
// visitor gets a fresh profile and the session's downloaded files are deleted.
class TIdleReset : public QObject
{
    Q_OBJECT

public:
    // `minutes` 0 never resets. `second` is how long one of its seconds lasts: the program's
    // own is a real second; tests run the clock faster.
    TIdleReset(QWidget *window, TSessionParts parts, int minutes,
               std::chrono::milliseconds second = std::chrono::seconds(1));
    ~TIdleReset() override;

    const TSessionParts &Parts() const { return m_parts; }
    QFrame *Bar() const { return m_bar; }
    static QString CountdownText(int seconds);
    // What ending the session does, as the bar says it after the countdown.
    static QString EndingText(bool forget);
    // A session ended with nobody there; no countdown until someone touches the program.
    bool Resting() const;
    bool CountingDown() const;
    // The administrator changed the quiet minutes while the browser runs; 0 turns it off.
    void SetMinutes(int minutes);
    // Ends the session at once, as the countdown does at zero.
    void EndSession();

signals:
    // The session has ended and the next visitor's has begun.
    void SessionEnded();

private:
    void watchInput(QEvent *event);
    void activity();
    void quietSpellCheck();
    void tick();
    void cancelCountdown();
    void finishWhenClosed(int waitsLeft);
    void finish();
    QString barText() const;

    QWidget *m_window;
    TSessionParts m_parts;
    std::chrono::milliseconds m_quietSpell;
    std::chrono::milliseconds m_second;
    QElapsedTimer m_lastInput;
    QTimer *m_quiet;
    QTimer *m_tick;
    int m_left = 0;
    bool m_ending = false;
    bool m_resting = false;
    QFrame *m_bar;
    QLabel *m_text;
    QPushButton *m_continue;
};
