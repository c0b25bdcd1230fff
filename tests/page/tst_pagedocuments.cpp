// Print, page setup, preview, save, find, source and properties of the active page, against
// real pages on a loopback server.
#include "app/schemehandler.h"
#include "config.h"
#include "page/finddialog.h"
#include "page/pageproperties.h"
#include "page/pagesave.h"
#include "page/sourceview.h"
#include "page/webview.h"
#include "popups/popupblocker.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "tabs/browsertab.h"
#include "tabs/tabcontrol.h"
#include "ui_finddialog.h"
#include "ui_pageproperties.h"

#include <QAction>
#include <QFileDialog>
#include <QPageSetupDialog>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>
#include <QWebEngineProfile>
#include <QtTest>

using namespace TestPages;

namespace {

// Pixels of the first page of a PDF, rendered by Ghostscript; null when it could not.
QImage renderFirstPdfPage(const QString &pdf, const QString &png)
{
    QProcess process;
    process.start(QStringLiteral("gs"),
                  {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                   QStringLiteral("-dSAFER"), QStringLiteral("-sDEVICE=png16m"),
                   QStringLiteral("-r40"), QStringLiteral("-dFirstPage=1"),
                   QStringLiteral("-dLastPage=1"), QStringLiteral("-o"), png, pdf});
    process.waitForFinished(60000);
    return QImage(png);
}

int countReddish(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                ++count;
        }
    }
    return count;
}

int countDark(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 100)
                ++count;
        }
    }
    return count;
}

// What a person reads in a label or tooltip of the given format: text taken for markup is drawn
// formatted, so its tags vanish.
QString rendered(const QString &text, Qt::TextFormat format)
{
    if (format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument document;
        document.setHtml(text);
        return document.toPlainText();
    }
    return text;
}

const QString MarkupTitle = QStringLiteral("<b>x</b>");

} // namespace

class tst_PageDocuments : public WebSuite
{
    Q_OBJECT

private slots:
    void initTestCase();

    void printWritesThePage();
    void printThatFailsLeavesNothing_data();
    void printThatFailsLeavesNothing();
    void tabClosedWhilePrintDialogIsOpen();
    void pageSetupHoldsForPrint();
    void printPreviewRendersWithoutPrompt();
    void saveWritesThePage_data();
    void saveWritesThePage();
    void saveThatFailsLeavesNothing_data();
    void saveThatFailsLeavesNothing();
    void suggestedFileName_data();
    void suggestedFileName();
    void findCountsMatches_data();
    void findCountsMatches();
    void findDialogIsOneAndModeless();
    void viewSourceShowsTheMarkup();
    void propertiesOfAPage();
    void propertiesText_data();
    void propertiesText();
    void pageTextIsShownAsWritten_data();
    void pageTextIsShownAsWritten();

private:
    TestHttpServer m_server;
    QTemporaryDir m_files;
};

void tst_PageDocuments::initTestCase()
{
    TQuelvardSchemeHandler::Install(QWebEngineProfile::defaultProfile());
    QVERIFY(m_server.start());
    QVERIFY(m_files.isValid());
    m_server.setHtml(QStringLiteral("/one"), QStringLiteral("ONE"),
                     QStringLiteral("<p>page one</p>"));
    m_server.setHtml(QStringLiteral("/text"), QStringLiteral("Text Page"),
                     QStringLiteral("<p id=\"text\">%1</p>").arg(PageText));
    m_server.setHtml(QStringLiteral("/find"), QStringLiteral("Find Page"),
                     QStringLiteral("<p>apple banana apple cherry APPLE pear</p>"));
    // A <title> holds text, not markup: the page's title is these characters as they are.
    m_server.setHtml(QStringLiteral("/markup"), MarkupTitle, QStringLiteral("<p>markup</p>"));
    m_server.setPicture(QStringLiteral("/red.png"), Qt::red);
    m_server.setHtml(QStringLiteral("/print"), QStringLiteral("Print Page"),
                     QStringLiteral("<div style=\"width:400px;height:300px;background:#ff0000;"
                                    "-webkit-print-color-adjust:exact;print-color-adjust:exact\">"
                                    "</div><p>%1</p><img src=\"/red.png\">")
                         .arg(PageText));
    // The response head is written raw after "Content-Type: ", so a second header rides along.
    m_server.setPage(QStringLiteral("/dated"),
                     "<html><head><title>Dated</title></head>"
                     "<body>dated page</body></html>",
                     "text/html\r\nLast-Modified: Wed, 21 Oct 2015 07:28:00 GMT");
}

