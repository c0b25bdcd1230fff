#include "common/machinepolicies.h"
#include "common/registry.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <sqlite3.h>

using namespace MachinePolicies;

namespace {

QString doc(const char *name)
{
    QFile file(QStringLiteral(QUELVARD_DOCS_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A manual page's lines as they read: no macros, fonts, escapes or quotes.
QStringList plain(const QString &page)
{
    QStringList lines;
    for (QString line : page.split('\n')) {
        line.remove(QRegularExpression("(^| )\\.[A-Z]+(?= |$)|\\\\f[BIRP]|\\\\c|\\\\\\||\""));
        lines << line.replace("\\-", "-").simplified().replace(QRegularExpression(" ?\\| ?"), "|");
    }
    return lines;
}

// The commands the manual page shows: its synopsis, one a line between .br, and the heads of
// its items.
QStringList manCommands()
{
    const QString page = doc("quelvard-admin.1");
    QString synopsis = page.section(".SH SYNOPSIS", 1).section(".SH", 0, 0);
    QStringList commands =
        plain(synopsis.replace("\n.br\n", "\r").replace('\n', ' ').replace('\r', '\n'));
    const QStringList lines = page.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i - 1) == QLatin1String(".TP"))
            commands << plain(lines.at(i));
    }
    return commands;
}

// The rows of the guide's tables, as they read.
QStringList guideRows()
{
    return doc("ADMIN.md")
        .split('\n')
        .filter(QRegularExpression("^\\| `"))
        .replaceInStrings("\\|", "|");
}

// The guide's row for each key of the policy file.
QMap<QString, QString> keyRows()
{
    QMap<QString, QString> rows;
    for (const QString &row : guideRows().filter(QRegularExpression("^\\| `[a-z-]+`[, ]"))) {
        for (const auto &key :
             QRegularExpression("`([a-z-]+)`").globalMatch(row.section(" | ", 0, 0)))
            rows.insert(key.captured(1), row);
    }
    return rows;
}

// The values the `set NAME VALUE` commands of `lines` give each name, or with `unset` none.
QMap<QString, QStringList> commands(const QStringList &lines, bool unset = false)
{
    const QRegularExpression command(unset ? "(?<![\\w-])unset ([a-z-]+)"
                                           : "(?<![\\w-])set ([a-z|-]+) "
                                             "((?:[A-Za-z-]+(?:\\.\\.\\.)?\\|?)+)");
    QMap<QString, QStringList> values;
    for (const QString &line : lines) {
        for (const QRegularExpressionMatch &match : command.globalMatch(line)) {
            for (const QString &name : match.captured(1).split('|'))
                values[name] += match.captured(2).toLower().split('|');
        }
    }
    for (QStringList &list : values) {
        list.sort();
        list.removeDuplicates();
    }
    return values;
}

} // namespace

