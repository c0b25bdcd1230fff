#include "admintool/admincommand.h"
#include "common/adminloginstore.h"
#include "common/encryption.h"
#include "common/errors.h"
#include "common/machinefavorites.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "common/runasuser.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTextStream>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using AdminCommand::ExitStatus;

namespace {

struct TRun
{
    int status = -1;
    QString out;
    QString err;
    // What a change said of the running browsers, kept apart from the command's other words.
    QString told;
};

// The last line of a command that changed the machine's settings.
void takeTold(TRun &result)
{
    static const QRegularExpression line(
        QStringLiteral("quelvard-admin: (no browser is running|told [^\n]*)\n$"));
    const QRegularExpressionMatch match = line.match(result.err);
    if (match.hasMatch()) {
        result.told = match.captured(1);
        result.err.chop(match.capturedLength());
    }
}

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
    out.flush();
    err.flush();
    takeTold(result);
    return result;
}

// The command as a person at a terminal runs it: `typed` answers the prompts in turn, which
// are kept in `prompts`. Without a terminal nothing can be asked.
TRun runAtTerminal(const QStringList &arguments, const QStringList &typed, QStringList *prompts,
                   bool terminal = true)
{
    TRun result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    int next = 0;
    AdminCommand::TConsole console{&out, &err, nullptr, [](QString &) { return false; }};
    if (terminal) {
        console.ask = [&](const QString &prompt, bool, QString &line) {
            *prompts << prompt;
            if (next >= typed.size())
                return false;
            line = typed.at(next++);
            return true;
        };
    }
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

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// An ordinary account made for one test and removed with its home afterwards.
struct TTemporaryUser
{
    QString name = QStringLiteral("qvtest%1").arg(::getpid() % 100000);
    bool made = ::geteuid() == 0 && !QStandardPaths::findExecutable("useradd").isEmpty() &&
                QProcess::execute("useradd", {"-m", "-s", "/bin/false", name}) == 0;
    ~TTemporaryUser()
    {
        if (made)
            QProcess::execute("userdel", {"-r", name});
    }
};

} // namespace

