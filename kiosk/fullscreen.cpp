#include "kiosk/fullscreen.h"

#include "window/inputfilter.h"

#include "common/guard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QTabWidget>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

TFullScreen::TFullScreen(QWidget *window, QTabWidget *tabs)
    : QObject(window), m_window(window), m_tabs(tabs),
      m_notice(new QLabel(QStringLiteral("Press Escape to leave full screen"), window)),
      m_noticeTimer(new QTimer(this))
{
    m_notice->setObjectName(QStringLiteral("lblFullScreenNotice"));
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setMargin(12);
    m_notice->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(0, 0, 0, 190); color: white; border-radius: 6px; }"));
    m_notice->hide();
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(NoticeMs);
    connect(m_noticeTimer, &QTimer::timeout, m_notice, &QWidget::hide);
    // Another tab chosen, or the active one closed, ends full screen.
    connect(tabs, &QTabWidget::currentChanged, this, [this] { Leave(); });
}

TFullScreen::~TFullScreen()
{
    InputFilter::Leave(this);
}

void TFullScreen::Watch(QWebEngineView *view)
{
    connect(view->page(), &QWebEnginePage::fullScreenRequested, this,
            [this, view](QWebEngineFullScreenRequest fullScreen) {
                Guard::Run("FullScreenRequested", [&] { request(view, fullScreen); });
            });
}

void TFullScreen::request(QWebEngineView *view, QWebEngineFullScreenRequest request)
{
    if (!request.toggleOn()) {
        request.accept();
        if (Active() && m_view == view)
            restore();
        return;
    }
    // Only the page in front may take the screen.
    QWidget *current = m_tabs->currentWidget();
    if (Active() || !current || !current->isAncestorOf(view)) {
        request.reject();
        return;
    }
    request.accept();
    enter(view);
}

void TFullScreen::enter(QWebEngineView *view)
{
    m_active = true;
    m_view = view;
    m_viewGone = connect(view, &QObject::destroyed, this, [this] { restore(); });
    // Everything between the window and the page that is not on the way to the page goes.
    for (QWidget *widget = view; widget && widget != m_window; widget = widget->parentWidget()) {
        QWidget *parent = widget->parentWidget();
        if (!parent)
            break;
        if (QLayout *layout = parent->layout()) {
            m_margins.append({layout, layout->contentsMargins()});
            layout->setContentsMargins(0, 0, 0, 0);
        }
        for (QObject *child : parent->children()) {
            auto *sibling = qobject_cast<QWidget *>(child);
            if (sibling && sibling != widget && !sibling->isWindow() && !sibling->isHidden() &&
                sibling != m_notice) {
                sibling->hide();
                m_hidden.append(sibling);
            }
        }
    }
    m_documentMode = m_tabs->documentMode();
    m_tabs->setDocumentMode(true); // no frame round the page
    m_windowState = m_window->windowState();
    m_window->setWindowState(m_windowState | Qt::WindowFullScreen);
    InputFilter::Join(this, TInputStage::FullScreen, [this](QObject *watched, QEvent *event) {
        return takeEscape(watched, event);
    });
    m_notice->adjustSize();
    m_notice->move((m_window->width() - m_notice->width()) / 2, 24);
    m_notice->raise();
    m_notice->show();
    m_noticeTimer->start();
}

void TFullScreen::Leave()
{
    if (!Active())
        return;
    QPointer<QWebEngineView> view = m_view;
    restore();
    // The page hears that it is no longer in full screen (its own exit button, its video).
    if (view && view->page())
        view->page()->triggerAction(QWebEnginePage::ExitFullScreen);
}

void TFullScreen::restore()
{
    if (!Active())
        return;
    m_active = false;
    InputFilter::Leave(this);
    disconnect(m_viewGone);
    m_view = nullptr;
    m_noticeTimer->stop();
    m_notice->hide();
    m_window->setWindowState(m_windowState);
    m_tabs->setDocumentMode(m_documentMode);
    for (const auto &[layout, margins] : std::as_const(m_margins)) {
        if (layout)
            layout->setContentsMargins(margins);
    }
    for (const QPointer<QWidget> &widget : std::as_const(m_hidden)) {
        if (widget)
            widget->show();
    }
    m_hidden.clear();
    m_margins.clear();
}

bool TFullScreen::takeEscape(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !Active())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || !widget ||
        widget->window() != m_window)
        return false;
    Leave();
    return true;
}
