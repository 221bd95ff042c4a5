#pragma once
// Pictures on their way into files: each is put into a bitmap and written on a worker thread of its own while
// the next pages load, in the order the pictures were taken and as far as the memory budget lets their
// bitmaps be in memory at once (one always goes when nothing else is in memory, however large). A written
// file is told through an eventfd, so that the run's loop wakes for it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/Encoding.h"
#include "platform/Clock.h"

namespace korvane {

class TPageShot;

class TWriteQueue {
public:
    using TTime = IClock::TTime;
    // Puts the picture into a bitmap and writes the file; throws what went wrong. Runs on a worker thread;
    // a stop gives the file up (no part of it stays).
    using TWriter = std::function<void(const TPageShot& shot, const TEncoding& encoding,
                                       const std::string& path, std::stop_token stop)>;
    struct TPicture {
        std::size_t Job = 0;
        std::shared_ptr<const TPageShot> Shot;
        TEncoding Encoding;
        std::string Path;
        std::int64_t Bytes = 0; // of the picture's bitmap and its encoder (PictureBytes)
    };
    struct TWritten {
        std::size_t Job = 0;
        std::string Error;        // empty when the file was written
        bool PictureLost = false; // what failed was the picture's coming from the browser, not the file
        double Seconds = 0;       // from the start of the file's making
    };

    // The default writer develops the picture and writes it (DevelopAndWrite).
    TWriteQueue(std::int64_t budgetBytes, const IClock& clock, TWriter writer = {});
    ~TWriteQueue(); // waits for the writers
    TWriteQueue(const TWriteQueue&) = delete;
    TWriteQueue& operator=(const TWriteQueue&) = delete;

    // Writes from now on end early when the token is stopped.
    void SetStopToken(std::stop_token stop) { FStop = std::move(stop); }
    // Readable when a write has ended; -1 when there is no eventfd (then look often).
    int WakeFd() const { return FWakeFd; }
    // Reads the wake fd (its count does not matter: TakeWritten looks at every write).
    void ClearWake();

    // Queues the picture; it is begun at once when there is room.
    void Add(TPicture picture);
    // The writes that have ended since last asked, each once; queued pictures that now have room begin.
    std::vector<TWritten> TakeWritten();
    // Pictures being written, and those waiting for room.
    std::size_t Writing() const { return FWrites.size(); }
    std::size_t Waiting() const { return FWaiting.size(); }
    std::int64_t BytesInUse() const { return FBytesInUse; }
    // Gives up what waits and waits for the writers (which give up their files when the token is stopped).
    void Cancel();

private:
    struct TWrite {
        std::size_t Job = 0;
        std::future<std::pair<std::string, bool>>
            Done; // what went wrong (or nothing), and if the picture was lost
        std::thread Worker;
        std::int64_t Bytes = 0;
        TTime Begun;
    };
    void BeginWaiting();
    void Begin(TPicture picture);

    const std::int64_t FBudget;
    const IClock& FClock;
    TWriter FWriter;
    std::stop_token FStop;
    std::vector<TWrite> FWrites;
    std::deque<TPicture> FWaiting;
    std::int64_t FBytesInUse = 0;
    int FWakeFd = -1;
};

} // namespace korvane