void tst_PageDocuments::printWritesThePage()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/print"))));
    const QString pdf = m_files.filePath(QStringLiteral("printed.pdf"));
    QFile::remove(pdf);
    m_dialogs->printTo(pdf);
    QSignalSpy finished(browser->view(), &QWebEngineView::printFinished);
    browser->action("Print1")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgPrint")});
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QCOMPARE(finished.first().first().toBool(), true);

    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.startsWith("%PDF"));
    QVERIFY(data.contains("/Type /Page"));
    if (QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty())
        QSKIP("Ghostscript is not installed; the printed pixels cannot be checked");
    const QImage page = renderFirstPdfPage(pdf, m_files.filePath(QStringLiteral("printed.png")));
    QVERIFY(!page.isNull());
    // The red block of the page and its dark text are on paper.
    QVERIFY2(countReddish(page) > 500, qPrintable(QString::number(countReddish(page))));
    QVERIFY(countDark(page) > 20);
}

void tst_PageDocuments::printThatFailsLeavesNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("cancelled") << QStringLiteral("cancelled.pdf") << false;
    QTest::newRow("missing folder") << QStringLiteral("missing/refused.pdf") << true;
}

// A job that prints nothing leaves no file and says nothing, and does not hold the printer: the
// next job prints, and ends after anything the first one could have started.
void tst_PageDocuments::printThatFailsLeavesNothing()
{
    QFETCH(QString, file);
    QFETCH(bool, accepted);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/print"))));
    const QString pdf = m_files.filePath(file);
    m_dialogs->printTo(pdf, accepted ? QDialog::Accepted : QDialog::Rejected);
    QSignalSpy finished(browser->view(), &QWebEngineView::printFinished);
    // Through the key, with the dialog of the print command.
    QTest::keyClick(browser->view()->focusProxy(), Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgPrint")});
    if (accepted) {
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(finished.first().first().toBool(), false);
    }
    const QString later =
        m_files.filePath(QStringLiteral("later %1.pdf").arg(QTest::currentDataTag()));
    m_dialogs->printTo(later);
    browser->window.Print1Click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), accepted ? 2 : 1, 30000);
    QCOMPARE(finished.last().first().toBool(), true);
    QVERIFY(QFileInfo(later).size() > 0);
    QVERIFY(!QFileInfo::exists(pdf));
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageDocuments::tabClosedWhilePrintDialogIsOpen()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    browser->window.NewTab1Click();
    QVERIFY(browser->load(m_server.url(QStringLiteral("/text"))));
    QPointer<TWebView> view = browser->view();
    const QString pdf = m_files.filePath(QStringLiteral("closed-tab.pdf"));
    m_dialogs->printTo(pdf);
    const auto print = m_dialogs->dialogHandler;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        // What a page closing its own window does meanwhile.
        browser->window.CloseTab1Click();
        return print(dialog);
    };
    browser->window.Print1Click();
    QVERIFY(!view);
    QCOMPARE(browser->window.pcMain->TabCount(), 1);
    // The tab left prints next; once it has, the closed tab's job can no longer appear.
    const QString left = m_files.filePath(QStringLiteral("left.pdf"));
    m_dialogs->printTo(left);
    QSignalSpy finished(browser->view(), &QWebEngineView::printFinished);
    browser->window.Print1Click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QVERIFY(QFileInfo(left).size() > 0);
    QVERIFY(!QFileInfo::exists(pdf));
}

