#include "admintool/policyfile.h"

#include "common/categorylists.h"
#include "common/errors.h"
#include "common/keeperclient.h"
#include "common/machinefavorites.h"
#include "common/registry.h"
#include "common/timerules.h"
#include "common/urlfilter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace PolicyFile {

namespace {

using MachinePolicies::recMachinePolicies;
using MachinePolicies::recSetting;
using MachinePolicies::TKind;

struct TSetting
{
    QString Key;
    // The value as the file gives it, from the settings read from the store.
    std::function<QJsonValue(const recMachinePolicies &)> Get;
    // The file's value checked and normalised; null and `problem` when it is refused.
    std::function<std::optional<QJsonValue>(const QJsonValue &given, QString *problem)> Check;
    // Makes the store hold `wanted`, inside the batch.
    std::function<void(const QJsonValue &wanted, TRegistry &batch)> Put;
    // For a setting kept outside the store (the shared favorites, which are files): its
    // default, and how it is written once everything else is known to be writable.
    std::function<QJsonValue()> Default = nullptr;
    std::function<void(const QJsonValue &wanted)> PutOutside = nullptr;
    // Read from outside the store instead of Get; with `leftOut`, only what the file can hold.
    std::function<QJsonValue(QStringList *leftOut)> GetOutside = nullptr;
};

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

QString quoted(const QString &text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

// How many single-character edits turn `a` into `b`.
qsizetype editDistance(const QString &a, const QString &b)
{
    QVector<qsizetype> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (a.at(i - 1) == b.at(j - 1) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known key `given` was most likely meant to be, or null when none is close: letter case,
// "_" and blanks for "-" (as YAML keys are often written) cost nothing, other edits a third of
// the key's length at most.
std::optional<QString> nearestKey(const QString &given, const QStringList &known)
{
    const auto plain = [](QString key) {
        return key.toLower()
            .replace(QLatin1Char('_'), QLatin1Char('-'))
            .replace(QLatin1Char(' '), QLatin1Char('-'));
    };
    std::optional<QString> best;
    qsizetype bestDistance = std::max<qsizetype>(1, given.size() / 3) + 1;
    for (const QString &key : known) {
        const qsizetype distance = editDistance(plain(given), plain(key));
        if (distance < bestDistance) {
            best = key;
            bestDistance = distance;
        }
    }
    return best;
}

QString unknownKey(const QString &given, const QStringList &known)
{
    if (const auto near = nearestKey(given, known))
        return QStringLiteral("unknown key %1 (did you mean %2?)")
            .arg(quoted(given), quoted(*near));
    QStringList all;
    for (const QString &key : known)
        all << quoted(key);
    return QStringLiteral("unknown key %1; the keys are %2").arg(quoted(given), all.join(", "));
}

// "line L, column C" of a JSON error that the reader reports at byte `offset`, counting
// characters as an editor does. The reader stops just past what it could not take, in a word
// (yes for "yes") wherever it found out: the place given is where that word starts.
QString placeOf(const QByteArray &text, qsizetype offset)
{
    const auto inWord = [&text](qsizetype at) {
        return QChar::isLetterOrNumber(uchar(text.at(at)));
    };
    qsizetype at = std::clamp<qsizetype>(offset - 1, 0, text.size());
    while (at > 0 && at < text.size() && inWord(at) && inWord(at - 1))
        --at;
    const QByteArray before = text.left(at);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    return QStringLiteral("line %1, column %2")
        .arg(before.count('\n') + 1)
        .arg(QString::fromUtf8(before.mid(lineStart)).size() + 1);
}

// Just past the opening quote of the string that runs to the end of `text`: the reader finds
// out only there, which says nothing of where the quote was forgotten.
qsizetype unendedString(const QByteArray &text)
{
    qsizetype opened = text.size();
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (inString && text.at(i) == '\\') {
            ++i;
        } else if (text.at(i) == '"') {
            inString = !inString;
            opened = i + 1;
        }
    }
    return opened;
}

// The first key that one object of `text` (valid JSON) holds twice, with its lines, or null.
// The JSON reader keeps the last of them without a word, so a setting given again at the end
// of a long file would quietly win.
std::optional<QString> repeatedKey(const QByteArray &text)
{
    struct TLevel
    {
        bool IsObject = false;
        bool ExpectKey = false;
        QHash<QString, int> Lines; // each key's first line
    };
    QVector<TLevel> levels;
    int line = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\n') {
            ++line;
        } else if (c == '{' || c == '[') {
            levels.append({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
        } else if (c == ',') {
            if (!levels.isEmpty() && levels.last().IsObject)
                levels.last().ExpectKey = true;
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < text.size() && text.at(i) != '"'; ++i) {
                if (text.at(i) == '\\')
                    ++i;
            }
            if (levels.isEmpty() || !levels.last().ExpectKey)
                continue;
            TLevel &level = levels.last();
            level.ExpectKey = false;
            // The reader itself decodes the key's escapes.
            const QString key = QJsonDocument::fromJson("[" + text.mid(start, i - start + 1) + "]")
                                    .array()
                                    .at(0)
                                    .toString();
            if (level.Lines.contains(key)) {
                const int first = level.Lines.value(key);
                return first == line ? QStringLiteral("%1 is given twice on line %2")
                                           .arg(quoted(key))
                                           .arg(line)
                                     : QStringLiteral("%1 is given twice, on lines %2 and %3")
                                           .arg(quoted(key))
                                           .arg(first)
                                           .arg(line);
            }
            level.Lines.insert(key, line);
        }
    }
    return std::nullopt;
}

// A setting stored as one value under the policies key, as a string; the default is stored as
// no value.
TSetting valueSetting(const recSetting &row)
{
    return {
        QLatin1String(row.Name),
        [&row](const recMachinePolicies &policies) {
            return QJsonValue(MachinePolicies::ValueOf(row, policies));
        },
        [&row](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
            if (!given.isString()) {
                *problem = QStringLiteral("expected a string, not %1").arg(typeName(given));
                return std::nullopt;
            }
            // The default is always there to go back to (an empty home page among them).
            const QString text = given.toString();
            const auto stored =
                text == row.Default ? text : MachinePolicies::Normalise(row, text, problem);
            if (!stored && row.TakesWords())
                *problem =
                    QStringLiteral("%1 is not %2").arg(quoted(text), MachinePolicies::Choices(row));
            if (!stored)
                return std::nullopt;
            return QJsonValue(*stored);
        },
        [&row](const QJsonValue &wanted, TRegistry &batch) {
            if (!batch.OpenKey(MachinePolicies::KeyPath(), true))
                throw EQuelvardError(
                    QStringLiteral("Cannot open %1.").arg(MachinePolicies::KeyPath()));
            const QString valueName = QLatin1String(row.ValueName);
            if (wanted.toString() == row.Default)
                batch.DeleteValue(valueName);
            else
                batch.WriteString(valueName, wanted.toString());
        }};
}

// A set of texts stored as one value each under a subkey of its own; shown sorted.
TSetting listSetting(const recSetting &row)
{
    const QString keyPath = MachinePolicies::ListKeyPath(row);
    return {QLatin1String(row.Name),
            [&row](const recMachinePolicies &policies) {
                QStringList items = MachinePolicies::ItemsOf(row, policies);
                items.sort();
                return QJsonValue(QJsonArray::fromStringList(items));
            },
            [&row](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
                if (!given.isArray()) {
                    *problem =
                        QStringLiteral("expected a list of strings, not %1").arg(typeName(given));
                    return std::nullopt;
                }
                QStringList items;
                QHash<QString, QString> byLowerCase;
                for (const QJsonValue &item : given.toArray()) {
                    if (!item.isString()) {
                        *problem = QStringLiteral("expected a list of strings, but an item is %1")
                                       .arg(typeName(item));
                        return std::nullopt;
                    }
                    QString why;
                    const auto stored = MachinePolicies::Normalise(row, item.toString(), &why);
                    if (!stored) {
                        *problem =
                            QStringLiteral("%1 refused: %2").arg(quoted(item.toString()), why);
                        return std::nullopt;
                    }
                    // The store keeps names apart without regard to letter case.
                    const QString lower = stored->toLower();
                    if (byLowerCase.contains(lower) && byLowerCase.value(lower) != *stored) {
                        *problem = QStringLiteral("%1 and %2 differ only in letter case, which "
                                                  "the store cannot keep apart")
                                       .arg(quoted(byLowerCase.value(lower)), quoted(*stored));
                        return std::nullopt;
                    }
                    if (!byLowerCase.contains(lower))
                        items << *stored;
                    byLowerCase.insert(lower, *stored);
                }
                items.sort();
                return QJsonValue(QJsonArray::fromStringList(items));
            },
            [keyPath](const QJsonValue &wanted, TRegistry &batch) {
                if (!batch.OpenKey(keyPath, true))
                    throw EQuelvardError(QStringLiteral("Cannot open %1.").arg(keyPath));
                // Sets, not lists: a list of 100,000 rules is compared in linear time.
                const QStringList items = wanted.toVariant().toStringList();
                const QSet<QString> wantedItems(items.begin(), items.end());
                for (const QString &name : batch.GetValueNames()) {
                    if (!wantedItems.contains(name))
                        batch.DeleteValue(name);
                }
                const QStringList kept = batch.GetValueNames();
                const QSet<QString> keptItems(kept.begin(), kept.end());
                for (const QString &item : items) {
                    if (!keptItems.contains(item))
                        batch.WriteString(item, QString());
                }
            }};
}

// The shared favorites as the file holds them: [{"name", "url"} | {"name", "children"}], in the
// administrator's order, which the folder keeps, so a tree read back compares equal to the one
// applied.
using MachineFavorites::TNode;

QJsonArray treeToJson(const QVector<TNode> &tree)
{
    QJsonArray items;
    for (const TNode &node : tree) {
        QJsonObject item{{QStringLiteral("name"), node.Name}};
        if (node.IsFolder)
            item.insert(QStringLiteral("children"), treeToJson(node.Children));
        else
            item.insert(QStringLiteral("url"), node.Url);
        items.append(item);
    }
    return items;
}

std::optional<QVector<TNode>> treeFromJson(const QJsonValue &value, QString *problem)
{
    if (!value.isArray()) {
        *problem = QStringLiteral("expected a list of favorites, not %1").arg(typeName(value));
        return std::nullopt;
    }
    QVector<TNode> tree;
    const QString shape = QStringLiteral("a favorite is {\"name\": ..., \"url\": ...} and a folder "
                                         "{\"name\": ..., \"children\": [...]}");
    const QStringList nodeKeys{QStringLiteral("name"), QStringLiteral("url"),
                               QStringLiteral("children")};
    for (const QJsonValue &item : value.toArray()) {
        const QJsonObject node = item.toObject();
        const bool isFolder = node.contains(QStringLiteral("children"));
        for (const QString &key : node.keys()) {
            if (!nodeKeys.contains(key)) {
                *problem = QStringLiteral("%1: %2").arg(shape, unknownKey(key, nodeKeys));
                return std::nullopt;
            }
        }
        // The keys of a JSON object come sorted.
        const QStringList allowed{isFolder ? QStringLiteral("children") : QStringLiteral("name"),
                                  isFolder ? QStringLiteral("name") : QStringLiteral("url")};
        if (!item.isObject() || !node.value(QStringLiteral("name")).isString() ||
            node.keys() != allowed) {
            *problem = shape;
            return std::nullopt;
        }
        const QString name = node.value(QStringLiteral("name")).toString();
        if (isFolder) {
            const auto children = treeFromJson(node.value(QStringLiteral("children")), problem);
            if (!children)
                return std::nullopt;
            tree << TNode::Folder(name, *children);
        } else {
            if (!node.value(QStringLiteral("url")).isString()) {
                *problem = QStringLiteral("the address of %1 is not a string").arg(quoted(name));
                return std::nullopt;
            }
            tree << TNode::Favorite(name, node.value(QStringLiteral("url")).toString());
        }
    }
    return tree;
}

TSetting favoritesSetting()
{
    TSetting setting;
    setting.Key = QStringLiteral("favorites");
    setting.GetOutside = [](QStringList *leftOut) {
        QVector<TNode> tree = MachineFavorites::ReadTree(MachineFavorites::Folder());
        if (leftOut)
            tree = MachineFavorites::Writable(tree, leftOut);
        return QJsonValue(treeToJson(tree));
    };
    setting.Check = [](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
        const auto tree = treeFromJson(given, problem);
        if (!tree)
            return std::nullopt;
        if (const auto why = MachineFavorites::TreeProblem(*tree)) {
            *problem = *why;
            return std::nullopt;
        }
        return QJsonValue(treeToJson(*tree));
    };
    setting.Default = [] { return QJsonValue(QJsonArray()); };
    setting.PutOutside = [](const QJsonValue &wanted) {
        QString problem;
        MachineFavorites::ReplaceTree(treeFromJson(wanted, &problem).value_or(QVector<TNode>()));
    };
    return setting;
}

// The imported category lists as the file names them: [{"name", "path", "list"}], each list
// imported from its path; a category already imported from the same path to the same list is
// left as it stands (import it again with urls import to take a newer list).
TSetting categoriesSetting()
{
    TSetting setting;
    setting.Key = QStringLiteral("categories");
    setting.GetOutside = [](QStringList *) {
        QJsonArray categories;
        for (const CategoryLists::TStored &stored : CategoryLists::Stored())
            categories.append(QJsonObject{{"name", stored.Name},
                                          {"path", stored.Source},
                                          {"list", stored.Allow ? "allow" : "block"}});
        return QJsonValue(categories);
    };
    setting.Check = [](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
        if (!given.isArray()) {
            *problem = QStringLiteral("expected a list of categories, not %1").arg(typeName(given));
            return std::nullopt;
        }
        QJsonArray checked;
        QSet<QString> names;
        for (const QJsonValue &item : given.toArray()) {
            const QJsonObject category = item.toObject();
            const QString name = category.value("name").toString();
            const QString path = category.value("path").toString();
            const QString list = category.value("list").toString();
            if (!item.isObject() || category.size() != 3 || !CategoryLists::ValidName(name) ||
                path.isEmpty() || (list != "block" && list != "allow")) {
                *problem = QStringLiteral(
                    "a category is {\"name\": NAME, \"path\": PATH, \"list\": \"block\" or "
                    "\"allow\"}, its name of lower-case letters, digits, - and _");
                return std::nullopt;
            }
            if (names.contains(name)) {
                *problem = QStringLiteral("the category %1 is named twice").arg(quoted(name));
                return std::nullopt;
            }
            names << name;
            checked.append(QJsonObject{{"name", name}, {"path", path}, {"list", list}});
        }
        return QJsonValue(checked);
    };
    setting.Default = [] { return QJsonValue(QJsonArray()); };
    setting.PutOutside = [](const QJsonValue &wanted) {
        const QVector<CategoryLists::TStored> stored = CategoryLists::Stored();
        QSet<QString> kept;
        for (const QJsonValue &item : wanted.toArray()) {
            const QJsonObject category = item.toObject();
            const QString name = category.value("name").toString();
            const QString path = category.value("path").toString();
            const bool allow = category.value("list").toString() == QLatin1String("allow");
            kept << name;
            const bool same = std::any_of(stored.begin(), stored.end(), [&](const auto &one) {
                return one.Name == name && one.Source == path && one.Allow == allow;
            });
            if (same)
                continue;
            CategoryLists::TRead read;
            CategoryLists::ReadSource(path, read);
            if (!read.Error.isEmpty())
                throw EQuelvardError(read.Error);
            if (read.Entries.isEmpty())
                throw EQuelvardError(QStringLiteral("%1 holds no host").arg(path));
            QString why;
            if (!CategoryLists::Save(name, allow, read.Entries, &why, path))
                throw EQuelvardError(why);
        }
        for (const CategoryLists::TStored &one : stored) {
            QString why;
            if (!kept.contains(one.Name) && !CategoryLists::Drop(one.Name, &why))
                throw EQuelvardError(why);
        }
    };
    return setting;
}

// The time keeper's limits and schedules: [{"who": "everyone" | "user:NAME" | "group:NAME",
// "minutes": 1..1440, "schedule": ["mon-fri 07:30-20:00", ...]}], one entry for each who with
// either or both. They live in the keeper, which is asked only on a machine that notes rules;
// the store notes whether there are any, in the same change as the rest.
QJsonObject askKeeper(const QJsonObject &request)
{
    bool reached = false;
    const QJsonObject answer = KeeperClient::Call(request, &reached);
    if (!answer.value(QStringLiteral("ok")).toBool())
        throw EQuelvardError(
            reached ? QStringLiteral("the time keeper refused: %1")
                          .arg(answer.value(QStringLiteral("error")).toString())
                    : QStringLiteral("%1; it is started by systemctl start quelvard-keeper.socket")
                          .arg(answer.value(QStringLiteral("error")).toString()));
    return answer;
}

QJsonValue keeperRules()
{
    const QJsonObject rules = askKeeper({{QStringLiteral("op"), QStringLiteral("rules")}});
    QMap<QString, QJsonObject> byWho;
    for (const QJsonValue &limit : rules.value(QStringLiteral("limits")).toArray()) {
        const QString who = limit.toObject().value(QStringLiteral("who")).toString();
        byWho[who].insert(QStringLiteral("who"), who);
        byWho[who].insert(QStringLiteral("minutes"),
                          limit.toObject().value(QStringLiteral("minutes")));
    }
    for (const QJsonValue &schedule : rules.value(QStringLiteral("schedules")).toArray()) {
        const QString who = schedule.toObject().value(QStringLiteral("who")).toString();
        byWho[who].insert(QStringLiteral("who"), who);
        byWho[who].insert(QStringLiteral("schedule"),
                          schedule.toObject().value(QStringLiteral("spans")));
    }
    QJsonArray listed;
    for (const QJsonObject &one : byWho)
        listed.append(one);
    return listed;
}

TSetting timeLimitsSetting()
{
    TSetting setting;
    setting.Key = QStringLiteral("time-limits");
    setting.Get = [](const recMachinePolicies &policies) {
        return policies.TimeRules ? keeperRules() : QJsonValue(QJsonArray());
    };
    setting.Check = [](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
        const QString form = QStringLiteral(
            "a time limit is {\"who\": \"everyone\", \"user:NAME\" or \"group:NAME\", "
            "\"minutes\": 1 to 1440, \"schedule\": [\"mon-fri 07:30-20:00\", ...]}, with "
            "minutes or a schedule or both");
        if (!given.isArray()) {
            *problem =
                QStringLiteral("expected a list of time limits, not %1").arg(typeName(given));
            return std::nullopt;
        }
        QMap<QString, QJsonObject> byWho;
        for (const QJsonValue &item : given.toArray()) {
            const QJsonObject limit = item.toObject();
            const QString who = limit.value(QStringLiteral("who")).toString();
            const QJsonValue minutes = limit.value(QStringLiteral("minutes"));
            const QJsonValue schedule = limit.value(QStringLiteral("schedule"));
            static const QRegularExpression whoForm(
                QStringLiteral("^(everyone|user:[^\\s:]+|group:[^\\s:]+)$"));
            const QStringList keys = limit.keys();
            const bool known = std::all_of(keys.begin(), keys.end(), [](const QString &key) {
                return key == QLatin1String("who") || key == QLatin1String("minutes") ||
                       key == QLatin1String("schedule");
            });
            if (!item.isObject() || !known || !whoForm.match(who).hasMatch() ||
                (minutes.isUndefined() && schedule.isUndefined()) ||
                (!minutes.isUndefined() &&
                 (!minutes.isDouble() || minutes.toDouble() < 1 || minutes.toDouble() > 1440 ||
                  std::floor(minutes.toDouble()) != minutes.toDouble())) ||
                (!schedule.isUndefined() &&
                 (!schedule.isArray() || schedule.toArray().isEmpty()))) {
                *problem = form;
                return std::nullopt;
            }
            if (byWho.contains(who)) {
                *problem = QStringLiteral("%1 has two time limits").arg(quoted(who));
                return std::nullopt;
            }
            QJsonObject checked{{QStringLiteral("who"), who}};
            if (!minutes.isUndefined())
                checked.insert(QStringLiteral("minutes"), minutes.toInt());
            if (!schedule.isUndefined()) {
                const QStringList spans = schedule.toVariant().toStringList();
                QString why;
                if (spans.size() != schedule.toArray().size() || !TSchedule::Parse(spans, &why)) {
                    *problem = why.isEmpty() ? form : why;
                    return std::nullopt;
                }
                QStringList lower;
                for (const QString &span : spans)
                    lower << span.toLower();
                checked.insert(QStringLiteral("schedule"), QJsonArray::fromStringList(lower));
            }
            byWho.insert(who, checked);
        }
        QJsonArray listed;
        for (const QJsonObject &one : byWho)
            listed.append(one);
        return QJsonValue(listed);
    };
    setting.Default = [] { return QJsonValue(QJsonArray()); };
    // Whether browsers ask the keeper, written with the rest of the store.
    setting.Put = [](const QJsonValue &wanted, TRegistry &batch) {
        MachinePolicies::SetTimeRules(!wanted.toArray().isEmpty(), &batch);
    };
    setting.PutOutside = [](const QJsonValue &wanted) {
        QSet<QString> kept;
        for (const QJsonValue &item : wanted.toArray()) {
            const QJsonObject limit = item.toObject();
            const QString who = limit.value(QStringLiteral("who")).toString();
            kept << who;
            askKeeper(
                {{QStringLiteral("op"), QStringLiteral("set-limit")},
                 {QStringLiteral("who"), who},
                 {QStringLiteral("minutes"), limit.value(QStringLiteral("minutes")).toInt(0)}});
            askKeeper(
                {{QStringLiteral("op"), QStringLiteral("set-schedule")},
                 {QStringLiteral("who"), who},
                 {QStringLiteral("spans"), limit.value(QStringLiteral("schedule")).toArray()}});
        }
        // What the keeper holds beyond the file goes, as any setting the file leaves out.
        for (const QJsonValue &item : keeperRules().toArray()) {
            const QString who = item.toObject().value(QStringLiteral("who")).toString();
            if (kept.contains(who))
                continue;
            askKeeper({{QStringLiteral("op"), QStringLiteral("set-limit")},
                       {QStringLiteral("who"), who},
                       {QStringLiteral("minutes"), 0}});
            askKeeper({{QStringLiteral("op"), QStringLiteral("set-schedule")},
                       {QStringLiteral("who"), who},
                       {QStringLiteral("spans"), QJsonArray()}});
        }
    };
    return setting;
}

QString compact(const QJsonValue &value);

// Address lists of some accounts only: {"user:alice": {"blocked-urls": [...], "allowed-urls":
// [...]}, "group:pupils": {...}}, in the store beside everyone's.
TSetting accountsSetting()
{
    using MachinePolicies::UrlList;
    TSetting setting;
    setting.Key = QStringLiteral("accounts");
    setting.Get = [](const recMachinePolicies &) {
        QJsonObject accounts;
        for (const QString &who : MachinePolicies::AccountsWithLists()) {
            QStringList blocked = MachinePolicies::ListAccountUrlPatterns(who, UrlList::Block);
            QStringList allowed = MachinePolicies::ListAccountUrlPatterns(who, UrlList::Allow);
            if (blocked.isEmpty() && allowed.isEmpty())
                continue;
            blocked.sort();
            allowed.sort();
            accounts.insert(who,
                            QJsonObject{{"blocked-urls", QJsonArray::fromStringList(blocked)},
                                        {"allowed-urls", QJsonArray::fromStringList(allowed)}});
        }
        return QJsonValue(accounts);
    };
    setting.Check = [](const QJsonValue &given, QString *problem) -> std::optional<QJsonValue> {
        if (!given.isObject()) {
            *problem =
                QStringLiteral("expected an object of accounts, not %1").arg(typeName(given));
            return std::nullopt;
        }
        static const QRegularExpression whoForm(QStringLiteral("^(user|group):[^\\s:\\\\]+$"));
        QJsonObject checked;
        const QJsonObject accounts = given.toObject();
        for (auto it = accounts.begin(); it != accounts.end(); ++it) {
            const QJsonObject lists = it.value().toObject();
            if (!whoForm.match(it.key()).hasMatch() || !it.value().isObject()) {
                *problem = QStringLiteral("an account is \"user:NAME\" or \"group:NAME\" with "
                                          "{\"blocked-urls\": [...], \"allowed-urls\": [...]}, "
                                          "not %1")
                               .arg(quoted(it.key()));
                return std::nullopt;
            }
            QJsonObject one;
            for (const char *key : {"blocked-urls", "allowed-urls"}) {
                const QJsonValue list = lists.value(QLatin1String(key));
                if (!list.isUndefined() && !list.isArray()) {
                    *problem = QStringLiteral("%1: %2 is a list of patterns")
                                   .arg(quoted(it.key()), QLatin1String(key));
                    return std::nullopt;
                }
                QStringList patterns;
                for (const QJsonValue &item : list.toArray()) {
                    QString why;
                    if (!item.isString() || !UrlFilter::Parse(item.toString(), &why)) {
                        *problem = QStringLiteral("%1: %2 refused: %3")
                                       .arg(quoted(it.key()), compact(item),
                                            why.isEmpty() ? QStringLiteral("not a pattern") : why);
                        return std::nullopt;
                    }
                    patterns << item.toString();
                }
                patterns.sort();
                patterns.removeDuplicates();
                one.insert(QLatin1String(key), QJsonArray::fromStringList(patterns));
            }
            for (auto key = lists.begin(); key != lists.end(); ++key) {
                if (key.key() != QLatin1String("blocked-urls") &&
                    key.key() != QLatin1String("allowed-urls")) {
                    *problem = QStringLiteral("%1: unknown key %2")
                                   .arg(quoted(it.key()), quoted(key.key()));
                    return std::nullopt;
                }
            }
            if (!one.value("blocked-urls").toArray().isEmpty() ||
                !one.value("allowed-urls").toArray().isEmpty())
                checked.insert(it.key(), one);
        }
        return QJsonValue(checked);
    };
    setting.Default = [] { return QJsonValue(QJsonObject()); };
    setting.Put = [](const QJsonValue &wanted, TRegistry &batch) {
        const QJsonObject accounts = wanted.toObject();
        for (const QString &who : MachinePolicies::AccountsWithLists()) {
            for (const UrlList list : {UrlList::Block, UrlList::Allow}) {
                for (const QString &pattern : MachinePolicies::ListAccountUrlPatterns(who, list))
                    MachinePolicies::RemoveAccountUrlPattern(who, list, pattern, &batch);
            }
        }
        for (auto it = accounts.begin(); it != accounts.end(); ++it) {
            const QJsonObject lists = it.value().toObject();
            for (const QJsonValue &pattern : lists.value("blocked-urls").toArray())
                MachinePolicies::AddAccountUrlPattern(it.key(), UrlList::Block, pattern.toString(),
                                                      &batch);
            for (const QJsonValue &pattern : lists.value("allowed-urls").toArray())
                MachinePolicies::AddAccountUrlPattern(it.key(), UrlList::Allow, pattern.toString(),
                                                      &batch);
        }
    };
    return setting;
}

// A number of minutes as the file holds it, the word for none or "5"; taken as false or 5 too,
// as YAML (and so an Ansible variable made into JSON) writes them.
TSetting minutesSetting(const recSetting &row)
{
    TSetting setting = valueSetting(row);
    setting.Check = [check = setting.Check, &row](const QJsonValue &given,
                                                  QString *problem) -> std::optional<QJsonValue> {
        const QString choices = MachinePolicies::Choices(row);
        if (given.isBool() && !given.toBool() && !row.Words.isEmpty())
            return QJsonValue(row.Words.value(0));
        if (given.isDouble()) {
            const double minutes = given.toDouble();
            if (minutes >= row.Least && minutes <= row.Most && std::floor(minutes) == minutes)
                return QJsonValue(QString::number(int(minutes)));
            *problem =
                QStringLiteral("%1 is not %2").arg(QString::number(minutes, 'g', 17), choices);
            return std::nullopt;
        }
        if (given.isString())
            return check(given, problem);
        *problem = QStringLiteral("expected %1 (false, or a string or number), not %2")
                       .arg(choices, given.isBool() ? QStringLiteral("true") : typeName(given));
        return std::nullopt;
    };
    return setting;
}

const std::vector<TSetting> &settings()
{
    static const std::vector<TSetting> table = [] {
        std::vector<TSetting> made;
        for (const recSetting &row : MachinePolicies::Settings())
            made.push_back(row.IsList()                ? listSetting(row)
                           : row.Kind == TKind::Number ? minutesSetting(row)
                                                       : valueSetting(row));
        made.push_back(favoritesSetting());
        made.push_back(categoriesSetting());
        made.push_back(accountsSetting());
        made.push_back(timeLimitsSetting());
        return made;
    }();
    return table;
}

QString compact(const QJsonValue &value)
{
    if (value.isString())
        return quoted(value.toString());
    return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
}

} // namespace

QStringList Keys()
{
    QStringList keys;
    for (const TSetting &setting : settings())
        keys << setting.Key;
    return keys;
}

std::optional<QByteArray> ReadText(const QString &path, QString *problem)
{
    const bool standardInput = path == QLatin1String("-");
    // Opened without waiting for a named pipe's writer, and never becoming our terminal: what
    // it is decides whether it is read at all.
    const int fd = standardInput ? STDIN_FILENO
                                 : ::open(QFile::encodeName(path).constData(),
                                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *problem = QStringLiteral("cannot be read: %1").arg(qt_error_string(errno));
        return std::nullopt;
    }
    const auto closeFile = qScopeGuard([&] {
        if (!standardInput)
            ::close(fd);
    });
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        *problem = QStringLiteral("cannot be read: %1").arg(qt_error_string(errno));
        return std::nullopt;
    }
    const QString limit =
        QStringLiteral("a policy file is at most %1 MB").arg(MaxFileBytes / (1024 * 1024));
    if (!standardInput && !S_ISREG(info.st_mode)) {
        const QString kind = S_ISDIR(info.st_mode)    ? QStringLiteral("a folder")
                             : S_ISFIFO(info.st_mode) ? QStringLiteral("a named pipe")
                             : S_ISSOCK(info.st_mode) ? QStringLiteral("a socket")
                                                      : QStringLiteral("a device");
        *problem = QStringLiteral("is %1, not a regular file").arg(kind);
        return std::nullopt;
    }
    if (S_ISREG(info.st_mode) && info.st_size > MaxFileBytes) {
        *problem = QStringLiteral("is too large: %1").arg(limit);
        return std::nullopt;
    }
    // A file that grows while read, and standard input, stop at the same limit.
    QByteArray text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *problem = QStringLiteral("cannot be read: %1").arg(qt_error_string(errno));
            return std::nullopt;
        }
        if (got == 0)
            return text;
        if (text.size() + got > MaxFileBytes) {
            *problem = QStringLiteral("is too large: %1").arg(limit);
            return std::nullopt;
        }
        text.append(buffer, got);
    }
}

