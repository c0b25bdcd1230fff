#pragma once

#include <QString>

// Small routines shared by the subsystems: the window position, the companion product's
// settings file, the start page, the application folder and the domain of an address.
namespace GenUtilities {

QString GetPosition();
void SavePosition(const QString &text);
QString GetCompanionSettingsFile();
bool CompanionSettingsExist();
QString GetHomePage();

// Position text split as comma-separated text (quotes, blanks and commas as separators).
QStringList SplitCommaText(const QString &text);

// Per-user application folder ("…/Quelvard/"); also the favorites folder. Empty when unknown.
QString GetAppDataFolder();
// Host name (and port) of an address in the address's own letter case; empty without a host.
QString GetDomain(const QString &url);

} // namespace GenUtilities
