#pragma once
// Windows bitmap files: a 14-byte file header, a 40-byte information header, the colour table of palette
// formats (or the 5-6-5 bit masks of 16-bit pixels) and the rows as they lie in memory, bottom row first.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace korvane {

// The headers (and colour table or masks) that precede the pixel rows; empty for an empty bitmap.
std::vector<std::uint8_t> BmpHeaders(const TBitmap& bitmap);

// Writes the whole file through a temporary file in the same folder that replaces path only when complete.
// An empty bitmap gives a zero-length file. Throws EFCreateError or EWriteError; then path is untouched.
void WriteBmpFile(const TBitmap& bitmap, const std::string& path);

} // namespace korvane
