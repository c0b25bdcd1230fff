#pragma once

#include <QTemporaryDir>

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

private:
    QTemporaryDir m_dir;
};

// Registers the program's URL scheme and turns on test paths; call before QApplication
// (QTEST_MAIN does that through initMain()).
void InitWebTestProcess();
// The same, for suites that download: the Downloads folder comes from xdg-user-dirs as on a
// desktop, which the standard paths' test mode would hide, so test mode is off and the home
// folder is a temporary one of the process's own.
void InitDownloadingTestProcess();
