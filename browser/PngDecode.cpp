#include "browser/PngDecode.h"
#include "platform/Translate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <spng.h>
#include <string>
#include <vector>

#include "browser/EngineError.h"
#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"

namespace korvane {
namespace {

struct CtxFree {
    void operator()(spng_ctx* c) const noexcept { spng_ctx_free(c); }
};

[[noreturn]] void Fail(int err) {
    throw EEngineError(FormatText(Tr("The engine's screenshot cannot be decoded: %1"), {spng_strerror(err)}));
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

bool DecodePngInto(const std::uint8_t* png, std::size_t size, const TBitmapRows& rows, int width, int height,
                   int top, TRowGate* gate) {
    if (width < 0 || height < 0 || rows.Width < width || top < 0 || rows.Height - top < height)
        throw EEngineError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (!ctx)
        throw EEngineError(
            FormatText(Tr("The engine's screenshot cannot be decoded: %1"), {"out of memory"}));
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
    const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;

    // An interlaced picture comes whole; others row by row, decoded in place where the row fits and turned
    // around there.
    std::vector<std::uint8_t> image;
    if (interlaced) {
        std::size_t out = 0;
        if (int e = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &out)) Fail(e);
        image.resize(out);
        if (int e = spng_decode_image(ctx.get(), image.data(), image.size(), SPNG_FMT_RGB8, 0)) Fail(e);
    } else if (int e = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE)) {
        Fail(e);
    }
    const bool inPlace = !interlaced && pngW <= width && rowBytes <= rows.Stride;
    std::vector<std::uint8_t> row(interlaced || inPlace ? 0 : rowBytes);
    bool more = true; // rows left in the PNG
    for (int y = 0; y < height; ++y) {
        std::uint8_t* line = rows.ScanLine(top + y);
        if (y < copyH) {
            const std::uint8_t* rgb = nullptr;
            if (interlaced) {
                rgb = image.data() + static_cast<std::size_t>(y) * rowBytes;
            } else {
                std::uint8_t* into = inPlace ? line : row.data();
                const int e = more ? spng_decode_row(ctx.get(), into, rowBytes) : SPNG_EOI;
                if (e != 0 && e != SPNG_EOI) Fail(e);
                more = e == 0;
                rgb = into;
            }
            RgbToBgr(rgb, line, copyW);
            // What the picture does not cover is blank page.
            if (copyW < width)
                std::memset(line + static_cast<std::size_t>(copyW) * 3, 0xFF,
                            static_cast<std::size_t>(width - copyW) * 3);
        } else {
            std::memset(line, 0xFF, static_cast<std::size_t>(width) * 3);
        }
        if (gate && !gate->Publish(top + y + 1)) return false;
    }
    return true;
}

void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height,
                   int top) {
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit)
        throw EEngineError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    DecodePngInto(png, size, bitmap.Rows(), width, height, top, nullptr);
}

} // namespace korvane
