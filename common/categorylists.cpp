#include "common/categorylists.h"

#include "common/apppaths.h"
#include "common/urlfilter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <functional>

namespace CategoryLists {

namespace {

constexpr int SkippedShown = 5;
const QString ListSuffix = QStringLiteral(".list");
const QByteArray ListHeader = QByteArrayLiteral("# quelvard category list: ");
const QByteArray SourceHeader = QByteArrayLiteral("# source: ");

// The names a hosts file gives this machine itself, which no list means to block.
bool IsLocalName(QStringView host)
{
    static const QStringList names = {
        QStringLiteral("localhost"),     QStringLiteral("localhost.localdomain"),
        QStringLiteral("local"),         QStringLiteral("broadcasthost"),
        QStringLiteral("ip6-localhost"), QStringLiteral("ip6-loopback"),
        QStringLiteral("ip6-localnet"),  QStringLiteral("ip6-mcastprefix"),
        QStringLiteral("ip6-allnodes"),  QStringLiteral("ip6-allrouters"),
        QStringLiteral("ip6-allhosts"),  QStringLiteral("0.0.0.0")};
    return names.contains(host.toString(), Qt::CaseInsensitive);
}

bool LooksLikeAddress(QStringView field)
{
    static const QRegularExpression ip(
        QStringLiteral("^(\\d{1,3}(\\.\\d{1,3}){3}|[0-9a-fA-F:]*:[0-9a-fA-F:.]*)$"));
    return ip.match(field.toString()).hasMatch();
}

// One host or host/path, as a pattern of a host and its subdomains says it.
bool ReadEntry(QStringView token, QVector<TCompiledFilter::TEntry> &into)
{
    const qsizetype slash = token.indexOf(QLatin1Char('/'));
    QString host = (slash < 0 ? token : token.left(slash)).toString().toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    const QString text = host + (slash < 0 ? QString() : token.mid(slash).toString());
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')) || host.contains(QLatin1Char('*')))
        return false;
    const std::optional<UrlFilter::TPattern> pattern = UrlFilter::Parse(text);
    if (!pattern || !pattern->Scheme.isEmpty() || pattern->AnyHost || pattern->ExactHost ||
        pattern->Port != 0 || !pattern->Query.isEmpty() || pattern->Host.isEmpty())
        return false;
    into.append({pattern->Host, pattern->Path, 0});
    return true;
}

void ReadFile(const QString &path, const QString &shownAs, TRead &into)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        into.Error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine();
        ++number;
        const QString line = QString::fromUtf8(bytes);
        if (!ReadLine(line, into.Entries)) {
            if (into.Skipped++ < SkippedShown)
                into.FirstSkipped << QStringLiteral("%1:%2").arg(shownAs).arg(number);
        }
    }
}

QString listFile(const QString &name)
{
    return ListsFolder() + QLatin1Char('/') + name + ListSuffix;
}

bool readStored(const QString &path, TStored &stored, QVector<TCompiledFilter::TEntry> *entries,
                int category)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.readLine().trimmed();
    if (!header.startsWith(ListHeader))
        return false;
    const QByteArray list = header.mid(ListHeader.size());
    if (list != "block" && list != "allow")
        return false;
    stored.Allow = list == "allow";
    stored.Count = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith(SourceHeader)) {
            stored.Source = QString::fromUtf8(line.mid(SourceHeader.size()));
            continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        ++stored.Count;
        if (entries) {
            const qsizetype slash = line.indexOf('/');
            entries->append({QString::fromUtf8(slash < 0 ? line : line.left(slash)),
                             slash < 0 ? QString() : QString::fromUtf8(line.mid(slash)), category});
        }
    }
    return true;
}

} // namespace

bool ReadLine(QStringView line, QVector<TCompiledFilter::TEntry> &into)
{
    const qsizetype hash = line.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        line = line.left(hash);
    line = line.trimmed();
    if (line.isEmpty())
        return true;
    const QList<QStringView> fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<QStringView> tokens;
    for (const QStringView field : fields) {
        for (const QStringView part : field.split(QLatin1Char('\t'), Qt::SkipEmptyParts))
            tokens << part;
    }
    if (tokens.size() == 1)
        return ReadEntry(tokens.first(), into);
    // A hosts file: an address, then the names it gives.
    if (!LooksLikeAddress(tokens.first()))
        return false;
    bool taken = false;
    for (qsizetype i = 1; i < tokens.size(); ++i) {
        if (IsLocalName(tokens.at(i)))
            continue;
        if (!ReadEntry(tokens.at(i), into))
            return false;
        taken = true;
    }
    // A line naming this machine only is no entry and no fault.
    return taken || tokens.size() > 1;
}

void ReadSource(const QString &path, TRead &into)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        bool found = false;
        for (const QString &name : {QStringLiteral("domains"), QStringLiteral("urls")}) {
            const QString file = QDir(path).filePath(name);
            if (!QFileInfo(file).isFile())
                continue;
            found = true;
            ReadFile(file, file, into);
            if (!into.Error.isEmpty())
                return;
        }
        if (!found)
            into.Error = QStringLiteral("%1 holds neither a domains nor a urls file").arg(path);
        return;
    }
    if (!info.isFile()) {
        into.Error = QStringLiteral("%1 is neither a file nor a folder").arg(path);
        return;
    }
    ReadFile(path, path, into);
}

bool ValidName(const QString &name)
{
    static const QRegularExpression valid(QStringLiteral("^[a-z0-9_-]{1,64}$"));
    return valid.match(name).hasMatch();
}

QString NameOf(const QString &path)
{
    QString name = QFileInfo(QDir::cleanPath(path)).completeBaseName().toLower();
    name.replace(QRegularExpression(QStringLiteral("[^a-z0-9_-]")), QStringLiteral("_"));
    return name.left(64);
}

