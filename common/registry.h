#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

// A hierarchical key/value store standing in for the desktop registry. Each hive is one
// SQLite file whose schema administrators seed and inspect by hand, so it is an interface:
//   reg_keys(path)  and  reg_values(key, name, type, data)
// Key paths use backslashes; a leading backslash means the same as none. Every operation
// opens what it needs and every write is its own transaction, committed before it returns.
// Failures raise EQuelvardError; callers decide whether to absorb them.
// The machine hive is never changed in place: each write makes a new file beside it and
// renames it over the old one, so a reader holding the old file open neither blocks the
// administrator nor sees half a change. Its folder is made 0755 and the file 0644; a user's
// hive gets 0700 folders and a 0600 file.
class TRegistry
{
public:
    enum RootKey { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
    enum Access : unsigned { KEY_READ = 0x20019, KEY_ALL_ACCESS = 0xF003F };
    enum ValueType { REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

    explicit TRegistry(Access access = KEY_ALL_ACCESS);
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    void SetRootKey(RootKey root);
    RootKey GetRootKey() const { return m_root; }
    Access GetAccess() const { return m_access; }
    // The hive file this object uses; an explicit file overrides the root's default.
    void SetHiveFile(const QString &file);
    QString HiveFile() const;

    bool KeyExists(const QString &path);
    // Opens path as the current key; with canCreate (and all access) missing keys and
    // their parents are created. Returns false when the key does not exist.
    bool OpenKey(const QString &path, bool canCreate);
    bool OpenKeyReadOnly(const QString &path);
    void CloseKey();
    QString CurrentPath() const { return m_currentKey; }

    // A missing value reads as the empty string; a value of another type raises.
    QString ReadString(const QString &name);
    void WriteString(const QString &name, const QString &value);
    bool ValueExists(const QString &name);
    bool DeleteValue(const QString &name);
    QStringList GetValueNames();

    // Makes every write until CommitBatch one change: one transaction, and for the machine hive
    // one replacement file, put in place by CommitBatch. Leaving the batch any other way (an
    // exception, destroying the object, another root or hive) leaves the hive as it was.
    void BeginBatch();
    void CommitBatch();
    bool InBatch() const { return m_batch; }

    // Whether this process could write the hive file (creating it and its folders when
    // missing), found without creating or changing anything.
    static bool CanWrite(const QString &hiveFile);

    // Normalised form of a key path: no leading or trailing backslash.
    static QString NormalisePath(const QString &path);

private:
    void ensureOpen(bool forWriting);
    void closeDatabase();
    void requireKey() const;
    bool replacesFile() const { return m_root == HKEY_LOCAL_MACHINE; }
    void openReplacement(const QString &file);
    // Called after every committed write: a replacement is put in place of the hive.
    void finishWrite();
    // The end of one write: put in place at once, or at the end of the batch.
    void endWrite();
    bool keyExistsInDb(const QString &normalisedPath);

    Access m_access;
    RootKey m_root = HKEY_CURRENT_USER;
    QString m_hiveFile;
    QString m_currentKey;
    bool m_keyOpen = false;
    sqlite3 *m_db = nullptr;
    bool m_dbWritable = false;
    bool m_batch = false;  // a transaction is open that CommitBatch ends
    int m_lockFd = -1;     // held while a replacement is being written
    QString m_replacement; // the new file being written, empty when none
};