QJsonObject FromPolicies(const MachinePolicies::recMachinePolicies &policies, QStringList *leftOut)
{
    QJsonObject object;
    for (const TSetting &setting : settings())
        object.insert(setting.Key,
                      setting.GetOutside ? setting.GetOutside(leftOut) : setting.Get(policies));
    return object;
}

std::optional<QJsonObject> Parse(const QByteArray &text, QString *problem)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON: %1 at %2")
                       .arg(error.errorString(),
                            placeOf(text, error.error == QJsonParseError::UnterminatedString
                                              ? unendedString(text)
                                              : error.offset));
        return std::nullopt;
    }
    if (const auto repeated = repeatedKey(text)) {
        *problem = *repeated;
        return std::nullopt;
    }
    if (!document.isObject()) {
        *problem = QStringLiteral("the file holds one JSON object, {...}");
        return std::nullopt;
    }
    const QJsonObject given = document.object();
    const QStringList keys = Keys();
    for (auto it = given.begin(); it != given.end(); ++it) {
        if (keys.contains(it.key()))
            continue;
        *problem = it.key() == QLatin1String("login")
                       ? QStringLiteral("\"login\": the login is not part of the policy file; "
                                        "set it with quelvard-admin set-login")
                       : unknownKey(it.key(), keys);
        return std::nullopt;
    }
    QJsonObject wanted;
    for (const TSetting &setting : settings())
        wanted.insert(setting.Key, setting.Default
                                       ? setting.Default()
                                       : setting.Get(MachinePolicies::recMachinePolicies()));
    for (const TSetting &setting : settings()) {
        if (!given.contains(setting.Key))
            continue;
        QString why;
        const auto value = setting.Check(given.value(setting.Key), &why);
        if (!value) {
            *problem = QStringLiteral("%1: %2").arg(quoted(setting.Key), why);
            return std::nullopt;
        }
        wanted.insert(setting.Key, *value);
    }
    return wanted;
}

