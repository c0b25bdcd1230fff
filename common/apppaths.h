#pragma once

#include <QString>
#include <QStringList>

// The folders the program keeps its state in. Each has a platform default; tests point them
// at temporary folders so no run touches a real profile or the machine-wide folder.
namespace AppPaths {

// Per-user application data ($XDG_DATA_HOME); the favorites live below it.
QString UserDataDir();
// Machine-wide data folder; empty when it cannot be had.
QString MachineDataDir();
// The current user's registry hive file.
QString UserHiveFile();
// The machine's registry hive file.
QString MachineHiveFile();
// Where the web engine keeps cookies and site storage, and its HTTP cache, when browsing data
// is kept: folders of their own, never below the favorites folder.
QString EngineStorageDir();
QString EngineCacheDir();
// Beside the engine's cache: the records of what each run must leave nobody (the engine's
// folder of a run that forgets, a visitor's downloads), kept where a crash or a power cut does
// not lose them and never below the favorites folder.
QString RunRecordsDir();
// The engine's own folder for an off-the-record profile: a run's folder among the records,
// which the engine would otherwise put below the application's data folder, the favorites.
QString EngineRunDir(const QString &name);
// The folder holding the running executable, with a trailing separator.
QString ProgramDir();

void OverrideUserDataDir(const QString &dir);
void OverrideMachineDataDir(const QString &dir);
void OverrideUserHiveFile(const QString &file);
void OverrideMachineHiveFile(const QString &file);
// The engine's folders are fixed for a run once its profile exists, so this override is not
// cleared by ClearOverrides().
void OverrideEngineDirs(const QString &storage, const QString &cache);
void ClearOverrides();
// Every per-user path as the program finds them for the user whose home this is, when they
// have no XDG folders of their own named (work done for a user by the administrator's command).
void UseHome(const QString &home);

// Creates `dir` and any missing parent, each new folder readable by its owner only: what the
// program keeps for a user is nobody else's to read. True when the folder exists afterwards.
bool MakeUserFolder(const QString &dir);
// Creates `dir` and its missing parents as a machine folder: 0755 whatever the umask.
bool MakeMachineFolder(const QString &dir);
// What makes an existing machine file or folder unsafe to trust: a symbolic link, an owner
// other than root, write access for group or others (anyone who could change it could change
// what every user's browser obeys). One line each, naming the command that mends it; empty for
// a path that is not there.
QStringList UnsafeMachinePath(const QString &path);

} // namespace AppPaths
