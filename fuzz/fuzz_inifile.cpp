// The INI reader on any bytes: favorites files and the companion product's settings come from
// disk as they are. Input: section NUL name NUL value NUL rest-of-file.
#include "fuzzcheck.h"

#include "common/inifile.h"

#include <QByteArray>
#include <QList>

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

QByteArray trimmed(QByteArray bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.front()))
        bytes.remove(0, 1);
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

QByteArray oneLine(QByteArray bytes)
{
    bytes.replace('\r', ' ').replace('\n', ' ');
    return trimmed(bytes);
}

bool quoted(const QByteArray &value)
{
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> fields = input.split('\0');
    const QByteArray section = fields.value(0);
    const QByteArray name = fields.value(1);

    // Any file: a value found is one piece of one line of the file.
    const TIniFile any = TIniFile::Parse(input);
    const QByteArray found = any.Value(section, name);
    FUZZ_CHECK(any.ValueExists(section, name) || found.isEmpty());
    FUZZ_CHECK(input.contains(found));
    FUZZ_CHECK(!found.contains('\r') && !found.contains('\n'));
    // Blanks at either end survive only inside quotes.
    if (found != trimmed(found))
        FUZZ_CHECK(input.contains('"' + found + '"') || input.contains('\'' + found + '\''));

    // A file that starts with the entry gives it back, whatever follows.
    const QByteArray wantedSection = oneLine(section);
    QByteArray wantedName = oneLine(name);
    wantedName.replace('=', '_');
    const QByteArray wantedValue = oneLine(fields.value(2));
    if (wantedSection.isEmpty() || wantedName.isEmpty() || wantedName.startsWith('[') ||
        quoted(wantedValue))
        return 0;
    qsizetype restStart = 0;
    for (int k = 0; k < 3 && restStart >= 0; ++k) {
        restStart = input.indexOf('\0', restStart);
        if (restStart >= 0)
            ++restStart;
    }
    const QByteArray rest = restStart >= 0 ? input.mid(restStart) : QByteArray();
    const QByteArray file =
        "[" + wantedSection + "]\r\n" + wantedName + " = " + wantedValue + "\n" + rest;
    const TIniFile written = TIniFile::Parse(file);
    FUZZ_CHECK(written.ValueExists(wantedSection, wantedName));
    FUZZ_CHECK(written.Value(wantedSection.toUpper(), wantedName.toLower()) == wantedValue);
    return 0;
}
