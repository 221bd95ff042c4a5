// The PNG encoder at byte level: chunk sequence and contents, IDAT splitting, compression level, filters,
// the adaptive choice, progress and the row hook.
#include <gtest/gtest.h>

#include <cstring>

#include "ImagingTestSupport.h"
#include "imaging/Deflate.h"
#include "imaging/PngFilters.h"
#include "imaging/PngWriteStream.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

using namespace korvane::test;

TBitmap NoiseBitmap(int width, int height, std::uint32_t seed = 1) {
    return NoiseRgbBitmap(width, height, seed);
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

TEST(PngWriteStream, OnePixelGivesHeaderAndOneRowOfRedGreenBlue) {
    const TBitmap bitmap = MakeRgbBitmap(1, 1, [](int, int) { return Rgb{200, 100, 50}; });
    const Bytes png = EncodePng(bitmap);
    const Bytes signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
    EXPECT_EQ(ChunkData(png, "IHDR"), (Bytes{0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0}));
    EXPECT_EQ(InflateImageData(png), (Bytes{0, 200, 100, 50}));
    const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    ASSERT_GE(png.size(), iend.size());
    EXPECT_TRUE(std::equal(iend.begin(), iend.end(), png.end() - 12));
}

TEST(PngWriteStream, DefaultChunkSequenceAndContents) {
    const TBitmap bitmap = NoiseBitmap(160, 160);
    const Bytes png = EncodePng(bitmap);
    bool ok = false;
    const auto chunks = ParseChunks(png, &ok);
    ASSERT_TRUE(ok);
    for (const auto& c : chunks)
        EXPECT_TRUE(c.crcValid) << c.type;
    // The encoder's own default has no gamma; everything else is as the graphic writes it.
    std::vector<std::string> expected = {"IHDR", "tIME", "tEXt", "kvNG"};
    std::size_t idats = 0;
    for (const auto& c : chunks)
        idats += c.type == "IDAT";
    ASSERT_GE(idats, 2u);
    expected.insert(expected.end(), idats, "IDAT");
    expected.push_back("IEND");
    EXPECT_EQ(ChunkTypes(png), expected);
    EXPECT_EQ(Text(ChunkData(png, "tEXt")), std::string("Software\0KRVPNG ver 3.4", 23));
    EXPECT_EQ(ChunkData(png, "kvNG"), (Bytes{'K', 'R', 'V', '3', 0, 0, 0, 0}));
    const Bytes idat = JoinedImageData(png);
    EXPECT_EQ(idat[0], 0x78);
    EXPECT_EQ(idat[1], 0x9C);
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i)
        if (chunks[i].type == "IDAT" && chunks[i + 1].type == "IDAT") {
            EXPECT_EQ(chunks[i].data.size(), 32768u);
        }
    EXPECT_EQ(FilterTypes(png, 160 * 3), std::vector<int>(160, 0));
    const Decoded d = DecodePng(png);
    ASSERT_EQ(d.error, "");
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 160; ++x) {
            const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
            const std::uint8_t* q = &d.rgba[(static_cast<std::size_t>(y) * 160 + x) * 4];
            ASSERT_EQ((Bytes{q[0], q[1], q[2], q[3]}), (Bytes{p[2], p[1], p[0], 255})) << x << "," << y;
        }
}

TEST(PngWriteStream, TimeChunkComesFromTheUtcClockOrTheTimeStamp) {
    const TBitmap bitmap = NoiseBitmap(4, 4);
    const TPngTimeStamp before = CurrentUtcTimeStamp();
    const Bytes png = EncodePng(bitmap);
    const TPngTimeStamp after = CurrentUtcTimeStamp();
    const Bytes t = ChunkData(png, "tIME");
    ASSERT_EQ(t.size(), 7u);
    auto asTuple = [](const TPngTimeStamp& s) {
        return std::make_tuple(s.year, s.month, s.day, s.hour, s.minute, s.second);
    };
    const TPngTimeStamp written{BE16(&t[0]), t[2], t[3], t[4], t[5], t[6]};
    EXPECT_LE(asTuple(before), asTuple(written));
    EXPECT_LE(asTuple(written), asTuple(after));
    // Cross-check against the C library's UTC.
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(written.year, utc.tm_year + 1900);

    const TPngTimeStamp fixed{2021, 2, 28, 23, 59, 60};
    const Bytes stamped = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.UseCurrentTime = false;
        e.TimeStamp = &fixed;
    });
    EXPECT_EQ(ChunkData(stamped, "tIME"), (Bytes{0x07, 0xE5, 2, 28, 23, 59, 60}));
    for (TPngTimeStamp bad : {TPngTimeStamp{2021, 13, 1, 0, 0, 0}, TPngTimeStamp{0, 1, 1, 0, 0, 0},
                              TPngTimeStamp{2021, 1, 32, 0, 0, 0}, TPngTimeStamp{2021, 1, 1, 24, 0, 0},
                              TPngTimeStamp{2021, 1, 1, 0, 60, 0}, TPngTimeStamp{2021, 1, 1, 0, 0, 61}}) {
        const Bytes none = EncodePng(bitmap, [&](TPngWriteStream& e) {
            e.UseCurrentTime = false;
            e.TimeStamp = &bad;
        });
        EXPECT_TRUE(ChunkData(none, "tIME").empty());
    }
    const Bytes unset = EncodePng(bitmap, [](TPngWriteStream& e) { e.UseCurrentTime = false; });
    EXPECT_EQ(ChunkTypes(unset)[1], "tEXt");
}

