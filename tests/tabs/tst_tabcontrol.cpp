// The tab control's own rules, with stand-in tabs: slots, opening and closing, the active tab,
// what the window hears of its tabs, the width rule and the floating close button.
#include "support/testmain.h"
#include "tabs/tabcontrol.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>
#include <stdexcept>

namespace {

class TStandInTab : public TTab
{
public:
    using TTab::TTab;
    void GoHome() override { ++homes; }
    void UpdateTabCaption() override
    {
        ++captions;
        if (captionFails)
            throw std::runtime_error("no caption");
    }
    int homes = 0;
    int captions = 0;
    bool captionFails = false;
};

// A window with the tab control filling it below a strip, and the close button floating over it.
struct TStrip
{
    QWidget window;
    TTabControl *control = new TTabControl;
    QToolButton *closeButton = new QToolButton(&window);

    TStrip()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 30, 0, 0);
        layout->addWidget(control);
        closeButton->hide();
        control->SetCloseButton(closeButton);
        control->SetTabFactory([](TTabSheet *sheet, QObject *) { return new TStandInTab(sheet); });
        // What the main window does with a resize of its tab control.
        QObject::connect(control, &TTabControl::Resized, control, &TTabControl::FitTabs);
    }
    TStandInTab *open(TTabControl::TOpen how = TTabControl::TOpen::Home)
    {
        return static_cast<TStandInTab *>(control->NewTab(how));
    }
    TStandInTab *tab(int slot) const
    {
        return static_cast<TStandInTab *>(control->Tabs().value(slot));
    }
    QList<int> filledSlots() const
    {
        QList<int> filled;
        for (int i = 0; i < control->Tabs().size(); ++i) {
            if (control->Tabs().at(i))
                filled << i;
        }
        return filled;
    }
};

} // namespace

class tst_TabControl : public QObject
{
    Q_OBJECT

private slots:
    void openAndClose();
    void whatTheWindowHears();
    void aTabThatCannotBeMadeIsNotAdded();
    void shortenCaption_data();
    void shortenCaption();
    void tabWidthRule_data();
    void tabWidthRule();
    void widthsAndCaptionsFollowTheControl();
};

void tst_TabControl::openAndClose()
{
    TStrip strip;
    strip.window.resize(800, 400);
    strip.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip.window));
    TStandInTab *first = strip.open();
    QCOMPARE(first->homes, 1);
    QVERIFY(strip.closeButton->isHidden());
    strip.control->CloseActiveTab(); // the only tab stays
    QCOMPARE(strip.filledSlots(), (QList<int>{0}));

    strip.open();
    strip.open();
    QCOMPARE(strip.control->ActiveTabIndex(), 2);
    QVERIFY(strip.closeButton->isVisible());
    QCOMPARE(
        strip.closeButton->pos(),
        QPoint(strip.window.width() - 40, strip.control->mapTo(&strip.window, QPoint()).y() - 3));
    for (int slot = 0; slot < 3; ++slot)
        QCOMPARE(strip.tab(slot)->Sheet->Tag, slot);

    // Closing the middle tab empties its slot for good; the page that followed takes its place.
    strip.control->setCurrentIndex(1);
    strip.control->CloseActiveTab();
    QCOMPARE(strip.filledSlots(), (QList<int>{0, 2}));
    QCOMPARE(strip.control->Tabs().size(), 3);
    QCOMPARE(strip.control->ActiveTabIndex(), 2);
    QCOMPARE(strip.open()->Sheet->Tag, 3);
    QCOMPARE(strip.control->ActiveTabIndex(), 3);
    // Closing the rightmost tab makes the first one active.
    strip.control->CloseActiveTab();
    QCOMPARE(strip.control->ActiveTabIndex(), 0);
    strip.control->CloseActiveTab();
    QCOMPARE(strip.filledSlots(), (QList<int>{2}));
    QVERIFY(strip.closeButton->isHidden());

    // A page's window opens at the end, in front or behind, and is not sent home.
    TStandInTab *behind = strip.open(TTabControl::TOpen::Behind);
    QCOMPARE(strip.control->ActiveTabIndex(), 2);
    TStandInTab *inFront = strip.open(TTabControl::TOpen::InFront);
    QCOMPARE(strip.control->ActiveTab(), inFront);
    QCOMPARE(behind->homes + inFront->homes, 0);
    QCOMPARE(strip.control->indexOf(inFront->Sheet), strip.control->count() - 1);
}

