#pragma once

#include <QObject>
#include <functional>

class QEvent;

// The program's one application-wide event filter. Every part that must see events meant for
// any window of the program joins it at its stage; the stages see each event in this order,
// whatever order the parts joined in, and the first that takes an event ends its way, so which
// part wins a key is written here and nowhere else:
enum class TInputStage {
    FileDialogs, // a file dialog is made read-only before it is first shown
    FullScreen,  // Escape leaves a page's full screen
    KeyHook,     // the window's command keys
    WindowFrame, // the window manager's frame becomes known (watches only)
    Activity,    // input by a person, for the idle reset (watches only, taken events too)
};

namespace InputFilter {
// `take` returns true when it took the event. The part leaves when `owner` is destroyed, or
// with Leave.
void Join(QObject *owner, TInputStage stage, std::function<bool(QObject *, QEvent *)> take);
// Sees every event, also one an earlier stage took.
void Watch(QObject *owner, TInputStage stage, std::function<void(QObject *, QEvent *)> watch);
void Leave(QObject *owner);
} // namespace InputFilter