QByteArray Text(const QJsonObject &settingsObject)
{
    QStringList lines;
    for (const TSetting &setting : settings()) {
        const QJsonValue value = settingsObject.value(setting.Key);
        QString line = QStringLiteral("  %1: ").arg(quoted(setting.Key));
        if (value.isArray() && !value.toArray().isEmpty() && value.toArray().first().isObject()) {
            // A tree: indented as JSON shows it, under its key.
            QString tree =
                QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented));
            tree.chop(1);
            line += tree.replace(QLatin1Char('\n'), QStringLiteral("\n  "));
        } else if (value.isArray()) {
            QStringList items;
            for (const QJsonValue &item : value.toArray())
                items << QStringLiteral("    ") + quoted(item.toString());
            line += items.isEmpty() ? QStringLiteral("[]")
                                    : QStringLiteral("[\n%1\n  ]").arg(items.join(",\n"));
        } else if (value.isObject()) {
            QString object =
                QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented));
            object.chop(1);
            line += value.toObject().isEmpty()
                        ? QStringLiteral("{}")
                        : object.replace(QLatin1Char('\n'), QStringLiteral("\n  "));
        } else {
            line += compact(value);
        }
        lines << line;
    }
    return QStringLiteral("{\n%1\n}\n").arg(lines.join(",\n")).toUtf8();
}

