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

    std::int64_t BytesWritten() const { return FBytesWritten; }
    std::size_t Pending() const { return FPending; }
    bool Stopped() const { return FStopped; }
    void SetStopped(bool value) { FStopped = value; }
    const std::string& ProgressText() const { return FProgressText; }
    void SetProgressText(std::string text) { FProgressText = std::move(text); }

protected:
    // Delivers one percent value; returns a stop request.
    virtual bool DoProgress(int percent);

private:
    std::int32_t FProgressBase = 0;
    std::int32_t FLastReported = 0;
    std::int32_t FStageShare = 0;
    std::int32_t FRemaining = 0;
    std::int32_t FStageUnits = 0;
    std::int32_t FStageMode = 0;
    std::size_t FPending = 0;
    std::int64_t FBytesWritten = 0;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::uint8_t* FPosition = nullptr;
    TStream* FTarget = nullptr;
    bool FStopped = false;
    std::string FProgressText;
};

class TCustomGraphicWriteStream : public TCustomWriteStream {
public:
    // Encodes one bitmap into the target: BeginWrite, WriteImage, FinishWrite (not reached when WriteImage
    // throws).
    void SaveBitmap(const TBitmap& bitmap, TStream& target);
    const TBitmap* SourceBitmap() const { return FSourceBitmap; }

protected:
    // Reports to the source bitmap's progress handler; never asks to stop.
    bool DoProgress(int percent) override;
    virtual void WriteImage() = 0;

private:
    const TBitmap* FSourceBitmap = nullptr;
};

} // namespace korvane
