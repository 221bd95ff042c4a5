// The optional chunks of the PNG encoder: their order, conditions and contents, including the colour rules
// of bKGD and tRNS, sBIT, pHYs conversion, palettes, chromaticities and GIF control.
#include <gtest/gtest.h>

#include <zlib.h>

#include "ImagingTestSupport.h"
#include "imaging/PngWriteStream.h"

namespace korvane {
namespace {

using namespace korvane::test;

TBitmap Palette8(std::vector<TPaletteEntry> palette, int width = 4, int height = 2) {
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf8bit, width, height, [&](std::uint8_t* row, int x, int) {
        row[x] = static_cast<std::uint8_t>(x % palette.size());
    });
    bitmap.SetPalette(std::move(palette));
    return bitmap;
}

TBitmap Rgb24(int width = 4, int height = 2) {
    return MakeRgbBitmap(width, height, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x * 40), 9, static_cast<std::uint8_t>(y)};
    });
}

void ExpectValid(const Bytes& png, TempFolder& folder, const std::string& name) {
    EXPECT_EQ(DecodePng(png).error, "") << name;
    const std::string path = folder.Path(name + ".png");
    WriteBytes(path, png);
    bool passed = false;
    const std::string output = RunPngcheck(path, &passed);
    EXPECT_TRUE(passed) << output;
}

