#pragma once
// Decoding the engine's PNG screenshots into 24-bit bitmap rows (libspng, row by row, RGB to BGR).
#include <cstddef>
#include <cstdint>

namespace korvane {

class TBitmap;
class TRowGate;
struct TBitmapRows;

// Decodes the PNG into width x height pixels of 24-bit rows, starting at row `top` and the left edge; the
// rows must hold that band. Pixels of the band the picture does not cover are set to white. Each finished row
// is published to the gate (as top + rows done), when there is one; returns false when the gate's reader gave
// up and decoding stopped early. Throws EEngineError for data that is no readable PNG.
bool DecodePngInto(const std::uint8_t* png, std::size_t size, const TBitmapRows& rows, int width, int height,
                   int top, TRowGate* gate);
// The same into a 24-bit bitmap, without a gate.
void DecodePngInto(const std::uint8_t* png, std::size_t size, TBitmap& bitmap, int width, int height,
                   int top = 0);

} // namespace korvane
