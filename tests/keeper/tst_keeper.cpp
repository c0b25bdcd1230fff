#include "common/keeperprotocol.h"
#include "common/timerules.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using KeeperProtocol::TReader;

namespace {

constexpr int AnswerMs = 5000;

QString myName()
{
    return QString::fromLocal8Bit(getpwuid(getuid())->pw_name);
}

// One client of the keeper, as the browser is one.
class TClient
{
public:
    bool Connect(const QString &path)
    {
        m_socket.connectToServer(path);
        return m_socket.waitForConnected(AnswerMs);
    }
    void Send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next message the keeper sends; empty when none comes.
    QJsonObject Next()
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            QJsonObject message;
            QString error;
            const auto result = m_reader.Next(&message, &error);
            if (result == TReader::TResult::Message)
                return message;
            if (result == TReader::TResult::Bad || waited.elapsed() > AnswerMs)
                return {};
            if (!m_socket.waitForReadyRead(100) &&
                m_socket.state() != QLocalSocket::ConnectedState && m_socket.bytesAvailable() == 0)
                return {};
            m_reader.Feed(m_socket.readAll());
        }
    }
    QJsonObject Ask(const QJsonObject &request)
    {
        Send(KeeperProtocol::Frame(request));
        return Next();
    }
    bool WaitClosed()
    {
        return m_socket.state() == QLocalSocket::UnconnectedState ||
               m_socket.waitForDisconnected(AnswerMs);
    }

private:
    QLocalSocket m_socket;
    TReader m_reader;
};