TEST(PngWriteStream, CommentAndGammaChunksOnlyWhenSet) {
    const TBitmap bitmap = NoiseBitmap(3, 3);
    const Bytes plain = EncodePng(bitmap, [](TPngWriteStream& e) { e.Gamma = 0; });
    EXPECT_EQ(ChunkTypes(plain)[2], "tEXt");
    EXPECT_EQ(Text(ChunkData(plain, "tEXt")).substr(0, 9), std::string("Software\0", 9));
    EXPECT_TRUE(ChunkData(plain, "gAMA").empty());

    const Bytes set = EncodePng(bitmap, [](TPngWriteStream& e) {
        e.Comment = "page capture";
        e.Gamma = 0.45455;
    });
    const auto types = ChunkTypes(set);
    ASSERT_GE(types.size(), 6u);
    EXPECT_EQ((std::vector<std::string>(types.begin(), types.begin() + 6)),
              (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tEXt", "kvNG", "gAMA"}));
    EXPECT_EQ(Text(ChunkData(set, "tEXt")), std::string("Comment\0page capture", 20));
    EXPECT_EQ(ChunkData(set, "gAMA"), (Bytes{0, 0, 0xB1, 0x8F})); // 45455
}

TEST(PngWriteStream, IdatSizeLimitsAndSplitting) {
    TPngWriteStream encoder;
    for (int bad : {255, 100001, 0, -1}) {
        try {
            encoder.SetIDATSize(bad);
            FAIL() << bad;
        } catch (const EPngError& e) {
            EXPECT_STREQ(e.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
        }
        EXPECT_EQ(encoder.IDATSize(), 32768);
    }
    const TBitmap bitmap = NoiseBitmap(200, 200);
    for (int size : {256, 100000, 32768}) {
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) { e.SetIDATSize(size); });
        std::vector<std::size_t> sizes;
        for (const auto& c : ParseChunks(png))
            if (c.type == "IDAT") sizes.push_back(c.data.size());
        ASSERT_FALSE(sizes.empty());
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
            EXPECT_EQ(sizes[i], static_cast<std::size_t>(size));
        EXPECT_GT(sizes.back(), 0u);
        EXPECT_LE(sizes.back(), static_cast<std::size_t>(size));
        EXPECT_EQ(DecodePng(png).error, "");
    }
}

TEST(PngWriteStream, CompressedDataOfTwiceTheIdatSizeGivesExactlyTwoChunks) {
    // Find a noise image whose compressed stream has an even length, then split it in two halves.
    for (int height = 40; height < 60; ++height) {
        const TBitmap bitmap = NoiseBitmap(100, height, 7);
        const std::size_t total = JoinedImageData(EncodePng(bitmap)).size();
        if (total % 2 != 0) continue;
        const Bytes png =
            EncodePng(bitmap, [&](TPngWriteStream& e) { e.SetIDATSize(static_cast<int>(total / 2)); });
        std::vector<std::size_t> sizes;
        for (const auto& c : ParseChunks(png))
            if (c.type == "IDAT") sizes.push_back(c.data.size());
        EXPECT_EQ(sizes, (std::vector<std::size_t>{total / 2, total / 2}));
        EXPECT_EQ(DecodePng(png).error, "");
        return;
    }
    FAIL() << "no image with an even compressed length";
}

TEST(PngWriteStream, CompressionLevelOutsideZeroToNineIsTheDefaultLevel) {
    const TBitmap bitmap = NoiseBitmap(64, 64);
    auto encode = [&](int level) {
        return EncodePng(bitmap, [&](TPngWriteStream& e) {
            e.UseCurrentTime = false;
            e.CompressionLevel = level;
        });
    };
    const Bytes byDefault = encode(-1);
    EXPECT_EQ(encode(10), byDefault);
    EXPECT_EQ(encode(-5), byDefault);
    EXPECT_EQ(encode(6), byDefault);
    const Bytes stored = encode(0);
    EXPECT_NE(stored, byDefault);
    EXPECT_EQ(JoinedImageData(stored)[1], 0x01); // 78 01: fastest / stored
    EXPECT_EQ(DecodePng(stored).error, "");
}

TEST(PngWriteStream, FixedFilterModesPutTheirTypeOnEveryRow) {
    const TBitmap bitmap = NoiseBitmap(20, 9);
    for (int mode : {1, 7, 255}) {
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) { e.FilterMode = mode; });
        EXPECT_EQ(FilterTypes(png, 60), std::vector<int>(9, 0)) << mode;
    }
    for (int mode = 2; mode <= 5; ++mode) {
        const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) { e.FilterMode = 0x100 | mode; });
        EXPECT_EQ(FilterTypes(png, 60), std::vector<int>(9, mode - 1)) << mode;
    }
}