void tst_TabControl::whatTheWindowHears()
{
    TStrip strip;
    TStandInTab *first = strip.open();
    QSignalSpy userChanges(strip.control, &TTabControl::TabChangedByUser);
    QSignalSpy replaced(strip.control, &TTabControl::ActiveTabReplaced);
    QSignalSpy printing(strip.control, &TTabControl::PrintRequested);
    QSignalSpy completed(strip.control, &TTabControl::TabNavigateComplete);

    // Opening and closing change the active tab by themselves: that is not the user's choice.
    TStandInTab *behind = strip.open(TTabControl::TOpen::Behind);
    QCOMPARE(replaced.size(), 0);
    TStandInTab *inFront = strip.open(TTabControl::TOpen::InFront);
    QCOMPARE(replaced.size(), 1);
    QCOMPARE(userChanges.size(), 0);

    // Only the active tab is heard asking to print.
    emit behind->PrintRequested();
    emit first->PrintRequested();
    QCOMPARE(printing.size(), 0);
    emit inFront->PrintRequested();
    QCOMPARE(printing.size(), 1);
    strip.control->setCurrentWidget(behind->Sheet);
    QCOMPARE(userChanges.size(), 1);
    emit inFront->PrintRequested();
    emit behind->PrintRequested();
    QCOMPARE(printing.size(), 2);
    // A completed navigation is passed on from any tab: the window describes the active one.
    emit first->NavigateComplete();
    QCOMPARE(completed.size(), 1);

    strip.control->CloseActiveTab();
    QCOMPARE(replaced.size(), 2);
    QCOMPARE(userChanges.size(), 1);

    // A page closing its own window closes its tab once the page is done with it, where it
    // stands: the tab in front stays in front and nothing is described anew.
    emit first->CloseRequested();
    QCOMPARE(strip.filledSlots(), (QList<int>{0, 2}));
    QTRY_COMPARE(strip.filledSlots(), (QList<int>{2}));
    QCOMPARE(strip.control->ActiveTab(), inFront);
    QCOMPARE(replaced.size(), 2);
    QCOMPARE(userChanges.size(), 1);
    emit inFront->CloseRequested(); // the last tab stays
    bool after = false;
    QTimer::singleShot(0, strip.control, [&after] { after = true; });
    QTRY_VERIFY(after);
    QCOMPARE(strip.filledSlots(), (QList<int>{2}));
}

void tst_TabControl::aTabThatCannotBeMadeIsNotAdded()
{
    TStrip strip;
    strip.open();
    strip.control->SetTabFactory([](TTabSheet *, QObject *) { return nullptr; });
    QVERIFY(!strip.open());
    strip.control->SetTabFactory(
        [](TTabSheet *, QObject *) -> TTab * { throw std::runtime_error("no tab"); });
    QTest::ignoreMessage(QtWarningMsg, "NewTab failed: no tab");
    QVERIFY(!strip.open(TTabControl::TOpen::InFront));
    QCOMPARE(strip.control->Tabs().size(), 1);
    QCOMPARE(strip.control->count(), 1);
    QCOMPARE(strip.control->findChildren<TTabSheet *>().size(), 1);
    QCOMPARE(strip.control->ActiveTabIndex(), 0);
    strip.control->SetTabFactory(
        [](TTabSheet *sheet, QObject *) { return new TStandInTab(sheet); });
    QCOMPARE(strip.open()->Sheet->Tag, 1);
}

