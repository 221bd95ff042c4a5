// Every source format, colour and gray, with and without alpha, interlaced or not, through every filter
// mode: decoded by libspng pixel for pixel and checked by pngcheck.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>

#include "ImagingTestSupport.h"
#include "imaging/PixelUtils.h"
#include "imaging/PngWriteStream.h"

namespace korvane {
namespace {

using namespace korvane::test;

constexpr int W = 37;
constexpr int H = 23;

struct Source {
    TPixelFormat format;
    int bits;
};
const Source Sources[] = {{TPixelFormat::pf1bit, 1},   {TPixelFormat::pf4bit, 4},
                          {TPixelFormat::pf8bit, 8},   {TPixelFormat::pf15bit, 15},
                          {TPixelFormat::pf16bit, 16}, {TPixelFormat::pf24bit, 24},
                          {TPixelFormat::pf32bit, 32}, {TPixelFormat::pfDevice, 24}};

std::vector<TPaletteEntry> TestPalette(int bits) {
    const int n = 1 << bits;
    std::vector<TPaletteEntry> palette(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::uint32_t h = Noise(static_cast<std::uint32_t>(i), 99);
        palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(h),
                                                static_cast<std::uint8_t>(h >> 8),
                                                static_cast<std::uint8_t>(h >> 16)};
    }
    if (bits == 1)
        palette = {{250, 240, 230}, {10, 20, 30}}; // entry 0 brighter: gray output inverts the bits
    return palette;
}

// Content with flat areas, edges and noise so that every filter has work to do.
std::uint32_t Content(int x, int y) {
    if ((x / 5 + y / 4) % 3 == 0) return 0x00C08040u;
    return Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 5);
}

TBitmap SourceBitmap(const Source& s) {
    TBitmap bitmap = MakeBitmap(s.format, W, H, [&](std::uint8_t* row, int x, int y) {
        const std::uint32_t v = Content(x, y);
        switch (s.bits) {
        case 1:
            row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | ((v & 1) << (7 - x % 8)));
            break;
        case 4:
            row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | ((v & 15) << (x % 2 ? 0 : 4)));
            break;
        case 8:
            row[x] = static_cast<std::uint8_t>(v);
            break;
        case 15:
        case 16:
            row[x * 2] = static_cast<std::uint8_t>(v);
            row[x * 2 + 1] = static_cast<std::uint8_t>((v >> 8) & (s.bits == 15 ? 0x7F : 0xFF));
            break;
        case 24:
            std::memcpy(row + x * 3, &v, 3);
            break;
        default:
            std::memcpy(row + x * 4, &v, 4);
            break;
        }
    });
    if (s.bits <= 8) bitmap.SetPalette(TestPalette(s.bits));
    return bitmap;
}

TBitmap Mask() {
    return MakeBitmap(TPixelFormat::pf8bit, W, H, [](std::uint8_t* row, int x, int y) {
        row[x] = static_cast<std::uint8_t>(
            Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 77));
    });
}

// What the decoder must give for pixel (x, y): the model of the conversion, written from the file format's
// point of view.
std::array<std::uint8_t, 4> Expected(const Source& s, const TBitmap& bitmap, const TBitmap* mask, bool gray,
                                     int x, int y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    const std::uint8_t alpha = mask ? static_cast<std::uint8_t>(255 - mask->ScanLine(y)[x]) : 255;
    unsigned r, g, b;
    if (s.bits <= 8) {
        const unsigned index = s.bits == 1   ? (row[x / 8] >> (7 - x % 8)) & 1
                               : s.bits == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15
                                             : row[x];
        const auto& p = bitmap.Palette();
        if (!gray) return {p[index].red, p[index].green, p[index].blue, 255};
        const unsigned yv = (p[index].red * 77u + p[index].green * 150u + p[index].blue * 29u) / 256u;
        std::uint8_t v;
        if (s.bits == 1) {
            const unsigned y0 = (p[0].red * 77u + p[0].green * 150u + p[0].blue * 29u) / 256u;
            const unsigned y1 = (p[1].red * 77u + p[1].green * 150u + p[1].blue * 29u) / 256u;
            v = ((index ^ (y0 > y1 ? 1u : 0u)) & 1) ? 255 : 0;
        } else if (s.bits == 4) {
            v = static_cast<std::uint8_t>((yv / 16) * 17); // 4-bit gray scaled up by the decoder
        } else {
            v = static_cast<std::uint8_t>(yv);
        }
        return {v, v, v, alpha};
    }
    if (s.bits == 15 || s.bits == 16) {
        const unsigned w = row[x * 2] | (row[x * 2 + 1] << 8);
        auto w5 = [](unsigned c) { return (c << 3) | (c >> 2); };
        if (s.bits == 15) {
            r = w5((w >> 10) & 31), g = w5((w >> 5) & 31), b = w5(w & 31);
        } else {
            r = w5((w >> 11) & 31), g = (((w >> 5) & 63) << 2) | (((w >> 5) & 63) >> 4), b = w5(w & 31);
        }
    } else {
        const int step = s.bits / 8;
        b = row[x * step], g = row[x * step + 1], r = row[x * step + 2];
    }
    if (gray) {
        const auto v = static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29) / 256);
        return {v, v, v, alpha};
    }
    return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b), alpha};
}

