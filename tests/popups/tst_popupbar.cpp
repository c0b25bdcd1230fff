#include "popups/popupbar.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

// The notice bar on its own, on plain widgets placed as the main window's form places its own:
// when it opens, how it steps, how the notice is fitted and what the link answers to.
class tst_PopupBar : public QObject
{
    Q_OBJECT

private slots:
    void update_data();
    void update();
    void noticeFitting_data();
    void noticeFitting();
    void linkInput_data();
    void linkInput();
};

namespace {

// The bar's parts in a column, with a widget below it standing in for the tab strip. The column
// sits in a window, as the form's does, so that each step's new size hints stay in the window.
struct BarColumn
{
    QWidget window;
    QWidget *column = new QWidget(&window);
    QFrame *strip = new QFrame(column);
    QLabel *notice = new QLabel(strip);
    QLabel *link = new QLabel(QStringLiteral("Click Here"), strip);
    QWidget *rightPanel = new QWidget(strip);
    QWidget *gap = new QWidget(strip);
    QWidget *below = new QWidget(column);
    TPopupBar bar{strip, notice, link, rightPanel, gap};

    explicit BarColumn(int width)
    {
        auto *layout = new QVBoxLayout(column);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(strip);
        layout->addWidget(below, 1);
        notice->setGeometry(8, 6, 300, 13);
        link->setGeometry(317, 6, 60, 13);
        window.resize(1200, 300);
        column->resize(width, 200);
        window.show();
    }

    static QString noticeFor(const QString &domain)
    {
        return QStringLiteral(
                   "Quelvard prevented \"%1\" from opening popup windows. To view popups")
            .arg(domain);
    }

    bool open(const QString &domain)
    {
        bar.Update(domain, domain);
        return QTest::qWaitFor([this] { return !bar.IsMoving(); });
    }
};

} // namespace

void tst_PopupBar::update_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<bool>("opens");
    QTest::newRow("the refused domain") << "example.com"
                                        << "example.com" << true;
    QTest::newRow("letter case differs") << "Example.com"
                                         << "example.com" << false;
    QTest::newRow("another domain") << "other.test"
                                    << "example.com" << false;
    QTest::newRow("no domain, nothing refused") << ""
                                                << "" << false;
}

void tst_PopupBar::update()
{
    QFETCH(QString, domain);
    QFETCH(QString, blocked);
    QFETCH(bool, opens);
    BarColumn bar(600);
    QList<int> heights, gapTops, belowTops;
    connect(&bar.bar, &TPopupBar::HeightChanged, this, [&](int height) {
        heights << height;
        gapTops << bar.gap->y();
        belowTops << bar.below->y();
    });

    bar.bar.Update(domain, blocked);
    if (!opens) {
        // Not moving, the bar takes no further step.
        QVERIFY(!bar.bar.IsMoving() && heights.isEmpty());
        QVERIFY(bar.strip->isHidden());
        return;
    }
    QTRY_VERIFY(!bar.bar.IsMoving());
    QCOMPARE(bar.notice->text(), BarColumn::noticeFor(domain));
    QList<int> opening;
    for (int h = 0; h <= 30; ++h)
        opening << h;
    QCOMPARE(heights, opening);
    // Each step is laid out before it is announced: what lies below has moved with the bar, and
    // the gap stays at the bar's foot.
    QCOMPARE(belowTops, opening);
    for (int i = 1; i < heights.size(); ++i)
        QCOMPARE(gapTops.at(i), heights.at(i) - 5);
    QCOMPARE(bar.rightPanel->geometry(), QRect(600 - 135, 0, 135, 25));

    // Open already, an update only renames the site.
    heights.clear();
    bar.bar.Update(QStringLiteral("second.test"), QStringLiteral("second.test"));
    QCOMPARE(bar.notice->text(), BarColumn::noticeFor(QStringLiteral("second.test")));
    QVERIFY(!bar.bar.IsMoving() && heights.isEmpty());

    // Closing part-way, then asked to open again: it turns round where it stands.
    bar.bar.Update(QStringLiteral("third.test"), QStringLiteral("second.test"));
    QTRY_VERIFY(heights.size() >= 10);
    bar.bar.Update(QStringLiteral("second.test"), QStringLiteral("second.test"));
    QTRY_VERIFY(!bar.bar.IsMoving());
    for (int i = 1; i < heights.size(); ++i)
        QCOMPARE(qAbs(heights.at(i) - heights.at(i - 1)), 1);
    QVERIFY(heights.first() == 29 && heights.last() == 30);

    heights.clear();
    bar.bar.Update(QStringLiteral("third.test"), QStringLiteral("second.test"));
    QTRY_VERIFY(bar.strip->isHidden());
    QList<int> closing;
    for (int h = 29; h >= 0; --h)
        closing << h;
    QCOMPARE(heights, closing);
}

