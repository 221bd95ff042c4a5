#pragma once
// Millisecond tick count for elapsed times: monotonic, 64 bits, never wraps.
#include <chrono>
#include <cstdint>

namespace korvane {

inline std::int64_t GetTickCount64() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace korvane
