// The popup blocker as the main window and the tabs see it: the blocking decision, the
// notice bar with its "Click Here" link, and the Allowed Sites command.
#include "main/browsertab.h"
#include "main/mainwindow.h"
#include "main/webview.h"
#include "ui_mainwindow.h"

#include "common/dialogseam.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "common/plaintooltip.h"
#include "common/textutils.h"
#include "popups/allowedsites.h"
#include "popups/popups.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QTimer>

namespace {

constexpr int OpenBarHeight = 30;
// One pixel per tick: 31 heights in about a third of a second, each one painted.
constexpr int StepIntervalMs = 10;
const char *const StepTimerName = "PopupBarTimer";

QString NoticeText(const QString &domain)
{
    QString text = QStringLiteral(
        "Quelvard prevented \"%Domain%\" from opening popup windows. To view popups");
    const QString placeholder = QStringLiteral("%Domain%");
    const qsizetype at = text.indexOf(placeholder, 0, Qt::CaseInsensitive);
    if (at >= 0)
        text.replace(at, placeholder.size(), domain);
    return text;
}

// Keeps the notice and its link inside the bar: the notice sizes itself to its text and the
// link follows 9 pixels after its end, so the bar reads as one sentence. When the bar is too
// narrow for the whole sentence (a long domain, a narrow window), the domain and then the
// sentence are shortened with an ellipsis rather than letting "Click Here" slide out of sight.
class TNoticeFitter : public QObject
{
public:
    explicit TNoticeFitter(TfrmQuelvardBrowser *form) : QObject(form), m_form(form)
    {
        setObjectName(QStringLiteral("PopupNoticeFitter"));
        form->ui->pnlPopups->installEventFilter(this);
    }

    static TNoticeFitter *Of(TfrmQuelvardBrowser *form)
    {
        auto *fitter = form->findChild<TNoticeFitter *>(QStringLiteral("PopupNoticeFitter"),
                                                        Qt::FindDirectChildrenOnly);
        return fitter ? fitter : new TNoticeFitter(form);
    }

    void Show(const QString &domain)
    {
        // A page asking for windows in a loop is refused once per window; fitting the same
        // sentence again each time repaints the whole window, which with software rendering
        // made 10,000 refusals take minutes.
        if (m_fitted && domain == m_domain)
            return;
        m_domain = domain;
        Fit();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && watched == m_form->ui->pnlPopups)
            Fit();
        return false;
    }

private:
    void Fit()
    {
        Ui::TfrmQuelvardBrowser *ui = m_form->ui;
        QLabel *notice = ui->lblPopups;
        QLabel *link = ui->lblClickHere;
        notice->setTextFormat(Qt::PlainText); // a domain is page-supplied text
        link->adjustSize();
        // A hidden bar has not been laid out; it will span its parent once shown.
        const QWidget *row = ui->pnlPopups->parentWidget();
        const int barWidth = row ? row->width() : ui->pnlPopups->width();
        // The empty right-hand panel is only bar colour: the sentence may run over it, so
        // the notice and its link are kept above it.
        notice->raise();
        link->raise();
        const int room = barWidth - notice->x() - 9 - link->width() - notice->x();

        const QString full = NoticeText(m_domain);
        const QFontMetrics metrics(notice->font());
        QString shown = full;
        const int overflow = metrics.horizontalAdvance(full) - room;
        if (overflow > 0) {
            const int domainRoom = metrics.horizontalAdvance(m_domain) - overflow;
            shown = NoticeText(metrics.elidedText(m_domain, Qt::ElideMiddle, qMax(0, domainRoom)));
            if (metrics.horizontalAdvance(shown) > room)
                shown = metrics.elidedText(full, Qt::ElideRight, qMax(0, room));
        }
        notice->setText(shown);
        notice->setToolTip(shown == full ? QString() : TextUtils::PlainToolTip(full));
        notice->setAccessibleName(full);
        notice->adjustSize();
        link->move(notice->width() + 17, link->y());
        m_fitted = true;
    }

    TfrmQuelvardBrowser *m_form;
    QString m_domain;
    bool m_fitted = false;
};

void ShowNotice(TfrmQuelvardBrowser *form, const QString &domain)
{
    TNoticeFitter::Of(form)->Show(domain);
}

