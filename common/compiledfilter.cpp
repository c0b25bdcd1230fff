#include "common/compiledfilter.h"

#include <QFile>
#include <QFileDevice>
#include <QHash>
#include <QSaveFile>
#include <QThreadPool>
#include <algorithm>
#include <cstring>

namespace {

constexpr char Magic[4] = {'Q', 'V', 'L', 'F'};
constexpr qint64 HeaderSize = 48;
constexpr quint32 NoPath = 0xFFFFFFFFu;
constexpr int CategorySize = 12;
constexpr int EntrySize = 12;
// The checksum covers the header's counts and everything after the header.
constexpr qint64 CountsEnd = 24;

quint32 readU32(const uchar *at)
{
    quint32 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

quint64 readU64(const uchar *at)
{
    quint64 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void putU32(QByteArray &out, quint32 value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void setU64(QByteArray &out, qint64 at, quint64 value)
{
    std::memcpy(out.data() + at, &value, sizeof value);
}

quint64 hostHash(const char *bytes, qsizetype size)
{
    quint64 hash = 14695981039346656037ull;
    for (qsizetype i = 0; i < size; ++i) {
        hash ^= static_cast<uchar>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

// A word at a time, so a file of tens of megabytes is checked in a few milliseconds.
struct TChecksum
{
    quint64 hash = 14695981039346656037ull;
    void add(const char *bytes, qsizetype size)
    {
        qsizetype i = 0;
        for (; i + 8 <= size; i += 8) {
            quint64 word;
            std::memcpy(&word, bytes + i, sizeof word);
            hash = (hash ^ word) * 1099511628211ull;
            hash ^= hash >> 29;
        }
        for (; i < size; ++i)
            hash = (hash ^ static_cast<uchar>(bytes[i])) * 1099511628211ull;
    }
};

// A text's length, then its bytes: one byte below 128, two up to 32767.
bool putText(QByteArray &texts, const QByteArray &text)
{
    if (text.size() >= 0x8000)
        return false;
    if (text.size() < 0x80) {
        texts.append(static_cast<char>(text.size()));
    } else {
        texts.append(static_cast<char>(0x80 | (text.size() >> 8)));
        texts.append(static_cast<char>(text.size() & 0xFF));
    }
    texts.append(text);
    return true;
}

} // namespace

TCompiledFilter::~TCompiledFilter()
{
    if (m_data)
        m_file.unmap(const_cast<uchar *>(m_data));
}

bool TCompiledFilter::Write(const QString &path, QVector<TCategory> categories,
                            QVector<TEntry> entries, QString *error,
                            const std::function<bool()> &thenCommit)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    struct TRow
    {
        QByteArray host;
        QByteArray path;
        quint32 category;
    };
    std::vector<TRow> rows;
    rows.reserve(entries.size());
    for (const TEntry &entry : entries) {
        if (entry.Category < 0 || entry.Category >= categories.size())
            return fail(QStringLiteral("an entry names no category"));
        rows.push_back({entry.Host.toUtf8(), entry.Path.toUtf8(), quint32(entry.Category)});
    }
    entries.clear();
    std::sort(rows.begin(), rows.end(), [](const TRow &a, const TRow &b) {
        if (a.host != b.host)
            return a.host < b.host;
        if (a.path != b.path)
            return a.path < b.path;
        return a.category < b.category;
    });
    rows.erase(std::unique(rows.begin(), rows.end(),
                           [](const TRow &a, const TRow &b) {
                               return a.host == b.host && a.path == b.path &&
                                      a.category == b.category;
                           }),
               rows.end());
    for (TCategory &category : categories)
        category.Count = 0;

    QByteArray texts;
    QByteArray entryBytes;
    entryBytes.reserve(qsizetype(rows.size()) * EntrySize);
    std::vector<quint32> firstOfHost; // entry index of each host's first entry
    quint32 hostOffset = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRow &row = rows[i];
        if (i == 0 || row.host != rows[i - 1].host) {
            hostOffset = quint32(texts.size());
            if (row.host.isEmpty() || !putText(texts, row.host))
                return fail(QStringLiteral("a host is empty or too long"));
            firstOfHost.push_back(quint32(i));
        }
        quint32 pathOffset = NoPath;
        if (!row.path.isEmpty()) {
            pathOffset = quint32(texts.size());
            if (!putText(texts, row.path))
                return fail(QStringLiteral("a path is too long"));
        }
        putU32(entryBytes, hostOffset);
        putU32(entryBytes, pathOffset);
        putU32(entryBytes, row.category);
        ++categories[int(row.category)].Count;
    }
    QByteArray categoryBytes;
    for (const TCategory &category : categories) {
        putU32(categoryBytes, quint32(texts.size()));
        if (!putText(texts, category.Name.toUtf8()))
            return fail(QStringLiteral("a category's name is too long"));
        putU32(categoryBytes, quint32(category.Count));
        putU32(categoryBytes, category.Allow ? 1u : 0u);
    }
    if (texts.size() > qsizetype(NoPath) - 1)
        return fail(QStringLiteral("the lists are too large"));

    // At most half full, so a lookup probes one or two slots.
    quint32 slotCount = 16;
    while (slotCount < firstOfHost.size() * 2)
        slotCount *= 2;
    std::vector<quint32> table(slotCount, 0);
    for (const quint32 index : firstOfHost) {
        const TRow &row = rows[index];
        quint32 slot = quint32(hostHash(row.host.constData(), row.host.size())) & (slotCount - 1);
        while (table[slot] != 0)
            slot = (slot + 1) & (slotCount - 1);
        table[slot] = index + 1;
    }

    QByteArray file;
    file.append(Magic, sizeof Magic);
    putU32(file, FormatVersion);
    putU32(file, quint32(categories.size()));
    putU32(file, quint32(rows.size()));
    putU32(file, slotCount);
    putU32(file, quint32(texts.size()));
    file.append(QByteArray(HeaderSize - file.size(), '\0'));
    file.append(categoryBytes);
    file.append(entryBytes);
    file.append(reinterpret_cast<const char *>(table.data()), qsizetype(table.size()) * 4);
    file.append(texts);
    TChecksum checksum;
    checksum.add(file.constData(), CountsEnd);
    checksum.add(file.constData() + HeaderSize, file.size() - HeaderSize);
    setU64(file, 24, checksum.hash);
    setU64(file, 32, quint64(file.size()));

    // Written beside its name, flushed to disk, then renamed over it.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    if (out.write(file) != file.size() || !out.commit())
        return fail(out.errorString());
    return !thenCommit || thenCommit();
}

bool TCompiledFilter::checksumMatches(const QString &path, quint64 expected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    TChecksum checksum;
    const QByteArray counts = file.read(CountsEnd);
    if (counts.size() != CountsEnd || !file.seek(HeaderSize))
        return false;
    checksum.add(counts.constData(), counts.size());
    // Read in whole words, so the sum is the same as the writer's over one buffer.
    constexpr qint64 Chunk = 1 << 20;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(Chunk);
        if (chunk.isEmpty())
            return false;
        checksum.add(chunk.constData(), chunk.size());
    }
    return checksum.hash == expected;
}

std::shared_ptr<const TCompiledFilter> TCompiledFilter::Open(const QString &path, QString *error,
                                                             bool verifyNow)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::shared_ptr<const TCompiledFilter>();
    };
    std::shared_ptr<TCompiledFilter> filter(new TCompiledFilter);
    filter->m_file.setFileName(path);
    if (!filter->m_file.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("%1 cannot be read: %2").arg(path, filter->m_file.errorString()));
    filter->m_size = filter->m_file.size();
    if (filter->m_size < HeaderSize)
        return fail(QStringLiteral("%1 is truncated").arg(path));
    const uchar *data = filter->m_file.map(0, filter->m_size);
    if (!data)
        return fail(
            QStringLiteral("%1 cannot be read: %2").arg(path, filter->m_file.errorString()));
    filter->m_data = data;
    if (std::memcmp(data, Magic, sizeof Magic) != 0)
        return fail(QStringLiteral("%1 is not a compiled address list").arg(path));
    if (readU32(data + 4) != FormatVersion)
        return fail(QStringLiteral("%1 is of another version (%2, this program reads %3)")
                        .arg(path)
                        .arg(readU32(data + 4))
                        .arg(FormatVersion));
    const quint64 categoryCount = readU32(data + 8);
    filter->m_entryCount = readU32(data + 12);
    filter->m_slotCount = readU32(data + 16);
    filter->m_textSize = readU32(data + 20);
    const quint64 expected = readU64(data + 24);
    const quint64 total = HeaderSize + categoryCount * CategorySize +
                          quint64(filter->m_entryCount) * EntrySize +
                          quint64(filter->m_slotCount) * 4 + filter->m_textSize;
    const quint32 table = filter->m_slotCount;
    if (readU64(data + 32) != quint64(filter->m_size) || total != quint64(filter->m_size) ||
        table == 0 || (table & (table - 1)) != 0)
        return fail(QStringLiteral("%1 is truncated").arg(path));
    const uchar *categories = data + HeaderSize;
    filter->m_entries = categories + categoryCount * CategorySize;
    filter->m_slots = filter->m_entries + quint64(filter->m_entryCount) * EntrySize;
    filter->m_texts = filter->m_slots + quint64(table) * 4;
    for (quint64 i = 0; i < categoryCount; ++i) {
        const uchar *at = categories + i * CategorySize;
        filter->m_categories.append({QString::fromUtf8(filter->text(readU32(at))),
                                     (readU32(at + 8) & 1u) != 0, int(readU32(at + 4))});
    }
    if (verifyNow) {
        if (!checksumMatches(path, expected))
            return fail(QStringLiteral("%1 does not match its checksum").arg(path));
    } else {
        std::shared_ptr<const TCompiledFilter> held = filter;
        QThreadPool::globalInstance()->start([held, path, expected] {
            if (!checksumMatches(path, expected))
                held->m_corrupt.store(true);
        });
    }
    return filter;
}

