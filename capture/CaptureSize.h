#pragma once
// How one side of the capture is chosen, and the sizes a capture may have.
#include "platform/Errors.h"

#include <cstdint>
#include <string>

namespace korvane {

// "auto": the body's scroll size plus 30, but never less than the document's own scroll size (which holds
// the body's margins); otherwise a fixed number of pixels.
struct TSideChoice {
    bool Automatic = true;
    std::int32_t Pixels = 0;

    static TSideChoice Auto() { return {true, 0}; }
    static TSideChoice Fixed(std::int32_t pixels) { return {false, pixels}; }
    std::int32_t Resolve(std::int32_t bodyScrollSize, std::int32_t documentScrollSize = 0) const;
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
    explicit ECaptureSizeError(std::int32_t width); // the width alone is out of bounds
};

// Throws ECaptureSizeError for a side below 1, a side above its limit, or too many pixels in all.
void CheckCaptureSize(std::int32_t width, std::int32_t height);
// Throws ECaptureSizeError for a width below 1 or above its limit.
void CheckCaptureWidth(std::int32_t width);

// The largest side a JPEG file can have (its header holds 16 bits; libjpeg takes up to this).
inline constexpr std::int32_t kMaxJpegSide = 65500;

// An image too large for the chosen file format, found before anything is drawn (CheckFormatSize).
class EFormatLimitError : public Error {
public:
    using Error::Error;
};

} // namespace korvane