void tst_PageDocuments::pageSetupHoldsForPrint()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/one"))));
    QPageLayout::Orientation seenByPrint = QPageLayout::Portrait;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        if (auto *setup = qobject_cast<QPageSetupDialog *>(dialog)) {
            setup->printer()->setPageOrientation(QPageLayout::Landscape);
            return int(QDialog::Accepted);
        }
        if (auto *print = qobject_cast<QPrintDialog *>(dialog))
            seenByPrint = print->printer()->pageLayout().orientation();
        return int(QDialog::Rejected);
    };
    browser->action("PageSetup1")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgPageSetup")});
    // Another tab's print uses the same settings.
    browser->window.NewTab1Click();
    QVERIFY(waitForUrl(browser->window, QUrl(QStringLiteral(QUELVARD_START_PAGE_URL))));
    browser->action("Print1")->trigger();
    QCOMPARE(seenByPrint, QPageLayout::Landscape);

    // Back to portrait for the other tests of this run.
    m_dialogs->dialogHandler = [](QDialog *dialog) {
        if (auto *setup = qobject_cast<QPageSetupDialog *>(dialog))
            setup->printer()->setPageOrientation(QPageLayout::Portrait);
        return int(QDialog::Accepted);
    };
    browser->window.PageSetup1Click();
}

void tst_PageDocuments::printPreviewRendersWithoutPrompt()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/print"))));
    int previewPages = -1;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *preview = qobject_cast<QPrintPreviewDialog *>(dialog);
        if (!preview)
            return int(QDialog::Rejected);
        auto *widget = preview->findChild<QPrintPreviewWidget *>();
        if (widget) {
            widget->updatePreview();
            previewPages = widget->pageCount();
        }
        return int(QDialog::Rejected);
    };
    browser->action("PrintPreview1")->trigger();
    // The preview itself and nothing before it.
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgPrintPreview")});
    QVERIFY2(previewPages >= 1, qPrintable(QString::number(previewPages)));
}

void tst_PageDocuments::saveWritesThePage_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("withFolder");
    QTest::newRow("complete") << 0 << QStringLiteral("complete.html") << true;
    QTest::newRow("archive") << 1 << QStringLiteral("archive.mht") << false;
    QTest::newRow("html only") << 2 << QStringLiteral("only.html") << false;
    QTest::newRow("no suffix typed") << 1 << QStringLiteral("typed") << false;
}

void tst_PageDocuments::saveWritesThePage()
{
    QFETCH(int, filter);
    QFETCH(QString, fileName);
    QFETCH(bool, withFolder);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/print"))));
    QTemporaryDir folder;
    QString offered;
    QString written;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        if (!files)
            return int(QDialog::Rejected);
        offered = files->selectedFiles().value(0);
        files->setDirectory(folder.path());
        files->selectNameFilter(TPageSaver::NameFilters().at(filter));
        emit files->filterSelected(TPageSaver::NameFilters().at(filter));
        files->selectFile(fileName);
        written = files->selectedFiles().value(0);
        return int(QDialog::Accepted);
    };
    SaveWatch saves(browser->view()->page()->profile());
    browser->menuItem("SaveAs2")->trigger();
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("dlgSaveAs")});
    QVERIFY2(offered.endsWith(QStringLiteral("/Print Page.html")), qPrintable(offered));
    QString expected = folder.filePath(fileName);
    if (!fileName.contains(QLatin1Char('.')))
        expected += QStringLiteral(".mht");
    QVERIFY(saves.ended(1));
    QFile file(expected);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY2(content.contains(PageText.toUtf8()), content.left(400).constData());
    QCOMPARE(QFileInfo::exists(TPageSaver::ResourceFolder(expected)), withFolder);
    Q_UNUSED(written);
}

void tst_PageDocuments::saveThatFailsLeavesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("cancelled") << QStringLiteral("kept.html") << false;
    // The engine makes a missing folder itself; one that is a file it cannot make.
    QTest::newRow("folder is a file") << QStringLiteral("blocker/refused.html") << true;
}

