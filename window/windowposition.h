#pragma once

#include <QObject>
#include <QSize>
#include <QString>

class QWidget;

// Where the window stood when it last closed, and putting it back there at start. A window
// manager frames a window only after it is mapped, so the stored outer size is made the client
// size once the frame is known (or, without a frame, left as it is).
class TWindowPosition : public QObject
{
    Q_OBJECT

public:
    explicit TWindowPosition(QWidget *window);

    // Reads the stored position and applies each value read; a window with none, or with an
    // unreadable one, is maximized.
    void Load();
    // From the window's first showing: corrects the size once the frame is known.
    void WaitForFrame();
    // Stores the window's outer position and size.
    void Save();
    // The four numbers stored, with the parts above or left of 0 dropped.
    static QString PositionText(int left, int top, int width, int height);

private:
    void applyPendingFrame();
    void stopWaitingForFrame();

    static constexpr int FrameWaitLimitMs = 10000;
    QWidget *m_window;
    // The stored outer size, until the window manager's frame is known and it can be applied.
    QSize m_pendingOuterSize;
    QObject *m_frameWatch = nullptr;
};
