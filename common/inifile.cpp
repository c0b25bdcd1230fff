#include "common/inifile.h"

#include "common/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <new>

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

char folded(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

// A span [from, to) of the file's bytes with blanks trimmed from both ends.
struct TSpan
{
    qsizetype from = 0;
    qsizetype to = 0;
};

TSpan trimmed(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    while (from < to && isBlank(bytes.at(from)))
        ++from;
    while (to > from && isBlank(bytes.at(to - 1)))
        --to;
    return {from, to};
}

// Compares a span of the file with a name already trimmed, ignoring ASCII case.
bool sameName(const QByteArray &bytes, TSpan span, const QByteArray &name)
{
    if (span.to - span.from != name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (folded(bytes.at(span.from + i)) != folded(name.at(i)))
            return false;
    }
    return true;
}

QByteArray trimmedName(const QByteArray &name)
{
    const TSpan span = trimmed(name, 0, name.size());
    return name.mid(span.from, span.to - span.from);
}

} // namespace

TIniFile TIniFile::Parse(const QByteArray &bytes)
{
    return TIniFile(bytes);
}

TIniFile TIniFile::Load(const QString &fileName, bool *found)
{
    if (found)
        *found = false;
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.exists())
        return TIniFile();
    if (found)
        *found = true;
    if (!info.isFile())
        throw EQuelvardError(QStringLiteral("Cannot read \"%1\": it is not a file.").arg(fileName));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EQuelvardError(
            QStringLiteral("Cannot read \"%1\": %2").arg(fileName, file.errorString()));
    const QString tooLarge =
        QStringLiteral("Cannot read \"%1\": the file is too large.").arg(fileName);
    if (file.size() > MaxFileSize)
        throw EQuelvardError(tooLarge);
    try {
        // Qt sets aside every byte asked for before reading, so the known size is asked for
        // rather than the limit; one byte more tells a file that grew after size() was taken.
        const qint64 wanted = file.size() + 1;
        QByteArray bytes = file.read(wanted);
        if (bytes.size() == wanted)
            bytes += file.read(MaxFileSize + 1 - bytes.size());
        if (file.error() != QFileDevice::NoError)
            throw EQuelvardError(
                QStringLiteral("Cannot read \"%1\": %2").arg(fileName, file.errorString()));
        if (bytes.size() > MaxFileSize)
            throw EQuelvardError(tooLarge);
        return TIniFile(bytes);
    } catch (const std::bad_alloc &) {
        throw EQuelvardError(QStringLiteral("Cannot read \"%1\": out of memory.").arg(fileName));
    }
}

bool TIniFile::findValue(const QByteArray &section, const QByteArray &name, qsizetype *from,
                         qsizetype *to) const
{
    const QByteArray wantedSection = trimmedName(section);
    const QByteArray wantedName = trimmedName(name);
    // Lines above the first header form a section without a name.
    bool inWanted = wantedSection.isEmpty();

    const QByteArray &b = m_bytes;
    const qsizetype n = b.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && b.at(end) != '\n' && b.at(end) != '\r')
            ++end;
        const TSpan line = trimmed(b, start, end);
        start = end + 1;
        if (line.from == line.to)
            continue;

        if (b.at(line.from) == '[') {
            qsizetype close = line.to - 1;
            while (close > line.from && b.at(close) != ']')
                --close;
            if (close > line.from) {
                // Only the first section of a name is ever read.
                if (inWanted)
                    return false;
                inWanted = sameName(b, trimmed(b, line.from + 1, close), wantedSection);
                continue;
            }
        }
        if (!inWanted)
            continue;

        qsizetype equals = line.from;
        while (equals < line.to && b.at(equals) != '=')
            ++equals;
        if (equals == line.to)
            continue;
        if (!sameName(b, trimmed(b, line.from, equals), wantedName))
            continue;

        TSpan value = trimmed(b, equals + 1, line.to);
        if (value.to - value.from >= 2) {
            const char first = b.at(value.from);
            if ((first == '"' || first == '\'') && b.at(value.to - 1) == first) {
                ++value.from;
                --value.to;
            }
        }
        *from = value.from;
        *to = value.to;
        return true;
    }
    return false;
}

QByteArray TIniFile::Value(const QByteArray &section, const QByteArray &name) const
{
    qsizetype from = 0;
    qsizetype to = 0;
    if (!findValue(section, name, &from, &to))
        return QByteArray();
    return m_bytes.mid(from, to - from);
}

QString TIniFile::ReadString(const QString &section, const QString &name) const
{
    const QByteArray bytes = Value(section.toUtf8(), name.toUtf8());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString::fromLatin1(bytes) : text;
}

bool TIniFile::ValueExists(const QByteArray &section, const QByteArray &name) const
{
    qsizetype from = 0;
    qsizetype to = 0;
    return findValue(section, name, &from, &to);
}