TEST(PngWriteStream, AdaptiveTakesARowThatIsNinetyPercentOneValueAtOnce) {
    // Rows of a grey ramp with four bumps in red: None has many values, Sub is 90 % ones with 10 values.
    auto ramp = [](int x, int) {
        std::uint8_t red = static_cast<std::uint8_t>(x);
        if (x == 20) red += 10;
        if (x == 40) red += 20;
        if (x == 60) red += 30;
        if (x == 80) red += 40;
        return Rgb{red, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x)};
    };
    const TBitmap bitmap = MakeRgbBitmap(100, 2, ramp);
    const Bytes png = EncodePng(bitmap, [](TPngWriteStream& e) { e.FilterMode = 0; });
    // Row 2 equals row 1, so Up would be all zeros as well; Sub comes first and ends the search.
    EXPECT_EQ(FilterTypes(png, 300), (std::vector<int>{1, 1}));
    EXPECT_EQ(DecodePng(png).error, "");

    // A plain white row has one value: None is kept.
    const TBitmap white = MakeRgbBitmap(100, 3, [](int, int) { return Rgb{255, 255, 255}; });
    EXPECT_EQ(FilterTypes(EncodePng(white, [](TPngWriteStream& e) { e.FilterMode = 0; }), 300),
              (std::vector<int>{0, 0, 0}));

    // Vertical stripes of noise: every row equals the one above, Up (all zero) wins over the noisy rest.
    const TBitmap stripes = MakeRgbBitmap(64, 4, [](int x, int) {
        const std::uint32_t n = Noise(static_cast<std::uint32_t>(x), 0);
        return Rgb{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                   static_cast<std::uint8_t>(n >> 16)};
    });
    const auto types = FilterTypes(EncodePng(stripes, [](TPngWriteStream& e) { e.FilterMode = 0; }), 192);
    ASSERT_EQ(types.size(), 4u);
    EXPECT_EQ((std::vector<int>(types.begin() + 1, types.end())), (std::vector<int>{2, 2, 2}));
}

TEST(PngWriteStream, AdaptiveKeepsNoneForFourBitImages) {
    TBitmap bitmap = MakeBitmap(TPixelFormat::pf4bit, 40, 5, [](std::uint8_t* row, int x, int y) {
        const unsigned v = Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) & 15;
        row[x / 2] =
            static_cast<std::uint8_t>(x % 2 ? (row[x / 2] & 0xF0) | v : (row[x / 2] & 0x0F) | (v << 4));
    });
    std::vector<TPaletteEntry> palette(16);
    for (int i = 0; i < 16; ++i)
        palette[i] = {static_cast<std::uint8_t>(i * 16), 0, 0};
    bitmap.SetPalette(palette);
    const Bytes png = EncodePng(bitmap, [](TPngWriteStream& e) { e.FilterMode = 0; });
    EXPECT_EQ(FilterTypes(png, 20), std::vector<int>(5, 0));
}

// Records, for each progress report, how many rows the row hook had seen.
struct ProgressRecorder {
    int rowsSeen = 0;
    std::vector<int> rowsAtReport;
    std::vector<int> percents;

