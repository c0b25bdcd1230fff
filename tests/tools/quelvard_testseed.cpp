// quelvard-testseed: writes string values into a hive the way the browser would, so the shell
// suites set up a run without spelling out the store's tables themselves.
//   quelvard-testseed HIVE KEY NAME TEXT [KEY NAME TEXT]...
#include "common/errors.h"
#include "common/registry.h"

#include <QString>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: quelvard-testseed HIVE KEY NAME TEXT [KEY NAME TEXT]...\n");
        return 2;
    }
    const auto arg = [argv](int i) { return QString::fromLocal8Bit(argv[i]); };
    try {
        TRegistry hive;
        hive.SetHiveFile(arg(1));
        for (int i = 2; i < argc; i += 3) {
            if (!hive.OpenKey(arg(i), true))
                throw EQuelvardError(QStringLiteral("cannot create %1").arg(arg(i)));
            hive.WriteString(arg(i + 1), arg(i + 2));
        }
    } catch (const EQuelvardError &error) {
        std::fprintf(stderr, "quelvard-testseed: %s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
