#include "page/pageproperties.h"

#include "ui_pageproperties.h"

#include "common/guard.h"
#include "widgets/dialogseam.h"

#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

const QString NotAvailable = QStringLiteral("Not available");

// Runs in the program's own script world, so the page's scripts cannot change the answer.
// document.lastModified gives the current time when the server sent no date; that value is
// recognised by comparing it with the clock read around it.
const char *const PageInfoScript = R"JS(
(function () {
    function stamp(d) {
        function two(n) { return (n < 10 ? '0' : '') + n; }
        return two(d.getMonth() + 1) + '/' + two(d.getDate()) + '/' + d.getFullYear() + ' '
            + two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
    }
    var before = stamp(new Date());
    var modified = document.lastModified;
    var after = stamp(new Date());
    var size = -1;
    try {
        var entries = performance.getEntriesByType('navigation');
        if (entries.length > 0 && entries[0].decodedBodySize > 0)
            size = entries[0].decodedBodySize;
    } catch (e) {
    }
    return {
        contentType: document.contentType || '',
        size: size,
        modified: (modified === before || modified === after) ? '' : (modified || '')
    };
})()
)JS";

} // namespace

TfrmPageProperties::TfrmPageProperties(const TPageInfo &info, QWidget *parent)
    : QDialog(parent), ui(new Ui::TfrmPageProperties)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    const TPagePropertiesText text = Describe(info);
    ui->lblTitleValue->setText(text.Title);
    ui->lblAddressValue->setText(text.Address);
    ui->lblAddressValue->setCursorPosition(0);
    // Read-only and looking like the labels around it; it scrolls where a long address is cut.
    QPalette palette = ui->lblAddressValue->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    ui->lblAddressValue->setPalette(palette);
    // The edit's own inner margin would set its text apart from the labels' column.
    ui->lblAddressValue->setTextMargins(-2, 0, 0, 0);
    ui->lblProtocolValue->setText(text.Protocol);
    ui->lblTypeValue->setText(text.Type);
    ui->lblConnectionValue->setText(text.Connection);
    ui->lblSizeValue->setText(text.Size);
    ui->lblModifiedValue->setText(text.Modified);
    adjustSize();
}

TfrmPageProperties::~TfrmPageProperties()
{
    delete ui;
}

QString TfrmPageProperties::ProtocolName(const QString &scheme)
{
    const QString lower = scheme.toLower();
    if (lower == QLatin1String("http"))
        return QStringLiteral("HyperText Transfer Protocol");
    if (lower == QLatin1String("https"))
        return QStringLiteral("HyperText Transfer Protocol with Privacy");
    if (lower == QLatin1String("file"))
        return QStringLiteral("File Protocol");
    if (lower == QLatin1String("ftp"))
        return QStringLiteral("File Transfer Protocol");
    if (lower == QLatin1String("data"))
        return QStringLiteral("Data Protocol");
    if (lower == QLatin1String("about"))
        return QStringLiteral("About Protocol");
    if (lower == QLatin1String("quelvard"))
        return QStringLiteral("Quelvard Protocol");
    if (lower.isEmpty())
        return NotAvailable;
    return lower.toUpper() + QStringLiteral(" Protocol");
}

QString TfrmPageProperties::TypeName(const QString &contentType)
{
    const QString mime = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (mime.isEmpty())
        return NotAvailable;
    QString kind;
    if (mime == QLatin1String("text/html"))
        kind = QStringLiteral("HTML Document");
    else if (mime == QLatin1String("application/xhtml+xml"))
        kind = QStringLiteral("XHTML Document");
    else if (mime == QLatin1String("text/plain"))
        kind = QStringLiteral("Text Document");
    else if (mime == QLatin1String("image/svg+xml"))
        kind = QStringLiteral("SVG Image");
    else if (mime.endsWith(QLatin1String("/xml")))
        kind = QStringLiteral("XML Document");
    else if (mime.startsWith(QLatin1String("image/")))
        kind = mime.mid(6).toUpper() + QStringLiteral(" Image");
    return kind.isEmpty() ? mime : kind + QStringLiteral(" (") + mime + QLatin1Char(')');
}

QString TfrmPageProperties::SizeText(qint64 size)
{
    if (size < 0)
        return NotAvailable;
    return QLocale().toString(size) +
           (size == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

TPagePropertiesText TfrmPageProperties::Describe(const TPageInfo &info)
{
    TPagePropertiesText text;
    text.Title = info.Title.trimmed().isEmpty() ? NotAvailable : info.Title;
    text.Address = info.Address.isEmpty() ? NotAvailable : info.Address.toString();
    text.Protocol = info.Address.isEmpty() ? NotAvailable : ProtocolName(info.Address.scheme());
    text.Type = TypeName(info.ContentType);
    // Certificate errors are refused, so an https page that shows was received encrypted.
    const QString scheme = info.Address.scheme().toLower();
    if (info.Address.isEmpty())
        text.Connection = NotAvailable;
    else if (scheme == QLatin1String("https"))
        text.Connection = QStringLiteral("Encrypted");
    else
        text.Connection = QStringLiteral("Not encrypted");
    text.Size = SizeText(info.Size);
    text.Modified = info.LastModified.isValid()
                        ? QLocale().toString(info.LastModified, QLocale::LongFormat)
                        : NotAvailable;
    return text;
}

void TfrmPageProperties::Collect(QWebEnginePage *page,
                                 const std::function<void(const TPageInfo &)> &done)
{
    if (!page)
        return;
    TPageInfo info;
    info.Title = page->title();
    info.Address = page->url();
    // A page shows its address as its title when it has none of its own.
    if (info.Title == info.Address.toString() || info.Title == info.Address.toDisplayString())
        info.Title.clear();
    QPointer<QWebEnginePage> guard = page;
    page->runJavaScript(
        QString::fromUtf8(PageInfoScript), QWebEngineScript::ApplicationWorld,
        [guard, info, done](const QVariant &result) {
            if (!guard)
                return;
            TPageInfo complete = info;
            const QVariantMap map = result.toMap();
            complete.ContentType = map.value(QStringLiteral("contentType")).toString();
            bool ok = false;
            const qint64 size = map.value(QStringLiteral("size")).toLongLong(&ok);
            complete.Size = ok ? size : -1;
            const QString modified = map.value(QStringLiteral("modified")).toString();
            if (!modified.isEmpty())
                complete.LastModified =
                    QDateTime::fromString(modified, QStringLiteral("MM/dd/yyyy HH:mm:ss"));
            done(complete);
        });
}

void TfrmPageProperties::ShowFor(QWebEngineView *view, QWidget *parent)
{
    if (!view || !view->page())
        return;
    QPointer<QWidget> owner = parent;
    Collect(view->page(), [owner](const TPageInfo &info) {
        // Not from inside the engine's callback: the modal loop would hold the engine's task.
        QTimer::singleShot(0, owner.data(), [owner, info] {
            Guard::Run("PageProperties1Click", [&] {
                TfrmPageProperties dialog(info, owner.data());
                TDialogs::Current()->ExecDialog(&dialog);
            });
        });
    });
}
