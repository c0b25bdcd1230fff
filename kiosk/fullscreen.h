#pragma once

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QWebEngineFullScreenRequest>

class QLabel;
class QLayout;
class QTabWidget;
class QTimer;
class QWebEngineView;
class QWidget;

// A page's full screen: the window fills the screen and shows the active tab's page alone,
// every other part of it (menus, tool bars, tab row, bars) hidden until full screen ends. It
// ends on Escape, on the page's own exit, when another tab is chosen and when the page goes.
// The window is the same window: its lock and its keys are what they are outside full screen.
class TFullScreen : public QObject
{
    Q_OBJECT

public:
    static constexpr int NoticeMs = 3000;

    TFullScreen(QWidget *window, QTabWidget *tabs);
    ~TFullScreen() override;

    // Hears the view's page asking for full screen.
    void Watch(QWebEngineView *view);
    bool Active() const { return m_active; }
    void Leave();

private:
    // Its part of the program's input filter while a page is in full screen.
    bool takeEscape(QObject *watched, QEvent *event);
    void request(QWebEngineView *view, QWebEngineFullScreenRequest request);
    void enter(QWebEngineView *view);
    void restore();

    QWidget *m_window;
    QTabWidget *m_tabs;
    bool m_active = false;
    QPointer<QWebEngineView> m_view;
    QMetaObject::Connection m_viewGone;
    Qt::WindowStates m_windowState;
    bool m_documentMode = false;
    // What was hidden, and the layouts whose margins were taken, to give back on leaving.
    QList<QPointer<QWidget>> m_hidden;
    QList<QPair<QPointer<QLayout>, QMargins>> m_margins;
    QLabel *m_notice;
    QTimer *m_noticeTimer;
};
