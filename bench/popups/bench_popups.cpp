// Times the popup blocker's work with a large list of allowed sites: the blocking decision
// for one window request (a page not on the list, so the whole list is searched), the reload
// of the list from the store, and the opening of the Allowed Sites dialog. Prints the median
// of several runs of each, in milliseconds.
//
//   bench_popups [sites] [runs]      (default 10000 15)
// Beside the blocking decision it times the baseline: one plain search of the same list.
#include "common/allowedsites.h"
#include "common/apppaths.h"
#include "common/registry.h"
#include "popups/popups.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sqlite3.h>

namespace {

double median(QVector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const qsizetype n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double time(const std::function<void()> &run, int runs)
{
    QVector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        samples << timer.nsecsElapsed() / 1e6;
    }
    return median(samples);
}

// Sites in mixed letter case, a few with ports, written in one transaction.
bool makeSites(const QString &hive, int sites)
{
    PopupStore::ListSites(); // creates the hive and the key
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(hive).constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO reg_values (key, name, type, data) "
                       "VALUES ('Software\\Quelvard\\Popups', ?, 1, '')",
                       -1, &insert, nullptr);
    for (int i = 0; i < sites; ++i) {
        const QByteArray name = QStringLiteral("%1ite%2.example.com%3")
                                    .arg(i % 2 ? 'S' : 's')
                                    .arg((i * 7919) % sites, 5, 10, QLatin1Char('0'))
                                    .arg(i % 10 ? QString() : QStringLiteral(":8080"))
                                    .toUtf8();
        sqlite3_bind_text(insert, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int sites = args.size() > 1 ? args.at(1).toInt() : 10000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 15;

    QTemporaryDir dir;
    const QString hive = dir.filePath(QStringLiteral("user.db"));
    AppPaths::OverrideUserHiveFile(hive);
    if (!dir.isValid() || !makeSites(hive, sites)) {
        std::fprintf(stderr, "cannot build the store\n");
        return 1;
    }

    QStringList allowed;
    const double load = time([&] { allowed = PopupStore::LoadNormalisedSites(); }, runs);
    bool verdict = true;
    const double decide =
        time(
            [&] {
                for (int i = 0; i < 100; ++i)
                    verdict = PopupStore::IsAllowed(
                        allowed, QStringLiteral("http://not-listed.example.org/page.html"));
            },
            runs) /
        100;
    // Baseline: the least any list search costs, one case-insensitive pass over the same list.
    bool found = true;
    const double floor = time(
                             [&] {
                                 for (int i = 0; i < 100; ++i)
                                     found =
                                         allowed.contains(QStringLiteral("not-listed.example.org"),
                                                          Qt::CaseInsensitive);
                             },
                             runs) /
                         100;
    int rows = 0;
    const double open = time(
        [&] {
            TfrmPopups dialog;
            dialog.show();
            QApplication::processEvents();
            rows = dialog.gridSites->rowCount();
        },
        runs);

    std::printf("allowed sites in the store: %d (loaded %lld, dialog rows %d)\n", sites,
                static_cast<long long>(allowed.size()), rows);
    std::printf("blocking decision, one request: %.4f ms (median, %s)\n", decide,
                verdict ? "allowed" : "refused");
    std::printf("baseline, one case-insensitive search of the list: %.4f ms (median, %s)\n", floor,
                found ? "found" : "not found");
    std::printf("reload of the list from the store: %.2f ms (median)\n", load);
    std::printf("opening the Allowed Sites dialog: %.2f ms (median)\n", open);
    return 0;
}
