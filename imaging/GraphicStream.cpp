#include "imaging/GraphicStream.h"

#include <cstring>

namespace korvane {

TCustomWriteStream::TCustomWriteStream() : buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize)) {
    position_ = buffer_.get();
}

TCustomWriteStream::~TCustomWriteStream() = default;

void TCustomWriteStream::BeginWrite(TStream& target) {
    target_ = &target;
    position_ = buffer_.get();
    pending_ = 0;
    bytesWritten_ = 0;
}

void TCustomWriteStream::PutBytes(const void* data, std::size_t count) {
    if (stopped_) return;
    if (count == 0) {
        stopped_ = true;
        return;
    }
    if (count >= DirectWriteSize) {
        FlushBuffer();
        target_->WriteBuffer(data, count);
        bytesWritten_ += static_cast<std::int64_t>(count);
        return;
    }
    if (pending_ + count >= BufferSize) FlushBuffer();
    std::memcpy(position_, data, count);
    position_ += count;
    pending_ += count;
}

void TCustomWriteStream::PutUInt32BE(std::uint32_t value) {
    if (stopped_) return;
    if (pending_ + 4 >= BufferSize) FlushBuffer();
    position_[0] = static_cast<std::uint8_t>(value >> 24);
    position_[1] = static_cast<std::uint8_t>(value >> 16);
    position_[2] = static_cast<std::uint8_t>(value >> 8);
    position_[3] = static_cast<std::uint8_t>(value);
    position_ += 4;
    pending_ += 4;
}

void TCustomWriteStream::FlushBuffer() {
    if (pending_ == 0) return;
    // A failing target throws here; what is pending stays unwritten.
    target_->WriteBuffer(buffer_.get(), pending_);
    bytesWritten_ += static_cast<std::int64_t>(pending_);
    pending_ = 0;
    position_ = buffer_.get();
}

void TCustomWriteStream::FinishWrite() {
    if (pending_ != 0) FlushBuffer();
}

void TCustomWriteStream::BeginProgress() {
    progressBase_ = 0;
    lastReported_ = 0;
    stageShare_ = 0;
    remaining_ = 99;
    stopped_ = false;
    stopped_ = DoProgress(0);
}

void TCustomWriteStream::BeginStage(int units, int percent) {
    progressBase_ += stageShare_;
    lastReported_ = progressBase_;
    remaining_ -= stageShare_;
    stageUnits_ = units == 0 ? 1 : units;
    stageMode_ = 1;
    stageShare_ = (percent >= 1 && percent <= 99) ? remaining_ * percent / 100 : remaining_;
}

void TCustomWriteStream::StepProgress(int done) {
    // The product is taken in 64 bits so that tall images cannot overflow it; the quotient fits in 32.
    const auto value = static_cast<std::int32_t>(
        progressBase_ + static_cast<std::int64_t>(done) * stageShare_ / stageUnits_);
    if (value > lastReported_) {
        lastReported_ = value;
        stopped_ = DoProgress(value);
    }
}

void TCustomWriteStream::EndProgress() { stopped_ = DoProgress(100); }

bool TCustomWriteStream::DoProgress(int) { return false; }

void TCustomGraphicWriteStream::SaveBitmap(const TBitmap& bitmap, TStream& target) {
    BeginWrite(target);
    sourceBitmap_ = &bitmap;
    WriteImage();
    FinishWrite();
}

bool TCustomGraphicWriteStream::DoProgress(int percent) {
    if (sourceBitmap_ == nullptr || !sourceBitmap_->OnProgress) return false;
    TProgressStage stage = TProgressStage::psEnding;
    if (percent == 0) {
        stage = TProgressStage::psStarting;
    } else if (percent >= 1 && percent <= 99) {
        stage = TProgressStage::psRunning;
    } else {
        percent = 100;
    }
    // The handler receives the bitmap it is attached to; the encoder only reads the pixels.
    auto& sender = const_cast<TBitmap&>(*sourceBitmap_);
    sender.OnProgress(sender, stage, percent, false, TRect{}, ProgressText());
    return false;
}

} // namespace korvane
