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

// Every key, in the order the file shows them.
QStringList Keys();

// The settings as the file holds them, normalised, with every key present.
QJsonObject FromPolicies(const MachinePolicies::recMachinePolicies &policies);

// The settings a file asks for, every absent key at its default; or null, and `problem` says
// which key is wrong and how.
std::optional<QJsonObject> Parse(const QByteArray &text, QString *problem);

// The file's text for `settings`: keys in table order, one list item a line.
QByteArray Text(const QJsonObject &settings);

// One line per key whose value differs, "KEY: OLD -> NEW"; empty when nothing would change.
QStringList Differences(const QJsonObject &current, const QJsonObject &wanted);

// Writes the keys whose value differs into the machine hive as one change: all of it or,
// when anything fails (raising EQuelvardError), nothing.
void Write(const QJsonObject &current, const QJsonObject &wanted);

} // namespace PolicyFile
