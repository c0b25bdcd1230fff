#pragma once

#include "main/webview.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QPrinter;
class QWebEngineView;
class QWidget;

// The page commands of one main window, one function per command: save, print, preview, page
// setup, properties, editing, find and the source window. TWebView::ExecWB and the document
// commands call in here with the page to act on. It holds what the commands share while the
// window lives: the printer, so paper and margins chosen once hold for every later print, and
// the page whose print job is running on it.
class TPageCommands : public QObject
{
    Q_OBJECT

public:
    // Gives the active tab's page, or nullptr when there is none (the find dialog follows it).
    using PageProvider = std::function<QWebEngineView *()>;

    // Dialogs are owned by `owner`, the main window.
    TPageCommands(QWidget *owner, PageProvider activePage);
    ~TPageCommands() override;

    void SaveAs(TWebView *page);
    void Print(TWebView *page, TWebView::TCommandOption option);
    void PrintPreview(TWebView *page);
    void PageSetup();
    void Properties(TWebView *page);
    void Cut(TWebView *page);
    void Copy(TWebView *page);
    void Paste(TWebView *page);
    void SelectAll(TWebView *page);
    void FindOnPage();
    void ViewSource(TWebView *page);

    // A print job is running; a second job, a preview or a page setup would change the printer
    // under it, so they wait for it to end.
    bool PrinterBusy() const { return !m_printingPage.isNull(); }

private:
    QPrinter &printer();
    // A print to a file goes where a saved page may go and nowhere else. A refused name is
    // dropped from the printer so no later job, with or without a prompt, writes to it.
    bool refusePrintFile(QPrinter &printer, QWidget *parent);

    QWidget *m_owner;
    PageProvider m_activePage;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<QWebEngineView> m_printingPage;
};
