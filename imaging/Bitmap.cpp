#include "imaging/Bitmap.h"
#include "platform/Translate.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "imaging/BmpWriter.h"

namespace korvane {

int PixelFormatBits(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit:
        return 1;
    case TPixelFormat::pf4bit:
        return 4;
    case TPixelFormat::pf8bit:
        return 8;
    case TPixelFormat::pf15bit:
        return 15;
    case TPixelFormat::pf16bit:
        return 16;
    case TPixelFormat::pf32bit:
        return 32;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pfDevice:
        break;
    }
    return 24;
}

namespace {

int StorageBits(TPixelFormat format) {
    int bits = PixelFormatBits(format);
    return bits == 15 ? 16 : bits;
}

[[noreturn]] void NoMemory(int width, int height, TPixelFormat format) {
    throw EOutOfResources(
        FormatText(Tr("Not enough memory for a bitmap of %1 x %2 pixels at %3 bits per pixel"),
                   {std::to_string(width), std::to_string(height), std::to_string(PixelFormatBits(format))}));
}

} // namespace

std::size_t BitmapRowStride(int width, TPixelFormat format) {
    if (width <= 0) return 0;
    // 64-bit arithmetic: width < 2^31 and bits <= 32, so the product fits.
    const std::uint64_t bits =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(StorageBits(format));
    const std::uint64_t stride = (bits + 31) / 32 * 4;
    if (stride > std::numeric_limits<std::size_t>::max()) NoMemory(width, 1, format);
    return static_cast<std::size_t>(stride);
}

TBitmap::TBitmap() = default;

TBitmap::TBitmap(const TBitmap& other) : TGraphic(other), FFormat(other.FFormat), FPalette(other.FPalette) {
    other.RequireAllRows();
    if (!other.Empty()) {
        PixelMemory bits;
        if (!bits.Allocate(other.ImageSize())) NoMemory(other.FWidth, other.FHeight, other.FFormat);
        std::memcpy(bits.Data(), other.FBits.Data(), other.ImageSize());
        FBits = std::move(bits);
    }
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FStride = other.FStride;
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) {
        TBitmap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : TGraphic(std::move(other)), FFormat(other.FFormat), FWidth(other.FWidth), FHeight(other.FHeight),
      FStride(other.FStride), FBits(std::move(other.FBits)), FPalette(std::move(other.FPalette)),
      FGate(std::exchange(other.FGate, nullptr)) {
    other.FWidth = other.FHeight = 0;
    other.FStride = 0;
    other.FPalette.clear();
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this != &other) {
        StopFiller();
        TGraphic::operator=(std::move(other));
        FGate = std::exchange(other.FGate, nullptr);
        FFormat = other.FFormat;
        FWidth = other.FWidth;
        FHeight = other.FHeight;
        FStride = other.FStride;
        FBits = std::move(other.FBits);
        FPalette = std::move(other.FPalette);
        other.FWidth = other.FHeight = 0;
        other.FStride = 0;
        other.FPalette.clear();
    }
    return *this;
}

TBitmap::~TBitmap() {
    StopFiller();
}

void TBitmap::StopFiller() noexcept {
    if (FGate) std::exchange(FGate, nullptr)->Abandon();
}

void TBitmap::RequireAllRows() const {
    if (FGate && !FGate->WaitForAll()) throw EIncompletePicture();
}

void TBitmap::Assign(const TPersistent& source) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        *this = *bitmap;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

int TBitmap::BitsPerPixel() const {
    return StorageBits(FFormat);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == FFormat) return;
    const bool sameStorage = StorageBits(format) == StorageBits(FFormat);
    if (sameStorage || Empty()) {
        // Only the stride depends on the format; an empty bitmap owns no pixels.
        FFormat = format;
        FStride = BitmapRowStride(FWidth, FFormat);
    } else {
        Reallocate(FWidth, FHeight, format, false);
    }
    Changed();
}

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight) return;
    Reallocate(width, height, FFormat, true);
    Changed();
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keep) {
    if (keep) RequireAllRows();
    StopFiller();
    const std::size_t stride = BitmapRowStride(width, format);
    PixelMemory bits;
    if (width > 0 && height > 0) {
        const auto rows = static_cast<std::size_t>(height);
        if (stride > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / rows)
            NoMemory(width, height, format);
        // Zeroed pages that are not touched here, so a large bitmap costs nothing up front.
        if (!bits.AllocateZeroed(stride * rows)) NoMemory(width, height, format);
        if (keep && FBits && format == FFormat) {
            // Keep the picture's top-left part: rows are matched from the top.
            const int rowsKept = std::min(height, FHeight);
            const std::uint64_t bitsKept =
                static_cast<std::uint64_t>(std::min(width, FWidth)) * StorageBits(format);
            const auto copied = static_cast<std::size_t>((bitsKept + 7) / 8);
            const unsigned tailBits = static_cast<unsigned>(bitsKept % 8);
            for (int y = 0; y < rowsKept; ++y) {
                std::uint8_t* to = bits.Data() + static_cast<std::size_t>(height - 1 - y) * stride;
                std::memcpy(to, ScanLine(y), copied);
                // Pixels of the last partial byte that lie beyond the kept width become zero.
                if (tailBits != 0) to[copied - 1] &= static_cast<std::uint8_t>(0xFF00u >> tailBits);
            }
        }
    }
    FBits = std::move(bits);
    FWidth = width;
    FHeight = height;
    FStride = stride;
    FFormat = format;
}

void TBitmap::Clear() {
    StopFiller();
    FBits.Release();
    FWidth = FHeight = 0;
    FStride = 0;
    Changed();
}

void TBitmap::SetPalette(std::vector<TPaletteEntry> palette) {
    if (palette.size() > 256) palette.resize(256);
    FPalette = std::move(palette);
    Changed();
}

void TBitmap::SaveToFile(const std::string& path) const {
    RequireAllRows();
    WriteBmpFile(*this, path);
}

} // namespace korvane
