#include "imaging/PngRows.h"

#include <cstring>
#include <utility>

#include "imaging/GraphicErrors.h"
#include "imaging/PixelUtils.h"

namespace korvane {

PngRowConverter::PngRowConverter(const TBitmap& source, int sourceBits, bool gray, bool alpha,
                                 const TBitmap* alphaBitmap)
    : FSource(source), FSourceBits(sourceBits), FGray(gray),
      FAlpha(alpha && (alphaBitmap != nullptr || sourceBits == 32)), FAlphaBitmap(alphaBitmap),
      FImageAlpha(FAlpha && alphaBitmap == nullptr) {
    if (FSourceBits <= 8) {
        FOutputBits = FSourceBits * (FAlpha ? 2 : 1);
        for (int i = 0; i < 256; ++i)
            FMap[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        const auto palette = ReadPalette(FSource);
        if (FGray && !palette.empty()) {
            auto y = [&](std::size_t i) {
                return GrayValue(palette[i].red, palette[i].green, palette[i].blue);
            };
            if (FSourceBits == 1) {
                // The bits stay, inverted as a whole when entry 0 is the brighter one.
                if (palette.size() >= 2 && y(0) > y(1)) {
                    FMap[0] = 1;
                    FMap[1] = 0;
                    FIdentity = false;
                }
            } else {
                const int shift = FSourceBits == 4 ? 4 : 0;
                for (std::size_t i = 0; i < palette.size(); ++i)
                    FMap[i] = static_cast<std::uint8_t>(y(i) >> shift);
                FIdentity = false;
            }
        }
    } else {
        FOutputBits = (FGray ? 8 : 24) + (FAlpha ? 8 : 0);
    }
}

void PngRowConverter::ConvertIndexed(const std::uint8_t* row, const std::uint8_t* mask, int x0, int dx,
                                     int count, std::uint8_t* out) const {
    const int bits = FSourceBits;
    if (FIdentity && x0 == 0 && dx == 1 && !FAlpha) {
        std::memcpy(out, row, (static_cast<std::size_t>(count) * static_cast<std::size_t>(bits) + 7) / 8);
        return;
    }
    if (bits == 8) {
        for (int i = 0, x = x0; i < count; ++i, x += dx) {
            *out++ = FMap[row[x]];
            if (FAlpha) *out++ = static_cast<std::uint8_t>(255 - mask[x]);
        }
        return;
    }
    // 1 or 4 bits: pack the samples, most significant bits first.
    const int perByte = 8 / bits;
    std::uint8_t acc = 0;
    int filled = 0;
    for (int i = 0, x = x0; i < count; ++i, x += dx) {
        acc = static_cast<std::uint8_t>((acc << bits) | FMap[PixelIndex(row, x, bits)]);
        if (++filled == perByte) {
            *out++ = acc;
            acc = 0;
            filled = 0;
        }
    }
    if (filled > 0) *out = static_cast<std::uint8_t>(acc << (bits * (perByte - filled)));
}

void PngRowConverter::Convert(int y, int x0, int dx, int count, std::uint8_t* out) const {
    const std::uint8_t* row = FSource.ReadyScanLine(y);
    if (!row) throw EIncompletePicture();
    const std::uint8_t* mask = FAlpha && !FImageAlpha ? FAlphaBitmap->ScanLine(y) : nullptr;
    if (FSourceBits <= 8) {
        ConvertIndexed(row, mask, x0, dx, count, out);
        return;
    }
    const int step = FSourceBits == 32 ? 4 : FSourceBits == 24 ? 3 : 2;
    if (FSourceBits == 24 && !FGray && !FAlpha && dx == 1) {
        // The capture bitmap's case: blue, green, red become red, green, blue.
        const std::uint8_t* p = row + static_cast<std::size_t>(x0) * 3;
        // One block copy of the row (cache-friendly on the large source), then red and blue are swapped in
        // place while the row is in the first-level cache.
        std::memcpy(out, p, static_cast<std::size_t>(count) * 3);
        for (int i = 0; i < count; ++i, out += 3)
            std::swap(out[0], out[2]);
        return;
    }
    for (int i = 0, x = x0; i < count; ++i, x += dx) {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(step);
        TRgb c;
        if (step == 2)
            c = FSourceBits == 15 ? Expand15(p) : Expand16(p);
        else
            c = {p[2], p[1], p[0]};
        if (FGray) {
            *out++ = GrayValue(c.red, c.green, c.blue);
        } else {
            out[0] = c.red;
            out[1] = c.green;
            out[2] = c.blue;
            out += 3;
        }
        if (FAlpha) *out++ = FImageAlpha ? p[3] : static_cast<std::uint8_t>(255 - mask[x]);
    }
}

} // namespace korvane
