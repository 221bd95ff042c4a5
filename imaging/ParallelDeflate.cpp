#include "imaging/ParallelDeflate.h"

#include <algorithm>
#include <limits>

#include <zlib.h>

namespace korvane {

namespace {
constexpr std::size_t kWindow = 32768; // what a deflate match can reach back
} // namespace

struct ParallelDeflateWriter::Band {
    std::vector<std::uint8_t> input, dictionary, output;
    bool last = false;
    bool done = false;
    bool ok = false;
    std::uint32_t adler = 1; // of the input alone
    std::size_t length = 0;  // of the input
};

ParallelDeflateWriter::ParallelDeflateWriter() = default;

ParallelDeflateWriter::~ParallelDeflateWriter() {
    Stop();
}

void ParallelDeflateWriter::ZlibHeader(int level, std::uint8_t header[2]) {
    if (level < 0 || level > 9) level = 6; // zlib's default level
    const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    unsigned word = (Z_DEFLATED + ((15 - 8) << 4)) << 8 | flags << 6;
    word += 31 - word % 31;
    header[0] = static_cast<std::uint8_t>(word >> 8);
    header[1] = static_cast<std::uint8_t>(word);
}

bool ParallelDeflateWriter::Setup(int level, int outputSize, FlushAction flush, int threads) {
    Stop();
    if (outputSize <= 0 || outputSize >= 262144) outputSize = 32768;
    FLevel = (level < 0 || level > 9) ? Z_DEFAULT_COMPRESSION : level;
    FOutputSize = static_cast<std::size_t>(outputSize);
    FFlush = std::move(flush);
    FFailed = false;
    FAdler = 1;
    FInput.clear();
    FInput.reserve(kBandBytes);
    FDictionary.clear();
    FOutput.clear();
    FOutput.reserve(FOutputSize);
    FHeaderSent = false;
    threads = std::max(threads, 2);
    FMaxInFlight = static_cast<std::size_t>(threads) * 2 + 1;
    FQuit = false;
    try {
        for (int i = 0; i < threads; ++i)
            FWorkers.emplace_back([this] { Work(); });
    } catch (...) {
        Stop();
        return false;
    }
    FReady = true;
    return true;
}

void ParallelDeflateWriter::Stop() {
    {
        const std::lock_guard lock(FMutex);
        FQuit = true;
        FQueue.clear();
    }
    FWork.notify_all();
    for (auto& worker : FWorkers)
        worker.join();
    FWorkers.clear();
    FInFlight.clear();
    FReady = false;
}

void ParallelDeflateWriter::Work() {
    for (;;) {
        std::shared_ptr<Band> band;
        {
            std::unique_lock lock(FMutex);
            FWork.wait(lock, [this] { return FQuit || !FQueue.empty(); });
            if (FQuit) return;
            band = std::move(FQueue.front());
            FQueue.pop_front();
        }
        bool ok = false;
        try {
            z_stream s{};
            if (deflateInit2(&s, FLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK) {
                ok = band->dictionary.empty() ||
                     deflateSetDictionary(&s, band->dictionary.data(),
                                          static_cast<uInt>(band->dictionary.size())) == Z_OK;
                // The bound is for a finished stream; a full flush adds an empty stored block.
                band->output.resize(deflateBound(&s, static_cast<uLong>(band->input.size())) + 64);
                s.next_in = band->input.data();
                s.avail_in = static_cast<uInt>(band->input.size());
                std::size_t produced = 0;
                const int mode = band->last ? Z_FINISH : Z_FULL_FLUSH;
                while (ok) {
                    s.next_out = band->output.data() + produced;
                    s.avail_out = static_cast<uInt>(band->output.size() - produced);
                    const int status = deflate(&s, mode);
                    produced = band->output.size() - s.avail_out;
                    if (status == Z_STREAM_END || (mode == Z_FULL_FLUSH && status == Z_OK && s.avail_out > 0))
                        break;
                    if ((status != Z_OK && status != Z_BUF_ERROR) ||
                        (status == Z_BUF_ERROR && s.avail_out > 0))
                        ok = false;
                    else
                        band->output.resize(band->output.size() * 2); // out of room: more
                }
                band->output.resize(produced);
                deflateEnd(&s);
                band->adler = static_cast<std::uint32_t>(
                    adler32(1, band->input.data(), static_cast<uInt>(band->input.size())));
            }
        } catch (...) {
            ok = false;
        }
        band->input = {};
        band->dictionary = {};
        {
            const std::lock_guard lock(FMutex);
            band->ok = ok;
            band->done = true;
        }
        FDone.notify_all();
    }
}

void ParallelDeflateWriter::Put(const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const std::size_t take = std::min(length, FOutputSize - FOutput.size());
        FOutput.insert(FOutput.end(), data, data + take);
        data += take;
        length -= take;
        if (FOutput.size() == FOutputSize) {
            if (FFlush) FFlush(FOutput.data(), FOutput.size());
            FOutput.clear();
        }
    }
}

bool ParallelDeflateWriter::HandOnDone(bool wait) {
    for (;;) {
        std::shared_ptr<Band> band;
        {
            std::unique_lock lock(FMutex);
            if (FInFlight.empty()) return !FFailed;
            if (wait) FDone.wait(lock, [this] { return FInFlight.front()->done; });
            if (!FInFlight.front()->done) return !FFailed;
            band = std::move(FInFlight.front());
            FInFlight.pop_front();
        }
        if (!band->ok) FFailed = true;
        if (FFailed) continue; // nothing after a failed band can make a valid stream
        if (!FHeaderSent) {
            std::uint8_t header[2];
            ZlibHeader(FLevel, header);
            Put(header, 2);
            FHeaderSent = true;
        }
        Put(band->output.data(), band->output.size());
        FAdler = static_cast<std::uint32_t>(
            adler32_combine(FAdler, band->adler, static_cast<z_off_t>(band->length)));
    }
}

void ParallelDeflateWriter::Submit(bool last) {
    auto band = std::make_shared<Band>();
    band->last = last;
    band->dictionary = FDictionary;
    // The next band's dictionary: the last 32 KiB of everything up to the end of this one.
    if (FInput.size() >= kWindow) {
        FDictionary.assign(FInput.end() - kWindow, FInput.end());
    } else {
        FDictionary.insert(FDictionary.end(), FInput.begin(), FInput.end());
        if (FDictionary.size() > kWindow) FDictionary.erase(FDictionary.begin(), FDictionary.end() - kWindow);
    }
    band->length = FInput.size();
    band->input = std::move(FInput);
    FInput = {};
    FInput.reserve(kBandBytes);
    {
        const std::lock_guard lock(FMutex);
        FQueue.push_back(band);
        FInFlight.push_back(band);
    }
    FWork.notify_one();
    HandOnDone(false);
    while (FInFlight.size() >= FMaxInFlight && !FFailed) {
        // Too much in flight: the oldest is waited for.
        std::shared_ptr<Band> oldest;
        {
            std::unique_lock lock(FMutex);
            oldest = FInFlight.front();
            FDone.wait(lock, [&] { return oldest->done; });
        }
        HandOnDone(false);
    }
}

bool ParallelDeflateWriter::Write(const std::uint8_t* data, std::size_t length) {
    if (!FReady || FFailed) return false;
    while (length > 0) {
        const std::size_t take = std::min(length, kBandBytes - FInput.size());
        FInput.insert(FInput.end(), data, data + take);
        data += take;
        length -= take;
        if (FInput.size() == kBandBytes) Submit(false);
    }
    return !FFailed;
}

void ParallelDeflateWriter::Finish() {
    if (!FReady) return;
    Submit(true);
    HandOnDone(true);
    if (!FFailed) {
        const std::uint8_t trailer[4] = {
            static_cast<std::uint8_t>(FAdler >> 24), static_cast<std::uint8_t>(FAdler >> 16),
            static_cast<std::uint8_t>(FAdler >> 8), static_cast<std::uint8_t>(FAdler)};
        Put(trailer, 4);
    }
    // No IDAT chunk is ever empty.
    if (!FOutput.empty() && FFlush) FFlush(FOutput.data(), FOutput.size());
    FOutput.clear();
    FAdler = 1;
    FDictionary.clear();
    FHeaderSent = false;
}

} // namespace korvane
