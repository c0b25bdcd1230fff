#pragma once

#include <QString>

class TIniFile;

// The administrator login: kept enciphered in the machine hive, taken over from the companion
// product's settings file when the hive holds none.
struct recAdminLogin
{
    QString Password;
    QString Question1;
    QString Answer1;
    QString Question2;
    QString Answer2;

    bool operator==(const recAdminLogin &other) const
    {
        return Password == other.Password && Question1 == other.Question1 &&
               Answer1 == other.Answer1 && Question2 == other.Question2 && Answer2 == other.Answer2;
    }
    bool operator!=(const recAdminLogin &other) const { return !(*this == other); }
};

namespace GenUtilities {

// Key strings of the cipher: the hive's values and the companion file's section name (1), the
// companion file's password entry (2) and its reminder entries (3).
extern const QString AdminLoginKey1;
extern const QString AdminLoginKey2;
extern const QString AdminLoginKey3;

// "Software\Microsoft\Rowen" under the machine hive, and the companion file's plain section name.
extern const QString AdminLoginRegistryKey;
extern const QString CompanionLoginSection;

// Loads the login. An empty Password means no login is stored. Raises EQuelvardError when a
// hive value is of another type, the hive cannot be read, or the companion file exists but
// cannot be read.
recAdminLogin LoadAdminLogin();
// The same, filling `login` as it goes so that a caller who absorbs the error keeps the fields
// read before it. With `migrate` false the companion file is not consulted.
void LoadAdminLogin(recAdminLogin &login, bool migrate = true);

// Writes all five values and proves the write by reading them back; false on any failure.
bool SaveAdminLogin(const recAdminLogin &login);

// Deletes the five values of the login, so the next start asks for a new one. Raises
// EQuelvardError when the hive cannot be written.
void RemoveAdminLogin();

// The deciphered value of one entry of the companion file, or empty; never raises.
QString ReadCompanionLoginEntry(const TIniFile &settings, const QString &section,
                                const QString &entryName, const QString &keyString);

} // namespace GenUtilities
