#include "common/keeperclient.h"

#include "config.h"

#include <QFile>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace KeeperClient {

namespace {

// The installed browser's runtime folder is the system's; any other is a build for tests.
constexpr bool TestBuild = std::string_view(QUELVARD_RUNTIME_DIR) != std::string_view("/run");

QJsonObject unreachable(bool *reached, const QString &why)
{
    if (reached)
        *reached = false;
    return KeeperProtocol::Error(why);
}

class TFd
{
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Waits until `fd` is ready for `events` or the time left runs out.
bool ready(int fd, short events, qint64 deadline)
{
    for (;;) {
        struct timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 nowMs = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
        if (nowMs >= deadline)
            return false;
        struct pollfd one = {fd, events, 0};
        const int got = ::poll(&one, 1, int(deadline - nowMs));
        if (got > 0)
            return true;
        if (got == 0 || errno != EINTR)
            return false;
    }
}

qint64 deadlineAfter(int ms)
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + ms;
}

} // namespace

bool Trusted(uid_t uid)
{
    if (uid == 0 || (TestBuild && uid == ::geteuid()))
        return true;
    struct passwd entry = {};
    struct passwd *found = nullptr;
    char buffer[4096];
    return ::getpwnam_r(KeeperProtocol::KeeperUser, &entry, buffer, sizeof buffer, &found) == 0 &&
           found && found->pw_uid == uid;
}

QJsonObject Call(const QJsonObject &request, bool *reached, int timeoutMs,
                 const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return unreachable(reached, QStringLiteral("the keeper's socket path is too long"));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return unreachable(reached, QString::fromLocal8Bit(std::strerror(errno)));
    const qint64 deadline = deadlineAfter(timeoutMs);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        return unreachable(reached, QStringLiteral("the time keeper is not running (%1)")
                                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (!ready(fd.get(), POLLOUT, deadline))
        return unreachable(reached, QStringLiteral("the time keeper did not answer"));
    // Believed only when the kernel says who listens: any program could have made the path.
    struct ucred peer = {};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 ||
        !Trusted(peer.uid))
        return unreachable(
            reached, QStringLiteral("the program on %1 is not the time keeper").arg(socketPath));

    const QByteArray frame = KeeperProtocol::Frame(request);
    qsizetype sent = 0;
    while (sent < frame.size()) {
        if (!ready(fd.get(), POLLOUT, deadline))
            return unreachable(reached, QStringLiteral("the time keeper did not answer"));
        const ssize_t wrote =
            ::send(fd.get(), frame.constData() + sent, size_t(frame.size() - sent), MSG_NOSIGNAL);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR)
            return unreachable(reached, QStringLiteral("the time keeper closed the connection"));
        if (wrote > 0)
            sent += wrote;
    }
    KeeperProtocol::TReader reader;
    char buffer[16384];
    for (;;) {
        QJsonObject answer;
        QString error;
        switch (reader.Next(&answer, &error)) {
        case KeeperProtocol::TReader::TResult::Message:
            if (reached)
                *reached = true;
            return answer;
        case KeeperProtocol::TReader::TResult::Bad:
            return unreachable(reached, QStringLiteral("the time keeper's answer: %1").arg(error));
        case KeeperProtocol::TReader::TResult::NeedMore:
            break;
        }
        if (!ready(fd.get(), POLLIN, deadline))
            return unreachable(reached, QStringLiteral("the time keeper did not answer"));
        const ssize_t got = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return unreachable(reached, QStringLiteral("the time keeper closed the connection"));
        if (got > 0)
            reader.Feed(QByteArray(buffer, qsizetype(got)));
    }
}

} // namespace KeeperClient
