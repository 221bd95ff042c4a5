#pragma once
// Small pixel routines shared by the encoders: row strides, palette read-out and matching, gray values and
// the widening of 5- and 6-bit components.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/Bitmap.h"

namespace korvane {

// A colour value: low byte red, next green, next blue; a top byte of 1 marks a palette index in the low byte;
// -1 means no colour.
using TColor = std::int32_t;
constexpr TColor clNone = -1;
constexpr TColor PaletteIndexColor(int index) {
    return 0x01000000 | (index & 0xFF);
}
constexpr TColor RGBColor(int red, int green, int blue) {
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

// ((width x bits + 7) / 8 + 3) rounded down to a multiple of 4.
std::size_t RowStrideBytes(int width, int bits);

// Bits of a format as the encoders count them: 1, 4, 8, 15, 16, 24 or 32 (pfDevice gives 24).
inline int PixelFormatToBits(TPixelFormat format) {
    return PixelFormatBits(format);
}

// Up to 256 entries of the bitmap's palette.
std::vector<TPaletteEntry> ReadPalette(const TBitmap& bitmap);

// The entry with the smallest sum of absolute differences of red, green and blue; the first one on ties, an
// exact match at once. -1 for an empty palette.
int NearestPaletteIndex(const std::vector<TPaletteEntry>& palette, int red, int green, int blue);

// (red x 77 + green x 150 + blue x 29) / 256.
constexpr std::uint8_t GrayValue(unsigned red, unsigned green, unsigned blue) {
    return static_cast<std::uint8_t>((red * 77 + green * 150 + blue * 29) >> 8);
}

// Widening that maps 0 to 0 and the largest value to 255 by repeating the top bits.
constexpr std::uint8_t Widen5(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
constexpr std::uint8_t Widen6(unsigned v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// One pixel of a 15-bit (0RRRRRGGGGGBBBBB) or 16-bit (RRRRRGGGGGGBBBBB) little-endian word as 8-bit
// red, green, blue.
struct TRgb {
    std::uint8_t red, green, blue;
};
inline TRgb Expand15(const std::uint8_t* p) {
    const unsigned w = p[0] | (p[1] << 8);
    return {Widen5((w >> 10) & 31), Widen5((w >> 5) & 31), Widen5(w & 31)};
}
inline TRgb Expand16(const std::uint8_t* p) {
    const unsigned w = p[0] | (p[1] << 8);
    return {Widen5((w >> 11) & 31), Widen6((w >> 5) & 63), Widen5(w & 31)};
}

// The palette index of pixel x of a row of 1, 4 or 8 bits per pixel (most significant bits first).
inline unsigned PixelIndex(const std::uint8_t* row, int x, int bits) {
    switch (bits) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
        return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15u;
    default:
        return row[x];
    }
}

// Row y of any bitmap as W blue, green, red triples (palette formats through their palette).
void RowToBGR(const TBitmap& bitmap, int y, std::uint8_t* out);

} // namespace korvane
