// Reading PNG pictures back: the browser's screenshots into bands of bitmap rows, files row by row (plain and
// interlaced), and data that is no picture. The pictures are made by libspng's encoder, not by ours.
#include "imaging/PngReader.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageFileReader.h"
#include "imaging/RowGate.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <spng.h>
#include <vector>

namespace korvane {
namespace {

// Red, green, blue (and alpha, with `alpha`) samples of each pixel, top row first.
std::vector<std::uint8_t> EncodeRgbPng(int w, int h, const std::vector<std::uint8_t>& rgb,
                                       bool interlaced = false, bool alpha = false) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(w);
    ihdr.height = static_cast<std::uint32_t>(h);
    ihdr.bit_depth = 8;
    ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    ihdr.interlace_method = interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
    spng_set_ihdr(ctx, &ihdr);
    EXPECT_EQ(spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
    std::size_t size = 0;
    int err = 0;
    auto* data = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx, &size, &err));
    std::vector<std::uint8_t> out(data, data + size);
    std::free(data);
    spng_ctx_free(ctx);
    return out;
}

std::vector<std::uint8_t> Gradient(int w, int h) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int i = 0; i < w * h; ++i) {
        rgb[i * 3] = static_cast<std::uint8_t>(i * 10);
        rgb[i * 3 + 1] = static_cast<std::uint8_t>(100 + i);
        rgb[i * 3 + 2] = static_cast<std::uint8_t>(200 + i);
    }
    return rgb;
}

TEST(PngReader, RgbRowsBecomeBgrTopDownAndUncoveredPixelsWhite) {
    const int w = 5, h = 3;
    std::vector<std::uint8_t> rgb(w * h * 3);
    for (int i = 0; i < w * h; ++i) {
        rgb[i * 3] = static_cast<std::uint8_t>(i * 10);
        rgb[i * 3 + 1] = static_cast<std::uint8_t>(100 + i);
        rgb[i * 3 + 2] = static_cast<std::uint8_t>(200 + i);
    }
    auto png = EncodeRgbPng(w, h, rgb);
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(6, 4);
    DecodePngInto(png.data(), png.size(), bmp, 6, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = bmp.ScanLine(y) + x * 3;
            const std::uint8_t* s = &rgb[(y * w + x) * 3];
            EXPECT_EQ(p[0], s[2]);
            EXPECT_EQ(p[1], s[1]);
            EXPECT_EQ(p[2], s[0]);
        }
    EXPECT_EQ(bmp.ScanLine(0)[5 * 3], 0xFF);
    EXPECT_EQ(bmp.ScanLine(3)[0], 0xFF);
    std::vector<std::uint8_t> junk(png.begin(), png.begin() + 40);
    EXPECT_THROW(DecodePngInto(junk.data(), junk.size(), bmp, 6, 4), EUnreadablePicture);
    TBitmap small;
    small.SetPixelFormat(TPixelFormat::pf24bit);
    small.SetSize(2, 2);
    EXPECT_THROW(DecodePngInto(png.data(), png.size(), small, 5, 3), EConvertError);
    // A picture larger than its band is cut to it, and the rows around the band stay as they were.
    TBitmap band;
    band.SetPixelFormat(TPixelFormat::pf24bit);
    band.SetSize(4, 4);
    for (int y = 0; y < 4; ++y)
        std::memset(band.ScanLine(y), 0x5A, 4 * 3);
    DecodePngInto(png.data(), png.size(), band, 3, 2, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t* p = band.ScanLine(y) + x * 3;
            if (y >= 1 && y <= 2 && x < 3) {
                const std::uint8_t* s = &rgb[((y - 1) * w + x) * 3];
                EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{s[2], s[1], s[0]}))
                    << x << "," << y;
            } else {
                EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{0x5A, 0x5A, 0x5A}))
                    << x << "," << y;
            }
        }
}

TEST(PngReader, ATransparentPictureKeepsItsAlphaInThirtyTwoBitRowsAndIsShownOnWhiteWhenReadBack) {
    const int w = 4, h = 2;
    // Opaque red, half-transparent blue, transparent black, transparent green; then a row of gray.
    const std::vector<std::uint8_t> rgba = {255, 0,   0,   255, 0,   0,   255, 128, 0,   0,   0,
                                            0,   0,   255, 0,   0,   100, 100, 100, 255, 100, 100,
                                            100, 255, 100, 100, 100, 255, 100, 100, 100, 255};
    const auto png = EncodeRgbPng(w, h, rgba, false, true);
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    bitmap.SetSize(w, h);
    ASSERT_TRUE(DecodePngInto(png.data(), png.size(), bitmap.Rows(), w, h, 0, nullptr));
    const std::uint8_t* top = bitmap.ScanLine(0);
    EXPECT_EQ(std::vector<std::uint8_t>(top, top + 16),
              (std::vector<std::uint8_t>{0, 0, 255, 255, 255, 0, 0, 128, 0, 0, 0, 0, 0, 255, 0, 0}));
    EXPECT_EQ(bitmap.ScanLine(1)[3], 255);

    korvane::testing::TempFolder folder;
    const std::string path = folder.Path("clear.png");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    const auto file = OpenImageFile(path);
    std::array<std::uint8_t, w * 3> row{};
    file->ReadRow(row.data());
    EXPECT_EQ(row, (std::array<std::uint8_t, w * 3>{0, 0, 255, 255, 127, 127, 255, 255, 255, 255, 255, 255}));
}

