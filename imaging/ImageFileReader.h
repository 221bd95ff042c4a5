#pragma once
// Reading back the image files the programs write (PNG, JPEG, BMP, WebP), row by row from the top, as 24-bit
// blue-green-red pixels: only as many rows as the caller asks for are decoded.
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/PngReader.h"

namespace korvane {

class TImageFileRows {
public:
    virtual ~TImageFileRows() = default;
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // The next row into `bgr` (room for Width() x 3 bytes). Throws EUnreadablePicture when the file ends
    // early or its data cannot be decoded.
    virtual void ReadRow(std::uint8_t* bgr) = 0;

protected:
    int FWidth = 0, FHeight = 0;
};

// The largest picture a caller takes: a header may claim any size.
struct TImageLimits {
    int MaxWidth = 0x7FFFFFFF, MaxHeight = 0x7FFFFFFF;
};

// Opens the image file and reads its header; the format is told by the file's first bytes. A JPEG is decoded
// at a half, a quarter or an eighth of its size as long as it stays at least `leastWidth` wide (0: its own
// size). Only a regular file is read (a pipe or a device could hold the reader up or never end). Throws
// EFOpenError when the file cannot be opened, EUnreadablePicture when it is no regular file, no PNG, JPEG,
// 24-bit BMP or WebP, or a picture beyond the limits (the text says which).
std::unique_ptr<TImageFileRows> OpenImageFile(const std::string& path, int leastWidth = 0,
                                              TImageLimits limits = {});

} // namespace korvane
