#pragma once
// The buffered write stream under every encoder: a 64 KiB buffer in front of a target stream, raw and
// big-endian writes, staged progress that only ever grows, and a stop flag; and the layer that binds the
// source bitmap and runs a format's writer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Streams.h"

namespace korvane {

class TCustomWriteStream {
public:
    static constexpr std::size_t BufferSize = 65536;
    // Blocks of this many bytes or more go to the target directly (after a flush) instead of being copied.
    static constexpr std::size_t DirectWriteSize = 65520;

    TCustomWriteStream();
    virtual ~TCustomWriteStream();
    TCustomWriteStream(const TCustomWriteStream&) = delete;
    TCustomWriteStream& operator=(const TCustomWriteStream&) = delete;

    void BeginWrite(TStream& target);
    // A zero count sets Stopped and writes nothing; while Stopped every write is dropped.
    void PutBytes(const void* data, std::size_t count);
    void PutUInt32BE(std::uint32_t value);
    void FlushBuffer();
    void FinishWrite();

    void BeginProgress();
    void BeginStage(int units, int percent);
    void StepProgress(int done);
    void EndProgress();

    std::int64_t BytesWritten() const { return bytesWritten_; }
    std::size_t Pending() const { return pending_; }
    bool Stopped() const { return stopped_; }
    void SetStopped(bool value) { stopped_ = value; }
    const std::string& ProgressText() const { return progressText_; }
    void SetProgressText(std::string text) { progressText_ = std::move(text); }

protected:
    // Delivers one percent value; returns a stop request.
    virtual bool DoProgress(int percent);

private:
    std::int32_t progressBase_ = 0;
    std::int32_t lastReported_ = 0;
    std::int32_t stageShare_ = 0;
    std::int32_t remaining_ = 0;
    std::int32_t stageUnits_ = 0;
    std::int32_t stageMode_ = 0;
    std::size_t pending_ = 0;
    std::int64_t bytesWritten_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint8_t* position_ = nullptr;
    TStream* target_ = nullptr;
    bool stopped_ = false;
    std::string progressText_;
};

class TCustomGraphicWriteStream : public TCustomWriteStream {
public:
    // Encodes one bitmap into the target: BeginWrite, WriteImage, FinishWrite (not reached when WriteImage
    // throws).
    void SaveBitmap(const TBitmap& bitmap, TStream& target);
    const TBitmap* SourceBitmap() const { return sourceBitmap_; }

protected:
    // Reports to the source bitmap's progress handler; never asks to stop.
    bool DoProgress(int percent) override;
    virtual void WriteImage() = 0;

private:
    const TBitmap* sourceBitmap_ = nullptr;
};

} // namespace korvane
