#include "cli/WriteQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "browser/EngineError.h"
#include "capture/CapturePipeline.h"
#include "imaging/Bitmap.h"
#include "platform/Errors.h"

namespace korvane {

TWriteQueue::TWriteQueue(std::int64_t budgetBytes, const IClock& clock, TWriter writer)
    : FBudget(budgetBytes), FClock(clock), FWriter(std::move(writer)) {
    if (!FWriter)
        FWriter = [](const TPageShot& shot, const TEncoding& encoding, const std::string& path,
                     std::stop_token stop) {
            TBitmap bitmap;
            DevelopAndWrite(shot, bitmap, encoding, path, stop);
        };
    FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TWriteQueue::~TWriteQueue() {
    for (auto& write : FWrites)
        write.Worker.join();
    if (FWakeFd >= 0) ::close(FWakeFd);
}

void TWriteQueue::ClearWake() {
    std::uint64_t count = 0;
    const ssize_t read = FWakeFd >= 0 ? ::read(FWakeFd, &count, sizeof count) : 0;
    (void)read;
}

void TWriteQueue::Add(TPicture picture) {
    FWaiting.push_back(std::move(picture));
    BeginWaiting();
}

void TWriteQueue::BeginWaiting() {
    while (!FWaiting.empty() && (FWrites.empty() || FBytesInUse + FWaiting.front().Bytes <= FBudget)) {
        TPicture next = std::move(FWaiting.front());
        FWaiting.pop_front();
        Begin(std::move(next));
    }
}

void TWriteQueue::Begin(TPicture picture) {
    // The outcome is settled, and the bitmap freed, before the wake fd tells the loop, so the loop finds the
    // write done when it looks. What went wrong is told as a text: no exception crosses the threads.
    std::promise<std::pair<std::string, bool>> done;
    TWrite write{picture.Job, done.get_future(), {}, picture.Bytes, FClock.Now()};
    write.Worker =
        std::thread([this, picture = std::move(picture), done = std::move(done), stop = FStop]() mutable {
            std::string error;
            bool lost = false;
            try {
                FWriter(*picture.Shot, picture.Encoding, picture.Path, stop);
            } catch (const EEngineError& e) {
                error = e.what();
                lost = true;
            } catch (const std::exception& e) {
                error = MessageWithCause(e);
            } catch (...) {
                error = "unknown error";
            }
            done.set_value({std::move(error), lost});
            picture.Shot.reset();
            const std::uint64_t one = 1;
            const ssize_t written = FWakeFd >= 0 ? ::write(FWakeFd, &one, sizeof one) : 0;
            (void)written; // a full counter has woken the loop already
        });
    FBytesInUse += write.Bytes;
    FWrites.push_back(std::move(write));
}

std::vector<TWriteQueue::TWritten> TWriteQueue::TakeWritten() {
    std::vector<TWritten> written;
    for (auto it = FWrites.begin(); it != FWrites.end();) {
        if (it->Done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            ++it;
            continue;
        }
        auto [error, lost] = it->Done.get();
        TWritten outcome{it->Job, std::move(error), lost,
                         std::chrono::duration<double>(FClock.Now() - it->Begun).count()};
        it->Worker.join(); // it has no more to do than to end
        FBytesInUse -= it->Bytes;
        it = FWrites.erase(it);
        written.push_back(std::move(outcome));
    }
    // Only now: beginning a write adds to FWrites.
    BeginWaiting();
    return written;
}

void TWriteQueue::Cancel() {
    FWaiting.clear();
    for (auto& write : FWrites)
        write.Worker.join();
    FWrites.clear();
    FBytesInUse = 0;
}

} // namespace korvane
