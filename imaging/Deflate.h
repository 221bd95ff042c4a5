#pragma once
// The compressor of the PNG encoder: one zlib stream whose output collects in a buffer of the IDAT size and
// is handed on (as one IDAT chunk) each time the buffer is full, and once more with the rest at the end.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include <zlib.h>

namespace korvane {

class DeflateWriter {
public:
    // Receives the filled part of the output buffer.
    using FlushAction = std::function<void(const std::uint8_t* data, std::size_t length)>;

    DeflateWriter();
    ~DeflateWriter();
    DeflateWriter(const DeflateWriter&) = delete;
    DeflateWriter& operator=(const DeflateWriter&) = delete;

    // Releases what an earlier set-up left, then allocates the output buffer (a size of 0 or less, or of
    // 262,144 or more, becomes 32,768) and starts a zlib stream: the level (outside 0 to 9: zlib's default),
    // window bits 15, memory level 8, default strategy. Returns false when the buffer or stream cannot be
    // had.
    bool Setup(int level, int outputSize, FlushAction flush);
    // Compresses without flushing; false on any zlib error, or when the writer is not set up.
    bool Write(const std::uint8_t* data, std::size_t length);
    // Finishes the stream, hands on every full buffer and then the rest if any, and resets the stream for
    // another use. zlib errors here are not reported.
    void Finish();
    // Ends the zlib stream and frees the buffer.
    void Release();

    bool Ready() const { return FReady; }
    std::size_t OutputSize() const { return FOutputSize; }

private:
    void Emit(std::size_t length);

    z_stream FStream{};
    bool FReady = false;
    std::unique_ptr<std::uint8_t[]> FOutput;
    std::size_t FOutputSize = 0;
    FlushAction FFlush;
};

} // namespace korvane
