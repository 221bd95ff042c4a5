// The PNG graphic: defaults and the file they give, CopyFrom, the effective image, progress redirection,
// WriteToFile, and its registration.
#include <gtest/gtest.h>

#include <thread>

#include "ImagingTestSupport.h"
#include "imaging/JpegImage.h"
#include "imaging/PictureFormats.h"
#include "imaging/PngGraphic.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

using namespace korvane::test;

TBitmap Capture(int width, int height, std::uint32_t seed = 3) {
    return NoiseRgbBitmap(width, height, seed);
}

TEST(PngGraphic, DefaultsWriteTheCaptureFileShape) {
    TempFolder folder;
    const TBitmap capture = Capture(150, 150);
    TPngGraphic png;
    png.CopyFrom(capture);
    const std::string path = folder.Path("capture.png");
    png.WriteToFile(path);
    const Bytes file = ReadBytes(path);
    const auto types = ChunkTypes(file);
    ASSERT_GE(types.size(), 8u);
    EXPECT_EQ((std::vector<std::string>(types.begin(), types.begin() + 5)),
              (std::vector<std::string>{"IHDR", "tIME", "tEXt", "kvNG", "gAMA"}));
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_EQ(ChunkData(file, "IHDR"), (Bytes{0, 0, 0, 150, 0, 0, 0, 150, 8, 2, 0, 0, 0}));
    EXPECT_EQ(ChunkData(file, "gAMA"), (Bytes{0, 0, 0xB1, 0x8F}));
    const auto chunks = ParseChunks(file);
    std::size_t idats = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (chunks[i].type != "IDAT") continue;
        ++idats;
        if (chunks[i + 1].type == "IDAT") {
            EXPECT_EQ(chunks[i].data.size(), 32768u);
        }
    }
    EXPECT_GE(idats, 2u);
    EXPECT_EQ(FilterTypes(file, 450), std::vector<int>(150, 0));
    bool passed = false;
    const std::string output = RunPngcheck(path, &passed);
    EXPECT_TRUE(passed) << output;
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"capture.png"}));
}

TEST(PngGraphic, EachSaveTakesTheClockNotTheConstructionTime) {
    const TBitmap capture = Capture(2, 2);
    TPngGraphic png;
    png.CopyFrom(capture);
    // 2026-12-09 04:05:06 UTC, then one second and one day later.
    std::chrono::system_clock::time_point now{std::chrono::seconds(1796789106)};
    png.Clock = [&] { return now; };
    TMemoryStream first, second, third;
    png.WriteToStream(first);
    now += std::chrono::seconds(1);
    png.WriteToStream(second);
    now += std::chrono::hours(24);
    png.WriteToStream(third);
    EXPECT_EQ(ChunkData(first.Bytes(), "tIME"), (Bytes{0x07, 0xEA, 12, 9, 4, 5, 6}));
    EXPECT_EQ(ChunkData(second.Bytes(), "tIME"), (Bytes{0x07, 0xEA, 12, 9, 4, 5, 7}));
    EXPECT_EQ(ChunkData(third.Bytes(), "tIME"), (Bytes{0x07, 0xEA, 12, 10, 4, 5, 7}));

    // With the clock off the construction-time stamp is written.
    png.UseCurrentTime = false;
    TMemoryStream fixed;
    png.WriteToStream(fixed);
    const Bytes t = ChunkData(fixed.Bytes(), "tIME");
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(BE16(&t[0]), png.TimeStamp.year);
    EXPECT_EQ(t[6], png.TimeStamp.second);
}

TEST(PngGraphic, CopyFromABitmapKeepsTheValuesAndTakesThePixels) {
    TPngGraphic png;
    png.Comment = "keep";
    png.Gamma = 1.0;
    png.FilterMode = 3;
    TBitmap capture = Capture(5, 4);
    capture.SetTransparent(true);
    int changes = 0;
    png.OnChange = [&](TGraphic&) { ++changes; };
    png.CopyFrom(capture);
    EXPECT_EQ(png.Comment, "keep");
    EXPECT_EQ(png.Gamma, 1.0);
    EXPECT_EQ(png.FilterMode, 3);
    EXPECT_EQ(png.Width(), 5);
    EXPECT_EQ(png.Height(), 4);
    EXPECT_TRUE(png.PaletteModified());
    EXPECT_TRUE(png.Transparent()); // brought in line with the image
    EXPECT_TRUE(png.OwnedImage().Transparent());
    EXPECT_EQ(changes, 1);
    for (int y = 0; y < 4; ++y)
        EXPECT_TRUE(std::equal(capture.ScanLine(y), capture.ScanLine(y) + 15, png.Image().ScanLine(y)));
    // The copy is independent of the source.
    capture.ScanLine(0)[0] ^= 0xFF;
    EXPECT_NE(capture.ScanLine(0)[0], png.Image().ScanLine(0)[0]);
    // Same flag: a plain change notification.
    png.CopyFrom(capture);
    EXPECT_EQ(changes, 2);
}

