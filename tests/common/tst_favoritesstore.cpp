// The favorites on disk: the file format, reading a favorite back, the two walks and the file
// operations the dialogs rely on, each on a temporary favorites folder.
#include "common/favoritesstore.h"
#include "support/testenv.h"

#include "common/errors.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

using namespace FavoritesStore;

// Takes the place of the C library's umask for this whole test program, counting every call:
// the mask belongs to the process, and the web engine's threads create files while a favorite
// is written, so reading it by setting it is already a fault.
namespace {
std::atomic<int> g_umaskCalls{0};
}
extern "C" mode_t umask(mode_t mask) noexcept
{
    ++g_umaskCalls;
    return mode_t(::syscall(SYS_umask, mask));
}

class tst_FavoritesStore : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void folderValues();
    void fileContentIsTheSixLines();
    void writeReplacesWholeFile();
    void writeReplacesLinkNotItsTarget();
    void writeFailureLeavesNothing();
    void writeFollowsTheUmaskWithoutChangingIt_data();
    void writeFollowsTheUmaskWithoutChangingIt();
    void readURL_data();
    void readURL();
    void readURLOfSpecialEntries();

    void walk_data();
    void walk();
    void walkOfMissingFolder();
    void walkPathsMatchNames();
    void namesOutsideTheEncodingAreLeftAlone();

    void safeNames_data();
    void safeNames();
    void moveNeverReplaces();
    void moveFolderIntoItsOwnSubfolderFails();
    void deleteFavoriteFile();
    void deleteFolderTree();
    void deleteFolderTreeKeepsLinkTargets();

private:
    QString m_root;
};

void tst_FavoritesStore::init()
{
    EnvironmentSuite::init();
    m_root = FavoritesFolder();
    QVERIFY(m_root.startsWith(m_env->userDataDir()));
    QVERIFY(m_root.endsWith(QLatin1String("/Quelvard/")));
}

void tst_FavoritesStore::cleanup()
{
    OverrideSystemFolders(QString(), QString());
    EnvironmentSuite::cleanup();
}

void tst_FavoritesStore::folderValues()
{
    QCOMPARE(GetWindowsDir(), QStringLiteral("/"));
    QCOMPARE(GetSystemDir(), QStringLiteral("/usr/lib/"));
    OverrideSystemFolders(QStringLiteral(" \t/Some/DIR"), QStringLiteral("/Ünï/Lib/ "));
    QCOMPARE(GetWindowsDir(), QStringLiteral("/some/dir/"));
    // Only A to Z are lowered.
    QCOMPARE(GetSystemDir(), QStringLiteral("/Ünï/lib/"));
}

void tst_FavoritesStore::fileContentIsTheSixLines()
{
    QCOMPARE(FavoriteFileContent(QStringLiteral("http://example.com/a?b=1&c=%20"),
                                 QStringLiteral("/"), QStringLiteral("/usr/lib/")),
             QByteArray("[InternetShortcut]\r\n"
                        "URL=http://example.com/a?b=1&c=%20\r\n"
                        "WorkingDirectory=/\r\n"
                        "IconIndex=0\r\n"
                        "ShowCommand=7\r\n"
                        "IconFile=/usr/lib/url.dll\r\n"));
    // Text beyond ASCII is stored as its UTF-8 bytes.
    QVERIFY(FavoriteFileContent(QStringLiteral("http://ex.com/ü"), QString(), QString())
                .contains("URL=http://ex.com/\xc3\xbc\r\n"));
}

