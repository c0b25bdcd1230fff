#include "downloads/downloadrules.h"

#include "favorites/savetarget.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>

namespace DownloadRules {

const QString TurnedOffMessage = QStringLiteral("Downloads are turned off on this computer.");
const QString BlockedAddressMessage =
    QStringLiteral("The administrator of this computer has blocked this address.");
const QString FavoriteNameMessage =
    QStringLiteral("Not saved: a file whose name ends in \".irl\" would become a favorite.");
const QString FavoritesFolderMessage =
    QStringLiteral("Not saved: the Downloads folder is the Favorites folder or lies inside it.");
const QString NoFolderMessage = QStringLiteral("Not saved: the Downloads folder cannot be made.");
// A file of a session that forgets is saved only once the program can be sure to delete it.
const QString NoRecordMessage =
    QStringLiteral("Not saved: this computer could not note the file for deletion at the end of "
                   "the session.");

namespace {

// Longer endings are taken as part of the name, so shortening never eats the whole base.
constexpr int MaxExtensionLength = 16;

int Utf8Bytes(const QString &text)
{
    return int(text.toUtf8().size());
}

// Splits at the last dot that is not the first character: "a.tar.gz" -> "a.tar", ".gz".
void SplitExtension(const QString &name, QString *base, QString *extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && name.size() - dot <= MaxExtensionLength) {
        *base = name.left(dot);
        *extension = name.mid(dot);
    } else {
        *base = name;
        extension->clear();
    }
}

// `base` cut until base + tail fits in MaxNameBytes, never inside a surrogate pair.
QString Fit(QString base, const QString &tail)
{
    const int room = MaxNameBytes - Utf8Bytes(tail);
    while (!base.isEmpty() && Utf8Bytes(base) > room) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    return base + tail;
}

bool IsBlankOrDot(QChar c)
{
    return c == QLatin1Char('.') || c.isSpace();
}

} // namespace

QString SafeFileName(const QString &suggested)
{
    QString name;
    name.reserve(suggested.size());
    for (const QChar c : suggested) {
        // Format characters (right-to-left overrides above all) would make the name on the bar
        // read otherwise than the file is called.
        const QChar::Category category = c.category();
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || category == QChar::Other_Control ||
            category == QChar::Other_Format)
            name += QLatin1Char('_');
        else
            name += c;
    }
    while (!name.isEmpty() && IsBlankOrDot(name.front()))
        name.remove(0, 1);
    while (!name.isEmpty() && IsBlankOrDot(name.back()))
        name.chop(1);
    if (name.isEmpty())
        return QStringLiteral("download");
    QString base;
    QString extension;
    SplitExtension(name, &base, &extension);
    return Fit(base, extension);
}

QString FreeFileName(const QString &name, const std::function<bool(const QString &)> &taken)
{
    if (!taken(name))
        return name;
    QString base;
    QString extension;
    SplitExtension(name, &base, &extension);
    for (int n = 1;; ++n) {
        const QString candidate = Fit(base, QStringLiteral(" (%1)").arg(n) + extension);
        if (!taken(candidate))
            return candidate;
    }
}

QString WhyRefused(bool downloadsAllowed, const QString &folder, const QString &name)
{
    if (!downloadsAllowed)
        return TurnedOffMessage;
    if (name.endsWith(QLatin1String(".irl"), Qt::CaseInsensitive))
        return FavoriteNameMessage;
    if (folder.isEmpty())
        return NoFolderMessage;
    if (SaveTarget::IsInFavoritesFolder(folder))
        return FavoritesFolderMessage;
    // Whatever else the Save As rule sees in the whole path (a link named like the file that
    // leads among the favorites).
    const QString path = QDir(folder).filePath(name);
    if (!SaveTarget::WhyNotWrite(path).isEmpty())
        return SaveTarget::IsInFavoritesFolder(path) ? FavoritesFolderMessage : FavoriteNameMessage;
    return QString();
}

QString ProgressText(qint64 received, qint64 total)
{
    const QLocale locale;
    const QString got = locale.formattedDataSize(received, 1, QLocale::DataSizeTraditionalFormat);
    if (total < 1)
        return got;
    const int percent = int(qBound(qint64(0), received * 100 / total, qint64(100)));
    return QStringLiteral("%1 of %2 (%3%)")
        .arg(got, locale.formattedDataSize(total, 1, QLocale::DataSizeTraditionalFormat))
        .arg(percent);
}

// Reasons the engine gives that its enumeration leaves out: the server closed the connection
// before the whole file came, and the program ended.
constexpr int ContentLengthMismatch = 38;
constexpr int Shutdown = 41;

QString FailureText(QWebEngineDownloadRequest::DownloadInterruptReason reason)
{
    using R = QWebEngineDownloadRequest;
    // The engine hands on reasons its enumeration does not name, so this goes by number.
    const char *what = "something went wrong";
    switch (int(reason)) {
    case R::NoReason:
    case R::FileFailed:
    case R::FileTransientError:
        what = "the file could not be written";
        break;
    case R::FileAccessDenied:
        what = "the Downloads folder cannot be written";
        break;
    case R::FileNoSpace:
    case R::FileTooLarge:
        what = "the disk is full";
        break;
    case R::FileNameTooLong:
        what = "the file's name is too long for the disk";
        break;
    case R::FileVirusInfected:
    case R::FileBlocked:
    case R::FileSecurityCheckFailed:
        what = "the file was blocked";
        break;
    case R::FileTooShort:
    case R::FileHashMismatch:
    case R::ServerBadContent:
        what = "the server sent something other than the file";
        break;
    case R::NetworkFailed:
    case R::NetworkDisconnected:
    case R::NetworkServerDown:
    case ContentLengthMismatch:
        what = "the connection was closed";
        break;
    case R::NetworkTimeout:
        what = "the server stopped answering";
        break;
    case R::NetworkInvalidRequest:
    case R::ServerFailed:
    case R::ServerUnreachable:
        what = "the server could not send the file";
        break;
    case R::ServerUnauthorized:
    case R::ServerForbidden:
        what = "the server refused to send the file";
        break;
    case R::ServerCertProblem:
        what = "the server's certificate is not valid";
        break;
    case R::UserCanceled:
        what = "it was cancelled";
        break;
    case Shutdown:
        what = "the browser was closed";
        break;
    default:
        break;
    }
    return QStringLiteral("Failed: %1").arg(QLatin1String(what));
}

QString DownloadFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

} // namespace DownloadRules
