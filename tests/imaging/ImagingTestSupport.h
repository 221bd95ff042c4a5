#pragma once
// Helpers of the imaging tests: bitmaps with known pixels, PNG chunk parsing, decoding with libspng,
// pngcheck, and a temporary folder.
#include "tests/support/TempFolder.h"
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace korvane::test {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
    std::string type;
    Bytes data;
    std::uint32_t crc = 0;
    bool crcValid = false;
};

// The chunks after the signature; a malformed stream stops the list (ok is false then).
std::vector<Chunk> ParseChunks(const Bytes& png, bool* ok = nullptr);
std::vector<std::string> ChunkTypes(const Bytes& png);
Bytes ChunkData(const Bytes& png, const std::string& type); // first chunk of that type
// All IDAT data joined and inflated with zlib: the filtered rows.
Bytes InflateImageData(const Bytes& png);
Bytes JoinedImageData(const Bytes& png);

std::uint32_t BE32(const std::uint8_t* p);
std::uint16_t BE16(const std::uint8_t* p);

// The image decoded by libspng as 8-bit RGBA, top row first (alpha 255 unless the file has alpha).
struct Decoded {
    std::uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    std::vector<std::uint8_t> rgba;
    std::string error; // empty when decoding succeeded
};
Decoded DecodePng(const Bytes& png);

// Runs pngcheck on the file; returns its output, and sets passed when it reports no errors.
std::string RunPngcheck(const std::string& path, bool* passed);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

using korvane::testing::TempFolder;

// A bitmap of the format whose pixel (x, y) (y = 0 top) is set by store(row, x, y).
TBitmap MakeBitmap(TPixelFormat format, int width, int height,
                   const std::function<void(std::uint8_t* row, int x, int y)>& store);
// A 24-bit bitmap whose pixel (x, y) gets the colour red, green, blue of colour(x, y).
struct Rgb {
    std::uint8_t r, g, b;
};
TBitmap MakeRgbBitmap(int width, int height, const std::function<Rgb(int x, int y)>& colour);
// Deterministic pseudo-random numbers for test content.
std::uint32_t Noise(std::uint32_t x, std::uint32_t y, std::uint32_t seed = 0);
// A 24-bit bitmap of noise: poorly compressible, every pixel different.
TBitmap NoiseRgbBitmap(int width, int height, std::uint32_t seed);
// A page's look, repeated every 1200 rows: a gradient band, a noisy "photo" on the right, text-like strokes
// on white.
TBitmap PageLikeBitmap(int width, int height);

} // namespace korvane::test

namespace korvane {
class TPngWriteStream;
}
namespace korvane::test {
// Encodes the bitmap with a fresh encoder that configure may adjust first.
Bytes EncodePng(const TBitmap& bitmap, const std::function<void(TPngWriteStream&)>& configure = {});
// The filter-type byte of every row of a non-interlaced image whose filtered rows are rowLength + 1 bytes.
std::vector<int> FilterTypes(const Bytes& png, std::size_t rowLength);
} // namespace korvane::test
