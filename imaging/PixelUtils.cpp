#include "imaging/PixelUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace korvane {

std::size_t RowStrideBytes(int width, int bits) {
    if (width <= 0 || bits <= 0) return 0;
    const auto bytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
    return (bytes + 3) & ~static_cast<std::size_t>(3);
}

std::vector<TPaletteEntry> ReadPalette(const TBitmap& bitmap) {
    const auto& palette = bitmap.Palette();
    return {palette.begin(),
            palette.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(palette.size(), 256))};
}

int NearestPaletteIndex(const std::vector<TPaletteEntry>& palette, int red, int green, int blue) {
    int best = -1;
    int bestDistance = 0;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int distance = std::abs(palette[i].red - red) + std::abs(palette[i].green - green) +
                             std::abs(palette[i].blue - blue);
        if (distance == 0) return static_cast<int>(i);
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

void RowToBGR(const TBitmap& bitmap, int y, std::uint8_t* out) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    const int width = bitmap.Width();
    const int bits = bitmap.BitsPerPixel();
    switch (bitmap.PixelFormat()) {
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf24bit:
        std::memcpy(out, row, static_cast<std::size_t>(width) * 3);
        return;
    case TPixelFormat::pf32bit:
        for (int x = 0; x < width; ++x, row += 4, out += 3) {
            out[0] = row[0];
            out[1] = row[1];
            out[2] = row[2];
        }
        return;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: {
        const bool five = bitmap.PixelFormat() == TPixelFormat::pf15bit;
        for (int x = 0; x < width; ++x, row += 2, out += 3) {
            const TRgb c = five ? Expand15(row) : Expand16(row);
            out[0] = c.blue;
            out[1] = c.green;
            out[2] = c.red;
        }
        return;
    }
    default: {
        const auto& palette = bitmap.Palette();
        for (int x = 0; x < width; ++x, out += 3) {
            const unsigned index = PixelIndex(row, x, bits);
            const TPaletteEntry e = index < palette.size() ? palette[index] : TPaletteEntry{};
            out[0] = e.blue;
            out[1] = e.green;
            out[2] = e.red;
        }
        return;
    }
    }
}

} // namespace korvane
