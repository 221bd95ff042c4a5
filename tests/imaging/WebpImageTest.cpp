// WebP files as the encoder writes them, decoded by libwebp's own decoder: lossless pixels exact (alpha too),
// lossy ones close; rows another thread still draws; the format's size limit; reading the files back for
// thumbnails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include <webp/decode.h>

#include "ImagingTestSupport.h"
#include "imaging/ImageFileReader.h"
#include "imaging/RowGate.h"
#include "imaging/WebpImage.h"

namespace korvane {
namespace {

using namespace korvane::test;

// The file decoded as blue, green, red, alpha, top row first.
struct TDecodedWebp {
    int Width = 0, Height = 0;
    bool Lossless = false, Alpha = false;
    Bytes Bgra;
};
TDecodedWebp DecodeWebp(const Bytes& webp) {
    TDecodedWebp d;
    WebPBitstreamFeatures features{};
    EXPECT_EQ(WebPGetFeatures(webp.data(), webp.size(), &features), VP8_STATUS_OK);
    d.Lossless = features.format == 2;
    d.Alpha = features.has_alpha != 0;
    std::uint8_t* pixels = WebPDecodeBGRA(webp.data(), webp.size(), &d.Width, &d.Height);
    EXPECT_NE(pixels, nullptr);
    if (pixels) d.Bgra.assign(pixels, pixels + static_cast<std::size_t>(d.Width) * d.Height * 4);
    WebPFree(pixels);
    return d;
}

TEST(WebpImage, LosslessKeepsEveryPixelAndATransparentPicturesAlpha) {
    const TBitmap page = PageLikeBitmap(301, 1250);
    const TDecodedWebp opaque = DecodeWebp(EncodeWebp(page, {}));
    ASSERT_EQ(opaque.Width, 301);
    ASSERT_EQ(opaque.Height, 1250);
    EXPECT_TRUE(opaque.Lossless);
    EXPECT_FALSE(opaque.Alpha);
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x) {
            const std::uint8_t* want = page.ScanLine(y) + x * 3;
            const std::uint8_t* got = &opaque.Bgra[(static_cast<std::size_t>(y) * 301 + x) * 4];
            ASSERT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2] && got[3] == 255)
                << "pixel " << x << "," << y;
        }

    // Every alpha value, and colours under transparent pixels kept as well.
    const TBitmap clear = MakeBitmap(TPixelFormat::pf32bit, 64, 40, [](std::uint8_t* row, int x, int y) {
        const std::uint32_t n = Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 3);
        std::memcpy(row + x * 4, &n, 3);
        row[x * 4 + 3] = static_cast<std::uint8_t>(y * 64 + x);
    });
    const TDecodedWebp alpha = DecodeWebp(EncodeWebp(clear, {0, 4, true}));
    EXPECT_TRUE(alpha.Alpha);
    for (int y = 0; y < 40; ++y)
        ASSERT_EQ(0,
                  std::memcmp(&alpha.Bgra[static_cast<std::size_t>(y) * 64 * 4], clear.ScanLine(y), 64 * 4))
            << "row " << y;
    // The same pixels without Alpha are opaque.
    EXPECT_FALSE(DecodeWebp(EncodeWebp(clear, {})).Alpha);
}

TEST(WebpImage, LossyIsCloseAndSmallerTheLowerTheQuality) {
    const TBitmap page = PageLikeBitmap(400, 1300);
    const Bytes lossless = EncodeWebp(page, {});
    const Bytes high = EncodeWebp(page, {90, 4, false});
    const Bytes low = EncodeWebp(page, {20, 4, false});
    EXPECT_LT(high.size(), lossless.size());
    EXPECT_LT(low.size(), high.size());
    const TDecodedWebp d = DecodeWebp(high);
    ASSERT_EQ(d.Width, 400);
    EXPECT_FALSE(d.Lossless);
    double error = 0;
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                error += std::abs(d.Bgra[(static_cast<std::size_t>(y) * 400 + x) * 4 + c] -
                                  page.ScanLine(y)[x * 3 + c]);
    EXPECT_LT(error / (400.0 * 1300 * 3), 8.0); // the picture is half noise
}

