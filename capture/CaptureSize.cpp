#include "CaptureSize.h"

namespace korvane {

ECaptureSizeError::ECaptureSizeError(std::int32_t width, std::int32_t height)
    : Error("The capture size " + std::to_string(width) + " x " + std::to_string(height) +
            " cannot be drawn: each side must be at least 1, the width at most " +
            std::to_string(kMaxCaptureWidth) + ", the height at most " + std::to_string(kMaxCaptureHeight) +
            " and the area at most " + std::to_string(kMaxCapturePixels / 1000000) + " million pixels") {}

void CheckCaptureSize(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1 || width > kMaxCaptureWidth || height > kMaxCaptureHeight ||
        static_cast<std::int64_t>(width) * height > kMaxCapturePixels)
        throw ECaptureSizeError(width, height);
}

} // namespace korvane
