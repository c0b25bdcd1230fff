// The floor for a download: a bare web view that loads one page and saves whatever it hands
// over into a folder, with nothing of the browser around it.
//   download_floor FOLDER URL
#include <QApplication>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QWebEngineView view;
    QObject::connect(view.page()->profile(), &QWebEngineProfile::downloadRequested,
                     [folder](QWebEngineDownloadRequest *request) {
                         request->setDownloadDirectory(folder);
                         request->accept();
                     });
    view.load(QUrl(QString::fromLocal8Bit(argv[2])));
    view.show();
    return app.exec();
}
