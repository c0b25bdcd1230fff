// quelvard-keeper: keeps, for the browser, what the person at the screen must not change. The
// installed service is started by systemd on the first connection to its socket and ends when
// nobody has asked for a while.
#include "common/errors.h"
#include "keeper/keeperserver.h"
#include "keeper/keeperstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr int ActivatedSocket = 3; // SD_LISTEN_FDS_START
constexpr int InstalledIdleExitSeconds = 5 * 60;

int fail(const QString &why)
{
    std::fprintf(stderr, "quelvard-keeper: %s\n", qPrintable(why));
    return 1;
}

// The descriptor systemd handed over, or -1. The variables are removed, so nothing the keeper
// starts could take them for its own.
int activatedSocket()
{
    bool pidOk = false;
    bool countOk = false;
    const qint64 pid = qEnvironmentVariable("LISTEN_PID").toLongLong(&pidOk);
    const int count = qEnvironmentVariable("LISTEN_FDS").toInt(&countOk);
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!pidOk || !countOk || pid != qint64(::getpid()) || count < 1)
        return -1;
    ::fcntl(ActivatedSocket, F_SETFD, FD_CLOEXEC);
    return ActivatedSocket;
}

// Nothing the log stores may start a line of its own in the system log.
QByteArray oneLine(const QString &text)
{
    QByteArray line = text.toUtf8();
    for (char &c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return line;
}

} // namespace

int main(int argc, char *argv[])
{
    // The database holds who browsed what: nobody but the keeper reads it.
    ::umask(077);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelvard-keeper"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps time limits, schedules, the log and requests for Quelvard."));
    parser.addHelpOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"), QStringLiteral("Listen on PATH (not started by systemd)."),
        QStringLiteral("PATH"));
    const QCommandLineOption stateOption(QStringLiteral("state"),
                                         QStringLiteral("Keep the database in DIR."),
                                         QStringLiteral("DIR"));
    const QCommandLineOption idleOption(QStringLiteral("exit-when-idle"),
                                        QStringLiteral("Exit after SECONDS without a connection "
                                                       "(0: never)."),
                                        QStringLiteral("SECONDS"));
    const QCommandLineOption minuteOption(QStringLiteral("minute-ms"),
                                          QStringLiteral("Tests: a keeper minute lasts N ms."),
                                          QStringLiteral("N"));
    const QCommandLineOption startOption(QStringLiteral("clock-start"),
                                         QStringLiteral("Tests: the keeper's clock starts at "
                                                        "YYYY-MM-DDTHH:MM."),
                                         QStringLiteral("TIME"));
    parser.addOptions({socketOption, stateOption, idleOption, minuteOption, startOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));

    const bool byHand = parser.isSet(socketOption);
    const int activated = byHand ? -1 : activatedSocket();
    if (!byHand && activated < 0)
        return fail(QStringLiteral("not started through its systemd socket; give --socket PATH "
                                   "--state DIR to run it by hand"));

    int idleExit = byHand ? 0 : InstalledIdleExitSeconds;
    if (parser.isSet(idleOption)) {
        bool ok = false;
        idleExit = parser.value(idleOption).toInt(&ok);
        if (!ok || idleExit < 0)
            return fail(QStringLiteral("--exit-when-idle needs a number of seconds"));
    }

    std::unique_ptr<TKeeperClock> clock;
    if (parser.isSet(minuteOption) || parser.isSet(startOption)) {
        int minuteMs = 60000;
        if (parser.isSet(minuteOption)) {
            bool ok = false;
            minuteMs = parser.value(minuteOption).toInt(&ok);
            if (!ok || minuteMs < 2)
                return fail(QStringLiteral("--minute-ms needs a number of milliseconds"));
        }
        QDateTime start = QDateTime::currentDateTime();
        if (parser.isSet(startOption)) {
            start = QDateTime::fromString(parser.value(startOption),
                                          QStringLiteral("yyyy-MM-ddTHH:mm"));
            if (!start.isValid())
                return fail(QStringLiteral("--clock-start needs YYYY-MM-DDTHH:MM"));
        }
        clock = std::make_unique<TKeeperClock>(start, minuteMs);
    } else {
        clock = std::make_unique<TKeeperClock>();
    }

    // systemd names the folder it made for the service; it may list several.
    QString stateDir = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (stateDir.isEmpty())
        stateDir = QStringLiteral("/var/lib/quelvard");
    if (parser.isSet(stateOption))
        stateDir = parser.value(stateOption);
    if (!QDir().mkpath(stateDir))
        return fail(QStringLiteral("cannot create %1").arg(stateDir));

    ::openlog("quelvard", LOG_PID, LOG_AUTHPRIV);
    try {
        TKeeperStore store(stateDir + QStringLiteral("/keeper.db"));
        TKeeperDispatcher dispatcher(store, *clock, [](const QString &line) {
            ::syslog(LOG_NOTICE, "%s", oneLine(line).constData());
        });
        TKeeperServer server(dispatcher, idleExit);
        QString error;
        const bool listening = byHand ? server.Listen(parser.value(socketOption), &error)
                                      : server.Adopt(activated, &error);
        if (!listening)
            return fail(error);
        return app.exec();
    } catch (const EQuelvardError &error) {
        return fail(error.message());
    }
}
