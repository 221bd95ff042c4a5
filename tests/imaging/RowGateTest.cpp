// Rows filled by one thread while another encodes them: the reader never sees a row before it is done, an
// unfinished picture is refused by every encoder without a file, and the pixels outlive their filler.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ImagingTestSupport.h"
#include "imaging/Bitmap.h"
#include "imaging/GraphicErrors.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"
#include "imaging/RowGate.h"

namespace korvane {
namespace {

using namespace korvane::test;

// The colour row y is filled with: never 0, so a row read before it was written shows.
std::uint8_t RowValue(int y) {
    return static_cast<std::uint8_t>(y % 251 + 1);
}

// Fills rows [0, upTo) of the bitmap's memory with RowValue on a thread of its own (how it meets the reader
// is for the thread sanitizer to look at); stops when the reader gives up. Closes the gate in any case.
std::thread StartFiller(TBitmap& bitmap, TRowGate& gate, int upTo, std::atomic<bool>* closed = nullptr) {
    return std::thread([rows = bitmap.Rows(), &gate, upTo, closed] {
        for (int y = 0; y < upTo; ++y) {
            std::memset(rows.ScanLine(y), RowValue(y), static_cast<std::size_t>(rows.Width) * 3);
            if (!gate.Publish(y + 1)) break;
        }
        if (closed) closed->store(true);
        gate.Close();
    });
}

TBitmap Blank(int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    return bitmap;
}

TEST(RowGate, EncodersReadEachRowOnlyOnceItIsDone) {
    constexpr int kWidth = 40, kHeight = 300;
    TempFolder folder;
    for (const char* format : {"png", "jpg", "bmp", "copy"}) {
        SCOPED_TRACE(format);
        TRowGate gate(kHeight); // outlives the bitmap that holds it
        TBitmap bitmap = Blank(kWidth, kHeight);
        std::thread filler = StartFiller(bitmap, gate, kHeight);
        bitmap.SetRowGate(&gate);
        const std::string path = folder.Path(std::string("rows.") + format);
        TBitmap copy;
        if (std::string(format) == "png") {
            TPngGraphic png;
            png.TakeBitmap(std::move(bitmap)); // the gate goes along with the pixels
            png.WriteToFile(path);
        } else if (std::string(format) == "jpg") {
            TJPEGImage jpeg;
            jpeg.TakeBitmap(std::move(bitmap));
            jpeg.SaveToFile(path);
        } else if (std::string(format) == "bmp") {
            bitmap.SaveToFile(path);
        } else {
            copy = bitmap; // a copy waits for the whole picture
        }
        filler.join();
        if (std::string(format) == "copy") {
            for (int y = 0; y < kHeight; ++y)
                ASSERT_EQ(copy.ScanLine(y)[kWidth * 3 - 1], RowValue(y)) << "row " << y;
            continue;
        }
        if (std::string(format) == "png") {
            const Decoded decoded = DecodePng(ReadBytes(path));
            ASSERT_TRUE(decoded.error.empty()) << decoded.error;
            for (std::uint32_t y = 0; y < decoded.height; ++y)
                ASSERT_EQ(decoded.rgba[(y * kWidth + kWidth - 1) * 4], RowValue(static_cast<int>(y)))
                    << "row " << y;
        } else if (std::string(format) == "bmp") {
            const Bytes bmp = ReadBytes(path);
            const std::size_t stride = (kWidth * 3 + 3) & ~3u;
            ASSERT_EQ(bmp.size(), 54 + stride * kHeight);
            for (int y = 0; y < kHeight; ++y) // bottom-up
                ASSERT_EQ(bmp[54 + stride * static_cast<std::size_t>(kHeight - 1 - y)], RowValue(y))
                    << "row " << y;
        } else {
            EXPECT_GT(ReadBytes(path).size(), 100u);
        }
    }
}

TEST(RowGate, APictureWhoseFillerStoppedEarlyIsWrittenByNoEncoder) {
    constexpr int kWidth = 16, kHeight = 100;
    TempFolder folder;
    for (const char* format : {"png", "jpg", "bmp"}) {
        SCOPED_TRACE(format);
        const std::string path = folder.Path(std::string("old.") + format);
        WriteBytes(path, Bytes{'o', 'l', 'd'});
        TRowGate gate(kHeight); // outlives the bitmap that holds it
        TBitmap bitmap = Blank(kWidth, kHeight);
        std::thread filler = StartFiller(bitmap, gate, 60); // the drawing fails after 60 rows
        bitmap.SetRowGate(&gate);
        EXPECT_TRUE(gate.WaitFor(59));
        EXPECT_FALSE(gate.WaitFor(60));
        EXPECT_EQ(bitmap.ReadyScanLine(60), nullptr);
        if (std::string(format) == "png") {
            TPngGraphic png;
            png.TakeBitmap(std::move(bitmap));
            EXPECT_THROW(png.WriteToFile(path), EIncompletePicture);
        } else if (std::string(format) == "jpg") {
            TJPEGImage jpeg;
            jpeg.TakeBitmap(std::move(bitmap));
            EXPECT_THROW(jpeg.SaveToFile(path), EIncompletePicture);
        } else {
            EXPECT_THROW(bitmap.SaveToFile(path), EIncompletePicture);
            EXPECT_THROW(TBitmap{bitmap}, EIncompletePicture);
        }
        filler.join();
        EXPECT_EQ(ReadBytes(path), (Bytes{'o', 'l', 'd'})); // the old file stays, nothing half-written
        for (const std::string& name : folder.Files())
            EXPECT_EQ(name.rfind("old.", 0), 0u) << name;
    }
}

TEST(RowGate, PixelsAreFreedOnlyAfterTheFillerHasStopped) {
    // The bitmap goes away (an encoder failed, say) while its rows are still being filled: freeing waits
    // until the filler has seen that nobody reads any more and has stopped, so it never writes into freed
    // memory.
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> closed{false};
        TRowGate gate(5000);
        std::thread filler;
        {
            TBitmap bitmap = Blank(64, 5000);
            filler = StartFiller(bitmap, gate, 5000, &closed);
            bitmap.SetRowGate(&gate);
            ASSERT_TRUE(bitmap.ReadyScanLine(20 * round) != nullptr);
            TBitmap moved = std::move(bitmap); // the gate moves with the pixels
            EXPECT_EQ(bitmap.RowGate(), nullptr);
            EXPECT_EQ(moved.RowGate(), &gate);
        }
        EXPECT_TRUE(closed.load()); // the filler had stopped before the pixels went
        EXPECT_TRUE(gate.Abandoned());
        filler.join();
    }
}

} // namespace
} // namespace korvane
