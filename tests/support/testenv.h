#pragma once

#include "support/scripteddialogs.h"

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace FavoritesStore {
struct TFavoriteItem;
}

// Points every folder and hive the program uses at a fresh temporary folder for one test.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    QString root() const { return m_dir.path(); }
    QString userDataDir() const;
    QString machineDataDir() const;
    QString userHive() const;
    QString machineHive() const;
    // Makes every write to the machine hive fail: a file takes its folder's place.
    void blockMachineHive() const;
    // Where the user's Downloads folder is unless setDownloadFolder says otherwise.
    QString downloadsDir() const { return root() + QStringLiteral("/Downloads"); }
    // Points the user's Downloads folder at `folder` through xdg-user-dirs, as on a desktop.
    void setDownloadFolder(const QString &folder) const;

private:
    QTemporaryDir m_dir;
};

// The fixture of most suites: each test runs in a fresh environment, the program's dialogs
// answered from a script. A suite with more to set up calls these from its own init() and
// cleanup().
class EnvironmentSuite : public QObject
{
    Q_OBJECT

protected slots:
    void init();
    void cleanup();

protected:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
};

// Writes `bytes` to `path`, making the folders above it; a file it cannot write fails the test.
void writeBytes(const QString &path, const QByteArray &bytes);
// What the file holds, or "<unreadable>".
QByteArray readBytes(const QString &path);
// Every entry below `folder` (hidden ones and links that lead nowhere included) as sorted paths
// relative to it, or "(none)" when there is no such folder.
QStringList entriesBelow(const QString &folder);

// Builds a tree below `root`: "name/" is a folder, "name -> target" a symbolic link, "name|" a
// named pipe, anything else a favorite holding a URL made of its path.
void makeLayout(const QString &root, const QStringList &layout);
// Favorites read from disk, one line an item, two blanks a level, folders marked with a "/".
QStringList outline(const QVector<FavoritesStore::TFavoriteItem> &items,
                    const QString &indent = QString());
// A policy file whose shared favorites are one favorite at the bottom of `depth` nested folders,
// each folder named with `nameLength` times `letter`, the favorite `leafLength` long (as long
// unless given).
QByteArray nestedFavorites(int depth, int nameLength, QChar letter = QLatin1Char('f'),
                           int leafLength = -1);

// Registers the program's URL scheme and turns on test paths; call before QApplication
// (QTEST_MAIN does that through initMain()).
void InitWebTestProcess();
// The same, for suites that download: the Downloads folder comes from xdg-user-dirs as on a
// desktop, which the standard paths' test mode would hide, so test mode is off and the home
// folder is a temporary one of the process's own.
void InitDownloadingTestProcess();

// A suite that drives real pages, its process made ready for them.
class WebSuite : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }
};
