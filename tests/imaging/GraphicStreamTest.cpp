// The buffered write stream: buffer and bypass rules, big-endian writes, progress arithmetic and delivery.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "imaging/GraphicStream.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

// Records the size of every write it receives.
class RecordingStream : public TMemoryStream {
public:
    void WriteBuffer(const void* data, std::size_t count) override {
        writes.push_back(count);
        TMemoryStream::WriteBuffer(data, count);
    }
    std::vector<std::size_t> writes;
};

// A stream that fails every write.
class FailingStream : public TStream {
public:
    void WriteBuffer(const void*, std::size_t) override { throw EWriteError(); }
};

// Reports the progress values it delivers.
class ProgressStream : public TCustomWriteStream {
public:
    std::vector<int> reported;

protected:
    bool DoProgress(int percent) override {
        reported.push_back(percent);
        return false;
    }
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return v;
}

TEST(GraphicStream, SmallWritesStayBufferedUntilTheBufferWouldFill) {
    TCustomWriteStream stream;
    RecordingStream target;
    stream.BeginWrite(target);
    const auto a = Pattern(17);
    stream.PutBytes(a.data(), a.size());
    EXPECT_TRUE(target.writes.empty());
    EXPECT_EQ(stream.Pending(), 17u);
    // 17 + 65,519 reaches 65,536: the 17 bytes go first, the 65,519 are buffered.
    const auto b = Pattern(65519);
    stream.PutBytes(b.data(), b.size());
    ASSERT_EQ(target.writes, (std::vector<std::size_t>{17}));
    EXPECT_EQ(stream.Pending(), 65519u);
    EXPECT_EQ(stream.BytesWritten(), 17);
    stream.FinishWrite();
    EXPECT_EQ(target.writes, (std::vector<std::size_t>{17, 65519}));
    EXPECT_EQ(stream.Pending(), 0u);
    EXPECT_EQ(stream.BytesWritten(), static_cast<std::int64_t>(target.Size()));
    std::vector<std::uint8_t> expected(a);
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(target.Bytes(), expected);
}

TEST(GraphicStream, LargeBlocksBypassTheBufferAfterAFlush) {
    TCustomWriteStream stream;
    RecordingStream target;
    stream.BeginWrite(target);
    const auto a = Pattern(5);
    const auto big = Pattern(65520);
    stream.PutBytes(a.data(), a.size());
    stream.PutBytes(big.data(), big.size());
    EXPECT_EQ(target.writes, (std::vector<std::size_t>{5, 65520}));
    EXPECT_EQ(stream.Pending(), 0u);
    EXPECT_EQ(stream.BytesWritten(), 65525);
    // 65,519 bytes into an empty buffer are copied, not written.
    const auto below = Pattern(65519);
    stream.PutBytes(below.data(), below.size());
    EXPECT_EQ(target.writes.size(), 2u);
    stream.FinishWrite();
    EXPECT_EQ(stream.BytesWritten(), static_cast<std::int64_t>(target.Size()));
}

TEST(GraphicStream, BigEndianWordsFlushWhenTheyWouldReachTheBufferEnd) {
    TCustomWriteStream stream;
    RecordingStream target;
    stream.BeginWrite(target);
    stream.PutUInt32BE(0x89504E47u);
    stream.FinishWrite();
    EXPECT_EQ(target.Bytes(), (std::vector<std::uint8_t>{0x89, 0x50, 0x4E, 0x47}));

    target.writes.clear();
    stream.BeginWrite(target);
    const auto fill = Pattern(65532);
    stream.PutBytes(fill.data(), 32766);
    stream.PutBytes(fill.data(), 32766);
    ASSERT_EQ(stream.Pending(), 65532u);
    stream.PutUInt32BE(1);
    EXPECT_EQ(target.writes, (std::vector<std::size_t>{65532}));
    EXPECT_EQ(stream.Pending(), 4u);
    // 65,531 pending: the word still fits below 65,536.
    stream.BeginWrite(target);
    target.writes.clear();
    stream.PutBytes(fill.data(), 32766);
    stream.PutBytes(fill.data(), 32765);
    stream.PutUInt32BE(1);
    EXPECT_TRUE(target.writes.empty());
    EXPECT_EQ(stream.Pending(), 65535u);
}

TEST(GraphicStream, ZeroLengthWriteStopsAndLaterWritesAreDropped) {
    TCustomWriteStream stream;
    RecordingStream target;
    stream.BeginWrite(target);
    const auto a = Pattern(3);
    stream.PutBytes(a.data(), 0);
    EXPECT_TRUE(stream.Stopped());
    stream.PutBytes(a.data(), 3);
    stream.PutUInt32BE(7);
    stream.FinishWrite();
    EXPECT_EQ(target.Size(), 0u);
}

TEST(GraphicStream, TargetFailurePassesThroughAndPendingBytesAreLost) {
    TCustomWriteStream stream;
    FailingStream target;
    stream.BeginWrite(target);
    const auto a = Pattern(100);
    stream.PutBytes(a.data(), a.size());
    try {
        stream.FinishWrite();
        FAIL() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Error writing to the stream");
    }
    EXPECT_EQ(stream.BytesWritten(), 0);
}

