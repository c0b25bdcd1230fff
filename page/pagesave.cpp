#include "page/pagesave.h"

#include "favorites/savetarget.h"
#include "widgets/dialogseam.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <memory>

namespace {

// The folder last saved to, offered again for the rest of the run.
QString g_lastFolder;

struct TTargetState
{
    bool fileExisted = false;
    QDateTime fileModified;
    bool folderExisted = false;
};

// Every folder a complete save of `filePath` might put its pictures in. The engine drops the
// last extension, or the last two for names such as "x.tar.gz"; any shorter base is taken too,
// so no spelling of the name slips past the check.
QStringList ResourceFolderCandidates(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QString name = info.fileName();
    QStringList folders{TPageSaver::ResourceFolder(filePath)};
    for (qsizetype dot = name.indexOf(QLatin1Char('.')); dot > 0;
         dot = name.indexOf(QLatin1Char('.'), dot + 1))
        folders << info.dir().filePath(name.left(dot) + QStringLiteral("_files"));
    folders << info.dir().filePath(name + QStringLiteral("_files"));
    folders.removeDuplicates();
    return folders;
}

} // namespace

QStringList TPageSaver::NameFilters()
{
    return {
        QStringLiteral("Web Page, complete (*.html *.htm)"),
        QStringLiteral("Web Archive, single file (*.mht *.mhtml)"),
        QStringLiteral("Web Page, HTML only (*.html *.htm)"),
    };
}

QWebEngineDownloadRequest::SavePageFormat TPageSaver::FormatOfFilter(const QString &filter)
{
    const QStringList filters = NameFilters();
    if (filter == filters.at(1))
        return QWebEngineDownloadRequest::MimeHtmlSaveFormat;
    if (filter == filters.at(2))
        return QWebEngineDownloadRequest::SingleHtmlSaveFormat;
    return QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
}

QString TPageSaver::SuffixOfFormat(QWebEngineDownloadRequest::SavePageFormat format)
{
    return format == QWebEngineDownloadRequest::MimeHtmlSaveFormat ? QStringLiteral("mht")
                                                                   : QStringLiteral("html");
}

QString TPageSaver::SuggestedFileName(const QString &title, const QUrl &url,
                                      QWebEngineDownloadRequest::SavePageFormat format)
{
    auto clean = [](const QString &text) {
        QString name;
        for (const QChar c : text) {
            // Separators and characters other systems refuse in names, and control characters.
            if (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c))
                name += QLatin1Char('_');
            else
                name += c;
        }
        name = name.simplified();
        // A leading dot would hide the file; trailing dots and blanks confuse other systems.
        while (name.startsWith(QLatin1Char('.')))
            name.remove(0, 1);
        while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
            name.chop(1);
        return name.left(100).trimmed();
    };
    QString base = clean(title);
    if (base.isEmpty() || base == clean(url.toString())) {
        QString last = url.fileName();
        const int dot = last.lastIndexOf(QLatin1Char('.'));
        if (dot > 0)
            last = last.left(dot);
        base = clean(last);
    }
    if (base.isEmpty())
        base = clean(url.host());
    if (base.isEmpty())
        base = QStringLiteral("page");
    return base + QLatin1Char('.') + SuffixOfFormat(format);
}

QString TPageSaver::ResourceFolder(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("_files"));
}

void TPageSaver::SaveAs(QWebEnginePage *page, QWidget *parent)
{
    if (!page)
        return;
    QFileDialog dialog(parent, QStringLiteral("Save Web Page"));
    dialog.setObjectName(QStringLiteral("dlgSaveAs"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog's own rename, delete and new-folder commands would let a locked user move a
    // saved page into the favorites folder after the save was checked; our dialog offers none.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setNameFilters(NameFilters());
    dialog.selectNameFilter(NameFilters().at(0));
    dialog.setDefaultSuffix(SuffixOfFormat(QWebEngineDownloadRequest::CompleteHtmlSaveFormat));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString &filter) {
                         dialog.setDefaultSuffix(SuffixOfFormat(FormatOfFilter(filter)));
                     });
    QString folder = g_lastFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.selectFile(SuggestedFileName(page->title(), page->url(),
                                        QWebEngineDownloadRequest::CompleteHtmlSaveFormat));

    QPointer<QWebEnginePage> guard = page;
    if (TDialogs::Current()->ExecDialog(&dialog) != QDialog::Accepted || !guard)
        return;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return;
    const QString filePath = files.first();
    g_lastFolder = QFileInfo(filePath).absolutePath();
    Save(page, filePath, FormatOfFilter(dialog.selectedNameFilter()));
}

void TPageSaver::Save(QWebEnginePage *page, const QString &filePath,
                      QWebEngineDownloadRequest::SavePageFormat format)
{
    if (!page || filePath.isEmpty())
        return;
    const QString absolutePath = QFileInfo(filePath).absoluteFilePath();
    const QString resourceFolder = ResourceFolder(absolutePath);
    // Every save comes through here, so this is where a page is kept from becoming a favorite.
    QWidget *parent =
        QWebEngineView::forPage(page) ? QWebEngineView::forPage(page)->window() : nullptr;
    const QStringList companions = format == QWebEngineDownloadRequest::CompleteHtmlSaveFormat
                                       ? ResourceFolderCandidates(absolutePath)
                                       : QStringList();
    if (SaveTarget::RefuseWrite(parent, absolutePath, companions))
        return;
    TTargetState before;
    {
        const QFileInfo info(absolutePath);
        before.fileExisted = info.exists();
        before.fileModified = info.lastModified();
        before.folderExisted = QFileInfo::exists(resourceFolder);
    }
    auto cleanUp = [absolutePath, resourceFolder, before, format] {
        const QFileInfo info(absolutePath);
        if (info.isFile() && (!before.fileExisted || info.lastModified() != before.fileModified))
            QFile::remove(absolutePath);
        if (format == QWebEngineDownloadRequest::CompleteHtmlSaveFormat && !before.folderExisted &&
            QFileInfo(resourceFolder).isDir())
            QDir(resourceFolder).removeRecursively();
    };

    // Only this save's own request is taken here; other downloads are the download manager's.
    QWebEngineProfile *profile = page->profile();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(
        profile, &QWebEngineProfile::downloadRequested, page,
        [connection, page, absolutePath, cleanUp](QWebEngineDownloadRequest *request) {
            if (request->page() != page || !request->isSavePageDownload())
                return;
            const QString requested =
                QFileInfo(QDir(request->downloadDirectory()).filePath(request->downloadFileName()))
                    .absoluteFilePath();
            if (requested != absolutePath)
                return;
            QObject::disconnect(*connection);
            QObject::connect(request, &QWebEngineDownloadRequest::stateChanged, request,
                             [cleanUp](QWebEngineDownloadRequest::DownloadState state) {
                                 if (state == QWebEngineDownloadRequest::DownloadCancelled ||
                                     state == QWebEngineDownloadRequest::DownloadInterrupted)
                                     cleanUp();
                             });
            request->accept();
        });
    page->save(absolutePath, format);
}
