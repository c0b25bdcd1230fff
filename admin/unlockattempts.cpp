#include "admin/unlockattempts.h"

#include <QElapsedTimer>
#include <algorithm>
#include <limits>

namespace {

constexpr int FreeAttempts = 2;
constexpr int FirstWaitMs = 2000;
constexpr int LongestWaitMs = 60000;

// Monotonic, so setting the system clock back or forward neither ends nor stretches a wait.
qint64 monotonicMs()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return timer.elapsed();
}

} // namespace

int UnlockWaitMs(int wrongAttemptsInARow)
{
    if (wrongAttemptsInARow <= FreeAttempts)
        return 0;
    qint64 wait = FirstWaitMs;
    // Stops doubling at the ceiling, so a long run of attempts cannot overflow.
    for (int n = FreeAttempts + 1; n < wrongAttemptsInARow && wait < LongestWaitMs; ++n)
        wait *= 2;
    return int(std::min<qint64>(wait, LongestWaitMs));
}

TUnlockAttempts::TUnlockAttempts(Clock clock) : m_clock(clock ? std::move(clock) : monotonicMs)
{
}

void TUnlockAttempts::RecordWrongAttempt()
{
    if (m_wrongInARow < std::numeric_limits<int>::max())
        ++m_wrongInARow;
    m_waitEndsAt = m_clock() + UnlockWaitMs(m_wrongInARow);
}

void TUnlockAttempts::RecordSuccess()
{
    m_wrongInARow = 0;
    m_waitEndsAt = 0;
}

qint64 TUnlockAttempts::RemainingWaitMs() const
{
    return std::max<qint64>(0, m_waitEndsAt - m_clock());
}

TUnlockAttempts &TUnlockAttempts::ForProcess()
{
    static TUnlockAttempts attempts;
    return attempts;
}