TEST(GraphicStream, MemoryStreamCollectsEveryWrite) {
    TMemoryStream memory;
    memory.WriteBuffer("ab", 2);
    memory.WriteBuffer("cde", 3);
    EXPECT_EQ(std::string(memory.Bytes().begin(), memory.Bytes().end()), "abcde");
    EXPECT_EQ(memory.WriteCount(), 2u);
}

TEST(GraphicStreamProgress, StagesShareTheRemainingPercentAndOnlyGrow) {
    ProgressStream stream;
    stream.BeginProgress();
    EXPECT_EQ(stream.reported, (std::vector<int>{0}));
    stream.BeginStage(10, 30); // share 99 x 30 / 100 = 29
    stream.StepProgress(5);    // 14
    stream.StepProgress(5);    // same value: not reported again
    stream.StepProgress(10);   // 29
    stream.BeginStage(7, 0);   // the remaining 70 points
    stream.StepProgress(1);    // 29 + 70 / 7 = 39
    stream.StepProgress(7);    // 99
    stream.EndProgress();
    EXPECT_EQ(stream.reported, (std::vector<int>{0, 14, 29, 39, 99, 100}));
}

TEST(GraphicStreamProgress, ZeroUnitsCountAsOneAndValuesAtOrBelowTheLastAreSkipped) {
    ProgressStream stream;
    stream.BeginProgress();
    stream.BeginStage(0, 50); // share 49 over one unit
    stream.StepProgress(0);   // 0: not above the last value
    stream.StepProgress(1);   // 49
    stream.StepProgress(1);
    EXPECT_EQ(stream.reported, (std::vector<int>{0, 49}));
    // A percent of 100 or more gives the stage all that is left.
    stream.BeginStage(2, 150);
    stream.StepProgress(2);
    EXPECT_EQ(stream.reported.back(), 99);
}

class NullGraphicStream : public TCustomGraphicWriteStream {
public:
    std::function<void(NullGraphicStream&)> body;
    void Expose(int percent) { DoProgress(percent); }

protected:
    void WriteImage() override { body(*this); }
};

TEST(GraphicStreamProgress, BitmapHandlerGetsStagesSenderAndAnEmptyRectangle) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    struct Call {
        TProgressStage stage;
        int percent;
        bool redraw;
        TRect rect;
        const TBitmap* sender;
    };
    std::vector<Call> calls;
    bitmap.OnProgress = [&](TBitmap& sender, TProgressStage stage, int percent, bool redraw,
                            const TRect& rect, const std::string& message) {
        calls.push_back({stage, percent, redraw, rect, &sender});
        EXPECT_TRUE(message.empty());
    };
    NullGraphicStream stream;
    TMemoryStream target;
    stream.body = [](NullGraphicStream& s) {
        s.BeginProgress();
        s.BeginStage(4, 0);
        s.StepProgress(2);
        const std::uint8_t byte = 1;
        s.PutBytes(&byte, 1);
        s.Expose(150); // anything above 99 is delivered as the end, at 100
        s.EndProgress();
    };
    stream.SaveBitmap(bitmap, target);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].stage, TProgressStage::psStarting);
    EXPECT_EQ(calls[0].percent, 0);
    EXPECT_EQ(calls[1].stage, TProgressStage::psRunning);
    EXPECT_EQ(calls[1].percent, 49);
    EXPECT_EQ(calls[2].stage, TProgressStage::psEnding);
    EXPECT_EQ(calls[2].percent, 100);
    EXPECT_EQ(calls[3].percent, 100);
    for (const auto& c : calls) {
        EXPECT_FALSE(c.redraw);
        EXPECT_EQ(c.rect, TRect{});
        EXPECT_EQ(c.sender, &bitmap);
    }
    EXPECT_FALSE(stream.Stopped()); // a handler can never stop the encoder
    EXPECT_EQ(target.Size(), 1u);   // FinishWrite ran
}

TEST(GraphicStreamProgress, WithoutHandlerTheSaveRunsToTheEndAndAThrowSkipsTheFlush) {
    TBitmap bitmap;
    NullGraphicStream stream;
    TMemoryStream target;
    stream.body = [](NullGraphicStream& s) {
        s.BeginProgress();
        const std::uint8_t bytes[3] = {1, 2, 3};
        s.PutBytes(bytes, 3);
        s.EndProgress();
    };
    stream.SaveBitmap(bitmap, target);
    EXPECT_EQ(target.Size(), 3u);
    EXPECT_EQ(stream.SourceBitmap(), &bitmap);

    TMemoryStream second;
    stream.body = [](NullGraphicStream& s) {
        const std::uint8_t bytes[3] = {1, 2, 3};
        s.PutBytes(bytes, 3);
        throw EWriteError();
    };
    EXPECT_THROW(stream.SaveBitmap(bitmap, second), EWriteError);
    EXPECT_EQ(second.Size(), 0u);
}

} // namespace
} // namespace korvane
