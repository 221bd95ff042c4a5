#pragma once
// The delay of a capture job between the page's load and its capture, counted down in ticks of 100 ms:
// off, counting (each tick lowers the count and shows the whole seconds left, rounded up), or over (the tick
// that reached zero has begun the capture; no later tick captures again). A count below zero stops at its
// first tick without capturing.
#include <cstdint>
#include <optional>

namespace korvane {

class TCountdown {
public:
    enum class TState { Off, Counting, Over };
    struct TTick {
        std::optional<std::int32_t> Seconds; // the text of this tick, "wait %d...": none without one
        bool Capture = false;                // this tick begins the capture
    };

    void Start(std::int32_t ticks) {
        FState = TState::Counting;
        FWaitTicks = ticks;
    }
    // What one tick does; nothing unless counting.
    TTick Tick() {
        TTick tick;
        if (FState != TState::Counting) return tick;
        if (FWaitTicks > 0) tick.Seconds = (--FWaitTicks + 9) / 10;
        if (FWaitTicks <= 0) FState = FWaitTicks == 0 ? TState::Over : TState::Off;
        tick.Capture = FState == TState::Over;
        return tick;
    }
    void Stop() { FState = TState::Off; }

    TState State() const { return FState; }
    bool Counting() const { return FState == TState::Counting; }
    // The ticks still to wait.
    std::int32_t WaitTicks() const { return FWaitTicks; }

private:
    TState FState = TState::Off;
    std::int32_t FWaitTicks = 0;
};

} // namespace korvane
