#pragma once
// Reads the image files the program writes with decoders that are not the program's own: libspng for PNG,
// libjpeg for JPEG, libwebp's decoder for WebP, and a plain reading of the BMP layout.
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

struct TDecodedImage {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Rgb;   // rows from the top, 3 bytes a pixel
    std::vector<std::uint8_t> Alpha; // a byte a pixel when the file has an alpha channel; empty otherwise
    std::string Format;              // "png", "jpg", "bmp", "webp-lossless" or "webp-lossy"
    std::string Error;               // why decoding failed; empty when it worked

    bool Ok() const { return Error.empty(); }
    // 0xRRGGBB at (x, y), y from the top.
    std::uint32_t Pixel(int x, int y) const;
    // The alpha at (x, y): 255 in a file without alpha.
    int AlphaAt(int x, int y) const;
};

TDecodedImage DecodeImageFile(const std::string& path);

} // namespace korvane::testing