void tst_FavoritesStore::writeReplacesWholeFile()
{
    QDir().mkpath(m_root);
    const QString path = m_root + QStringLiteral("Old.irl");
    writeBytes(path, QByteArray("[InternetShortcut]\r\nURL=http://old/\r\nExtra=1\r\n") +
                         QByteArray(100000, 'x'));
    const QByteArray content = FavoriteFileContent(
        QStringLiteral("http://new/"), QStringLiteral("/"), QStringLiteral("/usr/lib/"));
    WriteFileAtomically(path, content);
    QCOMPARE(readBytes(path), content);
    QCOMPARE(ReadFavoriteURL(path), QStringLiteral("http://new/"));
    // Only the favorite is left: no temporary file stays behind.
    QCOMPARE(QDir(m_root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Old.irl")});
    // Readable like any file the user makes, not only by its owner.
    QVERIFY(QFileInfo(path).permissions() & QFileDevice::ReadOwner);
}

void tst_FavoritesStore::writeReplacesLinkNotItsTarget()
{
    const QString outside = m_env->root() + QStringLiteral("/outside.txt");
    writeBytes(outside, "keep me");
    QDir().mkpath(m_root);
    const QString path = m_root + QStringLiteral("Linked.irl");
    QVERIFY(QFile::link(outside, path));
    WriteFileAtomically(path, "new");
    QCOMPARE(readBytes(outside), QByteArray("keep me"));
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(readBytes(path), QByteArray("new"));
}

void tst_FavoritesStore::writeFailureLeavesNothing()
{
    QDir().mkpath(m_root + QStringLiteral("Links.irl"));
    // A folder of the name cannot be replaced by a file: the error carries the system's reason.
    try {
        WriteFileAtomically(m_root + QStringLiteral("Links.irl"), "x");
        QFAIL("writing over a folder succeeded");
    } catch (const EQuelvardError &error) {
        QVERIFY(!error.message().isEmpty());
    }
    QVERIFY_THROWS_EXCEPTION(EQuelvardError,
                             WriteFileAtomically(m_root + QStringLiteral("missing/x.irl"), "x"));
    QVERIFY_THROWS_EXCEPTION(
        EQuelvardError,
        WriteFileAtomically(m_root + QString(300, QLatin1Char('n')) + QStringLiteral(".irl"), "x"));
    QVERIFY_THROWS_EXCEPTION(
        EQuelvardError,
        WriteFileAtomically(m_root + QStringLiteral("a") + QChar(0) + QStringLiteral("b.irl"),
                            "x"));
    QCOMPARE(QDir(m_root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Links.irl")});
}

void tst_FavoritesStore::writeFollowsTheUmaskWithoutChangingIt_data()
{
    QTest::addColumn<uint>("mask");
    QTest::newRow("022") << 022u;
    QTest::newRow("027") << 027u;
    QTest::newRow("077") << 077u;
}

void tst_FavoritesStore::writeFollowsTheUmaskWithoutChangingIt()
{
    QFETCH(uint, mask);
    QDir().mkpath(m_root);
    const QString path = m_root + QStringLiteral("Masked.irl");
    const mode_t before = ::umask(mode_t(mask));
    g_umaskCalls = 0;
    WriteFileAtomically(path, "x");
    const int calls = g_umaskCalls;
    const mode_t after = ::umask(before);
    QCOMPARE(calls, 0);
    QCOMPARE(uint(after), mask);
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(uint(info.st_mode & 07777), 0666u & ~mask);
}

void tst_FavoritesStore::readURL_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("url");

    QTest::newRow("six lines as written")
        << FavoriteFileContent(QStringLiteral("http://a/b"), QStringLiteral("/"),
                               QStringLiteral("/usr/lib/"))
        << "http://a/b";
    QTest::newRow("hand-made two lines")
        << QByteArray("[InternetShortcut]\r\nURL=http://two/\r\n") << "http://two/";
    QTest::newRow("LF endings, no final newline")
        << QByteArray("[InternetShortcut]\nURL=http://lf/") << "http://lf/";
    QTest::newRow("UTF-8 byte-order mark")
        << QByteArray("\xEF\xBB\xBF[InternetShortcut]\r\nURL=http://bom/\r\n") << "http://bom/";
    QTest::newRow("names in other letter case")
        << QByteArray("[internetSHORTCUT]\r\nurl=http://case/\r\n") << "http://case/";
    QTest::newRow("URL= with only blanks")
        << QByteArray("[InternetShortcut]\r\nURL=  \t \r\n") << "";
    QTest::newRow("blanks and control characters around the value")
        << QByteArray("[InternetShortcut]\r\nURL=\t http://t/ \x01\r\n") << "http://t/";
    QTest::newRow("no URL key") << QByteArray("[InternetShortcut]\r\nIconIndex=0\r\n") << "";
    QTest::newRow("URL in another section") << QByteArray("[Other]\r\nURL=http://other/\r\n") << "";
    QTest::newRow("first section wins")
        << QByteArray("[InternetShortcut]\r\nURL=http://first/\r\n[InternetShortcut]\r\n"
                      "URL=http://second/\r\n")
        << "http://first/";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("binary bytes") << QByteArray("\x00\xff\xfe[\x00]\r\n=\x80URL", 14) << "";
    QTest::newRow("value cut at 2047 characters, then trimmed")
        << QByteArray("[InternetShortcut]\r\nURL=http://x/" + QByteArray(2036, 'a') + "  tail\r\n")
        << QString(QStringLiteral("http://x/") + QString(2036, QLatin1Char('a')));
}

void tst_FavoritesStore::readURL()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, url);
    const QString path = m_root + QStringLiteral("Some.irl");
    writeBytes(path, content);
    QCOMPARE(ReadFavoriteURL(path), url);
    // Reading never changes the file.
    QCOMPARE(readBytes(path), content);
}

void tst_FavoritesStore::readURLOfSpecialEntries()
{
    QCOMPARE(ReadFavoriteURL(m_root + QStringLiteral("Missing.irl")), QString());
    QCOMPARE(ReadFavoriteURL(QString()), QString());
    const QString outside = m_env->root() + QStringLiteral("/outside.irl");
    writeBytes(outside, "[InternetShortcut]\r\nURL=http://outside/\r\n");
    makeLayout(m_root, {QStringLiteral("Pipe.irl|"), QStringLiteral("Link.irl -> ") + outside,
                        QStringLiteral("Dir.irl/")});
    // A pipe would block a plain read; a link could lead anywhere; a folder is no file.
    QCOMPARE(ReadFavoriteURL(m_root + QStringLiteral("Pipe.irl")), QString());
    QCOMPARE(ReadFavoriteURL(m_root + QStringLiteral("Link.irl")), QString());
    QCOMPARE(ReadFavoriteURL(m_root + QStringLiteral("Dir.irl")), QString());
}

void tst_FavoritesStore::walk_data()
{
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QStringList>("menu");
    QTest::addColumn<QStringList>("organize");

    const QStringList example = {"News/Daily.irl", "Home.irl"};
    QTest::newRow("folders first, each with its contents")
        << example << QStringList{"News/", "  Daily", "Home"}
        << QStringList{"News/", "  Daily", "Home"};
    QTest::newRow("depth first, sorted ignoring case")
        << QStringList{"b.irl", "A.irl", "c/z.irl", "B/y/x.irl", "B/w.irl", "a/"}
        << QStringList{"a/", "B/", "  y/", "    x", "  w", "c/", "  z", "A", "b"}
        << QStringList{"a/", "B/", "  y/", "    x", "  w", "c/", "  z", "A", "b"};
    QTest::newRow("extension in any case, only the last one dropped")
        << QStringList{"Old.IRL", "Report.irl.irl", "Mixed.IrL", "notes.txt", "irl", ".irl"}
        << QStringList{"", "Mixed", "Old", "Report.irl"}
        << QStringList{"", "Mixed", "Old", "Report.irl"};
    QTest::newRow("a folder named like a favorite is a folder")
        << QStringList{"Links.irl/Inner.irl"} << QStringList{"Links.irl/", "  Inner"}
        << QStringList{"Links.irl/", "  Inner"};
    QTest::newRow("hidden folder in the menu only, hidden favorite in both")
        << QStringList{".secret/x.irl", ".hidden.irl", "Shown.irl"}
        << QStringList{".secret/", "  x", ".hidden", "Shown"} << QStringList{".hidden", "Shown"};
    QTest::newRow("empty folders")
        << QStringList{"Empty/", "Full/Deeper/"} << QStringList{"Empty/", "Full/", "  Deeper/"}
        << QStringList{"Empty/", "Full/", "  Deeper/"};
    QTest::newRow("a pipe named like a favorite is listed")
        << QStringList{"Pipe.irl|"} << QStringList{"Pipe"} << QStringList{"Pipe"};
    QTest::newRow("links are not followed, a loop ends")
        << QStringList{"A/loop -> ..", "A/self -> .", "A/up.irl -> ../B/t.irl", "B/t.irl",
                       "Out -> /usr"}
        << QStringList{"A/", "B/", "  t"} << QStringList{"A/", "B/", "  t"};
    QTest::newRow("names with & and blanks as on disk")
        << QStringList{"R&D/Q&A.irl", " spaced .irl"} << QStringList{"R&D/", "  Q&A", " spaced "}
        << QStringList{"R&D/", "  Q&A", " spaced "};
}

void tst_FavoritesStore::walk()
{
    QFETCH(QStringList, layout);
    QFETCH(QStringList, menu);
    QFETCH(QStringList, organize);
    makeLayout(m_root, layout);
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)), menu);
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Organize)), organize);
    // The walks read only: the same again.
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)), menu);
}

