#include "capture/Encoding.h"

#include "capture/CaptureSize.h"
#include "imaging/WebpImage.h"
#include "platform/Translate.h"

#include <string>

namespace korvane {

bool HoldsTransparency(TSaveFormat format) {
    return format == TSaveFormat::Png || format == TSaveFormat::Webp;
}

void CheckFormatSize(TSaveFormat format, std::int32_t width, std::int32_t height) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    if (format == TSaveFormat::Jpg && (width > kMaxJpegSide || height > kMaxJpegSide))
        throw EFormatLimitError(FormatText(Tr("A jpg image can be at most %1 pixels wide and high; this "
                                              "capture is %2 x %3: save it as png or bmp"),
                                           {std::to_string(kMaxJpegSide), w, h}));
    if (format == TSaveFormat::Webp && (width > kMaxWebpSide || height > kMaxWebpSide))
        throw EFormatLimitError(FormatText(Tr("A webp image can be at most %1 pixels wide and high; this "
                                              "capture is %2 x %3: save it as png"),
                                           {std::to_string(kMaxWebpSide), w, h}));
}

std::int64_t PictureBytes(const TEncoding& encoding, std::int64_t width, std::int64_t height) {
    const std::int64_t bitmap = (width * (encoding.Transparent ? 4 : 3) + 3) / 4 * 4 * height;
    if (encoding.Format != TSaveFormat::Webp) return bitmap;
    return bitmap + WebpWorkingBytes(width, height, encoding.Quality <= 0);
}

} // namespace korvane
