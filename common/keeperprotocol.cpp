#include "common/keeperprotocol.h"

#include "config.h"

#include <QJsonDocument>
#include <QtEndian>

namespace KeeperProtocol {

namespace {
QString g_socketOverride;
}

QString SocketPath()
{
    return g_socketOverride.isEmpty()
               ? QStringLiteral(QUELVARD_RUNTIME_DIR "/quelvard/keeper.socket")
               : g_socketOverride;
}

void OverrideSocketPath(const QString &path)
{
    g_socketOverride = path;
}

QByteArray Frame(QJsonObject message)
{
    message.insert(QStringLiteral("v"), Version);
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QByteArray framed(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), framed.data());
    return framed + body;
}

QJsonObject Error(const QString &why)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
}

TReader::TResult TReader::Next(QJsonObject *message, QString *error)
{
    if (m_buffer.size() < 4)
        return TResult::NeedMore;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
    if (length > quint32(MaxMessage)) {
        *error = QStringLiteral("message too long");
        return TResult::Bad;
    }
    if (m_buffer.size() < qsizetype(4 + length))
        return TResult::NeedMore;
    const QByteArray body = m_buffer.mid(4, length);
    m_buffer.remove(0, 4 + length);
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("not a JSON object");
        return TResult::Bad;
    }
    *message = document.object();
    if (message->value(QStringLiteral("v")).toInt(-1) != Version) {
        *error = QStringLiteral("version %1 is not spoken here").arg(Version);
        return TResult::Bad;
    }
    return TResult::Message;
}

} // namespace KeeperProtocol
