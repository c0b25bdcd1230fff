// quelvard-testbin: the program as the smoke tests run it. It is the same start-up as the
// quelvard executable, but its machine folder is named per run in QUELVARD_TEST_MACHINE_DATA_DIR,
// so a test (or a test killed half-way) never reads or leaves anything in the machine folder a
// real start uses. Built only with the tests and never installed.
#include "app/quelvardmain.h"
#include "common/apppaths.h"
#include "config.h"

#include <QDir>
#include <QString>
#include <cstdio>

namespace {

bool IsSameOrBelow(const QString &folder, const QString &base)
{
    if (base.isEmpty())
        return false;
    const QString cleanBase = QDir::cleanPath(base);
    return folder == cleanBase || folder.startsWith(cleanBase + QLatin1Char('/'));
}

} // namespace

int main(int, char **)
{
    const QString folder =
        QDir::cleanPath(QString::fromLocal8Bit(qgetenv("QUELVARD_TEST_MACHINE_DATA_DIR")));
    if (folder.isEmpty() || folder == QLatin1String(".") || !QDir::isAbsolutePath(folder)) {
        std::fprintf(stderr, "quelvard-testbin: set QUELVARD_TEST_MACHINE_DATA_DIR to the absolute "
                             "path of this run's own machine folder\n");
        return 2;
    }
    if (IsSameOrBelow(folder, QStringLiteral(QUELVARD_MACHINE_DATA_DIR))) {
        std::fprintf(stderr, "quelvard-testbin: refusing the build's own machine folder %s\n",
                     qPrintable(folder));
        return 2;
    }
    AppPaths::OverrideMachineDataDir(folder);
    return QuelvardMain();
}
