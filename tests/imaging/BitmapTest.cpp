// The bitmap: storage order, strides and padding, resizing, copies, palette, and sizes that cannot be had.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>

#include "ImagingTestSupport.h"
#include "imaging/Bitmap.h"

namespace korvane {
namespace {

using namespace korvane::test;

TEST(Bitmap, StartsEmptyAsDeviceFormatOfTwentyFourBits) {
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pfDevice);
    EXPECT_EQ(bitmap.BitsPerPixel(), 24);
    EXPECT_EQ(bitmap.Bits(), nullptr);
    bitmap.SetWidth(5);
    EXPECT_TRUE(bitmap.Empty()); // height still 0
    bitmap.SetHeight(2);
    EXPECT_FALSE(bitmap.Empty());
    EXPECT_EQ(bitmap.RowStride(), 16u);
}

TEST(Bitmap, RowsAreStoredBottomUpWithZeroPaddingToFourBytes) {
    struct Case {
        TPixelFormat format;
        int width;
        std::size_t stride;
    };
    for (const Case& c : {Case{TPixelFormat::pf1bit, 33, 8}, Case{TPixelFormat::pf4bit, 9, 8},
                          Case{TPixelFormat::pf8bit, 5, 8}, Case{TPixelFormat::pf15bit, 3, 8},
                          Case{TPixelFormat::pf16bit, 2, 4}, Case{TPixelFormat::pf24bit, 3, 12},
                          Case{TPixelFormat::pf24bit, 1, 4}, Case{TPixelFormat::pf32bit, 3, 12}}) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.format);
        bitmap.SetSize(c.width, 3);
        EXPECT_EQ(bitmap.RowStride(), c.stride) << c.width;
        EXPECT_EQ(bitmap.ImageSize(), c.stride * 3);
        EXPECT_EQ(bitmap.ScanLine(2), bitmap.Bits());                // the bottom row comes first
        EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 2 * c.stride); // the top row last
        EXPECT_TRUE(std::all_of(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(Bitmap, ResizingKeepsTheTopLeftPixelsAndZeroesTheRest) {
    TBitmap bitmap = MakeRgbBitmap(4, 3, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x + 1), static_cast<std::uint8_t>(y + 1), 7};
    });
    bitmap.SetSize(2, 5);
    EXPECT_EQ(bitmap.RowStride(), 8u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 2; ++x) {
            const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
            const Bytes want =
                y < 3 ? Bytes{7, static_cast<std::uint8_t>(y + 1), static_cast<std::uint8_t>(x + 1)}
                      : Bytes{0, 0, 0};
            EXPECT_EQ((Bytes{p[0], p[1], p[2]}), want);
        }
    EXPECT_EQ(bitmap.ScanLine(0)[6], 0); // padding
    EXPECT_EQ(bitmap.ScanLine(0)[7], 0);

    // Sub-byte pixels beyond a smaller width become zero within their byte.
    TBitmap bits;
    bits.SetPixelFormat(TPixelFormat::pf1bit);
    bits.SetSize(8, 1);
    bits.ScanLine(0)[0] = 0xFF;
    bits.SetWidth(3);
    EXPECT_EQ(bits.ScanLine(0)[0], 0xE0);
    bits.SetWidth(8);
    EXPECT_EQ(bits.ScanLine(0)[0], 0xE0);
}

TEST(Bitmap, CopiesAreDeepAndMovesEmptyTheSource) {
    TBitmap bitmap = MakeRgbBitmap(3, 2, [](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 1};
    });
    bitmap.SetPalette({{1, 2, 3}});
    bitmap.SetTransparent(true);
    int progress = 0;
    bitmap.OnProgress = [&](TBitmap&, TProgressStage, int, bool, const TRect&, const std::string&) {
        ++progress;
    };
    TBitmap copy(bitmap);
    EXPECT_EQ(copy.Width(), 3);
    EXPECT_EQ(copy.Palette(), bitmap.Palette());
    EXPECT_TRUE(copy.Transparent());
    EXPECT_FALSE(static_cast<bool>(copy.OnProgress)); // handlers stay with their owner
    EXPECT_NE(copy.Bits(), bitmap.Bits());
    EXPECT_TRUE(std::equal(copy.Bits(), copy.Bits() + copy.ImageSize(), bitmap.Bits()));
    TBitmap assigned;
    assigned = bitmap;
    EXPECT_TRUE(std::equal(assigned.Bits(), assigned.Bits() + assigned.ImageSize(), bitmap.Bits()));
    const std::uint8_t* storage = bitmap.Bits();
    TBitmap moved(std::move(bitmap));
    EXPECT_EQ(moved.Bits(), storage);
    EXPECT_TRUE(bitmap.Empty()); // NOLINT(bugprone-use-after-move): a moved-from bitmap is empty
    moved.Clear();
    EXPECT_TRUE(moved.Empty());
    EXPECT_EQ(moved.Bits(), nullptr);
    EXPECT_EQ(moved.Palette().size(), 1u);
}

TEST(Bitmap, PaletteKeepsAtMost256Entries) {
    TBitmap bitmap;
    bitmap.SetPalette(std::vector<TPaletteEntry>(300, TPaletteEntry{9, 9, 9}));
    EXPECT_EQ(bitmap.Palette().size(), 256u);
}

TEST(Bitmap, ChangingTheStorageDepthGivesFreshZeroPixels) {
    TBitmap bitmap = MakeRgbBitmap(4, 4, [](int, int) { return Rgb{9, 9, 9}; });
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.RowStride(), 16u);
    EXPECT_TRUE(std::all_of(bitmap.Bits(), bitmap.Bits() + bitmap.ImageSize(),
                            [](std::uint8_t b) { return b == 0; }));
    bitmap.SetPixelFormat(TPixelFormat::pf15bit);
    bitmap.ScanLine(0)[0] = 5;
    bitmap.SetPixelFormat(TPixelFormat::pf16bit); // same storage: pixels stay
    EXPECT_EQ(bitmap.ScanLine(0)[0], 5);
}

TEST(Bitmap, SizesThatCannotBeHadThrowAndLeaveTheBitmapAsItWas) {
    TBitmap bitmap = MakeRgbBitmap(2, 2, [](int, int) { return Rgb{1, 2, 3}; });
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    const std::uint8_t* storage = bitmap.Bits();
    // The byte count overflows.
    try {
        bitmap.SetSize(INT_MAX, INT_MAX);
        FAIL();
    } catch (const EOutOfResources& e) {
        EXPECT_NE(std::string(e.what()).find("2147483647 x 2147483647"), std::string::npos) << e.what();
    }
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Bits(), storage);
    // Many terabytes: refused by the system unless it promises any amount of memory.
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    overcommit >> mode;
    if (mode != 1) {
        EXPECT_THROW(bitmap.SetSize(2000000000, 2000), EOutOfResources);
        EXPECT_EQ(bitmap.Height(), 2);
    }
    // Negative sizes count as zero.
    bitmap.SetSize(-5, 3);
    EXPECT_TRUE(bitmap.Empty());
}

} // namespace
} // namespace korvane