// What an administrator's hive may hold, and what the browser makes of it at start.
class tst_MachinePolicies : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("sites");
        QTest::addColumn<int>("wrongType"); // which value is stored with another type: 0 none
        QTest::addColumn<QString>("expectedHome");
        QTest::addColumn<bool>("forget");
        QTest::addColumn<QStringList>("expectedSites");
        QTest::addColumn<int>("problems");

        QTest::newRow("nothing set")
            << ""
            << "" << QStringList{} << 0 << "" << false << QStringList{} << 0;
        QTest::newRow("all set") << "https://school.example/"
                                 << "forget" << QStringList{"Mail.Example", "intra:8080"} << 0
                                 << "https://school.example/" << true
                                 << QStringList{"mail.example", "intra:8080"} << 0;
        QTest::newRow("home page of a refused scheme")
            << "javascript:alert(1)"
            << "keep" << QStringList{} << 0 << "" << false << QStringList{} << 1;
        QTest::newRow("browsing data misspelt")
            << ""
            << "Forget" << QStringList{} << 0 << "" << false << QStringList{} << 1;
        QTest::newRow("home page of another type")
            << "https://a.example/"
            << "forget" << QStringList{} << 1 << "" << true << QStringList{} << 1;
        QTest::newRow("browsing data of another type")
            << "https://a.example/"
            << "forget" << QStringList{} << 2 << "https://a.example/" << false << QStringList{}
            << 1;
        QTest::newRow("a bad site among good ones")
            << ""
            << "" << QStringList{"good.example", "http://bad.example/x", "ok.example"} << 0 << ""
            << false << QStringList{"good.example", "ok.example"} << 1;
    }
    void read()
    {
        QFETCH(QString, home);
        QFETCH(QString, data);
        QFETCH(QStringList, sites);
        QFETCH(int, wrongType);
        QFETCH(QString, expectedHome);
        QFETCH(bool, forget);
        QFETCH(QStringList, expectedSites);
        QFETCH(int, problems);

        {
            TRegistry registry;
            registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
            QVERIFY(registry.OpenKey(KeyPath(), true));
            if (!home.isEmpty())
                registry.WriteString("HomePage", home);
            if (!data.isEmpty())
                registry.WriteString("BrowsingData", data);
            QVERIFY(registry.OpenKey(PopupsKeyPath(), true));
            for (const QString &site : sites)
                registry.WriteString(site, QString());
        }
        if (wrongType) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(qPrintable(m_env->machineHive()), &db), SQLITE_OK);
            const QByteArray sql = QByteArray("UPDATE reg_values SET type = 4 WHERE name = '") +
                                   (wrongType == 1 ? "HomePage" : "BrowsingData") + "'";
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }

        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QCOMPARE(policies.HomePage, expectedHome);
        QCOMPARE(policies.browsingData == BrowsingData::Forget, forget);
        QCOMPARE(policies.AllowedSites, expectedSites);
        QVERIFY2(found.size() == problems, qPrintable(found.join('\n')));
    }

    // Downloads are off unless the value plainly says allow, or is not there at all.
    void downloads_data()
    {
        QTest::addColumn<QString>("text"); // null: no value
        QTest::addColumn<bool>("forbidden");
        QTest::newRow("not set") << QString() << false;
        QTest::newRow("allow") << "allow" << false;
        QTest::newRow("forbid") << "forbid" << true;
        QTest::newRow("misspelt") << "Allow" << true;
        QTest::newRow("empty") << "" << true;
    }
    void downloads()
    {
        QFETCH(QString, text);
        QFETCH(bool, forbidden);
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(KeyPath(), true));
        if (!text.isNull())
            registry.WriteString("Downloads", text);
        QStringList found;
        QCOMPARE(Read(&found).downloads == Downloads::Forbid, forbidden);
        QCOMPARE(found.size(), int(forbidden && text != "forbid"));
    }

    // A value not understood leaves the setting off, with one line saying why.
    void kiosk_data()
    {
        QTest::addColumn<QString>("idle");
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<int>("problems");
        QTest::newRow("not set") << QString() << QString() << 0 << false << 0;
        QTest::newRow("kiosk") << "20"
                               << "full-screen" << 20 << true << 0;
        QTest::newRow("a day") << "1440"
                               << "normal" << 1440 << false << 0;
        QTest::newRow("longer than a day") << "1441"
                                           << "Full-Screen" << 0 << false << 2;
        QTest::newRow("negative") << "-1" << QString() << 0 << false << 1;
    }
    void kiosk()
    {
        QFETCH(QString, idle);
        QFETCH(QString, window);
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(KeyPath(), true));
        if (!idle.isNull())
            registry.WriteString("IdleReset", idle);
        if (!window.isNull())
            registry.WriteString("Window", window);
        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QTEST(policies.IdleResetMinutes, "minutes");
        QTEST(policies.window == Window::FullScreen, "fullScreen");
        QTEST(int(found.size()), "problems");
    }

    // A store that is there but cannot be read must not open what the administrator closed.
    void unreadableStoreGivesTheSafestSettings()
    {
        writeBytes(m_env->machineHive(), QByteArray(2048, 'x'));
        QStringList found;
        const recMachinePolicies policies = Read(&found);
        QVERIFY(policies.HomePage.isEmpty() && policies.AllowedSites.isEmpty());
        QVERIFY(policies.browsingData == BrowsingData::Forget);
        QVERIFY(!policies.UserChangesAllowed() && policies.StoreUnreadable);
        QCOMPARE(found.size(), 1);
        QVERIFY(found.first().contains(m_env->machineHive()));
    }

    // Each setting as the administrator's guide, the manual page and set --help describe it:
    // its values, its default, its range and whether it can be unset; and nothing else.
    void documented()
    {
        const QStringList guide = guideRows();
        const QStringList man = manCommands();
        const QMap<QString, QString> keys = keyRows();
        const QString raw = doc("quelvard-admin.1");
        const QString page = plain(raw).join(' ');
        const QString apply =
            plain(raw.section(".TP\n.BR apply", 1).section(".TP", 0, 0)).join(' ');
        for (const recSetting &setting : Settings()) {
            const QString name = QLatin1String(setting.Name);
            QStringList values = Argument(setting).toLower().split('|');
            values.sort();
            for (const QStringList &lines : {guide, man, SetUsage().split('\n')})
                QVERIFY2(commands(lines).value(name) == (setting.IsList() ? QStringList() : values),
                         setting.Name);
            for (const QStringList &lines : {guide, man})
                QVERIFY2(commands(lines, true).contains(name) == setting.Unsettable(),
                         setting.Name);
            QVERIFY2(SetHelp().contains(name) != setting.IsList() && apply.contains(name),
                     setting.Name);
            const QStringList cells = keys.value(name).split(" | ");
            QVERIFY2(cells.size() == 3, setting.Name);
            for (const QString &word : setting.TakesWords() ? setting.Words : QStringList())
                QVERIFY2(cells.at(1).contains('"' + word + '"'), setting.Name);
            QCOMPARE(cells.at(2), setting.IsList()
                                      ? QStringLiteral("`[]` |")
                                      : QStringLiteral("`\"%1\"` |").arg(setting.Default));
            if (setting.Kind == TKind::Number) {
                const QString range =
                    QStringLiteral("%1 to %2").arg(setting.Least).arg(setting.Most);
                QVERIFY2(cells.at(1).contains(range) && page.contains(range) &&
                             guide.filter("`set " + name + ' ').join(' ').contains(range),
                         setting.Name);
            }
        }
        QStringList named = commands(guide).keys() + commands(man).keys() + keys.keys() +
                            commands(SetUsage().split('\n')).keys();
        // Files of their own, or the time keeper's, not in the store.
        named.removeAll(QStringLiteral("favorites"));
        named.removeAll(QStringLiteral("categories"));
        named.removeAll(QStringLiteral("time-limits"));
        named.removeAll(QStringLiteral("accounts"));
        for (const QString &name : named)
            QVERIFY2(FindSetting(name), qPrintable(name));
    }

    void canWrite()
    {
        QVERIFY(TRegistry::CanWrite(m_env->machineHive()));
        QVERIFY(!QFileInfo::exists(QFileInfo(m_env->machineHive()).absolutePath()));
        m_env->blockMachineHive();
        QVERIFY(!TRegistry::CanWrite(m_env->machineHive()));
    }
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_MachinePolicies)
#include "tst_machinepolicies.moc"
