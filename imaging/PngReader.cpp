#include "imaging/PngReader.h"

#include <algorithm>
#include <cstring>
#include <spng.h>

#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

[[noreturn]] void Fail(int err) {
    throw EUnreadablePicture(spng_strerror(err));
}

constexpr std::size_t kMaxChunk = std::size_t{16} << 20;

void RgbToBgr(std::uint8_t* pixels, int count, int step) {
    for (int x = 0; x < count; ++x, pixels += step)
        std::swap(pixels[0], pixels[2]);
}

} // namespace

TPngReader::TPngReader(const std::uint8_t* png, std::size_t size, std::uint32_t maxWidth,
                       std::uint32_t maxHeight, bool alpha)
    : FContext(spng_ctx_new(0), spng_ctx_free), FAlpha(alpha) {
    if (!FContext) throw EUnreadablePicture("out of memory");
    if (int e = spng_set_png_buffer(FContext.get(), png, size)) Fail(e);
    Begin(maxWidth, maxHeight);
}

TPngReader::TPngReader(std::FILE* file, std::uint32_t maxWidth, std::uint32_t maxHeight, bool alpha)
    : FContext(spng_ctx_new(0), spng_ctx_free), FAlpha(alpha) {
    if (!FContext) throw EUnreadablePicture("out of memory");
    if (int e = spng_set_png_file(FContext.get(), file)) Fail(e);
    Begin(maxWidth, maxHeight);
}

TPngReader::~TPngReader() = default;

int TPngReader::Format() const {
    return FAlpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
}

void TPngReader::Begin(std::uint32_t maxWidth, std::uint32_t maxHeight) {
    if (int e = spng_set_image_limits(FContext.get(), std::max<std::uint32_t>(1, maxWidth),
                                      std::max<std::uint32_t>(1, maxHeight)))
        Fail(e);
    // Chunks other than the pixels' are small in any picture we read: bounded, so that none can take much
    // memory.
    if (int e = spng_set_chunk_limits(FContext.get(), kMaxChunk, kMaxChunk)) Fail(e);
    // zlib's checksum guards the pixels; the chunks' own CRCs are checked as well.
    spng_set_crc_action(FContext.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    spng_ihdr ihdr{};
    if (int e = spng_get_ihdr(FContext.get(), &ihdr)) Fail(e);
    FWidth = static_cast<int>(std::min<std::uint32_t>(ihdr.width, 0x7FFFFFFF));
    FHeight = static_cast<int>(std::min<std::uint32_t>(ihdr.height, 0x7FFFFFFF));
    FInterlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    if (FInterlaced && std::uint64_t{ihdr.width} * ihdr.height > kMaxInterlacedPixels)
        throw EUnreadablePicture(Tr("an interlaced picture of more than 64 M pixels"));
    // An interlaced picture comes whole (at the first row); others row by row.
    if (!FInterlaced)
        if (int e = spng_decode_image(FContext.get(), nullptr, 0, Format(), SPNG_DECODE_PROGRESSIVE)) Fail(e);
}

bool TPngReader::ReadRow(std::uint8_t* bgr) {
    if (FRow >= FHeight) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(FWidth) * PixelBytes();
    if (FInterlaced) {
        if (FImage.empty()) {
            std::size_t out = 0;
            if (int e = spng_decoded_image_size(FContext.get(), Format(), &out)) Fail(e);
            FImage.resize(out);
            if (int e = spng_decode_image(FContext.get(), FImage.data(), FImage.size(), Format(), 0)) Fail(e);
        }
        std::memcpy(bgr, FImage.data() + static_cast<std::size_t>(FRow) * rowBytes, rowBytes);
    } else {
        // The last row comes with SPNG_EOI.
        const int e = spng_decode_row(FContext.get(), bgr, rowBytes);
        if (e != 0 && e != SPNG_EOI) Fail(e);
        if (e == SPNG_EOI) FRow = FHeight - 1;
    }
    ++FRow;
    RgbToBgr(bgr, FWidth, PixelBytes());
    return true;
}

bool DecodePngInto(const std::uint8_t* png, std::size_t size, const TBitmapRows& rows, int width, int height,
                   int top, TRowGate* gate) {
    if (width < 0 || height < 0 || rows.Width < width || top < 0 || rows.Height - top < height ||
        (rows.PixelBytes != 3 && rows.PixelBytes != 4))
        throw EConvertError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    // The clip asked for, give or take the rounding of its edges.
    const auto limit = [](int side) {
        return static_cast<std::uint32_t>(
            std::min<std::int64_t>(std::int64_t{side} + kEdgeRounding, TPngReader::kNoLimit));
    };
    const std::size_t pixel = static_cast<std::size_t>(rows.PixelBytes);
    TPngReader reader(png, size, limit(width), limit(height), pixel == 4);
    const int copyW = std::min(reader.Width(), width);
    const int copyH = std::min(reader.Height(), height);
    const std::size_t rowBytes = static_cast<std::size_t>(reader.Width()) * pixel;
    // A row that fits is decoded in place and turned around there; a wider one goes through a row of its own.
    const bool inPlace = reader.Width() <= width && rowBytes <= rows.Stride;
    std::vector<std::uint8_t> row(inPlace ? 0 : rowBytes);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* line = rows.ScanLine(top + y);
        const bool covered = y < copyH && reader.ReadRow(inPlace ? line : row.data());
        if (covered && !inPlace) std::memcpy(line, row.data(), static_cast<std::size_t>(copyW) * pixel);
        const int coveredWidth = covered ? copyW : 0;
        // What the picture does not cover is blank page.
        if (coveredWidth < width)
            std::memset(line + static_cast<std::size_t>(coveredWidth) * pixel, 0xFF,
                        static_cast<std::size_t>(width - coveredWidth) * pixel);
        if (gate && !gate->Publish(top + y + 1)) return false;
    }
    return true;
}

void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height,
                   int top) {
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit)
        throw EConvertError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    DecodePngInto(png, size, bitmap.Rows(), width, height, top, nullptr);
}

} // namespace korvane