// A save that writes nothing leaves the folder as it was and says nothing, and a later save is
// not caught by what it left waiting; that save ends after anything the first could have started.
void tst_PageDocuments::saveThatFailsLeavesNothing()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/print"))));
    QTemporaryDir folder;
    writeBytes(folder.filePath(QStringLiteral("blocker")), "kept");
    int answer = accepted ? QDialog::Accepted : QDialog::Rejected;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        if (files)
            files->selectFile(folder.filePath(name));
        return files ? answer : int(QDialog::Rejected);
    };
    SaveWatch saves(browser->view()->page()->profile());
    browser->action("SaveAs1")->trigger();
    const int asked = accepted ? 1 : 0; // a cancelled dialog asks the engine for nothing
    QVERIFY(saves.ended(asked));
    name = QStringLiteral("saved.html");
    answer = QDialog::Accepted;
    browser->window.SaveAs1Click();
    QVERIFY(saves.ended(asked + 1));
    QCOMPARE(saves.started.size(), asked + 1);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder.filePath(QStringLiteral("saved_files"))),
                             20000);
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             (QStringList{QStringLiteral("blocker"), QStringLiteral("saved.html"),
                          QStringLiteral("saved_files")}));
    QCOMPARE(readBytes(folder.filePath(QStringLiteral("blocker"))), QByteArray("kept"));
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageDocuments::suggestedFileName_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("expected");
    const int complete = QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
    const int archive = QWebEngineDownloadRequest::MimeHtmlSaveFormat;
    QTest::newRow("title") << "News of the Day"
                           << "http://a.example/x" << complete << "News of the Day.html";
    QTest::newRow("archive suffix") << "News"
                                    << "http://a.example/" << archive << "News.mht";
    QTest::newRow("separators") << "a/b\\c:d*e?f\"g<h>i|j"
                                << "http://a.example/" << complete << "a_b_c_d_e_f_g_h_i_j.html";
    QTest::newRow("hidden dots") << "...secret."
                                 << "http://a.example/" << complete << "secret.html";
    QTest::newRow("no title") << ""
                              << "http://a.example/dir/report.php?id=3" << complete
                              << "report.html";
    QTest::newRow("title is the address")
        << "http://a.example/dir/report.php"
        << "http://a.example/dir/report.php" << complete << "report.html";
    QTest::newRow("host only") << ""
                               << "http://a.example/" << complete << "a.example.html";
    QTest::newRow("nothing") << ""
                             << "about:blank" << complete << "blank.html";
    QTest::newRow("control characters") << "tab\there\nnow"
                                        << "http://a.example/" << complete << "tab_here_now.html";
}

void tst_PageDocuments::suggestedFileName()
{
    QFETCH(QString, title);
    QFETCH(QString, url);
    QFETCH(int, format);
    QFETCH(QString, expected);
    QCOMPARE(TPageSaver::SuggestedFileName(title, QUrl(url),
                                           QWebEngineDownloadRequest::SavePageFormat(format)),
             expected);
}

void tst_PageDocuments::findCountsMatches_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("matches");
    QTest::addColumn<QString>("status");
    QTest::newRow("any case") << "apple" << false << 3 << "Match 1 of 3.";
    QTest::newRow("match case") << "apple" << true << 2 << "Match 1 of 2.";
    QTest::newRow("upper only") << "APPLE" << true << 1 << "1 match.";
    QTest::newRow("none") << "grape" << false << 0 << "Cannot find \"grape\".";
}

void tst_PageDocuments::findCountsMatches()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(int, matches);
    QFETCH(QString, status);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/find"))));
    browser->action("Find1")->trigger();
    auto *find = browser->window.findChild<TfrmFind *>();
    QVERIFY(find);
    QVERIFY(find->isVisible());
    QVERIFY(!find->isModal());
    find->ui->edtFindWhat->setText(text);
    find->ui->cbMatchCase->setChecked(matchCase);
    QSignalSpy finished(find, &TfrmFind::SearchFinished);
    find->ui->cbFindNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().at(0).toInt(), matches);
    QCOMPARE(find->ui->lblStatus->text(), status);
    if (matches > 1) {
        // Find Next moves on; Up comes back.
        find->ui->cbFindNext->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 5000);
        QCOMPARE(finished.at(1).at(1).toInt(), 2);
        find->ui->rbUp->setChecked(true);
        find->ui->cbFindNext->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        QCOMPARE(finished.at(2).at(1).toInt(), 1);
    }
    QVERIFY(m_dialogs->messages.isEmpty());
}

