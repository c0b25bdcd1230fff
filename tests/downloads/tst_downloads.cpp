// Files a page hands over: where they land, under what name, what the bar says, and what is
// refused without a byte written; and a PDF that opens in its tab instead.
#include "common/machinepolicies.h"
#include "downloads/downloadrules.h"
#include "favorites/favoritesstore.h"
#include "main/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QDirIterator>
#include <QLabel>
#include <QStandardPaths>
#include <QtTest>

using namespace TestPages;

namespace {

const QByteArray FileBody = "the file's own bytes\n";

// Every file and folder below `folder`, relative to it, or "(none)" when it does not exist.
QStringList listing(const QString &folder)
{
    if (!QFileInfo::exists(folder))
        return {QStringLiteral("(none)")};
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// A blank one-page PDF (the viewer rebuilds the missing cross-reference table).
const QByteArray Pdf = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages"
                       "/Kids[3 0 R]/Count 1>>endobj\n3 0 obj<</Type/Page/Parent 2 0 R/MediaBox"
                       "[0 0 612 792]>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";

// What the bar's newest row says, or empty while the bar is hidden.
QString downloadState(const QWidget *window)
{
    const auto labels = window->findChildren<QLabel *>(QStringLiteral("lblDownloadState"));
    return labels.isEmpty() || !labels.last()->isVisible() ? QString() : labels.last()->text();
}

} // namespace

class tst_Downloads : public QObject
{
    Q_OBJECT

public:
    static void initMain() { InitDownloadingTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setHtml(QStringLiteral("/sentinel"), QStringLiteral("Sentinel"));
        m_server.setPage(QStringLiteral("/doc.pdf"), Pdf, "application/pdf");
    }