class tst_AdminCommand : public EnvironmentSuite
{
    Q_OBJECT

private slots:
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
        // The command states both limits at once.
        QTest::newRow("seven") << QStringList{"Secret1", "Secret1"} << 1
                               << "The password must be 8 to 20 characters long" << QString();
        QTest::newRow("no input") << QStringList{} << 1
                                  << "The password must be 8 to 20 characters long" << QString();
        QTest::newRow("first answer missing")
            << QStringList{"Secret12", "Secret12", "Pet?", " "} << 1
            << "An answer must be provided for the first reminder question" << QString();
        QTest::newRow("twenty characters")
            << QStringList{"Secret12345678901234", "Secret12345678901234"} << 0 << QString()
            << "Secret12345678901234";
        QTest::newRow("longer than the dialog takes")
            << QStringList{"Secret123456789012345", "Secret123456789012345"} << 1
            << "The password must be 8 to 20 characters long" << QString();
        QTest::newRow("question too long")
            << QStringList{"Secret12", "Secret12", QString(51, 'q'), "rex"} << 1
            << "at most 50 characters" << QString();
        QTest::newRow("answer too long")
            << QStringList{"Secret12", "Secret12", "Pet?", QString(26, 'a')} << 1
            << "at most 25 characters" << QString();
        QTest::newRow("control character") << QStringList{"Secret1\x1b"
                                                          "2",
                                                          "Secret1\x1b"
                                                          "2"}
                                           << 1 << "control characters" << QString();
        QTest::newRow("second answer missing")
            << QStringList{"Secret12", "Secret12", "", "", "Town?"} << 1
            << "An answer must be provided for the second reminder question" << QString();
        // Forgot Password asks for both answers: one question alone could never unlock.
        QTest::newRow("first question only")
            << QStringList{"Secret12", "Secret12", "Pet?", "rex"} << 1
            << "both reminder questions or neither" << QString();
        QTest::newRow("second question only")
            << QStringList{"Secret12", "Secret12", "", "", "Town?", "york"} << 1
            << "both reminder questions or neither" << QString();
    }

    void setLoginAtATerminal_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("asked"); // prompts shown before the command ended

        QTest::newRow("short password refused before the reminders")
            << QStringList{"abc", "abc", "Pet?", "rex", "Town?", "york"} << 1
            << "The password must be 8 to 20 characters long" << 2;
        QTest::newRow("long password refused before the reminders")
            << QStringList{QString(21, 'p'), QString(21, 'p'), "Pet?"} << 1
            << "The password must be 8 to 20 characters long" << 2;
        QTest::newRow("mismatch refused before the reminders")
            << QStringList{"Secret12", "Secret13", "Pet?"} << 1
            << "The entered passwords do not match" << 2;
        QTest::newRow("no reminders")
            << QStringList{"Secret12", "Secret12", ""} << 0 << QString() << 3;
        QTest::newRow("both reminders")
            << QStringList{"Secret12", "Secret12", "Pet?", "rex", "Town?", "york"} << 0 << QString()
            << 6;
        QTest::newRow("one reminder") << QStringList{"Secret12", "Secret12", "Pet?", "rex", ""} << 1
                                      << "both reminder questions or neither" << 5;
        QTest::newRow("input ends") << QStringList{"Secret12"} << 1 << "the input ended" << 2;
    }
    void setLoginAtATerminal()
    {
        QFETCH(QStringList, typed);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, asked);

        QStringList prompts;
        const TRun result = runAtTerminal({"set-login"}, typed, &prompts);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QCOMPARE(prompts.size(), asked);
        QCOMPARE(GenUtilities::LoadAdminLogin().Password.isEmpty(), status != 0);
    }

    // Piped input is nobody typing: the command says there is no terminal and how to give
    // the lines, rather than calling an unread password too short.
    void setLoginWithoutATerminal()
    {
        QStringList prompts;
        const TRun result = runAtTerminal({"set-login"}, {"Secret12", "Secret12"}, &prompts, false);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("no terminal") && result.err.contains("--stdin") &&
                     !result.err.contains("characters"),
                 qPrintable(result.err));
        QVERIFY(prompts.isEmpty());
        QVERIFY(GenUtilities::LoadAdminLogin().Password.isEmpty());
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
        QTest::newRow("camera block")
            << QStringList{"set", "camera", "block"} << 0 << "camera: block";
        QTest::newRow("screen sharing allow")
            << QStringList{"set", "screen-sharing", "allow"} << 0 << "screen-sharing: allow";
        QTest::newRow("location bad")
            << QStringList{"set", "location", "deny"} << 1 << "location: ask";
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
        const QString none = QStringLiteral("popups allowed for everyone: (none)");
        const struct
        {
            const char *row;
            QString site;
        } badSites[] = {
            {"site of 100,000 characters", QString(100000, 'a')},
            {"site wildcard", "*.example.org"},
            {"site empty label", "a..example"},
            {"site leading hyphen", "-x.example"},
            {"site of dashes", "--"},
            {"site label of 64", QString(64, 'a') + ".example"},
            {"site not UTF-8", QString::fromUtf8("a\xff.example")},
            {"site port 0", "a.example:0"},
            {"site port 65536", "a.example:65536"},
            {"site escape sequence", "a\x1b"
                                     "[31m.example"},
        };
        for (const auto &bad : badSites)
            QTest::newRow(bad.row) << QStringList{"popups", "allow", bad.site} << 1 << none;
        QTest::newRow("site international")
            << QStringList{"popups", "allow",
                           QString::fromUtf8("B\xc3\xbc"
                                             "cher.example")}
            << 0 << "popups allowed for everyone: xn--bcher-kva.example";
        QTest::newRow("site address and port")
            << QStringList{"popups", "allow", "10.0.0.7:65535"} << 0
            << "popups allowed for everyone: 10.0.0.7:65535";
        const QString builtIn = QStringLiteral("home page: (the built-in start page)");
        QTest::newRow("home page too long")
            << QStringList{"set", "home-page", "https://a.example/" + QString(2031, 'x')} << 1
            << builtIn;
        QTest::newRow("home page with user")
            << QStringList{"set", "home-page", "https://evil.example@good.example/"} << 1
            << builtIn;
        QTest::newRow("home page not UTF-8")
            << QStringList{"set", "home-page", QString::fromUtf8("https://a.example/\xff")} << 1
            << builtIn;
        QTest::newRow("user changes forbid")
            << QStringList{"set", "user-changes", "forbid"} << 0 << "user changes: forbid";
        // Groups are words of their own or one word with spaces, kept in the guide's order.
        QTest::newRow("removed commands") << QStringList{"set", "removed-commands", "exit", "save"}
                                          << 0 << "removed commands: save exit";
        QTest::newRow("removed commands in one word")
            << QStringList{"set", "removed-commands", "print, admin-menu save"} << 0
            << "removed commands: save admin-menu print";
        QTest::newRow("removed commands none")
            << QStringList{"set", "removed-commands", "none"} << 0 << "removed commands: none";
        QTest::newRow("removed commands none and one")
            << QStringList{"set", "removed-commands", "none", "save"} << 1
            << "removed commands: none";
        QTest::newRow("removed commands unknown")
            << QStringList{"set", "removed-commands", "save", "quit"} << 1
            << "removed commands: none";
        QTest::newRow("zoom") << QStringList{"set", "zoom", "150"} << 0 << "zoom: 150%";
        QTest::newRow("zoom at its least") << QStringList{"set", "zoom", "25"} << 0 << "zoom: 25%";
        QTest::newRow("zoom too small") << QStringList{"set", "zoom", "24"} << 1 << "zoom: 100%";
        QTest::newRow("zoom with a sign")
            << QStringList{"set", "zoom", "+150"} << 1 << "zoom: 100%";
        QTest::newRow("zoom off") << QStringList{"set", "zoom", "off"} << 1 << "zoom: 100%";
        QTest::newRow("idle countdown")
            << QStringList{"set", "idle-countdown", "45"} << 0 << "idle countdown: 45 seconds";
        QTest::newRow("idle countdown too long")
            << QStringList{"set", "idle-countdown", "121"} << 1 << "idle countdown: 30 seconds";
        QTest::newRow("pointer hidden")
            << QStringList{"set", "pointer", "hidden"} << 0 << "pointer: hidden";
        QTest::newRow("user changes bad")
            << QStringList{"set", "user-changes", "no"} << 1 << "user changes: allow";
        QTest::newRow("idle reset")
            << QStringList{"set", "idle-reset", "15"} << 0 << "idle reset: 15 minutes";
        QTest::newRow("idle reset off")
            << QStringList{"set", "idle-reset", "off"} << 0 << "idle reset: off";
        for (const char *bad : {"0", "1441", "-5", "015", "1e3", " 5", "five"})
            QTest::newRow(qPrintable(QStringLiteral("idle reset %1").arg(bad)))
                << QStringList{"set", "idle-reset", bad} << 1 << "idle reset: off";
        QTest::newRow("window full screen")
            << QStringList{"set", "window", "full-screen"} << 0 << "window: full-screen";
        QTest::newRow("window bad")
            << QStringList{"set", "window", "fullscreen"} << 1 << "window: normal";
        QTest::newRow("unknown command") << QStringList{"unlock"} << 1 << "login set: no";
        QTest::newRow("set-login stray argument")
            << QStringList{"set-login", "pw"} << 1 << "login set: no";
        QTest::newRow("shared favorites name")
            << QStringList{"set", "shared-favorites-name", " Class 3B "} << 0
            << "shared favorites name: Class 3B";
        QTest::newRow("shared favorites name blank")
            << QStringList{"set", "shared-favorites-name", " "} << 1
            << "shared favorites name: Shared favorites";
        QTest::newRow("shared favorites name of a no-break space")
            << QStringList{"set", "shared-favorites-name", QString(QChar(0x00a0))} << 1
            << "shared favorites name: Shared favorites";
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
        // A change says whom it told and, for what a running browser keeps, when it applies.
        if (status == 0 && !arguments.contains("--help")) {
            const bool atStart =
                arguments.value(0) == "set" &&
                (arguments.value(1) == "browsing-data" || arguments.value(1) == "window");
            const QString later = atStart ? "quelvard-admin: " + arguments.value(1) +
                                                ": Takes effect when Quelvard is started again.\n"
                                          : QString();
            QVERIFY(result.out.isEmpty());
            QCOMPARE(result.err, later);
            QCOMPARE(result.told, "no browser is running");
        } else if (status != 0)
            QVERIFY(!result.err.isEmpty());
        // A refused value is echoed escaped, never raw, and never at length.
        QVERIFY(!result.err.contains(QChar(0x1b)) && result.err.size() < 1000);
        const TRun shown = run({"status"});
        QCOMPARE(shown.status, 0);
        QVERIFY2(shown.out.split('\n').contains(statusLine), qPrintable(shown.out));
    }

    void favorites_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("listed"); // what `favorites list` prints afterwards

        const QString school = QStringLiteral("https://school.example/");
        QTest::newRow("add") << QStringList{"favorites", "add", "School", school} << 0
                             << "School\t" + school + "\n";
        QTest::newRow("add in nested folders")
            << QStringList{"favorites", "add", " Fish & Chips ", school, "--folder", "/Food/Fish/"}
            << 0 << "Food/\nFood/Fish/\nFood/Fish/Fish & Chips\t" + school + "\n";
        const struct
        {
            const char *row;
            QStringList arguments;
        } refused[] = {
            {"name with a slash", {"favorites", "add", "a/b", school}},
            {"name dot-dot", {"favorites", "add", "..", school}},
            {"hidden name", {"favorites", "add", ".School", school}},
            {"name with an escape", {"favorites", "add", "a\x1b[31m", school}},
            {"name too long", {"favorites", "add", QString(252, 'n'), school}},
            {"folder climbing out", {"favorites", "add", "School", school, "--folder", "a/../.."}},
            {"javascript address", {"favorites", "add", "School", "javascript:alert(1)"}},
            {"address with a user", {"favorites", "add", "School", "https://u@school.example/"}},
            {"no address", {"favorites", "add", "School"}},
            {"list of a folder", {"favorites", "list", "--folder", "Food"}},
            {"unknown action", {"favorites", "clear"}},
        };
        for (const auto &row : refused)
            QTest::newRow(row.row) << row.arguments << 1 << QString();
        QTest::newRow("remove what is not there")
            << QStringList{"favorites", "remove", "School"} << 0 << QString();
    }
    void favorites()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, listed);
        const TRun result = run(arguments);
        QCOMPARE(result.status, status);
        QVERIFY(!result.err.contains(QChar(0x1b)));
        const TRun list = run({"favorites", "list"});
        QCOMPARE(list.status, 0);
        QCOMPARE(list.out, listed);
    }

    // A mistyped option is named and nothing is written, rather than taken for a site, a
    // favorite's name or a value.
    void unknownOptionRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("option");
        const QString school = QStringLiteral("https://school.example/");
        QTest::newRow("popups --all-user")
            << QStringList{"popups", "allow", "--all-user", "a.example"} << "--all-user";
        QTest::newRow("popups --dry-run after the site")
            << QStringList{"popups", "allow", "a.example", "--dry-run"} << "--dry-run";
        QTest::newRow("favorites --dry-run as the name")
            << QStringList{"favorites", "add", "--dry-run", school} << "--dry-run";
        QTest::newRow("favorites -f")
            << QStringList{"favorites", "add", "School", school, "-f"} << "-f";
        QTest::newRow("set value")
            << QStringList{"set", "shared-favorites-name", "--dry-run"} << "--dry-run";
        QTest::newRow("set name") << QStringList{"set", "--home-page", school} << "--home-page";
        QTest::newRow("unset") << QStringList{"unset", "home-page", "--force"} << "--force";
        QTest::newRow("urls") << QStringList{"urls", "block", "--dry-run", "games.example"}
                              << "--dry-run";
    }
    void unknownOptionRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, option);
        const TRun result = run(arguments);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("unknown option \"" + option + "\""), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(m_env->machineHive()));
        QVERIFY(!QFileInfo::exists(MachineFavorites::Folder()));
    }

    // After "--" a value may start with "-"; a lone "-" is an ordinary value.
    void valuesAfterTheEndOfOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("shown"); // the command that shows it
        QTest::addColumn<QString>("line");
        const QString school = QStringLiteral("https://school.example/");
        QTest::newRow("favorite named -Maths-")
            << QStringList{"favorites", "add", "--", "-Maths-", school}
            << QStringList{"favorites", "list"} << "-Maths-\t" + school;
        QTest::newRow("favorite named -") << QStringList{"favorites", "add", "-", school}
                                          << QStringList{"favorites", "list"} << "-\t" + school;
        QTest::newRow("folder given with =")
            << QStringList{"favorites", "add", "School", school, "--folder=Homework"}
            << QStringList{"favorites", "list"} << "Homework/School\t" + school;
        QTest::newRow("caption starting with -")
            << QStringList{"set", "shared-favorites-name", "--", "-Class 3B-"}
            << QStringList{"status"} << "shared favorites name: -Class 3B-";
    }
    void valuesAfterTheEndOfOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, shown);
        QFETCH(QString, line);
        const TRun result = run(arguments);
        QVERIFY2(result.status == 0 && result.err.isEmpty(), qPrintable(result.err));
        QVERIFY2(run(shown).out.split('\n').contains(line), qPrintable(run(shown).out));
    }

    // Nothing to remove is still done (a playbook's second run), but said.
    void removingWhatIsNotListed_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("popups site")
            << QStringList{"popups", "remove", "a.example"} << "\"a.example\" was not listed";
        QTest::newRow("favorite") << QStringList{"favorites", "remove", "School"}
                                  << "\"School\" was not listed";
        QTest::newRow("favorite in a missing folder")
            << QStringList{"favorites", "remove", "School", "--folder", "Homework"}
            << "\"School\" was not listed";
    }
    void removingWhatIsNotListed()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QCOMPARE(run({"popups", "allow", "b.example"}).status, 0);
        QCOMPARE(run({"favorites", "add", "Other", "https://o.example/"}).status, 0);
        const TRun result = run(arguments);
        QCOMPARE(result.status, 0);
        QVERIFY2(result.err.contains(named), qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
    }

    void favoriteReplacedIsSaid()
    {
        const TRun first = run({"favorites", "add", "School", "https://old.example/"});
        QVERIFY2(first.status == 0 && first.err.isEmpty(), qPrintable(first.err));
        const TRun again = run({"favorites", "add", "School", "https://new.example/"});
        QCOMPARE(again.status, 0);
        QVERIFY2(again.err.contains("replaced \"School\"") &&
                     again.err.contains("https://old.example/"),
                 qPrintable(again.err));
        QCOMPARE(run({"favorites", "list"}).out, QStringLiteral("School\thttps://new.example/\n"));
        // A folder of that name is another entry, not replaced.
        const TRun beside =
            run({"favorites", "add", "Maths", "https://m.example/", "--folder", "School"});
        QVERIFY2(beside.status == 0 && beside.err.isEmpty(), qPrintable(beside.err));
    }

    // Made 0755 and 0644 whatever root's umask, and taken away file by file or folder by folder.
    void favoritesModesAndRemoval()
    {
        const mode_t saved = ::umask(077);
        const int added =
            run({"favorites", "add", "Maths", "https://m.example/", "--folder", "Homework"}).status;
        ::umask(saved);
        QCOMPARE(added, 0);
        const QString folder = MachineFavorites::Folder();
        QCOMPARE(modeOf(folder), mode_t(0755));
        QCOMPARE(modeOf(folder + "/Homework"), mode_t(0755));
        QCOMPARE(modeOf(folder + "/Homework/Maths.irl"), mode_t(0644));
        QCOMPARE(run({"favorites", "add", "School", "https://s.example/"}).status, 0);
        QCOMPARE(run({"favorites", "remove", "Maths", "--folder", "Homework"}).status, 0);
        QCOMPARE(run({"favorites", "list"}).out,
                 QStringLiteral("Homework/\nSchool\thttps://s.example/\n"));
        QCOMPARE(run({"favorites", "remove", "Homework"}).status, 0);
        QCOMPARE(run({"favorites", "list"}).out, QStringLiteral("School\thttps://s.example/\n"));
    }

    void favoritesInUnsafeFolderRefused_data()
    {
        QTest::addColumn<QString>("path"); // below the machine folder
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mend");
        QTest::newRow("favorites folder a link") << ""
                                                 << "link"
                                                 << "rm ";
        QTest::newRow("subfolder a link") << "/Homework"
                                          << "link"
                                          << "rm ";
        QTest::newRow("subfolder writable by others") << "/Homework"
                                                      << "chmod"
                                                      << "chmod go-w";
    }
    // As with the store, root writes nothing where someone else could have led it.
    void favoritesInUnsafeFolderRefused()
    {
        QFETCH(QString, path);
        QFETCH(QString, fault);
        QFETCH(QString, mend);
        if (::geteuid() != 0)
            QSKIP("only root is refused an unsafe folder");
        QCOMPARE(
            run({"favorites", "add", "Maths", "https://m.example/", "--folder", "Homework"}).status,
            0);
        const QString target = MachineFavorites::Folder() + path;
        if (fault == "chmod") {
            QVERIFY(::chmod(QFile::encodeName(target), 0777) == 0);
        } else {
            QVERIFY(QFile::rename(target, m_env->root() + "/elsewhere"));
            QVERIFY(QFile::link(m_env->root() + "/elsewhere", target));
        }
        const TRun refused =
            run({"favorites", "add", "Planted", "https://p.example/", "--folder", "Homework"});
        QCOMPARE(refused.status, int(AdminCommand::Unreadable));
        QVERIFY2(refused.err.contains(target) && refused.err.contains(mend),
                 qPrintable(refused.err));
        QVERIFY(!QFileInfo::exists(m_env->root() + "/elsewhere/Homework/Planted.irl"));
        QVERIFY(!QFileInfo::exists(m_env->root() + "/elsewhere/Planted.irl"));
        QVERIFY(!QFileInfo::exists(target + "/Planted.irl"));
    }

    // The whole tree at once, as a policy file gives it: all or nothing.
    void favoritesTreeReplacedWhole()
    {
        using MachineFavorites::TNode;
        QCOMPARE(run({"favorites", "add", "Old", "https://old.example/"}).status, 0);
        const QVector<TNode> tree = {
            TNode::Folder("Homework", {TNode::Folder("Empty", {}),
                                       TNode::Favorite("Maths", "https://m.example/")}),
            TNode::Favorite("School", "https://s.example/")};
        MachineFavorites::ReplaceTree(tree);
        QCOMPARE(MachineFavorites::ReadTree(MachineFavorites::Folder()), tree);
        const QVector<TNode> twice = {TNode::Favorite("A", "https://a.example/"),
                                      TNode::Favorite("A", "https://b.example/")};
        QVERIFY_THROWS_EXCEPTION(EQuelvardError, MachineFavorites::ReplaceTree(twice));
        const QVector<TNode> bad = {TNode::Favorite("A", "https://a.example/"),
                                    TNode::Favorite("B", "ftp://b.example/")};
        QVERIFY_THROWS_EXCEPTION(EQuelvardError, MachineFavorites::ReplaceTree(bad));
        QCOMPARE(MachineFavorites::ReadTree(MachineFavorites::Folder()), tree);
        QCOMPARE(QDir(QFileInfo(m_env->machineHive()).absolutePath())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"Favorites"});
    }

    void removeAndUnset()
    {
        QCOMPARE(run({"popups", "allow", "a.example", "b.example"}).status, 0);
        QCOMPARE(run({"popups", "remove", "A.EXAMPLE"}).status, 0);
        QCOMPARE(run({"popups", "list"}).out, QStringLiteral("b.example\n"));
        QCOMPARE(run({"set", "home-page", "http://h.example/"}).status, 0);
        QCOMPARE(run({"unset", "home-page"}).status, 0);
        QVERIFY(MachinePolicies::Read().HomePage.isEmpty());
        QCOMPARE(run({"popups", "clear"}).status, 0);
        QCOMPARE(run({"popups", "list"}).out, QString());
    }

    void urls_data()
    {
        QTest::addColumn<QList<QStringList>>("commands"); // run in order
        QTest::addColumn<int>("status");                  // of the last
        QTest::addColumn<QString>("out");                 // of the last
        QTest::addColumn<QString>("err");  // of the last: a part of it, or empty for none
        QTest::addColumn<QString>("list"); // `urls list` afterwards

        const QString home = "set home-page https://games.example/play";
        const auto lines = [](std::initializer_list<const char *> commands) {
            QList<QStringList> made;
            for (const char *command : commands)
                made << QString::fromUtf8(command).split(' ');
            return made;
        };
        QTest::newRow("block and allow")
            << lines({"urls block games.example *", "urls allow school.example"}) << 0 << ""
            << ""
            << "block games.example\nblock *\nallow school.example\n";
        QTest::newRow("one malformed pattern writes none")
            << lines({"urls block good.example http://[::1/x"}) << 1 << ""
            << "\"http://[::1/x\" refused: "
            << "";
        QTest::newRow("IPv6 address")
            << lines({"urls block [::1] [2001:db8::1]:8080/admin"}) << 0 << ""
            << ""
            << "block [::1]\nblock [2001:db8::1]:8080/admin\n";
        QTest::newRow("a pattern that could never match writes none")
            << lines({"urls block good.example games.example/*"}) << 1 << ""
            << "\"games.example/*\" refused: a path is a prefix, and a * in it matches only a * "
               "in the address: write \"games.example\""
            << "";
        QTest::newRow("mistyped scheme") << lines({"urls allow htps://site.example"}) << 1 << ""
                                         << "write \"https://site.example\""
                                         << "";
        QTest::newRow("remove says from which list")
            << lines({"urls block a.example", "urls allow a.example", "urls allow b.example",
                      "urls remove a.example c.example"})
            << 0
            << "removed \"a.example\" from the block list and the allow list\n"
               "\"c.example\" was on neither list\n"
            << ""
            << "allow b.example\n";
        QTest::newRow("home page becomes blocked")
            << lines({home.toUtf8().constData(), "urls block games.example"}) << 0 << ""
            << "warning: the home page \"https://games.example/play\" is blocked by the rule "
               "\"games.example\""
            << "block games.example\n";
        QTest::newRow("home page set where it is blocked")
            << lines({"urls block *", home.toUtf8().constData()}) << 0 << ""
            << "is blocked by the rule \"*\""
            << "block *\n";
        QTest::newRow("home page on the allow list")
            << lines({"urls block *", "urls allow games.example/play", home.toUtf8().constData()})
            << 0 << ""
            << ""
            << "block *\nallow games.example/play\n";
    }
    void urls()
    {
        QFETCH(QList<QStringList>, commands);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, list);
        TRun result;
        for (const QStringList &command : commands)
            result = run(command);
        QCOMPARE(result.status, status);
        QCOMPARE(result.out, out);
        QVERIFY2(err.isEmpty() ? result.err.isEmpty() : result.err.contains(err),
                 qPrintable(result.err));
        QCOMPARE(run({"urls", "list"}).out, list);
    }

    // Decided as the browser decides: the most specific rule, ties to allow, the program's own
    // pages always through, and spellings of a host that must not slip past.
    void urlsCheck_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("answer"); // the line's first word and its end
        QTest::newRow("blocked host") << "https://games.example/x"
                                      << "blocked by \"games.example\"";
        QTest::newRow("typed without a scheme") << "games.example"
                                                << "blocked by \"games.example\"";
        QTest::newRow("more specific allow") << "https://maths.games.example/"
                                             << "allowed by \"maths.games.example\"";
        QTest::newRow("path prefix") << "https://school.example/private/1"
                                     << "blocked by \"school.example/private\"";
        QTest::newRow("own pages") << "quelvard://home/start.html"
                                   << "allowed (the program's own pages are always allowed)";
        QTest::newRow("IPv4-mapped IPv6 address") << "http://[::ffff:127.0.0.2]:8123/"
                                                  << "blocked by \"127.0.0.2\"";
        QTest::newRow("IPv4-mapped, hexadecimal, typed bare") << "[::ffff:7f00:2]"
                                                              << "blocked by \"127.0.0.2\"";
        QTest::newRow("IPv6 address") << "http://[0:0::1]/"
                                      << "blocked by \"[::1]\"";
        QTest::newRow("query key prefix") << "https://school.example/search?qq=1"
                                          << "blocked by \"school.example/search?q*\"";
    }
    void urlsCheck()
    {
        QFETCH(QString, address);
        QFETCH(QString, answer);
        QCOMPARE(run({"urls", "block", "games.example", "school.example/private", "127.0.0.2",
                      "[::1]", "school.example/search?q*"})
                     .status,
                 0);
        QCOMPARE(run({"urls", "allow", "maths.games.example"}).status, 0);
        const TRun result = run({"urls", "check", address});
        QCOMPARE(result.status, 0);
        const QString line = result.out.trimmed();
        QVERIFY2(line.startsWith(answer.section(' ', 0, 0)) &&
                     line.endsWith(answer.section(' ', 1)) && !line.contains('\n'),
                 qPrintable(line));
    }

    // A school's category folder and a family's hosts file, imported, named by check, listed,
    // dropped; a list with no host in it changes nothing.
    void categoryImport()
    {
        const QString adult = m_env->root() + "/lists/adult";
        writeBytes(adult + "/domains", "# adult\nadult.example\nnot a host\n");
        writeBytes(adult + "/urls", "school.example/private\n");
        const QString hosts = m_env->root() + "/hosts";
        writeBytes(hosts, "0.0.0.0 ads.example\n");
        QCOMPARE(run({"urls", "allow", "ads.example/ok"}).status, 0);

        TRun imported = run({"urls", "import", "--block", adult});
        QVERIFY2(imported.status == 0, qPrintable(imported.err));
        QVERIFY2(imported.err.contains("skipped 1 line") && imported.err.contains("domains:3"),
                 qPrintable(imported.err));
        QCOMPARE(run({"urls", "import", "--block", "--category", "ads", hosts}).status, 0);
        QCOMPARE(run({"urls", "categories"}).out, QString("ads block 1\nadult block 2\n"));

        QCOMPARE(run({"urls", "check", "http://www.adult.example/"}).out.trimmed(),
                 QString("blocked http://www.adult.example/ by the category \"adult\""));
        QVERIFY(
            run({"urls", "check", "https://school.example/private/x"}).out.startsWith("blocked"));
        QVERIFY(run({"urls", "check", "https://school.example/"}).out.startsWith("allowed"));
        // A pattern more specific than a category's host still decides.
        QVERIFY(run({"urls", "check", "http://ads.example/ok/1"}).out.startsWith("allowed"));

        const QString empty = m_env->root() + "/empty";
        writeBytes(empty, "# nothing\nnot a host\n");
        QCOMPARE(run({"urls", "import", "--block", empty}).status, 1);
        QCOMPARE(run({"urls", "categories"}).out, QString("ads block 1\nadult block 2\n"));

        QCOMPARE(run({"urls", "drop-category", "adult"}).status, 0);
        QVERIFY(run({"urls", "check", "http://adult.example/"}).out.startsWith("allowed"));
        QCOMPARE(run({"urls", "drop-category", "adult"}).status, 1);
        QCOMPARE(run({"urls", "import", "--category", "x", hosts}).status, int(ExitStatus::Usage));
    }

    // A fleet's policy: what export prints, apply takes back unchanged, onto any machine.
    void applyRoundTripAndIdempotence()
    {
        const QString games = m_env->root() + "/lists/games";
        writeBytes(games + "/domains", "games.school.example\n");
        for (const QStringList &command :
             {QStringList{"set", "home-page", "https://school.example/"},
              {"set", "browsing-data", "forget"},
              {"set", "camera", "block"},
              {"popups", "allow", "school.example"},
              {"urls", "block", "*"},
              {"urls", "allow", "school.example", ".dictionary.example/words"},
              {"set", "idle-reset", "5"},
              {"favorites", "add", "Words", "https://dictionary.example/words", "--folder",
               "Homework"},
              {"urls", "import", "--block", games}})
            QCOMPARE(run(command).status, 0);
        const TRun exported = run({"export"});
        QCOMPARE(exported.status, 0);
        QVERIFY2(exported.out.contains("\"blocked-urls\": [\n    \"*\"\n  ]"),
                 qPrintable(exported.out));
        const QString file = writePolicy(exported.out.toUtf8());
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));

        QVERIFY(QFile::remove(m_env->machineHive()));
        QVERIFY(QDir(m_env->machineDataDir() + "/Quelvard/Favorites").removeRecursively());
        QCOMPARE(run({"urls", "drop-category", "games"}).status, 0);
        QCOMPARE(run({"export"}).out.contains("school.example"), false);
        const TRun applied = run({"apply", file});
        QCOMPARE(applied.status, 0);
        QCOMPARE(applied.out, QStringLiteral("changed\n"));
        QCOMPARE(run({"export"}).out, exported.out);
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));
        QCOMPARE(run({"urls", "check", "https://school.example/"}).out.left(7),
                 QStringLiteral("allowed"));
        QCOMPARE(run({"favorites", "list"}).out,
                 QStringLiteral("Homework/\nHomework/Words\thttps://dictionary.example/words\n"));
        QCOMPARE(run({"urls", "check", "https://games.school.example/"}).out.trimmed(),
                 QStringLiteral("blocked https://games.school.example/ by the category \"games\""));
        // A file without the category drops it.
        writeBytes(file, exported.out.toUtf8().replace("\"games\"", "\"gone\""));
        QVERIFY(run({"apply", file}).status == 0);
        QCOMPARE(run({"urls", "categories"}).out, QStringLiteral("gone block 1\n"));
    }

    // The shared favorites keep the order the file gives, through the store on disk and back
    // out of export, as managed bookmarks do; neither names nor folders-first reorder them.
    void favoritesKeepTheGivenOrder()
    {
        const QByteArray given = "[{\"name\": \"Zoo\", \"url\": \"https://zoo.example/\"},"
                                 " {\"name\": \"Maths\", \"children\": ["
                                 "   {\"name\": \"Tables\", \"url\": \"https://t.example/\"},"
                                 "   {\"name\": \"Algebra\", \"url\": \"https://a.example/\"}]},"
                                 " {\"name\": \"Atlas\", \"url\": \"https://atlas.example/\"}]";
        const QString file = writePolicy("{\"favorites\": " + given + "}");
        QCOMPARE(run({"apply", file}).out, QStringLiteral("changed\n"));
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));
        const QJsonArray exported = QJsonDocument::fromJson(run({"export"}).out.toUtf8())
                                        .object()
                                        .value("favorites")
                                        .toArray();
        QCOMPARE(exported, QJsonDocument::fromJson(given).array());
        const QString listed = QStringLiteral("Zoo\thttps://zoo.example/\nMaths/\n"
                                              "Maths/Tables\thttps://t.example/\n"
                                              "Maths/Algebra\thttps://a.example/\n"
                                              "Atlas\thttps://atlas.example/\n");
        QCOMPARE(run({"favorites", "list"}).out, listed);

        // One added afterwards comes last; one taken away leaves the others' order.
        QCOMPARE(run({"favorites", "add", "Later", "https://later.example/"}).status, 0);
        QCOMPARE(run({"favorites", "remove", "Zoo"}).status, 0);
        QCOMPARE(run({"favorites", "list"}).out,
                 listed.mid(listed.indexOf("Maths/")) + "Later\thttps://later.example/\n");
        // The same favorites in another order are a change.
        const QString reordered = writePolicy(
            "{\"favorites\": [{\"name\": \"Atlas\", \"url\": \"https://atlas.example/\"},"
            " {\"name\": \"Later\", \"url\": \"https://later.example/\"},"
            " {\"name\": \"Maths\", \"children\": ["
            "   {\"name\": \"Algebra\", \"url\": \"https://a.example/\"},"
            "   {\"name\": \"Tables\", \"url\": \"https://t.example/\"}]}]}");
        QCOMPARE(run({"apply", reordered}).out, QStringLiteral("changed\n"));
        QCOMPARE(run({"favorites", "list"}).out,
                 QStringLiteral("Atlas\thttps://atlas.example/\nLater\thttps://later.example/\n"
                                "Maths/\nMaths/Algebra\thttps://a.example/\n"
                                "Maths/Tables\thttps://t.example/\n"));
        QCOMPARE(run({"apply", reordered}).out, QStringLiteral("unchanged\n"));
    }

    // Keys left out mean the default: the file is the whole policy. --check writes nothing.
    void applyCheckAndDefaults()
    {
        QCOMPARE(run({"set", "downloads", "forbid"}).status, 0);
        QCOMPARE(run({"urls", "block", "games.example"}).status, 0);
        const QByteArray before = hiveBytes();
        const QString file = writePolicy(
            "{\"home-page\": \"https://school.example/\", \"allowed-urls\": [\"a.example\"]}");
        const TRun checked = run({"apply", "--check", file});
        // Its own status when something would change, so a playbook needs no parsing.
        QCOMPARE(checked.status, 4);
        QCOMPARE(checked.out.split('\n', Qt::SkipEmptyParts),
                 (QStringList{"home-page: \"\" -> \"https://school.example/\"",
                              "downloads: \"forbid\" -> \"allow\"",
                              "blocked-urls: [\"games.example\"] -> []",
                              "allowed-urls: [] -> [\"a.example\"]"}));
        QCOMPARE(hiveBytes(), before);
        QCOMPARE(run({"apply", file}).out, QStringLiteral("changed\n"));
        const auto policies = MachinePolicies::Read();
        QCOMPARE(policies.HomePage, QStringLiteral("https://school.example/"));
        QCOMPARE(policies.downloads, MachinePolicies::Downloads::Allow);
        QCOMPARE(policies.BlockedUrls, QStringList());
        QCOMPARE(policies.AllowedUrls, QStringList{"a.example"});
        const TRun matches = run({"apply", "--check", file});
        QCOMPARE(matches.out, QStringLiteral("unchanged\n"));
        QCOMPARE(matches.status, 0);

        // A pattern stored by hand that the browser ignores is left out of export, and said.
        MachinePolicies::AddUrlPattern(MachinePolicies::UrlList::Block, "bad pattern");
        const TRun exported = run({"export"});
        QVERIFY(!exported.out.contains("bad pattern") && exported.err.contains("bad pattern"));
    }

    void applyRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("named"); // in the message
        QTest::newRow("unknown key")
            << QByteArray("{\"homepage\": \"https://a.example/\"}") << "unknown key \"homepage\"";
        QTest::newRow("the login") << QByteArray("{\"login\": \"Secret12\"}") << "\"login\"";
        QTest::newRow("a list given as a string")
            << QByteArray("{\"blocked-urls\": \"*\"}") << "\"blocked-urls\": expected a list";
        QTest::newRow("a number in a list")
            << QByteArray("{\"popup-sites\": [\"a.example\", 7]}") << "\"popup-sites\"";
        QTest::newRow("a string given as true")
            << QByteArray("{\"browsing-data\": true}") << "\"browsing-data\": expected a string";
        QTest::newRow("malformed pattern after good keys")
            << QByteArray(
                   "{\"home-page\": \"https://a.example/\", \"allowed-urls\": [\"ok\", \"a b\"]}")
            << "\"allowed-urls\": \"a b\" refused";
        QTest::newRow("a word misspelt") << QByteArray("{\"camera\": \"Block\"}") << "\"camera\"";
        QTest::newRow("patterns the store cannot keep apart")
            << QByteArray("{\"blocked-urls\": [\"a.example/X\", \"a.example/x\"]}")
            << "letter case";
        QTest::newRow("a favorite's name with a path")
            << QByteArray(
                   "{\"favorites\": [{\"name\": \"../x\", \"url\": \"https://a.example/\"}]}")
            << "\"favorites\": \"../x\"";
        QTest::newRow("a favorite without an address")
            << QByteArray("{\"favorites\": [{\"name\": \"x\"}]}") << "\"favorites\"";
        QTest::newRow("not JSON") << QByteArray("home-page: x") << "not JSON";
        QTest::newRow("a key twice")
            << QByteArray("{\"downloads\": \"allow\",\n\"downloads\": \"forbid\"}")
            << "\"downloads\" is given twice, on lines 1 and 2";
        QTest::newRow("a key as YAML spells it")
            << QByteArray("{\"home_page\": \"https://a.example/\"}")
            << "did you mean \"home-page\"";
        QTest::newRow("shared favorites thirty folders deep")
            << nestedFavorites(30, 243) << "a path is at most 1024 bytes long";
        QTest::newRow("not an object") << QByteArray("[]") << "one JSON object";
    }
    void applyRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, named);
        QCOMPARE(run({"set", "home-page", "https://before.example/"}).status, 0);
        QCOMPARE(run({"urls", "block", "before.example"}).status, 0);
        const QByteArray before = hiveBytes();
        const QString file = writePolicy(json);
        // Refused is an error with --check too, never "would change".
        for (const QStringList &arguments :
             {QStringList{"apply", file}, {"apply", "--check", file}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, 1);
            QVERIFY2(result.err.contains(named), qPrintable(result.err));
            QVERIFY(result.out.isEmpty());
        }
        QCOMPARE(hiveBytes(), before);
        QVERIFY(!QFileInfo::exists(MachineFavorites::Folder()));
    }

    // What is not a policy file is refused before it is read: /dev/zero never ends.
    void applyNotAFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("an endless device") << "/dev/zero"
                                           << "is a device, not a regular file";
        QTest::newRow("a folder") << "/"
                                  << "is a folder, not a regular file";
    }
    void applyNotAFile()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        for (const QStringList &arguments :
             {QStringList{"apply", path}, {"apply", "--check", path}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, 1);
            QVERIFY2(result.err.contains(message), qPrintable(result.err));
        }
    }

    // A playbook run again leaves the login as it is, reminders and all.
    void setLoginIfUnset()
    {
        const TRun first = run({"set-login", "--stdin", "--if-unset"}, {"Secret12", "Secret12"});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, QStringLiteral("changed\n"));
        QCOMPARE(GenUtilities::LoadAdminLogin().Password, QStringLiteral("Secret12"));
        QCOMPARE(run({"set-login", "--stdin"},
                     {"Changed12", "Changed12", "Pet?", "rex", "Town?", "york"})
                     .status,
                 0);
        const QByteArray before = hiveBytes();
        for (const QStringList &lines :
             {QStringList{"Playbook12", "Playbook12"}, QStringList{"x"}}) {
            const TRun again = run({"set-login", "--if-unset", "--stdin"}, lines);
            QCOMPARE(again.status, 0);
            QCOMPARE(again.out, QStringLiteral("unchanged\n"));
        }
        QCOMPARE(hiveBytes(), before);
        const recAdminLogin kept = GenUtilities::LoadAdminLogin();
        QCOMPARE(kept.Password, QStringLiteral("Changed12"));
        QCOMPARE(kept.Answer2, QStringLiteral("york"));
    }

    // The limits of the shared favorites are kept by every writer, and export leaves out what
    // lies past them, so a tree applied is the tree exported and applying it twice is a no-op.
    void sharedFavoritesLimits()
    {
        // Ten folders and a favorite, 1024 bytes of path: as far as a tree may go.
        const QByteArray widest = nestedFavorites(10, 92, QLatin1Char('f'), 94);
        QString file = writePolicy(widest);
        QCOMPARE(run({"apply", file}).out, QStringLiteral("changed\n"));
        QCOMPARE(run({"apply", "--check", file}).status, 0);
        const TRun exported = run({"export"});
        QVERIFY2(exported.err.isEmpty(), qPrintable(exported.err));
        QCOMPARE(exported.out.count('"' + QString(92, QLatin1Char('f')) + '"'), 10);

        QStringList eleven;
        for (int i = 0; i < 11; ++i)
            eleven << QStringLiteral("F%1").arg(i);
        const TRun tooDeep =
            run({"favorites", "add", "Deep", "https://a.example/", "--folder", eleven.join('/')});
        QCOMPARE(tooDeep.status, 1);
        QVERIFY2(tooDeep.err.contains("folders nest at most 10 deep"), qPrintable(tooDeep.err));
        QCOMPARE(run({"export"}).out, exported.out);

        // Made by hand past the limits: export says what it leaves out, and prints a file
        // apply takes, after which the machine matches it.
        const QString deep = MachineFavorites::Folder() + "/" + eleven.join('/');
        QVERIFY(QDir().mkpath(deep));
        writeBytes(deep + "/Deep.irl", "[InternetShortcut]\r\nURL=https://deep.example/\r\n");
        const TRun handMade = run({"export"});
        QCOMPARE(handMade.status, 0);
        QVERIFY2(handMade.err.contains("\"F0/F1/F2/F3/F4/F5/F6/F7/F8/F9/F10\" is left out: "
                                       "folders nest at most 10 deep"),
                 qPrintable(handMade.err));
        QVERIFY(handMade.out.contains("\"F9\"") && !handMade.out.contains("F10"));
        file = writePolicy(handMade.out.toUtf8());
        QCOMPARE(run({"apply", file}).out, QStringLiteral("changed\n"));
        QCOMPARE(run({"apply", file}).out, QStringLiteral("unchanged\n"));
        QVERIFY(!QFileInfo::exists(MachineFavorites::Folder() + "/" + eleven.join('/')));
    }

    // Tests run as root, so a file standing where the store's folder belongs makes it
    // unwritable for anyone.
    void refusedWrite()
    {
        writeBytes(m_env->machineDataDir() + "/Quelvard", QByteArray());
        for (const QStringList &arguments :
             {QStringList{"popups", "allow", "a.example"}, QStringList{"unset", "home-page"},
              QStringList{"set", "browsing-data", "forget"}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, int(AdminCommand::NotPermitted));
            QVERIFY2(result.err.contains(m_env->machineHive()), qPrintable(result.err));
            // Only someone who is not root is told to become root.
            QCOMPARE(result.err.contains("run as root"), ::geteuid() != 0);
        }
        const TRun login = run({"set-login", "--stdin"}, {"Secret12", "Secret12"});
        QCOMPARE(login.status, int(AdminCommand::NotPermitted));
    }

    void unreadableStore()
    {
        QDir().mkpath(m_env->machineDataDir() + "/Quelvard");
        writeBytes(m_env->machineHive(), QByteArray(4096, 'x'));
        // The manual page promises the message says how to mend it.
        const QString hive = m_env->machineHive();
        const QString mend = QStringLiteral("mv %1 %1.damaged").arg(hive);
        for (const QStringList &arguments :
             {QStringList{"status"}, QStringList{"popups", "allow", "a.example"}}) {
            const TRun result = run(arguments);
            QCOMPARE(result.status, int(AdminCommand::Unreadable));
            QVERIFY2(result.err.contains(hive) && result.err.contains(mend) &&
                         result.err.contains("set-login"),
                     qPrintable(result.err));
        }
        QFile check(m_env->machineHive());
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray(4096, 'x'));
    }

    // A store whose header is right but whose pages are not is damaged too.
    void malformedStoreNamesTheMend()
    {
        QCOMPARE(run({"set", "idle-reset", "5"}).status, 0);
        QFile store(m_env->machineHive());
        QVERIFY(store.open(QIODevice::ReadWrite));
        QVERIFY(store.seek(100));
        store.write(QByteArray(3000, '\xff'));
        store.close();
        const TRun result = run({"status"});
        QCOMPARE(result.status, int(AdminCommand::Unreadable));
        QVERIFY2(result.err.contains(QStringLiteral("mv %1 %1.damaged").arg(m_env->machineHive())),
                 qPrintable(result.err));
    }

    // Created by the command itself, so root's umask has no say.
    void storeModesWhateverTheUmask()
    {
        const mode_t saved = ::umask(077);
        const int status = run({"set", "browsing-data", "forget"}).status;
        ::umask(saved);
        QCOMPARE(status, 0);
        QCOMPARE(modeOf(QFileInfo(m_env->machineHive()).absolutePath()), mode_t(0755));
        QCOMPARE(modeOf(m_env->machineHive()), mode_t(0644));
    }

    void unsafeStoreRefused_data()
    {
        QTest::addColumn<QString>("what"); // folder or store
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mend");
        QTest::newRow("store writable by others") << "store"
                                                  << "chmod"
                                                  << "chmod go-w";
        QTest::newRow("folder writable by group") << "folder"
                                                  << "chmod"
                                                  << "chmod go-w";
        QTest::newRow("store not root's") << "store"
                                          << "chown"
                                          << "chown root:root";
        QTest::newRow("store a link") << "store"
                                      << "link"
                                      << "rm ";
        QTest::newRow("folder a link") << "folder"
                                       << "link"
                                       << "rm ";
    }
    void unsafeStoreRefused()
    {
        QFETCH(QString, what);
        QFETCH(QString, fault);
        QFETCH(QString, mend);
        if (::geteuid() != 0)
            QSKIP("only root is refused an unsafe store");
        QCOMPARE(run({"set", "browsing-data", "forget"}).status, 0);
        const QString folder = QFileInfo(m_env->machineHive()).absolutePath();
        const QString path = what == "store" ? m_env->machineHive() : folder;
        if (fault == "chmod") {
            QVERIFY(::chmod(QFile::encodeName(path), what == "store" ? 0666 : 0775) == 0);
        } else if (fault == "chown") {
            QVERIFY(::chown(QFile::encodeName(path), 65534, 65534) == 0);
        } else {
            QVERIFY(QFile::rename(path, path + ".real"));
            QVERIFY(QFile::link(path + ".real", path));
        }
        const TRun refused = run({"popups", "allow", "a.example"});
        QCOMPARE(refused.status, int(AdminCommand::Unreadable));
        QVERIFY2(refused.err.contains(path) && refused.err.contains(mend), qPrintable(refused.err));
        const TRun shown = run({"status"});
        QVERIFY2(shown.err.contains(path) && shown.err.contains(mend), qPrintable(shown.err));
        QVERIFY(MachinePolicies::ListSites().isEmpty());
    }

    // A user who holds the old store open cannot stall root: the change is a new file.
    void readerHoldingTheStoreDoesNotBlock()
    {
        QCOMPARE(run({"popups", "allow", "before.example"}).status, 0);
        sqlite3 *reader = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(m_env->machineHive()), &reader,
                                 SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        const auto names = [reader] {
            sqlite3_stmt *statement = nullptr;
            sqlite3_prepare_v2(reader, "SELECT name FROM reg_values ORDER BY name", -1, &statement,
                               nullptr);
            QStringList found;
            while (sqlite3_step(statement) == SQLITE_ROW)
                found << QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
            sqlite3_finalize(statement);
            return found;
        };
        QCOMPARE(sqlite3_exec(reader, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        QCOMPARE(names(), QStringList{"before.example"});
        QElapsedTimer timer;
        timer.start();
        const TRun written = run({"popups", "allow", "after.example"});
        QCOMPARE(written.status, 0);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(written.err));
        // The reader sees the whole old store, never half of the new one.
        QCOMPARE(names(), QStringList{"before.example"});
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(reader);
        QCOMPARE(run({"popups", "list"}).out, QStringLiteral("before.example\nafter.example\n"));
        QCOMPARE(modeOf(m_env->machineHive()), mode_t(0644));
    }

    // The per-user commands do their work as that user: files are theirs, and a link they
    // planted leads only where they could write themselves.
    void perUserCommandsRunAsTheUser()
    {
        TTemporaryUser user;
        if (!user.made)
            QSKIP("needs root and useradd");
        QString why;
        const auto account = RunAsUser::FindAccount(user.name, &why);
        QVERIFY2(account, qPrintable(why));
        const QString folder = account->Home + "/.config/Quelvard";
        const QString hive = folder + "/registry.db";

        const TRun allowed = run({"popups", "allow", "--user", user.name, "Games.Example.org"});
        QVERIFY2(allowed.status == 0, qPrintable(allowed.err));
        QCOMPARE(QFileInfo(hive).ownerId(), account->Uid);
        QCOMPARE(modeOf(hive), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(run({"popups", "list", "--user", user.name}).out,
                 QStringLiteral("games.example.org\n"));
        const TRun favorite =
            run({"favorites", "add", "--user", user.name, "School", "https://s.example/"});
        QVERIFY2(favorite.status == 0, qPrintable(favorite.err));
        QCOMPARE(QFileInfo(account->Home + "/.local/share/Quelvard/School.irl").ownerId(),
                 account->Uid);
        QVERIFY(run({"favorites", "list", "--all-users"})
                    .out.split('\n')
                    .contains(user.name + ": School\thttps://s.example/"));
        const TRun replaced =
            run({"favorites", "add", "--user", user.name, "School", "https://t.example/"});
        QVERIFY2(replaced.err.contains("replaced \"School\""), qPrintable(replaced.err));
        QCOMPARE(run({"favorites", "remove", "School", "--user", user.name}).status, 0);
        QCOMPARE(run({"favorites", "list", "--user", user.name}).out, QString());
        const TRun again = run({"favorites", "remove", "School", "--user", user.name});
        QVERIFY2(again.status == 0 && again.err.contains("\"School\" was not listed"),
                 qPrintable(again.err));
        const TRun site = run({"popups", "remove", "--user", user.name, "other.example"});
        QVERIFY2(site.status == 0 && site.err.contains("\"other.example\" was not listed"),
                 qPrintable(site.err));
        QVERIFY(run({"popups", "list", "--all-users"})
                    .out.split('\n')
                    .contains(user.name + ": games.example.org"));

        const QString rootsFile = m_env->root() + "/roots-file";
        QFile roots(rootsFile);
        QVERIFY(roots.open(QIODevice::WriteOnly));
        roots.write("root's own\n");
        roots.close();
        QVERIFY(QFile::remove(hive));
        QVERIFY(QFile::link(rootsFile, hive));
        const TRun planted = run({"popups", "allow", "--user", user.name, "b.example"});
        QCOMPARE(planted.status, int(AdminCommand::NotPermitted));
        QVERIFY(roots.open(QIODevice::ReadOnly));
        QCOMPARE(roots.readAll(), QByteArray("root's own\n"));

        // And a machine store the user cannot read gives them the safest settings.
        QCOMPARE(run({"set", "browsing-data", "keep"}).status, 0);
        QString printed;
        QTextStream out(&printed);
        const int safest = RunAsUser::Run(
            *account, out, out,
            [](QTextStream &, QTextStream &) {
                const auto policies = MachinePolicies::Read();
                return policies.StoreUnreadable &&
                               policies.browsingData == MachinePolicies::BrowsingData::Forget &&
                               !policies.UserChangesAllowed()
                           ? 0
                           : 1;
            },
            2);
        QCOMPARE(safest, 0);
    }

private:
    QString writePolicy(const QByteArray &json)
    {
        writeBytes(m_env->root() + "/policy.json", json);
        return m_env->root() + "/policy.json";
    }
    QByteArray hiveBytes() const { return readBytes(m_env->machineHive()); }
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_AdminCommand)
#include "tst_admincommand.moc"
