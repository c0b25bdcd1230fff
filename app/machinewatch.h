#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// Tells a running browser that the administrator changed the machine's settings: the store,
// the compiled address lists beside it, the shared favorites. A command writes several files
// one after the other, so a change is reported once the folder has been quiet for a moment
// (never later than MostWaitMs after it began), and only when something in it really differs.
// The store's folder is also held open for the whole run: quelvard-admin finds the browsers
// to name after a change by the processes holding it.
class TMachineWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int QuietMs = 250;
    static constexpr int MostWaitMs = 1200;

    explicit TMachineWatch(QObject *parent = nullptr);
    ~TMachineWatch() override;

signals:
    void Changed();

private:
    void arm();
    void noticed();
    void settled();

    QFileSystemWatcher *m_watcher;
    QTimer *m_quiet;
    QElapsedTimer m_since; // since the first event not yet reported
    QString m_seen;        // what the folder held when last looked at
    int m_folder = -1;     // the store's folder, held open
};
