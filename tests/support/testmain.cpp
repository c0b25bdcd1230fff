#include "support/testmain.h"

#include <cstring>

namespace {

QtMessageHandler g_testLibHandler = nullptr;

// Sits in front of the test library's handler. A warning of the program's category is first
// made a failure pattern, then handed on: the test library swallows it when the test expected
// it (QTest::ignoreMessage is checked first) and fails the test function otherwise.
void FailOnProgramWarnings(QtMsgType type, const QMessageLogContext &context,
                           const QString &message)
{
    if (type == QtWarningMsg && context.category && std::strcmp(context.category, "quelvard") == 0)
        QTest::failOnWarning(qPrintable(message));
    g_testLibHandler(type, context, message);
}

} // namespace

int TestSupport::RunSuite(QObject *suite, int argc, char **argv)
{
    QTest::qInit(suite, argc, argv);
    g_testLibHandler = qInstallMessageHandler(FailOnProgramWarnings);
    const int failures = QTest::qRun();
    qInstallMessageHandler(g_testLibHandler);
    QTest::qCleanup();
    return failures;
}
