#pragma once

#include "main/webview.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QPrinter;
class QWidget;

// The page commands of one main window: one QAction per command, acting on the page it is told
// is active, and one function per command for the page the web view hands in (ExecWB). The
// menus, the tool bar and the key hook trigger the actions. It holds what the commands share
// while the window lives: the printer, so paper and margins chosen once hold for every later
// print, and the page whose print job is running on it.
class TPageCommands : public QObject
{
    Q_OBJECT

public:
    // Gives the active tab's page, or nullptr when there is none.
    using ViewProvider = std::function<TWebView *()>;

    enum class TCommand {
        SaveAs,
        PageSetup,
        Print,
        PrintPreview,
        Properties,
        Cut,
        Copy,
        Paste,
        SelectAll,
        Find,
        ViewSource,
        Back,
        Forward,
        Refresh,
        RefreshBypassingCache,
        Stop,
        ZoomIn,
        ZoomOut,
        ZoomReset,
    };
    static constexpr int CommandCount = int(TCommand::ZoomReset) + 1;

    // Dialogs are owned by `owner`, the main window.
    TPageCommands(QWidget *owner, ViewProvider activeView);
    ~TPageCommands() override;

    // The action of a command; triggered without an active page it does nothing.
    QAction *Action(TCommand command) const { return m_actions.at(size_t(command)); }
    TWebView *ActiveView() const { return m_activeView ? m_activeView() : nullptr; }

    // What a web view is given to run ExecWB and its document commands here.
    TWebView::CommandHandler PageCommandHandler();
    TWebView::DocumentCommandHandler DocumentCommandHandler();

    void SaveAs(TWebView *page);
    void Print(TWebView *page, TWebView::TCommandOption option);
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
    void run(TCommand command, TWebView *page);
    QPrinter &printer();
    // A print to a file goes where a saved page may go and nowhere else. A refused name is
    // dropped from the printer so no later job, with or without a prompt, writes to it.
    bool refusePrintFile(QPrinter &printer, QWidget *parent);

    QWidget *m_owner;
    ViewProvider m_activeView;
    std::array<QAction *, CommandCount> m_actions{};
    std::unique_ptr<QPrinter> m_printer;
    QPointer<QWebEngineView> m_printingPage;
};
