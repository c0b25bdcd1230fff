#pragma once

#include <QObject>
#include <QString>

class QFrame;
class QLabel;
class QTimer;
class QWidget;

// The pale yellow notice bar that names a site whose popup was refused and offers "Click Here"
// to allow it. It opens and closes one pixel per step, keeps the notice and its link inside its
// width, and keeps its right-hand panel and the gap at its foot in place while it moves. It knows
// nothing of tabs or of the list of allowed sites: the window tells it what to show and hears
// when the link is used.
class TPopupBar : public QObject
{
    Q_OBJECT

public:
    static constexpr int OpenHeight = 30;

    // The bar's parts as the window's form has them: the coloured strip (hidden at start), the
    // notice, the link, the empty panel at its right end and the gap in the face colour at its
    // foot. The strip's parent lays it out with the controls below it.
    TPopupBar(QFrame *pnlPopups, QLabel *lblPopups, QLabel *lblClickHere, QWidget *Panel11,
              QWidget *Panel1, QObject *parent = nullptr);

    // The notice for domain: the template with its first "%Domain%" (any letter case) replaced.
    static QString NoticeText(const QString &domain);

    // Opens the bar naming domain when that domain is not empty and is the one the active tab
    // last refused (letter case included); closes it otherwise.
    void Update(const QString &domain, const QString &blockedDomain);
    // Names domain on the bar, shortened to fit; the bar neither opens nor closes.
    void ShowNotice(const QString &domain);
    // Sends the bar toward OpenHeight or 0. A call while it moves turns it round from where it
    // stands, so it always ends in the state the last call asked for.
    void MoveTo(int height);
    // The height the bar stands at or is moving towards: OpenHeight or 0.
    int TargetHeight() const { return m_target; }
    bool IsMoving() const;

signals:
    // "Click Here" was clicked, or pressed with Return, Enter or Space while it had the focus.
    void ClickHere();
    // Each change of the bar's height, after the controls below it have been laid out anew.
    void HeightChanged(int height);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Step();
    void SetHeight(int height);
    void PlaceParts();
    void Fit();

    QFrame *m_bar;
    QLabel *m_notice;
    QLabel *m_link;
    QWidget *m_rightPanel;
    QWidget *m_gap;
    QTimer *m_steps;
    int m_target = 0;
    QString m_domain;
    bool m_fitted = false;
};
