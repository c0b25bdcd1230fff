// Favorites: the name a user types for one, and the file read back from the favorites folder,
// which anyone may have edited. Input: name NUL file contents.
#include "fuzzcheck.h"

#include "common/favoritesstore.h"
#include "common/textutils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void checkName(const QString &name, const QString &folder)
{
    if (FavoritesStore::IsSafeEntryName(name)) {
        // A safe name stays one entry directly inside its folder.
        const QString path = QDir::cleanPath(folder + QLatin1Char('/') + name);
        FUZZ_CHECK(QFileInfo(path).path() == folder);
        FUZZ_CHECK(!name.contains(QChar(0)));
    }
    if (FavoritesStore::IsFavoriteFileName(name)) {
        const QString shown = FavoritesStore::DisplayName(name);
        FUZZ_CHECK(shown.size() == name.size() - 4);
        FUZZ_CHECK(name.startsWith(shown));
        FUZZ_CHECK(name.endsWith(QLatin1String(".irl"), Qt::CaseInsensitive));
    } else {
        FUZZ_CHECK(FavoritesStore::DisplayName(name) == name);
    }
    FUZZ_CHECK(FavoritesStore::IsFavoriteFileName(name + QStringLiteral(".iRL")));
    FUZZ_CHECK(FavoritesStore::DisplayName(name + QStringLiteral(".irl")) == name);
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();
    return FavoritesStore::ReadFavoriteURL(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A file rewritten on every run: on a busy disk that alone would slow the fuzzer to a crawl.
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                                 ? QStringLiteral("/dev/shm/quelvard-fuzz-XXXXXX")
                                 : QString());
    FUZZ_CHECK(dir.isValid());
    const QString folder = QDir(dir.path()).canonicalPath();
    const QString path = folder + QStringLiteral("/f.irl");

    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QString name = QString::fromUtf8(nul >= 0 ? input.left(nul) : input);
    const QByteArray contents = nul >= 0 ? input.mid(nul + 1) : input;
    checkName(name, folder);

    // Any file: the address read is trimmed and no longer than the reader hands back.
    const QString url = writeFile(path, contents);
    FUZZ_CHECK(url.size() <= 2047);
    FUZZ_CHECK(url == TextUtils::Trim(url));

    // A favorite saved for an address reads that address back.
    const QString address = QString::fromUtf8(contents);
    if (address.contains(QLatin1Char('\r')) || address.contains(QLatin1Char('\n')))
        return 0;
    const QString stored = TextUtils::Trim(address);
    if (stored.size() >= 2 &&
        (stored.front() == QLatin1Char('"') || stored.front() == QLatin1Char('\'')) &&
        stored.back() == stored.front())
        return 0;
    const QByteArray saved = FavoritesStore::FavoriteFileContent(address, QStringLiteral("/"),
                                                                 QStringLiteral("/usr/lib/"));
    FUZZ_CHECK(writeFile(path, saved) == TextUtils::Trim(stored.left(2047)));
    return 0;
}
