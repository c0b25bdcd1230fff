#include "permissions/permissionbar.h"

#include "common/guard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <algorithm>
#include <utility>

namespace {
// Every document of the page, in a world of the program's own that the page's scripts cannot
// reach: the top one asks each frame it can see (frames of other sites included, through their
// windows) to say where it is from, and counts the answers. The sender's site of a message is
// the browser's to state, so no page can answer for a frame that is not there. Registered first
// and in the capture phase, these listeners keep the page's own from hearing the messages.
const char FramesScript[] = R"JS(
(function () {
    const ask = 'quelvard-frames-ask', here = 'quelvard-frames-here';
    if (window !== window.top) {
        window.addEventListener('message', function (e) {
            if (e.source === window.top && e.data && typeof e.data[ask] === 'string') {
                e.stopImmediatePropagation();
                window.top.postMessage({[here]: e.data[ask]}, '*');
            }
        }, true);
        return;
    }
    let round = null;
    window.addEventListener('message', function (e) {
        if (e.data && typeof e.data[here] === 'string') {
            e.stopImmediatePropagation();
            if (round && e.data[here] === round.id) {
                round.sites.add(e.origin);
                ++round.answers;
            }
        }
    }, true);
    window.quelvardFrames = {
        start: function () {
            round = {id: String(Math.random()), sites: new Set([location.origin]), asked: 0,
                     answers: 0};
            const walk = function (w) {
                for (let i = 0; i < w.frames.length; ++i) {
                    ++round.asked;
                    w.frames[i].postMessage({[ask]: round.id}, '*');
                    walk(w.frames[i]);
                }
            };
            walk(window);
            return true;
        },
        result: function () {
            return round && round.answers >= round.asked ? Array.from(round.sites) : null;
        }
    };
})();
)JS";
constexpr int FrameCheckMs = 250;
constexpr int AnswerPollMs = 100;
constexpr int AnswerPolls = 20;
} // namespace

TPermissionBar::TPermissionBar(QWebEnginePage *page, TPermissionPolicy &policy, QWidget *parent)
    : QFrame(parent), m_page(page), m_policy(policy), m_question(new QLabel(this)),
      m_allow(new QPushButton(QStringLiteral("Allow"), this)),
      m_deny(new QPushButton(QStringLiteral("Deny"), this)), m_arm(new QTimer(this)),
      m_frameCheck(new QTimer(this))
{
    setObjectName(QStringLiteral("PermissionBar"));
    m_question->setObjectName(QStringLiteral("lblPermission"));
    m_allow->setObjectName(QStringLiteral("btnPermissionAllow"));
    m_deny->setObjectName(QStringLiteral("btnPermissionDeny"));
    // The site's name comes from the page; it is shown, never read as markup.
    m_question->setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
    QPalette barPalette = palette();
    barPalette.setColor(QPalette::Window, QColor(255, 255, 217));
    barPalette.setColor(QPalette::WindowText, Qt::black);
    setPalette(barPalette);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->addWidget(m_question, 1);
    layout->addWidget(m_allow);
    layout->addWidget(m_deny);
    hide();

    // Never early: a coarse timer may fire a little before its time.
    m_arm->setTimerType(Qt::PreciseTimer);
    m_arm->setSingleShot(true);
    m_arm->setInterval(ArmMs);
    connect(m_arm, &QTimer::timeout, this, [this] {
        m_allow->setEnabled(true);
        m_deny->setEnabled(true);
    });
    m_frameCheck->setSingleShot(true);
    m_frameCheck->setInterval(FrameCheckMs);
    connect(m_frameCheck, &QTimer::timeout, this, [this] { checkFrames(); });

    QWebEngineScript frames;
    frames.setName(QStringLiteral("quelvard-frames"));
    frames.setSourceCode(QString::fromUtf8(FramesScript));
    frames.setWorldId(QWebEngineScript::ApplicationWorld);
    frames.setInjectionPoint(QWebEngineScript::DocumentCreation);
    frames.setRunsOnSubFrames(true);
    page->scripts().insert(frames);

    connect(m_allow, &QPushButton::clicked, this, [this] { Answer(true); });
    connect(m_deny, &QPushButton::clicked, this, [this] { Answer(false); });
    connect(page, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                Guard::Run("PermissionRequested", [&] { Request(origin, feature); });
            });
    connect(page, &QWebEnginePage::featurePermissionRequestCanceled, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                m_waiting.removeIf([&](const TRequest &request) {
                    return request.origin == origin && request.feature == feature;
                });
                settle();
            });
    // The page the questions came from is going, or gone (its address changes as the next
    // one commits, before that one's scripts can ask anything).
    connect(page, &QWebEnginePage::loadStarted, this, [this] { dropAll(); });
    connect(page, &QWebEnginePage::urlChanged, this, [this] { dropAll(); });
}