TEST(PngChunks, AllOptionalChunksInTheirOrder) {
    TempFolder folder;
    const TBitmap bitmap = Palette8({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    const TPngChromaticities chrm = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    const TPngGifControl gif = {1, 0, 0, 10};
    const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.Comment = "c";
        e.GifControl = &gif;
        e.Gamma = 0.45455;
        e.Chromaticities = &chrm;
        e.SignificantBits = 0x080808;
        e.BackgroundColor = RGBColor(0, 250, 0);
        e.TransparentColor = PaletteIndexColor(3);
        e.PhysX = 2835;
        e.PhysY = 2835;
        e.PhysUnit = 1;
    });
    EXPECT_EQ(ChunkTypes(png),
              (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tEXt", "kvNG", "gIFg", "gAMA", "cHRM",
                                        "sBIT", "PLTE", "bKGD", "tRNS", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(ChunkData(png, "gIFg"), (Bytes{1, 0, 0, 10}));
    const Bytes c = ChunkData(png, "cHRM");
    ASSERT_EQ(c.size(), 32u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(BE32(&c[static_cast<std::size_t>(i) * 4]), chrm[static_cast<std::size_t>(i)]);
    EXPECT_EQ(ChunkData(png, "sBIT"), (Bytes{8, 8, 8}));
    EXPECT_EQ(ChunkData(png, "PLTE"), (Bytes{0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(ChunkData(png, "bKGD"), (Bytes{2})); // nearest entry to (0, 250, 0)
    EXPECT_EQ(ChunkData(png, "tRNS"), (Bytes{255, 255, 255, 0}));
    EXPECT_EQ(ChunkData(png, "pHYs"), (Bytes{0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1}));
    EXPECT_EQ(ChunkData(png, "IHDR")[9], 3);
    ExpectValid(png, folder, "all");
}

TEST(PngChunks, OptionalChunksAreLeftOutWhenTheirValuesAreNotUsable) {
    const TBitmap bitmap = Rgb24();
    const TPngChromaticities noWhite = {0, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    const TPngGifControl zero = {0, 0, 0, 0};
    const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.UseCurrentTime = false;
        e.Gamma = 0.000001; // x 100,000 truncates to 0
        e.Chromaticities = &noWhite;
        e.GifControl = &zero;
        e.SignificantBits = -3;
        e.PhysX = 100;
        e.PhysY = 0;
    });
    EXPECT_EQ(ChunkTypes(png), (std::vector<std::string>{"IHDR", "tEXt", "kvNG", "IDAT", "IEND"}));
}

TEST(PngChunks, TrueColourBackgroundAndTransparencyAreSixBytes) {
    TempFolder folder;
    const Bytes png = EncodePng(Rgb24(), [](TPngWriteStream& e) {
        e.BackgroundColor = RGBColor(1, 2, 3);
        e.TransparentColor = RGBColor(255, 128, 0);
    });
    EXPECT_EQ(ChunkData(png, "bKGD"), (Bytes{0, 1, 0, 2, 0, 3}));
    EXPECT_EQ(ChunkData(png, "tRNS"), (Bytes{0, 255, 0, 128, 0, 0}));
    ExpectValid(png, folder, "rgb");

    // With an alpha channel there is no tRNS; bKGD stays.
    TBitmap mask;
    mask.SetPixelFormat(TPixelFormat::pf8bit);
    mask.SetSize(4, 2);
    const TBitmap bitmap = Rgb24();
    const Bytes alpha = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.AlphaBitmap = &mask;
        e.BackgroundColor = RGBColor(1, 2, 3);
        e.TransparentColor = RGBColor(255, 128, 0);
        e.SignificantBits = 0x08080808;
    });
    EXPECT_EQ(ChunkData(alpha, "IHDR")[9], 6);
    EXPECT_TRUE(ChunkData(alpha, "tRNS").empty());
    EXPECT_EQ(ChunkData(alpha, "bKGD").size(), 6u);
    EXPECT_EQ(ChunkData(alpha, "sBIT"), (Bytes{8, 8, 8, 8}));
    ExpectValid(alpha, folder, "rgba");
}

TEST(PngChunks, PaletteColourRulesPickNearestFirstOrExactEntry) {
    // Entries 1 and 2 are equally near to (100, 100, 100); entry 3 matches (7, 7, 7) exactly.
    const TBitmap bitmap = Palette8({{0, 0, 0}, {90, 100, 100}, {110, 100, 100}, {7, 7, 7}, {7, 7, 7}});
    EXPECT_EQ(
        ChunkData(EncodePng(bitmap, [](TPngWriteStream& e) { e.BackgroundColor = RGBColor(100, 100, 100); }),
                  "bKGD"),
        (Bytes{1}));
    EXPECT_EQ(ChunkData(EncodePng(bitmap, [](TPngWriteStream& e) { e.BackgroundColor = RGBColor(7, 7, 7); }),
                        "bKGD"),
              (Bytes{3}));
    EXPECT_EQ(ChunkData(EncodePng(bitmap, [](TPngWriteStream& e) { e.TransparentColor = RGBColor(7, 7, 8); }),
                        "tRNS"),
              (Bytes{255, 255, 255, 0}));
    // An index beyond the palette would make an invalid file: no chunk.
    EXPECT_TRUE(
        ChunkData(EncodePng(bitmap, [](TPngWriteStream& e) { e.BackgroundColor = PaletteIndexColor(9); }),
                  "bKGD")
            .empty());
    // No palette entries: no palette index, no chunk, and no PLTE either.
    TBitmap bare = MakeBitmap(TPixelFormat::pf8bit, 2, 2, [](std::uint8_t*, int, int) {});
    const Bytes png = EncodePng(bare, [](TPngWriteStream& e) { e.BackgroundColor = RGBColor(1, 1, 1); });
    EXPECT_TRUE(ChunkData(png, "bKGD").empty());
    EXPECT_TRUE(ChunkData(png, "PLTE").empty());
}

TEST(PngChunks, GrayColourRulesUseTheGrayValueAtTheBitDepth) {
    TempFolder folder;
    auto gray = [](const TBitmap& bitmap, TColor colour) {
        return EncodePng(bitmap, [&](TPngWriteStream& e) {
            e.Grayscale = true;
            e.BackgroundColor = colour;
            e.TransparentColor = colour;
            e.SignificantBits = 0x080808; // no sBIT for gray output
        });
    };
    // 24-bit source: Y = (200 x 77 + 100 x 150 + 50 x 29) / 256 = 124.
    const Bytes rgb = gray(Rgb24(), RGBColor(200, 100, 50));
    EXPECT_EQ(ChunkData(rgb, "bKGD"), (Bytes{0, 124}));
    EXPECT_EQ(ChunkData(rgb, "tRNS"), (Bytes{0, 124}));
    EXPECT_TRUE(ChunkData(rgb, "sBIT").empty());
    EXPECT_TRUE(ChunkData(rgb, "PLTE").empty());
    ExpectValid(rgb, folder, "gray24");

    // 4-bit source: Y / 16; a palette-index colour takes the entry's colour.
    TBitmap four = MakeBitmap(TPixelFormat::pf4bit, 4, 2, [](std::uint8_t*, int, int) {});
    four.SetPalette({{0, 0, 0}, {255, 255, 255}});
    const Bytes g4 = gray(four, PaletteIndexColor(1));
    EXPECT_EQ(ChunkData(g4, "bKGD"), (Bytes{0, 15}));
    ExpectValid(g4, folder, "gray4");

    // 1-bit source: 1 from Y = 128 on.
    TBitmap one = MakeBitmap(TPixelFormat::pf1bit, 4, 2, [](std::uint8_t*, int, int) {});
    one.SetPalette({{0, 0, 0}, {255, 255, 255}});
    EXPECT_EQ(ChunkData(gray(one, RGBColor(128, 128, 128)), "bKGD"), (Bytes{0, 1}));
    EXPECT_EQ(ChunkData(gray(one, RGBColor(127, 127, 127)), "bKGD"), (Bytes{0, 0}));
    ExpectValid(gray(one, RGBColor(128, 128, 128)), folder, "gray1");
}

TEST(PngChunks, SignificantBitsOfFifteenAndSixteenBitSources) {
    TBitmap fifteen = MakeBitmap(TPixelFormat::pf15bit, 3, 3, [](std::uint8_t*, int, int) {});
    TBitmap sixteen = MakeBitmap(TPixelFormat::pf16bit, 3, 3, [](std::uint8_t*, int, int) {});
    auto sbit = [](const TBitmap& b, int value) {
        return ChunkData(EncodePng(b, [&](TPngWriteStream& e) { e.SignificantBits = value; }), "sBIT");
    };
    EXPECT_EQ(sbit(fifteen, 0x010101), (Bytes{5, 5, 5}));
    EXPECT_EQ(sbit(sixteen, 0x010101), (Bytes{5, 6, 5}));
    EXPECT_TRUE(sbit(sixteen, 0).empty());
    TBitmap mask = MakeBitmap(TPixelFormat::pf8bit, 3, 3, [](std::uint8_t*, int, int) {});
    const Bytes withAlpha = EncodePng(sixteen, [&](TPngWriteStream& e) {
        e.SignificantBits = 1;
        e.AlphaBitmap = &mask;
    });
    EXPECT_EQ(ChunkData(withAlpha, "sBIT"), (Bytes{5, 6, 5, 8}));
}

TEST(PngChunks, PhysicalSizePerInchIsConvertedToPerMetre) {
    auto phys = [](int unit, int x, int y) {
        return ChunkData(EncodePng(Rgb24(),
                                   [&](TPngWriteStream& e) {
                                       e.PhysUnit = unit;
                                       e.PhysX = x;
                                       e.PhysY = y;
                                   }),
                         "pHYs");
    };
    EXPECT_EQ(phys(2, 96, 72), (Bytes{0, 0, 0x0E, 0xC3, 0, 0, 0x0B, 0x12, 1})); // 3779, 2834 per metre
    EXPECT_EQ(phys(0, 3, 4), (Bytes{0, 0, 0, 3, 0, 0, 0, 4, 0}));
    EXPECT_EQ(phys(1, 3, 4), (Bytes{0, 0, 0, 3, 0, 0, 0, 4, 1}));
}

TEST(PngChunks, TextKeywordAndChunkCrcFollowThePngRules) {
    TPngWriteStream encoder;
    TMemoryStream target;
    encoder.BeginWrite(target);
    encoder.WriteChunk("tEXt", "Title\0x", 7);
    encoder.WriteChunk("IEND", nullptr, 0);
    encoder.FinishWrite();
    const Bytes bytes = target.Bytes();
    ASSERT_EQ(bytes.size(), 19u + 12u);
    EXPECT_EQ(BE32(&bytes[0]), 7u);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "tEXt");
    EXPECT_EQ(BE32(&bytes[15]), crc32(0, &bytes[4], 11));
    EXPECT_EQ((Bytes(bytes.end() - 4, bytes.end())), (Bytes{0xAE, 0x42, 0x60, 0x82}));
}

} // namespace
} // namespace korvane
