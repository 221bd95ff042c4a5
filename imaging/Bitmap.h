#pragma once
// The device-independent bitmap that captures are drawn into and that every encoder reads: pixel formats of
// 1, 4, 8, 15, 16, 24 and 32 bits (device-dependent counts as 24), rows padded with zero bytes to a multiple
// of 4 bytes and stored bottom-up, a palette of up to 256 entries, and writing itself as a BMP file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Graphic.h"
#include "imaging/PixelMemory.h"

namespace korvane {

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format: pfDevice counts as 24; 15-bit pixels take 16 bits of storage (5-5-5, top bit 0),
// 16-bit pixels are 5-6-5, 24-bit pixels are blue, green, red bytes and 32-bit ones add an unused fourth byte.
int PixelFormatBits(TPixelFormat format);
// Bytes of one stored row: the pixels of width at the format's storage bits, rounded up to a multiple of 4.
// Throws EOutOfResources when the count does not fit in std::size_t.
std::size_t BitmapRowStride(int width, TPixelFormat format);

class TBitmap : public TGraphic {
public:
    TBitmap(); // empty, pfDevice (treated as 24 bits)
    // Copies take the size, pixel format, pixels, palette and transparent flag; never the handlers.
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    ~TBitmap() override;

    std::string ClassName() const override { return "TBitmap"; }
    // A bitmap source is copied; other graphics are asked to draw themselves into this bitmap (AssignTo).
    void Assign(const TPersistent& source) override;

    TPixelFormat PixelFormat() const { return format_; }
    // A new storage bit count gives new pixel memory, all zero; the old pixels are not converted.
    void SetPixelFormat(TPixelFormat format);
    // Storage bits per pixel of the current format (1, 4, 8, 16, 24 or 32; pf15bit gives 16).
    int BitsPerPixel() const;

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Negative sizes count as 0. The pixels that lie in both the old and the new size are kept, the rest is
    // zero. Throws EOutOfResources (nothing changed) when the memory cannot be had or its size overflows.
    void SetWidth(int width) override { SetSize(width, height_); }
    void SetHeight(int height) override { SetSize(width_, height); }
    void SetSize(int width, int height);
    bool Empty() const override { return width_ == 0 || height_ == 0; }

    std::size_t RowStride() const { return stride_; }     // bytes per stored row, a multiple of 4, padding zero
    std::size_t ImageSize() const { return stride_ * static_cast<std::size_t>(height_); } // bytes of Bits()
    // Row y counted from the top row of the picture; storage is bottom-up.
    std::uint8_t* ScanLine(int y) { return bits_.Data() + static_cast<std::size_t>(height_ - 1 - y) * stride_; }
    const std::uint8_t* ScanLine(int y) const {
        return bits_.Data() + static_cast<std::size_t>(height_ - 1 - y) * stride_;
    }
    // The whole storage, bottom row first; null when empty.
    std::uint8_t* Bits() { return bits_.Data(); }
    const std::uint8_t* Bits() const { return bits_.Data(); }

    void Clear(); // becomes empty; pixel memory released; format, palette and flag stay

    const std::vector<TPaletteEntry>& Palette() const override { return palette_; }
    void SetPalette(std::vector<TPaletteEntry> palette) override; // entries beyond 256 are dropped

    bool Transparent() const override { return TGraphic::Transparent(); }
    void SetTransparent(bool value) override { TGraphic::SetTransparent(value); }

    // Writes a BMP file (replacing the target only once it is complete): EFCreateError, EWriteError.
    void SaveToFile(const std::string& path) const;

private:
    void Reallocate(int width, int height, TPixelFormat format, bool keep);

    TPixelFormat format_ = TPixelFormat::pfDevice;
    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
    PixelMemory bits_;
    std::vector<TPaletteEntry> palette_;
};

} // namespace korvane