void tst_PageDocuments::findDialogIsOneAndModeless()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    QVERIFY(browser->load(m_server.url(QStringLiteral("/find"))));
    w.Find1Click();
    w.Find1Click();
    QCOMPARE(w.findChildren<TfrmFind *>().size(), 1);
    auto *find = w.findChild<TfrmFind *>();
    // The box the dialog gives the focus to, whether or not the offscreen window is active.
    QCOMPARE(find->focusWidget(), find->ui->edtFindWhat);
    QVERIFY(!find->ui->cbFindNext->isEnabled());
    find->ui->edtFindWhat->setText(QStringLiteral("page"));
    QVERIFY(find->ui->cbFindNext->isEnabled());

    // It searches the tab that is active when Find Next is pressed.
    w.NewTab1Click();
    QVERIFY(browser->load(m_server.url(QStringLiteral("/text"))));
    QSignalSpy finished(find, &TfrmFind::SearchFinished);
    find->ui->cbFindNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().at(0).toInt(), 1);
    find->ui->cbCancel->click();
    QVERIFY(!find->isVisible());
}

void tst_PageDocuments::viewSourceShowsTheMarkup()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    QVERIFY(browser->load(m_server.url(QStringLiteral("/text"))));
    const int tabs = w.pcMain->TabCount();
    browser->menuItem("ViewSource2")->trigger();
    auto *source = w.findChild<TfrmSource *>();
    QVERIFY(source);
    QTRY_VERIFY_WITH_TIMEOUT(source->Source().contains(QStringLiteral("<title>Text Page</title>")),
                             5000);
    QVERIFY(source->Source().contains(PageText));
    QVERIFY(source->isVisible());
    QVERIFY(source->windowTitle().contains(QStringLiteral("Text Page")));
    auto *memo = source->findChild<QPlainTextEdit *>(QStringLiteral("memoSource"));
    QVERIFY(memo && memo->isReadOnly());
    // Not a window of the page: no tab was opened for it, no popup was refused.
    QCOMPARE(w.pcMain->TabCount(), tabs);
    QVERIFY(w.PopupBlocker()->RefusedSite(w.ActiveTab()).isEmpty());
    source->close();
}

void tst_PageDocuments::propertiesOfAPage()
{
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser && browser->load(m_server.url(QStringLiteral("/text"))));
    TPagePropertiesText shown;
    bool dated = false;
    m_dialogs->dialogHandler = [&](QDialog *dialog) {
        if (auto *properties = qobject_cast<TfrmPageProperties *>(dialog)) {
            shown.Title = properties->ui->lblTitleValue->text();
            shown.Address = properties->ui->lblAddressValue->text();
            shown.Protocol = properties->ui->lblProtocolValue->text();
            shown.Type = properties->ui->lblTypeValue->text();
            shown.Connection = properties->ui->lblConnectionValue->text();
            shown.Size = properties->ui->lblSizeValue->text();
            shown.Modified = properties->ui->lblModifiedValue->text();
            dated = true;
        }
        return int(QDialog::Accepted);
    };
    browser->action("PageProperties1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dated, 5000);
    QCOMPARE(m_dialogs->dialogsRun, QStringList{QStringLiteral("TfrmPageProperties")});
    QCOMPARE(shown.Title, QStringLiteral("Text Page"));
    QCOMPARE(shown.Address, m_server.url(QStringLiteral("/text")).toString());
    QCOMPARE(shown.Protocol, QStringLiteral("HyperText Transfer Protocol"));
    QCOMPARE(shown.Type, QStringLiteral("HTML Document (text/html)"));
    QCOMPARE(shown.Connection, QStringLiteral("Not encrypted"));
    const int size = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>"
                                    "Text Page</title></head><body><p id=\"text\">%1</p></body>"
                                    "</html>")
                         .arg(PageText)
                         .toUtf8()
                         .size();
    QCOMPARE(shown.Size, QStringLiteral("%1 bytes").arg(size));
    // The server sent no date, so the document's made-up "now" is not shown as one.
    QCOMPARE(shown.Modified, QStringLiteral("Not available"));

    // A page whose server gives its date.
    QVERIFY(browser->load(m_server.url(QStringLiteral("/dated"))));
    dated = false;
    browser->menuItem("PageProperties2")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dated, 5000);
    const QDateTime expected = QDateTime(QDate(2015, 10, 21), QTime(7, 28), Qt::UTC).toLocalTime();
    QCOMPARE(shown.Modified, QLocale().toString(expected, QLocale::LongFormat));
}

void tst_PageDocuments::pageTextIsShownAsWritten_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("title in Page Properties") << "properties";
    QTest::newRow("title in the tab's tooltip") << "tab";
    QTest::newRow("searched text in the find status") << "find";
}

