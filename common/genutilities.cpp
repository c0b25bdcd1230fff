#include "common/genutilities.h"

#include "common/apppaths.h"
#include "common/guard.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "common/textutils.h"
#include "config.h"

#include <QFileInfo>
#include <QStringList>

namespace GenUtilities {

namespace {
const QString PositionKey = QStringLiteral("\\Software\\Quelvard");
const QString PositionValue = QStringLiteral("Position");
} // namespace

QString GetPosition()
{
    QString result;
    // A hive that cannot be read counts as no position stored.
    if (!Guard::Run("GetPosition", [&result] {
            TRegistry registry;
            registry.SetRootKey(TRegistry::HKEY_CURRENT_USER);
            if (registry.OpenKey(PositionKey, true)) {
                result = registry.ReadString(PositionValue);
                registry.CloseKey();
            }
        }))
        result.clear();
    return result;
}

void SavePosition(const QString &text)
{
    Guard::Run("SavePosition", [&text] {
        TRegistry registry;
        registry.SetRootKey(TRegistry::HKEY_CURRENT_USER);
        if (registry.OpenKey(PositionKey, true)) {
            registry.WriteString(PositionValue, text);
            registry.CloseKey();
        }
    });
}

QString GetCompanionSettingsFile()
{
    QString file;
    Guard::Run("GetCompanionSettingsFile", [&file] {
        QString folder = AppPaths::MachineDataDir();
        if (TextUtils::Trim(folder).isEmpty())
            folder = AppPaths::ProgramDir();
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        file = folder + QStringLiteral("ZMT/dbchcon");
    });
    return file;
}

bool CompanionSettingsExist()
{
    bool exists = false;
    Guard::Run("CompanionSettingsExist", [&exists] {
        const QString file = GetCompanionSettingsFile();
        exists = !file.isEmpty() && QFileInfo(file).isFile();
    });
    return exists;
}

QString GetHomePage()
{
    const QString machineHome = MachinePolicies::Current().HomePage;
    if (!machineHome.isEmpty())
        return machineHome;
    return QStringLiteral(QUELVARD_START_PAGE_URL);
}

TStoredPosition ParsePosition(const QString &text)
{
    TStoredPosition position;
    const QStringList items = SplitCommaText(TextUtils::Trim(text));
    if (items.size() < 4)
        return position;
    std::optional<int> *const fields[] = {&position.Left, &position.Top, &position.Width,
                                          &position.Height};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = items.at(i).toInt(&ok);
        if (!ok)
            break;
        *fields[i] = value;
    }
    return position;
}

QStringList SplitCommaText(const QString &text)
{
    // Blanks and control characters separate items like commas do; a quoted item may hold both.
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto isSeparatorBlank = [](QChar c) { return c.unicode() <= 32; };
    while (i < n && isSeparatorBlank(text.at(i)))
        ++i;
    if (i >= n)
        return items;
    while (true) {
        QString item;
        if (text.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (text.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                        item += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text.at(i++);
            }
            // Text glued to a closing quote belongs to the same item.
            while (i < n && text.at(i) != QLatin1Char(',') && !isSeparatorBlank(text.at(i)))
                item += text.at(i++);
        } else {
            while (i < n && text.at(i) != QLatin1Char(',') && !isSeparatorBlank(text.at(i)))
                item += text.at(i++);
        }
        items << item;
        while (i < n && isSeparatorBlank(text.at(i)))
            ++i;
        if (i >= n)
            break;
        if (text.at(i) == QLatin1Char(',')) {
            ++i;
            while (i < n && isSeparatorBlank(text.at(i)))
                ++i;
            if (i >= n) {
                items << QString(); // a trailing comma ends with an empty item
                break;
            }
        }
    }
    return items;
}

QString GetAppDataFolder()
{
    QString result;
    Guard::Run("GetAppDataFolder", [&result] {
        QString folder = TextUtils::Trim(AppPaths::UserDataDir());
        if (folder.isEmpty())
            return;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        result = folder + QStringLiteral("Quelvard/");
    });
    return result;
}

} // namespace GenUtilities
