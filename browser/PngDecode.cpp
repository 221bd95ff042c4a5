#include "browser/PngDecode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <spng.h>
#include <string>
#include <vector>

#include "browser/EngineError.h"
#include "imaging/Bitmap.h"

namespace korvane {
namespace {

struct CtxFree {
    void operator()(spng_ctx* c) const noexcept { spng_ctx_free(c); }
};

[[noreturn]] void Fail(int err) {
    throw EEngineError(std::string("The engine's screenshot cannot be decoded: ") + spng_strerror(err));
}

void RgbToBgr(const std::uint8_t* rgb, std::uint8_t* bgr, int pixels) {
    for (int x = 0; x < pixels; ++x, rgb += 3, bgr += 3) {
        const std::uint8_t r = rgb[0];
        bgr[0] = rgb[2];
        bgr[1] = rgb[1];
        bgr[2] = r;
    }
}

} // namespace

void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height,
                   int top) {
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit || bitmap.Width() < width || top < 0 ||
        bitmap.Height() - top < height)
        throw EEngineError("The bitmap to draw into is not a 24-bit bitmap of the drawing's size");
    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (!ctx) throw EEngineError("The engine's screenshot cannot be decoded: out of memory");
    // The data comes from our own browser over a private pipe; zlib's checksum still guards the pixels.
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    if (int e = spng_set_png_buffer(ctx.get(), png, size)) Fail(e);
    spng_ihdr ihdr{};
    if (int e = spng_get_ihdr(ctx.get(), &ihdr)) Fail(e);
    const int pngW = static_cast<int>(std::min<std::uint32_t>(ihdr.width, 0x7FFFFFFF));
    const int pngH = static_cast<int>(std::min<std::uint32_t>(ihdr.height, 0x7FFFFFFF));
    const int copyW = std::min(pngW, width);
    const int copyH = std::min(pngH, height);
    const std::size_t rowBytes = static_cast<std::size_t>(ihdr.width) * 3;

    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        if (int e = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE)) Fail(e);
        // Rows that fit the bitmap are decoded in place and turned around there; others pass through a
        // buffer.
        const bool inPlace = pngW <= width && rowBytes <= bitmap.RowStride();
        std::vector<std::uint8_t> row(inPlace ? 0 : rowBytes);
        for (std::uint32_t y = 0; y < ihdr.height; ++y) {
            const bool kept = static_cast<int>(y) < copyH;
            std::uint8_t* line = kept ? bitmap.ScanLine(top + static_cast<int>(y)) : nullptr;
            if (inPlace && !kept) row.resize(rowBytes);
            std::uint8_t* into = inPlace && kept ? line : row.data();
            int e = spng_decode_row(ctx.get(), into, rowBytes);
            if (e != 0 && e != SPNG_EOI) Fail(e);
            if (kept) RgbToBgr(into, line, copyW);
            if (e == SPNG_EOI) break;
        }
    } else {
        std::size_t out = 0;
        if (int e = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &out)) Fail(e);
        std::vector<std::uint8_t> image(out);
        if (int e = spng_decode_image(ctx.get(), image.data(), image.size(), SPNG_FMT_RGB8, 0)) Fail(e);
        for (int y = 0; y < copyH; ++y)
            RgbToBgr(image.data() + static_cast<std::size_t>(y) * rowBytes, bitmap.ScanLine(top + y), copyW);
    }
    // What the picture does not cover is blank page.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* line = bitmap.ScanLine(top + y);
        if (y >= copyH)
            std::memset(line, 0xFF, static_cast<std::size_t>(width) * 3);
        else if (copyW < width)
            std::memset(line + static_cast<std::size_t>(copyW) * 3, 0xFF,
                        static_cast<std::size_t>(width - copyW) * 3);
    }
}

} // namespace korvane