struct Case {
    Source source;
    bool gray;
    bool alpha;
    int interlace;
    int filter;
};

std::string Name(const Case& c) {
    return std::to_string(c.source.bits) + "bit" + (c.source.format == TPixelFormat::pfDevice ? "dev" : "") +
           (c.gray ? "-gray" : "-colour") + (c.alpha ? "-alpha" : "") + (c.interlace ? "-adam7" : "") + "-f" +
           std::to_string(c.filter);
}

void CheckCase(const Case& c, TempFolder& folder, std::vector<std::string>& written) {
    SCOPED_TRACE(Name(c));
    const TBitmap bitmap = SourceBitmap(c.source);
    const TBitmap mask = Mask();
    // Alpha applies to colour sources above 8 bits and to 8-bit gray output.
    const bool alphaWritten = c.alpha && ((!c.gray && c.source.bits > 8) || (c.gray && (c.source.bits >= 8)));
    const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.Grayscale = c.gray;
        e.Interlace = c.interlace;
        e.FilterMode = c.filter;
        if (c.alpha) e.AlphaBitmap = &mask;
    });
    const Decoded d = DecodePng(png);
    ASSERT_EQ(d.error, "");
    ASSERT_EQ(d.width, static_cast<std::uint32_t>(W));
    ASSERT_EQ(d.height, static_cast<std::uint32_t>(H));
    EXPECT_EQ(d.interlace, c.interlace);
    const int expectedType = c.gray ? (alphaWritten ? 4 : 0) : c.source.bits <= 8 ? 3 : alphaWritten ? 6 : 2;
    EXPECT_EQ(d.colourType, expectedType);
    EXPECT_EQ(d.bitDepth, c.source.bits <= 8 ? c.source.bits : 8);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const auto want = Expected(c.source, bitmap, alphaWritten ? &mask : nullptr, c.gray, x, y);
            const std::uint8_t* got = &d.rgba[(static_cast<std::size_t>(y) * W + x) * 4];
            ASSERT_EQ((std::array<std::uint8_t, 4>{got[0], got[1], got[2], got[3]}), want)
                << "pixel " << x << "," << y;
        }
    const std::string path = folder.Path(Name(c) + ".png");
    WriteBytes(path, png);
    written.push_back(path);
}

void RunPngcheckOn(const std::vector<std::string>& files) {
    ASSERT_FALSE(files.empty());
    std::string command = "pngcheck -q";
    for (const auto& f : files)
        command += " '" + f + "'";
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output, "");
}

TEST(PngRoundTrip, EverySourceFormatColourAndGrayThroughEveryFilter) {
    TempFolder folder;
    std::vector<std::string> written;
    for (const Source& s : Sources)
        for (bool gray : {false, true})
            for (int filter = 0; filter <= 5; ++filter)
                CheckCase({s, gray, false, 0, filter}, folder, written);
    RunPngcheckOn(written);
}

TEST(PngRoundTrip, InterlacedEverySourceFormat) {
    TempFolder folder;
    std::vector<std::string> written;
    for (const Source& s : Sources)
        for (bool gray : {false, true})
            for (int filter : {0, 1, 5})
                CheckCase({s, gray, false, 1, filter}, folder, written);
    RunPngcheckOn(written);
}

TEST(PngRoundTrip, AlphaMaskBecomesInvertedAlpha) {
    TempFolder folder;
    std::vector<std::string> written;
    for (const Source& s : Sources)
        for (bool gray : {false, true})
            for (int interlace : {0, 1})
                CheckCase({s, gray, true, interlace, 0}, folder, written);
    RunPngcheckOn(written);
}

