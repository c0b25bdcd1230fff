// An unlocked browser locks itself again after the machine's quiet minutes, on a fast clock.
#include "admin/adminlock.h"
#include "admin/relock.h"
#include "common/adminloginstore.h"
#include "common/machinepolicies.h"
#include "support/browserfixture.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QtTest>

class tst_Relock : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitWebTestProcess(); }

private slots:
    void cleanup()
    {
        MachinePolicies::Forget();
        EnvironmentSuite::cleanup();
    }

    void quietUnlockedBrowserLocksAgain()
    {
        MachinePolicies::Set(&MachinePolicies::recMachinePolicies::RelockMinutes, 2);
        MachinePolicies::Forget();
        auto browser = TestPages::Browser::open(*m_dialogs);
        QVERIFY(browser);
        TAdminLock *lock = browser->window.AdminLock();
        // Two minutes of 150 ms each.
        lock->Relock()->SetMinuteMs(150);
        QVERIFY(browser->unlock(*m_dialogs));

        // Input keeps it unlocked well past the quiet time.
        QElapsedTimer input;
        input.start();
        while (input.elapsed() < 900) {
            QTest::mouseMove(&browser->window, QPoint(100 + int(input.elapsed() % 50), 100));
            QTest::qWait(40);
            QVERIFY2(!lock->IsLocked(), qPrintable(QString::number(input.elapsed())));
        }
        QTRY_VERIFY_WITH_TIMEOUT(lock->IsLocked(), 5000);
    }
};

QUELVARD_TEST_MAIN(tst_Relock)
#include "tst_relock.moc"
