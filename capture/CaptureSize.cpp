#include "CaptureSize.h"

#include <algorithm>
#include <limits>

namespace korvane {

ECaptureSizeError::ECaptureSizeError(std::int32_t width, std::int32_t height)
    : Error("The capture size " + std::to_string(width) + " x " + std::to_string(height) +
            " cannot be drawn: each side must be at least 1, the width at most " +
            std::to_string(kMaxCaptureWidth) + ", the height at most " + std::to_string(kMaxCaptureHeight) +
            " and the area at most " + std::to_string(kMaxCapturePixels / 1000000) + " million pixels") {}

EFormatLimitError::EFormatLimitError(std::int32_t width, std::int32_t height)
    : Error("A jpg image can be at most " + std::to_string(kMaxJpegSide) +
            " pixels wide and high; this capture is " + std::to_string(width) + " x " +
            std::to_string(height) + ": save it as png or bmp") {}

void CheckJpegSize(std::int32_t width, std::int32_t height) {
    if (width > kMaxJpegSide || height > kMaxJpegSide) throw EFormatLimitError(width, height);
}

std::int32_t TSideChoice::Resolve(std::int32_t bodyScrollSize, std::int32_t documentScrollSize) const {
    if (!Automatic) return Pixels;
    const std::int64_t side = std::max<std::int64_t>(std::int64_t{bodyScrollSize} + 30, documentScrollSize);
    return static_cast<std::int32_t>(std::min<std::int64_t>(side, std::numeric_limits<std::int32_t>::max()));
}

void CheckCaptureSize(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1 || width > kMaxCaptureWidth || height > kMaxCaptureHeight ||
        static_cast<std::int64_t>(width) * height > kMaxCapturePixels)
        throw ECaptureSizeError(width, height);
}

} // namespace korvane
