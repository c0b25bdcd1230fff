#include "support/testmain.h"
#include "window/inputfilter.h"

#include <QStringList>
#include <memory>

// The program's parts see events in the written order of their stages, whatever order they
// joined in; a part that takes an event ends its way but for those that only watch.
class tst_InputFilter : public QObject
{
    Q_OBJECT

private slots:
    void stagesSeeEventsInTheirOrder_data();
    void stagesSeeEventsInTheirOrder();
    void partsLeaveWithTheirOwner();
};

namespace {
// Counts the events that reach it past the filter.
class TTarget : public QObject
{
public:
    int reached = 0;
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            ++reached;
        return QObject::event(event);
    }
};
} // namespace

void tst_InputFilter::stagesSeeEventsInTheirOrder_data()
{
    QTest::addColumn<QStringList>("joining"); // stage, "!" when it takes the event
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<bool>("reachesTarget");
    QTest::newRow("joined backwards")
        << QStringList{"activity", "keys", "fullscreen", "dialogs"}
        << QStringList{"dialogs", "fullscreen", "keys", "activity"} << true;
    // Escape in full screen: the key hook never hears it, the idle reset does.
    QTest::newRow("full screen takes it") << QStringList{"keys", "activity", "fullscreen!"}
                                          << QStringList{"fullscreen", "activity"} << false;
    QTest::newRow("key hook takes it")
        << QStringList{"keys!", "fullscreen"} << QStringList{"fullscreen", "keys"} << false;
}

void tst_InputFilter::stagesSeeEventsInTheirOrder()
{
    QFETCH(QStringList, joining);
    QFETCH(QStringList, seen);
    QFETCH(bool, reachesTarget);
    const QMap<QString, TInputStage> stages = {{"dialogs", TInputStage::FileDialogs},
                                               {"fullscreen", TInputStage::FullScreen},
                                               {"keys", TInputStage::KeyHook},
                                               {"activity", TInputStage::Activity}};
    TTarget target;
    QStringList heard;
    std::vector<std::unique_ptr<QObject>> owners;
    for (QString name : joining) {
        const bool takes = name.endsWith('!');
        name.remove('!');
        owners.push_back(std::make_unique<QObject>());
        const auto record = [&heard, name, &target](QObject *watched, QEvent *event) {
            if (watched == &target && event->type() == QEvent::User)
                heard << name;
        };
        if (name == "activity")
            InputFilter::Watch(owners.back().get(), stages[name], record);
        else
            InputFilter::Join(owners.back().get(), stages[name],
                              [record, takes, &target](QObject *watched, QEvent *event) {
                                  record(watched, event);
                                  return takes && watched == &target;
                              });
    }
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&target, &event);
    QCOMPARE(heard, seen);
    QCOMPARE(target.reached, reachesTarget ? 1 : 0);
}

void tst_InputFilter::partsLeaveWithTheirOwner()
{
    TTarget target;
    int heard = 0;
    auto owner = std::make_unique<QObject>();
    InputFilter::Join(owner.get(), TInputStage::KeyHook, [&](QObject *watched, QEvent *) {
        heard += watched == &target;
        return watched == &target;
    });
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&target, &event);
    owner.reset();
    QCoreApplication::sendEvent(&target, &event);
    QCOMPARE(heard, 1);
    QCOMPARE(target.reached, 1);
}

QUELVARD_TEST_MAIN(tst_InputFilter)
#include "tst_inputfilter.moc"