void TPermissionBar::Request(const QUrl &origin, TPermissionPolicy::TFeature feature)
{
    m_waiting.append({origin, feature});
    settle();
}

void TPermissionBar::Answer(bool allowed)
{
    if (m_waiting.isEmpty())
        return;
    const TRequest request = m_waiting.takeFirst();
    m_policy.Remember(request.origin, request.feature, allowed);
    answerEngine(request, allowed);
    // The next question is a new one, even when it reads the same.
    m_shown.reset();
    // Waiting requests of the same site are answered by what was just said.
    settle();
}

void TPermissionBar::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // A tab brought forward shows its question only now.
    if (m_shown)
        arm();
}

void TPermissionBar::arm()
{
    m_allow->setEnabled(false);
    m_deny->setEnabled(false);
    m_arm->start();
}

void TPermissionBar::answerEngine(const TRequest &request, bool allowed)
{
    if (m_page)
        m_page->setFeaturePermission(request.origin, request.feature,
                                     allowed ? QWebEnginePage::PermissionGrantedByUser
                                             : QWebEnginePage::PermissionDeniedByUser);
}

void TPermissionBar::dropAll()
{
    ++m_generation;
    m_checking = false;
    m_frameCheck->stop();
    const QList<TRequest> dropped = std::exchange(m_waiting, {});
    for (const TRequest &request : dropped)
        answerEngine(request, false);
    settle();
}

void TPermissionBar::settle()
{
    for (qsizetype i = 0; i < m_waiting.size();) {
        const TRequest request = m_waiting.at(i);
        const TPermissionPolicy::TAnswer answer = m_policy.Decide(request.origin, request.feature);
        if (answer == TPermissionPolicy::TAnswer::Ask) {
            ++i;
            continue;
        }
        m_waiting.removeAt(i);
        answerEngine(request, answer == TPermissionPolicy::TAnswer::Allow);
    }
    if (m_waiting.isEmpty()) {
        m_shown.reset();
        m_arm->stop();
        hide();
        return;
    }
    const TRequest &first = m_waiting.first();
    m_question->setText(
        TPermissionPolicy::Question(first.origin, first.feature, m_page ? m_page->url() : QUrl()));
    if (!m_shown || !(*m_shown == first)) {
        m_shown = first;
        arm();
    }
    show();
    if (!m_checking && !m_frameCheck->isActive() &&
        std::any_of(m_waiting.cbegin(), m_waiting.cend(),
                    [this](const TRequest &request) { return fromAFrame(request); }))
        m_frameCheck->start();
}

bool TPermissionBar::fromAFrame(const TRequest &request) const
{
    return m_page &&
           TPermissionPolicy::Site(request.origin) != TPermissionPolicy::Site(m_page->url());
}

void TPermissionBar::checkFrames()
{
    if (!m_page || m_checking)
        return;
    m_checking = true;
    const int generation = m_generation;
    m_page->runJavaScript(
        QStringLiteral("window.quelvardFrames ? window.quelvardFrames.start() : false"),
        QWebEngineScript::ApplicationWorld, [self = QPointer(this), generation](const QVariant &) {
            if (self)
                self->pollFrames(generation, AnswerPolls);
        });
}

void TPermissionBar::pollFrames(int generation, int triesLeft)
{
    if (!m_page || generation != m_generation)
        return;
    m_page->runJavaScript(
        QStringLiteral("window.quelvardFrames ? window.quelvardFrames.result() : null"),
        QWebEngineScript::ApplicationWorld,
        [self = QPointer(this), generation, triesLeft](const QVariant &sites) {
            if (!self || generation != self->m_generation)
                return;
            if (sites.userType() == QMetaType::QVariantList) {
                self->m_checking = false;
                self->keepSites(sites.toStringList());
                emit self->FramesChecked();
            } else if (triesLeft > 1) {
                // Not every frame has answered yet.
                QTimer::singleShot(AnswerPollMs, self.data(), [self, generation, triesLeft] {
                    if (self)
                        self->pollFrames(generation, triesLeft - 1);
                });
            } else {
                // A frame that never answers (one without scripts) cannot tell a site gone:
                // nothing is dropped on a look that did not finish.
                self->m_checking = false;
                self->settle();
            }
        });
}

void TPermissionBar::keepSites(const QStringList &sites)
{
    QSet<QString> present;
    for (const QString &site : sites)
        present.insert(TPermissionPolicy::Site(QUrl(site)));
    for (qsizetype i = 0; i < m_waiting.size();) {
        const TRequest request = m_waiting.at(i);
        if (fromAFrame(request) && !present.contains(TPermissionPolicy::Site(request.origin))) {
            m_waiting.removeAt(i);
            answerEngine(request, false);
        } else {
            ++i;
        }
    }
    settle();
}
