#pragma once

#include "page/webview.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <utility>

class QAction;
class QPrinter;
class QWidget;

// The page commands of one main window: one QAction per command, acting on the page it is told
// is active. The menus, the tool bar, the key hook and the page's own requests trigger the
// actions; a tab asking for a command on its own page runs the same code (Run). It holds what
// the commands share
// while the window lives: the printer, so paper and margins chosen once hold for every later
// print, and the page whose print job is running on it.
class TPageCommands : public QObject
{
    Q_OBJECT

public:
    // Gives the active tab's page, or nullptr when there is none.
    using ViewProvider = std::function<TWebView *()>;

    // The page's own command numbers where the design gives them (the document's find and
    // source, then save, print and editing as the engine's command interface numbers them);
    // the browser's own navigation and zoom commands follow from 100.
    enum class TCommand {
        Find = 1,
        ViewSource = 2,
        SaveAs = 4,
        Print = 6,
        PrintPreview = 7,
        PageSetup = 8,
        Properties = 10,
        Cut = 11,
        Copy = 12,
        Paste = 13,
        SelectAll = 17,
        Back = 100,
        Forward,
        Refresh,
        RefreshBypassingCache,
        Stop,
        ZoomIn,
        ZoomOut,
        ZoomReset,
    };
    static constexpr int CommandCount = 19;

    // Dialogs are owned by `owner`, the main window.
    TPageCommands(QWidget *owner, ViewProvider activeView);
    ~TPageCommands() override;

    // The action of a command; triggered without an active page it does nothing.
    QAction *Action(TCommand command) const;
    TWebView *ActiveView() const { return m_activeView ? m_activeView() : nullptr; }
    // Runs a command on the given page, as its action does on the active one.
    void Run(TCommand command, TWebView *page);

    // The group of removed-commands a command belongs to ("save", "print", "view-source"), or
    // an empty string.
    static QString RemovableGroup(TCommand command);

    void SaveAs(TWebView *page);
    // What every way to print says while printing is turned off.
    static QString PrintingOffMessage();
    void Print(TWebView *page);
    void PrintPreview(TWebView *page);
    void PageSetup();
    void Properties(TWebView *page);
    void FindOnPage();
    void ViewSource(TWebView *page);
    // One zoom step of the page: in (direction > 0), out (< 0) or back to 100% (0).
    static void Zoom(TWebView *page, int direction);

    // A print job is running; a second job, a preview or a page setup would change the printer
    // under it, so they wait for it to end.
    bool PrinterBusy() const { return !m_printingPage.isNull(); }

private:
    void runOn(TCommand command, TWebView *page);
    QPrinter &printer();
    // A print to a file goes where a saved page may go and nowhere else. A refused name is
    // dropped from the printer so no later job, with or without a prompt, writes to it.
    bool refusePrintFile(QPrinter &printer, QWidget *parent);

    QWidget *m_owner;
    ViewProvider m_activeView;
    std::array<std::pair<TCommand, QAction *>, CommandCount> m_actions{};
    std::unique_ptr<QPrinter> m_printer;
    QPointer<QWebEngineView> m_printingPage;
    bool m_saidPrintingOff = false;
};
