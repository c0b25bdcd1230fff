#pragma once

#include <QObject>

class QKeyEvent;
class QWheelEvent;
class TfrmQuelvardBrowser;

// The main window's application-wide message hook. Installed while the window is active, it
// offers every key meant for the window to the active page's accelerators (TranslateAccelerator),
// except plain Backspace, Left and Right, and turns Ctrl with the wheel over the page into zoom
// steps there. A dialog of ours deactivates the window and so runs without it.
class TKeyHook : public QObject
{
    Q_OBJECT

public:
    explicit TKeyHook(TfrmQuelvardBrowser *window);
    ~TKeyHook() override;

    void Install();
    void Remove();
    bool Installed() const { return m_installed; }
    // A control that handles its own keys; nothing typed into it reaches the accelerators.
    void KeepOut(QObject *control) { m_keptOut = control; }

    // True when the event was taken and goes no further.
    bool AppMessageHook(QObject *target, QEvent *event);
    static bool IsExcludedFromAccelerators(int key, Qt::KeyboardModifiers modifiers);
    // Gives a key to the active page's commands; true when one took it.
    bool TranslateAccelerator(QKeyEvent *event);

signals:
    // A key offered to the active page's accelerators (what the hook let through).
    void AcceleratorOffered(int key, Qt::KeyboardModifiers modifiers);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool zoomByWheel(bool overPage, QWheelEvent *event);
    // One zoom step of the active page: in (direction > 0), out (< 0) or back to 100% (0).
    void zoomActivePage(int direction);

    TfrmQuelvardBrowser *m_window;
    QObject *m_keptOut = nullptr;
    bool m_installed = false;
    // Wheel turn with Ctrl held not yet amounting to a zoom step (fine-grained wheels and pads).
    int m_wheelZoomDelta = 0;
};
