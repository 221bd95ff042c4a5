#include "CaptureSize.h"
#include "platform/Translate.h"

#include <algorithm>
#include <limits>

namespace korvane {

ECaptureSizeError::ECaptureSizeError(std::int32_t width, std::int32_t height)
    : Error(FormatText(
          Tr("The capture size %1 x %2 cannot be drawn: each side must be at least 1, the width at "
             "most %3, the height at most %4 and the area at most %5 million pixels"),
          {std::to_string(width), std::to_string(height), std::to_string(kMaxCaptureWidth),
           std::to_string(kMaxCaptureHeight), std::to_string(kMaxCapturePixels / 1000000)})) {}

std::int32_t TSideChoice::Resolve(std::int32_t bodyScrollSize, std::int32_t documentScrollSize) const {
    if (!Automatic) return Pixels;
    const std::int64_t side = std::max<std::int64_t>(std::int64_t{bodyScrollSize} + 30, documentScrollSize);
    return static_cast<std::int32_t>(std::min<std::int64_t>(side, std::numeric_limits<std::int32_t>::max()));
}

ECaptureSizeError::ECaptureSizeError(std::int32_t width)
    : Error(FormatText(Tr("The capture width %1 cannot be drawn: it must be from 1 to %2"),
                       {std::to_string(width), std::to_string(kMaxCaptureWidth)})) {}

void CheckCaptureWidth(std::int32_t width) {
    if (width < 1 || width > kMaxCaptureWidth) throw ECaptureSizeError(width);
}

void CheckCaptureSize(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1 || width > kMaxCaptureWidth || height > kMaxCaptureHeight ||
        static_cast<std::int64_t>(width) * height > kMaxCapturePixels)
        throw ECaptureSizeError(width, height);
}

} // namespace korvane
