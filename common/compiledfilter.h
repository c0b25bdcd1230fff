#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Category lists an administrator imports (a school's list of a million sites), compiled into
// one read-only file that every browser on the machine maps and decides from as it stands: no
// parsing and no allocation per rule at start, and the pages of the file shared by every user's
// browser. An entry is a host, meaning it and its subdomains as a pattern without a scheme does,
// optionally with a path prefix; its category says which list it is on.
//
// The file: a header (magic, version, counts, a checksum of everything after it), the
// categories, the entries sorted by host then path (12 bytes each: host, path, category), an
// open-addressed table of the first entry of each host (4 bytes a slot, at most half full), and
// the texts, each a length byte or two and its bytes. It is written beside its final name,
// flushed to disk and renamed over it, so a reader sees the old file or the new one whole.
class TCompiledFilter
{
public:
    static constexpr quint32 FormatVersion = 1;

    struct TCategory
    {
        QString Name;
        bool Allow = false;
        int Count = 0; // entries, once written
    };
    struct TEntry
    {
        QString Host; // as UrlFilter normalises it
        QString Path; // percent-encoded prefix; empty for the whole host
        int Category = 0;
    };

    ~TCompiledFilter();

    // Writes `entries` (duplicates dropped) under `categories` to `path`, atomically. False with
    // `error` set when the file could not be written; the old one then stays. `thenCommit` runs
    // right after the file has taken its name, so what goes with it changes at the same moment,
    // all the work of both done before either.
    static bool Write(const QString &path, QVector<TCategory> categories, QVector<TEntry> entries,
                      QString *error, const std::function<bool()> &thenCommit = {});
    // Maps the file at `path`; null with `error` set when it is missing, truncated or of another
    // version, or (checked at once with `verifyNow`) does not match its checksum. Otherwise the
    // checksum is checked on a thread of its own, reading the file rather than the mapping so
    // the process holds no more of it than its decisions touch; until then every read is
    // bounded by the file's own size.
    static std::shared_ptr<const TCompiledFilter> Open(const QString &path, QString *error,
                                                       bool verifyNow = false);

    const QVector<TCategory> &Categories() const { return m_categories; }
    quint32 EntryCount() const { return m_entryCount; }
    // Calls `visit` with the path prefix (empty for the whole host) and category of each entry
    // for exactly `host`, UTF-8 as the filter normalises it. Safe from any thread.
    void ForEachOf(const QByteArray &host,
                   const std::function<void(QByteArray path, int category)> &visit) const;
    // False once the file was found not to match its checksum: nothing it says holds then.
    bool Sound() const { return !m_corrupt.load(); }

private:
    TCompiledFilter() = default;
    QByteArray text(quint32 offset) const;
    static bool checksumMatches(const QString &path, quint64 expected);

    QFile m_file;
    const uchar *m_data = nullptr;
    qint64 m_size = 0;
    quint32 m_entryCount = 0;
    quint32 m_slotCount = 0;
    const uchar *m_entries = nullptr;
    const uchar *m_slots = nullptr;
    const uchar *m_texts = nullptr;
    quint32 m_textSize = 0;
    QVector<TCategory> m_categories;
    mutable std::atomic<bool> m_corrupt{false};
};
