#include "admintool/policyfile.h"
#include "support/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Standard input replaced by `fd` for one test, and put back.
struct TStandardInput
{
    int saved = ::dup(STDIN_FILENO);
    explicit TStandardInput(int fd)
    {
        ::dup2(fd, STDIN_FILENO);
        ::close(fd);
    }
    ~TStandardInput()
    {
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
    }
};

} // namespace

class tst_PolicyFile : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void refused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message"); // a part of it

        QTest::newRow("a key twice, the last would win")
            << QByteArray("{\n  \"home-page\": \"https://a.example/\",\n  \"downloads\": "
                          "\"forbid\",\n  \"home-page\": \"https://b.example/\"\n}")
            << "\"home-page\" is given twice, on lines 2 and 4";
        QTest::newRow("a key twice, once spelt with an escape")
            << QByteArray("{\"downloads\": \"forbid\", \"download\\u0073\": \"allow\"}")
            << "\"downloads\" is given twice on line 1";
        QTest::newRow("a favorite's name twice")
            << QByteArray("{\"favorites\": [\n{\"name\": \"A\",\n \"url\": \"https://a.example/\","
                          "\n \"name\": \"B\"}]}")
            << "\"name\" is given twice, on lines 2 and 4";
        QTest::newRow("JSON error: a missing comma")
            << QByteArray("{\n  \"home-page\": \"https://a.example/\"\n  \"downloads\": "
                          "\"forbid\"\n}")
            << "at line 3, column 3";
        QTest::newRow("JSON error: a bare word, after a multi-byte character")
            << QByteArray("{\"shared-favorites-name\": \"Für alle\", \"window\": normal}")
            << "at line 1, column 49";
        QTest::newRow("JSON error: a comma before the end")
            << QByteArray("{\n  \"downloads\": \"forbid\",\n}") << "at line 3, column 1";
        QTest::newRow("JSON error: a string never ended")
            << QByteArray("{\n  \"downloads\": \"forbid}\n") << "at line 2, column 16";
        QTest::newRow("YAML's spelling of a key")
            << QByteArray("{\"home_page\": \"https://a.example/\"}")
            << "unknown key \"home_page\" (did you mean \"home-page\"?)";
        QTest::newRow("a key run together")
            << QByteArray("{\"blockedurls\": []}")
            << "unknown key \"blockedurls\" (did you mean \"blocked-urls\"?)";
        QTest::newRow("a key like none") << QByteArray("{\"colour\": \"blue\"}")
                                         << "unknown key \"colour\"; the keys are \"home-page\"";
        QTest::newRow("a favorite's key in capitals")
            << QByteArray("{\"favorites\": [{\"name\": \"A\", \"URL\": \"https://a.example/\"}]}")
            << "unknown key \"URL\" (did you mean \"url\"?)";
        QTest::newRow("idle reset true")
            << QByteArray("{\"idle-reset\": true}") << "\"idle-reset\"";
        QTest::newRow("idle reset 0") << QByteArray("{\"idle-reset\": 0}") << "0 is not off";
        QTest::newRow("idle reset of a fraction")
            << QByteArray("{\"idle-reset\": 2.5}") << "2.5 is not off";
        QTest::newRow("idle reset over a day")
            << QByteArray("{\"idle-reset\": 1441}") << "1441 is not off";
        QTest::newRow("idle reset as a list") << QByteArray("{\"idle-reset\": [5]}") << "a list";
        QTest::newRow("folders eleven deep")
            << nestedFavorites(11, 3) << "folders nest at most 10 deep";
        QTest::newRow("a path over 1024 bytes")
            << nestedFavorites(4, 205) << "a path is at most 1024 bytes long, not 1029";
        QTest::newRow("a path over 1024 bytes, counted in UTF-8")
            << nestedFavorites(4, 120, QChar(0x00e9))
            << "a path is at most 1024 bytes long, not 1204";
        QTest::newRow("thirty folders with 7,344-character paths")
            << nestedFavorites(30, 243) << "a path is at most 1024 bytes long";
    }
    void refused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        QString problem;
        QVERIFY(!PolicyFile::Parse(json, &problem));
        QVERIFY2(problem.contains(message), qPrintable(problem));
        // A long path is shortened, not printed whole.
        QVERIFY2(problem.size() < 600, qPrintable(problem));
    }

    void accepted_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // as export shows it

        // Ansible's YAML makes 5 a number and off false.
        QTest::newRow("idle reset as a number")
            << QByteArray("{\"idle-reset\": 5}") << "idle-reset" << QJsonValue("5");
        QTest::newRow("idle reset of a day")
            << QByteArray("{\"idle-reset\": 1440}") << "idle-reset" << QJsonValue("1440");
        QTest::newRow("idle reset false")
            << QByteArray("{\"idle-reset\": false}") << "idle-reset" << QJsonValue("off");
        QTest::newRow("idle reset as a string")
            << QByteArray("{\"idle-reset\": \"12\"}") << "idle-reset" << QJsonValue("12");
        QTest::newRow("one key in two objects")
            << QByteArray("{\"favorites\": [{\"name\": \"A\", \"url\": \"https://a.example/\"}, "
                          "{\"name\": \"B\", \"url\": \"https://b.example/\"}]}")
            << "favorites"
            << QJsonValue(QJsonArray{QJsonObject{{"name", "A"}, {"url", "https://a.example/"}},
                                     QJsonObject{{"name", "B"}, {"url", "https://b.example/"}}});
        QTest::newRow("a key's name as a value")
            << QByteArray("{\"shared-favorites-name\": \"home-page\", \"home-page\": \"\"}")
            << "shared-favorites-name" << QJsonValue("home-page");
    }
    void accepted()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QString problem;
        const auto parsed = PolicyFile::Parse(json, &problem);
        QVERIFY2(parsed, qPrintable(problem));
        QCOMPARE(parsed->value(key), value);
    }

    // At the limits exactly, the tree is taken.
    void treeAtTheLimits_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("ten folders deep") << nestedFavorites(10, 3);
        QTest::newRow("a path of 1024 bytes") << nestedFavorites(4, 204);
    }
    void treeAtTheLimits()
    {
        QFETCH(QByteArray, json);
        QString problem;
        QVERIFY2(PolicyFile::Parse(json, &problem), qPrintable(problem));
    }

    void readText_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // a part of it; empty: read

        QTest::newRow("a file") << "file" << QString();
        QTest::newRow("a file of 16 MB") << "16 MB" << QString();
        QTest::newRow("a file a byte over 16 MB") << "16 MB and a byte"
                                                  << "at most 16 MB";
        QTest::newRow("a device, endless") << "/dev/zero"
                                           << "is a device, not a regular file";
        QTest::newRow("a folder") << "folder"
                                  << "is a folder, not a regular file";
        // Opening it must not wait for a writer that never comes.
        QTest::newRow("a named pipe") << "fifo"
                                      << "is a named pipe, not a regular file";
        QTest::newRow("missing") << "missing"
                                 << "cannot be read: No such file";
        QTest::newRow("standard input, a pipe") << "stdin pipe" << QString();
        QTest::newRow("standard input, endless") << "stdin /dev/zero"
                                                 << "at most 16 MB";
    }
    void readText()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QByteArray policy("{\"downloads\": \"forbid\"}\n");
        QString path = m_env->root() + "/policy.json";
        std::unique_ptr<TStandardInput> input;
        qint64 size = policy.size();
        if (kind == "file") {
            writeBytes(path, policy);
        } else if (kind.startsWith("16 MB")) {
            QFile file(path);
            size = 16 * 1024 * 1024 + (kind.endsWith("byte") ? 1 : 0);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        } else if (kind == "folder") {
            path = m_env->root();
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "stdin pipe") {
            int ends[2];
            QCOMPARE(::pipe(ends), 0);
            QCOMPARE(::write(ends[1], policy.constData(), policy.size()), ssize_t(policy.size()));
            ::close(ends[1]);
            input = std::make_unique<TStandardInput>(ends[0]);
            path = "-";
        } else if (kind == "stdin /dev/zero") {
            input = std::make_unique<TStandardInput>(::open("/dev/zero", O_RDONLY));
            path = "-";
        } else if (kind != "missing") {
            path = kind;
        }
        QString problem;
        const auto text = PolicyFile::ReadText(path, &problem);
        if (message.isEmpty()) {
            QVERIFY2(text, qPrintable(problem));
            QCOMPARE(text->size(), size);
            if (size == policy.size())
                QCOMPARE(*text, policy);
        } else {
            QVERIFY(!text);
            QVERIFY2(problem.contains(message), qPrintable(problem));
        }
    }
};

#include "support/testmain.h"
QUELVARD_TEST_GUILESS_MAIN(tst_PolicyFile)
#include "tst_policyfile.moc"