TEST(PngGraphic, CopyFromAnotherPngGraphicTakesItsValues) {
    TPngGraphic source;
    source.CopyFrom(Capture(3, 3));
    source.Comment = "c";
    source.IDATSize = 1000;
    source.CompressionLevel = 9;
    source.Interlace = 1;
    source.Grayscale = true;
    source.BackgroundColor = RGBColor(1, 2, 3);
    source.PhysX = 5;
    source.UseCurrentTime = false;
    source.Chromaticities[0] = 7;
    TPngGraphic copy;
    copy.CopyFrom(source);
    EXPECT_EQ(copy.Comment, "c");
    EXPECT_EQ(copy.IDATSize, 1000);
    EXPECT_EQ(copy.CompressionLevel, 9);
    EXPECT_EQ(copy.Interlace, 1);
    EXPECT_TRUE(copy.Grayscale);
    EXPECT_EQ(copy.BackgroundColor, RGBColor(1, 2, 3));
    EXPECT_EQ(copy.PhysX, 5);
    EXPECT_FALSE(copy.UseCurrentTime);
    EXPECT_EQ(copy.Chromaticities[0], 7u);
    EXPECT_EQ(copy.TimeStamp, source.TimeStamp);
    EXPECT_EQ(copy.Width(), 3);
    TMemoryStream out;
    copy.WriteToStream(out);
    const Decoded d = DecodePng(out.Bytes());
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.colourType, 0);
    EXPECT_EQ(d.interlace, 1);
}

TEST(PngGraphic, CopyFromSomethingThatIsNoGraphicFailsAndKeepsTheImage) {
    class NotAGraphic : public TPersistent {
    public:
        std::string ClassName() const override { return "TNotAGraphic"; }
    };
    TPngGraphic png;
    png.CopyFrom(Capture(4, 4));
    TBitmap other = Capture(2, 2);
    png.SetImageReference(&other);
    try {
        png.CopyFrom(NotAGraphic());
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TNotAGraphic to a TPngGraphic");
    }
    EXPECT_EQ(png.ImageReference(), nullptr); // the one step taken before the check
    EXPECT_EQ(png.OwnedImage().Width(), 4);
}

TEST(PngGraphic, ReferencedImageAndMaskAreUsedAndAlphaWritten) {
    TBitmap image = Capture(6, 5);
    TBitmap mask = MakeBitmap(TPixelFormat::pf8bit, 6, 5, [](std::uint8_t* row, int x, int y) {
        row[x] = static_cast<std::uint8_t>(x * 40 + y);
    });
    TPngGraphic png;
    png.SetImageReference(&image);
    png.SetMaskReference(&mask);
    png.HasAlpha = true;
    EXPECT_EQ(png.Width(), 6);
    TMemoryStream out;
    png.WriteToStream(out);
    const Decoded d = DecodePng(out.Bytes());
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.colourType, 6);
    EXPECT_EQ(d.rgba[3], 255);                        // mask 0
    EXPECT_EQ(d.rgba[(1 * 6 + 2) * 4 + 3], 255 - 81); // x 2, y 1
    // Size changes reach image and mask, which are not empty.
    png.SetWidth(3);
    EXPECT_EQ(image.Width(), 3);
    EXPECT_EQ(mask.Width(), 3);
    // Nothing empty is resized.
    TPngGraphic empty;
    empty.SetWidth(10);
    EXPECT_TRUE(empty.Empty());
}

TEST(PngGraphic, ProgressReachesTheGraphicsHandlerAndTheImagesOwnComesBack) {
    TPngGraphic png;
    png.CopyFrom(Capture(8, 8));
    int own = 0;
    png.OwnedImage().OnProgress = [&](TBitmap&, TProgressStage, int, bool, const TRect&, const std::string&) {
        ++own;
    };
    std::vector<int> percents;
    const TBitmap* sender = nullptr;
    png.OnProgress = [&](TBitmap& s, TProgressStage, int percent, bool, const TRect&, const std::string&) {
        sender = &s;
        percents.push_back(percent);
    };
    TMemoryStream out;
    png.WriteToStream(out);
    EXPECT_EQ(own, 0);
    EXPECT_EQ(sender, &png.OwnedImage());
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    // Restored also after a save that fails half-way.
    class Failing : public TStream {
    public:
        void WriteBuffer(const void*, std::size_t) override { throw EWriteError(); }
    } failing;
    EXPECT_THROW(png.WriteToStream(failing), EWriteError);
    png.OnProgress = nullptr;
    png.WriteToStream(out);
    EXPECT_GT(own, 0);
}

