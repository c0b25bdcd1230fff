#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineDownloadRequest>

class QWebEnginePage;
class QWidget;

// Save As for a page: asks for a name and format, then saves through the engine, accepting
// only the download that this save asks for.
class TPageSaver
{
public:
    // The formats offered, in the order of the file dialog's filters.
    static QStringList NameFilters();
    static QWebEngineDownloadRequest::SavePageFormat FormatOfFilter(const QString &filter);
    static QString SuffixOfFormat(QWebEngineDownloadRequest::SavePageFormat format);

    // A file name for the page: its title made safe for a file system, else the last part of
    // its address, else "page"; with the format's suffix.
    static QString SuggestedFileName(const QString &title, const QUrl &url,
                                     QWebEngineDownloadRequest::SavePageFormat format);
    // The folder of a complete save's pictures and style sheets beside the file.
    static QString ResourceFolder(const QString &filePath);

    // Asks for the file (QFileDialog through the dialog seam) and saves the page there.
    static void SaveAs(QWebEnginePage *page, QWidget *parent);
    // Saves without asking. A save that fails leaves nothing under the chosen name that it
    // wrote itself.
    static void Save(QWebEnginePage *page, const QString &filePath,
                     QWebEngineDownloadRequest::SavePageFormat format);
};