TEST(PngReader, EachFinishedRowIsPublishedAndAReaderThatGaveUpStopsTheDecoding) {
    const int w = 4, h = 50;
    std::vector<std::uint8_t> rgb(w * h * 3, 0x40);
    auto png = EncodeRgbPng(w, h, rgb);
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(w, h + 10);
    // Rows 5 to 64 of the bitmap: 50 of the picture, then 10 of blank page, each published once it is done.
    TRowGate gate(h + 10);
    EXPECT_TRUE(DecodePngInto(png.data(), png.size(), bmp.Rows(), w, h + 5, 5, &gate));
    EXPECT_TRUE(gate.WaitFor(h + 9));
    EXPECT_EQ(bmp.ScanLine(5)[0], 0x40);
    EXPECT_EQ(bmp.ScanLine(h + 9)[0], 0xFF);
    // Once the reader has given up, the decoder stops at the next row it finishes.
    std::memset(bmp.Bits(), 0, bmp.ImageSize());
    TRowGate abandoned(h);
    abandoned.Close(); // no other filler: Abandon returns at once
    abandoned.Abandon();
    EXPECT_FALSE(DecodePngInto(png.data(), png.size(), bmp.Rows(), w, h, 0, &abandoned));
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x40);
    EXPECT_EQ(bmp.ScanLine(1)[0], 0x00);
}

TEST(PngReader, PlainAndInterlacedFilesGiveTheSameRowsAndDamagedOnesSayWhy) {
    const int w = 7, h = 9;
    const std::vector<std::uint8_t> rgb = Gradient(w, h);
    testing::TempFolder folder("korvane-png-reader");
    for (bool interlaced : {false, true}) {
        const std::vector<std::uint8_t> png = EncodeRgbPng(w, h, rgb, interlaced);
        const std::string path = folder.Path(interlaced ? "adam7.png" : "plain.png");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
        const auto file = OpenImageFile(path);
        ASSERT_EQ(file->Width(), w);
        ASSERT_EQ(file->Height(), h);
        std::vector<std::uint8_t> row(w * 3);
        for (int y = 0; y < h; ++y) {
            file->ReadRow(row.data());
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* s = &rgb[(y * w + x) * 3];
                ASSERT_EQ((std::array<int, 3>{row[x * 3], row[x * 3 + 1], row[x * 3 + 2]}),
                          (std::array<int, 3>{s[2], s[1], s[0]}))
                    << interlaced << " " << x << "," << y;
            }
        }
        // No row past the last.
        EXPECT_THROW(file->ReadRow(row.data()), EUnreadablePicture) << interlaced;
    }
    // A file cut in its pixel data fails (when its header is read, or at a row), saying why.
    std::vector<std::uint8_t> png = EncodeRgbPng(64, 64, std::vector<std::uint8_t>(64 * 64 * 3, 0x33));
    png.resize(png.size() - 30);
    std::vector<std::uint8_t> row(64 * 3);
    try {
        TPngReader cut(png.data(), png.size());
        while (cut.ReadRow(row.data())) {
        }
        ADD_FAILURE() << "a cut PNG was read to its end";
    } catch (const EUnreadablePicture& e) {
        EXPECT_STRNE(e.what(), "");
    }
    // A picture larger than the band it is for (beyond the rounding of the clip's edges) is no picture of
    // it: refused before it is decoded (a header may claim any size).
    const auto picture = [](int w, int h) {
        return EncodeRgbPng(w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3, 0x10));
    };
    TBitmap band;
    band.SetPixelFormat(TPixelFormat::pf24bit);
    band.SetSize(100, 20);
    for (const auto& [w, h] : {std::pair{100 + kEdgeRounding + 1, 20}, std::pair{100, 20 + kEdgeRounding + 1},
                               std::pair{300, 20}}) {
        const auto larger = picture(w, h);
        EXPECT_THROW(DecodePngInto(larger.data(), larger.size(), band, 100, 20), EUnreadablePicture)
            << w << "x" << h;
    }
    const auto rounded = picture(100 + kEdgeRounding, 20 + kEdgeRounding);
    EXPECT_NO_THROW(DecodePngInto(rounded.data(), rounded.size(), band, 100, 20)); // cut to the band
    const std::uint8_t junk[] = "\x89PNG\r\n\x1a\n not really";
    EXPECT_THROW(TPngReader(junk, sizeof junk), EUnreadablePicture);
}

} // namespace
} // namespace korvane
