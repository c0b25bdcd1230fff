#pragma once

#include <QString>
#include <optional>

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

// The stored Position text as the window applies it: Left, Top, Width and Height, in that order.
// Reading stops at the first item that is not a whole number, and the window keeps what was
// read before it; with fewer than four items nothing is read at all.
struct TStoredPosition
{
    std::optional<int> Left;
    std::optional<int> Top;
    std::optional<int> Width;
    std::optional<int> Height;

    // All four were read: the window takes this place and size; it is maximised otherwise.
    bool Complete() const { return Height.has_value(); }
};
TStoredPosition ParsePosition(const QString &text);

// Per-user application folder ("…/Quelvard/"); also the favorites folder. Empty when unknown.
QString GetAppDataFolder();
// Host name (and port) of an address in the address's own letter case; empty without a host.
QString GetDomain(const QString &url);

} // namespace GenUtilities
