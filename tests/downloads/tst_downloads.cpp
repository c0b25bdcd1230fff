// Files a page hands over: where they land, under what name, what the bar says, and what is
// refused without a byte written; and a PDF that opens in its tab instead.
#include "common/apppaths.h"
#include "common/favoritesstore.h"
#include "common/machinepolicies.h"
#include "downloads/downloadrules.h"
#include "downloads/runfiles.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestPages;

namespace {

const QByteArray FileBody = "the file's own bytes\n";
constexpr auto Attachment = &TestHttpServer::attachment;
constexpr auto Link = &TestHttpServer::link;

// A blank one-page PDF (the viewer rebuilds the missing cross-reference table).
const QByteArray Pdf = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages"
                       "/Kids[3 0 R]/Count 1>>endobj\n3 0 obj<</Type/Page/Parent 2 0 R/MediaBox"
                       "[0 0 612 792]>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";

// Whether `path` is there at all, a link that leads nowhere included.
bool present(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// The paths that this process's records of what a run must delete name.
QStringList recordedPaths()
{
    QStringList paths;
    const QDir records(AppPaths::RunRecordsDir());
    for (const QString &name : records.entryList({QStringLiteral("*.list")}, QDir::Files)) {
        QFile record(records.filePath(name));
        if (record.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : record.readAll().split('\n'))
                paths << QFile::decodeName(QByteArray::fromPercentEncoding(line));
        }
    }
    return paths;
}

// What the bar's newest row says, or empty while the bar is hidden.
QString downloadState(const QWidget *window)
{
    const auto labels = window->findChildren<QLabel *>(QStringLiteral("lblDownloadState"));
    return labels.isEmpty() || !labels.last()->isVisible() ? QString() : labels.last()->text();
}

} // namespace

