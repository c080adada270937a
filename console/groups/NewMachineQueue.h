#pragma once

#include "model/CStuInfo.h"

#include <QObject>

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

class QTimer;

// Machines the network thread registered, waiting for their rows. Under a
// flood the registrations are spread over each second (RegistrationGate);
// placed one by one, each would repaint the page on its own, so they are
// placed together, at most every PlaceMs.
class NewMachineQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(NewMachineQueue)

public:
    static constexpr int PlaceMs = 50;
    // UI thread: a new machine, and the one that made room for it (or null).
    using Place = std::function<void(const CStuInfo_PTR& machine, const CStuInfo_PTR& evicted)>;

    explicit NewMachineQueue(Place place, QObject* parent = nullptr);

    // Any thread.
    void add(const CStuInfo_PTR& machine, const CStuInfo_PTR& evicted);
    // UI thread: what is waiting, now (the fuzzer's checks).
    void placeAll();

private:

    const Place place;
    QTimer* timer = nullptr;
    std::mutex mutex;
    std::vector<std::pair<CStuInfo_PTR, CStuInfo_PTR>> pending; // under mutex
    bool scheduled = false; // under mutex
};
