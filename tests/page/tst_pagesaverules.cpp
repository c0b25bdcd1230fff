// Saving and printing a page never make a favorite: no file lands in the favorites folder (the
// user's or the machine's shared one) or under a favorite's name, however the place is spelled,
// and no file dialog can move one there.
#include "app/schemehandler.h"
#include "common/favoritesstore.h"
#include "common/machinefavorites.h"
#include "page/pagesave.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>
#include <QWebEngineProfile>
#include <QtTest>

using namespace TestPages;

class tst_PageSaveRules : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();

    void saveNeverMakesAFavorite_data();
    void saveNeverMakesAFavorite();
    void printNeverMakesAFavorite_data();
    void printNeverMakesAFavorite();
    void fileDialogsCannotRename();

private:
    TestHttpServer m_server;
};

void tst_PageSaveRules::initTestCase()
{
    TQuelvardSchemeHandler::Install(QWebEngineProfile::defaultProfile());
    QVERIFY(m_server.start());
    // What a locked user types into a page's editable box to make a favorite of it.
    m_server.setHtml(QStringLiteral("/typed"), QStringLiteral("Typed"),
                     QStringLiteral("<div contenteditable=\"true\">x<br>[InternetShortcut]<br>"
                                    "URL=http://any.site/</div><p>%1</p>")
                         .arg(PageText));
}

namespace {

// The favorites folder (with a subfolder) and an ordinary folder beside it holding links into
// the favorites, for the many ways of spelling a place among the favorites; what they held
// once made is noted.
struct TSaveFolders
{
    QTemporaryDir outside;
    QString favorites;
    QString shared = MachineFavorites::Folder();
    QStringList favoritesBefore, outsideBefore;

    // Also spells `target` in them.
    bool make(QString &target)
    {
        favorites = FavoritesStore::FavoritesFolder();
        favorites.chop(1);
        const QString out = outside.path();
        const bool made =
            outside.isValid() && QDir().mkpath(favorites + QStringLiteral("/sub")) &&
            QDir().mkpath(shared) && QFile::link(favorites, out + QStringLiteral("/favlink")) &&
            QFile::link(favorites + QStringLiteral("/sub"), out + QStringLiteral("/sublink")) &&
            QFile::link(favorites + QStringLiteral("/linked.html"),
                        out + QStringLiteral("/linked.html")) &&
            QFile::link(favorites, out + QStringLiteral("/pictures_files"));
        favoritesBefore = all();
        outsideBefore = entriesBelow(out);
        target = spell(target);
        return made;
    }
    QString spell(QString pattern) const
    {
        const QString parentOfOutside = QFileInfo(outside.path()).path();
        return pattern.replace(QStringLiteral("{fav}"), favorites)
            .replace(QStringLiteral("{shared}"), shared)
            .replace(QStringLiteral("{out}"), outside.path())
            .replace(QStringLiteral("{favFromParent}"),
                     QDir(parentOfOutside).relativeFilePath(favorites));
    }
    // What both favorites folders hold.
    QStringList all() const { return entriesBelow(favorites) + entriesBelow(shared); }
};

const QString FavoritesRefusal = QStringLiteral("Favorites folder");
const QString NameRefusal = QStringLiteral("\".irl\"");

} // namespace

