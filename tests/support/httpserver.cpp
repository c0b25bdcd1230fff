#include "support/httpserver.h"

#include <QBuffer>
#include <QImage>
#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::handleConnection);
}

bool TestHttpServer::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void TestHttpServer::setPage(const QString &path, const QByteArray &body,
                             const QByteArray &contentType)
{
    m_pages.insert(path, qMakePair(body, contentType));
}

void TestHttpServer::setHtml(const QString &path, const QString &title, const QString &bodyHtml)
{
    setPage(path,
            QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                           "</head><body>%2</body></html>")
                .arg(title, bodyHtml)
                .toUtf8());
}

void TestHttpServer::setPicture(const QString &path, Qt::GlobalColor colour)
{
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    setPage(path, png, "image/png");
}

QByteArray TestHttpServer::attachment(const QByteArray &name)
{
    return "application/octet-stream\r\nContent-Disposition: attachment; filename=\"" + name + "\"";
}

QString TestHttpServer::link(const QString &id, const QString &href)
{
    return QStringLiteral("<a id=\"%1\" href=\"%2\" style=\"display:block;width:300px;"
                          "height:60px\">%1</a>")
        .arg(id, href);
}

const QByteArray TestHttpServer::TrickleLine = "a trickled body's own line of bytes\n";

void TestHttpServer::setTrickle(const QString &path, const QByteArray &contentType, qint64 size,
                                int chunk, int intervalMs, qint64 cutAfter)
{
    m_trickles.insert(path, {contentType, size, chunk, intervalMs, cutAfter});
}

void TestHttpServer::trickle(QTcpSocket *socket, const QString &path, qint64 offset)
{
    const TTrickle &body = m_trickles[path];
    const qint64 end = body.cutAfter >= 0 ? qMin(body.cutAfter, body.size) : body.size;
    if (offset >= end || socket->state() != QAbstractSocket::ConnectedState) {
        socket->disconnectFromHost();
        return;
    }
    // Bytes the client has not taken yet wait in the socket, not in a growing buffer, so what
    // was sent is what reached the client's side.
    if (socket->bytesToWrite() > 0) {
        QTimer::singleShot(body.intervalMs, socket,
                           [this, socket, path, offset] { trickle(socket, path, offset); });
        return;
    }
    const qint64 count = qMin<qint64>(body.chunk, end - offset);
    QByteArray bytes;
    bytes.reserve(count);
    for (qint64 at = offset; at < offset + count; ++at)
        bytes += TrickleLine.at(at % TrickleLine.size());
    socket->write(bytes);
    m_sent[path] += count;
    QTimer::singleShot(body.intervalMs, socket, [this, socket, path, offset, count] {
        trickle(socket, path, offset + count);
    });
}

void TestHttpServer::handleConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray request = socket->property("buffer").toByteArray() + socket->readAll();
            socket->setProperty("buffer", request);
            const int end = request.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            socket->setProperty("buffer", QByteArray());
            const QList<QByteArray> firstLine = request.left(request.indexOf("\r\n")).split(' ');
            QString path = firstLine.size() > 1 ? QString::fromUtf8(firstLine.at(1)) : QString();
            const QString pathOnly = path.section(QLatin1Char('?'), 0, 0);
            m_requested << pathOnly;
            m_lastRequests.insert(pathOnly, request.left(end));
            if (m_trickles.contains(pathOnly)) {
                const TTrickle &body = m_trickles.value(pathOnly);
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + body.contentType +
                              "\r\nContent-Length: " + QByteArray::number(body.size) +
                              "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n");
                trickle(socket, pathOnly, 0);
                return;
            }
            QByteArray response;
            if (m_redirects.contains(pathOnly)) {
                response =
                    "HTTP/1.1 302 Found\r\nLocation: " + m_redirects.value(pathOnly).toEncoded() +
                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            } else if (m_pages.contains(pathOnly)) {
                const auto &page = m_pages.value(pathOnly);
                response = "HTTP/1.1 200 OK\r\nContent-Type: " + page.second +
                           "\r\nContent-Length: " + QByteArray::number(page.first.size()) +
                           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page.first;
            } else {
                const QByteArray body =
                    "<html><head><title>Not Found</title></head><body>404</body></html>";
                response = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
            }
            auto answer = [socket, response] {
                socket->write(response);
                socket->disconnectFromHost();
            };
            // The socket is the timer's context: a client that gave up takes the answer along.
            if (const int delay = m_delays.value(pathOnly))
                QTimer::singleShot(delay, socket, answer);
            else
                answer();
        });
    }
}
