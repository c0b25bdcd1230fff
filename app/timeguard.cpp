#include "app/timeguard.h"

#include "admin/adminlock.h"
#include "common/keeperclient.h"
#include "filter/navigationfilter.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>

namespace {

TTimeGuard *g_instance = nullptr;
// Warned once this close to the end.
constexpr int WarnMinutes = 5;
// Between ticks when the keeper has not said.
constexpr int DefaultTickMs = 30000;
// The browser's start waits this long for the keeper's first word, then counts it silent.
constexpr int FirstAnswerMs = 2000;

QJsonObject request(const char *op)
{
    return {{QStringLiteral("op"), QLatin1String(op)}};
}

} // namespace

TTimeGuard *TTimeGuard::Instance()
{
    return g_instance;
}

TTimeGuard::TTimeGuard(const MachinePolicies::recMachinePolicies &policies, QObject *parent)
    : QObject(parent), m_limits(policies.TimeRules), m_log(policies.log), m_timer(new QTimer(this))
{
    g_instance = this;
    connect(m_timer, &QTimer::timeout, this, &TTimeGuard::ask);
    if (!m_limits)
        return;
    // Decided before the first page loads: a run that starts outside its hours never shows one.
    bool reached = false;
    const QJsonObject answer = KeeperClient::Call(request("status"), &reached, FirstAnswerMs);
    take(answer, reached);
    m_timer->start(answer.value(QStringLiteral("tick")).toInt(DefaultTickMs));
}

void TTimeGuard::SetPolicies(const MachinePolicies::recMachinePolicies &policies)
{
    m_log = policies.log;
    if (policies.TimeRules == m_limits)
        return;
    m_limits = policies.TimeRules;
    if (m_limits) {
        // Asked at once but not waited for: the pages already open stay while it answers.
        makeBar();
        m_timer->start(DefaultTickMs);
        ask();
        return;
    }
    // No account has a rule any more: whatever the keeper last said no longer holds.
    m_timer->stop();
    const bool was = Closed();
    m_refused = false;
    m_warned = false;
    if (m_bar)
        m_bar->hide();
    if (was)
        apply();
}

TTimeGuard::~TTimeGuard()
{
    if (g_instance == this)
        g_instance = nullptr;
    TNavigationFilter::SetClosed(false);
}

QUrl TTimeGuard::ClosedPageUrl()
{
    return QUrl(QStringLiteral("quelvard://home/closed.html"));
}

QByteArray TTimeGuard::ClosedPageHtml()
{
    const TTimeGuard *guard = g_instance;
    QString when;
    if (guard && guard->m_why == QLatin1String("keeper")) {
        when = QStringLiteral("The time keeper of this computer is not running. Ask the "
                              "administrator.");
    } else if (guard && guard->m_opens.isValid()) {
        // "Today" is the keeper's, whose clock the day's budget follows.
        const QDate today = guard->m_today.isValid() ? guard->m_today : QDate::currentDate();
        const QString time = guard->m_opens.toString(QStringLiteral("HH:mm"));
        const QDate day = guard->m_opens.date();
        when = day == today ? QStringLiteral("It opens again today at %1.").arg(time)
               : day == today.addDays(1)
                   ? QStringLiteral("It opens again tomorrow at %1.").arg(time)
                   : QStringLiteral("It opens again on %1 at %2.")
                         .arg(QLocale::c().toString(day, QStringLiteral("dddd")), time);
    }
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<title>Browsing is not available</title>"
                          "<link rel=\"stylesheet\" href=\"quelvard.css\"></head>\n"
                          "<body><main><section><h1 id=\"message\">Browsing is not available "
                          "now.</h1>\n<p id=\"opens\">%1</p>\n</section></main></body></html>\n")
        .arg(when.toHtmlEscaped())
        .toUtf8();
}

bool TTimeGuard::Closed() const
{
    return m_refused && !m_lifted;
}

void TTimeGuard::SetLifted(bool lifted)
{
    if (m_lifted == lifted)
        return;
    const bool was = Closed();
    m_lifted = lifted;
    if (Closed() != was)
        apply();
}

bool TTimeGuard::shown() const
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget *window) {
        return window->isWindow() && window->isVisible() && !window->isMinimized() &&
               window->windowType() == Qt::Window && window->findChild<QWebEngineView *>();
    });
}