// The real program on a socket of its own, with the clock the test chooses.
class TKeeper
{
public:
    bool Start(const QString &clockStart, int minuteMs)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QUELVARD_KEEPER_BINARY),
                        {"--socket", Socket(), "--state", m_dir.filePath("state"), "--clock-start",
                         clockStart, "--minute-ms", QString::number(minuteMs)});
        return m_process.waitForStarted() && QTest::qWaitFor(
                                                 [&] {
                                                     QLocalSocket probe;
                                                     probe.connectToServer(Socket());
                                                     return probe.waitForConnected(100);
                                                 },
                                                 10000);
    }
    ~TKeeper()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }
    QString Socket() const { return m_dir.filePath("keeper.socket"); }
    QString Folder() const { return m_dir.path(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    std::unique_ptr<TClient> Client()
    {
        auto client = std::make_unique<TClient>();
        return client->Connect(Socket()) ? std::move(client) : nullptr;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Requests sent by another account: a child that has become it over a plain socket, so the
// keeper sees that account in the kernel's credentials.
QList<QJsonObject> askAs(const passwd &account, const QString &path,
                         const QList<QJsonObject> &requests)
{
    QByteArray frames;
    for (const QJsonObject &request : requests)
        frames += KeeperProtocol::Frame(request);
    const QByteArray socketPath = QFile::encodeName(path);
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        alarm(10);
        if (setgroups(0, nullptr) != 0 || setgid(account.pw_gid) != 0 ||
            setuid(account.pw_uid) != 0)
            _exit(2);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            write(fd, frames.constData(), size_t(frames.size())) != frames.size())
            _exit(3);
        // Each answer ends the child's wait for the next; it stops after the last.
        char buffer[65536];
        qsizetype got = 0;
        int answers = 0;
        QByteArray all;
        while (answers < int(requests.size())) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            all.append(buffer, n);
            while (all.size() - got >= 4) {
                const quint32 length = qFromBigEndian<quint32>(all.constData() + got);
                if (all.size() - got < qsizetype(4 + length))
                    break;
                got += 4 + length;
                ++answers;
            }
        }
        if (write(fds[1], all.constData(), size_t(all.size())) != all.size())
            _exit(4);
        _exit(0);
    }
    close(fds[1]);
    TReader reader;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        reader.Feed(QByteArray(buffer, n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    QList<QJsonObject> answers;
    QJsonObject answer;
    QString error;
    while (reader.Next(&answer, &error) == TReader::TResult::Message)
        answers << answer;
    return answers;
}

} // namespace

class tst_Keeper : public QObject
{
    Q_OBJECT

private slots:
    void schedule_data()
    {
        QTest::addColumn<QStringList>("spans");
        QTest::addColumn<QString>("at");
        QTest::addColumn<bool>("allows");
        QTest::addColumn<QString>("opens");
        // 2024-03-04 is a Monday.
        const QStringList weekdays{"mon-fri 07:30-20:00"};
        QTest::newRow("monday evening")
            << weekdays << "2024-03-04T20:05" << false << "2024-03-05T07:30";
        QTest::newRow("last minute")
            << weekdays << "2024-03-04T19:59" << true << "2024-03-04T19:59";
        QTest::newRow("end is outside")
            << weekdays << "2024-03-04T20:00" << false << "2024-03-05T07:30";
        QTest::newRow("friday night")
            << weekdays << "2024-03-08T21:00" << false << "2024-03-11T07:30";
        QTest::newRow("list and range") << QStringList{"mon,wed-fri 16:00-18:30"}
                                        << "2024-03-05T17:00" << false << "2024-03-06T16:00";
        QTest::newRow("until midnight") << QStringList{"sat,sun 09:00-24:00"} << "2024-03-09T23:59"
                                        << true << "2024-03-09T23:59";
        QTest::newRow("range over the week's end")
            << QStringList{"sat-mon 10:00-11:00"} << "2024-03-10T12:00" << false
            << "2024-03-11T10:00";
        QTest::newRow("two spans") << QStringList{"mon 08:00-09:00", "mon 18:00-19:00"}
                                   << "2024-03-04T12:00" << false << "2024-03-04T18:00";
        QTest::newRow("no rule") << QStringList{} << "2024-03-04T03:00" << true
                                 << "2024-03-04T03:00";
    }
    void schedule()
    {
        QFETCH(QStringList, spans);
        QFETCH(QString, at);
        QString error;
        const auto schedule = TSchedule::Parse(spans, &error);
        QVERIFY2(schedule, qPrintable(error));
        const QDateTime time = QDateTime::fromString(at, Qt::ISODate);
        QTEST(schedule->Allows(time), "allows");
        QTEST(schedule->NextOpening(time).toString("yyyy-MM-ddTHH:mm"), "opens");
    }

    void badSpan_data()
    {
        QTest::addColumn<QString>("span");
        QTest::newRow("hour") << "mon-fri 07:30-25:00";
        QTest::newRow("day") << "funday 09:00-10:00";
        QTest::newRow("backwards") << "mon 10:00-09:00";
        QTest::newRow("no end") << "mon 09:00";
        QTest::newRow("24:00 start") << "mon 24:00-24:00";
        QTest::newRow("minutes") << "mon 09:60-10:00";
    }
    void badSpan()
    {
        QFETCH(QString, span);
        QString error;
        QVERIFY(!TSchedule::Parse({"sat 10:00-12:00", span}, &error));
        QVERIFY2(error.contains(span), qPrintable(error));
    }

    void budgetRunsOut()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 300));
        auto client = keeper.Client();
        QVERIFY(client);
        QCOMPARE(client->Ask({{"op", "set-limit"}, {"who", "user:" + myName()}, {"minutes", 2}})
                     .value("ok"),
                 true);
        const auto tickUntilRefused = [&] {
            QJsonObject status;
            // Refused or not, the last status is what the caller checks.
            (void)QTest::qWaitFor(
                [&] {
                    status = client->Ask({{"op", "tick"}, {"shown", true}});
                    return !status.value("allowed").toBool(true);
                },
                10000);
            return status;
        };
        QJsonObject status = tickUntilRefused();
        QCOMPARE(status.value("allowed"), false);
        QCOMPARE(status.value("why"), "budget");
        QCOMPARE(status.value("left"), 0);
        QCOMPARE(status.value("opens"), "2024-03-05T00:00");
        const auto usedToday = [&] {
            return client->Ask({{"op", "usage"}, {"user", myName()}})
                .value("accounts")[0]
                .toObject()
                .value("today");
        };
        QCOMPARE(usedToday(), 2);

        QCOMPARE(client->Ask({{"op", "add-time"}, {"user", myName()}, {"minutes", 1}}).value("ok"),
                 true);
        status = client->Ask({{"op", "status"}});
        QCOMPARE(status.value("allowed"), true);
        QCOMPARE(status.value("left"), 1);
        QCOMPARE(tickUntilRefused().value("why"), "budget");
        QCOMPARE(usedToday(), 3);
    }

    void scheduleRule_data()
    {
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("who");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("why");
        const QString group = "group:" + QString::fromLocal8Bit(getgrgid(getgid())->gr_name);
        QTest::newRow("outside") << "2024-03-04T20:05"
                                 << "everyone" << false << "2024-03-05T07:30"
                                 << "schedule";
        QTest::newRow("inside") << "2024-03-04T12:00"
                                << "everyone" << true << ""
                                << "";
        QTest::newRow("own rule") << "2024-03-04T20:05"
                                  << "user:" + myName() << false << "2024-03-05T07:30"
                                  << "schedule";
        QTest::newRow("group rule") << "2024-03-08T23:00" << group << false << "2024-03-11T07:30"
                                    << "schedule";
        QTest::newRow("another's rule") << "2024-03-04T20:05"
                                        << "user:nobody-else" << true << ""
                                        << "";
    }
    void scheduleRule()
    {
        QFETCH(QString, clock);
        QFETCH(QString, who);
        TKeeper keeper;
        QVERIFY(keeper.Start(clock, 60000));
        auto client = keeper.Client();
        QVERIFY(client);
        const QJsonObject set{
            {"op", "set-schedule"}, {"who", who}, {"spans", QJsonArray{"mon-fri 07:30-20:00"}}};
        QCOMPARE(client->Ask(set).value("ok"), true);
        const QJsonObject status = client->Ask({{"op", "status"}});
        QTEST(status.value("allowed").toBool(), "allowed");
        QTEST(status.value("opens").toString(), "opens");
        QTEST(status.value("why").toString(), "why");
    }

    void browsersOfOneAccountCountOnce()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        std::vector<std::unique_ptr<TClient>> browsers;
        for (int i = 0; i < 5; ++i) {
            browsers.push_back(keeper.Client());
            QVERIFY(browsers.back());
            QCOMPARE(browsers.back()->Ask({{"op", "tick"}, {"shown", true}}).value("ok"), true);
        }
        const QJsonArray accounts = browsers[0]->Ask({{"op", "usage"}}).value("accounts").toArray();
        QCOMPARE(accounts.size(), 1);
        QCOMPARE(accounts[0].toObject().value("today"), 1);
        QCOMPARE(accounts[0].toObject().value("week"), 1);
    }

    void logKeepsOneAHostAMinute()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        auto client = keeper.Client();
        QVERIFY(client);
        for (const char *address :
             {"http://games.example/a", "http://games.example/b", "http://chat.example/"})
            QCOMPARE(client
                         ->Ask({{"op", "log"},
                                {"kind", "address"},
                                {"address", address},
                                {"rule", "games"}})
                         .value("ok"),
                     true);
        QJsonArray entries = client->Ask({{"op", "read-log"}}).value("entries").toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].toObject().value("address"), "http://games.example/a");
        QCOMPARE(entries[1].toObject().value("address"), "http://chat.example/");

        // 600 more, over connections that each stay under the keeper's rate.
        for (int batch = 0; batch < 8; ++batch) {
            auto writer = keeper.Client();
            QVERIFY(writer);
            for (int i = batch * 75; i < (batch + 1) * 75; ++i)
                QCOMPARE(writer
                             ->Ask({{"op", "log"},
                                    {"kind", "download"},
                                    {"address", QString("http://h%1.example/").arg(i)}})
                             .value("ok"),
                         true);
        }
        const QJsonObject first = client->Ask({{"op", "read-log"}});
        entries = first.value("entries").toArray();
        QCOMPARE(entries.size(), 500);
        QCOMPARE(first.value("more"), true);
        const QJsonObject rest =
            client->Ask({{"op", "read-log"}, {"after", entries.last().toObject().value("id")}});
        QCOMPARE(rest.value("entries").toArray().size(), 102);
        QCOMPARE(rest.value("more"), false);
        QCOMPARE(client->Ask({{"op", "read-log"}, {"user", "nobody-else"}})
                     .value("entries")
                     .toArray()
                     .size(),
                 0);
    }

    void requestsRoundTrip()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        auto client = keeper.Client();
        QVERIFY(client);
        const QJsonObject ask{
            {"op", "ask"}, {"address", "http://school.example/"}, {"reason", "homework"}};
        const QJsonValue id = client->Ask(ask).value("id");
        QVERIFY(id.toInteger() > 0);
        QCOMPARE(client->Ask(ask).value("id"), id);
        QCOMPARE(
            client->Ask({{"op", "asked"}, {"address", "http://school.example/"}}).value("state"),
            "open");
        const QJsonArray open = client->Ask({{"op", "requests"}}).value("requests").toArray();
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0].toObject().value("reason"), "homework");
        const QJsonObject answered = client->Ask({{"op", "answer"}, {"id", id}, {"allow", true}});
        QCOMPARE(answered.value("user"), myName());
        QCOMPARE(answered.value("address"), "http://school.example/");
        QCOMPARE(
            client->Ask({{"op", "asked"}, {"address", "http://school.example/"}}).value("state"),
            "allowed");
        QCOMPARE(client->Ask({{"op", "requests"}}).value("requests").toArray().size(), 0);
        QCOMPARE(
            client->Ask({{"op", "requests"}, {"all", true}}).value("requests").toArray().size(), 1);

        for (int i = 0; i < 20; ++i)
            QCOMPARE(client->Ask({{"op", "ask"}, {"address", QString("http://s%1/").arg(i)}})
                         .value("ok"),
                     true);
        QCOMPARE(client->Ask({{"op", "ask"}, {"address", "http://one-more/"}}).value("error"),
                 "too many open requests");
        QCOMPARE(
            client->Ask({{"op", "ask"}, {"address", "http://s0/"}, {"reason", QString(201, 'x')}})
                .value("ok"),
            false);
    }

    void garbageClosesOnlyItsConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("answers");
        const QByteArray notJson = "hello";
        QByteArray frameOfText(4, '\0');
        frameOfText[3] = char(notJson.size());
        QTest::newRow("not JSON") << frameOfText + notJson << 0;
        const QByteArray wrongVersion = R"({"v":2,"op":"status"})";
        QByteArray versionFrame(4, '\0');
        versionFrame[3] = char(wrongVersion.size());
        QTest::newRow("wrong version") << versionFrame + wrongVersion << 0;
        QTest::newRow("length past any message") << QByteArray("\xff\xff\xff\xff", 4) << 0;
        QByteArray flood;
        for (int i = 0; i < 1000; ++i)
            flood += KeeperProtocol::Frame({{"op", "status"}});
        // Answered up to the rate a second allows, then cut off.
        QTest::newRow("flood") << flood << 100;
    }
    void garbageClosesOnlyItsConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, answers);
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        auto bystander = keeper.Client();
        auto bad = keeper.Client();
        QVERIFY(bystander && bad);
        bad->Send(bytes);
        for (int i = 0; i < answers; ++i)
            QCOMPARE(bad->Next().value("ok"), true);
        const QJsonObject last = bad->Next();
        QCOMPARE(last.value("ok"), false);
        QVERIFY(!last.value("error").toString().isEmpty());
        QVERIFY(bad->WaitClosed());
        QCOMPARE(bystander->Ask({{"op", "status"}}).value("ok"), true);
        QVERIFY(keeper.Running());
    }

    void wrongRequestKeepsConnection_data()
    {
        QTest::addColumn<QJsonObject>("request");
        QTest::newRow("unknown op") << QJsonObject{{"op", "format-disk"}};
        QTest::newRow("no op") << QJsonObject{{"shown", true}};
        QTest::newRow("shown not a bool") << QJsonObject{{"op", "tick"}, {"shown", "yes"}};
        QTest::newRow("minutes not whole")
            << QJsonObject{{"op", "set-limit"}, {"who", "everyone"}, {"minutes", 2.5}};
        QTest::newRow("bad who") << QJsonObject{
            {"op", "set-limit"}, {"who", "someone"}, {"minutes", 2}};
        QTest::newRow("bad span") << QJsonObject{
            {"op", "set-schedule"}, {"who", "everyone"}, {"spans", QJsonArray{"mon 9-10"}}};
    }
    void wrongRequestKeepsConnection()
    {
        QFETCH(QJsonObject, request);
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        auto client = keeper.Client();
        QVERIFY(client);
        QCOMPARE(client->Ask(request).value("ok"), false);
        QCOMPARE(client->Ask({{"op", "rules"}}).value("limits").toArray().size(), 0);
    }

    void connectionsAreCapped()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        std::vector<std::unique_ptr<TClient>> clients;
        for (int i = 0; i < 64; ++i) {
            clients.push_back(keeper.Client());
            QVERIFY(clients.back());
            QCOMPARE(clients.back()->Ask({{"op", "status"}}).value("ok"), true);
        }
        auto extra = keeper.Client();
        QVERIFY(!extra || extra->WaitClosed());
        clients.pop_back();
        QVERIFY(QTest::qWaitFor(
            [&] {
                auto again = keeper.Client();
                return again && again->Ask({{"op", "status"}}).value("ok").toBool();
            },
            AnswerMs));
    }

    void rootOnlyOpsRefusedToOthers()
    {
        TKeeper keeper;
        QVERIFY(keeper.Start("2024-03-04T10:00", 60000));
        const QList<QJsonObject> refused = {
            {{"op", "set-limit"}, {"who", "everyone"}, {"minutes", 5}},
            {{"op", "add-time"}, {"user", "nobody"}, {"minutes", 5}},
            {{"op", "read-log"}},
            {{"op", "answer"}, {"id", 1}, {"allow", true}}};
        QList<QJsonObject> answers;
        if (getuid() != 0) {
            auto client = keeper.Client();
            QVERIFY(client);
            for (const QJsonObject &request : refused)
                answers << client->Ask(request);
        } else {
            const passwd *nobody = getpwnam("nobody");
            if (!nobody)
                QSKIP("no account 'nobody' to ask as");
            auto root = keeper.Client();
            QVERIFY(root);
            QCOMPARE(root->Ask({{"op", "set-limit"}, {"who", "user:nobody"}, {"minutes", 7}})
                         .value("ok"),
                     true);
            QFile::setPermissions(keeper.Folder(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ExeOther);
            answers = askAs(*nobody, keeper.Socket(),
                            QList<QJsonObject>(refused) << QJsonObject{{"op", "status"}});
            QCOMPARE(answers.size(), refused.size() + 1);
            // Its own limit, found through the kernel's word on who it is.
            QCOMPARE(answers.takeLast().value("left"), 7);
        }
        QCOMPARE(answers.size(), refused.size());
        for (const QJsonObject &answer : answers)
            QVERIFY2(answer.value("error").toString().startsWith("only root"),
                     qPrintable(answer.value("error").toString()));
    }
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_Keeper)
#include "tst_keeper.moc"
