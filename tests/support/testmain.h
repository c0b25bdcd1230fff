#pragma once

#include <QApplication>
#include <QtTest>

namespace TestSupport {

// Runs a suite as QTest::qExec does, and fails the running test function on any warning of the
// program's "quelvard" log category that the test did not expect with QTest::ignoreMessage: a
// handler that failed quietly is a fault the suite must see.
int RunSuite(QObject *suite, int argc, char **argv);

} // namespace TestSupport

// QTEST_MAIN and QTEST_GUILESS_MAIN with the check above.
#define QUELVARD_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTest::Internal::callInitMain<TestObject>();                                               \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return TestSupport::RunSuite(&tc, argc, argv);                                             \
    }

#define QUELVARD_TEST_GUILESS_MAIN(TestObject)                                                     \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QTest::Internal::callInitMain<TestObject>();                                               \
        QCoreApplication app(argc, argv);                                                          \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return TestSupport::RunSuite(&tc, argc, argv);                                             \
    }
