#pragma once

#include <QString>
#include <QWebEngineView>
#include <functional>
#include <memory>

class TDocHostUIHandler;

class QMenu;
class QWebEnginePage;

// The page display of one tab. It offers what the browser needs of an embeddable web control,
// raises NavigateComplete2 after every completed navigation (a finished load, successful or not,
// and a same-document address change) and asks its new-window question for every request of the
// page to open a window.
class TWebView : public QWebEngineView
{
    Q_OBJECT

public:
    explicit TWebView(QWidget *parent = nullptr);
    ~TWebView() override;

    // Raises EQuelvardError with a message saying why when the text gives no address we load.
    void Navigate(const QString &url);
    void GoBack();
    void GoForward();
    void Refresh();
    // Reloads the page and everything it uses from the server, never from the cache.
    void RefreshBypassingCache();
    void Stop();

    // The zoom of this view's pages in percent. It belongs to the view, lasts across its
    // navigations and is never stored.
    int ZoomPercent() const { return m_zoomPercent; }
    void SetZoomPercent(int percent);
    // The zoom level one step in (direction > 0) or out (< 0) from percent, or 100 for 0;
    // held within the smallest and largest levels.
    static int ZoomStep(int percent, int direction);

    QString LocationURL() const;
    QString LocationName() const;
    bool Busy() const { return m_busy; }
    bool Silent() const { return m_silent; }
    void SetSilent(bool silent) { m_silent = silent; }

    // The browser's context menu, shown in place of the engine's own.
    QMenu *PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QMenu *menu) { m_popupMenu = menu; }

    // The handler that decides what the page's context menu is; re-attached after every
    // completed navigation by the tab.
    void SetUIHandler(const std::shared_ptr<TDocHostUIHandler> &handler) { m_uiHandler = handler; }
    std::shared_ptr<TDocHostUIHandler> UIHandler() const { return m_uiHandler.lock(); }

    // Asked, in the call that wants the window, whether the page may open one; a view that has
    // not been given the question opens none.
    using NewWindowQuestion = std::function<bool()>;
    void SetNewWindowQuestion(NewWindowQuestion question)
    {
        m_newWindowQuestion = std::move(question);
    }
    // Called when the question said yes: supplies the view the new window loads in, or nullptr
    // to drop it. `background` is true for a request to open behind the current tab.
    using NewViewFactory = std::function<TWebView *(bool background)>;
    void SetNewViewFactory(NewViewFactory factory) { m_newViewFactory = std::move(factory); }

    // The address text that Navigate would load, or an invalid QUrl with the reason.
    static QUrl AddressFromText(const QString &text, QString *whyNot = nullptr);

signals:
    void NavigateComplete2();
    // The page's own script asked to close its window.
    void CloseRequested();

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_busy = false;
    bool m_silent = false;
    int m_zoomPercent = 100;
    QMenu *m_popupMenu = nullptr;
    NewWindowQuestion m_newWindowQuestion;
    NewViewFactory m_newViewFactory;
    std::weak_ptr<TDocHostUIHandler> m_uiHandler;
};
