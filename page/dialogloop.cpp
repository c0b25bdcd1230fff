#include "page/dialogloop.h"

void TDialogLoop::Closed(qint64 nowMs, bool prevent)
{
    m_lastClosed = nowMs;
    m_prevented = m_prevented || prevent;
}