QStringList Differences(const QJsonObject &current, const QJsonObject &wanted)
{
    QStringList lines;
    for (const TSetting &setting : settings()) {
        const QJsonValue before = current.value(setting.Key);
        const QJsonValue after = wanted.value(setting.Key);
        if (before != after)
            lines
                << QStringLiteral("%1: %2 -> %3").arg(setting.Key, compact(before), compact(after));
    }
    return lines;
}

void Write(const QJsonObject &current, const QJsonObject &wanted)
{
    TRegistry batch;
    batch.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    batch.BeginBatch();
    std::vector<const TSetting *> outside;
    for (const TSetting &setting : settings()) {
        if (current.value(setting.Key) == wanted.value(setting.Key))
            continue;
        if (setting.PutOutside)
            outside.push_back(&setting);
        if (setting.Put)
            setting.Put(wanted.value(setting.Key), batch);
    }
    // The files first: should they fail, the batch is dropped and the files written so far are
    // put back; should the store then fail, every file is put back as it was.
    std::vector<const TSetting *> done;
    auto putBack = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it)
            (*it)->PutOutside(current.value((*it)->Key));
    };
    try {
        for (const TSetting *setting : outside) {
            done.push_back(setting);
            setting->PutOutside(wanted.value(setting->Key));
        }
        batch.CommitBatch();
    } catch (...) {
        putBack();
        throw;
    }
}

} // namespace PolicyFile
