// A kiosk: the visitor's session ends after a quiet spell, and the window stays full screen
// while locked.
#include "admin/adminlock.h"
#include "admin/adminlogin.h"
#include "common/genutilities.h"
#include "common/machinepolicies.h"
#include "config.h"
#include "kiosk/idlereset.h"
#include "page/webview.h"
#include "support/browserfixture.h"
#include "support/httpserver.h"
#include "support/pagewait.h"
#include "support/testenv.h"
#include "support/testmain.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QtTest>

using namespace TestPages;
using namespace std::chrono_literals;

class tst_Kiosk : public EnvironmentSuite
{
    Q_OBJECT

public:
    static void initMain() { InitDownloadingTestProcess(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setHtml("/page", "Page", TestHttpServer::link("file", "/file"));
        m_server.setHtml("/full", "Full",
                         "<button id='full' style='width:300px;height:100px'"
                         " onclick='document.documentElement.requestFullscreen()'>Full</button>");
        m_server.setPage("/file", "bytes\n", TestHttpServer::attachment("kept.txt"));
    }

    void init()
    {
        EnvironmentSuite::init();
        m_env->setDownloadFolder(m_env->downloadsDir());
        QVERIFY(GenUtilities::SaveAdminLogin({"Secret12", "", "", "", ""}));
    }

    void idleReset_data()
    {
        QTest::addColumn<QString>("browsingData");
        QTest::addColumn<bool>("continued"); // Continue is pressed on the first countdown
        QTest::addColumn<QString>("cookieAfter");
        QTest::addColumn<bool>("fileAfter");
        QTest::addColumn<int>("resets");
        QTest::newRow("forget") << "forget" << false << "" << false << 2;
        QTest::newRow("keep") << "keep" << false << "visit=1" << true << 1;
        QTest::newRow("continue") << "forget" << true << "visit=1" << true << 0;
    }
    void idleReset()
    {
        QFETCH(QString, browsingData);
        QFETCH(bool, continued);
        MachinePolicies::SetBrowsingData(*MachinePolicies::ParseBrowsingData(browsingData));
        MachinePolicies::Forget();
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        TfrmQuelvardBrowser &window = browser->window;
        // The visitor: unlocked by an administrator, a cookie, a download and a second tab.
        m_dialogs->dialogHandler = [](QDialog *dialog) {
            auto *login = qobject_cast<TfrmAdminLogin *>(dialog);
            login->edtPassword->setText("Secret12");
            login->cbLogin->click();
            return login->result();
        };
        window.cbAdminLockClick();
        QVERIFY(!window.AdminLock()->IsLocked());
        QVERIFY(browser->load(m_server.url("/page")));
        runScript(browser->view()->page(), "document.cookie = 'visit=1; max-age=3600'");
        QVERIFY(clickElement(browser->view(), "file"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(m_env->downloadsDir() + "/kept.txt").size() == 6, 20000);
        window.NewTab1Click();
        QCOMPARE(window.pcMain->TabCount(), 2);

        // One minute of 20 ms seconds, as the machine's setting would give in real ones.
        auto idle = std::make_unique<TIdleReset>(&window, window.IdleReset()->Parts(), 1, 20ms);
        QSignalSpy ended(idle.get(), &TIdleReset::SessionEnded);
        auto *bar = idle->Bar();
        QTRY_VERIFY(bar->isVisible());
        QVERIFY(bar->findChild<QLabel *>("lblIdleReset")->text().startsWith("This session ends"));
        if (continued) {
            QTest::mouseClick(bar->findChild<QPushButton *>("btnContinue"), Qt::LeftButton);
            QVERIFY(!bar->isVisible());
            // The next countdown comes a whole quiet spell later; the first would have ended
            // the session long before.
            QTRY_VERIFY(bar->isVisible());
            QCOMPARE(ended.count(), 0);
            idle.reset();
            QCOMPARE(window.pcMain->TabCount(), 2);
            window.pcMain->CloseActiveTab();
        } else {
            // A dialog left open is closed, from inside its own loop.
            m_dialogs->dialogHandler = [](QDialog *dialog) { return dialog->exec(); };
            QTimer::singleShot(0, &window, [&window] { window.About1Click(); });
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
            QFETCH(int, resets);
            if (resets == 2) {
                // The next visitor's profile is let go in its turn, once its pages are gone.
                idle->EndSession();
                QTRY_COMPARE(ended.count(), 2);
                QTRY_COMPARE(qApp->findChildren<QWebEngineProfile *>().size(), 1);
            }
            idle.reset();
            QCOMPARE(window.pcMain->TabCount(), 1);
            QVERIFY(waitForUrl(window, QStringLiteral(QUELVARD_START_PAGE_URL)));
            QVERIFY(window.AdminLock()->IsLocked() && !browser->address()->isEnabled());
            QVERIFY(QApplication::activeModalWidget() == nullptr);
        }
        QVERIFY(browser->load(m_server.url("/page")));
        QTEST(runScript(browser->view()->page(), "document.cookie").toString(), "cookieAfter");
        QTEST(QFile::exists(m_env->downloadsDir() + "/kept.txt"), "fileAfter");
        // The engine's folder for an off-the-record profile is below the application's data
        // folder, the favorites folder, unless it is given one of its own.
        const QString engine =
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/QtWebEngine";
        QVERIFY2(!QFileInfo::exists(engine), qPrintable(engine));
    }

    // After a session ended with nobody there, the next countdown waits for someone; the bar
    // counts the machine's seconds and says what ending means.
    void untouchedKioskRests()
    {
        MachinePolicies::SetBrowsingData(MachinePolicies::BrowsingData::Forget);
        MachinePolicies::Write(*MachinePolicies::FindSetting("idle-countdown"), "10");
        MachinePolicies::Forget();
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        TfrmQuelvardBrowser &window = browser->window;
        auto idle = std::make_unique<TIdleReset>(&window, window.IdleReset()->Parts(), 1, 20ms);
        QSignalSpy ended(idle.get(), &TIdleReset::SessionEnded);
        auto *bar = idle->Bar();
        QTRY_VERIFY(bar->isVisible());
        // Caught a few of its fast seconds in: within the ten, never the usual thirty.
        const QString text = bar->findChild<QLabel *>("lblIdleReset")->text();
        const QRegularExpressionMatch said =
            QRegularExpression("^This session ends in (\\d+) seconds?\\. Your pages, sign-ins "
                               "and downloads will be cleared\\.$")
                .match(text);
        QVERIFY2(said.hasMatch(), qPrintable(text));
        QVERIFY2(said.captured(1).toInt() <= 10, qPrintable(text));
        QVERIFY(bar->findChild<QPushButton *>("btnContinue")->height() >= 40);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
        QVERIFY(idle->Resting());
        QVERIFY(!bar->isVisible());
        // A touch: the countdown comes again a quiet spell later.
        QTest::mouseMove(window.windowHandle(), QPoint(40, 40));
        QTest::mouseMove(window.windowHandle(), QPoint(60, 60));
        QTRY_VERIFY(!idle->Resting());
        QTRY_VERIFY(bar->isVisible());
    }

    void fullScreenWhileLocked()
    {
        MachinePolicies::SetWindow(MachinePolicies::Window::FullScreen);
        MachinePolicies::Forget();
        auto browser = Browser::open(*m_dialogs);
        QVERIFY(browser);
        TfrmQuelvardBrowser &window = browser->window;
        QTRY_VERIFY(window.isFullScreen());
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(window.menuBar()->isVisible() && window.pcMain->isVisible());
        window.showNormal();
        QVERIFY(!window.isFullScreen());
        QTRY_VERIFY(window.isFullScreen());
        window.showMaximized();
        QTRY_VERIFY(window.isFullScreen() && !window.isMaximized());
        // A page's own full screen ends in the kiosk's, menus and tabs back.
        QVERIFY(browser->load(m_server.url("/full")));
        QVERIFY(clickElement(browser->view(), "full"));
        QTRY_VERIFY(!window.menuBar()->isVisible());
        QTest::keyClick(browser->view()->focusProxy(), Qt::Key_Escape);
        QTRY_VERIFY(window.menuBar()->isVisible());
        QVERIFY(window.isFullScreen() && window.pcMain->tabBar()->isVisible());
    }

private:
    TestHttpServer m_server;
};

QUELVARD_TEST_MAIN(tst_Kiosk)
#include "tst_kiosk.moc"
