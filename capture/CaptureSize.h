#pragma once
// How one side of the capture is chosen, and the sizes a capture may have.
#include "platform/Errors.h"

#include <cstdint>
#include <string>

namespace korvane {

// "auto": the body's scroll size plus 30; otherwise a fixed number of pixels.
struct TSideChoice {
    bool Automatic = true;
    std::int32_t Pixels = 0;

    static TSideChoice Auto() { return {true, 0}; }
    static TSideChoice Fixed(std::int32_t pixels) { return {false, pixels}; }
    std::int32_t Resolve(std::int32_t scrollSize) const { return Automatic ? scrollSize + 30 : Pixels; }
    bool operator==(const TSideChoice&) const = default;
};

// The largest capture the engine draws correctly, and a bound on the pixel count that keeps the bitmap
// and its encoded copy within the memory of an ordinary machine.
inline constexpr std::int32_t kMaxCaptureWidth = 16384;
inline constexpr std::int32_t kMaxCaptureHeight = 131072;
inline constexpr std::int64_t kMaxCapturePixels = 400ll * 1000 * 1000;

class ECaptureSizeError : public Error {
public:
    ECaptureSizeError(std::int32_t width, std::int32_t height);
};

// Throws ECaptureSizeError for a side below 1, a side above its limit, or too many pixels in all.
void CheckCaptureSize(std::int32_t width, std::int32_t height);

} // namespace korvane