void tst_FavoritesStore::walkOfMissingFolder()
{
    QVERIFY(!QFileInfo::exists(m_root));
    QVERIFY(ReadFavoritesTree(m_root, TWalk::Menu).isEmpty());
    QVERIFY(ReadFavoritesTree(QString(), TWalk::Organize).isEmpty());
    // A file where the folder should be.
    writeBytes(m_root.chopped(1), "x");
    QVERIFY(ReadFavoritesTree(m_root, TWalk::Menu).isEmpty());
}

void tst_FavoritesStore::namesOutsideTheEncodingAreLeftAlone()
{
    makeLayout(m_root, {"Kept.irl", "Folder/"});
    // Bytes that are no UTF-8: decoded they would name some other file.
    const QByteArray root = QFile::encodeName(m_root);
    for (const QByteArray &name : {QByteArray("Bad\xff.irl"), QByteArray("Folder/\xfe\xfd.irl")}) {
        const int fd = ::open((root + name).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)), (QStringList{"Folder/", "Kept"}));
    // Deleting the folder cannot name that file, so the folder stays and the caller says so.
    DeleteFolderTree(m_root + "Folder");
    QVERIFY(QFileInfo(m_root + "Folder").isDir());
}

void tst_FavoritesStore::walkPathsMatchNames()
{
    makeLayout(m_root, {"Work/News/Daily.IRL", "Home.irl"});
    const QVector<TFavoriteItem> items = ReadFavoritesTree(m_root, TWalk::Menu);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0].Path, m_root + QStringLiteral("Work"));
    QCOMPARE(items[0].Children[0].Path, m_root + QStringLiteral("Work/News"));
    QCOMPARE(items[0].Children[0].Children[0].Path, m_root + QStringLiteral("Work/News/Daily.IRL"));
    QCOMPARE(ReadFavoriteURL(items[0].Children[0].Children[0].Path),
             QStringLiteral("http://x/Work/News/Daily.IRL"));
    QCOMPARE(items[1].Path, m_root + QStringLiteral("Home.irl"));
}

