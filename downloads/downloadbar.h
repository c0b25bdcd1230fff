#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QVector>

class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class QWebEngineDownloadRequest;
class TDownloadManager;

// The strip at the foot of the window, in the colours of the popup notice bar, that lists this
// run's downloads: each file's name, its progress or how it ended, and Cancel while it runs.
// It offers nothing to open the file or its folder: from a locked browser that would start
// another program. Hidden until the first download; its close button hides it and forgets the
// downloads that have ended. It takes at most a fifth of the window's height; more rows scroll
// inside it.
class TDownloadBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr int MaxRows = 5;
    // The bar is at most the window's height divided by this.
    static constexpr int MaxWindowShare = 5;
    static const QString SavedText;
    static const QString CancelledText;

    explicit TDownloadBar(QWidget *parent);
    // Lists what `manager` starts and refuses.
    void Follow(TDownloadManager *manager);

    void AddDownload(QWebEngineDownloadRequest *request);
    void AddRefusal(const QString &name, const QString &reason);
    // The download of `request` failed, in the words given; its row no longer changes.
    void MarkFailed(QWebEngineDownloadRequest *request, const QString &text);
    void Close();
    // Forgets every row, ended or not, and hides: a new visitor's session.
    void Clear();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct TRow
    {
        QWidget *widget = nullptr;
        QLabel *state = nullptr;
        QPushButton *cancel = nullptr;
        QPointer<QWebEngineDownloadRequest> request;
        bool ended = false;
    };
    TRow &addRow(const QString &name);
    void refresh();
    void dropEndedRows(int keep);
    int maxHeight() const;
    void fit();

    QVBoxLayout *m_rows;
    QScrollArea *m_scroll;
    QPointer<QWidget> m_window;
    QVector<TRow> m_list;
    // Progress is read a few times a second rather than on each of the engine's reports.
    QTimer *m_ticks;
};