TEST(PngGraphic, BadIdatSizeThroughWriteToFileLeavesNoFileAndKeepsAnOldOne) {
    TempFolder folder;
    TPngGraphic png;
    png.CopyFrom(Capture(4, 4));
    png.IDATSize = 255;
    const std::string path = folder.Path("out.png");
    try {
        png.WriteToFile(path);
        FAIL();
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
    }
    EXPECT_TRUE(folder.Files().empty());
    WriteBytes(path, Bytes{1, 2, 3});
    EXPECT_THROW(png.WriteToFile(path), EPngError);
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"out.png"}));
}

TEST(PngGraphic, WritingOverAnExistingFileReplacesItCompletely) {
    TempFolder folder;
    const std::string path = folder.Path("page.png");
    WriteBytes(path, Bytes(500000, 0xEE));
    TPngGraphic png;
    png.CopyFrom(Capture(3, 3));
    png.WriteToFile(path);
    const Bytes file = ReadBytes(path);
    EXPECT_LT(file.size(), 1000u);
    EXPECT_EQ(DecodePng(file).error, "");
    EXPECT_THROW(png.WriteToFile(folder.Path("missing/page.png")), EFCreateError);
    try {
        png.WriteToFile(folder.Path("missing/page.png"));
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create the file " + folder.Path("missing/page.png"));
    }
}

TEST(PngGraphic, StoredDataUsesTheEncoderDefaultsForItsOwnValues) {
    TPngGraphic png;
    png.CopyFrom(Capture(10, 10));
    png.FilterMode = 4;
    png.Interlace = 1;
    png.IDATSize = 10; // not used here
    png.Comment = "stored";
    TMemoryStream out;
    png.WriteData(out);
    const Bytes bytes = out.Bytes();
    EXPECT_EQ(ChunkData(bytes, "IHDR")[12], 0);
    EXPECT_EQ(FilterTypes(bytes, 30), std::vector<int>(10, 0));
    const Bytes comment = ChunkData(bytes, "tEXt");
    EXPECT_EQ(std::string(comment.begin(), comment.end()), std::string("Comment\0stored", 14));
    EXPECT_EQ(DecodePng(bytes).error, "");
}

TEST(PngGraphic, CopiesIntoOtherGraphicsAndDraws) {
    TPngGraphic png;
    png.CopyFrom(Capture(4, 4));
    TBitmap copy;
    copy.Assign(png);
    EXPECT_EQ(copy.Width(), 4);
    EXPECT_TRUE(std::equal(copy.Bits(), copy.Bits() + copy.ImageSize(), png.Image().Bits()));
    TJPEGImage jpeg;
    jpeg.Assign(copy);
    TPngGraphic fromJpeg;
    fromJpeg.CopyFrom(jpeg);
    EXPECT_EQ(fromJpeg.Width(), 4);

    TBitmap canvas;
    canvas.SetSize(8, 8);
    png.Draw(canvas, TRect{0, 0, 8, 8});
    // Doubled: canvas pixel (3, 5) shows image pixel (1, 2).
    EXPECT_TRUE(std::equal(canvas.ScanLine(5) + 9, canvas.ScanLine(5) + 12, png.Image().ScanLine(2) + 3));
}

TEST(PngGraphic, TakingABitmapMovesItsPixelsWithoutACopy) {
    TBitmap capture = Capture(6, 6);
    const std::uint8_t* pixels = capture.Bits();
    TPngGraphic png;
    png.TakeBitmap(std::move(capture));
    EXPECT_EQ(png.Image().Bits(), pixels);
    EXPECT_TRUE(capture.Empty()); // NOLINT(bugprone-use-after-move)
    TMemoryStream out;
    png.WriteToStream(out);
    EXPECT_EQ(DecodePng(out.Bytes()).width, 6u);

    TJPEGImage jpeg;
    TBitmap second = Capture(8, 8);
    pixels = second.Bits();
    jpeg.TakeBitmap(std::move(second));
    EXPECT_EQ(jpeg.Bitmap().Bits(), pixels);
    jpeg.Compress();
    EXPECT_FALSE(jpeg.Data().empty());
}

TEST(PictureFormats, PngIsRegisteredWithItsDescription) {
    const TPictureFormat* format = FindFileFormat("png");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->extension, "PNG");
    EXPECT_EQ(format->description, "PNG Format");
    EXPECT_EQ(FindFileFormat(".PNG"), format);
    auto graphic = format->create();
    EXPECT_NE(dynamic_cast<TPngGraphic*>(graphic.get()), nullptr);
    EXPECT_EQ(FindFileFormat("gif"), nullptr);
}

} // namespace
} // namespace korvane
