#pragma once
// Decoding the engine's PNG screenshots into a 24-bit bitmap (libspng, row by row, RGB to BGR).
#include <cstddef>
#include <cstdint>

namespace korvane {

class TBitmap;

// Decodes the PNG into the top-left width x height of a 24-bit bitmap that is at least that large. Pixels the
// picture does not cover are set to white. Throws EEngineError for data that is no readable PNG.
void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height);

} // namespace korvane
