#include "support/httpserver.h"

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
