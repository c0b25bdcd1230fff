// The stored window position is read back from the hive, where anything may stand: it is
// split as comma text and its first four items are read as whole numbers.
#include "fuzzcheck.h"

#include "common/genutilities.h"
#include "common/textutils.h"

#include <QString>
#include <QStringList>
#include <cstring>

namespace {

QString quotedItem(QString item)
{
    item.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + item + QLatin1Char('"');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // Read the way the window reads it: a value is read only after every value before it.
    const GenUtilities::TStoredPosition position = GenUtilities::ParsePosition(text);
    FUZZ_CHECK(!position.Top || position.Left);
    FUZZ_CHECK(!position.Width || position.Top);
    FUZZ_CHECK(!position.Height || position.Width);
    const QStringList items = GenUtilities::SplitCommaText(TextUtils::Trim(text));
    FUZZ_CHECK(items.size() >= 4 || !position.Left);
    // Without quotes, items are the runs between separators.
    if (!text.contains(QLatin1Char('"'))) {
        for (const QString &item : items) {
            for (const QChar c : item)
                FUZZ_CHECK(c != QLatin1Char(',') && c.unicode() > 32);
        }
    }

    // Any items, each quoted, come back exactly: one item per line of the input.
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList quoted;
    for (const QString &line : lines)
        quoted << quotedItem(line);
    FUZZ_CHECK(GenUtilities::SplitCommaText(quoted.join(QLatin1Char(','))) == lines);

    // Four numbers saved as the window saves them read back as the same four numbers.
    if (size >= 4 * sizeof(int)) {
        int numbers[4];
        std::memcpy(numbers, data, sizeof numbers);
        const QString saved = QStringLiteral("%1,%2,%3,%4")
                                  .arg(numbers[0])
                                  .arg(numbers[1])
                                  .arg(numbers[2])
                                  .arg(numbers[3]);
        const GenUtilities::TStoredPosition back = GenUtilities::ParsePosition(saved);
        FUZZ_CHECK(back.Complete());
        FUZZ_CHECK(*back.Left == numbers[0] && *back.Top == numbers[1]);
        FUZZ_CHECK(*back.Width == numbers[2] && *back.Height == numbers[3]);
    }
    return 0;
}