void tst_TabControl::shortenCaption_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("caption");
    // Every character is 10 pixels wide here.
    QTest::newRow("fits") << "Short" << 100 << "Short";
    QTest::newRow("short title keeps trailing blanks") << "Hi   " << 100 << "Hi   ";
    QTest::newRow("empty") << "" << 100 << "";
    QTest::newRow("cut; last character may cross") << "abcdefghijklmnop" << 55 << "abcdef...";
    QTest::newRow("cut text trimmed before dots") << "abcd    efghijklmnop" << 75 << "abcd...";
    QTest::newRow("exactly at the limit") << "abcdefghij" << 100 << "abcdefghij";
    QTest::newRow("one over") << "abcdefghijk" << 100 << "abcdefghij...";
}

void tst_TabControl::shortenCaption()
{
    QFETCH(QString, title);
    QFETCH(int, limit);
    QFETCH(QString, caption);
    auto measure = [](const QString &text) { return int(text.size()) * 10; };
    QCOMPARE(TTabControl::ShortenCaption(title, limit, measure), caption);
}

void tst_TabControl::tabWidthRule_data()
{
    QTest::addColumn<int>("controlWidth");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<int>("width");
    for (int n : {1, 2, 3})
        QTest::addRow("1000 px, %d tabs", n) << 1000 << n << 250;
    QTest::newRow("1000 px, 4 tabs") << 1000 << 4 << 231;
    QTest::newRow("1000 px, 5 tabs") << 1000 << 5 << 185;
    QTest::newRow("1000 px, 9 tabs") << 1000 << 9 << 103;
    QTest::newRow("1000 px, 10 tabs raised to 100") << 1000 << 10 << 100;
    QTest::newRow("exactly 2 x 250") << 575 << 2 << 250;
    QTest::newRow("half goes down to even") << 476 << 2 << 200;
    QTest::newRow("half goes up to even") << 478 << 2 << 202;
    QTest::newRow("no tab, positive space") << 500 << 0 << 250;
    QTest::newRow("no tab, no space keeps width") << 50 << 0 << 123;
}

void tst_TabControl::tabWidthRule()
{
    QFETCH(int, controlWidth);
    QFETCH(int, tabs);
    QFETCH(int, width);
    QCOMPARE(TTabControl::ComputeTabWidth(controlWidth - 75, tabs, 123), width);
}

void tst_TabControl::widthsAndCaptionsFollowTheControl()
{
    TStrip strip;
    strip.window.resize(1000, 400);
    strip.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip.window));
    QTRY_COMPARE(strip.control->width(), 1000);
    for (int i = 0; i < 4; ++i)
        strip.open();
    QCOMPARE(strip.control->TabWidth(), 231);
    QCOMPARE(strip.control->Bar()->tabRect(0).width(), 231);

    // Every tab's caption is fitted again; one that fails does not stop the others.
    QList<int> before;
    for (int slot = 0; slot < 4; ++slot)
        before << strip.tab(slot)->captions;
    strip.tab(0)->captionFails = true;
    QTest::ignoreMessage(QtWarningMsg, "UpdateTabCaption failed: no caption");
    strip.control->FitTabs();
    strip.tab(0)->captionFails = false;
    for (int slot = 0; slot < 4; ++slot)
        QCOMPARE(strip.tab(slot)->captions, before.at(slot) + 1);

    strip.window.resize(476, 400);
    QTRY_COMPARE(strip.control->width(), 476);
    QCOMPARE(strip.control->TabWidth(), 100);
    QVERIFY(strip.tab(3)->captions > before.at(3) + 1);
    strip.control->CloseActiveTab();
    strip.control->CloseActiveTab();
    QCOMPARE(strip.control->TabWidth(), 200);
}

QUELVARD_TEST_MAIN(tst_TabControl)
#include "tst_tabcontrol.moc"
