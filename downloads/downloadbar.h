#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QVector>

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class QWebEngineDownloadRequest;
class TDownloadManager;

// The strip at the foot of the window, in the colours of the popup notice bar, that lists this
// run's downloads: each file's name, its progress or how it ended, and Cancel while it runs.
// It offers nothing to open the file or its folder: from a locked browser that would start
// another program. Hidden until the first download; its close button hides it and forgets the
// downloads that have ended.
class TDownloadBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr int MaxRows = 5;
    static const QString SavedText;
    static const QString CancelledText;

    explicit TDownloadBar(QWidget *parent);
    // Lists what `manager` starts and refuses.
    void Follow(TDownloadManager *manager);

    void AddDownload(QWebEngineDownloadRequest *request);
    void AddRefusal(const QString &name, const QString &reason);
    void Close();
    // Forgets every row, ended or not, and hides: a new visitor's session.
    void Clear();

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

    QVBoxLayout *m_rows;
    QVector<TRow> m_list;
    // Progress is read a few times a second rather than on each of the engine's reports.
    QTimer *m_ticks;
};
