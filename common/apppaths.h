#pragma once

#include <QString>

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
// The folder holding the running executable, with a trailing separator.
QString ProgramDir();

void OverrideUserDataDir(const QString &dir);
void OverrideMachineDataDir(const QString &dir);
void OverrideUserHiveFile(const QString &file);
void OverrideMachineHiveFile(const QString &file);
void ClearOverrides();

} // namespace AppPaths
