#pragma once
// WebP output through libwebp: lossless by default (the pixels exactly), lossy at a quality. The encoder
// needs the whole picture at once: the bitmap's rows are copied into its own 32-bit picture as they come.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/GraphicErrors.h"

namespace korvane {

class TBitmap;

// The encoder refused the picture or failed; the text is libwebp's reason.
class EWebpError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// The largest side a WebP image can have.
inline constexpr std::int32_t kMaxWebpSide = 16383;

struct TWebpSettings {
    int Quality = 0; // 1 to 100: lossy at that quality; 0: lossless
    int Method = 4;  // effort, 0 (fast) to 6 (small files); the command-line encoder's default
    // A 32-bit bitmap's fourth byte is the pixels' alpha (straight): the picture keeps its transparency.
    bool Alpha = false;
};

// The WebP file of a 24- or 32-bit bitmap, waiting for rows another thread still draws (its row gate). Throws
// EIncompletePicture when those rows never come (a cancelled gate also ends the encoding early), EWebpError
// when libwebp refuses (a side above kMaxWebpSide) or runs out of memory, EConvertError for another
// pixel format.
std::vector<std::uint8_t> EncodeWebp(const TBitmap& bitmap, const TWebpSettings& settings);
// The same written to a file, which replaces path only once it is complete.
void SaveWebpFile(const TBitmap& bitmap, const std::string& path, const TWebpSettings& settings);

// Bytes the encoder holds beside the bitmap while it works on a picture of this size (its own copy of the
// pixels and its working tables), as measured on pictures of web pages.
std::int64_t WebpWorkingBytes(std::int64_t width, std::int64_t height, bool lossless);

} // namespace korvane
