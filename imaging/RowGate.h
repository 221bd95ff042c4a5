#pragma once
// The rows of a picture that one thread (the filler) writes from the top while another (the reader) encodes
// them as they come. The reader waits for each row until the filler has published it; either side may stop
// early. A bitmap that holds a gate waits for its filler to close the gate before it frees or replaces its
// pixels, so the filler never writes into freed memory.
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace korvane {

class TRowGate {
public:
    explicit TRowGate(int rows) : FRows(rows) {}
    TRowGate(const TRowGate&) = delete;
    TRowGate& operator=(const TRowGate&) = delete;

    int Rows() const { return FRows; }

    // Filler: the first `rows` rows are complete. False once the reader has stopped: the filler should stop.
    bool Publish(int rows);
    // Filler: it writes no more, whether every row was published or not. Every filler closes its gate.
    void Close();

    // Reader: waits until row `row` (from the top) is complete; false when it never will be.
    bool WaitFor(int row) const;
    bool WaitForAll() const { return FRows <= 0 || WaitFor(FRows - 1); }
    // Reader: wants no more rows. Returns once the filler has closed the gate.
    void Abandon();
    bool Abandoned() const { return FAbandoned.load(); }

    // Anyone: the picture is not wanted any more (the job was stopped). The filler stops at its next row and
    // readers get no more rows, not even complete ones, so no file is made of it. Does not wait.
    void Cancel();
    bool Cancelled() const { return FCancelled.load(); }

private:
    const int FRows;
    std::atomic<int> FReady{0};
    std::atomic<bool> FAbandoned{false};
    std::atomic<bool> FCancelled{false};
    mutable std::atomic<int> FWaiting{0};
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FClosed = false; // under FMutex
};

} // namespace korvane