    void Attach(TBitmap& bitmap, TPngWriteStream& encoder) {
        bitmap.OnProgress = [this](TBitmap&, TProgressStage, int percent, bool, const TRect&,
                                   const std::string&) {
            rowsAtReport.push_back(rowsSeen);
            percents.push_back(percent);
        };
        encoder.RowKey = "key";
        encoder.OnRowWrite = [this](TPngWriteStream&, std::uint8_t*, const std::string&, int, int) {
            ++rowsSeen;
        };
    }
};

TEST(PngWriteStream, ProgressAfterRowsTwoSixTenAndAfterEveryRowOfShortImages) {
    TBitmap tall = NoiseBitmap(5, 12);
    ProgressRecorder tallRecord;
    TPngWriteStream encoder;
    tallRecord.Attach(tall, encoder);
    TMemoryStream target;
    encoder.SaveBitmap(tall, target);
    // Start, header stage, then rows 2, 6 and 10 of the image data, then the end.
    EXPECT_EQ(tallRecord.rowsAtReport, (std::vector<int>{0, 0, 2, 6, 10, 12}));
    EXPECT_EQ(tallRecord.percents.front(), 0);
    EXPECT_EQ(tallRecord.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(tallRecord.percents.begin(), tallRecord.percents.end()));
    EXPECT_LT(tallRecord.percents[tallRecord.percents.size() - 2], 100);

    TBitmap shortImage = NoiseBitmap(5, 3);
    ProgressRecorder shortRecord;
    TPngWriteStream second;
    shortRecord.Attach(shortImage, second);
    TMemoryStream target2;
    second.SaveBitmap(shortImage, target2);
    EXPECT_EQ(shortRecord.rowsAtReport, (std::vector<int>{0, 0, 1, 2, 3, 3}));
}

TEST(PngWriteStream, RowHookSeesEveryRawRowAndMayChangeIt) {
    const TBitmap bitmap = NoiseBitmap(6, 4);
    std::vector<int> numbers;
    const Bytes png = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.RowKey = "secret";
        e.OnRowWrite = [&](TPngWriteStream&, std::uint8_t* row, const std::string& key, int number,
                           int length) {
            EXPECT_EQ(key, "secret");
            EXPECT_EQ(length, 18);
            numbers.push_back(number);
            row[0] = 0xAB; // red of the first pixel
        };
    });
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(ChunkData(png, "kvNG"), (Bytes{'K', 'R', 'V', '3', 1, 0, 0, 0}));
    const Decoded d = DecodePng(png);
    ASSERT_EQ(d.error, "");
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(d.rgba[static_cast<std::size_t>(y) * 6 * 4], 0xAB);

    // A hook without a key does not run and the flag stays 0.
    bool ran = false;
    const Bytes nokey = EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.OnRowWrite = [&](TPngWriteStream&, std::uint8_t*, const std::string&, int, int) { ran = true; };
    });
    EXPECT_FALSE(ran);
    EXPECT_EQ(ChunkData(nokey, "kvNG")[4], 0);
}

TEST(PngWriteStream, InterlacedOnePixelWritesOnlyTheFirstPass) {
    const TBitmap bitmap = MakeRgbBitmap(1, 1, [](int, int) { return Rgb{1, 2, 3}; });
    const Bytes png = EncodePng(bitmap, [](TPngWriteStream& e) { e.Interlace = 1; });
    EXPECT_EQ(ChunkData(png, "IHDR")[12], 1);
    EXPECT_EQ(InflateImageData(png), (Bytes{0, 1, 2, 3}));
    const Decoded d = DecodePng(png);
    ASSERT_EQ(d.error, "");
    EXPECT_EQ((Bytes(d.rgba.begin(), d.rgba.end())), (Bytes{1, 2, 3, 255}));
}

TEST(PngWriteStream, SignatureCanBeLeftOut) {
    const TBitmap bitmap = NoiseBitmap(2, 2);
    const Bytes png = EncodePng(bitmap, [](TPngWriteStream& e) { e.WriteSignature = false; });
    EXPECT_EQ(std::string(png.begin() + 4, png.begin() + 8), "IHDR");
}

TEST(PngWriteStream, TargetFailurePassesThroughTheEncoder) {
    class FailAfter : public TStream {
    public:
        void WriteBuffer(const void*, std::size_t count) override {
            if (written + count > 70000) throw EWriteError();
            written += count;
        }
        std::size_t written = 0;
    };
    const TBitmap bitmap = NoiseBitmap(300, 300);
    TPngWriteStream encoder;
    FailAfter target;
    EXPECT_THROW(encoder.SaveBitmap(bitmap, target), EWriteError);
    EXPECT_LE(target.written, 70000u);
}

