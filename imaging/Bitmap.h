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
#include "imaging/RowGate.h"

namespace korvane {

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format: pfDevice counts as 24; 15-bit pixels take 16 bits of storage (5-5-5, top bit
// 0), 16-bit pixels are 5-6-5, 24-bit pixels are blue, green, red bytes and 32-bit ones add an unused fourth
// byte.
int PixelFormatBits(TPixelFormat format);
// Bytes of one stored row: the pixels of width at the format's storage bits, rounded up to a multiple of 4.
// Throws EOutOfResources when the count does not fit in std::size_t.
std::size_t BitmapRowStride(int width, TPixelFormat format);

// Where the rows of a bitmap lie in memory, for a thread that fills them while the bitmap object itself is
// handed on (a move keeps the pixel memory where it is).
struct TBitmapRows {
    std::uint8_t* Bottom = nullptr; // the stored first row: the picture's bottom row
    std::size_t Stride = 0;
    int Width = 0, Height = 0;
    int PixelBytes = 3; // 3: blue, green, red; 4: blue, green, red, alpha
    std::uint8_t* ScanLine(int y) const { return Bottom + static_cast<std::size_t>(Height - 1 - y) * Stride; }
};

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

    TPixelFormat PixelFormat() const { return FFormat; }
    // A new storage bit count gives new pixel memory, all zero; the old pixels are not converted.
    void SetPixelFormat(TPixelFormat format);
    // Storage bits per pixel of the current format (1, 4, 8, 16, 24 or 32; pf15bit gives 16).
    int BitsPerPixel() const;

    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    // Negative sizes count as 0. The pixels that lie in both the old and the new size are kept, the rest is
    // zero. Throws EOutOfResources (nothing changed) when the memory cannot be had or its size overflows.
    void SetWidth(int width) override { SetSize(width, FHeight); }
    void SetHeight(int height) override { SetSize(FWidth, height); }
    void SetSize(int width, int height);
    bool Empty() const override { return FWidth == 0 || FHeight == 0; }

    std::size_t RowStride() const { return FStride; } // bytes per stored row, a multiple of 4, padding zero
    std::size_t ImageSize() const { return FStride * static_cast<std::size_t>(FHeight); } // bytes of Bits()
    // Row y counted from the top row of the picture; storage is bottom-up.
    std::uint8_t* ScanLine(int y) {
        return FBits.Data() + static_cast<std::size_t>(FHeight - 1 - y) * FStride;
    }
    const std::uint8_t* ScanLine(int y) const {
        return FBits.Data() + static_cast<std::size_t>(FHeight - 1 - y) * FStride;
    }
    // The whole storage, bottom row first; null when empty.
    std::uint8_t* Bits() { return FBits.Data(); }
    const std::uint8_t* Bits() const { return FBits.Data(); }

    void Clear(); // becomes empty; pixel memory released; format, palette and flag stay

    // Rows still being written by another thread (a filler, through Rows()): ReadyScanLine waits for them,
    // copies and BMP output wait for all of them, and the pixels are not freed or replaced before the filler
    // has stopped. A move takes the gate along; a copy does not. The gate must outlive its use here.
    void SetRowGate(TRowGate* gate) { FGate = gate; }
    TRowGate* RowGate() const { return FGate; }
    // Row y for reading once it is complete (at once without a gate); null when it never will be.
    const std::uint8_t* ReadyScanLine(int y) const {
        return !FGate || FGate->WaitFor(y) ? ScanLine(y) : nullptr;
    }
    TBitmapRows Rows() {
        return TBitmapRows{FBits.Data(), FStride, FWidth, FHeight, BitsPerPixel() == 32 ? 4 : 3};
    }

    const std::vector<TPaletteEntry>& Palette() const override { return FPalette; }
    void SetPalette(std::vector<TPaletteEntry> palette) override; // entries beyond 256 are dropped

    bool Transparent() const override { return TGraphic::Transparent(); }
    void SetTransparent(bool value) override { TGraphic::SetTransparent(value); }

    // Writes a BMP file (replacing the target only once it is complete): EFCreateError, EWriteError.
    void SaveToFile(const std::string& path) const;

private:
    void Reallocate(int width, int height, TPixelFormat format, bool keep);
    void StopFiller() noexcept;
    void RequireAllRows() const;

    TPixelFormat FFormat = TPixelFormat::pfDevice;
    int FWidth = 0;
    int FHeight = 0;
    std::size_t FStride = 0;
    PixelMemory FBits;
    std::vector<TPaletteEntry> FPalette;
    TRowGate* FGate = nullptr;
};

} // namespace korvane