QString ListsFolder()
{
    return QFileInfo(AppPaths::MachineHiveFile()).absolutePath() + QStringLiteral("/urlcategories");
}

QString CompiledFile()
{
    return QFileInfo(AppPaths::MachineHiveFile()).absolutePath() + QStringLiteral("/urlfilter.bin");
}

QString UnusableMessage()
{
    return QStringLiteral("The address lists in %1 cannot be read, so Quelvard refuses every "
                          "address but its own pages. Ask the administrator to run: "
                          "quelvard-admin urls rebuild")
        .arg(CompiledFile());
}

QVector<TStored> Stored()
{
    QVector<TStored> stored;
    const QStringList files =
        QDir(ListsFolder()).entryList({QLatin1Char('*') + ListSuffix}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        TStored one;
        one.Name = file.chopped(ListSuffix.size());
        if (ValidName(one.Name) &&
            readStored(ListsFolder() + QLatin1Char('/') + file, one, nullptr, 0))
            stored << one;
    }
    return stored;
}

namespace {

bool failWith(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Compiles every stored list but `replaced` (with `replacement` in its place when given) and
// gives the compiled file its name; `thenCommit` changes the list files right after, so a
// command killed at any point leaves the lists and the compiled file as they were, or both new.
bool compile(const QString &replaced, const TStored *replacementInfo,
             QVector<TCompiledFilter::TEntry> replacement, QString *error,
             const std::function<bool()> &thenCommit)
{
    QVector<TCompiledFilter::TCategory> categories;
    QVector<TCompiledFilter::TEntry> entries;
    bool placed = false;
    auto placeReplacement = [&] {
        if (placed || !replacementInfo)
            return;
        placed = true;
        for (TCompiledFilter::TEntry &entry : replacement)
            entry.Category = int(categories.size());
        entries += std::move(replacement);
        categories.append({replacementInfo->Name, replacementInfo->Allow, 0});
    };
    const QStringList files =
        QDir(ListsFolder()).entryList({QLatin1Char('*') + ListSuffix}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        TStored one;
        one.Name = file.chopped(ListSuffix.size());
        if (replacementInfo && !placed && one.Name > replacementInfo->Name)
            placeReplacement();
        if (one.Name == replaced)
            continue;
        if (!ValidName(one.Name) || !readStored(ListsFolder() + QLatin1Char('/') + file, one,
                                                &entries, int(categories.size())))
            return failWith(error, QStringLiteral("%1 is not a category list").arg(file));
        categories.append({one.Name, one.Allow, 0});
    }
    placeReplacement();
    if (categories.isEmpty()) {
        if (QFile::exists(CompiledFile()) && !QFile::remove(CompiledFile()))
            return failWith(error, QStringLiteral("%1 cannot be removed").arg(CompiledFile()));
        return !thenCommit || thenCommit();
    }
    return TCompiledFilter::Write(CompiledFile(), categories, std::move(entries), error,
                                  thenCommit);
}

} // namespace

bool Save(const QString &name, bool allow, const QVector<TCompiledFilter::TEntry> &entries,
          QString *error, const QString &source)
{
    if (!QDir().mkpath(ListsFolder()))
        return failWith(error, QStringLiteral("%1 cannot be made").arg(ListsFolder()));
    // The list is written whole beside its name and takes it only once the compiled file that
    // holds it has taken its own.
    QSaveFile out(listFile(name));
    if (!out.open(QIODevice::WriteOnly))
        return failWith(error, out.errorString());
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    QByteArray text = ListHeader + (allow ? "allow" : "block") + '\n';
    if (!source.isEmpty() && !source.contains(QLatin1Char('\n')))
        text += SourceHeader + source.toUtf8() + '\n';
    for (const TCompiledFilter::TEntry &entry : entries) {
        text += entry.Host.toUtf8();
        text += entry.Path.toUtf8();
        text += '\n';
        if (text.size() > (1 << 20)) {
            out.write(text);
            text.clear();
        }
    }
    if (out.write(text) != text.size() || !out.flush())
        return failWith(error, out.errorString());
    TStored info;
    info.Name = name;
    info.Allow = allow;
    return compile(name, &info, entries, error,
                   [&out, error] { return out.commit() || failWith(error, out.errorString()); });
}

bool Drop(const QString &name, QString *error)
{
    if (!ValidName(name) || !QFile::exists(listFile(name)))
        return failWith(error, QStringLiteral("there is no category %1").arg(name));
    // Compiled without it first: the list goes right after the compiled file has changed.
    return compile(name, nullptr, {}, error, [&name, error] {
        return QFile::remove(listFile(name)) ||
               failWith(error, QStringLiteral("%1 cannot be removed").arg(listFile(name)));
    });
}

bool Rebuild(QString *error)
{
    return compile(QString(), nullptr, {}, error, {});
}

void Apply(TUrlFilter &filter, QString *problem, bool verifyNow)
{
    // Whether any list is stored, without reading one: a list holds up to millions of lines.
    const bool stored =
        !QDir(ListsFolder()).entryList({QLatin1Char('*') + ListSuffix}, QDir::Files).isEmpty();
    if (!stored && !QFile::exists(CompiledFile()))
        return;
    QString why;
    std::shared_ptr<const TCompiledFilter> compiled =
        TCompiledFilter::Open(CompiledFile(), &why, verifyNow);
    if (compiled) {
        filter.SetCompiled(std::move(compiled));
        return;
    }
    const QString said =
        QStringLiteral("the compiled address lists %1 cannot be used (%2); every address is "
                       "refused until \"quelvard-admin urls rebuild\" is run")
            .arg(CompiledFile(), why);
    filter.RefuseAll(said);
    if (problem)
        *problem = said;
}

} // namespace CategoryLists
