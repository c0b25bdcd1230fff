#include "common/registry.h"

#include "common/apppaths.h"
#include "common/errors.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Long enough for another running copy to finish its write, short enough not to hang the UI.
constexpr int BusyTimeoutMs = 5000;

const char *const SchemaSql =
    "CREATE TABLE IF NOT EXISTS reg_keys (path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_values ("
    "  key  TEXT NOT NULL COLLATE NOCASE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB,"
    "  PRIMARY KEY (key, name));";

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail();
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            fail();
    }
    void bind(int index, int value) { sqlite3_bind_int(m_stmt, index, value); }

    // True while a row is available.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail();
        return false;
    }
    int columnInt(int column) { return sqlite3_column_int(m_stmt, column); }
    bool columnIsNull(int column) { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    QString columnText(int column)
    {
        const void *data = sqlite3_column_blob(m_stmt, column);
        const int size = sqlite3_column_bytes(m_stmt, column);
        return QString::fromUtf8(static_cast<const char *>(data), size);
    }
    int columnBytes(int column) { return sqlite3_column_bytes(m_stmt, column); }

private:
    [[noreturn]] void fail() { throw EQuelvardError(QString::fromUtf8(sqlite3_errmsg(m_db))); }
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

void exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const QString message = error ? QString::fromUtf8(error) : QStringLiteral("registry error");
        sqlite3_free(error);
        throw EQuelvardError(message);
    }
}

// One write = one transaction; a throw rolls it back so a refused write changes nothing.
// Inside a batch the batch's own transaction holds every write instead.
class WriteTransaction
{
public:
    WriteTransaction(sqlite3 *db, bool inBatch) : m_db(db), m_done(inBatch)
    {
        if (!inBatch)
            exec(db, "BEGIN IMMEDIATE");
    }
    ~WriteTransaction()
    {
        if (!m_done)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        if (m_done)
            return;
        exec(m_db, "COMMIT");
        m_done = true;
    }

private:
    sqlite3 *m_db;
    bool m_done = false;
};

QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("Cannot %1 %2: %3.")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

// Creates the file with exactly `mode` unless something is already there; never follows a
// link planted in its place.
void createFile(const QString &file, mode_t mode)
{
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        if (errno == EEXIST)
            return;
        throw EQuelvardError(systemError(QStringLiteral("create"), file));
    }
    const bool ok = ::fchmod(fd, mode) == 0;
    ::close(fd);
    if (!ok)
        throw EQuelvardError(systemError(QStringLiteral("set the mode of"), file));
}

void syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const QString message = systemError(QStringLiteral("write"), path);
        if (fd >= 0)
            ::close(fd);
        throw EQuelvardError(message);
    }
    ::close(fd);
}

sqlite3 *openDatabase(const QString &file, int flags)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db))
                                   : QStringLiteral("Cannot open %1.").arg(file);
        sqlite3_close_v2(db);
        throw EQuelvardError(message);
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    return db;
}

QStringList parentPaths(const QString &path)
{
    QStringList result;
    const QStringList parts = path.split(QLatin1Char('\\'));
    QString current;
    for (const QString &part : parts) {
        current = current.isEmpty() ? part : current + QLatin1Char('\\') + part;
        result << current;
    }
    return result;
}

} // namespace

TRegistry::TRegistry(Access access) : m_access(access)
{
}

TRegistry::~TRegistry()
{
    closeDatabase();
}

void TRegistry::SetRootKey(RootKey root)
{
    if (root == m_root)
        return;
    CloseKey();
    closeDatabase();
    m_root = root;
}

void TRegistry::SetHiveFile(const QString &file)
{
    CloseKey();
    closeDatabase();
    m_hiveFile = file;
}

QString TRegistry::HiveFile() const
{
    if (!m_hiveFile.isEmpty())
        return m_hiveFile;
    return m_root == HKEY_LOCAL_MACHINE ? AppPaths::MachineHiveFile() : AppPaths::UserHiveFile();
}

bool TRegistry::CanWrite(const QString &hiveFile)
{
    const auto allows = [](const QString &path, int mode) {
        return ::access(QFile::encodeName(path).constData(), mode) == 0;
    };
    const QFileInfo file(hiveFile);
    // The rollback journal is made beside the hive, so its folder must take new files too.
    if (file.exists())
        return file.isFile() && allows(file.absoluteFilePath(), W_OK) &&
               allows(file.absolutePath(), W_OK | X_OK);
    QFileInfo ancestor(file.absolutePath());
    while (!ancestor.exists()) {
        const QString parent = ancestor.absolutePath();
        if (parent == ancestor.absoluteFilePath())
            return false;
        ancestor = QFileInfo(parent);
    }
    return ancestor.isDir() && allows(ancestor.absoluteFilePath(), W_OK | X_OK);
}

QString TRegistry::NormalisePath(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('\\'));
}

