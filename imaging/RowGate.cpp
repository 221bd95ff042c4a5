#include "imaging/RowGate.h"

namespace korvane {

bool TRowGate::Publish(int rows) {
    FReady.store(rows);
    // Readers announce themselves before they look at the count again, so one of the two sides always sees
    // the other: either the reader sees the new count, or the filler sees the reader and wakes it.
    if (FWaiting.load() > 0) {
        std::lock_guard<std::mutex> lock(FMutex);
        FChanged.notify_all();
    }
    return !FAbandoned.load();
}

void TRowGate::Close() {
    std::lock_guard<std::mutex> lock(FMutex);
    FClosed = true;
    FChanged.notify_all();
}

bool TRowGate::WaitFor(int row) const {
    if (row < FReady.load() && !FCancelled.load()) return true;
    std::unique_lock<std::mutex> lock(FMutex);
    FWaiting.fetch_add(1);
    FChanged.wait(lock, [&] { return row < FReady.load() || FClosed || FCancelled.load(); });
    FWaiting.fetch_sub(1);
    return row < FReady.load() && !FCancelled.load();
}

void TRowGate::Cancel() {
    FCancelled.store(true);
    FAbandoned.store(true);
    std::lock_guard<std::mutex> lock(FMutex);
    FChanged.notify_all();
}

void TRowGate::Abandon() {
    FAbandoned.store(true);
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait(lock, [&] { return FClosed; });
}

} // namespace korvane
