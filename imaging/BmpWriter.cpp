#include "imaging/BmpWriter.h"

#include <algorithm>

#include "platform/Files.h"

namespace korvane {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;

} // namespace

std::vector<std::uint8_t> BmpHeaders(const TBitmap& bitmap) {
    std::vector<std::uint8_t> out;
    if (bitmap.Empty()) return out;
    const int bits = bitmap.BitsPerPixel();
    const std::uint32_t colours = bits <= 8 ? (1u << bits) : 0;
    const bool masks = bitmap.PixelFormat() == TPixelFormat::pf16bit;
    const std::uint32_t extra = colours * 4 + (masks ? 12 : 0);
    const std::uint32_t offset = 54 + extra;
    const std::uint64_t image = bitmap.ImageSize();
    // The size fields have 32 bits; a larger image still gets correct rows, with the sizes saturated.
    const auto imageSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(image, 0xFFFFFFFFu));
    const auto fileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(image + offset, 0xFFFFFFFFu));

    out.reserve(offset);
    out.push_back('B');
    out.push_back('M');
    Put32(out, fileSize);
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(bitmap.Width()));
    Put32(out, static_cast<std::uint32_t>(bitmap.Height()));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bits));
    Put32(out, masks ? BI_BITFIELDS : BI_RGB);
    Put32(out, imageSize);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    if (masks) {
        Put32(out, 0xF800);
        Put32(out, 0x07E0);
        Put32(out, 0x001F);
    }
    const auto& palette = bitmap.Palette();
    for (std::uint32_t i = 0; i < colours; ++i) {
        const TPaletteEntry entry = i < palette.size() ? palette[i] : TPaletteEntry{};
        out.push_back(entry.blue);
        out.push_back(entry.green);
        out.push_back(entry.red);
        out.push_back(0);
    }
    return out;
}

void WriteBmpFile(const TBitmap& bitmap, const std::string& path) {
    AtomicFile file(path);
    if (!bitmap.Empty()) {
        const std::vector<std::uint8_t> headers = BmpHeaders(bitmap);
        file.Write(headers.data(), headers.size());
        file.Write(bitmap.Bits(), bitmap.ImageSize());
    }
    file.Commit();
}

} // namespace korvane
