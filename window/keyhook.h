#pragma once

#include <QObject>

class QAction;
class QKeyEvent;
class QWheelEvent;
class QWidget;
class TPageCommands;

// The main window's application-wide message hook. Installed while the window is active, it
// offers every key meant for the window to the active page's accelerators (TranslateAccelerator),
// except plain Backspace, Left and Right, and turns Ctrl with the wheel over the page into zoom
// steps there. A key that runs a command still reaches the page: the page's own shortcuts on
// the same keys keep working. A dialog of ours deactivates the window and so runs without it.
class TKeyHook : public QObject
{
    Q_OBJECT

public:
    // Keys go to the page commands' actions; `window` is the main window whose input is hooked.
    TKeyHook(QWidget *window, TPageCommands *commands);
    ~TKeyHook() override;

    void Install();
    void Remove();
    bool Installed() const { return m_installed; }
    // A control that handles its own keys; nothing typed into it reaches the accelerators.
    void KeepOut(QObject *control) { m_keptOut = control; }

    // True when the event was taken and goes no further.
    bool AppMessageHook(QObject *target, QEvent *event);
    static bool IsExcludedFromAccelerators(int key, Qt::KeyboardModifiers modifiers);
    // The command a key runs for the focused control, or nullptr for none.
    QAction *TranslateAccelerator(QKeyEvent *event) const;

signals:
    // A key offered to the active page's accelerators (what the hook let through).
    void AcceleratorOffered(int key, Qt::KeyboardModifiers modifiers);

private:
    bool zoomByWheel(bool overPage, QWheelEvent *event);

    QWidget *m_window;
    TPageCommands *m_commands;
    QObject *m_keptOut = nullptr;
    bool m_installed = false;
    // Wheel turn with Ctrl held not yet amounting to a zoom step (fine-grained wheels and pads).
    int m_wheelZoomDelta = 0;
};
