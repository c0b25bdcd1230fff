// drag_source: a small window another program's drop can come from, for the shell-driven tests.
// Pressed and dragged, it offers one address as a URL and as text, the way a file manager or
// another browser does.
//
// usage: drag_source URL X Y  (the window's top-left corner on the screen; 160 x 120)
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

namespace {

class DragSource : public QWidget
{
public:
    explicit DragSource(const QUrl &url) : m_url(url)
    {
        setWindowTitle(QStringLiteral("Drag source"));
    }

protected:
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton))
            return;
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        mime->setUrls({m_url});
        mime->setText(m_url.toString());
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction | Qt::LinkAction | Qt::MoveAction);
    }

private:
    QUrl m_url;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc != 4)
        return 2;
    DragSource source(QUrl(QString::fromLocal8Bit(argv[1])));
    source.setGeometry(QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt(),
                       160, 120);
    source.show();
    return application.exec();
}
