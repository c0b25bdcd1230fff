#pragma once

#include <QtGlobal>

// A page's dialogs one after another: from the second within a few seconds of the last, the
// person is offered to stop them; once stopped, they stay stopped until the page navigates.
class TDialogLoop
{
public:
    static constexpr qint64 WithinMs = 3000;
    bool Prevented() const { return m_prevented; }
    bool OfferPrevent(qint64 nowMs) const
    {
        return m_lastClosed >= 0 && nowMs - m_lastClosed < WithinMs;
    }
    void Closed(qint64 nowMs, bool prevent);
    void Navigated() { m_prevented = false; }

private:
    qint64 m_lastClosed = -1;
    bool m_prevented = false;
};
