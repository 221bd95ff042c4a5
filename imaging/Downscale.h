#pragma once
// Making a picture smaller: each pixel of the result is the mean of the block of pixels it stands for.
#include <cstddef>
#include <cstdint>

namespace korvane {

class TBitmap;

// Scales width x height pixels of 3 bytes (rows `stride` bytes apart, top row first) into the whole of
// `into`, a 24-bit bitmap no larger than the picture; the channels keep their order.
void ScaleDownInto(const std::uint8_t* pixels, std::size_t stride, int width, int height, TBitmap& into);

} // namespace korvane
