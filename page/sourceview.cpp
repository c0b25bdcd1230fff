#include "page/sourceview.h"

#include "ui_sourceview.h"

#include <QFontDatabase>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>

TfrmSource::TfrmSource(QWidget *parent) : QDialog(parent), ui(new Ui::TfrmSource)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    ui->memoSource->setFont(fixed);
    ui->memoSource->setPlainText(QStringLiteral("Loading..."));
}

TfrmSource::~TfrmSource()
{
    delete ui;
}

void TfrmSource::SetSource(const QString &title, const QString &address, const QString &source)
{
    const QString name = title.trimmed().isEmpty() ? address : title.trimmed();
    setWindowTitle(QStringLiteral("Source of %1").arg(name));
    ui->memoSource->setPlainText(source);
    ui->memoSource->moveCursor(QTextCursor::Start);
}

QString TfrmSource::Source() const
{
    return ui->memoSource->toPlainText();
}

TfrmSource *TfrmSource::ShowFor(QWebEngineView *view, QWidget *owner)
{
    if (!view || !view->page())
        return nullptr;
    QWebEnginePage *page = view->page();
    auto *window = new TfrmSource(owner);
    const QString title = page->title();
    const QString address = page->url().toString();
    window->setWindowTitle(
        QStringLiteral("Source of %1").arg(title.trimmed().isEmpty() ? address : title));
    QPointer<TfrmSource> guard = window;
    page->toHtml([guard, title, address](const QString &html) {
        if (!guard)
            return;
        guard->SetSource(title, address, html);
        emit guard->SourceLoaded();
    });
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
