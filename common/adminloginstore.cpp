#include "common/adminloginstore.h"

#include "common/encryption.h"
#include "common/errors.h"
#include "common/genutilities.h"
#include "common/guard.h"
#include "common/inifile.h"
#include "common/registry.h"
#include "common/textutils.h"

namespace GenUtilities {

const QString AdminLoginKey1 = QStringLiteral("Qw3#rT8!zP0%kL5$");
const QString AdminLoginKey2 = QStringLiteral("nB7&yU2*eR9(oI4)");
const QString AdminLoginKey3 = QStringLiteral("%Zx6^cV1&bN8*mM3");
const QString AdminLoginRegistryKey = QStringLiteral("Software\\Microsoft\\Rowen");
const QString CompanionLoginSection = QStringLiteral("GeneralPreferences");

namespace {

const QString ValueLevel = QStringLiteral("Level");
const QString ValueConfirm = QStringLiteral("Confirm");
const QString ValueConfirm1 = QStringLiteral("Confirm1");
const QString ValueObscure = QStringLiteral("Obscure");
const QString ValueObscure1 = QStringLiteral("Obscure1");

QString decipher(const QString &cipherText)
{
    return CryptString(cipherText, AdminLoginKey1, false);
}

QString encipher(const QString &plainText)
{
    return CryptString(plainText, AdminLoginKey1, true);
}

void migrateFromCompanion(recAdminLogin &login)
{
    // A file that exists but cannot be read fails the whole load; a missing one reads empty.
    const TIniFile settings = TIniFile::Load(GetCompanionSettingsFile());
    // Any other failure ends the migration quietly; the fields read so far stay.
    Guard::Run("migrateFromCompanion", [&] {
        const QString section = CryptString(CompanionLoginSection, AdminLoginKey1, true);
        login.Password = TextUtils::Trim(ReadCompanionLoginEntry(
            settings, section, QStringLiteral("LoginPassword"), AdminLoginKey2));
        login.Question1 = ReadCompanionLoginEntry(settings, section,
                                                  QStringLiteral("LoginQuestion1"), AdminLoginKey3);
        login.Answer1 = TextUtils::Trim(TextUtils::LowerCase(ReadCompanionLoginEntry(
            settings, section, QStringLiteral("LoginAnswer1"), AdminLoginKey3)));
        login.Question2 = ReadCompanionLoginEntry(settings, section,
                                                  QStringLiteral("LoginQuestion2"), AdminLoginKey3);
        login.Answer2 = TextUtils::Trim(TextUtils::LowerCase(ReadCompanionLoginEntry(
            settings, section, QStringLiteral("LoginAnswer2"), AdminLoginKey3)));
        // Taken over once when the hive accepts it; otherwise every load migrates again.
        if (!login.Password.isEmpty())
            SaveAdminLogin(login);
    });
}

} // namespace

void LoadAdminLogin(recAdminLogin &login, bool migrate)
{
    login = recAdminLogin();
    {
        TRegistry registry(TRegistry::KEY_READ);
        registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
        if (registry.KeyExists(AdminLoginRegistryKey) &&
            registry.OpenKeyReadOnly(AdminLoginRegistryKey)) {
            login.Password = decipher(registry.ReadString(ValueLevel));
            login.Question1 = decipher(registry.ReadString(ValueConfirm));
            login.Answer1 = decipher(registry.ReadString(ValueConfirm1));
            login.Question2 = decipher(registry.ReadString(ValueObscure));
            login.Answer2 = decipher(registry.ReadString(ValueObscure1));
        }
        // The registry closes here, also when a read raised.
    }
    if (login.Password.isEmpty() && migrate)
        migrateFromCompanion(login);
}

recAdminLogin LoadAdminLogin()
{
    recAdminLogin login;
    LoadAdminLogin(login, true);
    return login;
}

void RemoveAdminLogin()
{
    TRegistry registry(TRegistry::KEY_ALL_ACCESS);
    registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
    if (!registry.KeyExists(AdminLoginRegistryKey) ||
        !registry.OpenKey(AdminLoginRegistryKey, false))
        return;
    for (const QString &name :
         {ValueLevel, ValueConfirm, ValueConfirm1, ValueObscure, ValueObscure1})
        registry.DeleteValue(name);
}

bool SaveAdminLogin(const recAdminLogin &login)
{
    try {
        const struct
        {
            const QString &name;
            const QString &field;
        } values[] = {
            {ValueLevel, login.Password},   {ValueConfirm, login.Question1},
            {ValueConfirm1, login.Answer1}, {ValueObscure, login.Question2},
            {ValueObscure1, login.Answer2},
        };
        QString written[5];
        {
            TRegistry registry(TRegistry::KEY_ALL_ACCESS);
            registry.SetRootKey(TRegistry::HKEY_LOCAL_MACHINE);
            registry.OpenKey(AdminLoginRegistryKey, true);
            for (int i = 0; i < 5; ++i) {
                written[i] = encipher(values[i].field);
                registry.WriteString(values[i].name, written[i]);
            }
        }
        // Read back without migrating: a password that does not read back must not pull in
        // the companion file's login and save that instead.
        recAdminLogin loaded;
        LoadAdminLogin(loaded, false);
        const QString *const readBack[] = {&loaded.Password, &loaded.Question1, &loaded.Answer1,
                                           &loaded.Question2, &loaded.Answer2};
        for (int i = 0; i < 5; ++i) {
            if (decipher(written[i]) != *readBack[i])
                return false;
        }
        return true;
    } catch (const EQuelvardError &) {
        // A refused write (typically for lack of rights): the caller reports the failure.
        return false;
    } catch (...) {
        Guard::LogCurrentException("SaveAdminLogin");
        return false;
    }
}

QString ReadCompanionLoginEntry(const TIniFile &settings, const QString &section,
                                const QString &entryName, const QString &keyString)
{
    QString value;
    Guard::Run("ReadCompanionLoginEntry", [&] {
        const QByteArray name = Encryption::EncipherBytes(entryName.toUtf8(), keyString.toUtf8());
        const QByteArray raw = TextUtils::Trim(settings.Value(section.toUtf8(), name));
        if (!raw.isEmpty())
            value = Encryption::TextFromBytes(Encryption::DecipherBytes(raw, keyString.toUtf8()));
    });
    return value;
}

} // namespace GenUtilities