void tst_PageSaveRules::saveNeverMakesAFavorite_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("refusal"); // a part of the message, empty for a save that works
    QTest::addColumn<bool>("fromContextMenu");
    const int complete = 0, archive = 1, htmlOnly = 2;
    QTest::newRow("favorites folder")
        << "{fav}/typed.html" << complete << FavoritesRefusal << false;
    QTest::newRow("new folder in favorites")
        << "{fav}|new/typed.html" << htmlOnly << FavoritesRefusal << true;
    QTest::newRow("dot-dot") << "{out}/../{favFromParent}/sub/../typed.html" << archive
                             << FavoritesRefusal << false;
    QTest::newRow("dot-dot in a linked folder")
        << "{out}/favlink/sub/../typed.html" << complete << FavoritesRefusal << true;
    QTest::newRow("linked folder")
        << "{out}/favlink/sub/typed.html" << htmlOnly << FavoritesRefusal << false;
    QTest::newRow("link to a file in favorites")
        << "{out}/linked.html" << htmlOnly << FavoritesRefusal << true;
    QTest::newRow("picture folder is a link")
        << "{out}/pictures.html" << complete << FavoritesRefusal << false;
    QTest::newRow(".irl elsewhere") << "{out}/typed.irl" << complete << NameRefusal << true;
    QTest::newRow(".IRL elsewhere") << "{out}/typed.IRL" << htmlOnly << NameRefusal << false;
    QTest::newRow(".Irl archive") << "{out}/typed.Irl" << archive << NameRefusal << true;
    QTest::newRow(".irl in favorites") << "{fav}/typed.irl" << complete << NameRefusal << false;
    QTest::newRow("shared favorites folder")
        << "{shared}/typed.html" << complete << FavoritesRefusal << false;
    QTest::newRow("ordinary save") << "{out}/typed.html" << complete << QString() << true;
    QTest::newRow("picture folder link, HTML only")
        << "{out}/pictures.html" << htmlOnly << QString() << false;
}

// However the place is spelled, a saved page never lands among the favorites or as a favorite,
// so text typed into a page can never become an address the Favorites menu opens.
void tst_PageSaveRules::saveNeverMakesAFavorite()
{
    QFETCH(QString, target);
    QFETCH(int, filter);
    QFETCH(QString, refusal);
    QFETCH(bool, fromContextMenu);
    TSaveFolders folders;
    QVERIFY(folders.make(target));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/typed"))));
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        if (!files)
            return int(QDialog::Rejected);
        files->selectNameFilter(TPageSaver::NameFilters().at(filter));
        emit files->filterSelected(TPageSaver::NameFilters().at(filter));
        // A folder still to be made is typed into the name box, as a person would.
        const qsizetype typed = target.indexOf(QLatin1Char('|'));
        if (typed >= 0)
            files->setDirectory(target.left(typed));
        files->selectFile(target.mid(typed + 1));
        return int(QDialog::Accepted);
    };
    SaveWatch saves(browser->view()->page()->profile());
    if (fromContextMenu)
        browser->menuItem("SaveAs2")->trigger();
    else
        browser->action("SaveAs1")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgSaveAs")});

    if (refusal.isEmpty()) {
        QVERIFY(saves.ended(1));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("[InternetShortcut]"));
        QVERIFY(m_dialogs->messages.isEmpty());
    } else {
        QCOMPARE(m_dialogs->messages.size(), 1);
        QVERIFY2(m_dialogs->messages.first().text.contains(refusal),
                 qPrintable(m_dialogs->lastMessage()));
        QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);
        QCOMPARE(m_dialogs->messages.first().buttons,
                 QMessageBox::StandardButtons(QMessageBox::Ok));
        // A save made afterwards is the only one the engine was asked for.
        QTemporaryDir later;
        TPageSaver::Save(browser->view()->page(), later.filePath(QStringLiteral("later.html")),
                         QWebEngineDownloadRequest::SingleHtmlSaveFormat);
        QVERIFY(saves.ended(1));
        QCOMPARE(saves.started.size(), 1);
        QCOMPARE(entriesBelow(folders.outside.path()), folders.outsideBefore);
    }
    // Nothing new among the favorites, so nothing new on the Favorites menu.
    QCOMPARE(folders.all(), folders.favoritesBefore);
}

