#include "admintool/admincommand.h"
#include "common/adminloginstore.h"
#include "common/encryption.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QFile>
#include <QTest>
#include <QTextStream>
#include <memory>

using AdminCommand::ExitStatus;

namespace {

struct TRun
{
    int status = -1;
    QString out;
    QString err;
};

TRun run(const QStringList &arguments, const QStringList &stdinLines = {})
{
    TRun result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    int next = 0;
    const auto readLine = [&](QString &line) {
        if (next >= stdinLines.size())
            return false;
        line = stdinLines.at(next++);
        return true;
    };
    AdminCommand::TConsole console{
        &out, &err, [&](const QString &, bool, QString &line) { return readLine(line); }, readLine};
    result.status = AdminCommand::Run(arguments, console);
    return result;
}

QString storedLevel()
{
    TRegistry registry(TRegistry::KEY_READ);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(GenUtilities::AdminLoginRegistryKey))
        return QString();
    return registry.ReadString(QStringLiteral("Level"));
}

} // namespace

class tst_AdminCommand : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void setLogin_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("storedPassword");

        QTest::newRow("password only")
            << QStringList{"  Secret12 ", "Secret12"} << 0 << QString() << "Secret12";
        QTest::newRow("with reminders")
            << QStringList{"Secret12", "Secret12", "Pet?", "rex", "Town?", "york"} << 0 << QString()
            << "Secret12";
        QTest::newRow("differ") << QStringList{"Secret12", "Secret13"} << 1
                                << "The entered passwords do not match" << QString();
        QTest::newRow("short and differing: mismatch first")
            << QStringList{"abc", "abd"} << 1 << "The entered passwords do not match" << QString();
        QTest::newRow("seven") << QStringList{"Secret1", "Secret1"} << 1
                               << "The password must be at least 8 characters long" << QString();
        QTest::newRow("no input") << QStringList{} << 1
                                  << "The password must be at least 8 characters long" << QString();
        QTest::newRow("first answer missing")
            << QStringList{"Secret12", "Secret12", "Pet?", " "} << 1
            << "An answer must be provided for the first reminder question" << QString();
        QTest::newRow("second answer missing")
            << QStringList{"Secret12", "Secret12", "", "", "Town?"} << 1
            << "An answer must be provided for the second reminder question" << QString();
    }
    void setLogin()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, storedPassword);

        const TRun result = run({"set-login", "--stdin"}, lines);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
        // Neither a password nor an answer is ever written back.
        for (const char *secret : {"Secret1", "abc", "rex", "york"})
            QVERIFY2(!result.err.contains(secret), qPrintable(result.err));
        QCOMPARE(GenUtilities::LoadAdminLogin().Password, storedPassword);
        if (!storedPassword.isEmpty()) {
            // The same cipher text the change-login dialog writes, so the browser accepts it.
            QCOMPARE(storedLevel(),
                     CryptString(storedPassword, GenUtilities::AdminLoginKey1, true));
        }
    }

    void resetLogin()
    {
        QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "q", "a", "", ""}));
        QCOMPARE(run({"status"}).out.section('\n', 0, 0), QStringLiteral("login set: yes"));
        QCOMPARE(run({"reset-login"}).status, 0);
        QVERIFY(GenUtilities::LoadAdminLogin().Password.isEmpty());
        QCOMPARE(run({"status"}).out.section('\n', 0, 0), QStringLiteral("login set: no"));
    }

    void settings_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("statusLine"); // a line `status` prints afterwards

        QTest::newRow("home page") << QStringList{"set", "home-page", "https://school.example/"}
                                   << 0 << "home page: https://school.example/";
        QTest::newRow("home page file") << QStringList{"set", "home-page", "file:///srv/a.html"}
                                        << 0 << "home page: file:///srv/a.html";
        QTest::newRow("home page ftp") << QStringList{"set", "home-page", "ftp://x.example/"} << 1
                                       << "home page: (the built-in start page)";
        QTest::newRow("home page javascript")
            << QStringList{"set", "home-page", "javascript:alert(1)"} << 1
            << "home page: (the built-in start page)";
        QTest::newRow("forget") << QStringList{"set", "browsing-data", "forget"} << 0
                                << "browsing data: forget";
        QTest::newRow("browsing data bad")
            << QStringList{"set", "browsing-data", "Forget"} << 1 << "browsing data: keep";
        QTest::newRow("forbid downloads")
            << QStringList{"set", "downloads", "forbid"} << 0 << "downloads: forbid";
        QTest::newRow("downloads bad")
            << QStringList{"set", "downloads", "no"} << 1 << "downloads: allow";
        QTest::newRow("allow") << QStringList{"popups", "allow", " Mail.Example ", "intra:8080"}
                               << 0 << "popups allowed for everyone: mail.example intra:8080";
        QTest::newRow("allow with blank") << QStringList{"popups", "allow", "ok.example", "a b"}
                                          << 1 << "popups allowed for everyone: (none)";
        QTest::newRow("allow scheme") << QStringList{"popups", "allow", "http://a.example"} << 1
                                      << "popups allowed for everyone: (none)";
        QTest::newRow("allow path") << QStringList{"popups", "allow", "a.example/x"} << 1
                                    << "popups allowed for everyone: (none)";
        QTest::newRow("allow empty")
            << QStringList{"popups", "allow", "  "} << 1 << "popups allowed for everyone: (none)";
        QTest::newRow("unknown command") << QStringList{"unlock"} << 1 << "login set: no";
        QTest::newRow("set-login stray argument")
            << QStringList{"set-login", "pw"} << 1 << "login set: no";
        QTest::newRow("help") << QStringList{"popups", "--help"} << 0
                              << "popups allowed for everyone: (none)";
    }
    void settings()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, statusLine);

        const TRun result = run(arguments);
        QCOMPARE(result.status, status);
        if (status == 0 && !arguments.contains("--help"))
            QVERIFY2(result.out.isEmpty() && result.err.isEmpty(), qPrintable(result.err));
        else if (status != 0)
            QVERIFY(!result.err.isEmpty());
        const TRun shown = run({"status"});
        QCOMPARE(shown.status, 0);
        QVERIFY2(shown.out.split('\n').contains(statusLine), qPrintable(shown.out));
    }

    void removeAndUnset()
    {
        QCOMPARE(run({"popups", "allow", "a.example", "b.example"}).status, 0);
        QCOMPARE(run({"popups", "remove", "A.EXAMPLE"}).status, 0);
        QCOMPARE(run({"popups", "list"}).out, QStringLiteral("b.example\n"));
        QCOMPARE(run({"set", "home-page", "http://h.example/"}).status, 0);
        QCOMPARE(run({"unset", "home-page"}).status, 0);
        QVERIFY(MachinePolicies::Read().HomePage.isEmpty());
    }

    // Tests run as root, so a file standing where the store's folder belongs makes it
    // unwritable for anyone.
    void refusedWrite()
    {
        QFile standIn(m_env->machineDataDir() + "/Quelvard");
        QVERIFY(standIn.open(QIODevice::WriteOnly));
        standIn.close();
        for (const QStringList &arguments :
             {QStringList{"popups", "allow", "a.example"}, QStringList{"unset", "home-page"},
              QStringList{"set", "browsing-data", "forget"}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, int(AdminCommand::NotPermitted));
            QVERIFY2(result.err.contains("run as root") &&
                         result.err.contains(m_env->machineHive()),
                     qPrintable(result.err));
        }
        const TRun login = run({"set-login", "--stdin"}, {"Secret12", "Secret12"});
        QCOMPARE(login.status, int(AdminCommand::NotPermitted));
    }

    void unreadableStore()
    {
        QDir().mkpath(m_env->machineDataDir() + "/Quelvard");
        QFile junk(m_env->machineHive());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        for (const QStringList &arguments :
             {QStringList{"status"}, QStringList{"popups", "allow", "a.example"}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, int(AdminCommand::Unreadable));
            QVERIFY2(result.err.contains(m_env->machineHive()), qPrintable(result.err));
        }
        QFile check(m_env->machineHive());
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray(4096, 'x'));
    }

private:
    std::unique_ptr<TestEnvironment> m_env;
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_AdminCommand)
#include "tst_admincommand.moc"
