#pragma once
// Conversion of one bitmap row (or the pixels of one interlace pass of it) into the raw bytes of a PNG row.
#include <array>
#include <cstddef>
#include <cstdint>

#include "imaging/Bitmap.h"

namespace korvane {

class PngRowConverter {
public:
    // sourceBits: 1, 4, 8, 15, 16, 24 or 32. alphaBitmap (8 bits per pixel, the source's size) is used when
    // alpha is set: its inverted bytes become the alpha samples; without one, a 32-bit source's fourth bytes
    // are.
    PngRowConverter(const TBitmap& source, int sourceBits, bool gray, bool alpha, const TBitmap* alphaBitmap);

    // Converts the pixels x0, x0 + dx, ... (count of them) of row y (0 = top) into out.
    void Convert(int y, int x0, int dx, int count, std::uint8_t* out) const;

    int OutputBits() const { return FOutputBits; } // bits of one output pixel: 1, 4, 8, 16, 24 or 32

private:
    void ConvertIndexed(const std::uint8_t* row, const std::uint8_t* mask, int x0, int dx, int count,
                        std::uint8_t* out) const;

    const TBitmap& FSource;
    int FSourceBits;
    bool FGray;
    bool FAlpha;
    const TBitmap* FAlphaBitmap;
    bool FImageAlpha; // the alpha samples are the source's fourth bytes
    int FOutputBits = 24;
    bool FIdentity = true;                // palette sources: indices go out as they stand
    std::array<std::uint8_t, 256> FMap{}; // palette sources: output sample of each index
};

} // namespace korvane
