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
