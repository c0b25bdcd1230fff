#include "window/inputfilter.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct TPart
{
    QPointer<QObject> owner;
    TInputStage stage;
    std::function<bool(QObject *, QEvent *)> take;
    std::function<void(QObject *, QEvent *)> watch;
};

class TInputFilter : public QObject
{
public:
    explicit TInputFilter(QCoreApplication *application) : QObject(application)
    {
        application->installEventFilter(this);
    }

    // The filter of the running application, made with its first part; none without one.
    static TInputFilter *Instance(bool make)
    {
        static QPointer<TInputFilter> instance;
        if (!instance && make && QCoreApplication::instance())
            instance = new TInputFilter(QCoreApplication::instance());
        return instance;
    }

    // Parts change rarely and events come all the time: a change makes a new list, and an event
    // holds on to the list it started with, so a part may join or leave while it handles one.
    void Add(TPart part)
    {
        QObject *owner = part.owner;
        connect(owner, &QObject::destroyed, this, [this, owner] { Remove(owner); });
        auto parts = std::make_shared<std::vector<TPart>>(*m_parts);
        // After the parts of its own stage and before those of later stages.
        const auto at = std::upper_bound(
            parts->begin(), parts->end(), part.stage,
            [](TInputStage stage, const TPart &other) { return stage < other.stage; });
        parts->insert(at, std::move(part));
        m_parts = std::move(parts);
    }

    void Remove(QObject *owner)
    {
        auto parts = std::make_shared<std::vector<TPart>>(*m_parts);
        parts->erase(std::remove_if(
                         parts->begin(), parts->end(),
                         [owner](const TPart &part) { return !part.owner || part.owner == owner; }),
                     parts->end());
        m_parts = std::move(parts);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const std::shared_ptr<const std::vector<TPart>> parts = m_parts;
        bool taken = false;
        for (const TPart &part : *parts) {
            if (!part.owner)
                continue;
            if (part.watch)
                part.watch(watched, event);
            else if (!taken)
                taken = part.take(watched, event);
        }
        return taken;
    }

private:
    std::shared_ptr<const std::vector<TPart>> m_parts = std::make_shared<std::vector<TPart>>();
};

} // namespace

namespace InputFilter {

void Join(QObject *owner, TInputStage stage, std::function<bool(QObject *, QEvent *)> take)
{
    if (TInputFilter *filter = TInputFilter::Instance(true))
        filter->Add({owner, stage, std::move(take), {}});
}

void Watch(QObject *owner, TInputStage stage, std::function<void(QObject *, QEvent *)> watch)
{
    if (TInputFilter *filter = TInputFilter::Instance(true))
        filter->Add({owner, stage, {}, std::move(watch)});
}

void Leave(QObject *owner)
{
    if (TInputFilter *filter = TInputFilter::Instance(false))
        filter->Remove(owner);
}

} // namespace InputFilter
