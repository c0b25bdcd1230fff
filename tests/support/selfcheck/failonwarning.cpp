// Proves the suites' check on the program's log: run with "unexpected" it must fail, with
// "expected" it must pass.
#include "common/guard.h"
#include "support/testmain.h"

#include <stdexcept>

class tst_FailOnWarning : public QObject
{
    Q_OBJECT

private slots:
    void unexpected()
    {
        Guard::Run("a handler", [] { throw std::runtime_error("broken"); });
    }
    void expected()
    {
        QTest::ignoreMessage(QtWarningMsg, "a handler failed: broken");
        QVERIFY(!Guard::Run("a handler", [] { throw std::runtime_error("broken"); }));
    }
    void otherCategories() { qWarning("a warning outside the program's category"); }
};

QUELVARD_TEST_GUILESS_MAIN(tst_FailOnWarning)
#include "failonwarning.moc"
