#include "downloads/downloadbar.h"

#include "common/guard.h"
#include "downloads/downloadmanager.h"
#include "downloads/downloadrules.h"
#include "widgets/plaintooltip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>

const QString TDownloadBar::SavedText = QStringLiteral("Saved in Downloads");
const QString TDownloadBar::CancelledText = QStringLiteral("Cancelled");

namespace {

constexpr int TickMs = 250;
constexpr int NameWidth = 240;

// What a row says of its request; `ended` tells whether it can still change.
QString StateText(const QWebEngineDownloadRequest *request, bool *ended)
{
    *ended = true;
    if (!request)
        return QStringLiteral("Failed");
    switch (request->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        return TDownloadBar::SavedText;
    case QWebEngineDownloadRequest::DownloadCancelled:
        return TDownloadBar::CancelledText;
    case QWebEngineDownloadRequest::DownloadInterrupted:
        return DownloadRules::FailureText(request->interruptReason());
    default:
        *ended = false;
        return DownloadRules::ProgressText(request->receivedBytes(), request->totalBytes());
    }
}

} // namespace

TDownloadBar::TDownloadBar(QWidget *parent)
    : QFrame(parent), m_rows(new QVBoxLayout), m_scroll(new QScrollArea(this)),
      m_ticks(new QTimer(this))
{
    setObjectName(QStringLiteral("pnlDownloads"));
    setAccessibleName(QStringLiteral("Downloads"));
    setAutoFillBackground(true);
    QPalette barPalette = palette();
    barPalette.setColor(QPalette::Window, QColor(255, 255, 217));
    setPalette(barPalette);

    auto *close = new QToolButton(this);
    close->setObjectName(QStringLiteral("tbCloseDownloads"));
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &TDownloadBar::Close);

    // Rows beyond the bar's share of the window scroll inside it.
    auto *list = new QWidget(m_scroll);
    list->setAutoFillBackground(false);
    list->setLayout(m_rows);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(2);
    m_rows->addStretch(1);
    m_scroll->setObjectName(QStringLiteral("scrDownloads"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setWidget(list);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 3, 3);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(close, 0, Qt::AlignTop);
    if (parent) {
        m_window = parent->window();
        m_window->installEventFilter(this);
    }

    m_ticks->setInterval(TickMs);
    connect(m_ticks, &QTimer::timeout, this, &TDownloadBar::refresh);
    hide();
}

void TDownloadBar::Follow(TDownloadManager *manager)
{
    connect(manager, &TDownloadManager::Started, this, &TDownloadBar::AddDownload);
    connect(manager, &TDownloadManager::Refused, this, &TDownloadBar::AddRefusal);
    connect(manager, &TDownloadManager::Failed, this, &TDownloadBar::MarkFailed);
    // The next visitor sees none of the last one's rows.
    connect(manager, &TDownloadManager::SessionEnded, this, &TDownloadBar::Clear);
}

TDownloadBar::TRow &TDownloadBar::addRow(const QString &name)
{
    dropEndedRows(MaxRows - 1);
    TRow row;
    row.widget = new QWidget(this);
    auto *layout = new QHBoxLayout(row.widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *nameLabel = new QLabel(row.widget);
    nameLabel->setObjectName(QStringLiteral("lblDownloadName"));
    nameLabel->setTextFormat(Qt::PlainText); // the name comes from the page
    // A long name is shortened in the middle, so it can neither widen the window nor hide
    // its extension.
    const QString shown = nameLabel->fontMetrics().elidedText(name, Qt::ElideMiddle, NameWidth);
    nameLabel->setText(shown);
    nameLabel->setAccessibleName(name);
    nameLabel->setToolTip(shown == name ? QString() : TextUtils::PlainToolTip(name));
    row.state = new QLabel(row.widget);
    row.state->setObjectName(QStringLiteral("lblDownloadState"));
    row.state->setTextFormat(Qt::PlainText);
    row.state->setWordWrap(true);
    row.state->setMinimumWidth(0);
    row.state->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row.cancel = new QPushButton(QStringLiteral("Cancel"), row.widget);
    row.cancel->setObjectName(QStringLiteral("btnCancelDownload"));
    row.cancel->hide();
    layout->addWidget(nameLabel);
    layout->addWidget(row.state, 1);
    layout->addWidget(row.cancel);
    m_rows->insertWidget(m_rows->count() - 1, row.widget);
    m_list.append(row);
    show();
    fit();
    return m_list.last();
}

void TDownloadBar::AddDownload(QWebEngineDownloadRequest *request)
{
    Guard::Run("TDownloadBar::AddDownload", [this, request] {
        TRow &row = addRow(request->downloadFileName());
        row.request = request;
        row.cancel->show();
        connect(row.cancel, &QPushButton::clicked, request, &QWebEngineDownloadRequest::cancel);
        connect(request, &QWebEngineDownloadRequest::stateChanged, this, &TDownloadBar::refresh);
        refresh();
        m_ticks->start();
    });
}

void TDownloadBar::AddRefusal(const QString &name, const QString &reason)
{
    Guard::Run("TDownloadBar::AddRefusal", [this, &name, &reason] {
        TRow &row = addRow(name);
        row.state->setText(reason);
        row.ended = true;
    });
}

void TDownloadBar::MarkFailed(QWebEngineDownloadRequest *request, const QString &text)
{
    for (TRow &row : m_list) {
        if (row.ended || row.request != request)
            continue;
        row.ended = true;
        row.state->setText(text);
        row.cancel->hide();
    }
}

void TDownloadBar::refresh()
{
    bool running = false;
    for (TRow &row : m_list) {
        if (row.ended)
            continue;
        row.state->setText(StateText(row.request, &row.ended));
        row.cancel->setVisible(!row.ended);
        running = running || !row.ended;
    }
    if (!running)
        m_ticks->stop();
    fit(); // a reason may take two lines
}

void TDownloadBar::dropEndedRows(int keep)
{
    for (int i = 0; i < m_list.size() && m_list.size() > keep;) {
        if (m_list.at(i).ended) {
            delete m_list.at(i).widget;
            m_list.removeAt(i);
        } else {
            ++i;
        }
    }
    fit();
}

int TDownloadBar::maxHeight() const
{
    return m_window ? qMax(0, m_window->height() / MaxWindowShare) : QWIDGETSIZE_MAX;
}

// As tall as its rows, up to its share of the window.
void TDownloadBar::fit()
{
    const QMargins margins = layout()->contentsMargins();
    const int rows = m_scroll->widget()->sizeHint().height() + margins.top() + margins.bottom();
    setFixedHeight(qMin(rows, maxHeight()));
}

bool TDownloadBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Resize)
        fit();
    return QFrame::eventFilter(watched, event);
}

void TDownloadBar::Close()
{
    dropEndedRows(0);
    hide();
}

void TDownloadBar::Clear()
{
    for (const TRow &row : std::as_const(m_list))
        delete row.widget;
    m_list.clear();
    m_ticks->stop();
    fit();
    hide();
}
