#include "support/keeperprocess.h"

#include "common/keeperclient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

KeeperProcess::KeeperProcess(int minuteMs, const QString &start)
    : m_minuteMs(minuteMs), m_start(start)
{
}

KeeperProcess::~KeeperProcess()
{
    stop();
    KeeperProtocol::OverrideSocketPath(QString());
}

bool KeeperProcess::start(QString *why)
{
    QStringList arguments{QStringLiteral("--socket"),    socket(),
                          QStringLiteral("--state"),     m_dir.path() + QStringLiteral("/state"),
                          QStringLiteral("--minute-ms"), QString::number(m_minuteMs)};
    if (!m_start.isEmpty())
        arguments << QStringLiteral("--clock-start") << m_start;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral(QUELVARD_KEEPER_PROGRAM), arguments);
    KeeperProtocol::OverrideSocketPath(socket());
    // Ready once it answers; a keeper that died says why in its output.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        bool reached = false;
        KeeperClient::Call({{QStringLiteral("op"), QStringLiteral("status")}}, &reached, 500,
                           socket());
        if (reached)
            return true;
        if (m_process.state() == QProcess::NotRunning)
            break;
        m_process.waitForFinished(50);
    }
    *why =
        QStringLiteral("the keeper did not answer: ") + QString::fromLocal8Bit(m_process.readAll());
    return false;
}

void KeeperProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QJsonObject KeeperProcess::ask(const QJsonObject &request) const
{
    return KeeperClient::Call(request, nullptr, 3000, socket());
}
