#pragma once

#include "support/controls.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QString>
#include <QUrl>
#include <memory>

class ScriptedDialogs;
class TWebView;

namespace TestPages {

// Text the suites' pages carry, to find again in a selection, a saved file or a print.
inline const QString PageText = QStringLiteral("Quelvard page text alpha beta");

// One main window on an ordinary run (a position is stored, so no first-run page), shown,
// active, its first tab on the start page.
struct Browser
{
    TfrmQuelvardBrowser window;

    // The active tab's view, null without a tab.
    TWebView *view() const;
    // Loads `url` in the active tab and waits until it has.
    bool load(const QUrl &url);
    // An item of the window's menus or tool bar, by its design name.
    QAction *action(const char *name) const { return TestSupport::Control<QAction>(&window, name); }
    // An item of the page's context menu, by its design name.
    QAction *menuItem(const char *name) const
    {
        return TestSupport::Control<QAction>(window.pmBrowser, name);
    }
    QLineEdit *address() const { return TestSupport::Control<QLineEdit>(&window, "edtAddress"); }

    // Unlocks the administrator lock as the administrator would, through the login dialog.
    bool unlock(ScriptedDialogs &dialogs);

    // `dialogs` forgets what ran before the window was ready (the administrator's first run).
    static std::unique_ptr<Browser> open(ScriptedDialogs &dialogs);
};

} // namespace TestPages
