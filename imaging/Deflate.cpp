#include "imaging/Deflate.h"

#include <algorithm>
#include <limits>
#include <new>

namespace korvane {

DeflateWriter::DeflateWriter() = default;

DeflateWriter::~DeflateWriter() {
    Release();
}

bool DeflateWriter::Setup(int level, int outputSize, FlushAction flush) {
    Release();
    if (outputSize <= 0 || outputSize >= 262144) outputSize = 32768;
    FOutput.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(outputSize)]);
    if (!FOutput) return false;
    FOutputSize = static_cast<std::size_t>(outputSize);
    FFlush = std::move(flush);
    if (level < 0 || level > 9) level = Z_DEFAULT_COMPRESSION;
    FStream = z_stream{}; // zalloc, zfree null: zlib's own allocator
    if (deflateInit2(&FStream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        FOutput.reset();
        FOutputSize = 0;
        return false;
    }
    FStream.next_out = FOutput.get();
    FStream.avail_out = static_cast<uInt>(FOutputSize);
    FReady = true;
    return true;
}

void DeflateWriter::Emit(std::size_t length) {
    if (length > 0 && FFlush) FFlush(FOutput.get(), length);
    FStream.next_out = FOutput.get();
    FStream.avail_out = static_cast<uInt>(FOutputSize);
}

bool DeflateWriter::Write(const std::uint8_t* data, std::size_t length) {
    if (!FReady) return false;
    while (length > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(length, std::numeric_limits<uInt>::max()));
        FStream.next_in = const_cast<Bytef*>(data);
        FStream.avail_in = chunk;
        while (FStream.avail_in > 0) {
            const int status = deflate(&FStream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_BUF_ERROR) return false;
            if (FStream.avail_out == 0)
                Emit(FOutputSize);
            else if (status == Z_BUF_ERROR)
                return false; // no progress although there was room
        }
        data += chunk;
        length -= chunk;
    }
    return true;
}

void DeflateWriter::Finish() {
    if (!FReady) return;
    FStream.next_in = nullptr;
    FStream.avail_in = 0;
    for (;;) {
        const int status = deflate(&FStream, Z_FINISH);
        if (FStream.avail_out == 0) Emit(FOutputSize);
        if (status == Z_STREAM_END) break;
        if (status != Z_OK && status != Z_BUF_ERROR) break;
        if (status == Z_BUF_ERROR && FStream.avail_out != 0) break;
    }
    // Emit must not run for an empty rest: no IDAT chunk is ever empty.
    const std::size_t rest = FOutputSize - FStream.avail_out;
    if (rest > 0) Emit(rest);
    deflateReset(&FStream);
    FStream.next_out = FOutput.get();
    FStream.avail_out = static_cast<uInt>(FOutputSize);
}

void DeflateWriter::Release() {
    if (FReady) deflateEnd(&FStream);
    FReady = false;
    FOutput.reset();
    FOutputSize = 0;
}

} // namespace korvane