void tst_PageSaveRules::printNeverMakesAFavorite_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("fromPreview");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("print into favorites") << "{fav}/printed.pdf" << false << FavoritesRefusal;
    QTest::newRow("print through a link")
        << "{out}/favlink/printed.pdf" << false << FavoritesRefusal;
    QTest::newRow("print as .IRL") << "{out}/printed.IRL" << false << NameRefusal;
    QTest::newRow("print into shared favorites")
        << "{shared}/printed.pdf" << false << FavoritesRefusal;
    QTest::newRow("preview's print into favorites")
        << "{out}/sublink/printed.pdf" << true << FavoritesRefusal;
    QTest::newRow("preview's print as .irl") << "{out}/printed.irl" << true << NameRefusal;
}

// Printing to a file is the other way a page reaches a file the user names.
void tst_PageSaveRules::printNeverMakesAFavorite()
{
    QFETCH(QString, target);
    QFETCH(bool, fromPreview);
    QFETCH(QString, refusal);
    TSaveFolders folders;
    QVERIFY(folders.make(target));
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/typed"))));
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        if (auto *print = qobject_cast<QPrintDialog *>(dialog)) {
            print->printer()->setOutputFormat(QPrinter::PdfFormat);
            print->printer()->setOutputFileName(target);
            return int(QDialog::Accepted);
        }
        if (auto *preview = qobject_cast<QPrintPreviewDialog *>(dialog)) {
            // What the preview's own Print button does once a file is chosen.
            preview->printer()->setOutputFormat(QPrinter::PdfFormat);
            preview->printer()->setOutputFileName(target);
            if (auto *widget = preview->findChild<QPrintPreviewWidget *>())
                widget->print();
        }
        return int(QDialog::Rejected);
    };
    QSignalSpy finished(browser->view(), &QWebEngineView::printFinished);
    if (fromPreview)
        browser->window.PrintPreview1Click();
    else
        browser->window.Print1Click();
    QCOMPARE(m_dialogs->messages.size(), 1);
    QVERIFY2(m_dialogs->lastMessage().contains(refusal), qPrintable(m_dialogs->lastMessage()));
    QCOMPARE(m_dialogs->messages.first().icon, QMessageBox::Critical);

    // The refused name is not kept for the next job: a preview now prints to no file.
    QPrinter *kept = nullptr;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        if (auto *preview = qobject_cast<QPrintPreviewDialog *>(dialog))
            kept = preview->printer();
        return int(QDialog::Rejected);
    };
    browser->window.PrintPreview1Click();
    QVERIFY(kept);
    QVERIFY(kept->outputFileName().isEmpty());

    // An ordinary job printed afterwards is the first and only one to finish.
    QTemporaryDir later;
    m_dialogs->printTo(later.filePath(QStringLiteral("later.pdf")));
    browser->window.Print1Click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QVERIFY(QFileInfo(later.filePath(QStringLiteral("later.pdf"))).size() > 0);
    QCOMPARE(folders.all(), folders.favoritesBefore);
    QCOMPARE(entriesBelow(folders.outside.path()), folders.outsideBefore);
}

// Any file dialog, also one that Qt or the engine opens for us (the print dialog's file button, a
// page's upload field), chooses names only: renaming there would move files past every check.
void tst_PageSaveRules::fileDialogsCannotRename()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("page.html"));
    writeBytes(page, QByteArray());
    bool sawDialog = false;
    bool renamed = true;
    QTimer::singleShot(0, &browser->window, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *model = dialog ? dialog->findChild<QFileSystemModel *>() : nullptr;
        if (!model)
            return;
        // Once the folder is listed, the dialog knows the file may be written by its owner.
        sawDialog =
            QTest::qWaitFor([&] { return model->rowCount(model->index(folder.path())) > 0; }, 5000);
        renamed = model->setData(model->index(page), QStringLiteral("page.irl"));
        dialog->reject();
    });
    QFileDialog::getOpenFileName(&browser->window, QStringLiteral("Upload"), folder.path());
    QVERIFY(sawDialog);
    QVERIFY(!renamed);
    QVERIFY(QFileInfo::exists(page));
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("page.irl"))));
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PageSaveRules)
#include "tst_pagesaverules.moc"