TEST(PngRoundTrip, AThirtyTwoBitImagesOwnAlphaIsWrittenAsItStands) {
    // A transparent capture: blue, green, red, alpha; the alpha straight, every value from 0 to 255.
    const TBitmap bitmap = MakeBitmap(TPixelFormat::pf32bit, W, H, [](std::uint8_t* row, int x, int y) {
        const std::uint32_t v = Content(x, y);
        std::memcpy(row + x * 4, &v, 3);
        row[x * 4 + 3] = static_cast<std::uint8_t>((y * W + x) * 7);
    });
    TempFolder folder;
    std::vector<std::string> written;
    for (bool gray : {false, true})
        for (int interlace : {0, 1})
            for (int filter : {0, 1}) {
                SCOPED_TRACE(std::to_string(gray) + std::to_string(interlace) + std::to_string(filter));
                const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
                    e.ImageAlpha = true;
                    e.Grayscale = gray;
                    e.Interlace = interlace;
                    e.FilterMode = filter;
                });
                const Decoded d = DecodePng(png);
                ASSERT_EQ(d.error, "");
                EXPECT_EQ(d.colourType, gray ? 4 : 6);
                for (int y = 0; y < H; ++y)
                    for (int x = 0; x < W; ++x) {
                        auto want = Expected({TPixelFormat::pf32bit, 32}, bitmap, nullptr, gray, x, y);
                        want[3] = bitmap.ScanLine(y)[x * 4 + 3];
                        const std::uint8_t* got = &d.rgba[(static_cast<std::size_t>(y) * W + x) * 4];
                        ASSERT_EQ((std::array<std::uint8_t, 4>{got[0], got[1], got[2], got[3]}), want)
                            << "pixel " << x << "," << y;
                    }
                written.push_back(folder.Path("alpha" + std::to_string(written.size()) + ".png"));
                WriteBytes(written.back(), png);
            }
    RunPngcheckOn(written);
    // A 24-bit image has no alpha of its own; a mask, when given, is the alpha instead.
    const TBitmap opaque = SourceBitmap({TPixelFormat::pf24bit, 24});
    EXPECT_EQ(ChunkData(EncodePng(opaque, [](TPngWriteStream& e) { e.ImageAlpha = true; }), "IHDR")[9], 2);
    const TBitmap mask = Mask();
    const Decoded masked = DecodePng(EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.ImageAlpha = true;
        e.AlphaBitmap = &mask;
    }));
    EXPECT_EQ(masked.rgba[3], 255 - mask.ScanLine(0)[0]);
}

TEST(PngRoundTrip, UnusableMasksAreIgnored) {
    const TBitmap bitmap = SourceBitmap({TPixelFormat::pf24bit, 24});
    TBitmap wrongSize = Mask();
    wrongSize.SetSize(W + 1, H);
    TBitmap wrongFormat;
    wrongFormat.SetPixelFormat(TPixelFormat::pf24bit);
    wrongFormat.SetSize(W, H);
    TBitmap eight;
    eight.SetPixelFormat(TPixelFormat::pf8bit);
    for (const TBitmap* mask : std::vector<const TBitmap*>{&wrongSize, &wrongFormat, &bitmap, &eight}) {
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) { e.AlphaBitmap = mask; });
        EXPECT_EQ(ChunkData(png, "IHDR")[9], 2);
    }
}

TEST(PngRoundTrip, CaptureWidthOf16384Pixels) {
    const TBitmap bitmap = MakeRgbBitmap(16384, 3, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8),
                   static_cast<std::uint8_t>(y * 50)};
    });
    for (int filter : {0, 1}) {
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) { e.FilterMode = filter; });
        const Decoded d = DecodePng(png);
        ASSERT_EQ(d.error, "");
        ASSERT_EQ(d.width, 16384u);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 16384; x += 97) {
                const std::uint8_t* q =
                    &d.rgba[(static_cast<std::size_t>(y) * 16384 + static_cast<std::size_t>(x)) * 4];
                ASSERT_EQ(q[0], static_cast<std::uint8_t>(x));
                ASSERT_EQ(q[1], static_cast<std::uint8_t>(x >> 8));
                ASSERT_EQ(q[2], static_cast<std::uint8_t>(y * 50));
            }
    }
}

TEST(PngRoundTrip, LargerImagesAcrossManyIdatChunks) {
    const TBitmap bitmap = PageLikeBitmap(640, 480);
    for (int filter = 0; filter <= 5; ++filter) {
        SCOPED_TRACE(filter);
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
            e.FilterMode = filter;
            e.SetIDATSize(4096);
        });
        const Decoded d = DecodePng(png);
        ASSERT_EQ(d.error, "");
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
                const std::uint8_t* q = &d.rgba[(static_cast<std::size_t>(y) * 640 + x) * 4];
                ASSERT_TRUE(q[0] == p[2] && q[1] == p[1] && q[2] == p[0]) << x << "," << y;
            }
    }
}

} // namespace
} // namespace korvane
