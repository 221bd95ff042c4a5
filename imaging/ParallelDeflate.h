#pragma once
// The PNG encoder's compressor on several cores: one zlib stream made of bands that are deflated at once.
// The input is cut into bands; each band is deflated on a worker as raw deflate primed with the last 32 KiB
// of the band before it (so matches reach across the cut, as in one stream) and ended with a full flush on a
// byte boundary, the last one with the final block. The bands' output, in order, after the zlib header and
// before one Adler-32 of all the input, is one valid zlib stream. It is handed on in pieces of the output
// size, as DeflateWriter hands on its buffer, always from the thread that writes.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

class ParallelDeflateWriter {
public:
    using FlushAction = std::function<void(const std::uint8_t* data, std::size_t length)>;

    // Input bytes a band: large enough that the priming and the flush cost little (well under 1 % of the
    // size), small enough that a page of a few megabytes still spreads over the cores.
    static constexpr std::size_t kBandBytes = 256 * 1024;

    ParallelDeflateWriter();
    ~ParallelDeflateWriter();
    ParallelDeflateWriter(const ParallelDeflateWriter&) = delete;
    ParallelDeflateWriter& operator=(const ParallelDeflateWriter&) = delete;

    // As DeflateWriter::Setup, with `threads` workers (at least 2; fewer make no sense here). The level's
    // zlib header is the one zlib writes for it.
    bool Setup(int level, int outputSize, FlushAction flush, int threads);
    // Takes the bytes in; a full band goes to the workers. Bands that are done are handed on, in order.
    // False once a band failed to compress.
    bool Write(const std::uint8_t* data, std::size_t length);
    // Compresses the rest as the last band, waits for every band, hands on the rest of the stream and its
    // Adler-32. The writer is then free for another stream.
    void Finish();

    // The two bytes zlib begins a stream of this level with (window of 32 KiB).
    static void ZlibHeader(int level, std::uint8_t header[2]);

private:
    struct Band;
    void Submit(bool last);
    void Work();
    bool HandOnDone(bool wait);
    void Put(const std::uint8_t* data, std::size_t length);
    void Stop();

    int FLevel = -1;
    std::size_t FOutputSize = 32768;
    FlushAction FFlush;
    bool FReady = false;
    bool FFailed = false;
    std::vector<std::uint8_t> FInput;      // the band being filled
    std::vector<std::uint8_t> FDictionary; // the last 32 KiB of the input before it
    std::vector<std::uint8_t> FOutput;     // output not yet handed on (less than the output size)
    std::uint32_t FAdler = 1;
    bool FHeaderSent = false;
    std::size_t FMaxInFlight = 4;

    std::mutex FMutex;
    std::condition_variable FWork, FDone;
    std::deque<std::shared_ptr<Band>> FQueue;    // waiting for a worker
    std::deque<std::shared_ptr<Band>> FInFlight; // every band not yet handed on, in order
    bool FQuit = false;
    std::vector<std::thread> FWorkers;
};

} // namespace korvane
