#pragma once

#include "common/machinepolicies.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// The machine's whole policy as one JSON object, for fleets: `quelvard-admin export` prints it
// and `quelvard-admin apply` makes the machine equal to it. A key the file leaves out means that
// setting's default, so the file is the whole policy. The administrator login is not part of it.
// Every setting is one entry of a table (its key, how a value is checked and normalised, how it
// is read from the settings and written into the store), so a setting added later is one entry.
namespace PolicyFile {

// The longest policy file read, in bytes: several times the largest real policy (100,000 address
// patterns), so a wrong file given by mistake is refused instead of read until memory runs out.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

// The text of the policy file `path`, or of standard input for "-"; or null, and `problem` says
// why: only a regular file (or standard input) of at most MaxFileBytes is read.
std::optional<QByteArray> ReadText(const QString &path, QString *problem);

// Every key, in the order the file shows them.
QStringList Keys();

// The settings as the file holds them, normalised, with every key present. With `leftOut`, what
// the file cannot hold (shared favorites past the limits, made by hand) is left out and named
// there, so the result is a file apply takes; without it the settings are exactly as stored.
QJsonObject FromPolicies(const MachinePolicies::recMachinePolicies &policies,
                         QStringList *leftOut = nullptr);

// The settings a file asks for, every absent key at its default; or null, and `problem` says
// which key is wrong and how (a key given twice, or the place of a JSON error, by its line).
std::optional<QJsonObject> Parse(const QByteArray &text, QString *problem);

// The file's text for `settings`: keys in table order, one list item a line.
QByteArray Text(const QJsonObject &settings);

// One line per key whose value differs, "KEY: OLD -> NEW"; empty when nothing would change.
QStringList Differences(const QJsonObject &current, const QJsonObject &wanted);

// Writes the keys whose value differs into the machine hive as one change: all of it or,
// when anything fails (raising EQuelvardError), nothing.
void Write(const QJsonObject &current, const QJsonObject &wanted);

} // namespace PolicyFile
