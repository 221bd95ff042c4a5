#pragma once
// How a capture's picture is encoded: the file format and what may be chosen of it.
#include <cstdint>

#include "capture/OutputPath.h"

namespace korvane {

struct TEncoding {
    TSaveFormat Format = TSaveFormat::Png;
    int Quality = 0; // 1 to 100 for jpg and webp; 0: the format's default (jpg 90, webp lossless)
    // png and webp: the picture has an alpha channel, and what the page leaves unpainted is transparent.
    bool Transparent = false;

    TEncoding() = default;
    TEncoding(TSaveFormat format) : Format(format) {} // NOLINT: a format alone is its default encoding
    bool operator==(const TEncoding&) const = default;
};

inline constexpr int kDefaultJpegQuality = 90;

// The formats that can keep transparency.
bool HoldsTransparency(TSaveFormat format);

// Throws EFormatLimitError when the format cannot hold a picture of this size.
void CheckFormatSize(TSaveFormat format, std::int32_t width, std::int32_t height);

// Bytes a picture of this size takes while its file is made: the bitmap it is put into and what its encoder
// holds beside it.
std::int64_t PictureBytes(const TEncoding& encoding, std::int64_t width, std::int64_t height);

} // namespace korvane