void TRegistry::closeDatabase()
{
    // Closing with the batch's transaction open rolls it back.
    m_batch = false;
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_dbWritable = false;
    // A replacement that was not put in place is thrown away with its journal.
    if (!m_replacement.isEmpty()) {
        QFile::remove(m_replacement + QStringLiteral("-journal"));
        QFile::remove(m_replacement);
        m_replacement.clear();
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

// The lock file is root's alone (0600), so no reader can hold it against the administrator;
// it only keeps two writers from replacing each other's change.
void TRegistry::openReplacement(const QString &file)
{
    const QString lockFile = file + QStringLiteral(".lock");
    m_lockFd = ::open(QFile::encodeName(lockFile).constData(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        throw EQuelvardError(systemError(QStringLiteral("open"), lockFile));
    while (::flock(m_lockFd, LOCK_EX) != 0) {
        if (errno != EINTR)
            throw EQuelvardError(systemError(QStringLiteral("lock"), lockFile));
    }
    const QString replacement = file + QStringLiteral(".new");
    // Left over from a write that was cut short; nobody else writes in this folder.
    QFile::remove(replacement + QStringLiteral("-journal"));
    QFile::remove(replacement);
    createFile(replacement, 0644);
    m_replacement = replacement;
    m_db = openDatabase(replacement, SQLITE_OPEN_READWRITE);
    m_dbWritable = true;
    if (QFileInfo(file).isFile()) {
        sqlite3 *source = openDatabase(file, SQLITE_OPEN_READONLY);
        sqlite3_backup *backup = sqlite3_backup_init(m_db, "main", source, "main");
        int rc = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(m_db);
        if (backup)
            rc = rc == SQLITE_DONE ? sqlite3_backup_finish(backup)
                                   : (sqlite3_backup_finish(backup), rc);
        if (rc != SQLITE_OK) {
            const QString message = QString::fromUtf8(sqlite3_errstr(rc));
            sqlite3_close_v2(source);
            throw EQuelvardError(message);
        }
        sqlite3_close_v2(source);
    }
}

void TRegistry::finishWrite()
{
    if (m_replacement.isEmpty())
        return;
    const QString file = HiveFile();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_dbWritable = false;
    syncPath(m_replacement);
    if (::rename(QFile::encodeName(m_replacement).constData(),
                 QFile::encodeName(file).constData()) != 0)
        throw EQuelvardError(systemError(QStringLiteral("replace"), file));
    m_replacement.clear();
    // The change is made; a folder that cannot be synced does not make it a failure.
    try {
        syncPath(QFileInfo(file).absolutePath());
    } catch (const EQuelvardError &) {
    }
    closeDatabase();
}

void TRegistry::endWrite()
{
    if (!m_batch)
        finishWrite();
}

void TRegistry::BeginBatch()
{
    if (m_batch)
        throw EQuelvardError(QStringLiteral("A batch of registry writes is already open."));
    ensureOpen(true);
    exec(m_db, "BEGIN IMMEDIATE");
    m_batch = true;
}

void TRegistry::CommitBatch()
{
    if (!m_batch)
        throw EQuelvardError(QStringLiteral("No batch of registry writes is open."));
    exec(m_db, "COMMIT");
    m_batch = false;
    finishWrite();
}

void TRegistry::ensureOpen(bool forWriting)
{
    if (forWriting && m_access != KEY_ALL_ACCESS)
        throw EQuelvardError(QStringLiteral("The registry was opened for reading only."));
    if (m_db && (m_dbWritable || !forWriting))
        return;
    closeDatabase();

    const QString file = HiveFile();
    if (forWriting) {
        const QFileInfo info(file);
        const bool madeFolder = replacesFile() ? AppPaths::MakeMachineFolder(info.absolutePath())
                                               : AppPaths::MakeUserFolder(info.absolutePath());
        if (!madeFolder)
            throw EQuelvardError(
                QStringLiteral("Cannot create the folder %1.").arg(info.absolutePath()));
        // A file that fails the check below is closed again, and the failure goes on to the
        // caller.
        struct TCloseUnlessReady
        {
            TRegistry *Registry;
            bool Ready = false;
            ~TCloseUnlessReady()
            {
                if (!Ready)
                    Registry->closeDatabase();
            }
        } closeUnlessReady{this};
        if (replacesFile()) {
            openReplacement(file);
        } else {
            createFile(file, 0600);
            m_db = openDatabase(file, SQLITE_OPEN_READWRITE);
            m_dbWritable = true;
        }
        // Only creates what is missing: a foreign or damaged file fails here untouched.
        // The check's read must end before the write starts: a connection that keeps its
        // read lock while asking for the write lock deadlocks against another copy doing
        // the same, and SQLite then fails at once instead of waiting.
        bool hasSchema = false;
        {
            Statement check(m_db, "SELECT count(*) FROM sqlite_master "
                                  "WHERE name IN ('reg_keys','reg_values')");
            check.step();
            hasSchema = check.columnInt(0) >= 2;
        }
        if (!hasSchema) {
            WriteTransaction transaction(m_db, false);
            exec(m_db, SchemaSql);
            transaction.commit();
        }
        closeUnlessReady.Ready = true;
    } else {
        if (!QFileInfo(file).isFile())
            return; // A hive that does not exist is simply empty.
        // Opened for writing where the file allows it, though only read: a copy killed in the
        // middle of a write leaves a journal that the next reader must roll back, and a
        // read-only connection cannot, so it would fail every read until some copy writes.
        // A file this process may not write is still opened read-only, by SQLite itself.
        m_db = openDatabase(file, SQLITE_OPEN_READWRITE);
        // Another copy may have just created the file and not yet its tables: until then the
        // hive is empty, not broken. A file that is no database still fails here.
        bool hasSchema = false;
        {
            Statement check(m_db, "SELECT count(*) FROM sqlite_master "
                                  "WHERE name IN ('reg_keys','reg_values')");
            check.step();
            hasSchema = check.columnInt(0) >= 2;
        }
        if (!hasSchema)
            closeDatabase();
    }
}

bool TRegistry::keyExistsInDb(const QString &normalisedPath)
{
    if (normalisedPath.isEmpty())
        return true; // the root always exists
    ensureOpen(false);
    if (!m_db)
        return false;
    Statement stmt(m_db, "SELECT 1 FROM reg_keys WHERE path = ?");
    stmt.bind(1, normalisedPath);
    return stmt.step();
}

bool TRegistry::KeyExists(const QString &path)
{
    return keyExistsInDb(NormalisePath(path));
}

bool TRegistry::OpenKey(const QString &path, bool canCreate)
{
    CloseKey();
    const QString key = NormalisePath(path);
    if (keyExistsInDb(key)) {
        m_currentKey = key;
        m_keyOpen = true;
        return true;
    }
    if (!canCreate || m_access != KEY_ALL_ACCESS)
        return false;
    ensureOpen(true);
    WriteTransaction transaction(m_db, m_batch);
    for (const QString &parent : parentPaths(key)) {
        Statement insert(m_db, "INSERT OR IGNORE INTO reg_keys (path) VALUES (?)");
        insert.bind(1, parent);
        insert.step();
    }
    transaction.commit();
    endWrite();
    m_currentKey = key;
    m_keyOpen = true;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const QString &path)
{
    return OpenKey(path, false);
}

void TRegistry::CloseKey()
{
    m_currentKey.clear();
    m_keyOpen = false;
}

void TRegistry::requireKey() const
{
    if (!m_keyOpen)
        throw EQuelvardError(QStringLiteral("No registry key is open."));
}

QString TRegistry::ReadString(const QString &name)
{
    requireKey();
    ensureOpen(false);
    if (!m_db)
        return QString();
    Statement stmt(m_db, "SELECT type, data FROM reg_values WHERE key = ? AND name = ?");
    stmt.bind(1, m_currentKey);
    stmt.bind(2, name);
    if (!stmt.step() || stmt.columnIsNull(1) || stmt.columnBytes(1) == 0)
        return QString();
    const int type = stmt.columnInt(0);
    if (type != REG_SZ && type != 2 /* REG_EXPAND_SZ */)
        throw EQuelvardError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return stmt.columnText(1);
}

void TRegistry::WriteString(const QString &name, const QString &value)
{
    requireKey();
    ensureOpen(true);
    WriteTransaction transaction(m_db, m_batch);
    // The key may have been deleted by another copy since it was opened.
    for (const QString &parent : parentPaths(m_currentKey)) {
        if (parent.isEmpty())
            break;
        Statement insert(m_db, "INSERT OR IGNORE INTO reg_keys (path) VALUES (?)");
        insert.bind(1, parent);
        insert.step();
    }
    Statement remove(m_db, "DELETE FROM reg_values WHERE key = ? AND name = ?");
    remove.bind(1, m_currentKey);
    remove.bind(2, name);
    remove.step();
    Statement insert(m_db, "INSERT INTO reg_values (key, name, type, data) VALUES (?, ?, 1, ?)");
    insert.bind(1, m_currentKey);
    insert.bind(2, name);
    insert.bind(3, value);
    insert.step();
    transaction.commit();
    endWrite();
}

bool TRegistry::ValueExists(const QString &name)
{
    requireKey();
    ensureOpen(false);
    if (!m_db)
        return false;
    Statement stmt(m_db, "SELECT 1 FROM reg_values WHERE key = ? AND name = ?");
    stmt.bind(1, m_currentKey);
    stmt.bind(2, name);
    return stmt.step();
}

bool TRegistry::DeleteValue(const QString &name)
{
    requireKey();
    ensureOpen(true);
    WriteTransaction transaction(m_db, m_batch);
    Statement remove(m_db, "DELETE FROM reg_values WHERE key = ? AND name = ?");
    remove.bind(1, m_currentKey);
    remove.bind(2, name);
    remove.step();
    const bool removed = sqlite3_changes(m_db) > 0;
    transaction.commit();
    endWrite();
    return removed;
}

QStringList TRegistry::GetValueNames()
{
    requireKey();
    ensureOpen(false);
    QStringList names;
    if (!m_db)
        return names;
    Statement stmt(m_db, "SELECT name FROM reg_values WHERE key = ? ORDER BY rowid");
    stmt.bind(1, m_currentKey);
    while (stmt.step())
        names << stmt.columnText(0);
    return names;
}
