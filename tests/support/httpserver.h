#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A loopback HTTP server for tests: serves fixed pages by path, records what was asked for.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpServer(QObject *parent = nullptr);
    bool start();
    QUrl url(const QString &path = QStringLiteral("/")) const;
    // Serves body at path with the given content type (HTML by default).
    void setPage(const QString &path, const QByteArray &body,
                 const QByteArray &contentType = QByteArrayLiteral("text/html; charset=utf-8"));
    // A page with a title and some body HTML.
    void setHtml(const QString &path, const QString &title, const QString &bodyHtml = QString());
    // A PNG picture of one colour, 120 by 80 pixels.
    void setPicture(const QString &path, Qt::GlobalColor colour);
    // The content type of a file the browser is to save as `name`, for setPage and setTrickle.
    static QByteArray attachment(const QByteArray &name);
    // A link of its own line, for a click on it by its id (TestPages::clickElement).
    static QString link(const QString &id, const QString &href);
    // Answers path with a redirect to `target`.
    void setRedirect(const QString &path, const QUrl &target) { m_redirects.insert(path, target); }
    // Holds back the answer for path by ms milliseconds, for a load that stays under way.
    void setDelay(const QString &path, int ms) { m_delays.insert(path, ms); }
    // Answers path with `size` bytes of `contentType` (headers may follow it, as in setPage),
    // `chunk` bytes every `intervalMs`: a download that stays under way. With `cutAfter` below
    // `size`, the server closes the connection once it has sent that many.
    void setTrickle(const QString &path, const QByteArray &contentType, qint64 size, int chunk,
                    int intervalMs, qint64 cutAfter = -1);
    // The bytes of a trickled body that left the server, over all its requests.
    qint64 bytesSent(const QString &path) const { return m_sent.value(path); }
    // What a trickled body is made of: this line over and over.
    static const QByteArray TrickleLine;
    QStringList requestedPaths() const { return m_requested; }
    // The request line and headers of the last request for path.
    QByteArray lastRequest(const QString &path) const { return m_lastRequests.value(path); }
    int requestCount(const QString &path) const { return m_requested.count(path); }

private:
    void handleConnection();
    QTcpServer m_server;
    QHash<QString, QPair<QByteArray, QByteArray>> m_pages;
    QStringList m_requested;
    QHash<QString, int> m_delays;
    QHash<QString, QUrl> m_redirects;
    QHash<QString, QByteArray> m_lastRequests;
    struct TTrickle
    {
        QByteArray contentType;
        qint64 size = 0;
        int chunk = 0;
        int intervalMs = 0;
        qint64 cutAfter = -1;
    };
    QHash<QString, TTrickle> m_trickles;
    QHash<QString, qint64> m_sent;
    void trickle(QTcpSocket *socket, const QString &path, qint64 offset);
};
