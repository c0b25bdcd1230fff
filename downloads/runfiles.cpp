#include "downloads/runfiles.h"

#include "common/apppaths.h"
#include "common/guard.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

const QLatin1String RecordSuffix(".list");

// Any byte may be in a path; one a line, percent-encoded, keeps a newline from splitting one.
QByteArray encodePaths(const QStringList &paths)
{
    QByteArray text;
    for (const QString &path : paths)
        text += QFile::encodeName(path).toPercentEncoding("/") + '\n';
    return text;
}

QStringList decodePaths(const QByteArray &text)
{
    QStringList paths;
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray name = QByteArray::fromPercentEncoding(line);
        if (name.startsWith('/')) // only absolute paths were ever written
            paths << QFile::decodeName(name);
    }
    return paths;
}

QByteArray readAll(int fd)
{
    QByteArray text;
    char buffer[4096];
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, got);
        at += got;
    }
}

bool writeAll(int fd, const QByteArray &text)
{
    if (::ftruncate(fd, 0) != 0)
        return false;
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t put = ::pwrite(fd, text.constData() + done, size_t(text.size() - done), done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    // Written through to the disk: the record is what a power cut must not lose.
    return ::fdatasync(fd) == 0;
}

// Gone afterwards: a file, a link itself and never what it leads to, or a folder with
// everything in it when it lies in the records folder (a run's own; a record naming any other
// folder is no record of ours).
bool deletePath(const QString &path, const QString &recordsFolder)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0)
        return errno == ENOENT;
    if (S_ISDIR(info.st_mode)) {
        const QString inside = QDir::cleanPath(recordsFolder) + QLatin1Char('/');
        if (!QDir::cleanPath(path).startsWith(inside))
            return false;
        std::error_code error;
        std::filesystem::remove_all(std::filesystem::path(name.toStdString()), error);
    } else {
        ::unlink(name.constData());
    }
    return ::lstat(name.constData(), &info) != 0 && errno == ENOENT;
}

QStringList deleteEach(const QStringList &paths, const QString &recordsFolder)
{
    QStringList left;
    for (const QString &path : paths) {
        if (!deletePath(path, recordsFolder))
            left << path;
    }
    return left;
}

} // namespace

TRunFiles::TRunFiles(const QString &folder) : m_folder(folder)
{
}

TRunFiles::~TRunFiles()
{
    if (m_fd < 0)
        return;
    // Nothing left to delete: the record goes. Otherwise it stays, unheld, for the next start.
    if (m_paths.isEmpty())
        QFile::remove(m_record);
    ::close(m_fd);
}

bool TRunFiles::open()
{
    if (m_fd >= 0)
        return true;
    if (!AppPaths::MakeUserFolder(m_folder))
        return false;
    static std::atomic<int> counter{0};
    for (int tries = 0; tries < 10; ++tries) {
        const QString stem = QStringLiteral("%1-%2").arg(::getpid()).arg(++counter);
        const QString fresh = m_folder + QStringLiteral("/.") + stem + QStringLiteral(".new");
        const int fd = ::open(QFile::encodeName(fresh).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // Held before it is named as a record, so no start ever takes it for a dead run's.
        const QString record = m_folder + QLatin1Char('/') + stem + RecordSuffix;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(record).constData()) ==
                0) {
            m_fd = fd;
            m_record = record;
            return true;
        }
        ::close(fd);
        QFile::remove(fresh);
    }
    return false;
}

bool TRunFiles::write()
{
    return writeAll(m_fd, encodePaths(m_paths));
}

bool TRunFiles::Add(const QString &path)
{
    if (m_paths.contains(path))
        return true;
    m_paths << path;
    if (open() && write())
        return true;
    qCWarning(lcQuelvard, "TRunFiles::Add failed: %s cannot be written down in %s",
              qPrintable(path), qPrintable(m_folder));
    return false;
}

QStringList TRunFiles::DeleteAll()
{
    if (m_paths.isEmpty())
        return {};
    m_paths = deleteEach(m_paths, m_folder);
    if (m_fd >= 0)
        write();
    return m_paths;
}

int TRunFiles::DeleteLeftByEndedRuns(const QString &folder)
{
    int deleted = 0;
    const QDir dir(folder);
    const QStringList names = dir.entryList(
        {QStringLiteral("*") + RecordSuffix, QStringLiteral(".*.new")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QString record = dir.filePath(name);
        const int fd = ::open(QFile::encodeName(record).constData(),
                              O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info = {};
        // Only a plain file of the user's own is a record; whatever else is there is left.
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid() ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        const QStringList paths = decodePaths(readAll(fd));
        const QStringList left = deleteEach(paths, folder);
        deleted += int(paths.size() - left.size());
        if (left.isEmpty())
            QFile::remove(record);
        else
            writeAll(fd, encodePaths(left));
        ::close(fd);
    }
    return deleted;
}