    void init()
    {
        m_env.reset(new TestEnvironment);
        m_dialogs.reset(new ScriptedDialogs);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->root() + QStringLiteral("/xdg")));
        setDownloadFolder(m_env->root() + QStringLiteral("/Downloads"));
    }

    void cleanup()
    {
        m_dialogs.reset();
        m_env.reset();
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("suggested");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");

        const QString e = QStringLiteral("\u00e9"); // two bytes in UTF-8
        QTest::newRow("plain") << "report.pdf" << QStringList{} << "report.pdf";
        QTest::newRow("separators") << "../up\\x.txt" << QStringList{} << "_up_x.txt";
        QTest::newRow("hidden") << "..bashrc" << QStringList{} << "bashrc";
        QTest::newRow("control and direction characters")
            << "a\tb\n\u202etxt.exe" << QStringList{} << "a_b__txt.exe";
        QTest::newRow("trailing dots and blanks") << "x.irl. . " << QStringList{} << "x.irl";
        QTest::newRow("nothing left") << " ..." << QStringList{} << "download";
        // 255 bytes at most, and room for the engine's ".download" while the file is written.
        QTest::newRow("long, extension kept")
            << e.repeated(200) + ".pdf" << QStringList{} << e.repeated(121) + ".pdf";
        QTest::newRow("taken") << "report.pdf" << QStringList{"report.pdf"} << "report (1).pdf";
        QTest::newRow("taken twice")
            << "report.pdf" << QStringList{"report.pdf", "report (1).pdf"} << "report (2).pdf";
        QTest::newRow("taken, no extension") << "README" << QStringList{"README"} << "README (1)";
        QTest::newRow("long and taken")
            << QString(300, 'a') + ".pdf" << QStringList{QString(242, 'a') + ".pdf"}
            << QString(238, 'a') + " (1).pdf";
    }

    void fileName()
    {
        QFETCH(QString, suggested);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        const QString name = DownloadRules::FreeFileName(
            DownloadRules::SafeFileName(suggested),
            [&taken](const QString &candidate) { return taken.contains(candidate); });
        QCOMPARE(name, expected);
        QVERIFY(name.toUtf8().size() <= 255);
    }

    void progress_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("expected");
        QTest::newRow("half") << qint64(1536 << 10) << qint64(3 << 20) << "1.5 MB of 3.0 MB (50%)";
        QTest::newRow("size unknown") << qint64(700) << qint64(-1) << "700 bytes";
    }

    void progress()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(QString, expected);
        QCOMPARE(DownloadRules::ProgressText(received, total), expected);
    }

    void download_data()
    {
        QTest::addColumn<QString>("served");  // the name the server gives the file
        QTest::addColumn<QString>("folder");  // the Downloads folder: "~" the test's, "*" favorites
        QTest::addColumn<bool>("forbidden");  // the machine's setting
        QTest::addColumn<QString>("already"); // a file in the folder before
        QTest::addColumn<QString>("saved");   // the file the download makes, if any
        QTest::addColumn<QString>("shown");   // what the bar says in the end

        const auto row = [](const char *tag, const char *served, const char *folder, bool forbidden,
                            const char *already, const char *saved, const char *shown) {
            QTest::newRow(tag) << served << folder << forbidden << already << saved << shown;
        };
        const char *saved = "Saved in Downloads";
        const char *inFavorites =
            "Not saved: the Downloads folder is the Favorites folder or lies inside it.";
        row("saved", "notes.txt", "~/Downloads", false, "", "notes.txt", saved);
        row("name taken", "notes.txt", "~/Downloads", false, "notes.txt", "notes (1).txt", saved);
        const QByteArray longName = QByteArray(300, 'a') + ".txt";
        const QByteArray fitted = QByteArray(242, 'a') + ".txt";
        row("long name", longName, "~/Downloads", false, "", fitted, saved);
        row("a favorite's name", "Typed.IRL", "~/Downloads", false, "", "",
            "Not saved: a file whose name ends in \".irl\" would become a favorite.");
        row("favorites folder", "notes.txt", "*", false, "", "", inFavorites);
        row("below the favorites folder", "notes.txt", "*/Links", false, "", "", inFavorites);
        row("turned off", "notes.txt", "~/Downloads", true, "", "",
            "Downloads are turned off on this computer.");
    }

    void download()
    {
        QFETCH(QString, served);
        QFETCH(QString, folder);
        QFETCH(bool, forbidden);
        QFETCH(QString, already);
        QFETCH(QString, saved);
        QFETCH(QString, shown);

        const QString favorites = FavoritesStore::FavoritesFolder();
        QVERIFY(QDir().mkpath(favorites));
        folder.replace(QLatin1Char('~'), m_env->root()).replace(QLatin1Char('*'), favorites);
        setDownloadFolder(folder);
        if (!already.isEmpty()) {
            QVERIFY(QDir().mkpath(folder));
            QFile file(QDir(folder).filePath(already));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("there before");
        }
        if (forbidden) {
            MachinePolicies::SetDownloads(MachinePolicies::Downloads::Forbid);
            MachinePolicies::Forget();
        }
        const QString path =
            QStringLiteral("/file-%1").arg(QTest::currentDataTag()).replace(' ', '-');
        m_server.setPage(path, FileBody,
                         "text/plain\r\nContent-Disposition: attachment; filename=\"" +
                             served.toUtf8() + "\"");
        m_server.setHtml(QStringLiteral("/links"), QStringLiteral("Links"),
                         QStringLiteral("<a id=\"file\" href=\"%1\" style=\"display:block;"
                                        "width:300px;height:100px\">the file</a>")
                             .arg(path));
        const QStringList favoritesBefore = listing(favorites);
        const QStringList before = listing(folder);

        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        browser->window.resize(648, 564); // the window's first size
        QVERIFY(browser->load(m_server.url(QStringLiteral("/links"))));
        waitForPaint(browser->view());
        QVERIFY(clickElement(browser->view(), QStringLiteral("file")));
        QTRY_COMPARE_WITH_TIMEOUT(downloadState(&browser->window), shown, 20000);
        // A page load after the decision: whatever the engine does with a refused file has had
        // its turn on the network side.
        QVERIFY(browser->load(m_server.url(QStringLiteral("/sentinel"))));

        QStringList expected = before;
        if (!saved.isEmpty()) {
            expected.removeOne(QStringLiteral("(none)"));
            expected << saved;
            expected.sort();
            QFile file(QDir(folder).filePath(saved));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), FileBody);
            const auto names = browser->window.findChildren<QLabel *>("lblDownloadName");
            QCOMPARE(names.last()->accessibleName(), saved);
        }
        QCOMPARE(listing(folder), expected);
        if (!folder.startsWith(favorites))
            QCOMPARE(listing(favorites), favoritesBefore);
        // The bar can be closed, and takes the ended download with it.
        auto *close = TestSupport::Control<QWidget>(&browser->window, "tbCloseDownloads");
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!TestSupport::Control<QWidget>(&browser->window, "pnlDownloads")->isVisible());
        QCOMPARE(browser->window.width(), 648); // no name or reason widened the window
    }

    void pdfOpensInItsTab()
    {
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        const QUrl pdf = m_server.url(QStringLiteral("/doc.pdf"));
        QVERIFY(browser->load(pdf));
        QCOMPARE(
            runScript(browser->view()->page(), QStringLiteral("document.contentType")).toString(),
            QStringLiteral("application/pdf"));
        QVERIFY(browser->load(m_server.url(QStringLiteral("/sentinel"))));
        QVERIFY(!TestSupport::Control<QWidget>(&browser->window, "pnlDownloads")->isVisible());
        QCOMPARE(listing(m_env->root() + QStringLiteral("/Downloads")),
                 QStringList{QStringLiteral("(none)")});
    }

private:
    // Points the user's Downloads folder at `folder` through xdg-user-dirs.
    void setDownloadFolder(const QString &folder)
    {
        const QString config = m_env->root() + QStringLiteral("/xdg");
        QDir().mkpath(config);
        QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        dirs.write("XDG_DOWNLOAD_DIR=\"" + QFile::encodeName(folder) + "\"\n");
    }

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    TestHttpServer m_server;
};

QUELVARD_TEST_MAIN(tst_Downloads)
#include "tst_downloads.moc"
