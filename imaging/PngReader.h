#pragma once
// Reading PNG pictures (libspng) into 24-bit blue-green-red rows, top row first: the browser's screenshots
// and the files the programs wrote.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "imaging/GraphicErrors.h"

struct spng_ctx;

namespace korvane {

class TBitmap;
class TRowGate;
struct TBitmapRows;

// Data that is no picture of a format we read, or one that ends early. What() is the decoder's own text.
class EUnreadablePicture : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

class TPngReader {
public:
    // Reads from bytes the caller keeps until the reader is gone, or from an open file (read from where it
    // stands). A picture wider or higher than the limits is refused before any of it is decoded. Throws
    // EUnreadablePicture when there is no PNG header or the picture is beyond the limits.
    // With `alpha`, rows are read with their alpha (4 bytes a pixel).
    TPngReader(const std::uint8_t* png, std::size_t size, std::uint32_t maxWidth = kNoLimit,
               std::uint32_t maxHeight = kNoLimit, bool alpha = false);
    explicit TPngReader(std::FILE* file, std::uint32_t maxWidth = kNoLimit,
                        std::uint32_t maxHeight = kNoLimit, bool alpha = false);
    static constexpr std::uint32_t kNoLimit = 0x7FFFFFFF;
    // An interlaced picture is decoded whole before its first row: one with more pixels is refused.
    static constexpr std::uint64_t kMaxInterlacedPixels = std::uint64_t{64} << 20;
    ~TPngReader();
    TPngReader(const TPngReader&) = delete;
    TPngReader& operator=(const TPngReader&) = delete;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // The next row as Width() blue-green-red(-alpha) pixels into `bgr` (room for Width() x PixelBytes()
    // bytes). False once every row has been read. Throws EUnreadablePicture for data that cannot be decoded.
    bool ReadRow(std::uint8_t* bgr);
    int PixelBytes() const { return FAlpha ? 4 : 3; }

private:
    void Begin(std::uint32_t maxWidth, std::uint32_t maxHeight);
    int Format() const; // libspng's pixel format of the rows
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> FContext;
    int FWidth = 0, FHeight = 0;
    int FRow = 0;
    bool FInterlaced = false;
    bool FAlpha = false;
    std::vector<std::uint8_t> FImage; // an interlaced picture, decoded whole at the first row
};

// Decodes the PNG into width x height pixels of 24-bit rows (or 32-bit ones, alpha kept), starting at row
// `top` and the left edge; the rows must hold that band. Pixels of the band the picture does not cover are
// set to (opaque) white. Each finished row is published to the gate (as top + rows done), when there is one;
// returns false when the gate's reader gave up and decoding stopped early. A picture larger than the band (by
// more than kEdgeRounding pixels a side, the rounding of a clip's edges at a fractional scale) is not a
// picture of it, and is refused before it is decoded. Throws EUnreadablePicture for data that is no readable
// PNG, EConvertError when the rows cannot hold the band.
inline constexpr int kEdgeRounding = 2;
bool DecodePngInto(const std::uint8_t* png, std::size_t size, const TBitmapRows& rows, int width, int height,
                   int top, TRowGate* gate);
// The same into a 24-bit bitmap, without a gate.
void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height,
                   int top = 0);

} // namespace korvane