class tst_Downloads : public EnvironmentSuite
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
        EnvironmentSuite::init();
        m_env->setDownloadFolder(m_env->downloadsDir());
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
        m_env->setDownloadFolder(folder);
        if (!already.isEmpty()) {
            QVERIFY(QDir().mkpath(folder));
            writeBytes(QDir(folder).filePath(already), "there before");
        }
        if (forbidden) {
            MachinePolicies::SetDownloads(MachinePolicies::Downloads::Forbid);
            MachinePolicies::Forget();
        }
        const QString path =
            QStringLiteral("/file-%1").arg(QTest::currentDataTag()).replace(' ', '-');
        m_server.setPage(path, FileBody, Attachment(served.toUtf8()));
        m_server.setHtml(QStringLiteral("/links"), QStringLiteral("Links"), Link("file", path));
        const QStringList favoritesBefore = entriesBelow(favorites);
        const QStringList before = entriesBelow(folder);

        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        browser->window.resize(648, 564); // the window's first size
        QVERIFY(browser->load(m_server.url(QStringLiteral("/links"))));
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
        QCOMPARE(entriesBelow(folder), expected);
        if (!folder.startsWith(favorites))
            QCOMPARE(entriesBelow(favorites), favoritesBefore);
        // The bar can be closed, and takes the ended download with it.
        auto *close = TestSupport::Control<QWidget>(&browser->window, "tbCloseDownloads");
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!TestSupport::Control<QWidget>(&browser->window, "pnlDownloads")->isVisible());
        QCOMPARE(browser->window.width(), 648); // no name or reason widened the window
    }

    // A visitor's files, whole and half-written, when the window goes as at File › Exit or
    // Alt+F4: a session that forgets deletes them; one that keeps keeps the whole one. Neither
    // keeps the half-written one.
    void sessionEnd_data()
    {
        QTest::addColumn<QString>("browsingData");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("forget") << "forget" << QStringList{};
        QTest::newRow("keep") << "keep" << QStringList{"whole.txt"};
    }
    void sessionEnd()
    {
        QFETCH(QString, browsingData);
        QFETCH(QStringList, after);
        MachinePolicies::SetBrowsingData(*MachinePolicies::ParseBrowsingData(browsingData));
        MachinePolicies::Forget();
        m_server.setPage("/whole", FileBody, Attachment("whole.txt"));
        m_server.setTrickle("/endless", Attachment("endless.bin"), 256 << 20, 16 << 10, 20);
        m_server.setHtml("/two", "Two", Link("whole", "/whole") + Link("endless", "/endless"));
        const QString folder = m_env->downloadsDir();

        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser && browser->load(m_server.url("/two")));
        QVERIFY(clickElement(browser->view(), "whole"));
        QTRY_COMPARE_WITH_TIMEOUT(downloadState(&browser->window), TDownloadBarSaved, 20000);
        QVERIFY(clickElement(browser->view(), "endless"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(folder + "/endless.bin.download").size() > 0, 20000);
        // Written down before they were made, for a run that will not reach its end.
        const QStringList recorded = recordedPaths();
        QCOMPARE(recorded.contains(folder + "/whole.txt"), browsingData == "forget");
        QCOMPARE(recorded.contains(folder + "/endless.bin.download"), browsingData == "forget");

        browser.reset();
        QTRY_COMPARE(entriesBelow(folder), after);
        QVERIFY(!recordedPaths().contains(folder + "/whole.txt"));
    }

    // The next start after a run that crashed deletes what that run wrote down, and nothing
    // else: not a live run's files, not a folder outside the records, not what a link leads to.
    void crashedRun_data()
    {
        QTest::addColumn<QString>("kind"); // what the record names
        QTest::addColumn<bool>("live");    // the run that wrote it is still running
        QTest::addColumn<bool>("deleted"); // the named path is gone after the start
        QTest::newRow("a dead run's file") << "file" << false << true;
        QTest::newRow("a live run's file") << "file" << true << false;
        QTest::newRow("a dead run's link") << "link" << false << true;
        QTest::newRow("a folder of the user's") << "folder" << false << false;
    }
    void crashedRun()
    {
        QFETCH(QString, kind);
        QFETCH(bool, live);
        QFETCH(bool, deleted);
        const QString folder = m_env->downloadsDir();
        QVERIFY(QDir().mkpath(folder));
        const QString target = m_env->root() + "/elsewhere.txt";
        writeBytes(target, "not the visitor's");
        const QString path =
            kind == "folder" ? m_env->root() + "/Documents" : folder + "/visitor's file.txt";
        auto run = std::make_unique<TRunFiles>(AppPaths::RunRecordsDir());
        QVERIFY(run->Add(path));
        if (kind == "file") {
            writeBytes(path, QByteArray());
        } else if (kind == "link") {
            QVERIFY(QFile::link(target, path));
        } else {
            QVERIFY(QDir().mkpath(path + "/inside"));
        }
        if (!live)
            run.reset(); // its end never deleted it: as a crash leaves the record

        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        QCOMPARE(!present(path), deleted);
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(recordedPaths().contains(path), !deleted);
        browser.reset();
        run.reset();
        if (kind == "folder") // not a record of ours to act on: it stays until removed
            QDir(AppPaths::RunRecordsDir()).removeRecursively();
    }

    // A planted link under the name a download would take, or under the name its half-written
    // file would have, is passed over: the file gets the next free name, and nothing is made
    // where the link leads.
    void plantedLink_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("leadsTo"); // "~" the test's folder, "*" the favorites folder
        QTest::newRow("the file's name") << "notes.txt"
                                         << "~/outside.txt";
        QTest::newRow("its companion") << "notes.txt.download"
                                       << "~/outside.txt";
        QTest::newRow("its companion, to a favorite") << "notes.txt.download"
                                                      << "*/Planted.irl";
    }
    void plantedLink()
    {
        QFETCH(QString, planted);
        QFETCH(QString, leadsTo);
        const QString favorites = FavoritesStore::FavoritesFolder();
        QVERIFY(QDir().mkpath(favorites));
        leadsTo = QDir::cleanPath(leadsTo.replace('~', m_env->root()).replace('*', favorites));
        const QString folder = m_env->downloadsDir();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::link(leadsTo, folder + "/" + planted));
        m_server.setPage("/notes", FileBody, Attachment("notes.txt"));
        m_server.setHtml("/planted", "Planted", Link("notes", "/notes"));

        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser && browser->load(m_server.url("/planted")));
        QVERIFY(clickElement(browser->view(), "notes"));
        QTRY_COMPARE_WITH_TIMEOUT(downloadState(&browser->window), TDownloadBarSaved, 20000);
        QFile saved(folder + "/notes (1).txt");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), FileBody);
        QVERIFY(!present(leadsTo));
        QCOMPARE(QFileInfo(folder + "/" + planted).symLinkTarget(), leadsTo);
    }

    // A transfer that stops (the server cut it off, or the person cancelled it) is one row
    // that says what happened, with nothing left to cancel and nothing of it left on disk.
    void stopped_data()
    {
        QTest::addColumn<bool>("cutOff");
        QTest::addColumn<QString>("shown");
        QTest::newRow("cut off by the server") << true << "Failed: the connection was closed";
        QTest::newRow("cancelled") << false << "Cancelled";
    }
    void stopped()
    {
        QFETCH(bool, cutOff);
        QFETCH(QString, shown);
        const QString path = QStringLiteral("/stopped-%1").arg(cutOff);
        m_server.setTrickle(path, Attachment("stopped.bin"), 64 << 20, 64 << 10, 20,
                            cutOff ? 1 << 20 : -1);
        m_server.setHtml("/stop", "Stop", Link("stopped", path));
        const QString folder = m_env->downloadsDir();
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser && browser->load(m_server.url("/stop")));
        QVERIFY(clickElement(browser->view(), "stopped"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(folder + "/stopped.bin.download").size() > 0, 20000);
        if (!cutOff) {
            auto *cancel = TestSupport::Control<QPushButton>(&browser->window, "btnCancelDownload");
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
        QTRY_COMPARE_WITH_TIMEOUT(downloadState(&browser->window), shown, 20000);
        QVERIFY(browser->load(m_server.url("/sentinel")));
        QTRY_COMPARE(entriesBelow(folder), QStringList());
        QCOMPARE(browser->window.findChildren<QLabel *>("lblDownloadName").size(), 1);
        for (auto *cancel : browser->window.findChildren<QPushButton *>("btnCancelDownload"))
            QVERIFY(!cancel->isVisible());
        QCOMPARE(downloadState(&browser->window), shown);
    }

    // Thirty downloads under way leave the page its room: the bar keeps to a fifth of the
    // window, whatever its size, and its rows scroll inside it.
    void manyDownloads()
    {
        // The engine opens six connections to a server at most; five servers take thirty.
        std::vector<std::unique_ptr<TestHttpServer>> servers;
        QString frames;
        for (int s = 0; s < 5; ++s) {
            servers.push_back(std::make_unique<TestHttpServer>());
            QVERIFY(servers.back()->start());
            for (int i = 0; i < 6; ++i) {
                const QString path = QStringLiteral("/many-%1").arg(i);
                const QByteArray name = QStringLiteral("file %1-%2.bin").arg(s).arg(i).toUtf8();
                servers.back()->setTrickle(path, Attachment(name), 64 << 20, 4 << 10, 100);
                frames += QStringLiteral("<iframe src=\"%1\"></iframe>")
                              .arg(servers.back()->url(path).toString());
            }
        }
        m_server.setHtml("/many", "Many", frames);
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        TfrmQuelvardBrowser &window = browser->window;
        window.resize(800, 600);
        // The page never finishes loading while its frames are downloads.
        browser->view()->load(m_server.url("/many"));
        QTRY_COMPARE_WITH_TIMEOUT(window.findChildren<QLabel *>("lblDownloadName").size(), 30,
                                  30000);
        auto *bar = TestSupport::Control<QWidget>(&window, "pnlDownloads");
        auto *rows = TestSupport::Control<QScrollArea>(bar, "scrDownloads");
        for (const int height : {600, 900}) {
            window.resize(800, height);
            QTRY_COMPARE(window.height(), height);
            QTRY_VERIFY2(bar->height() <= height / 5 && bar->height() >= height / 5 - 8,
                         qPrintable(QString::number(bar->height())));
            QTRY_VERIFY(rows->verticalScrollBar()->maximum() > 0);
            QVERIFY(browser->view()->height() > height / 2);
        }
        // The last row can be scrolled to, its Cancel button within reach.
        auto *last = window.findChildren<QPushButton *>("btnCancelDownload").last();
        rows->ensureWidgetVisible(last);
        QTRY_COMPARE(last->visibleRegion().boundingRect().height(), last->height());
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
        QCOMPARE(entriesBelow(m_env->downloadsDir()), QStringList{QStringLiteral("(none)")});
    }

private:
    const QString TDownloadBarSaved = QStringLiteral("Saved in Downloads");

    TestHttpServer m_server;
};

QUELVARD_TEST_MAIN(tst_Downloads)
#include "tst_downloads.moc"
