// A picture put into the bitmap on one thread while the file is encoded from it on another: the files come
// out as if done one after the other, a picture that cannot be read leaves its own error and no file, and a
// file that cannot be written stops the picture's decoding early.
#include "capture/CapturePipeline.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <unistd.h>

#include "browser/Engine.h"
#include "imaging/Bitmap.h"
#include "imaging/GraphicErrors.h"
#include "imaging/RowGate.h"
#include "tests/support/ImageFiles.h"

namespace korvane {
namespace {

// 0xRRGGBB of pixel (x, y) of the test picture: every row and column differs.
std::uint32_t Colour(int x, int y) {
    return (static_cast<std::uint32_t>(y * 7 % 256) << 16) | (static_cast<std::uint32_t>(x * 5 % 256) << 8) |
           static_cast<std::uint32_t>((x + y) % 256);
}

// Rows come one by one, as from a decoder; it may fail at a row, and records whether its reader gave up.
class TRowShot : public TPageShot {
public:
    TRowShot(int width, int height, int failAt = -1) : FWidth(width), FHeight(height), FFailAt(failAt) {}
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void DrawInto(const TBitmapRows& rows, TRowGate& gate) const override {
        for (int y = 0; y < FHeight; ++y) {
            if (y == FFailAt)
                throw std::runtime_error("the screenshot is damaged at row " + std::to_string(y));
            std::uint8_t* line = rows.ScanLine(y);
            for (int x = 0; x < FWidth; ++x) {
                const std::uint32_t c = Colour(x, y);
                line[x * 3] = c & 0xFF;
                line[x * 3 + 1] = (c >> 8) & 0xFF;
                line[x * 3 + 2] = (c >> 16) & 0xFF;
            }
            if (OnRow) OnRow(y);
            // Held until the reader has given up (a minute at most).
            for (int i = 0; y == HoldAt && i < 60000 && !gate.Abandoned(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!gate.Publish(y + 1)) {
                StoppedAt = y + 1;
                return;
            }
        }
    }
    mutable std::atomic<int> StoppedAt{-1};
    std::function<void(int)> OnRow; // called with each row before it is published
    int HoldAt = -1;                // this row waits until the reader has given up

private:
    int FWidth, FHeight, FFailAt;
};

struct TFolder : korvane::testing::TempFolder {
    TFolder() : TempFolder("korvane-develop") {}
    std::string File(const std::string& name) const { return Path(name); }
    std::size_t Count() const { return Files().size(); }
};

TEST(DevelopAndWrite, EveryFormatComesOutWholeWhileTheRowsArrive) {
    TFolder folder;
    constexpr int kWidth = 101, kHeight = 700; // rows padded to a multiple of four bytes
    for (auto format : {TSaveFormat::Png, TSaveFormat::Bmp, TSaveFormat::Jpg}) {
        const std::string path = folder.File("page" + std::to_string(static_cast<int>(format)));
        TRowShot shot(kWidth, kHeight);
        TBitmap bitmap;
        DevelopAndWrite(shot, bitmap, format, path);
        EXPECT_EQ(shot.StoppedAt.load(), -1);
        const auto image = testing::DecodeImageFile(path);
        ASSERT_TRUE(image.Ok()) << image.Error;
        ASSERT_EQ(image.Width, kWidth);
        ASSERT_EQ(image.Height, kHeight);
        for (int y = 0; y < kHeight; y += 37) {
            for (int x = 0; x < kWidth; x += 10) {
                if (format == TSaveFormat::Jpg) continue; // lossy: the size and the decoding are the check
                ASSERT_EQ(image.Pixel(x, y), Colour(x, y))
                    << "format " << static_cast<int>(format) << " at " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(folder.Count(), 3u);
}

TEST(DevelopAndWrite, APictureThatCannotBeReadGivesItsOwnErrorAndLeavesTheOldFile) {
    TFolder folder;
    for (auto format : {TSaveFormat::Png, TSaveFormat::Bmp, TSaveFormat::Jpg}) {
        const std::string path = folder.File("page" + std::to_string(static_cast<int>(format)));
        std::ofstream(path) << "old";
        TRowShot shot(64, 400, 250);
        TBitmap bitmap;
        try {
            DevelopAndWrite(shot, bitmap, format, path);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "the screenshot is damaged at row 250");
        }
        EXPECT_EQ(ReadWholeFile(path), "old");
    }
    EXPECT_EQ(folder.Count(), 3u); // no temporary files left
}

TEST(DevelopAndWrite, AFileThatCannotBeMadeStopsTheDecodingEarly) {
    TFolder folder;
    TRowShot shot(64, 20000);
    shot.HoldAt = 10; // the decoding is still under way when the file cannot be made
    TBitmap bitmap;
    EXPECT_ANY_THROW(DevelopAndWrite(shot, bitmap, TSaveFormat::Png, folder.File("no/such/folder/page.png")));
    EXPECT_GE(shot.StoppedAt.load(), 1); // stopped at the first row it finished after the failure
    EXPECT_LE(shot.StoppedAt.load(), 11);
    EXPECT_EQ(folder.Count(), 0u);
}

// A stop while the picture comes in, or once it is all in and only the encoder still works, ends the write
// early: no file, the old one kept, no temporary left.
TEST(DevelopAndWrite, AStopGivesTheFileUpAtAnyRow) {
    TFolder folder;
    for (auto format : {TSaveFormat::Png, TSaveFormat::Bmp, TSaveFormat::Jpg}) {
        for (const int stopAt : {100, 1999}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(format)) + " at " + std::to_string(stopAt));
            const std::string path = folder.File("stopped" + std::to_string(static_cast<int>(format)));
            std::ofstream(path) << "old";
            std::stop_source stop;
            TRowShot shot(300, 2000);
            shot.OnRow = [&](int y) {
                if (y == stopAt) stop.request_stop();
            };
            TBitmap bitmap;
            EXPECT_THROW(DevelopAndWrite(shot, bitmap, format, path, stop.get_token()), EIncompletePicture);
            EXPECT_EQ(ReadWholeFile(path), "old");
            if (stopAt < 1999) {
                EXPECT_LE(shot.StoppedAt.load(), stopAt + 1);
            }
        }
    }
    EXPECT_EQ(folder.Count(), 3u);
}

} // namespace
} // namespace korvane
