// BMP files, read back by a reader written here from the file format alone.
#include <gtest/gtest.h>

#include "ImagingTestSupport.h"
#include "imaging/BmpWriter.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

using namespace korvane::test;

std::uint32_t LE32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t LE16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The fields of a BMP file and its pixels as red, green, blue, top row first.
struct BmpFile {
    std::uint32_t fileSize = 0, offset = 0, headerSize = 0, compression = 0, imageSize = 0, colours = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::vector<Rgb> pixels;
};

BmpFile ReadBmp(const Bytes& b) {
    BmpFile f;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return f;
    f.fileSize = LE32(b, 2);
    f.offset = LE32(b, 10);
    f.headerSize = LE32(b, 14);
    f.width = static_cast<std::int32_t>(LE32(b, 18));
    f.height = static_cast<std::int32_t>(LE32(b, 22));
    f.planes = LE16(b, 26);
    f.bitCount = LE16(b, 28);
    f.compression = LE32(b, 30);
    f.imageSize = LE32(b, 34);
    f.colours = LE32(b, 46);
    const std::size_t stride = ((static_cast<std::size_t>(f.width) * f.bitCount + 31) / 32) * 4;
    if (b.size() < f.offset + stride * static_cast<std::size_t>(f.height)) return f;
    f.pixels.resize(static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height));
    for (int y = 0; y < f.height; ++y) {
        const std::size_t row = f.offset + stride * static_cast<std::size_t>(f.height - 1 - y);
        for (int x = 0; x < f.width; ++x) {
            Rgb& px = f.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) +
                               static_cast<std::size_t>(x)];
            if (f.bitCount == 24 || f.bitCount == 32) {
                const std::size_t p = row + static_cast<std::size_t>(x) * (f.bitCount / 8);
                px = {b[p + 2], b[p + 1], b[p]};
            } else if (f.bitCount == 8) {
                const std::size_t entry =
                    54 + 4 * static_cast<std::size_t>(b[row + static_cast<std::size_t>(x)]);
                px = {b[entry + 2], b[entry + 1], b[entry]};
            }
        }
    }
    return f;
}

TEST(BmpWriter, OnePixelFileIs58BytesWithEveryHeaderField) {
    TempFolder folder;
    const TBitmap bitmap = MakeRgbBitmap(1, 1, [](int, int) { return Rgb{10, 20, 30}; });
    const std::string path = folder.Path("one.bmp");
    bitmap.SaveToFile(path);
    const Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 58u);
    const BmpFile f = ReadBmp(b);
    EXPECT_EQ(LE16(b, 0), 19778);
    EXPECT_EQ(f.fileSize, 58u);
    EXPECT_EQ(LE16(b, 6), 0);
    EXPECT_EQ(LE16(b, 8), 0);
    EXPECT_EQ(f.offset, 54u);
    EXPECT_EQ(f.headerSize, 40u);
    EXPECT_EQ(f.width, 1);
    EXPECT_EQ(f.height, 1);
    EXPECT_EQ(f.planes, 1);
    EXPECT_EQ(f.bitCount, 24);
    EXPECT_EQ(f.compression, 0u);
    EXPECT_EQ(f.imageSize, 4u);
    for (std::size_t at : {38u, 42u, 46u, 50u})
        EXPECT_EQ(LE32(b, at), 0u);
    EXPECT_EQ((Bytes(b.begin() + 54, b.end())), (Bytes{30, 20, 10, 0}));
}

TEST(BmpWriter, RowsArePaddedAndBottomUp) {
    TempFolder folder;
    const TBitmap bitmap = MakeRgbBitmap(3, 2, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(100 + x), static_cast<std::uint8_t>(y),
                   static_cast<std::uint8_t>(x * y + 1)};
    });
    const std::string path = folder.Path("three.bmp");
    WriteBmpFile(bitmap, path);
    const Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 54u + 12u * 2u);
    EXPECT_EQ(LE32(b, 34), 24u);
    // The first triple is the bottom-left pixel (0, 1): blue 1, green 1, red 100; then 3 zero bytes end the
    // row.
    EXPECT_EQ((Bytes(b.begin() + 54, b.begin() + 66)), (Bytes{1, 1, 100, 2, 1, 101, 3, 1, 102, 0, 0, 0}));
    EXPECT_EQ((Bytes(b.begin() + 75, b.begin() + 78)), (Bytes{0, 0, 0}));
    const BmpFile f = ReadBmp(b);
    ASSERT_EQ(f.pixels.size(), 6u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const Rgb p = f.pixels[static_cast<std::size_t>(y * 3 + x)];
            EXPECT_EQ((Bytes{p.r, p.g, p.b}),
                      (Bytes{static_cast<std::uint8_t>(100 + x), static_cast<std::uint8_t>(y),
                             static_cast<std::uint8_t>(x * y + 1)}));
        }
}

TEST(BmpWriter, PaletteBitmapsCarryTheirColourTable) {
    TempFolder folder;
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf8bit, 5, 3, [](std::uint8_t* row, int x, int y) {
        row[x] = static_cast<std::uint8_t>((x + y) % 3);
    });
    bitmap.SetPalette({{255, 0, 0}, {0, 255, 0}, {1, 2, 3}});
    const std::string path = folder.Path("pal.bmp");
    bitmap.SaveToFile(path);
    const Bytes b = ReadBytes(path);
    const BmpFile f = ReadBmp(b);
    EXPECT_EQ(f.bitCount, 8);
    EXPECT_EQ(f.offset, 54u + 1024u);
    EXPECT_EQ(b.size(), 54u + 1024u + 8u * 3u);
    const Rgb p = f.pixels[static_cast<std::size_t>(1 * 5 + 1)]; // index 2
    EXPECT_EQ((Bytes{p.r, p.g, p.b}), (Bytes{1, 2, 3}));

    TBitmap sixteen = MakeBitmap(TPixelFormat::pf16bit, 2, 2, [](std::uint8_t*, int, int) {});
    const Bytes h = BmpHeaders(sixteen);
    ASSERT_EQ(h.size(), 66u);
    EXPECT_EQ(LE32(h, 30), 3u); // bit fields
    EXPECT_EQ(LE32(h, 54), 0xF800u);
    EXPECT_EQ(LE32(h, 58), 0x07E0u);
    EXPECT_EQ(LE32(h, 62), 0x001Fu);
}

TEST(BmpWriter, EmptyBitmapGivesZeroLengthFileAndSecondSaveReplacesTheFirst) {
    TempFolder folder;
    const std::string path = folder.Path("x.bmp");
    TBitmap empty;
    empty.SetSize(0, 7);
    empty.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path).size(), 0u);
    MakeRgbBitmap(2, 2, [](int, int) { return Rgb{1, 1, 1}; }).SaveToFile(path);
    EXPECT_EQ(ReadBytes(path).size(), 54u + 16u);
    MakeRgbBitmap(1, 1, [](int, int) { return Rgb{1, 1, 1}; }).SaveToFile(path);
    EXPECT_EQ(ReadBytes(path).size(), 58u);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"x.bmp"}));
    try {
        empty.SaveToFile(folder.Path("no/such/x.bmp"));
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create the file " + folder.Path("no/such/x.bmp"));
    }
}

} // namespace
} // namespace korvane
