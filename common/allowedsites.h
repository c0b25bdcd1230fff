#pragma once

#include <QString>
#include <QStringList>

// The list of sites that may open popup windows: one value per site under
// "\Software\Quelvard\Popups" in the current user's hive. Only value names count; type and
// data are ignored. Each operation opens the key (creating it), works and closes it again;
// failures raise EQuelvardError for the caller to absorb.
namespace PopupStore {

QString KeyPath();

// Who asks for a change: a user's own changes are refused (EQuelvardError) while the
// administrator forbids them; the administrator's command changes a user's list regardless.
enum class TBy { User, Administrator };

// Every value name of the key, in the store's order, as stored.
QStringList ListSites();
// Writes an empty string value named domain unless a value of that name (in any letter case)
// exists; an existing value keeps its type and data. An empty name is refused: it would be the
// key's unnamed value, which no load ever lists.
void AddSite(const QString &domain, TBy by = TBy::User);
// Deletes the value of exactly this name, if there is one.
void RemoveSite(const QString &name, TBy by = TBy::User);

// The blocking list made from stored names: trimmed, A-Z lower-cased, spaces removed, empty
// names dropped; order kept, duplicates kept.
QStringList NormaliseSites(const QStringList &names);
// NormaliseSites(ListSites()), or an empty list (everything blocked) when the store fails.
QStringList LoadNormalisedSites();

// True when url's domain is on allowedSites (whole domain, letter case ignored). An address
// without a domain is never allowed; any failure counts as not allowed.
bool IsAllowed(const QStringList &allowedSites, const QString &url);

} // namespace PopupStore
