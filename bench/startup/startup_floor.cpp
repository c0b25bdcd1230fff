// The least a Qt WebEngine program does to show one page: the baseline the browser's start-up
// is measured against. Its window title follows the same pattern as the browser's.
#include <QApplication>
#include <QWebEngineView>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::loadFinished, &view, [&view](bool) {
        view.setWindowTitle(QStringLiteral("Quelvard - ") + view.title());
    });
    view.resize(648, 564);
    view.show();
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return application.exec();
}