void TTimeGuard::ask()
{
    if (m_asking)
        return;
    m_asking = true;
    QJsonObject tick = request("tick");
    tick.insert(QStringLiteral("shown"), shown() && !m_lifted);
    QPointer<TTimeGuard> self(this);
    QThreadPool::globalInstance()->start([self, tick] {
        bool reached = false;
        const QJsonObject answer = KeeperClient::Call(tick, &reached);
        QMetaObject::invokeMethod(qApp, [self, answer, reached] {
            if (!self)
                return;
            self->m_asking = false;
            self->take(answer, reached);
        });
    });
}

void TTimeGuard::take(const QJsonObject &answer, bool reached)
{
    const bool was = Closed();
    const bool ok = reached && answer.value(QStringLiteral("ok")).toBool();
    if (!ok) {
        m_refused = true;
        m_why = QStringLiteral("keeper");
        m_opens = QDateTime();
    } else {
        m_refused = !answer.value(QStringLiteral("allowed")).toBool(true);
        m_why = answer.value(QStringLiteral("why")).toString();
        m_opens = QDateTime::fromString(answer.value(QStringLiteral("opens")).toString(),
                                        QStringLiteral("yyyy-MM-ddTHH:mm"));
        m_today = QDateTime::fromString(answer.value(QStringLiteral("now")).toString(),
                                        QStringLiteral("yyyy-MM-ddTHH:mm"))
                      .date();
        const int left = answer.value(QStringLiteral("left")).toInt(-1);
        const bool soon = !m_refused && left >= 0 && left <= WarnMinutes;
        // Shown once as the end nears; a person who closed it is not asked again.
        if (m_bar && soon && !m_warned && !m_lifted)
            m_bar->show();
        if (m_bar && !soon)
            m_bar->hide();
        m_warned = soon;
        if (ok && answer.value(QStringLiteral("tick")).toInt() > 0)
            m_timer->setInterval(answer.value(QStringLiteral("tick")).toInt());
    }
    if (m_refused && m_bar)
        m_bar->hide();
    // A late answer to a question asked before the rules went.
    if (!m_limits)
        m_refused = false;
    // Pages are sent away once, as browsing closes; the filter keeps them away after that.
    if (Closed() != was)
        apply();
    if (Closed() && !was)
        Report(QStringLiteral("time"), QUrl(), m_why);
}

void TTimeGuard::apply()
{
    const bool closed = Closed();
    TNavigationFilter::SetClosed(closed);
    if (closed) {
        // Every page, a page's hidden window included, leaves the web at once.
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget *widget : widgets) {
            if (auto *view = qobject_cast<QWebEngineView *>(widget)) {
                if (view->url() != ClosedPageUrl())
                    view->load(ClosedPageUrl());
            }
        }
    }
    emit ClosedChanged(closed);
}

void TTimeGuard::Attach(QBoxLayout *layout, TAdminLock *lock)
{
    if (m_layout)
        return;
    m_layout = layout;
    connect(lock, &TAdminLock::LockChanged, this, [this](bool locked) { SetLifted(!locked); });
    SetLifted(!lock->IsLocked());
    makeBar();
}

void TTimeGuard::makeBar()
{
    if (!m_limits || m_bar || !m_layout)
        return;
    QBoxLayout *layout = m_layout;
    auto *bar = new QFrame(layout->parentWidget());
    bar->setObjectName(QStringLiteral("timeBar"));
    bar->setFrameShape(QFrame::StyledPanel);
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::ToolTipBase);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 4, 8, 4);
    auto *text = new QLabel(QStringLiteral("Browsing ends in %1 minutes.").arg(WarnMinutes), bar);
    text->setObjectName(QStringLiteral("timeBarText"));
    text->setForegroundRole(QPalette::ToolTipText);
    auto *close = new QPushButton(QStringLiteral("Close"), bar);
    close->setObjectName(QStringLiteral("timeBarClose"));
    connect(close, &QPushButton::clicked, bar, &QWidget::hide);
    row->addWidget(text, 1);
    row->addWidget(close);
    bar->hide();
    layout->insertWidget(0, bar);
    m_bar = bar;
}

void TTimeGuard::Report(const QString &kind, const QUrl &address, const QString &rule)
{
    if (m_log == MachinePolicies::Log::Off)
        return;
    const QUrl kept =
        m_log == MachinePolicies::Log::Full
            ? address
            : address.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    QJsonObject entry = request("log");
    entry.insert(QStringLiteral("kind"), kind);
    entry.insert(QStringLiteral("address"), kept.toString(QUrl::FullyEncoded));
    entry.insert(QStringLiteral("rule"), rule);
    QThreadPool::globalInstance()->start([entry] { KeeperClient::Call(entry); });
}
