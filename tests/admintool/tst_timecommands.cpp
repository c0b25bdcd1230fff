// The administrator's time commands against the real time keeper on a socket of its own: what
// they refuse before asking it, what they change, and what they say when it is not running.
#include "admintool/admincommand.h"
#include "common/machinepolicies.h"
#include "support/keeperprocess.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QJsonArray>
#include <QTest>
#include <QTextStream>
#include <pwd.h>
#include <unistd.h>

namespace {

struct TRun
{
    int status = -1;
    QString out;
    QString err;
};

TRun run(const QStringList &arguments)
{
    TRun result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    AdminCommand::TConsole console{&out, &err, nullptr, [](QString &) { return false; }};
    result.status = AdminCommand::Run(arguments, console);
    return result;
}

QString me()
{
    return QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
}

} // namespace

class tst_TimeCommands : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void init()
    {
        EnvironmentSuite::init();
        if (::geteuid() != 0)
            QSKIP("the time commands are root's");
        m_keeper = std::make_unique<KeeperProcess>();
        QString why;
        QVERIFY2(m_keeper->start(&why), qPrintable(why));
    }
    void cleanup()
    {
        m_keeper.reset();
        MachinePolicies::Forget();
        EnvironmentSuite::cleanup();
    }

    void refusedBeforeAsking_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("nobody named") << QStringList{"time-limit", "60"} << "name the account";
        QTest::newRow("unknown account")
            << QStringList{"time-limit", "--for-user", "no-such-account-qv", "60"}
            << "there is no account no-such-account-qv";
        QTest::newRow("unknown group")
            << QStringList{"schedule", "--for-group", "no-such-group-qv", "mon 08:00-09:00"}
            << "there is no group no-such-group-qv";
        QTest::newRow("two at once")
            << QStringList{"time-limit", "--everyone", "--for-user", "root", "60"}
            << "name one account, one group or everyone";
        QTest::newRow("zero minutes") << QStringList{"time-limit", "--everyone", "0"}
                                      << "\"0\" is not off or a number of minutes from 1 to 1440";
        QTest::newRow("past a day")
            << QStringList{"time-limit", "--everyone", "1441"} << "\"1441\" is not off";
        QTest::newRow("a sign") << QStringList{"time-limit", "--everyone", "+5"} << "is not off";
        QTest::newRow("no spans") << QStringList{"schedule", "--everyone"}
                                  << "give the spans, or off";
        QTest::newRow("extra time for everyone")
            << QStringList{"time", "add", "--everyone", "5"} << "--for-user NAME";
        QTest::newRow("extra time for a group")
            << QStringList{"time", "add", "--for-group", "root", "5"} << "to one account";
        QTest::newRow("log since nonsense")
            << QStringList{"log", "--since", "yesterday"} << "\"yesterday\" is not a date";
        QTest::newRow("request without number")
            << QStringList{"requests", "allow", "x"} << "give the request's number";
    }
    void refusedBeforeAsking()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        const TRun result = run(arguments);
        QCOMPARE(result.status, int(AdminCommand::Usage));
        QVERIFY2(result.err.contains(said), qPrintable(result.err));
        QVERIFY2(result.err.contains("Usage: quelvard-admin " + arguments.first()),
                 qPrintable(result.err));
        // Nothing reached the keeper.
        const QJsonObject rules = m_keeper->ask({{"op", "rules"}});
        QCOMPARE(rules.value("limits").toArray().size() + rules.value("schedules").toArray().size(),
                 0);
    }

    void rulesAreNotedForTheBrowsers()
    {
        QVERIFY(!MachinePolicies::Read().TimeRules);
        TRun result = run({"time-limit", "--for-user", me(), "60"});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QStringLiteral("changed\n"));
        QVERIFY(MachinePolicies::Read().TimeRules);
        QCOMPARE(
            run({"schedule", "--everyone", "mon-fri 07:30-20:00", "sat,sun 09:00-21:00"}).status,
            0);
        // One rule removed, the other kept: browsers still ask.
        QCOMPARE(run({"time-limit", "--for-user", me(), "off"}).status, 0);
        QVERIFY(MachinePolicies::Read().TimeRules);
        QCOMPARE(run({"schedule", "--everyone", "off"}).status, 0);
        QVERIFY(!MachinePolicies::Read().TimeRules);
    }

    void keeperRefusalIsShown()
    {
        const TRun result = run({"schedule", "--everyone", "mon-fri 07:30-25:00"});
        QCOMPARE(result.status, int(AdminCommand::Usage));
        QVERIFY2(result.err.contains("mon-fri 07:30-25:00"), qPrintable(result.err));
        QVERIFY(!MachinePolicies::Read().TimeRules);
    }

    void usageAndExtraTime()
    {
        QCOMPARE(run({"usage"}).out, QStringLiteral("no browsing counted\n"));
        QVERIFY(m_keeper->ask({{"op", "tick"}, {"shown", true}}).value("ok").toBool());
        QCOMPARE(run({"usage", "--for-user", me()}).out,
                 me() + QStringLiteral(": today 1 min, this week 1 min\n"));
        QCOMPARE(run({"time-limit", "--for-user", me(), "1"}).status, 0);
        // The minute being browsed is paid for; nothing is left after it.
        QCOMPARE(m_keeper->ask({{"op", "status"}}).value("left").toInt(), 0);
        const TRun added = run({"time", "add", "--for-user", me(), "15"});
        QCOMPARE(added.status, 0);
        const QJsonObject status = m_keeper->ask({{"op", "status"}});
        QVERIFY(status.value("allowed").toBool());
        QCOMPARE(status.value("left").toInt(), 15);
    }

    void requestAllowedBecomesAnAllowPattern()
    {
        const QJsonObject asked = m_keeper->ask({{"op", "ask"},
                                                 {"address", "https://maths.example/lesson?id=4"},
                                                 {"reason", "homework"}});
        QVERIFY2(asked.value("ok").toBool(), qPrintable(asked.value("error").toString()));
        const TRun listed = run({"requests"});
        QCOMPARE(listed.status, 0);
        QVERIFY2(listed.out.contains("https://maths.example/lesson?id=4") &&
                     listed.out.contains("\"homework\""),
                 qPrintable(listed.out));
        const QString number = QString::number(asked.value("id").toInt());
        QCOMPARE(run({"requests", "allow", number}).out, QStringLiteral("allowed maths.example\n"));
        QVERIFY(MachinePolicies::ListUrlPatterns(MachinePolicies::UrlList::Allow)
                    .contains("maths.example"));
        QCOMPARE(run({"requests"}).out, QStringLiteral("no open requests\n"));
        QCOMPARE(m_keeper->ask({{"op", "asked"}, {"address", "https://maths.example/lesson?id=4"}})
                     .value("state")
                     .toString(),
                 QStringLiteral("allowed"));
    }

    void logIsPrintedAsTextAndJson()
    {
        QVERIFY(m_keeper
                    ->ask({{"op", "log"},
                           {"kind", "address"},
                           {"address", "http://games.example/\x1b[2Jplay"},
                           {"rule", "games.example"}})
                    .value("ok")
                    .toBool());
        const TRun text = run({"log"});
        QCOMPARE(text.status, 0);
        // What a page put in an address reaches the terminal without its escapes.
        QVERIFY2(
            text.out.contains(me() + "  address  http://games.example/?[2Jplay  (games.example)"),
            qPrintable(text.out));
        const TRun json = run({"log", "--json", "--since", "2h"});
        QCOMPARE(json.out.count('\n'), 1);
        QVERIFY2(json.out.contains("\"user\":\"" + me() + "\""), qPrintable(json.out));
    }

    void policyFileCarriesTimeLimits()
    {
        const QString file = m_env->root() + "/policy.json";
        writeBytes(file, "{\"time-limits\": [{\"who\": \"group:root\", \"minutes\": 60,"
                         " \"schedule\": [\"Mon-Fri 07:30-20:00\"]},"
                         " {\"who\": \"everyone\", \"minutes\": 120}]}");
        QCOMPARE(run({"apply", file}).status, 0);
        QVERIFY(MachinePolicies::Read().TimeRules);
        const QJsonObject rules = m_keeper->ask({{"op", "rules"}});
        QCOMPARE(rules.value("limits").toArray().size(), 2);
        QCOMPARE(rules.value("schedules").toArray().size(), 1);
        // What export prints, apply takes back unchanged.
        const TRun exported = run({"export"});
        QVERIFY2(exported.out.contains("\"schedule\": [\"mon-fri 07:30-20:00\"]") ||
                     exported.out.contains("mon-fri 07:30-20:00"),
                 qPrintable(exported.out));
        writeBytes(file, exported.out.toUtf8());
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));
        // A file without them takes them away, and browsers stop asking.
        writeBytes(file, "{}");
        QCOMPARE(run({"apply", file}).status, 0);
        QVERIFY(!MachinePolicies::Read().TimeRules);
        QCOMPARE(m_keeper->ask({{"op", "rules"}}).value("limits").toArray().size(), 0);
    }

    void policyTimeLimitsRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("said");
        QTest::newRow("not a list")
            << QByteArray("{\"time-limits\": 60}") << "expected a list of time limits";
        QTest::newRow("neither minutes nor schedule")
            << QByteArray("{\"time-limits\": [{\"who\": \"everyone\"}]}") << "a time limit is";
        QTest::newRow("who unknown")
            << QByteArray("{\"time-limits\": [{\"who\": \"alice\", \"minutes\": 5}]}")
            << "a time limit is";
        QTest::newRow("fractional minutes")
            << QByteArray("{\"time-limits\": [{\"who\": \"everyone\", \"minutes\": 1.5}]}")
            << "a time limit is";
        QTest::newRow("bad span") << QByteArray(
                                         "{\"time-limits\": [{\"who\": \"everyone\", \"schedule\": "
                                         "[\"someday 08:00-09:00\"]}]}")
                                  << "someday 08:00-09:00";
        QTest::newRow("twice") << QByteArray(
                                      "{\"time-limits\": [{\"who\": \"everyone\", \"minutes\": 5}, "
                                      "{\"who\": \"everyone\", \"minutes\": 6}]}")
                               << "\"everyone\" has two time limits";
    }
    void policyTimeLimitsRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, said);
        const QString file = m_env->root() + "/policy.json";
        writeBytes(file, json);
        const TRun result = run({"apply", file});
        QCOMPARE(result.status, int(AdminCommand::Usage));
        QVERIFY2(result.err.contains(said), qPrintable(result.err));
        QCOMPARE(m_keeper->ask({{"op", "rules"}}).value("limits").toArray().size(), 0);
    }

    void accountListsAndWhatHoldsForOne()
    {
        // The account's own block beside everyone's allow-list, and its group's.
        QCOMPARE(run({"urls", "block", "--for-user", me(), "games.example"}).status, 0);
        QCOMPARE(run({"urls", "allow", "--for-group=root", "school.example"}).status, 0);
        QCOMPARE(run({"urls", "block", "news.example"}).status, 0);
        QCOMPARE(run({"urls", "list", "--for-user", me()}).out,
                 QStringLiteral("block games.example\n"));
        QCOMPARE(run({"urls", "list"}).out, QStringLiteral("block news.example\n"));
        QCOMPARE(run({"urls", "check", "--for-user", me(), "http://games.example/"}).out,
                 QStringLiteral("blocked http://games.example/ by \"games.example\"\n"));
        // Another account is not touched by it.
        QCOMPARE(run({"urls", "check", "--for-user", "nobody", "http://games.example/"}).out,
                 QStringLiteral("allowed http://games.example/ (no rule matches)\n"));
        QCOMPARE(run({"time-limit", "--everyone", "90"}).status, 0);
        QCOMPARE(run({"time-limit", "--for-group", "root", "45"}).status, 0);
        const QStringList shown = run({"status", "--for-user", me()}).out.split('\n');
        QVERIFY2(shown.contains("blocked addresses: news.example (everyone), games.example (user " +
                                me() + ")") &&
                     shown.contains("allowed addresses: school.example (group root)") &&
                     shown.contains("time limit: 45 min a day (group root)") &&
                     shown.contains("schedule: none"),
                 qPrintable(shown.join('\n')));
        // The policy file carries them, and a file without them takes them away.
        const TRun exported = run({"export"});
        QVERIFY2(exported.out.contains("\"user:" + me() + "\""), qPrintable(exported.out));
        const QString file = m_env->root() + "/policy.json";
        writeBytes(file, exported.out.toUtf8());
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));
        writeBytes(file, "{}");
        QCOMPARE(run({"apply", file}).status, 0);
        QCOMPARE(run({"urls", "list", "--for-user", me()}).out, QString());
    }

    void stoppedKeeperIsNamed()
    {
        m_keeper->stop();
        const TRun result = run({"time-limit", "--everyone", "60"});
        QCOMPARE(result.status, int(AdminCommand::Unreadable));
        QVERIFY2(result.err.contains("systemctl start quelvard-keeper.socket"),
                 qPrintable(result.err));
    }

private:
    std::unique_ptr<KeeperProcess> m_keeper;
};

QUELVARD_TEST_GUILESS_MAIN(tst_TimeCommands)
#include "tst_timecommands.moc"
