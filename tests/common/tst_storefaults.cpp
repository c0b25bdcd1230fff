// The stores when things go wrong around them: two running copies writing at once, a copy
// killed in the middle of its writes, and a disk that is full. Children are this same program,
// started with QUELVARD_STORE_CHILD naming their part.
#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/errors.h"
#include "common/favoritesstore.h"
#include "common/registry.h"
#include "favorites/addfavorite.h"
#include "support/testenv.h"
#include "support/testmain.h"
#include "ui_addfavorite.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sqlite3.h>

namespace {

const QString StreamKey = QStringLiteral("Software\\Quelvard\\Stream");

// Values of many sizes, so a write spans from one page of the hive to several.
QString streamValue(int i)
{
    return QStringLiteral("value %1 ").arg(i) + QString((i * 577) % 9000, QLatin1Char('x'));
}

// Two favorites of very different lengths: half of either is neither.
QByteArray favoriteContent(int i)
{
    const QString url = i % 2 ? QStringLiteral("http://long.example/") + QString(4000000, 'l')
                              : QStringLiteral("http://short.example/");
    return FavoritesStore::FavoriteFileContent(url, QStringLiteral("/"),
                                               QStringLiteral("/usr/lib/"));
}

// The child's side of each test. Each prints one line per write that has returned.
int runChild(const QStringList &args)
{
    const QString part = args.value(0);
    const QString target = args.value(1);
    try {
        if (part == QLatin1String("add-sites")) {
            AppPaths::OverrideUserHiveFile(target);
            // Both copies start their writes together.
            std::printf("ready\n");
            std::fflush(stdout);
            char go[8];
            if (!std::fgets(go, sizeof go, stdin))
                return 2;
            const int count = args.value(3).toInt();
            for (int i = 0; i < count; ++i)
                PopupStore::AddSite(args.value(2) + QString::number(i) +
                                    QStringLiteral(".example"));
        } else if (part == QLatin1String("registry-stream")) {
            AppPaths::OverrideUserHiveFile(target);
            for (int i = 0;; ++i) {
                TRegistry registry;
                registry.OpenKey(StreamKey, true);
                registry.WriteString(QStringLiteral("v%1").arg(i), streamValue(i));
                std::printf("%d\n", i);
                std::fflush(stdout);
            }
        } else if (part == QLatin1String("torn-write")) {
            // A write far larger than the page cache, so its first pages reach the hive file
            // (after the journal that undoes them) well before the process is killed.
            sqlite3 *db = nullptr;
            if (sqlite3_open_v2(QFile::encodeName(target).constData(), &db, SQLITE_OPEN_READWRITE,
                                nullptr) != SQLITE_OK)
                return 2;
            sqlite3_exec(db, "PRAGMA cache_size=10; BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "UPDATE reg_values SET data = zeroblob(3000)", nullptr, nullptr,
                         nullptr);
            ::raise(SIGKILL);
        } else if (part == QLatin1String("favorite-stream")) {
            for (int i = 1;; ++i) {
                FavoritesStore::WriteFileAtomically(target, favoriteContent(i));
                std::printf("%d\n", i);
                std::fflush(stdout);
            }
        }
    } catch (const EQuelvardError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}

QProcess *startChild(QObject *owner, const QStringList &args)
{
    auto *process = new QProcess(owner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELVARD_STORE_CHILD"), args.join(QLatin1Char('\n')));
    process->setProcessEnvironment(environment);
    process->start(QCoreApplication::applicationFilePath(), {});
    return process;
}

// Lets the child run until it has reported `writes` completed writes and a moment more, so
// the kill lands anywhere in a write, then kills it; returns every write it reported.
QList<int> killAfter(QProcess *child, int writes)
{
    QByteArray out;
    while (out.count('\n') < writes && child->state() == QProcess::Running) {
        child->waitForReadyRead(5000);
        out += child->readAllStandardOutput();
    }
    QThread::usleep(QRandomGenerator::global()->bounded(3000));
    child->kill();
    child->waitForFinished(5000);
    out += child->readAllStandardOutput();
    QList<int> reported;
    for (const QByteArray &line : out.split('\n')) {
        bool ok = false;
        const int i = line.toInt(&ok);
        if (ok)
            reported << i;
    }
    return reported;
}

QString integrityCheck(const QString &file)
{
    sqlite3 *db = nullptr;
    QString verdict = QStringLiteral("cannot open");
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            verdict =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        else
            verdict = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return verdict;
}

// A small file system of its own, mounted for one test; tests that need one skip without the
// right to mount.
class TSmallDisk
{
public:
    explicit TSmallDisk(const QString &folder) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted =
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=512k"), QStringLiteral("tmpfs"), folder}) == 0;
    }
    ~TSmallDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
    }
    bool mounted() const { return m_mounted; }

    // Takes every free block; true when the disk then reports itself full.
    bool fill()
    {
        QFile filler(m_folder + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return filler.error() != QFileDevice::NoError;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace

class tst_StoreFaults : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void twoCopiesAddSitesAtOnce();
    void registryKilledMidStream_data();
    void registryKilledMidStream();
    void hiveKilledMidTransactionReadsAsBefore();
    void favoriteKilledMidWrite_data();
    void favoriteKilledMidWrite();
    void fullDiskFailsTheSaveAndKeepsWhatIsStored();
};

void tst_StoreFaults::twoCopiesAddSitesAtOnce()
{
    const int perCopy = 1000;
    QList<QProcess *> copies;
    for (const QString &prefix : {QStringLiteral("first"), QStringLiteral("second")})
        copies << startChild(this, {QStringLiteral("add-sites"), m_env->userHive(), prefix,
                                    QString::number(perCopy)});
    for (QProcess *copy : copies) {
        QVERIFY(copy->waitForReadyRead(10000));
        QCOMPARE(copy->readLine().trimmed(), QByteArray("ready"));
    }
    for (QProcess *copy : copies)
        copy->write("go\n");
    for (QProcess *copy : copies) {
        QVERIFY(copy->waitForFinished(120000));
        QVERIFY2(copy->exitCode() == 0, copy->readAllStandardError().constData());
    }
    const QStringList sites = PopupStore::ListSites();
    QCOMPARE(sites.size(), 2 * perCopy);
    for (int i = 0; i < perCopy; ++i) {
        QVERIFY(sites.contains(QStringLiteral("first%1.example").arg(i)));
        QVERIFY(sites.contains(QStringLiteral("second%1.example").arg(i)));
    }
}

void tst_StoreFaults::registryKilledMidStream_data()
{
    QTest::addColumn<int>("writes");
    QTest::newRow("at once") << 0;
    QTest::newRow("after a few writes") << 5;
    QTest::newRow("after many writes") << 120;
}

void tst_StoreFaults::registryKilledMidStream()
{
    QFETCH(int, writes);
    QProcess *child = startChild(this, {QStringLiteral("registry-stream"), m_env->userHive()});
    QVERIFY(child->waitForStarted());
    const QList<int> done = killAfter(child, writes);
    QVERIFY2(done.size() >= writes, child->readAllStandardError().constData());

    // Read first the way the program reads at start, before anything writes the hive again.
    try {
        TRegistry reader(TRegistry::KEY_READ);
        if (reader.OpenKey(StreamKey, false)) {
            for (const int i : done)
                QCOMPARE(reader.ReadString(QStringLiteral("v%1").arg(i)), streamValue(i));
        } else {
            QVERIFY(done.isEmpty());
        }
    } catch (const EQuelvardError &error) {
        QFAIL(qPrintable(QStringLiteral("reading after the kill failed: ") + error.message()));
    }
    if (QFileInfo::exists(m_env->userHive()))
        QCOMPARE(integrityCheck(m_env->userHive()), QStringLiteral("ok"));
    // And the next copy writes on.
    TRegistry writer;
    QVERIFY(writer.OpenKey(StreamKey, true));
    writer.WriteString(QStringLiteral("after"), QStringLiteral("kill"));
    QCOMPARE(writer.ReadString(QStringLiteral("after")), QStringLiteral("kill"));
}

void tst_StoreFaults::hiveKilledMidTransactionReadsAsBefore()
{
    for (int i = 0; i < 200; ++i)
        PopupStore::AddSite(QStringLiteral("site%1.example").arg(i));
    const QStringList before = PopupStore::ListSites();
    QProcess *child = startChild(this, {QStringLiteral("torn-write"), m_env->userHive()});
    QVERIFY(child->waitForFinished(10000));
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    QVERIFY(QFileInfo(m_env->userHive() + QStringLiteral("-journal")).size() > 0);

    // Each first access reads: the program starts by reading, and a reader must not fail on
    // (or leave behind) the half-done write.
    QCOMPARE(PopupStore::LoadNormalisedSites(), PopupStore::NormaliseSites(before));
    try {
        TRegistry reader(TRegistry::KEY_READ);
        QVERIFY(reader.OpenKey(PopupStore::KeyPath(), false));
        QCOMPARE(reader.ReadString(before.first()), QString());
    } catch (const EQuelvardError &error) {
        QFAIL(qPrintable(error.message()));
    }
    QCOMPARE(integrityCheck(m_env->userHive()), QStringLiteral("ok"));
}

void tst_StoreFaults::favoriteKilledMidWrite_data()
{
    QTest::addColumn<int>("writes");
    QTest::newRow("early rewrite") << 3;
    QTest::newRow("later rewrite") << 7;
}

void tst_StoreFaults::favoriteKilledMidWrite()
{
    QFETCH(int, writes);
    const QString folder = FavoritesStore::FavoritesFolder();
    QVERIFY(FavoritesStore::CreateFolderPath(folder));
    const QString path = folder + QStringLiteral("Kept.irl");
    FavoritesStore::WriteFileAtomically(path, favoriteContent(0));

    QProcess *child = startChild(this, {QStringLiteral("favorite-stream"), path});
    QVERIFY(child->waitForStarted());
    killAfter(child, writes);

    const QByteArray left = readBytes(path);
    QVERIFY2(left == favoriteContent(0) || left == favoriteContent(1),
             qPrintable(QStringLiteral("%1 bytes").arg(left.size())));
    // A temporary file the kill left behind is no favorite of the menu or the Organize tree.
    for (const auto walk : {FavoritesStore::TWalk::Menu, FavoritesStore::TWalk::Organize}) {
        const auto items = FavoritesStore::ReadFavoritesTree(folder, walk);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).Path, path);
    }
}

void tst_StoreFaults::fullDiskFailsTheSaveAndKeepsWhatIsStored()
{
    TSmallDisk disk(m_env->root() + QStringLiteral("/small"));
    if (!disk.mounted())
        QSKIP("mounting a small file system is not permitted here");
    const QString data = m_env->root() + QStringLiteral("/small/data");
    AppPaths::OverrideUserDataDir(data);
    AppPaths::OverrideUserHiveFile(data + QStringLiteral("/registry.db"));
    const QString folder = FavoritesStore::FavoritesFolder();
    QVERIFY(FavoritesStore::CreateFolderPath(folder));
    const QString kept = folder + QStringLiteral("Kept.irl");
    FavoritesStore::WriteFileAtomically(kept, favoriteContent(0));
    for (int i = 0; i < 20; ++i)
        PopupStore::AddSite(QStringLiteral("site%1.example").arg(i));
    const QStringList sites = PopupStore::ListSites();
    QVERIFY(disk.fill());

    ScriptedDialogs dialogs;
    const QString expected =
        QStringLiteral("Creating the favorite caused an error: ") + qt_error_string(ENOSPC);
    // A new favorite, and one that would replace the stored one.
    for (const QString &name : {QStringLiteral("New"), QStringLiteral("Kept")}) {
        dialogs.messages.clear();
        dialogs.messageAnswers = {QMessageBox::Yes};
        TfrmAddFavorite dialog;
        dialog.FavoriteURL = QStringLiteral("http://other.example/") + QString(8000, 'o');
        dialog.edtName->setText(name);
        dialog.cbOk->click();
        QVERIFY2(!dialogs.messages.isEmpty(), qPrintable(name));
        QCOMPARE(dialogs.lastMessage(), expected);
        QCOMPARE(dialog.result(), 0);
    }
    QCOMPARE(readBytes(kept), favoriteContent(0));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Kept.irl")});

    // A site that finds no room is refused, and the list stays whole.
    QVERIFY_THROWS_EXCEPTION(EQuelvardError,
                             PopupStore::AddSite(QStringLiteral("no.room") + QString(20000, 'r')));
    QCOMPARE(PopupStore::ListSites(), sites);
    QCOMPARE(integrityCheck(data + QStringLiteral("/registry.db")), QStringLiteral("ok"));
}

int main(int argc, char **argv)
{
    const QByteArray child = qgetenv("QUELVARD_STORE_CHILD");
    if (!child.isEmpty()) {
        QCoreApplication app(argc, argv);
        return runChild(QString::fromUtf8(child).split(QLatin1Char('\n')));
    }
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    tst_StoreFaults test;
    return TestSupport::RunSuite(&test, argc, argv);
}

#include "tst_storefaults.moc"
