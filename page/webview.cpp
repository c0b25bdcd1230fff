#include "page/webview.h"

#include "app/schemehandler.h"
#include "common/errors.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "page/dochostuihandler.h"
#include "page/webpage.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <array>

namespace {

// The zoom levels a step moves between, as desktop browsers offer them.
constexpr std::array<int, 17> ZoomLevels = {25,  33,  50,  67,  75,  80,  90,  100, 110,
                                            125, 150, 175, 200, 250, 300, 400, 500};

// The schemes a typed address or favorite may use; others (javascript: above all) are refused
// so no text can run script in the current page through the address bar.
bool IsLoadableScheme(const QString &scheme)
{
    static const QStringList schemes = {
        QStringLiteral("http"),     QStringLiteral("https"), QStringLiteral("file"),
        QStringLiteral("ftp"),      QStringLiteral("about"), QStringLiteral("data"),
        QStringLiteral("quelvard"),
    };
    return schemes.contains(scheme.toLower());
}

} // namespace

TWebView::TWebView(QWidget *parent) : QWebEngineView(parent)
{
    setPage(new TWebPage(this));
    TQuelvardSchemeHandler::Install(page()->profile());
    // Every page opens at the machine's zoom, a visitor's first one after a reset too.
    SetZoomPercent(MachinePolicies::Current().ZoomPercent);
    connect(page(), &QWebEnginePage::loadStarted, this, [this] { m_busy = true; });
    connect(page(), &QWebEnginePage::loadFinished, this, [this](bool) {
        m_busy = false;
        emit NavigateComplete2();
    });
    // A same-document navigation (an anchor, history.pushState) changes the address with no load.
    connect(page(), &QWebEnginePage::urlChanged, this, [this](const QUrl &) {
        if (!m_busy)
            emit NavigateComplete2();
    });
    connect(page(), &QWebEnginePage::windowCloseRequested, this, &TWebView::CloseRequested);
}

TWebView::~TWebView() = default;

bool TWebView::event(QEvent *event)
{
    // The engine draws the page into a child widget of its own, made and remade as the
    // page's process comes and goes; the mouse reaches the page only through it.
    if (event->type() == QEvent::ChildAdded) {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child->isWidgetType())
            child->installEventFilter(this);
    }
    return QWebEngineView::event(event);
}

bool TWebView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        const auto *webPage = qobject_cast<const TWebPage *>(page());
        if (!webPage || !webPage->ShowsPdf())
            break;
        // The engine's PDF viewer opens a link clicked with a modifier or the middle button
        // in a way that takes the whole program down: such a click is dropped (the middle
        // button) or reaches the page as a plain one.
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::MiddleButton || (mouse->buttons() & Qt::MiddleButton))
            return true;
        mouse->setModifiers(mouse->modifiers() & ~(Qt::ShiftModifier | Qt::ControlModifier |
                                                   Qt::MetaModifier | Qt::AltModifier));
        break;
    }
    default:
        break;
    }
    return QWebEngineView::eventFilter(watched, event);
}

QUrl TWebView::AddressFromText(const QString &text, QString *whyNot)
{
    auto refuse = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return QUrl();
    };
    if (text.trimmed().isEmpty())
        return refuse(QStringLiteral("No address was given."));
    QUrl url(text, QUrl::TolerantMode);
    // Text that names no scheme of ours ("example.com", "localhost:8080", "/tmp/page.html")
    // is completed the way a user typing an address expects.
    if (!url.isValid() || !IsLoadableScheme(url.scheme()))
        url = QUrl::fromUserInput(text);
    if (!url.isValid())
        return refuse(QStringLiteral("\"%1\" is not a valid address.").arg(text));
    if (!IsLoadableScheme(url.scheme()))
        return refuse(QStringLiteral("The protocol \"%1\" is not supported.").arg(url.scheme()));
    return url;
}

void TWebView::Navigate(const QString &url)
{
    QString reason;
    const QUrl address = AddressFromText(url, &reason);
    if (!address.isValid())
        throw EQuelvardError(reason);
    load(address);
}

void TWebView::GoBack()
{
    triggerPageAction(QWebEnginePage::Back);
}

void TWebView::GoForward()
{
    triggerPageAction(QWebEnginePage::Forward);
}

void TWebView::Refresh()
{
    triggerPageAction(QWebEnginePage::Reload);
}

void TWebView::RefreshBypassingCache()
{
    triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
}

int TWebView::ZoomStep(int percent, int direction)
{
    if (direction == 0)
        return 100;
    if (direction > 0) {
        for (int level : ZoomLevels) {
            if (level > percent)
                return level;
        }
        return ZoomLevels.back();
    }
    for (auto it = ZoomLevels.rbegin(); it != ZoomLevels.rend(); ++it) {
        if (*it < percent)
            return *it;
    }
    return ZoomLevels.front();
}

void TWebView::SetZoomPercent(int percent)
{
    m_zoomPercent = qBound(ZoomLevels.front(), percent, ZoomLevels.back());
    setZoomFactor(m_zoomPercent / 100.0);
}

void TWebView::Stop()
{
    triggerPageAction(QWebEnginePage::Stop);
}

QString TWebView::LocationURL() const
{
    return page()->url().toString();
}

QString TWebView::LocationName() const
{
    // For a document without a title the engine reports its address instead; the page has
    // no name then.
    const QString title = page()->title();
    const QUrl url = page()->url();
    QString withoutScheme = url.toString(QUrl::RemoveScheme);
    if (withoutScheme.startsWith(QLatin1String("//")))
        withoutScheme.remove(0, 2);
    if (title == url.toString() || title == withoutScheme ||
        title == url.toDisplayString(QUrl::RemoveScheme).mid(2))
        return QString();
    return title;
}

QWebEngineView *TWebView::createWindow(QWebEnginePage::WebWindowType type)
{
    if (!m_newWindowQuestion || !m_newWindowQuestion() || !m_newViewFactory)
        return nullptr;
    return m_newViewFactory(type == QWebEnginePage::WebBrowserBackgroundTab);
}

void TWebView::contextMenuEvent(QContextMenuEvent *event)
{
    // Whatever was clicked, the handler decides; without one no menu is shown at all, never the
    // engine's own.
    event->accept();
    Guard::Run("contextMenuEvent", [&] {
        if (std::shared_ptr<TDocHostUIHandler> handler = UIHandler())
            handler->ShowContextMenu(event->globalPos());
    });
}