void tst_PopupBar::noticeFitting_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("shortened");
    QTest::newRow("short domain, wide bar") << "example.com" << 900 << "";
    QTest::newRow("long domain, wide bar")
        << QString(150, QLatin1Char('a')) + QStringLiteral(".example") << 900 << "domain";
    QTest::newRow("short domain, narrow bar") << "example.com" << 300 << "sentence";
}

void tst_PopupBar::noticeFitting()
{
    QFETCH(QString, domain);
    QFETCH(int, width);
    QFETCH(QString, shortened);
    BarColumn bar(1000);
    QVERIFY(bar.open(domain));
    // Fitted again when the bar's width changes.
    bar.column->resize(width, 200);
    QTRY_COMPARE(bar.strip->width(), width);

    const QString full = BarColumn::noticeFor(domain);
    const QString shown = bar.notice->text();
    const QString ellipsis(QChar(0x2026));
    if (shortened.isEmpty()) {
        QCOMPARE(shown, full);
        QVERIFY(bar.notice->toolTip().isEmpty());
    } else {
        QCOMPARE(bar.notice->toolTip(), full);
        if (shortened == QLatin1String("domain")) {
            QVERIFY2(shown.startsWith(QStringLiteral("Quelvard prevented \"aaa")),
                     qPrintable(shown));
            QVERIFY(shown.contains(ellipsis));
            QVERIFY(shown.endsWith(
                QStringLiteral("a.example\" from opening popup windows. To view popups")));
        } else {
            QVERIFY2(shown.endsWith(ellipsis), qPrintable(shown));
            QVERIFY(full.startsWith(shown.chopped(1)));
        }
    }
    QCOMPARE(bar.notice->accessibleName(), full);
    QCOMPARE(bar.link->x(), bar.notice->width() + 17);
    QVERIFY(bar.link->geometry().right() < width);
}

void tst_PopupBar::linkInput_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("clicks");
    const QPoint inside(5, 5);
    QTest::newRow("left click") << 0 << int(Qt::LeftButton) << inside << true;
    QTest::newRow("right click") << 0 << int(Qt::RightButton) << inside << false;
    QTest::newRow("released outside") << 0 << int(Qt::LeftButton) << QPoint(-5, 5) << false;
    QTest::newRow("Return") << int(Qt::Key_Return) << 0 << QPoint() << true;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << 0 << QPoint() << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << QPoint() << true;
    QTest::newRow("another key") << int(Qt::Key_A) << 0 << QPoint() << false;
}

void tst_PopupBar::linkInput()
{
    QFETCH(int, key);
    QFETCH(int, button);
    QFETCH(QPoint, at);
    QFETCH(bool, clicks);
    BarColumn bar(900);
    QVERIFY(bar.open(QStringLiteral("example.com")));
    QSignalSpy clicked(&bar.bar, &TPopupBar::ClickHere);
    if (key)
        QTest::keyClick(bar.link, Qt::Key(key));
    else
        QTest::mouseClick(bar.link, Qt::MouseButton(button), {}, at);
    QCOMPARE(clicked.count(), clicks ? 1 : 0);
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PopupBar)
#include "tst_popupbar.moc"