TEST(DeflateWriter, WritesFailWithoutSetUpAndEveryFullBufferIsHandedOn) {
    DeflateWriter writer;
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(writer.Write(data, 4));
    std::vector<std::size_t> blocks;
    ASSERT_TRUE(writer.Setup(0, 300, [&](const std::uint8_t*, std::size_t n) { blocks.push_back(n); }));
    std::vector<std::uint8_t> big(1000, 9);
    ASSERT_TRUE(writer.Write(big.data(), big.size()));
    writer.Finish();
    ASSERT_GE(blocks.size(), 4u); // 1000 stored bytes and their framing: at least four 300-byte blocks
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i], 300u);
    EXPECT_GT(blocks.back(), 0u);
    // Out-of-range buffer sizes become 32,768.
    ASSERT_TRUE(writer.Setup(-1, 0, {}));
    EXPECT_EQ(writer.OutputSize(), 32768u);
    ASSERT_TRUE(writer.Setup(-1, 262144, {}));
    EXPECT_EQ(writer.OutputSize(), 32768u);
    ASSERT_TRUE(writer.Setup(-1, 262143, {}));
    EXPECT_EQ(writer.OutputSize(), 262143u);
}

} // namespace
} // namespace korvane

namespace korvane {
namespace {

using namespace korvane::test;

TEST(RowScore, TakeThisRowAtEightValuesOrNinetyPercentAndScoresOtherwise) {
    std::uint32_t histogram[256];
    // 90 zeros and 10 other values: 11 distinct, 90 % one value.
    std::vector<std::uint8_t> row(100, 0);
    for (int i = 0; i < 10; ++i)
        row[static_cast<std::size_t>(90 + i)] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(RowScore(row.data(), row.size(), 24, histogram), -1);
    // 89 zeros and 11 other values: 12 distinct, 89 %:
    // (100 / 1.5) / 12 x 1000 + (89 + 1 + 1) / 100 x 1000 = 5555.6 + 910.
    row[89] = 50;
    EXPECT_EQ(RowScore(row.data(), row.size(), 24, histogram), 6465);
    // Below 8 bits per pixel: (100 / 1.5) / 12 x 1500 + (89 + 1) / 100 x 1000 = 8333.3 + 900.
    EXPECT_EQ(RowScore(row.data(), row.size(), 4, histogram), 9233);
    // Eight distinct values however spread: -1; nine: a score.
    std::vector<std::uint8_t> spread(72);
    for (std::size_t i = 0; i < spread.size(); ++i)
        spread[i] = static_cast<std::uint8_t>(i % 8);
    EXPECT_EQ(RowScore(spread.data(), spread.size(), 24, histogram), -1);
    spread[0] = 200;
    EXPECT_GT(RowScore(spread.data(), spread.size(), 24, histogram), 0);
}

TEST(RowScore, FiltersInvertToTheRawRow) {
    // Each filter's output, undone as a decoder does, gives back the raw bytes.
    std::vector<std::uint8_t> prior(30), raw(30), out(30);
    for (int i = 0; i < 30; ++i) {
        prior[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(Noise(static_cast<std::uint32_t>(i), 1));
        raw[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(Noise(static_cast<std::uint32_t>(i), 2));
    }
    const std::size_t bpp = 3;
    auto left = [&](const std::vector<std::uint8_t>& v, std::size_t i) { return i >= bpp ? v[i - bpp] : 0; };
    FilterPaeth(raw.data(), prior.data(), out.data(), 30, bpp);
    std::vector<std::uint8_t> back(30);
    for (std::size_t i = 0; i < 30; ++i) {
        const int a = left(back, i), b = prior[i], c = left(prior, i);
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        back[i] = static_cast<std::uint8_t>(out[i] + predictor);
    }
    EXPECT_EQ(back, raw);
    FilterAverage(raw.data(), prior.data(), out.data(), 30, bpp);
    for (std::size_t i = 0; i < 30; ++i)
        back[i] = static_cast<std::uint8_t>(out[i] + ((left(back, i) + prior[i]) / 2));
    EXPECT_EQ(back, raw);
    FilterSub(raw.data(), out.data(), 30, bpp);
    for (std::size_t i = 0; i < 30; ++i)
        back[i] = static_cast<std::uint8_t>(out[i] + left(back, i));
    EXPECT_EQ(back, raw);
    FilterUp(raw.data(), prior.data(), out.data(), 30);
    for (std::size_t i = 0; i < 30; ++i)
        back[i] = static_cast<std::uint8_t>(out[i] + prior[i]);
    EXPECT_EQ(back, raw);
}

} // namespace
} // namespace korvane
