#pragma once

#include <QtGlobal>
#include <functional>

// How long the Login button rests after the given number of wrong unlock attempts in a row:
// none for the first two, then 2 seconds doubling with each further one, at most a minute.
int UnlockWaitMs(int wrongAttemptsInARow);

// The wrong unlock attempts of this run of the program. Kept in memory only, so that closing and
// reopening the login dialog does not clear the wait; a restart does, which is accepted: the
// point is to slow a person at the keyboard and scripted typing, not a determined local user.
class TUnlockAttempts
{
public:
    // Milliseconds on a clock that only moves forward; tests pass one they move by hand.
    using Clock = std::function<qint64()>;

    explicit TUnlockAttempts(Clock clock = {});

    void RecordWrongAttempt();
    void RecordSuccess();
    int WrongAttemptsInARow() const { return m_wrongInARow; }
    // What is left of the wait after the latest wrong attempt; 0 when another may be made.
    qint64 RemainingWaitMs() const;

    // The one instance every login dialog of this process shares.
    static TUnlockAttempts &ForProcess();

private:
    Clock m_clock;
    int m_wrongInARow = 0;
    qint64 m_waitEndsAt = 0;
};
