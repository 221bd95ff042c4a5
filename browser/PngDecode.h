#pragma once
// Decoding the engine's PNG screenshots into a 24-bit bitmap (libspng, row by row, RGB to BGR).
#include <cstddef>
#include <cstdint>

namespace korvane {

class TBitmap;

// Decodes the PNG into width x height pixels of a 24-bit bitmap, starting at row `top` and the left edge; the
// bitmap must hold that band. Pixels of the band the picture does not cover are set to white. Throws
// EEngineError for data that is no readable PNG.
void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height, int top = 0);

} // namespace korvane
