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

    // Read the way the window reads it.
    const QStringList items = GenUtilities::SplitCommaText(TextUtils::Trim(text));
    for (int i = 0; i < 4 && i < items.size(); ++i)
        items.at(i).toInt();
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
        const QStringList back = GenUtilities::SplitCommaText(TextUtils::Trim(saved));
        FUZZ_CHECK(back.size() == 4);
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            FUZZ_CHECK(back.at(i).toInt(&ok) == numbers[i] && ok);
        }
    }
    return 0;
}
