// Times the administrator's address filter with a large rule list: loading the rules, and the
// decision for each of many addresses, beside the baseline of one plain hash lookup of the
// address's host in the same run. Prints medians over batches of addresses.
//
// Then the same with imported category lists of `hosts` entries compiled into a mapped file
// beside 10,000 patterns: compiling, opening, the file's size per host, and the decision's
// median and 99th percentile, beside the 10,000 patterns alone.
//
//   bench_urlfilter [rules] [addresses] [hosts]      (default 100000 1000000 1000000)
#include "common/compiledfilter.h"
#include "common/urlfilter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

double median(QVector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const qsizetype n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// Nanoseconds per address, median over batches of `batch` addresses.
double perAddress(const QVector<QUrl> &urls, int batch,
                  const std::function<void(const QUrl &)> &run)
{
    QVector<double> samples;
    for (qsizetype start = 0; start + batch <= urls.size(); start += batch) {
        QElapsedTimer timer;
        timer.start();
        for (qsizetype i = start; i < start + batch; ++i)
            run(urls.at(i));
        samples << double(timer.nsecsElapsed()) / batch;
    }
    return median(samples);
}

const char *const Words[] = {"news",  "mail", "games", "video", "school", "maps", "shop",
                             "forum", "wiki", "music", "sport", "learn",  "chat", "photo"};
const char *const Tlds[] = {"com", "org", "net", "example", "edu", "de", "fr", "co.uk"};

QString hostName(QRandomGenerator &random, int index)
{
    return QStringLiteral("%1%2.%3")
        .arg(QLatin1String(Words[random.bounded(int(std::size(Words)))]))
        .arg(index)
        .arg(QLatin1String(Tlds[random.bounded(int(std::size(Tlds)))]));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int ruleCount = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int addressCount = args.size() > 2 ? args.at(2).toInt() : 1000000;
    QRandomGenerator random(20261209);

    // Rules as administrators write them: mostly hosts, some paths, ports, exact hosts and
    // queries; one in ten allows, and "*" blocks the rest as an allow-list does.
    QStringList hosts, blocked, allowed{QStringLiteral("*")};
    for (int i = 0; i < ruleCount; ++i) {
        const QString host = hostName(random, i);
        hosts << host;
        QString rule = host;
        switch (i % 7) {
        case 1:
            rule = QLatin1Char('.') + host;
            break;
        case 2:
            rule = host + QStringLiteral("/watch");
            break;
        case 3:
            rule = QStringLiteral("https://") + host;
            break;
        case 4:
            rule = host + QStringLiteral("/page@id=12*");
            break;
        case 5:
            rule = host + QStringLiteral(":8080");
            break;
        default:
            break;
        }
        (i % 10 ? blocked : allowed) << rule;
    }
    TUrlFilter filter;
    QElapsedTimer loadTimer;
    loadTimer.start();
    filter.SetRules(blocked, allowed);
    const double loadMs = loadTimer.nsecsElapsed() / 1e6;

    // Addresses: listed hosts, their subdomains and hosts on no list, with paths and queries.
    QVector<QUrl> urls;
    urls.reserve(addressCount);
    for (int i = 0; i < addressCount; ++i) {
        QString host = random.bounded(3) ? hosts.at(random.bounded(int(hosts.size())))
                                         : hostName(random, ruleCount + random.bounded(100000));
        if (random.bounded(4) == 0)
            host.prepend(QStringLiteral("www."));
        urls << QUrl(QStringLiteral("%1://%2/%3?id=%4&lang=en")
                         .arg(random.bounded(2) ? QLatin1String("https") : QLatin1String("http"),
                              host,
                              random.bounded(2) ? QStringLiteral("watch/clip%1").arg(i)
                                                : QStringLiteral("page/%1.html").arg(i))
                         .arg(random.bounded(200)));
    }

    const QSet<QString> hostSet(hosts.begin(), hosts.end());
    qsizetype found = 0, refused = 0;
    const double baseline =
        perAddress(urls, 1000, [&](const QUrl &url) { found += hostSet.contains(url.host()); });
    const double decide =
        perAddress(urls, 1000, [&](const QUrl &url) { refused += !filter.Decide(url).Allowed; });

    std::printf("rules: %d (%d kept), addresses: %d\n", ruleCount, filter.RuleCount(),
                addressCount);
    std::printf("loading the rules: %.1f ms\n", loadMs);
    std::printf("decision per address: %.0f ns (median of batches of 1000; %lld refused)\n", decide,
                static_cast<long long>(refused));
    std::printf("baseline, hash lookup of the host: %.0f ns (median; %lld found)\n", baseline,
                static_cast<long long>(found));

    // Category lists: a million hosts as a school's lists hold them, beside 10,000 patterns.
    const int hostCount = args.size() > 3 ? args.at(3).toInt() : 1000000;
    QVector<TCompiledFilter::TEntry> entries;
    entries.reserve(hostCount);
    QStringList listed;
    for (int i = 0; i < hostCount; ++i) {
        const QString host = hostName(random, 2 * ruleCount + i);
        entries.append({host, i % 20 ? QString() : QStringLiteral("/private"), i % 50 ? 0 : 1});
        if (i % 1000 == 7)
            listed << host;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("urlfilter.bin"));
    QElapsedTimer compileTimer;
    compileTimer.start();
    if (!TCompiledFilter::Write(
            file, {{QStringLiteral("adult"), false, 0}, {QStringLiteral("learning"), true, 0}},
            entries, nullptr))
        return 1;
    const double compileMs = compileTimer.nsecsElapsed() / 1e6;
    entries.clear();
    // The second opening is the one a browser's start sees: the file is in the page cache.
    std::shared_ptr<const TCompiledFilter> compiled;
    double openMs = 0;
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer openTimer;
        openTimer.start();
        compiled = TCompiledFilter::Open(file, nullptr);
        openMs = openTimer.nsecsElapsed() / 1e6;
    }
    if (!compiled)
        return 1;
    TUrlFilter patterns, withLists;
    patterns.SetRules(blocked.mid(0, 9000), allowed.mid(0, 1000));
    withLists.SetRules(blocked.mid(0, 9000), allowed.mid(0, 1000));
    withLists.SetCompiled(compiled);
    QVector<QUrl> listUrls;
    for (int i = 0; i < 200000; ++i) {
        const QString host = random.bounded(2) ? listed.at(random.bounded(int(listed.size())))
                                               : hostName(random, random.bounded(3 * ruleCount));
        listUrls << QUrl(QStringLiteral("https://www.%1/private/page%2.html").arg(host).arg(i));
    }
    auto percentiles = [&listUrls](const TUrlFilter &measured) {
        QVector<double> each;
        each.reserve(listUrls.size());
        qsizetype refusedHere = 0;
        for (const QUrl &url : listUrls) {
            QElapsedTimer timer;
            timer.start();
            refusedHere += !measured.Decide(url).Allowed;
            each << double(timer.nsecsElapsed());
        }
        std::sort(each.begin(), each.end());
        return std::make_tuple(each.at(each.size() / 2), each.at(each.size() * 99 / 100),
                               refusedHere);
    };
    const auto [plainMedian, plainP99, plainRefused] = percentiles(patterns);
    const auto [listMedian, listP99, listRefused] = percentiles(withLists);
    std::printf("\ncategory lists: %d hosts compiled in %.0f ms, opened in %.3f ms, "
                "%.1f bytes a host\n",
                hostCount, compileMs, openMs, double(QFileInfo(file).size()) / hostCount);
    std::printf("decision with the lists and 10,000 patterns: median %.0f ns, 99th %.0f ns "
                "(%lld refused)\n",
                listMedian, listP99, static_cast<long long>(listRefused));
    std::printf("baseline, 10,000 patterns alone: median %.0f ns, 99th %.0f ns (%lld refused)\n",
                plainMedian, plainP99, static_cast<long long>(plainRefused));
    return 0;
}
