#pragma once

#include <QString>
#include <QWebEngineDownloadRequest>
#include <functional>

// The window-free rules for a file a page hands over: what it may be called, where it goes and
// when it is refused. A downloaded file's name comes from the page (a header, the address), so
// nothing of it is trusted.
namespace DownloadRules {

// The longest name a download gets, in bytes of UTF-8: the 255 the common Linux file systems
// take, less the ".download" the engine adds while the file is being written.
constexpr int MaxNameBytes = 255 - 9;

extern const QString TurnedOffMessage;
extern const QString BlockedAddressMessage;
extern const QString FavoriteNameMessage;
extern const QString FavoritesFolderMessage;
extern const QString NoFolderMessage;
extern const QString NoRecordMessage;

// `suggested` made into one plain file name: separators and control characters become "_",
// leading dots and blanks and trailing dots and blanks go, and it is shortened (keeping a short
// extension) to MaxNameBytes. An empty result is "download".
QString SafeFileName(const QString &suggested);

// `name` itself when `taken` says it is free, else the first free of "name (1).ext",
// "name (2).ext", ..., each kept within MaxNameBytes.
QString FreeFileName(const QString &name, const std::function<bool(const QString &)> &taken);

// Why a download named `name` (already safe) may not be written into `folder`, or empty when it
// may: downloads turned off, a favorite's name, or a folder that is the favorites folder or lies
// below it.
QString WhyRefused(bool downloadsAllowed, const QString &folder, const QString &name);

// What the bar says while a download runs: "1.5 MB of 3.0 MB (50%)", or the bytes alone when
// the size is not known (`total` below 1).
QString ProgressText(qint64 received, qint64 total);

// What the bar says of a download that failed, as it happened: "Failed: the connection was
// closed". The engine's own words blame the user for what the network did, and are not used.
QString FailureText(QWebEngineDownloadRequest::DownloadInterruptReason reason);

// The user's Downloads folder (xdg-user-dirs' XDG_DOWNLOAD_DIR, else ~/Downloads).
QString DownloadFolder();

} // namespace DownloadRules
