#include "groups/NewMachineQueue.h"

#include <QMetaObject>
#include <QTimer>

NewMachineQueue::NewMachineQueue(Place place_, QObject* parent)
    : QObject(parent)
    , place(std::move(place_))
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(PlaceMs);
    connect(timer, &QTimer::timeout, this, &NewMachineQueue::placeAll);
}

void NewMachineQueue::add(const CStuInfo_PTR& machine, const CStuInfo_PTR& evicted)
{
    std::lock_guard<std::mutex> lock(mutex);
    pending.emplace_back(machine, evicted);
    if (scheduled)
        return;
    scheduled = true;
    // The timer belongs to the UI thread; it is started there.
    QMetaObject::invokeMethod(timer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
}

void NewMachineQueue::placeAll()
{
    std::vector<std::pair<CStuInfo_PTR, CStuInfo_PTR>> due;
    {
        std::lock_guard<std::mutex> lock(mutex);
        due.swap(pending);
        scheduled = false;
    }
    for (const auto& entry : due)
        place(entry.first, entry.second);
}
