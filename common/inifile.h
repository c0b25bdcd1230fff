#pragma once

#include <QByteArray>
#include <QString>

// A read-only INI file held in memory, read the way the desktop's profile-string reader reads
// one: section and entry names match without regard to ASCII case, the first matching section
// and the first matching entry in it win, blanks (codes 32 and below) around names and values
// are ignored, a value enclosed in a pair of matching quotes (' or ") loses them, and lines may
// end in CR LF, LF or CR. Bytes are kept as they are; there are no escapes and no lists.
// A header is a line starting with "[" whose name runs to the last "]"; any other line
// carries an entry only when it holds "=". Entries above the first header form a section
// whose name is empty.
class TIniFile
{
public:
    TIniFile() = default;

    // Files larger than this are refused as unreadable rather than held in memory.
    static constexpr qint64 MaxFileSize = 32 * 1024 * 1024;

    static TIniFile Parse(const QByteArray &bytes);
    // A missing file reads as empty (and sets *found false); a file that exists but cannot be
    // read (a folder, no permission, too large) raises EQuelvardError.
    static TIniFile Load(const QString &fileName, bool *found = nullptr);

    // The entry's value, or empty when the section or the entry is absent.
    QByteArray Value(const QByteArray &section, const QByteArray &name) const;
    // The same with names given as text (their UTF-8 bytes) and the value read as UTF-8
    // (byte for byte when it is not valid UTF-8).
    QString ReadString(const QString &section, const QString &name) const;
    bool ValueExists(const QByteArray &section, const QByteArray &name) const;

private:
    // A leading UTF-8 byte-order mark, as some editors write one, is no part of the first line.
    explicit TIniFile(const QByteArray &bytes)
        : m_bytes(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes)
    {
    }
    // Where the entry's value lies in m_bytes; false when there is no such entry.
    bool findValue(const QByteArray &section, const QByteArray &name, qsizetype *from,
                   qsizetype *to) const;

    // The file is kept as read and searched on demand: a lookup is one pass over the bytes,
    // so a file of any shape costs its size in memory and never more than linear time.
    QByteArray m_bytes;
};