void tst_FavoritesStore::safeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << "News" << true;
    QTest::newRow("ampersand") << "R&D" << true;
    QTest::newRow("backslash is an ordinary character here") << "a\\b" << true;
    QTest::newRow("three dots") << "..." << true;
    QTest::newRow("hidden") << ".hidden" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("climbing") << "../../etc" << false;
    QTest::newRow("NUL") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << false;
}

void tst_FavoritesStore::safeNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(IsSafeEntryName(name), safe);
}

void tst_FavoritesStore::moveNeverReplaces()
{
    makeLayout(m_root, {"A.irl", "B.irl", "Empty/", "Other/", "Sub/x.irl"});
    QVERIFY(!MoveNoReplace(m_root + "A.irl", m_root + "B.irl"));
    QCOMPARE(ReadFavoriteURL(m_root + "B.irl"), QStringLiteral("http://x/B.irl"));
    // A plain rename would put a folder over an empty one.
    QVERIFY(!MoveNoReplace(m_root + "Other", m_root + "Empty"));
    QVERIFY(QFileInfo::exists(m_root + "Other"));
    QVERIFY(MoveNoReplace(m_root + "A.irl", m_root + "Sub/A.irl"));
    QCOMPARE(ReadFavoriteURL(m_root + "Sub/A.irl"), QStringLiteral("http://x/A.irl"));
    QVERIFY(!QFileInfo::exists(m_root + "A.irl"));
    QVERIFY(MoveNoReplace(m_root + "Sub", m_root + "Other/Sub"));
    QVERIFY(QFileInfo::exists(m_root + "Other/Sub/x.irl"));
    QVERIFY(!MoveNoReplace(m_root + "Nothing", m_root + "Else"));
}

