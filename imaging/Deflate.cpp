#include "imaging/Deflate.h"

#include <algorithm>
#include <limits>
#include <new>

namespace korvane {

DeflateWriter::DeflateWriter() = default;

DeflateWriter::~DeflateWriter() { Release(); }

bool DeflateWriter::Setup(int level, int outputSize, FlushAction flush) {
    Release();
    if (outputSize <= 0 || outputSize >= 262144) outputSize = 32768;
    output_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(outputSize)]);
    if (!output_) return false;
    outputSize_ = static_cast<std::size_t>(outputSize);
    flush_ = std::move(flush);
    if (level < 0 || level > 9) level = Z_DEFAULT_COMPRESSION;
    stream_ = z_stream{}; // zalloc, zfree null: zlib's own allocator
    if (deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        output_.reset();
        outputSize_ = 0;
        return false;
    }
    stream_.next_out = output_.get();
    stream_.avail_out = static_cast<uInt>(outputSize_);
    ready_ = true;
    return true;
}

void DeflateWriter::Emit(std::size_t length) {
    if (length > 0 && flush_) flush_(output_.get(), length);
    stream_.next_out = output_.get();
    stream_.avail_out = static_cast<uInt>(outputSize_);
}

bool DeflateWriter::Write(const std::uint8_t* data, std::size_t length) {
    if (!ready_) return false;
    while (length > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(length, std::numeric_limits<uInt>::max()));
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = chunk;
        while (stream_.avail_in > 0) {
            const int status = deflate(&stream_, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_BUF_ERROR) return false;
            if (stream_.avail_out == 0) Emit(outputSize_);
            else if (status == Z_BUF_ERROR) return false; // no progress although there was room
        }
        data += chunk;
        length -= chunk;
    }
    return true;
}

void DeflateWriter::Finish() {
    if (!ready_) return;
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    for (;;) {
        const int status = deflate(&stream_, Z_FINISH);
        if (stream_.avail_out == 0) Emit(outputSize_);
        if (status == Z_STREAM_END) break;
        if (status != Z_OK && status != Z_BUF_ERROR) break;
        if (status == Z_BUF_ERROR && stream_.avail_out != 0) break;
    }
    // Emit must not run for an empty rest: no IDAT chunk is ever empty.
    const std::size_t rest = outputSize_ - stream_.avail_out;
    if (rest > 0) Emit(rest);
    deflateReset(&stream_);
    stream_.next_out = output_.get();
    stream_.avail_out = static_cast<uInt>(outputSize_);
}

void DeflateWriter::Release() {
    if (ready_) deflateEnd(&stream_);
    ready_ = false;
    output_.reset();
    outputSize_ = 0;
}

} // namespace korvane
