#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The time keeper as a real process on a socket of its own, which this process's browser and
// administrator's command are pointed at. A minute of its clock lasts `minuteMs`, and its clock
// starts at `start` (local "yyyy-MM-ddTHH:mm") when given.
class KeeperProcess
{
public:
    explicit KeeperProcess(int minuteMs = 60000, const QString &start = QString());
    ~KeeperProcess();

    // False (with the keeper's output in `why`) when it did not come to answer.
    bool start(QString *why);
    void stop();
    QString socket() const { return m_dir.path() + QStringLiteral("/keeper.socket"); }
    // One request, its answer.
    QJsonObject ask(const QJsonObject &request) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_minuteMs;
    QString m_start;
};