void SetBarHeight(TfrmQuelvardBrowser *form, int height)
{
    form->ui->pnlPopups->setFixedHeight(height);
    // Lay out now so the tab strip, and the close button riding on it, move in this same step.
    if (QWidget *central = form->centralWidget()) {
        if (QLayout *layout = central->layout())
            layout->activate();
    }
    if (form->tbCloseTab && !form->tbCloseTab->isHidden())
        form->PlaceCloseTabButton();
}

QTimer *StepTimer(TfrmQuelvardBrowser *form)
{
    auto *timer =
        form->findChild<QTimer *>(QLatin1String(StepTimerName), Qt::FindDirectChildrenOnly);
    if (timer)
        return timer;
    timer = new QTimer(form);
    timer->setObjectName(QLatin1String(StepTimerName));
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(StepIntervalMs);
    QObject::connect(timer, &QTimer::timeout, form, [form, timer] {
        try {
            QFrame *bar = form->ui->pnlPopups;
            const int target = form->PopupBarTarget;
            int height = bar->maximumHeight();
            height += height < target ? 1 : (height > target ? -1 : 0);
            SetBarHeight(form, height);
            if (height == target) {
                timer->stop();
                if (target == 0)
                    bar->hide();
            }
        } catch (...) {
            timer->stop();
        }
    });
    return timer;
}

// Sends the bar toward open or closed. A call while it moves turns it round from where it
// stands, so it always ends in the state the last call asked for.
void MoveBarTo(TfrmQuelvardBrowser *form, int target)
{
    QFrame *bar = form->ui->pnlPopups;
    if (bar->isHidden()) {
        if (target == 0)
            return;
        SetBarHeight(form, 0);
        bar->show();
    } else if (form->PopupBarTarget == target) {
        return; // already there or on its way
    }
    form->PopupBarTarget = target;
    StepTimer(form)->start();
}

} // namespace

void TfrmQuelvardBrowser::LoadAllowedSites()
{
    AllowedSites = PopupStore::LoadNormalisedSites();
}

void TfrmQuelvardBrowser::UpdatePopupBar()
{
    try {
        const QString domain = GenUtilities::GetDomain(CurrentURL());
        TBrowserTab *tab = ActiveTab();
        if (!domain.isEmpty() && tab && domain == tab->BlockedDomain) {
            ShowNotice(this, domain);
            MoveBarTo(this, OpenBarHeight);
        } else {
            MoveBarTo(this, 0);
        }
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::lblClickHereClick()
{
    try {
        TBrowserTab *tab = ActiveTab();
        if (!tab || !tab->WebView)
            return;
        const QString domain =
            TextUtils::LowerCase(GenUtilities::GetDomain(tab->WebView->LocationURL()));
        // An address without a domain has nothing to allow; the unnamed value is no site.
        if (!domain.isEmpty())
            PopupStore::AddSite(domain);
        tab->BlockedDomain.clear();
        UpdatePopupBar();
        LoadAllowedSites();
        sbRefreshClick();
    } catch (...) {
    }
}

void TfrmQuelvardBrowser::PopupBlocker1Click()
{
    try {
        TfrmPopups dialog(this);
        TDialogs::Current()->ExecDialog(&dialog);
    } catch (...) {
    }
    LoadAllowedSites();
}

bool TBrowserTab::IsPopupAllowed(const QString &url)
{
    // The administrator's list for everyone counts as much as the user's own.
    return MainForm && (PopupStore::IsAllowed(MainForm->AllowedSites, url) ||
                        PopupStore::IsAllowed(MachinePolicies::Current().AllowedSites, url));
}

void TBrowserTab::HandleNewWindow(bool *cancel)
{
    try {
        const QString url = WebView ? WebView->LocationURL() : QString();
        if (IsPopupAllowed(url))
            return;
        const QString domain = GenUtilities::GetDomain(url);
        // While the bar is open for the active tab, "Click Here" allows the active page's
        // domain, so a refusal in a tab behind it must not rename the site on the bar.
        if (MainForm && (MainForm->ActiveTab() == this || MainForm->PopupBarTarget == 0))
            ShowNotice(MainForm, domain);
        BlockedDomain = domain;
        // A refusal after the page's last load (a button's script) would otherwise wait for
        // the next navigation to be told, and the person would see nothing happen at all.
        if (MainForm && MainForm->ActiveTab() == this)
            MainForm->UpdatePopupBar();
    } catch (...) {
        // Whatever went wrong, the window stays unopened.
    }
    if (cancel)
        *cancel = true;
}
