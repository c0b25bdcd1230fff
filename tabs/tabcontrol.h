#pragma once

#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QVector>
#include <functional>

// A tab bar whose tabs all have one common width, set by the tab control.
class TTabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit TTabBar(QWidget *parent = nullptr);
    int TabWidth() const { return m_tabWidth; }
    void SetTabWidth(int width);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;

private:
    int m_tabWidth = 150;
};

// The page of the tab control that holds one tab; Tag is the tab's slot in the control's Tabs.
class TTabSheet : public QWidget
{
    Q_OBJECT

public:
    explicit TTabSheet(QWidget *parent = nullptr) : QWidget(parent) {}
    int Tag = -1;
    // The caption as the program set it ("&" not yet escaped for the tab bar).
    QString Caption;
};

// What the tab control knows of a tab: its page and what it reports. TBrowserTab is the real
// one; the control's own rules are tested with a stand-in.
class TTab : public QObject
{
    Q_OBJECT

public:
    // Takes the page the tab control made for it, and frees it (with all it holds) when it goes;
    // the control then shows another page by its own rule.
    explicit TTab(TTabSheet *sheet);
    ~TTab() override;

    QPointer<TTabSheet> Sheet;

    virtual void GoHome() = 0;
    // Fits the caption to the current common tab width.
    virtual void UpdateTabCaption() = 0;

signals:
    // A navigation of this tab's page completed (its own caption not yet refreshed).
    void NavigateComplete();
    // The page asked to print itself, as the menu command does.
    void PrintRequested();
    // The page's own script asked to close its window.
    void CloseRequested();
};

// pcMain: owns the tabs and their slots (a slot is never reused: closing a tab empties it), opens
// and closes them, keeps the common tab width and the floating close button in place. Tabs are
// made by the factory it is given. Of what tabs report it passes on only what the active tab
// says, except that a completed navigation in any tab is passed on, as the window is described
// again from the active tab after every one.
class TTabControl : public QTabWidget
{
    Q_OBJECT

public:
    // Builds a tab in the page given, around `content` when the tab is to take what another
    // part already made (a page's window); nullptr when it could not be made (it then says why
    // in the log), and nothing is added.
    using TTabFactory = std::function<TTab *(TTabSheet *sheet, QObject *content)>;
    // Where a new tab opens, always at the end of the row: in front and sent to the start page,
    // in front for a page's window to load into, or behind the active tab for the same.
    enum class TOpen { Home, InFront, Behind };

    explicit TTabControl(QWidget *parent = nullptr);
    ~TTabControl() override;

    void SetTabFactory(TTabFactory factory) { m_factory = std::move(factory); }
    // The button floating over the right end of the tab row, a child of the window: shown from
    // the second tab on.
    void SetCloseButton(QWidget *button) { m_closeButton = button; }
    TTabBar *Bar() const { return m_bar; }

    // One slot per tab ever opened; slot i holds the tab whose page's Tag is i, or nullptr.
    const QVector<TTab *> &Tabs() const { return m_tabs; }
    int TabCount() const;
    // The Tag of the active page when its slot is filled, otherwise -1.
    int ActiveTabIndex() const;
    TTab *ActiveTab() const;

    // `content` is handed to the factory: what the new tab shows instead of its own page.
    TTab *NewTab(TOpen open, QObject *content = nullptr);
    // Closes the active tab unless it is the only one.
    void CloseActiveTab();
    // Closes `tab` where it stands once the page asking has finished with it, unless it is the
    // last; a tab behind the active one goes without changing which tab is in front.
    void CloseTabOf(TTab *tab);
    // Closes every tab but `keep`, which stays where it is (the active one stays active).
    void CloseOthers(TTab *keep);
    // Frees every tab, without a word to anyone: the window is going.
    void DeleteTabs();

    int TabWidth() const { return m_bar->TabWidth(); }
    void SetTabWidth(int width) { m_bar->SetTabWidth(width); }
    // The width rule on its own: Available = control width - 75, N tabs.
    static int ComputeTabWidth(int available, int tabCount, int currentWidth);
    void ResizeTabs();
    // ResizeTabs, then every tab's caption to the new width in slot order; a tab that fails does
    // not stop the others.
    void FitTabs();
    // Shows title on sheet's tab, shortened to the common width as the tab bar's font measures.
    void ShowCaption(TTabSheet *sheet, const QString &title);
    // The caption rule on its own: the longest prefix whose width before its last character
    // stays below limit; cut text is trimmed and "..." appended. `measure` gives a text's width.
    static QString ShortenCaption(const QString &title, int limit,
                                  const std::function<int(const QString &)> &measure);
    // At the window's right end, just above the top of the tab row.
    void PlaceCloseButton();

    // Calls `handler` with a tab's signal while that tab is the active one, and never otherwise:
    // the way the window hears tabs.
    template <typename Tab, typename Handler, typename... Args>
    QMetaObject::Connection ForwardWhileActive(Tab *tab, void (Tab::*signal)(Args...),
                                               Handler handler)
    {
        return connect(tab, signal, this, [this, tab, handler](Args... arguments) {
            if (ActiveTab() == tab)
                handler(arguments...);
        });
    }

signals:
    void Resized();
    // The user made another tab the active one (the program's own changes do not count).
    void TabChangedByUser();
    // The program made another tab the active one: a tab closed, or a page's window opened in
    // front. (A new tab sent to the start page is described when that page completes.)
    void ActiveTabReplaced();
    // A navigation completed in some tab, active or not.
    void TabNavigateComplete();
    // The active tab's page asked to print.
    void PrintRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void connectTab(TTab *tab);
    // Frees the tab in slot `index`; when it was the active one, the page that followed takes
    // its place, or the first page after the last.
    void closeTab(int index);
    void selectPageByProgram(int pageIndex);

    TTabBar *m_bar;
    TTabFactory m_factory;
    QVector<TTab *> m_tabs;
    QPointer<QWidget> m_closeButton;
    // Set while the program changes the active page, which is not the user's choice.
    bool m_programTabChange = false;
};