void tst_FavoritesStore::moveFolderIntoItsOwnSubfolderFails()
{
    makeLayout(m_root, {"Top/Child/c.irl", "Top/t.irl"});
    QVERIFY(!MoveNoReplace(m_root + "Top", m_root + "Top/Child/Top"));
    QVERIFY(!MoveNoReplace(m_root + "Top", m_root + "Top/Top"));
    QCOMPARE(outline(ReadFavoritesTree(m_root, TWalk::Menu)),
             (QStringList{"Top/", "  Child/", "    c", "  t"}));
}

void tst_FavoritesStore::deleteFavoriteFile()
{
    makeLayout(m_root, {"Gone.irl", "Pipe.irl|", "Dir.irl/"});
    QVERIFY(DeleteFavoriteFile(m_root + "Gone.irl"));
    QVERIFY(!QFileInfo::exists(m_root + "Gone.irl"));
    // Already gone counts as deleted.
    QVERIFY(DeleteFavoriteFile(m_root + "Gone.irl"));
    QVERIFY(DeleteFavoriteFile(m_root + "Pipe.irl"));
    QVERIFY(!EntryExists(m_root + "Pipe.irl"));
    // A folder is never taken for a favorite file.
    QVERIFY(!DeleteFavoriteFile(m_root + "Dir.irl"));
    QVERIFY(QFileInfo(m_root + "Dir.irl").isDir());
}

void tst_FavoritesStore::deleteFolderTree()
{
    makeLayout(m_root, {"Doomed/a.irl", "Doomed/notes.txt", "Doomed/.h.irl", "Doomed/Sub/b.irl",
                        "Doomed/Sub/Empty/", "Keep/k.irl"});
    DeleteFolderTree(m_root + "Doomed");
    QVERIFY(!EntryExists(m_root + "Doomed"));
    QVERIFY(QFileInfo::exists(m_root + "Keep/k.irl"));

    // A hidden subfolder is left, so the folder stays: the caller reports it.
    makeLayout(m_root, {"Stays/a.irl", "Stays/.hidden/h.irl", "Stays/Visible/v.irl"});
    DeleteFolderTree(m_root + "Stays/");
    QVERIFY(QFileInfo(m_root + "Stays").isDir());
    QCOMPARE(
        QDir(m_root + "Stays").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{".hidden"});
    QVERIFY(QFileInfo::exists(m_root + "Stays/.hidden/h.irl"));
}

void tst_FavoritesStore::deleteFolderTreeKeepsLinkTargets()
{
    const QString outside = m_env->root() + QStringLiteral("/outside");
    makeLayout(outside, {"precious.irl", "Deep/also.irl"});
    makeLayout(m_root, {"Doomed/out -> " + outside, "Doomed/loop -> ..", "Doomed/x.irl",
                        "Top -> " + outside});
    DeleteFolderTree(m_root + "Doomed");
    QVERIFY(!EntryExists(m_root + "Doomed"));
    // Given a link itself, only the link goes.
    DeleteFolderTree(m_root + "Top");
    QVERIFY(!EntryExists(m_root + "Top"));
    QVERIFY(QFileInfo::exists(outside + "/precious.irl"));
    QVERIFY(QFileInfo::exists(outside + "/Deep/also.irl"));
    QVERIFY(QFileInfo(m_root).isDir());
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_FavoritesStore)
#include "tst_favoritesstore.moc"
