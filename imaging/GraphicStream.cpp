#include "imaging/GraphicStream.h"

#include <cstring>

namespace korvane {

TCustomWriteStream::TCustomWriteStream()
    : FBuffer(std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize)) {
    FPosition = FBuffer.get();
}

TCustomWriteStream::~TCustomWriteStream() = default;

void TCustomWriteStream::BeginWrite(TStream& target) {
    FTarget = &target;
    FPosition = FBuffer.get();
    FPending = 0;
    FBytesWritten = 0;
}

void TCustomWriteStream::PutBytes(const void* data, std::size_t count) {
    if (FStopped) return;
    if (count == 0) {
        FStopped = true;
        return;
    }
    if (count >= DirectWriteSize) {
        FlushBuffer();
        FTarget->WriteBuffer(data, count);
        FBytesWritten += static_cast<std::int64_t>(count);
        return;
    }
    if (FPending + count >= BufferSize) FlushBuffer();
    std::memcpy(FPosition, data, count);
    FPosition += count;
    FPending += count;
}

void TCustomWriteStream::PutUInt32BE(std::uint32_t value) {
    if (FStopped) return;
    if (FPending + 4 >= BufferSize) FlushBuffer();
    FPosition[0] = static_cast<std::uint8_t>(value >> 24);
    FPosition[1] = static_cast<std::uint8_t>(value >> 16);
    FPosition[2] = static_cast<std::uint8_t>(value >> 8);
    FPosition[3] = static_cast<std::uint8_t>(value);
    FPosition += 4;
    FPending += 4;
}

void TCustomWriteStream::FlushBuffer() {
    if (FPending == 0) return;
    // A failing target throws here; what is pending stays unwritten.
    FTarget->WriteBuffer(FBuffer.get(), FPending);
    FBytesWritten += static_cast<std::int64_t>(FPending);
    FPending = 0;
    FPosition = FBuffer.get();
}

void TCustomWriteStream::FinishWrite() {
    if (FPending != 0) FlushBuffer();
}

void TCustomWriteStream::BeginProgress() {
    FProgressBase = 0;
    FLastReported = 0;
    FStageShare = 0;
    FRemaining = 99;
    FStopped = false;
    FStopped = DoProgress(0);
}

void TCustomWriteStream::BeginStage(int units, int percent) {
    FProgressBase += FStageShare;
    FLastReported = FProgressBase;
    FRemaining -= FStageShare;
    FStageUnits = units == 0 ? 1 : units;
    FStageMode = 1;
    FStageShare = (percent >= 1 && percent <= 99) ? FRemaining * percent / 100 : FRemaining;
}

void TCustomWriteStream::StepProgress(int done) {
    // The product is taken in 64 bits so that tall images cannot overflow it; the quotient fits in 32.
    const auto value = static_cast<std::int32_t>(FProgressBase +
                                                 static_cast<std::int64_t>(done) * FStageShare / FStageUnits);
    if (value > FLastReported) {
        FLastReported = value;
        FStopped = DoProgress(value);
    }
}

void TCustomWriteStream::EndProgress() {
    FStopped = DoProgress(100);
}

bool TCustomWriteStream::DoProgress(int) {
    return false;
}

void TCustomGraphicWriteStream::SaveBitmap(const TBitmap& bitmap, TStream& target) {
    BeginWrite(target);
    FSourceBitmap = &bitmap;
    WriteImage();
    FinishWrite();
}

bool TCustomGraphicWriteStream::DoProgress(int percent) {
    if (FSourceBitmap == nullptr || !FSourceBitmap->OnProgress) return false;
    TProgressStage stage = TProgressStage::psEnding;
    if (percent == 0) {
        stage = TProgressStage::psStarting;
    } else if (percent >= 1 && percent <= 99) {
        stage = TProgressStage::psRunning;
    } else {
        percent = 100;
    }
    // The handler receives the bitmap it is attached to; the encoder only reads the pixels.
    auto& sender = const_cast<TBitmap&>(*FSourceBitmap);
    sender.OnProgress(sender, stage, percent, false, TRect{}, ProgressText());
    return false;
}

} // namespace korvane