QByteArray TCompiledFilter::text(quint32 offset) const
{
    if (offset >= m_textSize)
        return QByteArray();
    const uchar *at = m_texts + offset;
    quint32 size = at[0];
    quint32 header = 1;
    if (size & 0x80) {
        if (offset + 1 >= m_textSize)
            return QByteArray();
        size = ((size & 0x7F) << 8) | at[1];
        header = 2;
    }
    if (quint64(offset) + header + size > m_textSize)
        return QByteArray();
    return QByteArray::fromRawData(reinterpret_cast<const char *>(at + header), qsizetype(size));
}

void TCompiledFilter::ForEachOf(
    const QByteArray &host, const std::function<void(QByteArray path, int category)> &visit) const
{
    if (m_entryCount == 0 || host.isEmpty() || m_corrupt.load())
        return;
    const quint32 mask = m_slotCount - 1;
    quint32 slot = quint32(hostHash(host.constData(), host.size())) & mask;
    // Bounded by the table's size, so a damaged table cannot hold a lookup in a loop.
    for (quint32 probes = 0; probes < m_slotCount; ++probes, slot = (slot + 1) & mask) {
        const quint32 value = readU32(m_slots + quint64(slot) * 4);
        if (value == 0 || value > m_entryCount)
            return;
        const quint32 first = value - 1;
        const quint32 hostOffset = readU32(m_entries + quint64(first) * EntrySize);
        if (text(hostOffset) != host)
            continue;
        for (quint32 i = first; i < m_entryCount; ++i) {
            const uchar *entry = m_entries + quint64(i) * EntrySize;
            if (readU32(entry) != hostOffset)
                break;
            const quint32 pathOffset = readU32(entry + 4);
            const quint32 category = readU32(entry + 8);
            if (category >= quint32(m_categories.size()))
                continue;
            visit(pathOffset == NoPath ? QByteArray() : text(pathOffset), int(category));
        }
        return;
    }
}
