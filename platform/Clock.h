#pragma once
// Time as the program reads it: a millisecond tick count for elapsed times (monotonic, 64 bits, never
// wraps), and a clock that parts with timers of their own are given, so that their tests can step it.
#include <chrono>
#include <cstdint>

namespace korvane {

inline std::int64_t GetTickCount64() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class IClock {
public:
    using TTime = std::chrono::steady_clock::time_point;
    virtual TTime Now() const = 0;

protected:
    ~IClock() = default;
};

// The machine's monotonic clock.
class TSteadyClock final : public IClock {
public:
    TTime Now() const override { return std::chrono::steady_clock::now(); }
    static const TSteadyClock& Instance() {
        static const TSteadyClock clock;
        return clock;
    }
};

} // namespace korvane