TEST(WebpImage, RowsStillBeingDrawnAreWaitedForAndAGivenUpDrawingWritesNothing) {
    const TBitmap source = PageLikeBitmap(120, 700);
    TempFolder folder;
    const std::string path = folder.Path("page.webp");
    for (const bool giveUp : {false, true}) {
        SCOPED_TRACE(giveUp);
        TBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(120, 700);
        TRowGate gate(700);
        bitmap.SetRowGate(&gate);
        std::thread filler([&, rows = bitmap.Rows()] {
            for (int y = 0; y < 700; ++y) {
                if (giveUp && y == 350) {
                    gate.Cancel();
                    break;
                }
                std::memcpy(rows.ScanLine(y), source.ScanLine(y), 360);
                if (!gate.Publish(y + 1)) break;
            }
            gate.Close();
        });
        if (giveUp) {
            WriteBytes(path, Bytes(10, 1));
            EXPECT_THROW(SaveWebpFile(bitmap, path, {}), EIncompletePicture);
            EXPECT_EQ(ReadBytes(path), Bytes(10, 1));
        } else {
            SaveWebpFile(bitmap, path, {});
            const TDecodedWebp d = DecodeWebp(ReadBytes(path));
            ASSERT_EQ(d.Height, 700);
            for (int y : {0, 349, 350, 699})
                for (int x = 0; x < 120; ++x)
                    ASSERT_EQ(d.Bgra[(static_cast<std::size_t>(y) * 120 + x) * 4 + 1],
                              source.ScanLine(y)[x * 3 + 1])
                        << x << "," << y;
        }
        filler.join();
        bitmap.SetRowGate(nullptr);
        EXPECT_EQ(folder.Files(), std::vector<std::string>{"page.webp"});
    }
}

TEST(WebpImage, APictureBeyondTheFormatsSideIsRefused) {
    TBitmap wide;
    wide.SetPixelFormat(TPixelFormat::pf24bit);
    wide.SetSize(kMaxWebpSide + 1, 2);
    EXPECT_THROW(EncodeWebp(wide, {}), EWebpError);
    wide.SetSize(kMaxWebpSide, 2);
    EXPECT_EQ(DecodeWebp(EncodeWebp(wide, {})).Width, kMaxWebpSide);
    TBitmap eight;
    eight.SetPixelFormat(TPixelFormat::pf8bit);
    eight.SetSize(4, 4);
    EXPECT_THROW(EncodeWebp(eight, {}), EConvertError);
}

TEST(WebpImage, FilesAreReadBackRowByRowAcrossDecodingBandsAndTransparencyOnWhite) {
    TempFolder folder;
    const TBitmap page = PageLikeBitmap(90, 1100); // bands of 256, 512, then the rest
    for (const int quality : {0, 80}) {
        SCOPED_TRACE(quality);
        const std::string path = folder.Path("page" + std::to_string(quality) + ".webp");
        SaveWebpFile(page, path, {quality, 4, false});
        const TDecodedWebp d = DecodeWebp(ReadBytes(path));
        const auto file = OpenImageFile(path);
        ASSERT_EQ(file->Width(), 90);
        ASSERT_EQ(file->Height(), 1100);
        Bytes row(90 * 3);
        for (int y = 0; y < 1100; ++y) {
            file->ReadRow(row.data());
            for (int x = 0; x < 90; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(row[x * 3 + c], d.Bgra[(static_cast<std::size_t>(y) * 90 + x) * 4 + c])
                        << x << "," << y;
        }
        EXPECT_THROW(file->ReadRow(row.data()), EUnreadablePicture);
    }
    const TBitmap clear = MakeBitmap(TPixelFormat::pf32bit, 2, 1, [](std::uint8_t* row, int x, int) {
        const std::uint8_t pixel[2][4] = {{0, 0, 0, 0}, {200, 0, 0, 255}};
        std::memcpy(row + x * 4, pixel[x], 4);
    });
    const std::string path = folder.Path("clear.webp");
    SaveWebpFile(clear, path, {0, 4, true});
    Bytes row(6);
    OpenImageFile(path)->ReadRow(row.data());
    EXPECT_EQ(row, (Bytes{255, 255, 255, 200, 0, 0}));

    // A file cut short is said to be so, not read past its end.
    Bytes cut = ReadBytes(folder.Path("page0.webp"));
    cut.resize(cut.size() / 2);
    WriteBytes(folder.Path("cut.webp"), cut);
    EXPECT_THROW(
        {
            const auto file = OpenImageFile(folder.Path("cut.webp"));
            Bytes wide(static_cast<std::size_t>(file->Width()) * 3);
            for (int y = 0; y < file->Height(); ++y)
                file->ReadRow(wide.data());
        },
        EUnreadablePicture);
}

} // namespace
} // namespace korvane