void tst_PageDocuments::pageTextIsShownAsWritten()
{
    QFETCH(QString, where);
    auto browser = Browser::open(*m_dialogs);
    QVERIFY(browser);
    TfrmQuelvardBrowser &w = browser->window;
    QVERIFY(browser->load(m_server.url(QStringLiteral("/markup"))));
    QTRY_COMPARE_WITH_TIMEOUT(browser->view()->LocationName(), MarkupTitle, 5000);

    if (where == QLatin1String("properties")) {
        QString shown;
        bool ran = false;
        m_dialogs->dialogHandler = [&](QDialog *dialog) {
            if (auto *properties = qobject_cast<TfrmPageProperties *>(dialog)) {
                shown = rendered(properties->ui->lblTitleValue->text(),
                                 properties->ui->lblTitleValue->textFormat());
                ran = true;
            }
            return int(QDialog::Accepted);
        };
        browser->action("PageProperties1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(ran, 5000);
        QCOMPARE(shown, MarkupTitle);
    } else if (where == QLatin1String("tab")) {
        const int index = w.pcMain->ActiveTabIndex();
        QTRY_COMPARE_WITH_TIMEOUT(rendered(w.pcMain->tabToolTip(index), Qt::AutoText), MarkupTitle,
                                  5000);
    } else {
        browser->action("Find1")->trigger();
        auto *find = w.findChild<TfrmFind *>();
        QVERIFY(find);
        find->ui->edtFindWhat->setText(MarkupTitle);
        QSignalSpy finished(find, &TfrmFind::SearchFinished);
        find->ui->cbFindNext->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        QCOMPARE(rendered(find->ui->lblStatus->text(), find->ui->lblStatus->textFormat()),
                 QStringLiteral("Cannot find \"%1\".").arg(MarkupTitle));
    }
}

void tst_PageDocuments::propertiesText_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("type");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("typeText");
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("https") << "https://a.example/"
                           << "text/html" << qint64(12345)
                           << "HyperText Transfer Protocol with Privacy"
                           << "HTML Document (text/html)"
                           << "Encrypted"
                           << QLocale().toString(qint64(12345)) + QStringLiteral(" bytes");
    QTest::newRow("file") << "file:///tmp/a.txt"
                          << "text/plain" << qint64(1) << "File Protocol"
                          << "Text Document (text/plain)"
                          << "Not encrypted"
                          << "1 byte";
    QTest::newRow("image") << "http://a.example/p.png"
                           << "image/png" << qint64(0) << "HyperText Transfer Protocol"
                           << "PNG Image (image/png)"
                           << "Not encrypted"
                           << "0 bytes";
    QTest::newRow("own pages") << "quelvard://home/start.html"
                               << "" << qint64(-1) << "Quelvard Protocol"
                               << "Not available"
                               << "Not encrypted"
                               << "Not available";
    QTest::newRow("other") << "gopher://a.example/"
                           << "application/x-thing; q=1" << qint64(-1) << "GOPHER Protocol"
                           << "application/x-thing"
                           << "Not encrypted"
                           << "Not available";
    QTest::newRow("nothing") << ""
                             << "" << qint64(-1) << "Not available"
                             << "Not available"
                             << "Not available"
                             << "Not available";
}

void tst_PageDocuments::propertiesText()
{
    QFETCH(QString, url);
    QFETCH(QString, type);
    QFETCH(qint64, size);
    QFETCH(QString, protocol);
    QFETCH(QString, typeText);
    QFETCH(QString, connection);
    QFETCH(QString, sizeText);
    TPageInfo info;
    info.Address = QUrl(url);
    info.ContentType = type;
    info.Size = size;
    const TPagePropertiesText text = TfrmPageProperties::Describe(info);
    QCOMPARE(text.Protocol, protocol);
    QCOMPARE(text.Type, typeText);
    QCOMPARE(text.Connection, connection);
    QCOMPARE(text.Size, sizeText);
    QCOMPARE(text.Title, QStringLiteral("Not available"));
    QCOMPARE(text.Modified, QStringLiteral("Not available"));
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PageDocuments)
#include "tst_pagedocuments.moc"
